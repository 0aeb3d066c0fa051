// Threads, recursive locks and auto-reset events.
#include "platform/posix/os_thread.h"
#include "platform/posix/os_time.h"

#include <gtest/gtest.h>

#include <atomic>
#include <pthread.h>

namespace {

uint64_t ElapsedMs(uint64_t startNanos) { return (OsMonotonicNanos() - startNanos) / 1000000u; }

void SleepMs(long ms)
{
    timespec ts{0, ms * 1000000};
    nanosleep(&ts, nullptr);
}

TEST(OsLockTest, SameThreadReentersAndOthersWaitForTheLastUnlock)
{
    OsMutex* lock = OsCreateLock();
    ASSERT_NE(lock, nullptr);
    OsLock(lock);
    OsLock(lock);

    struct Shared { OsMutex* lock; std::atomic<int> entered{0}; } shared{lock};
    OsThread* other = OsCreateThread("locker", [](OsThread*, void* arg) {
        auto* s = static_cast<Shared*>(arg);
        OsLock(s->lock);
        s->entered.store(1);
        OsUnlock(s->lock);
        return 0;
    }, &shared, 0);
    ASSERT_NE(other, nullptr);

    OsUnlock(lock);
    for (int i = 0; i < 5; i++) {
        SleepMs(10);
        EXPECT_EQ(shared.entered.load(), 0) << "lock released while still held once";
    }
    OsUnlock(lock);
    OsStopThread(other);
    EXPECT_EQ(shared.entered.load(), 1);
    OsDeleteLock(lock);
}

TEST(OsEventTest, SetIsConsumedByOneWait)
{
    OsEvent* event = OsCreateEvent();
    ASSERT_NE(event, nullptr);
    OsSetEvent(event);
    OsSetEvent(event);
    EXPECT_EQ(OsWaitEventTimeout(event, 1000), 1);
    uint64_t start = OsMonotonicNanos();
    EXPECT_EQ(OsWaitEventTimeout(event, 30), 0) << "two sets must not queue up";
    EXPECT_GE(ElapsedMs(start), 30u);
    OsDeleteEvent(event);
}

TEST(OsEventTest, OneSetReleasesOneOfTwoWaiters)
{
    struct Shared { OsEvent* event; std::atomic<int> woken{0}; } shared{OsCreateEvent()};
    ASSERT_NE(shared.event, nullptr);
    auto waiter = [](OsThread*, void* arg) {
        auto* s = static_cast<Shared*>(arg);
        if (OsWaitEventTimeout(s->event, 10000))
            s->woken.fetch_add(1);
        return 0;
    };
    OsThread* a = OsCreateThread("waiter a", waiter, &shared, 0);
    OsThread* b = OsCreateThread("waiter b", waiter, &shared, 0);
    ASSERT_TRUE(a && b);
    OsSetEvent(shared.event);
    while (shared.woken.load() == 0)
        SleepMs(1);
    SleepMs(50);
    EXPECT_EQ(shared.woken.load(), 1);
    OsSetEvent(shared.event);
    OsStopThread(a);
    OsStopThread(b);
    EXPECT_EQ(shared.woken.load(), 2);
    OsDeleteEvent(shared.event);
}

TEST(OsThreadTest, StackIsAtLeastTheMinimumEvenWhenAskedForLess)
{
    for (size_t asked : {size_t{0}, size_t{16384}, size_t{1024 * 1024}}) {
        std::atomic<size_t> seen{0};
        OsThread* thread = OsCreateThread("stack probe", [](OsThread*, void* arg) {
            pthread_attr_t attr;
            size_t size = 0;
            if (pthread_getattr_np(pthread_self(), &attr) == 0) {
                pthread_attr_getstacksize(&attr, &size);
                pthread_attr_destroy(&attr);
            }
            static_cast<std::atomic<size_t>*>(arg)->store(size);
            return 0;
        }, &seen, asked);
        ASSERT_NE(thread, nullptr);
        OsStopThread(thread);
        EXPECT_GE(seen.load(), OS_MIN_THREAD_STACK) << "asked for " << asked;
        EXPECT_GE(seen.load(), asked);
    }
}

TEST(OsThreadTest, StopRequestedBeforeTheThreadLooksIsNotLost)
{
    OsEvent* gate = OsCreateEvent();
    OsThread* thread = OsCreateThread("late", [](OsThread* self, void* arg) {
        OsWaitEvent(static_cast<OsEvent*>(arg));
        // The stop came before this thread asked for its stop event.
        return OsWaitEventTimeout(OsThreadCreateStopEvent(self), 10000) ? 0 : 1;
    }, gate, 0);
    ASSERT_NE(thread, nullptr);
    std::atomic<int> stopped{0};
    struct Args { OsThread* thread; std::atomic<int>* stopped; } args{thread, &stopped};
    OsThread* stopper = OsCreateThread("stopper", [](OsThread*, void* arg) {
        auto* a = static_cast<Args*>(arg);
        OsStopThread(a->thread);
        a->stopped->store(1);
        return 0;
    }, &args, 0);
    while (!OsThreadStopRequested(thread))
        SleepMs(1);
    OsSetEvent(gate);
    OsStopThread(stopper);
    EXPECT_EQ(stopped.load(), 1);
    OsDeleteEvent(gate);
}

} // namespace
