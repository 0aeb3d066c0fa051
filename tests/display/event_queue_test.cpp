// The event queue between threads: producers on other threads post while
// the script thread drains, and nothing is lost, duplicated or reordered per
// producer. Meant to run under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "core/glue/time_values.h"
#include "core/glue/timers.h"
#include "display/events.h"
#include "platform/posix/os_memory.h"
#include "platform/posix/os_runloop.h"

namespace {

class EventQueueTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(InitPlatformGlue(), 0u);
        ASSERT_EQ(InitEventQueue(), 0u);
    }
    void TearDown() override
    {
        FreeEventQueue();
        OsShutdown();
    }
};

TEST_F(EventQueueTest, ProducersOnOtherThreadsLoseNothingAndKeepTheirOrder)
{
    constexpr int kProducers = 4;
    constexpr int kPerProducer = 2000;
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([p] {
            for (int i = 0; i < kPerProducer; ++i) {
                int32_t args[4] = {p, i, 0, 0};
                // User events carry an owned payload that the queue must free.
                void* payload = OsAllocMem(16, 1);
                ASSERT_EQ(PostEvent(EVENT_USER, 0, MakeObjectId(p), reinterpret_cast<uintptr_t>(payload), args), 0u);
            }
        });
    }
    std::vector<int> next(kProducers, 0);
    int received = 0;
    while (received < kProducers * kPerProducer) {
        QueuedEvent* e = TakeEvent();
        if (!e) {
            WaitForOsEvent(nullptr, 1, 0, 0);
            continue;
        }
        ASSERT_EQ(e->type, uint32_t{EVENT_USER});
        int p = e->args[0];
        ASSERT_GE(p, 0);
        ASSERT_LT(p, kProducers);
        EXPECT_EQ(e->args[1], next[p]) << "producer " << p << " out of order";
        next[p] = e->args[1] + 1;
        FreeQueuedEvent(e);
        ++received;
    }
    for (auto& t : producers) t.join();
    EXPECT_EQ(CountQueuedEvents(), 0u);
}

TEST_F(EventQueueTest, DropEventsRemovesOneMoreThanAsked)
{
    for (int i = 0; i < 5; ++i) {
        int32_t args[4] = {i, 0, 0, 0};
        PostEvent(EVENT_GLOBAL, 1, MakeObjectId(0), 0, args);
    }
    DropEvents(nullptr, 1, 0);
    EXPECT_EQ(CountQueuedEvents(), 3u);
    QueuedEvent* e = TakeEvent();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->args[0], 2);
    FreeQueuedEvent(e);
    DropEvents(nullptr, 0xFFFFFFFFu, 0);  // n + 1 must not wrap to 0
    EXPECT_EQ(CountQueuedEvents(), 0u);
    DropEvents(nullptr, 3, 0);  // on an empty queue: nothing happens
    EXPECT_EQ(TakeEvent(), nullptr);
}

TEST_F(EventQueueTest, StaleEventsAtTheHeadAreDroppedUpToTheFirstFreshOne)
{
    uint32_t saved = EventTimeoutMs;
    EventTimeoutMs = 0;
    PostEvent(EVENT_GLOBAL, 0, MakeObjectId(0), 0, nullptr);
    PostEvent(EVENT_GLOBAL, 1, MakeObjectId(0), 0, nullptr);
    OsDelay(5);  // both are now older than the time-out of 0 ms
    EventTimeoutMs = 60000;
    PostEvent(EVENT_GLOBAL, 2, MakeObjectId(0), 0, nullptr);
    EventTimeoutMs = 0;
    DropStaleEvents(nullptr);
    EventTimeoutMs = saved;
    // Everything old went; the newest may or may not be older than 0 ms by
    // now, but it never goes before the older ones.
    QueuedEvent* e = TakeEvent();
    if (e) {
        EXPECT_EQ(e->slot, 2);
        FreeQueuedEvent(e);
    }
    EXPECT_EQ(TakeEvent(), nullptr);
}

// Freeing twice and unopened: the library exits' test. A queued payload
// goes with the queue, and one posted without a queue is freed at once.
TEST(EventQueueLifetime, PayloadsNeverOutliveTheQueue)
{
    ASSERT_EQ(InitEventQueue(), 0u);
    PostEvent(EVENT_USER, 0, MakeObjectId(0), reinterpret_cast<uintptr_t>(OsAllocMem(8, 0)), nullptr);
    FreeEventQueue();
    EXPECT_NE(PostEvent(EVENT_USER, 0, MakeObjectId(0), reinterpret_cast<uintptr_t>(OsAllocMem(8, 0)), nullptr), 0u);
}

}  // namespace
