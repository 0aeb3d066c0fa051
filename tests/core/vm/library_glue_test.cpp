// Library glue: command names in any case, constants, references and the
// argument readers' errors.
#include "core/vm/library_glue.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/vm_fixture.h"

namespace {

using LibraryGlue = VmTest;

uint32_t AnswerSeven(VmState* vm)
{
    VmPushNumber(vm, 7);
    return 1;
}

TEST_F(LibraryGlue, CommandsAreStoredUnderLowerCaseNames)
{
    const CommandTableEntry commands[] = {{"PlayMusic", AnswerSeven}, {"Skipped", nullptr}, {nullptr, nullptr}};
    VmPushValue(vm, VM_GLOBALSINDEX);
    EXPECT_EQ(VmRegisterLibrary(vm, nullptr, commands, 0), 1);
    EXPECT_EQ(VmGetTop(vm), 0);
    VmPushString(vm, "playmusic");
    VmGetTable(vm, VM_GLOBALSINDEX);
    EXPECT_EQ(VmType(vm, -1), VM_TFUNCTION);
    EXPECT_EQ(VmCall(vm, 0, 1), 0u);
    EXPECT_EQ(VmGetNumber(vm, -1), 7);
    VmPushString(vm, "skipped");
    VmGetTable(vm, VM_GLOBALSINDEX);
    EXPECT_EQ(VmType(vm, -1), VM_TNIL);

    const CommandTableEntry none[] = {{"Nothing", nullptr}, {nullptr, nullptr}};
    EXPECT_EQ(VmRegisterLibrary(vm, "lib", none, 0), 0);
    VmSetTop(vm, 0);
    // Upvalues are shared by every command.
    const CommandTableEntry shared[] = {
        {"First", [](VmState* s) -> uint32_t { VmPushValue(s, VmUpvalueIndex(1)); return 1; }},
        {"SECOND", [](VmState* s) -> uint32_t { VmPushValue(s, VmUpvalueIndex(2)); return 1; }},
        {nullptr, nullptr}};
    VmPushNumber(vm, 10);
    VmPushNumber(vm, 20);
    ASSERT_EQ(VmRegisterLibrary(vm, "Lib", shared, 2), 1);
    EXPECT_EQ(VmGetTop(vm), 0);
    for (auto [name, value] : {std::pair{"first", 10}, std::pair{"second", 20}}) {
        VmPushString(vm, "Lib");
        VmGetTable(vm, VM_GLOBALSINDEX);
        VmPushString(vm, name);
        VmGetTable(vm, -2);
        ASSERT_EQ(VmCall(vm, 0, 1), 0u);
        EXPECT_EQ(VmGetNumber(vm, -1), value) << name;
        VmSetTop(vm, 0);
    }
}

TEST_F(LibraryGlue, ConstantsLabelsAndStringsAreFoundByName)
{
    const ConstantTableEntry builtIn[] = {{"TICKS", nullptr, 2}, {"NAME", "text", 0}, {nullptr, nullptr, 0}};
    const ConstantTableEntry user[] = {{"Plugin_Value", nullptr, 9}, {nullptr, nullptr, 0}};
    VmRegisterConstants(vm, builtIn, 0);
    VmRegisterConstants(vm, user, 1);
    double number = -1;
    const char* text = "unset";
    EXPECT_EQ(VmFindConstant(vm, "PLUGIN_VALUE", &number, &text), 1);
    EXPECT_EQ(number, 9);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(VmFindConstant(vm, "missing", &number, &text), 0);
    EXPECT_EQ(VmLookupConstantTable(vm, "userconstants", "ticks", &number, &text), 0);
    EXPECT_EQ(VmGetTop(vm), 0);
    EXPECT_EQ(VmFindLabel(vm, "START"), -1) << "no labels table";
    VmPushString(vm, "labels");
    VmNewTable(vm);
    VmPushString(vm, "start");
    VmPushNumber(vm, 17);
    VmRawSet(vm, -3);
    VmPushString(vm, "odd");
    VmPushString(vm, "text");
    VmRawSet(vm, -3);
    VmRawSet(vm, VM_REGISTRYINDEX);
    EXPECT_EQ(VmFindLabel(vm, "START"), 17);
    EXPECT_EQ(VmFindLabel(vm, "odd"), -1);
    EXPECT_EQ(VmFindLabel(vm, "missing"), -1);

    const char* const list[] = {"one", "two", "Two", nullptr};
    EXPECT_EQ(VmFindString("two", list), 1);
    EXPECT_EQ(VmFindString("Two", list), 2);
    EXPECT_EQ(VmFindString("three", list), -1);
    EXPECT_EQ(VmGetTop(vm), 0);
}

TEST_F(LibraryGlue, ReferencesStartAtThreeAndAreReused)
{
    VmNewTable(vm);
    VmPushString(vm, "a");
    int32_t first = VmRefValue(vm, 1);
    EXPECT_EQ(first, 3);
    VmPushString(vm, "b");
    EXPECT_EQ(VmRefValue(vm, 1), 4);
    VmPushNil(vm);
    EXPECT_EQ(VmRefValue(vm, 1), VM_NOREF);
    VmUnrefValue(vm, 1, first);
    // Reserved numbers are no references and must not join the free list.
    VmUnrefValue(vm, 1, 1);
    VmUnrefValue(vm, 1, 0);
    VmUnrefValue(vm, 1, VM_NOREF);
    VmPushString(vm, "c");
    EXPECT_EQ(VmRefValue(vm, 1), 3);
    VmPushString(vm, "d");
    EXPECT_EQ(VmRefValue(vm, 1), 5);
    VmPushRef(vm, 1, 4);
    EXPECT_STREQ(VmGetString(vm, -1), "b");
    VmPushRef(vm, 1, 3);
    EXPECT_STREQ(VmGetString(vm, -1), "c");
    EXPECT_EQ(VmGetTop(vm), 3);
}

std::string MessageOf(uint32_t code)
{
    char text[256];
    GetErrorText(code, text, sizeof text);
    return text;
}

TEST_F(LibraryGlue, ReaderErrorsCarryTheirCodeAndPlace)
{
    // Arguments: 1 a table, 2 a function, 3 the text "x", 4 nil.
    struct Case {
        const char* what;
        std::function<void(VmState*)> read;
        uint32_t code;
        const char* message;
    };
    const Case cases[] = {
        {"number", [](VmState* s) { VmCheckNumber(s, 1); }, ERR_NUMEXPECTED, "Number expected in argument 1!"},
        {"number, none", [](VmState* s) { VmCheckNumber(s, 6); }, ERR_NUMEXPECTED, "Number expected in argument 6!"},
        {"integer", [](VmState* s) { VmCheckInteger(s, 3); }, ERR_NUMEXPECTED, "Number expected in argument 3!"},
        {"string", [](VmState* s) { VmCheckString(s, 2, nullptr); }, ERR_STREXPECTED, "String expected in argument 2!"},
        {"table", [](VmState* s) { VmCheckTable(s, 4); }, ERR_TABEXPECTED, "Table expected in argument 4!"},
        {"function", [](VmState* s) { VmCheckFunction(s, 1); }, ERR_FUNCEXPECTED, "Function expected in argument 1!"},
        {"userdata", [](VmState* s) { VmCheckUserdata(s, 3); }, ERR_UDEXPECTED, "Userdata expected in argument 3!"},
        {"type number", [](VmState* s) { VmCheckType(s, 4, VM_TNUMBER); }, ERR_NUMEXPECTED, nullptr},
        {"type string", [](VmState* s) { VmCheckType(s, 4, VM_TSTRING); }, ERR_STREXPECTED, nullptr},
        {"type table", [](VmState* s) { VmCheckType(s, 2, VM_TTABLE); }, ERR_TABEXPECTED, nullptr},
        {"type function", [](VmState* s) { VmCheckType(s, 1, VM_TFUNCTION); }, ERR_FUNCEXPECTED, nullptr},
        {"type thread", [](VmState* s) { VmCheckType(s, 1, VM_TTHREAD); }, ERR_UDEXPECTED, nullptr},
        {"optional", [](VmState* s) { VmOptNumber(s, 3, 1); }, ERR_NUMEXPECTED, "Number expected in argument 3!"},
        {"field number", [](VmState* s) { VmCheckTableFieldNumber(s, 3, "width"); }, ERR_NUMTABLEARG,
         "Number expected in table argument \"width\"!"},
        {"field string", [](VmState* s) { VmCheckTableFieldString(s, 1, nullptr, "title"); }, ERR_STRTABLEARG,
         "String expected in table argument \"title\"!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VmSetTop(vm, 0);
        uint32_t status = RunNative([&](VmState* s) {
            VmNewTable(s);
            VmPushNativeFunction(s, AnswerSeven);
            VmPushString(s, "x");
            VmPushNil(s);
            c.read(s);
        });
        EXPECT_EQ(status, c.code);
        if (c.message) {
            EXPECT_EQ(MessageOf(status), c.message);
        }
    }
}

TEST_F(LibraryGlue, ReadersConvertWhatTheyAccept)
{
    EXPECT_EQ(RunNative([](VmState* s) {
        VmPushNil(s);
        VmPushString(s, " 12 ");
        VmPushNumber(s, -2.7);
        VmPushNumber(s, 1.5);
        VmPushLightUserdata(s, s);
        EXPECT_EQ(VmCheckNumber(s, 1), 0);
        EXPECT_EQ(VmCheckNumber(s, 2), 12);
        EXPECT_EQ(VmCheckInteger(s, 3), -2);
        EXPECT_EQ(VmOptNumber(s, 1, 5), 0) << "an explicit nil is no absent argument";
        EXPECT_EQ(VmOptInteger(s, 9, 5), 5);
        size_t length = 99;
        EXPECT_STREQ(VmCheckString(s, 4, &length), "1.5");
        EXPECT_EQ(length, 3u);
        EXPECT_EQ(VmType(s, 4), VM_TSTRING);
        EXPECT_STREQ(VmCheckString(s, 1, &length), "");
        EXPECT_EQ(length, 0u);
        EXPECT_EQ(VmOptString(s, 9, nullptr, &length), nullptr);
        EXPECT_EQ(length, 0u);
        EXPECT_STREQ(VmOptString(s, 9, "dflt", &length), "dflt");
        EXPECT_EQ(length, 4u);
        EXPECT_EQ(VmCheckUserdata(s, 5), s);
        EXPECT_EQ(VmCheckTableFieldInteger(s, 3, "f"), -2);
        uint32_t code = 1;
        EXPECT_EQ(VmToNumberOrCode(s, 2, &code), 12);
        EXPECT_EQ(code, 0u);
        VmToNumberOrCode(s, 5, &code);
        EXPECT_EQ(code, static_cast<uint32_t>(ERR_NUMCALLBACK));
        EXPECT_STREQ(VmToStringOrCode(s, 3, &code), "-2.7");
        EXPECT_EQ(code, 0u);
        EXPECT_EQ(VmToStringOrCode(s, 5, &code), nullptr);
        EXPECT_EQ(code, static_cast<uint32_t>(ERR_STRCALLBACK));
    }),
              0u);
}

TEST_F(LibraryGlue, NamedMetatablesAndMetaFields)
{
    EXPECT_EQ(VmNewNamedMetatable(vm, "Widget"), 1);
    VmPushString(vm, "__tostring");
    VmPushNativeFunction(vm, [](VmState* s) -> uint32_t { VmPushNumber(s, *static_cast<int*>(VmGetUserdata(s, 1)) * 2); return 1; });
    VmRawSet(vm, -3);
    EXPECT_EQ(VmNewNamedMetatable(vm, "Widget"), 0);
    EXPECT_TRUE(VmCompareRawEqual(vm, -1, -2));
    VmSetTop(vm, 0);

    *static_cast<int*>(VmNewUserdata(vm, sizeof(int))) = 21;  // 1
    VmGetNamedMetatable(vm, "Widget");
    VmSetMetatable(vm, 1);
    VmNewUserdata(vm, sizeof(int));  // 2: no metatable
    EXPECT_NE(VmCheckNamedUserdata(vm, 1, "Widget"), nullptr);
    EXPECT_EQ(VmCheckNamedUserdata(vm, 2, "Widget"), nullptr);
    EXPECT_EQ(VmCheckNamedUserdata(vm, 1, "Other"), nullptr);

    EXPECT_EQ(VmGetMetaField(vm, 2, "__tostring"), 0);
    EXPECT_EQ(VmGetMetaField(vm, 1, "__missing"), 0);
    EXPECT_EQ(VmGetTop(vm), 2);
    EXPECT_EQ(VmGetMetaField(vm, 1, "__tostring"), 1);
    EXPECT_EQ(VmType(vm, -1), VM_TFUNCTION);
    VmPop(vm, 1);
    EXPECT_EQ(VmCallMetaField(vm, 1, "__tostring"), 1);
    EXPECT_EQ(VmGetNumber(vm, -1), 42);
    EXPECT_EQ(VmCallMetaField(vm, 2, "__tostring"), 0);
    EXPECT_EQ(VmGetTop(vm), 3);
}

TEST_F(LibraryGlue, BuilderResultEqualsThePlainConcatenation)
{
    // A megabyte from pieces of every size: bytes, texts, stack values
    // shorter and longer than the inline buffer, numbers.
    std::string expected;
    VmStringBuilder b;
    VmBufferInit(vm, &b);
    for (int i = 0; expected.size() < (1u << 20); i++) {
        switch (i % 5) {
        case 0: {
            std::string piece(static_cast<size_t>(i % 37), static_cast<char>('a' + i % 26));
            VmBufferAddBytes(&b, piece.data(), piece.size());
            expected += piece;
            break;
        }
        case 1:
            VmBufferAddString(&b, "text;");
            expected += "text;";
            break;
        case 2: {
            std::string piece(static_cast<size_t>(i % 3000), static_cast<char>('0' + i % 10));
            piece += '\0';  // zero bytes pass through
            VmPushLString(vm, piece.data(), piece.size());
            VmBufferAddValue(&b);
            expected += piece;
            break;
        }
        case 3:
            VmPushNumber(vm, i);
            VmBufferAddValue(&b);
            expected += std::to_string(i);
            break;
        default: {
            char* area = VmBufferPrepare(&b);
            int n = std::snprintf(area, VM_BUFFER_SIZE, "<%d>", i);
            VmBufferAddSize(&b, static_cast<size_t>(n));
            expected += "<" + std::to_string(i) + ">";
            break;
        }
        }
        ASSERT_LT(VmGetTop(vm), 40) << "the pieces are merged as they come";
    }
    VmBufferPushResult(&b);
    ASSERT_EQ(VmGetTop(vm), 1);
    size_t length = VmGetStringLength(vm, 1);
    ASSERT_EQ(length, expected.size());
    EXPECT_EQ(std::string(VmGetString(vm, 1), length), expected);

    VmStringBuilder empty;
    VmBufferInit(vm, &empty);
    VmBufferPushResult(&empty);
    EXPECT_EQ(VmGetStringLength(vm, -1), 0u);
}

TEST_F(LibraryGlue, TableSizesFollowFieldNThenTheSizesTable)
{
    VmNewTable(vm);  // 1: counted
    for (int i = 1; i <= 4; i++) {
        VmPushNumber(vm, i);
        VmRawSetI(vm, 1, i);
    }
    VmPushString(vm, "n");
    VmPushString(vm, "not a number");
    VmRawSet(vm, 1);
    EXPECT_EQ(VmGetTableSize(vm, 1), 4);
    VmSetTableSize(vm, 1, 9);
    EXPECT_EQ(VmGetTableSize(vm, 1), 9) << "kept in the sizes table";
    VmPushString(vm, "n");
    VmRawGet(vm, 1);
    EXPECT_STREQ(VmGetString(vm, -1), "not a number");
    VmPop(vm, 1);

    VmNewTable(vm);  // 2: no "n" counts as 0 and is written
    VmPushNumber(vm, 1);
    VmRawSetI(vm, 2, 1);
    EXPECT_EQ(VmGetTableSize(vm, 2), 0);
    VmSetTableSize(vm, 2, 5);
    VmPushString(vm, "n");
    VmRawGet(vm, 2);
    EXPECT_EQ(VmGetNumber(vm, -1), 5);
    VmPop(vm, 1);
    EXPECT_EQ(VmGetTableSize(vm, -1), 5);

    VmGetSizesTable(vm);
    ASSERT_EQ(VmGetMetatable(vm, -1), 1);
    VmPushString(vm, "__mode");
    VmRawGet(vm, -2);
    EXPECT_STREQ(VmGetString(vm, -1), "k");
    EXPECT_EQ(VmGetTop(vm), 5);
}

}  // namespace
