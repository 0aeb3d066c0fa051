// The debug interface: names in type errors, the information of each level
// and its options. (Level walking and call names are also exercised through
// the error report's view in tests/core.)
#include <string>
#include <vector>

#include "core/io/error_codes.h"
#include "core/vm/debug.h"
#include "script_fixture.h"

namespace {

std::string ErrorText;
std::vector<VmDebugRecord> Seen;
std::vector<std::string> Sources;

uint32_t Probe(VmState* s)
{
    Seen.clear();
    Sources.clear();
    VmDebugRecord r = {};
    for (int level = 0; VmGetStack(s, level, &r); level++) {
        EXPECT_EQ(VmGetInfo(s, "Slunf", &r), 1);
        EXPECT_EQ(VmType(s, -1), r.callIndex == 0 ? VM_TNIL : VM_TFUNCTION) << "level " << level;
        VmPop(s, 1);
        Sources.push_back(r.source);
        Seen.push_back(r);
    }
    return 0;
}

}  // namespace

class DebugTest : public ScriptTest {
protected:
    void SetUp() override
    {
        ScriptTest::SetUp();
        ErrorText.clear();
        VmHooks.setErrorText = [](const char* text) { ErrorText = text; };
        SetGlobal("probe", Probe);
    }
};

TEST_F(DebugTest, TypeErrorsNameTheVariable)
{
    struct Case {
        const char* what;
        const char* code;
        uint32_t status;
        const char* text;
    };
    const Case cases[] = {
        {"missing global", "GETGLOBAL r0, \"foo\"\nCALL r0, 1, 1\n", ERR_FUNCDECLA, "foo()"},
        {"nil local", ".local t 0 9\nLOADNIL r0, r0\nGETTABLE r1, r0, \"x\"\n", ERR_TABLEDECLA, "t{}"},
        {"field", "NEWTABLE r0, 0, 1\nSETTABLE r0, \"f\", #5\nGETTABLE r1, r0, \"f\"\nCALL r1, 1, 1\n",
         ERR_FUNCDECLA, "f()"},
        {"method", "NEWTABLE r0, 0, 1\nSETTABLE r0, \"m\", #5\nSELF r1, r0, \"m\"\nCALL r1, 2, 1\n", ERR_FUNCDECLA,
         "m()"},
        {"moved global", "GETGLOBAL r0, \"bar\"\nMOVE r2, r0\nGETTABLE r1, r2, #1\n", ERR_TABLEDECLA, "bar{}"},
        {"field by a register key", "NEWTABLE r0, 0, 1\nSETTABLE r0, #1, #5\nLOADNUM r2, 1\nGETTABLE r1, r0, r2\n"
         "CALL r1, 1, 1\n", ERR_FUNCDECLA, "?()"},
        {"constant", "LOADK r0, #5\nCALL r0, 1, 1\n", ERR_FUNCDECLA, "?\?()"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ErrorText.clear();
        EXPECT_EQ(Run(std::string(c.code) + "RETURN r0, 1\n"), c.status);
        EXPECT_EQ(ErrorText, c.text);
    }
}

TEST_F(DebugTest, LevelsDescribeNativesScriptsAndMain)
{
    ASSERT_EQ(Run(".function main source=\"@scripts/app.qm\"\n.line 3\nCLOSURE r0, f\nCALL r0, 1, 1\nRETURN r0, 1\n"
                  ".function f line=10\n.upval x = r0\n"
                  ".line 12\nGETGLOBAL r0, \"probe\"\nCALL r0, 1, 1\nRETURN r0, 1\n.end\n.end\n"),
              0u);
    ASSERT_EQ(Seen.size(), 3u);
    const VmDebugRecord& native = Seen[0];
    EXPECT_EQ(Sources[0], "=[C]");
    EXPECT_STREQ(native.shortSource, "[C]");
    EXPECT_EQ(native.lineDefined, -1);
    const VmDebugRecord& f = Seen[1];
    EXPECT_EQ(f.lineDefined, 10);
    EXPECT_EQ(f.nups, 1);
    EXPECT_EQ(f.name, nullptr) << "called from a register no name describes, and no global";
    EXPECT_STREQ(f.nameWhat, "");
    const VmDebugRecord& main = Seen[2];
    EXPECT_EQ(main.lineDefined, 0);
    EXPECT_EQ(Sources[2], "@scripts/app.qm");
    EXPECT_STREQ(main.shortSource, "scripts/app.qm");
    // Without line information the line is 0.
    ASSERT_EQ(Run("GETGLOBAL r0, \"probe\"\nCALL r0, 1, 1\nRETURN r0, 1\n"), 0u);
    ASSERT_EQ(Seen.size(), 2u);
    EXPECT_EQ(Seen[1].currentLine, 0);
}

TEST_F(DebugTest, InfoOfAFunctionOnTheStack)
{
    EXPECT_EQ(RunNative([](VmState* s) {
        VmDebugRecord r = {};
        VmPushNativeFunction(s, Probe);
        ASSERT_EQ(VmGetInfo(s, ">Sf", &r), 1);
        EXPECT_STREQ(r.what, "C");
        EXPECT_EQ(VmGetTop(s), 1) << "popped, then pushed again by 'f'";
        EXPECT_EQ(VmGetNativeFunction(s, 1), Probe);
        EXPECT_EQ(VmGetInfo(s, ">S", &r), 1);
        EXPECT_EQ(VmGetTop(s), 0);
        VmPushNativeFunction(s, Probe);
        EXPECT_EQ(VmGetInfo(s, ">Sq", &r), 0) << "unknown option";
        // The running native's own level.
        ASSERT_EQ(VmGetStack(s, 0, &r), 1);
        EXPECT_EQ(VmGetInfo(s, "l", &r), 1);
        EXPECT_EQ(r.currentLine, -1);
        EXPECT_EQ(VmGetStack(s, 1, &r), 0) << "nothing called the protected native";
        EXPECT_EQ(VmGetStack(s, -1, &r), 0);
    }),
              0u);
    EXPECT_EQ(RunNative([](VmState* s) {
        VmDebugRecord r = {};
        VmPushNumber(s, 1);
        VmGetInfo(s, ">S", &r);
    }),
              static_cast<uint32_t>(ERR_FUNCEXPECTED));
}
