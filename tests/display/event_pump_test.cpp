// The event pump's result rules, intervals and timeouts on the platform's
// timers, and a quit signal ending a waiting script.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "core/glue/timers.h"
#include "core/io/error_codes.h"
#include "core/services/command_services.h"
#include "core/vm/error_hooks.h"
#include "display/adapters.h"
#include "display/events.h"
#include "display/intervals.h"
#include "platform/posix/os_runloop.h"
#include "platform/posix/os_time.h"

namespace {

class PumpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(InitPlatformGlue(), 0u);
        ASSERT_EQ(InitEventQueue(), 0u);
        VmAbortFlag.store(0);
        OsTakeQuitRequest();
    }
    void TearDown() override
    {
        SetEventAdapterHooks(nullptr);
        FreeAllTimerObjects(nullptr);
        FreeEventQueue();
        OsShutdown();
        OsTakeQuitRequest();
        VmAbortFlag.store(0);
    }
};

// ------------------------------------------------------------ result matrix

int g_hookResult, g_hookCalls, g_adapterCalls;
uint32_t g_adapterResult;

int StateHook(VmState*, void*)
{
    ++g_hookCalls;
    return g_hookResult;
}

uint32_t AdapterPump(VmState*, void*)
{
    ++g_adapterCalls;
    return g_adapterResult;
}

struct PumpCase {
    const char* name;
    uint32_t mode;
    int hookResult;
    uint32_t pumpResult, abortBefore;
    int expectReturn;
    uint32_t expectCode, expectAbort;
    int expectPumps;
};

TEST_F(PumpTest, ResultMatrix)
{
    const PumpCase cases[] = {
        {"quiet pump", 1, 0, 0, 0, 0, 0, 0, 1},
        {"abort flag already set", 2, 0, 0, 1, 1, 0, 1, 1},
        {"user abort from the pump", 2, 0, ERR_USERABORT, 0, 1, 0, 1, 1},
        {"other pump error", 2, 0, ERR_MEM, 0, 1, ERR_MEM, 0, 1},
        {"hook result stops before pumping", 1, 4711, 0, 0, 1, 4711, 0, 0},
        {"mode 2 runs no hooks", 2, 4711, 0, 0, 0, 0, 0, 1},
        {"hook wins over a pump error", 3, 5, ERR_MEM, 0, 1, 5, 0, 0},
    };
    HookRecord* hook = AddHook(HOOK_VMSTATE, reinterpret_cast<void*>(&StateHook), nullptr, 0);
    ASSERT_NE(hook, nullptr);
    EventAdapterHooks adapter{AdapterPump, nullptr, nullptr};
    SetEventAdapterHooks(&adapter);
    for (const PumpCase& c : cases) {
        SCOPED_TRACE(c.name);
        g_hookResult = c.hookResult;
        g_adapterResult = c.pumpResult;
        g_adapterCalls = 0;
        VmAbortFlag.store(c.abortBefore);
        uint32_t code = 12345;
        EXPECT_EQ(PumpOsEvents(nullptr, c.mode, 0, &code), c.expectReturn);
        EXPECT_EQ(code, c.expectCode);
        EXPECT_EQ(VmAbortFlag.load(), c.expectAbort);
        EXPECT_EQ(g_adapterCalls, c.expectPumps);
    }
    RemoveHook(hook);
}

TEST_F(PumpTest, LineHookDoesNothingWhilePumpingIsSwitchedOff)
{
    OsRequestQuit();
    VmAbortFlag.store(0);
    NoEventPumping = 1;
    uint32_t code = 99;
    PumpEventsCallback(nullptr, nullptr, &code);
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(OsQuitRequested());
    NoEventPumping = 0;
    PumpEventsCallback(nullptr, nullptr, &code);
    EXPECT_EQ(VmAbortFlag.load(), 1u);
    EXPECT_FALSE(OsQuitRequested()) << "the request is taken once";
}

