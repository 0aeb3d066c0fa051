// The library as assembled scripts use it: errors recorded for GetLastError
// with exit-on-error off, and traced native calls.
#include "core/io/error_codes.h"
#include "core/services/command_services.h"
#include "core/services/error_report.h"
#include "core/startup/startup.h"
#include "core/vm/error_hooks.h"
#include "support/assembled_script.h"
#include "system_fixture.h"

namespace {

class SystemScripts : public SystemLibraryTest {
protected:
    void SetUp() override
    {
        SystemLibraryTest::SetUp();
        InstallErrorReportHooks();
        VmAbortFlag = 0;
    }
    void TearDown() override
    {
        SetTags(nullptr, {{TAG_EXITONERROR, 1}});
        Startup.debugOutput = 0;
        Startup.noDebug = 0;
        VmAbortFlag = 0;
        SystemLibraryTest::TearDown();
    }
};

TEST_F(SystemScripts, ErrorsAreRecordedWhenExitOnErrorIsOff)
{
    const char* script = R"(
        GETGLOBAL r0, "exitonerror"
        LOADNUM r1, 0
        CALL r0, 2, 1
        GETGLOBAL r0, "stoptimer"
        LOADNUM r1, 99
        CALL r0, 2, 1
        GETGLOBAL r0, "getlasterror"
        CALL r0, 1, 2
        GETGLOBAL r1, "getlasterror"
        CALL r1, 1, 2
        RETURN r0, 3
    )";
    // The second GetLastError still sees the code: it does not reset it.
    ASSERT_EQ(RunAssembledScript(vm, script), 0u);
    ASSERT_EQ(VmGetTop(vm), 2);
    EXPECT_EQ(VmGetNumber(vm, 1), ERR_FINDTIMER);
    EXPECT_EQ(VmGetNumber(vm, 2), ERR_FINDTIMER);
}

TEST_F(SystemScripts, DebugOutputTracesNativeCalls)
{
    Startup.noDebug = 1;  // the traced command itself prints nothing
    testing::internal::CaptureStdout();
    uint32_t status = RunAssembledScript(vm, R"(
        GETGLOBAL r0, "debugoutput"
        LOADNUM r1, 1
        CALL r0, 2, 1
        GETGLOBAL r0, "debugprint"
        LOADNIL r1, r1
        LOADK r2, #1.5
        LOADK r3, "x"
        CALL r0, 4, 1
        GETGLOBAL r0, "debugoutput"
        LOADNUM r1, 0
        CALL r0, 2, 1
        GETGLOBAL r0, "getlasterror"
        CALL r0, 1, 1
        RETURN r0, 1
    )");
    std::string printed = testing::internal::GetCapturedStdout();
    Startup.noDebug = 0;
    ASSERT_EQ(status, 0u);
    EXPECT_EQ(printed,
              "Now calling debugprint() with arguments #1=(NIL) #2=(NUMBER)1.5 #3=(STRING)\"x\" \n"
              "Now calling debugoutput() with arguments #1=(NUMBER)0 \n");
}

// The entry function is a script closure here: its answer, not only a
// native function's, ends the walk.
TEST_F(SystemScripts, ForEachCallsAScriptFunctionUntilItAnswers)
{
    ASSERT_EQ(RunAssembledScript(vm, R"(
        .function find params=2
            LOADNUM r2, 20
            EQ 1, r1, r2
            JMP found
            RETURN r0, 1
        found:
            RETURN r0, 2
        .end
            NEWTABLE r0, 0, 0
            SETTABLE r0, #0, #10
            SETTABLE r0, #1, #20
            SETTABLE r0, #2, #30
            GETGLOBAL r1, "foreachi"
            MOVE r2, r0
            CLOSURE r3, find
            CALL r1, 3, 2
            RETURN r1, 2
    )"),
              0u);
    ASSERT_EQ(VmGetTop(vm), 1);
    EXPECT_EQ(VmType(vm, 1), VM_TNUMBER);
    EXPECT_EQ(VmGetNumber(vm, -1), 1);
}

}  // namespace
