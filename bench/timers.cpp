// Costs on the script thread's hot paths: a lock round trip, an event hand-off
// between two threads, and the walk over the timer list that every event pump
// makes.
#include "core/glue/timers.h"
#include "platform/posix/os_thread.h"

#include <benchmark/benchmark.h>

#include <atomic>

namespace {

void BM_LockUnlock(benchmark::State& state)
{
    OsMutex* lock = OsCreateLock();
    for (auto _ : state) {
        OsLock(lock);
        OsUnlock(lock);
    }
    OsDeleteLock(lock);
}
BENCHMARK(BM_LockUnlock);

struct PingPong {
    OsEvent* ping = OsCreateEvent();
    OsEvent* pong = OsCreateEvent();
    std::atomic<bool> done{false};
};

void BM_EventHandOff(benchmark::State& state)
{
    PingPong pp;
    OsThread* echo = OsCreateThread("echo", [](OsThread*, void* arg) {
        auto* p = static_cast<PingPong*>(arg);
        for (;;) {
            OsWaitEvent(p->ping);
            if (p->done.load())
                return 0;
            OsSetEvent(p->pong);
        }
    }, &pp, 0);
    for (auto _ : state) {
        OsSetEvent(pp.ping);
        OsWaitEvent(pp.pong);
    }
    pp.done.store(true);
    OsSetEvent(pp.ping);
    OsStopThread(echo);
    OsDeleteEvent(pp.ping);
    OsDeleteEvent(pp.pong);
}
BENCHMARK(BM_EventHandOff);

void BM_QuietTimerWalk(benchmark::State& state)
{
    OsInitTimers();
    for (uintptr_t id = 0; id < static_cast<uintptr_t>(state.range(0)); id++)
        OsCreateTimer(OS_TIMER_ADD_PERIODIC, {id, 0}, 3600 * 1000);
    for (auto _ : state) {
        OsTimer* cursor = nullptr;
        uint32_t kind;
        OsTimerKey key;
        do {
            cursor = OsNextFiredTimer(cursor, &kind, &key);
        } while (cursor);
        benchmark::DoNotOptimize(kind);
    }
    OsFreeTimers();
}
BENCHMARK(BM_QuietTimerWalk)->Arg(1)->Arg(16)->Arg(256);

} // namespace