// After a pump of the line hook, what must run on every line keeps the pump
// due; events that wait arm the timer of the next stale drop instead.
TEST_F(PumpTest, PumpStaysDueOnlyForWhatRunsOnEveryLine)
{
    struct Case { const char* name; bool adapter, stateHook, queuedEvent; uint32_t expectDue; bool expectStaleTimer; };
    const Case cases[] = {
        {"nothing", false, false, false, 0, false},
        {"display adapter pumps its own system", true, false, false, 1, false},
        {"VM-state hook", false, true, false, 1, false},
        {"waiting event", false, false, true, 0, true},
    };
    const OsTimerKey staleKey{kStaleCheckId.id, kStaleCheckId.handle};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_hookResult = 0;
        g_adapterResult = 0;
        EventAdapterHooks adapter{AdapterPump, nullptr, nullptr};
        SetEventAdapterHooks(c.adapter ? &adapter : nullptr);
        HookRecord* hook = c.stateHook ? AddHook(HOOK_VMSTATE, reinterpret_cast<void*>(&StateHook), nullptr, 0)
                                       : nullptr;
        if (c.queuedEvent) {
            ASSERT_EQ(PostEvent(EVENT_USER, 0, ObjectId{}, 0, nullptr), 0u);
        }
        VmPumpDue.store(0);
        uint32_t code;
        EXPECT_EQ(PumpOsEvents(nullptr, 1, 0, &code), 0);
        EXPECT_EQ(VmPumpDue.load(), c.expectDue);
        EXPECT_EQ(OsFindTimer(OS_TIMER_ONESHOT, staleKey, nullptr) != nullptr, c.expectStaleTimer);
        if (hook) RemoveHook(hook);
        DropEvents(nullptr, UINT32_MAX, 0);
        OsCreateTimer(OS_TIMER_REMOVE_ONESHOT, staleKey, 0);
    }
    EXPECT_EQ(PostEvent(EVENT_USER, 0, ObjectId{}, 0, nullptr), 0u);
    EXPECT_EQ(VmPumpDue.load(), 1u) << "a posted event makes the pump due";
    DropEvents(nullptr, UINT32_MAX, 0);
}

// ------------------------------------------------------------ timers

// Repeated firing is the timers' test; how interval and timeout events
// reach their handlers, the buttons tests'. A timeout's timer fires once
// and goes; a cleared interval's goes at once and never fires. An interval
// made again under its id takes the new period.
TEST_F(PumpTest, ATimeoutFiresOnceAndAClearedIntervalNever)
{
    ASSERT_EQ(AddTimeout(nullptr, MakeObjectId(6), 10, 0), 0u);
    ASSERT_EQ(AddInterval(nullptr, MakeObjectId(5), 2000, 0), 0u);
    ASSERT_EQ(AddInterval(nullptr, MakeObjectId(5), 10, 0), 0u);
    IntervalRecord* r;
    ASSERT_EQ(FindInterval(MakeObjectId(5), &r), 0u);
    EXPECT_EQ(r->time.seconds * 1000000 + r->time.microseconds, 10000u);
    ClearIntervalRecord(nullptr, MakeObjectId(5));
    EXPECT_EQ(FindInterval(MakeObjectId(5), &r), uint32_t{ERR_FINDINTERVAL});
    EXPECT_EQ(OsFindTimer(OS_TIMER_PERIODIC, OsTimerKey{5, 0}, nullptr), nullptr);
    int timeouts = 0;
    auto pump = [&] {
        uint32_t code;
        PumpOsEvents(nullptr, 2, 0, &code);
        while (QueuedEvent* e = TakeEvent()) {
            EXPECT_NE(e->type, uint32_t{EVENT_INTERVAL}) << "a cleared interval fired";
            timeouts += e->type == EVENT_TIMEOUT;
            FreeQueuedEvent(e);
        }
    };
    // The limit only stops a broken build from hanging.
    for (uint64_t limit = OsMonotonicNanos() + 10000000000ull; !timeouts && OsMonotonicNanos() < limit;) {
        WaitForOsEvent(nullptr, 1, 0, 0);
        pump();
    }
    OsDelay(30);  // time for a second firing
    pump();
    EXPECT_EQ(timeouts, 1);
    EXPECT_EQ(OsFindTimer(OS_TIMER_ONESHOT, OsTimerKey{6, 0}, nullptr), nullptr);
}

// The poll work of the shared timer may clear intervals, the one whose
// timer fired after the poll timer included, and the poll interval itself.
int g_pollRuns;
void ClearEverything(VmState*)
{
    ++g_pollRuns;
    ClearIntervalRecord(nullptr, MakeObjectId(8));
    ClearIntervalRecord(nullptr, kPollIntervalId);
}

