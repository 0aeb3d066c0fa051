// The cost of the event pump on the script's every source line, and of the
// event queue between threads.
#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

#include "core/vm/error_hooks.h"
#include "display/events.h"
#include "platform/posix/os_runloop.h"

namespace {

struct Platform {
    Platform()
    {
        OsInit();
        InitEventQueue();
    }
    ~Platform()
    {
        FreeEventQueue();
        OsShutdown();
    }
};

// What the line hook costs when nothing happens: the common case.
void BM_PumpIdleLine(benchmark::State& state)
{
    Platform platform;
    uint32_t code;
    for (auto _ : state) {
        PumpEventsCallback(nullptr, nullptr, &code);
        benchmark::DoNotOptimize(code);
    }
    VmAbortFlag = 0;
}
BENCHMARK(BM_PumpIdleLine);

void BM_PostAndTake(benchmark::State& state)
{
    Platform platform;
    for (auto _ : state) {
        PostEvent(EVENT_GLOBAL, 1, ObjectId{1, 0}, 0, nullptr);
        FreeQueuedEvent(TakeEvent());
    }
}
BENCHMARK(BM_PostAndTake);

// Another thread posts as fast as it can while this one drains.
void BM_DrainWhileAnotherThreadPosts(benchmark::State& state)
{
    Platform platform;
    std::atomic<bool> stop{false};
    std::thread producer([&] {
        while (!stop.load(std::memory_order_relaxed))
            if (CountQueuedEvents() < 4096) PostEvent(EVENT_GLOBAL, 1, ObjectId{1, 0}, 0, nullptr);
    });
    int64_t taken = 0;
    for (auto _ : state) {
        QueuedEvent* e = TakeEvent();
        if (e) {
            ++taken;
            FreeQueuedEvent(e);
        }
    }
    stop = true;
    producer.join();
    state.counters["taken"] = static_cast<double>(taken);
}
BENCHMARK(BM_DrainWhileAnotherThreadPosts);

}  // namespace
