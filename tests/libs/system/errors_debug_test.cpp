// Error controls, debug output and constants by name.
#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/services/command_services.h"
#include "core/startup/startup.h"
#include "core/vm/error_hooks.h"
#include "display/events.h"
#include "libs/string/string_library.h"
#include "system_fixture.h"

namespace {

class ErrorCommands : public SystemLibraryTest {
protected:
    void TearDown() override
    {
        SetTags(nullptr, {{TAG_EXITONERROR, 1}});
        Startup.noDebug = 0;
        SystemLibraryTest::TearDown();
    }
};

struct HandlerCall { int calls = 0; std::vector<Value> args; };
HandlerCall handlerCall;

uint32_t RecordingHandler(VmState* vm)
{
    ++handlerCall.calls;
    handlerCall.args.clear();
    for (int i = 1; i <= VmGetTop(vm); ++i)
        handlerCall.args.push_back(SystemLibraryTest::Read(vm, i));
    return 0;
}

uint32_t FailingCommand(VmState*)
{
    SetErrorText("thing");
    return ERR_FINDCST;
}

uint32_t HandlerThatFails(VmState*) { return ERR_WRONGUSAGE; }

// The player's error command test runs a handler through; here it is
// removed, and a handler's own error is not handled again.
TEST_F(ErrorCommands, RaiseOnErrorHandlerIsRemovedAndNotReentered)
{
    handlerCall = {};
    ASSERT_EQ(Call("RaiseOnError", {}, nullptr, {PushFunction(RecordingHandler)}), 0u);
    ASSERT_EQ(Call("RaiseOnError", {Nil{}}), 0u);
    auto fail = [&] {
        VmSetTop(vm, 0);
        VmPushNativeFunction(vm, FailingCommand);
        return VmPCall(vm, 0, 0, 0);
    };
    EXPECT_EQ(fail(), static_cast<uint32_t>(ERR_FINDCST));
    EXPECT_EQ(handlerCall.calls, 0);
    ASSERT_EQ(Call("RaiseOnError", {}, nullptr, {PushFunction(HandlerThatFails)}), 0u);
    EXPECT_EQ(fail(), static_cast<uint32_t>(ERR_WRONGUSAGE));
    EXPECT_EQ(SystemState.insideErrorHandler, 0u);
}

TEST_F(ErrorCommands, ExitOnErrorAndRaiseOnErrorExcludeEachOther)
{
    int f = PushFunction(RecordingHandler);
    ASSERT_EQ(Call("RaiseOnError", {}, nullptr, {f}), 0u);
    // Refused; the refusal itself goes to the installed handler.
    handlerCall = {};
    EXPECT_EQ(Call("ExitOnError", {0.0}), 0u);
    EXPECT_EQ(CoreTags.exitOnError, 1u);
    ASSERT_EQ(handlerCall.calls, 1);
    EXPECT_EQ(handlerCall.args[0], Value{static_cast<double>(ERR_WRONGUSAGE)});
    EXPECT_EQ(CoreTags.errorHandlerNesting, 0);
    ASSERT_EQ(Call("RaiseOnError", {0.0}), 0u);  // anything but a function removes it
    ASSERT_EQ(Call("ExitOnError", {0.0}), 0u);
    EXPECT_EQ(CoreTags.exitOnError, 0u);
    EXPECT_EQ(Call("RaiseOnError", {}, nullptr, {f}), static_cast<uint32_t>(ERR_WRONGUSAGE));
}

TEST_F(ErrorCommands, AssertEndAndUnknownSwitches)
{
    EXPECT_EQ(One("Assert", {5.0}), Value{5.0});
    EXPECT_EQ(One("Assert", {std::string("")}), Value{std::string("")});
    EXPECT_EQ(Call("Assert", {0.0}), static_cast<uint32_t>(ERR_ASSERTFAILED));
    EXPECT_EQ(Call("Assert", {Nil{}}), static_cast<uint32_t>(ERR_ASSERTFAILED));
    EXPECT_EQ(Call("LegacyControl", {std::string("other"), 1.0}), static_cast<uint32_t>(ERR_UNKNOWNTAG));
    EXPECT_STREQ(errorArgText, "other");
    EXPECT_EQ(Call("End", {}), static_cast<uint32_t>(ERR_USERABORT));
    EXPECT_EQ(SystemState.quit, 1u);
    Startup.noDebug = 1;
    EXPECT_EQ(Call("Assert", {0.0}), 0u);
}

TEST_F(ErrorCommands, DebugPrintJoinsArgumentsThroughToString)
{
    OpenStringLibrary(vm);
    testing::internal::CaptureStdout();
    ASSERT_EQ(Call("DebugPrint", {std::string("100%"), 1.5, Nil{}}), 0u);
    ASSERT_EQ(Call("DebugPrintNR", {std::string("a"), std::string("%s%d")}), 0u);
    ASSERT_EQ(Call("DebugStr", {std::string("!")}), 0u);
    Startup.noDebug = 1;
    ASSERT_EQ(Call("DebugVal", {std::string("hidden")}), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "100% 1.5 Nil\na %s%d!\n");
    EXPECT_EQ(Call("DebugPrint", {}), static_cast<uint32_t>(ERR_MISSINGPARAMTR));
}

TEST_F(ErrorCommands, ConstantsByNameAreCheckedWholeBeforeTheLookup)
{
    EXPECT_EQ(One("GetConstant", {std::string("#ERR_MEM")}), Value{1000.0});
    EXPECT_EQ(One("GetConstant", {std::string("#ticks")}), Value{2.0});
    EXPECT_EQ(One("GetConstant", {std::string("#AMIGAICON_SETPOSITION")}), Value{std::string("::setpos")});
    EXPECT_EQ(Call("GetConstant", {std::string("#NO_SUCH_THING")}), static_cast<uint32_t>(ERR_FINDCST));
    EXPECT_STREQ(errorArgText, "NO_SUCH_THING");
    EXPECT_EQ(Call("GetConstant", {std::string("#ERR$MEM!")}), static_cast<uint32_t>(ERR_FINDCST));

    // A bad character anywhere in the name is a bad name, even when the name
    // up to it is a constant or is unknown; only a name of good characters
    // is looked up, and only one that starts with '#'.
    for (const std::string& name : {std::string("#1X"), std::string("#TICKS+1"), std::string("#ERR-MEM"),
                                    std::string("#NO-SUCH"), std::string("#"), std::string("#_X\xe4"),
                                    "#" + std::string(70, 'A') + "-"})
        EXPECT_EQ(Call("GetConstant", {name}), static_cast<uint32_t>(ERR_SYNTAXERROR)) << name;
    for (const char* name : {"TICKS", "ERR-MEM"})
        EXPECT_EQ(Call("GetConstant", {std::string(name)}), static_cast<uint32_t>(ERR_WRONGUSAGE)) << name;
    // Names are read for 64 characters: a longer one is no constant's,
    // though it starts with one.
    EXPECT_EQ(Call("GetConstant", {"#TICKS" + std::string(60, 'X')}), static_cast<uint32_t>(ERR_FINDCST));
    EXPECT_EQ(std::string(errorArgText), "TICKS" + std::string(59, 'X'));  // as far as it was read
}

}  // namespace
