// The timer list, the timed wait and the poll timer.
#include "core/glue/timers.h"

#include "core/io/error_codes.h"
#include "platform/posix/os_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace {

uint64_t ElapsedMs(uint64_t startNanos)
{
    return (OsMonotonicNanos() - startNanos) / 1000000u;
}

class TimersTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(OsInitTimers(), 0u);
        OsSetEventHooks(nullptr);
    }
    void TearDown() override
    {
        OsSetEventHooks(nullptr);
        OsFreeTimers();
    }

    // Collects fired timers for `ms`, or until `enough` says so, counting
    // reports per key id.
    std::vector<int> Collect(uint32_t ms, size_t keys, uint32_t kind,
                             bool (*enough)(const std::vector<int>& counts) = nullptr)
    {
        std::vector<int> counts(keys, 0);
        uint64_t start = OsMonotonicNanos();
        while (ElapsedMs(start) < ms && !(enough && enough(counts))) {
            OsTimer* cursor = nullptr;
            do {
                uint32_t firedKind;
                OsTimerKey key{};
                cursor = OsNextFiredTimer(cursor, &firedKind, &key);
                if (firedKind == kind && key.id < keys)
                    counts[key.id]++;
                else
                    EXPECT_EQ(firedKind, uint32_t{OS_TIMER_NOT_FIRED});
            } while (cursor);
            OsDelay(2);
        }
        return counts;
    }
};

// How long the tests wait at most for a timer that is due: a loaded machine
// may run the collector late, but not this late.
constexpr uint32_t kGenerousMs = 20000;

TEST_F(TimersTest, PeriodicTimerIsReportedOncePerFiringAndStays)
{
    ASSERT_EQ(OsCreateTimer(OS_TIMER_ADD_PERIODIC, {0, 0}, 20), 0u);
    ASSERT_EQ(OsCreateTimer(OS_TIMER_ADD_PERIODIC, {1, 0}, 3600000), 0u);
    uint64_t start = OsMonotonicNanos();
    std::vector<int> counts =
        Collect(kGenerousMs, 2, OS_TIMER_PERIODIC, [](const std::vector<int>& c) { return c[0] >= 4; });
    uint64_t elapsed = ElapsedMs(start);
    // A loaded machine may merge ticks; none may be invented.
    EXPECT_GE(counts[0], 4);
    EXPECT_LE(static_cast<uint64_t>(counts[0]), elapsed / 20 + 1);
    EXPECT_EQ(counts[1], 0);
    EXPECT_NE(OsFindTimer(OS_TIMER_PERIODIC, {0, 0}, nullptr), nullptr);
}

