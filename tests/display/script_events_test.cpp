// Events seen from running scripts: a label handler reached through the
// interpreter's Gosub, and the line hook that pumps events while the main
// chunk runs.
#include <gtest/gtest.h>

#include "core/glue/timers.h"
#include "core/io/error_codes.h"
#include "core/services/command_services.h"
#include "core/vm/script_fixture.h"
#include "display/display.h"
#include "display/event_library.h"
#include "display/intervals.h"
#include "platform/posix/os_runloop.h"
#include "platform/posix/os_time.h"

namespace {

class ScriptEventsTest : public ScriptTest {
protected:
    void SetUp() override
    {
        ScriptTest::SetUp();
        ASSERT_EQ(InitPlatformGlue(), 0u);
        ASSERT_EQ(InitEventQueue(), 0u);
        OsTakeQuitRequest();
    }
    void TearDown() override
    {
        FreeAllDisplays(vm);
        CloseEventLibrary(vm);
        OsShutdown();
        OsTakeQuitRequest();
        VmAbortFlag = 0;
        ScriptTest::TearDown();
    }
};

// What an event command does: take the next event and hand it to its
// handler, returning what the dispatch answers.
uint32_t CheckEvent(VmState* vm)
{
    QueuedEvent* e = TakeEvent();
    if (!e) return 0;
    uint32_t result = DispatchEvent(vm, e);
    FreeQueuedEvent(e);
    return result;
}

TEST_F(ScriptEventsTest, LabelHandlerRunsAndComesBackAfterTheCall)
{
    ASSERT_EQ(OpenFirstDisplay(vm, nullptr, nullptr), 0u);
    ASSERT_EQ(InstallEventLabel(vm, "CloseWindow", 5), 0u);
    SetGlobal("checkevent", CheckEvent);
    const char* script =
        "LOADNUM r1, 0\n"                // 0
        "GETGLOBAL r0, \"checkevent\"\n"  // 1
        "CALL r0, 1, 1\n"                // 2
        "ADD r1, r1, #100\n"             // 3
        "RETURN r1, 2\n"                 // 4
        "ADD r1, r1, #1\n"               // 5: the label
        "RETSUB\n";                      // 6
    ASSERT_EQ(PostEvent(EVENT_DISPLAY, DEVENT_CLOSEWINDOW, MakeObjectId(1), 0, nullptr), 0u);
    ASSERT_EQ(Run(script), 0u);
    EXPECT_EQ(VmGetNumber(vm, -1), 101) << "the label ran once, then the code after the call";
    ASSERT_EQ(Run(script), 0u);
    EXPECT_EQ(VmGetNumber(vm, -1), 100) << "no event: no label";
}

int g_pumps;
int StopAfterThreePumps(VmState*, void*) { return ++g_pumps == 3 ? static_cast<int>(ERR_WRITE) : 0; }

TEST_F(ScriptEventsTest, LineHookPumpsAndItsCodeEndsTheScript)
{
    g_pumps = 0;
    HookRecord* hook = AddHook(HOOK_VMSTATE, reinterpret_cast<void*>(&StopAfterThreePumps), nullptr, 0);
    ASSERT_NE(hook, nullptr);
    VmSetEventHook(vm, PumpEventsCallback);
    uint32_t status = Run(".chunk lines=auto\n"
                          "top: LOADNUM r0, 1\n"
                          "JMP top\n"
                          "RETURN r0, 1\n");
    VmSetEventHook(vm, nullptr);
    RemoveHook(hook);
    EXPECT_EQ(status, uint32_t{ERR_WRITE});
    EXPECT_EQ(g_pumps, 3);
}

// A firing interval makes the line hook pump while the script computes, so
// its event reaches the queue though no line pumps on its own.
TEST_F(ScriptEventsTest, AFiringIntervalMakesTheLineHookPump)
{
    static uint64_t deadline;
    deadline = OsMonotonicNanos() + 10ull * 1000000000ull;
    SetGlobal("quiet", [](VmState* vm) -> uint32_t {
        VmPushBoolean(vm, CountQueuedEvents() == 0 && OsMonotonicNanos() < deadline);
        return 1;
    });
    VmSetEventHook(vm, PumpEventsCallback);
    ObjectId id;
    ASSERT_EQ(AddInterval(vm, MakeObjectId(7), 5, 0, nullptr, &id), 0u);
    EXPECT_EQ(Run(".chunk lines=auto\n"
                  "top: GETGLOBAL r0, \"quiet\"\n"
                  "CALL r0, 1, 2\n"
                  "TEST r0, r0, 1\n"
                  "JMP top\n"
                  "RETURN r0, 1\n"),
              0u);
    VmSetEventHook(vm, nullptr);
    EXPECT_EQ(CountQueuedEvents(), 1u);
    ClearIntervalRecord(vm, MakeObjectId(7));
    EXPECT_LT(OsMonotonicNanos(), deadline) << "the loop ended by the event, not by the time limit";
}

}  // namespace
