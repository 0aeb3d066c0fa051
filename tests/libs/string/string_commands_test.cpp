// The string commands as scripts call them, through the VM.
#include "libs/string/string_library.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "core/io/error_codes.h"
#include "core/vm/vm.h"
#include "libs/library_fixture.h"

using namespace std::string_literals;

namespace {

using namespace testcalls;

class StringCommands : public CommandTest {
protected:
    void SetUp() override { OpenVm(OpenStringLibrary); }
    void TearDown() override { VmCloseState(vm); }
};

TEST_F(StringCommands, DocumentedResults)
{
    struct Case { const char* cmd; std::vector<Value> args; Value want; };
    const std::vector<Case> cases = {
        {"addstr", {"ab"s, "c\0d"s}, "abc\0d"s}, {"addstr", {1.5, Nil{}}, "1.5"s}, {"asc", {"A"s}, 65.0},
        {"asc", {""s}, 0.0}, {"chr", {65.0}, "A"s}, {"chr", {0.0}, ""s}, {"strlen", {"a\0b"s}, 3.0},
        {"leftstr", {"abc"s, 2.9}, "ab"s}, {"unrightstr", {"a\0b\0c"s, 2.0}, "b\0c"s},
        {"findstr", {"aXbx"s, "x"s}, 3.0}, {"lowerstr", {"\xC4" "B"s}, "\xE4" "b"s},
        {"upperstr", {"\xE4" "b"s}, "\xC4" "B"s}, {"strstr", {3.14159}, "3.14"s},
        {"hexstr", {8589934590.0}, "$FFFFFFFE"s}, {"binstr", {5.0, 7.0}, "00000101"s},
        {"tonumber", {"ff"s, 16.0}, 255.0}, {"tonumber", {"$10"s}, 16.0}, {"tonumber", {"abc"s}, 0.0},
        {"tostring", {Nil{}}, "Nil"s}, {"tostring", {2.5}, "2.5"s},
        {"md5str", {"abc"s}, "900150983cd24fb0d6963f7d28e17f72"s},
        // Python: zlib.crc32(b"abc"), zlib.crc32(b"a\0b")
        {"crc32str", {"abc"s}, 891568578.0}, {"crc32str", {"a\0b"s}, 367556721.0},
        {"base64str", {"a\0b"s, 0.0}, "YQBi"s}, {"base64str", {"YQBi"s, 1.0}, "a\0b"s},
        {"formatstr", {"%q"s, "a\"b"s}, "\"a\\\"b\""s},
        // An address above 4 GB keeps its high bits through ToUserData and back.
        {"touserdata", {1099511627781.0}, Pointer{reinterpret_cast<void*>(uintptr_t{1099511627781})}},
        {"tonumber", {Pointer{reinterpret_cast<void*>(uintptr_t{1099511627781})}}, 1099511627781.0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(One(c.cmd, c.args), c.want) << c.cmd;
}

TEST_F(StringCommands, RefusedArgumentsAndCounts)
{
    struct Case { const char* cmd; std::vector<Value> args; uint32_t code; };
    const std::vector<Case> cases = {
        {"chr", {256.0}, ERR_WRONGUSAGE}, {"chr", {-1.0}, ERR_WRONGUSAGE},
        {"tonumber", {"10"s, 1.0}, ERR_WRONGUSAGE}, {"tonumber", {"10"s, 37.0}, ERR_WRONGUSAGE},
        {"md5str", {""s}, ERR_WRONGUSAGE}, {"crc32str", {""s}, ERR_WRONGUSAGE},
        {"formatstr", {"%d"s, "x"s}, ERR_NUMEXPECTED},
        {"patternfindstrdirect", {"abc"s, "a"s, 4.0}, ERR_WRONGUSAGE},
        {"patternreplacestr", {"abc"s, "a"s, Nil{}}, ERR_WRONGUSAGE},
        {"patternfindstrshort", {"abc"s, "(a"s}, ERR_UNFINISHEDCAPTURE},
        {"midstr", {"abc"s}, ERR_MISSINGPARAMTR}, {"strlen", {"a"s, "b"s}, ERR_TOOMANYARGS},
        {"leftstr", {"abc"s, "x"s}, ERR_NUMEXPECTED},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Call(c.cmd, c.args), c.code) << c.cmd;
}

TEST_F(StringCommands, TablesAndMultipleResults)
{
    std::vector<Value> r;
    ASSERT_EQ(Call("val", {"$1F"s}, &r), 0u);
    EXPECT_EQ(r, (std::vector<Value>{31.0, 3.0}));
    ASSERT_EQ(Call("val", {"x"s}, &r), 0u);
    EXPECT_EQ(r, (std::vector<Value>{0.0, 0.0}));

    ASSERT_EQ(Call("patternfindstrdirect", {"hello world"s, "o w"s}, &r), 0u);
    EXPECT_EQ(r, (std::vector<Value>{4.0, 6.0, "o w"s}));
    ASSERT_EQ(Call("patternfindstrdirect", {"hello"s, "xyz"s}, &r), 0u);
    EXPECT_EQ(r, (std::vector<Value>{-1.0}));
    ASSERT_EQ(Call("patternfindstrshort", {"key = value"s, "(%w+)%s*=%s*(%w+)"s}, &r), 0u);
    EXPECT_EQ(r, (std::vector<Value>{"key"s, "value"s}));
    ASSERT_EQ(Call("patternreplacestr", {"hello world"s, "o"s, "0"s, 1.0}, &r), 0u);
    EXPECT_EQ(r, (std::vector<Value>{"hell0 world"s, 1.0}));

    VmPushString(vm, "splitstr");
    VmGetTable(vm, VM_GLOBALSINDEX);
    VmPushLString(vm, ",a,\0,b,", 7);
    VmPushString(vm, ",");
    ASSERT_EQ(VmPCall(vm, 2, 2, 0), 0u);
    EXPECT_EQ(VmGetNumber(vm, 2), 5.0);
    const std::string pieces[] = {"", "a", "\0"s, "b", ""};
    for (int i = 0; i < 5; ++i) {
        VmRawGetI(vm, 1, i);
        EXPECT_EQ(std::string(VmGetString(vm, -1), VmGetStringLength(vm, -1)), pieces[i]);
        VmPop(vm, 1);
    }

    // StrToArray ends the codes with a 0, where ArrayToStr stops.
    EXPECT_EQ(One("strtoarray", {"AB"s}), Value(Array{{65, 66, 0}}));
    EXPECT_EQ(One("arraytostr", {Array{{65, 66, 0, 67}}}), Value("AB"s));
}

uint32_t UpperFirst(VmState* vm)
{
    std::string s(VmGetString(vm, 1), VmGetStringLength(vm, 1));
    if (s == "skip") {
        VmPushNil(vm);
        return 1;
    }
    s[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(s[0])));
    VmPushLString(vm, s.data(), s.size());
    return 1;
}

TEST_F(StringCommands, IteratorAndFunctionReplacement)
{
    VmSetTop(vm, 0);
    VmPushString(vm, "patternfindstr");
    VmGetTable(vm, VM_GLOBALSINDEX);
    VmPushString(vm, "one two  three");
    VmPushString(vm, "%a*");
    ASSERT_EQ(VmPCall(vm, 2, 1, 0), 0u);
    std::vector<std::string> words;
    for (int guard = 0; guard < 20; ++guard) {
        VmPushValue(vm, 1);
        ASSERT_EQ(VmPCall(vm, 0, VM_MULTRET, 0), 0u);
        if (VmGetTop(vm) == 1)
            break;
        words.emplace_back(VmGetString(vm, 2), VmGetStringLength(vm, 2));
        VmSetTop(vm, 1);
    }
    // Empty matches advance one byte, so the blanks yield empty words.
    EXPECT_EQ(words, (std::vector<std::string>{"one", "", "two", "", "", "three", ""}));

    VmSetTop(vm, 0);
    VmPushString(vm, "patternreplacestr");
    VmGetTable(vm, VM_GLOBALSINDEX);
    VmPushString(vm, "hello skip world");
    VmPushString(vm, "%a+");
    VmPushNativeFunction(vm, UpperFirst);
    ASSERT_EQ(VmPCall(vm, 3, 2, 0), 0u);
    EXPECT_STREQ(VmGetString(vm, 1), "Hello  World");
    EXPECT_EQ(VmGetNumber(vm, 2), 3.0);
}

TEST_F(StringCommands, EvalReadsItsVariablesTable)
{
    auto callWithVariables = [&](const char* expr, const std::vector<std::pair<Value, Value>>& vars) {
        VmSetTop(vm, 0);
        VmPushString(vm, "eval");
        VmGetTable(vm, VM_GLOBALSINDEX);
        VmPushString(vm, expr);
        VmNewTable(vm);
        VmPushString(vm, "variables");
        VmNewTable(vm);
        for (size_t i = 0; i < vars.size(); ++i) {
            VmNewTable(vm);
            VmPushString(vm, "name");
            PushValue(vm, vars[i].first);
            VmSetTable(vm, -3);
            VmPushString(vm, "value");
            PushValue(vm, vars[i].second);
            VmSetTable(vm, -3);
            VmRawSetI(vm, -2, static_cast<int>(i));
        }
        VmSetTable(vm, -3);
        uint32_t code = VmPCall(vm, 2, 1, 0);
        return std::pair<uint32_t, double>(code, code ? 0 : VmGetNumber(vm, 1));
    };
    EXPECT_EQ(callWithVariables("n + 1", {{"n"s, Nil{}}}), std::make_pair(0u, 1.0));
    EXPECT_EQ(callWithVariables("1", {{"2x"s, 1.0}}).first, static_cast<uint32_t>(ERR_WRONGUSAGE));
    EXPECT_EQ(callWithVariables("1", {{Nil{}, 1.0}}).first, static_cast<uint32_t>(ERR_WRONGUSAGE));
    EXPECT_EQ(callWithVariables("1", {{"v"s, "abc"s}}).first, static_cast<uint32_t>(ERR_NUMTABLEARG));
    // More variables than the handler's stack frame has free slots.
    std::vector<std::pair<Value, Value>> many;
    for (int i = 0; i < 100; ++i)
        many.emplace_back("v" + std::to_string(i), double(i));
    EXPECT_EQ(callWithVariables("v99 + v7", many), std::make_pair(0u, 106.0));
    // The text ends at its first zero byte, whatever follows it.
    for (const std::string& text : {"1 + 2\0"s, "1 + 2\0 * 10"s, "1 + 2\0)))"s})
        EXPECT_EQ(One("eval", {text}), Value{3.0}) << text.size();
    EXPECT_EQ(Call("eval", {"1 / 0"s}), static_cast<uint32_t>(ERR_ZERODIVISION));
    EXPECT_EQ(Call("eval", {"1"s, 5.0}), static_cast<uint32_t>(ERR_TABEXPECTED));
}

} // namespace