TEST_F(TimersTest, TimersAreFoundByKindAndKeyWakeTheLoopAndTimeWaits)
{
    ASSERT_EQ(OsCreateTimer(OS_TIMER_ADD_ONESHOT, {3, 0}, 30), 0u);
    ASSERT_EQ(OsCreateTimer(OS_TIMER_ADD_PERIODIC, {3, 0}, 30), 0u);
    // Wrong kind, wrong handle, unknown operation: nothing happens.
    EXPECT_EQ(OsCreateTimer(OS_TIMER_REMOVE_PERIODIC, {3, 1}, 0), 0u);
    EXPECT_EQ(OsCreateTimer(5, {3, 0}, 0), 0u);
    EXPECT_NE(OsFindTimer(OS_TIMER_ONESHOT, {3, 0}, nullptr), nullptr);

    ASSERT_EQ(OsCreateTimer(OS_TIMER_REMOVE_ONESHOT, {3, 0}, 0), 0u);
    EXPECT_EQ(OsFindTimer(OS_TIMER_ONESHOT, {3, 0}, nullptr), nullptr);
    OsTimer* next = reinterpret_cast<OsTimer*>(1);
    EXPECT_NE(OsFindTimer(OS_TIMER_PERIODIC, {3, 0}, &next), nullptr);
    EXPECT_EQ(next, nullptr);
    ASSERT_EQ(OsCreateTimer(OS_TIMER_REMOVE_PERIODIC, {3, 0}, 0), 0u);
    EXPECT_EQ(Collect(100, 4, OS_TIMER_ONESHOT)[3], 0);

    uint32_t kind = 0;
    OsTimerKey key{};
    EXPECT_EQ(OsNextFiredTimer(nullptr, &kind, &key), nullptr);
    EXPECT_EQ(kind, uint32_t{OS_TIMER_NOT_FIRED});

    ASSERT_EQ(OsCreateTimer(OS_TIMER_ADD_PERIODIC, {2, 0}, 60000), 0u);
    ASSERT_EQ(OsCreateTimer(OS_TIMER_RESTART_PERIODIC, {2, 0}, 60000), 0u);
    int seen = 0;
    uint64_t start = OsMonotonicNanos();
    while (seen == 0 && ElapsedMs(start) < 5000)
        seen = Collect(5, 3, OS_TIMER_PERIODIC)[2];
    EXPECT_EQ(seen, 1);

    // Timers removed while their platform timers keep firing: a callback in
    // flight must never touch a freed record (the sanitizer build checks this).
    for (int round = 0; round < 200; round++) {
        for (uintptr_t id = 0; id < 8; id++)
            ASSERT_EQ(OsCreateTimer(id % 2 ? OS_TIMER_ADD_ONESHOT : OS_TIMER_ADD_PERIODIC,
                                    {id, 0}, 1), 0u);
        if (round % 3 == 0)
            OsDelay(1);
        for (uintptr_t id = 0; id < 8; id++)
            OsCreateTimer(id % 2 ? OS_TIMER_REMOVE_ONESHOT : OS_TIMER_REMOVE_PERIODIC, {id, 0}, 0);
    }
    for (uintptr_t id = 0; id < 8; id++)
        ASSERT_EQ(OsCreateTimer(OS_TIMER_ADD_PERIODIC, {id, 0}, 1), 0u);
    OsDelay(5);
    OsDeleteAllTimers();
    EXPECT_EQ(OsFindTimer(OS_TIMER_PERIODIC, {0, 0}, nullptr), nullptr);

    static std::atomic<int> wakes{0};
    wakes.store(0);
    OsEventHooks hooks{};
    hooks.wake = [](void*) { wakes.fetch_add(1); };
    OsSetEventHooks(&hooks);
    ASSERT_EQ(OsCreateTimer(OS_TIMER_ADD_ONESHOT, {0, 0}, 5), 0u);
    start = OsMonotonicNanos();
    while (wakes.load() == 0 && ElapsedMs(start) < 5000)
        OsDelay(1);
    EXPECT_EQ(wakes.load(), 1);

    // The event layer's side of a wait: a shared wake-up event, as the GUI loop
    // will have it, and a pump that reports a quit request on its n-th call.
    struct FakeEventLayer {
        OsEvent* wakeEvent = OsCreateEvent();
        std::atomic<int> pumps{0};
        int quitAfter = -1;
        uint32_t quitCode = 0;
        uint32_t waitError = 0;
    
        ~FakeEventLayer() { OsDeleteEvent(wakeEvent); }
    
        OsEventHooks Hooks()
        {
            OsEventHooks hooks{};
            hooks.user = this;
            hooks.wake = [](void* user) { OsSetEvent(static_cast<FakeEventLayer*>(user)->wakeEvent); };
            hooks.waitForEvent = [](VmState*, void* user) -> uint32_t {
                auto* self = static_cast<FakeEventLayer*>(user);
                if (self->waitError)
                    return self->waitError;
                // Several waits share one auto-reset event: a short timeout keeps a
                // waiter from sleeping through a wake-up that another consumed.
                OsWaitEventTimeout(self->wakeEvent, 5);
                return 0;
            };
            hooks.pumpEvents = [](VmState*, uint32_t* outCode, void* user) -> int {
                auto* self = static_cast<FakeEventLayer*>(user);
                int n = self->pumps.fetch_add(1) + 1;
                if (n == self->quitAfter) {
                    *outCode = self->quitCode;
                    return 1;
                }
                return 0;
            };
            return hooks;
        }
    };
    struct Case {
        int quitAfter;
        uint32_t quitCode;
        uint32_t waitError;
        uint32_t expected;
    } cases[] = {
        {3, 0, 0, ERR_USERABORT},
        {2, 1234, 0, 1234},
        {-1, 0, ERR_WRONGUSAGE, ERR_WRONGUSAGE},
    };
    for (const Case& c : cases) {
        FakeEventLayer layer;
        layer.quitAfter = c.quitAfter;
        layer.quitCode = c.quitCode;
        layer.waitError = c.waitError;
        OsEventHooks hooks = layer.Hooks();
        OsSetEventHooks(&hooks);
        EXPECT_EQ(OsTimedWait(nullptr, 60000), c.expected);
        OsSetEventHooks(nullptr);
    }

    // A short wait firing while a long one runs on another thread must not end
    // the long one: each wait has its own fired flag.
    for (bool withHooks : {false, true}) {
        FakeEventLayer layer;
        OsEventHooks hooks = layer.Hooks();
        OsSetEventHooks(withHooks ? &hooks : nullptr);
        std::atomic<uint64_t> longElapsed{0};
        OsThread* longWaiter = OsCreateThread("long wait", [](OsThread*, void* arg) {
            uint64_t start = OsMonotonicNanos();
            uint32_t code = OsTimedWait(nullptr, 300);
            static_cast<std::atomic<uint64_t>*>(arg)->store(code ? 0 : ElapsedMs(start));
            return 0;
        }, &longElapsed, 0);
        ASSERT_NE(longWaiter, nullptr);
        for (int i = 0; i < 10; i++)
            EXPECT_EQ(OsTimedWait(nullptr, 5), 0u);
        OsStopThread(longWaiter);
        EXPECT_GE(longElapsed.load(), 300u) << (withHooks ? "with" : "without") << " hooks";
        OsSetEventHooks(nullptr);
    }

    static int adds, clears;
    static uint32_t addResult;
    adds = clears = 0;
    addResult = 0;
    hooks = OsEventHooks{};
    hooks.addPollInterval = [](VmState*, uint32_t ms, void*) -> uint32_t {
        EXPECT_EQ(ms, POLL_TIMER_MS);
        adds++;
        return addResult;
    };
    hooks.clearPollInterval = [](VmState*, void*) { clears++; };
    OsSetEventHooks(&hooks);

    EXPECT_EQ(AcquirePollTimer(nullptr, POLL_SLOT_SOUND), 0u);
    EXPECT_EQ(AcquirePollTimer(nullptr, POLL_SLOT_EVENT), 0u);
    EXPECT_EQ(adds, 1);
    ReleasePollTimer(nullptr, POLL_SLOT_SOUND);
    EXPECT_EQ(clears, 0);
    ReleasePollTimer(nullptr, POLL_SLOT_EVENT);
    EXPECT_EQ(clears, 1);
    ReleasePollTimer(nullptr, POLL_SLOT_EVENT);
    EXPECT_EQ(clears, 1) << "releasing a free slot stops nothing";

    addResult = ERR_TIMER;
    EXPECT_EQ(AcquirePollTimer(nullptr, POLL_SLOT_EVENT), uint32_t{ERR_TIMER});
    ReleasePollTimer(nullptr, POLL_SLOT_EVENT);
    EXPECT_EQ(clears, 1) << "a slot that failed to start was never taken";
    EXPECT_EQ(AcquirePollTimer(nullptr, 2), uint32_t{ERR_WRONGUSAGE});
}

} // namespace