TEST_F(PumpTest, PollWorkMayClearTheIntervalsWhoseTimersFired)
{
    // Long periods: the test marks the timers fired itself.
    ASSERT_EQ(AddInterval(nullptr, kPollIntervalId, 100000, 0), 0u);
    ASSERT_EQ(AddInterval(nullptr, MakeObjectId(8), 100000, 0), 0u);
    ASSERT_EQ(AddInterval(nullptr, MakeObjectId(9), 100000, 0), 0u);
    for (ObjectId id : {kPollIntervalId, MakeObjectId(8), MakeObjectId(9)}) {
        OsTimer* timer = OsFindTimer(OS_TIMER_PERIODIC, OsTimerKey{id.id, id.handle}, nullptr);
        ASSERT_NE(timer, nullptr);
        OsMarkTimerFired(timer);
    }
    g_pollRuns = 0;
    SetPollWork(0, ClearEverything);
    uint32_t code;
    EXPECT_EQ(PumpOsEvents(nullptr, 2, 0, &code), 0);
    SetPollWork(0, nullptr);
    EXPECT_EQ(g_pollRuns, 1);
    IntervalRecord* r;
    EXPECT_EQ(FindInterval(MakeObjectId(8), &r), uint32_t{ERR_FINDINTERVAL});
    EXPECT_EQ(FindInterval(MakeObjectId(9), &r), 0u);
    // The cleared interval's event went with it.
    std::vector<uint32_t> queued;
    while (QueuedEvent* e = TakeEvent()) {
        queued.push_back(e->target.id);
        FreeQueuedEvent(e);
    }
    EXPECT_EQ(queued, std::vector<uint32_t>{9});
}

// ------------------------------------------------------------ quit signals

uint32_t WaitingScript(VmState*)
{
    // A script sitting in a long wait, as Wait 3000 would.
    return OsTimedWait(nullptr, 60000);
}

TEST_F(PumpTest, QuitSignalsEndAWaitingScriptAsUserAbort)
{
    OsSetScriptMain(WaitingScript);
    for (int sig : {SIGINT, SIGTERM}) {
        VmAbortFlag.store(0);
        std::thread sender([sig] {
            OsDelay(50);
            kill(getpid(), sig);
        });
        uint32_t result = OsRunMain(nullptr);
        sender.join();
        EXPECT_EQ(result, uint32_t{ERR_USERABORT}) << sig;
        EXPECT_EQ(VmAbortFlag.load(), 1u) << sig;
        OsTakeQuitRequest();
    }
    OsSetScriptMain(nullptr);
}

// A timed wait with events queued that it does not take must sleep, not
// spin: count how often it pumps.
int g_waitPumps;
int CountPumps(VmState*, void*)
{
    ++g_waitPumps;
    return 0;
}

TEST_F(PumpTest, TimedWaitSleepsWhileUntakenEventsAreQueued)
{
    PostEvent(EVENT_GLOBAL, 0, MakeObjectId(0), 0, nullptr);
    PostEvent(EVENT_GLOBAL, 1, MakeObjectId(0), 0, nullptr);
    g_waitPumps = 0;
    HookRecord* hook = AddHook(HOOK_VMSTATE, reinterpret_cast<void*>(&CountPumps), nullptr, 0);
    EXPECT_EQ(OsTimedWait(nullptr, 100), 0u);
    RemoveHook(hook);
    // Two posts and the timer: a handful of wake-ups, never thousands.
    EXPECT_LT(g_waitPumps, 20);
    EXPECT_EQ(CountQueuedEvents(), 2u) << "the wait leaves the events to the script";
}

TEST_F(PumpTest, AdapterSleepEndsWithTheUserAbortCode)
{
    std::thread quit([] {
        OsDelay(30);
        OsRequestQuit();
    });
    EXPECT_EQ(AdapterSleep(60000), uint32_t{ERR_USERABORT});
    quit.join();
    EXPECT_EQ(AdapterSleep(0), 0u) << "no wait at all";
    VmAbortFlag.store(0);
    EXPECT_EQ(AdapterSleep(5), 0u) << "the time simply runs out";
}

}  // namespace
