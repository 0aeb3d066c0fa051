// The cost of the event pump on the script's every source line, and of the
// event queue between threads.
#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

#include "core/services/command_services.h"
#include "core/vm/error_hooks.h"
#include "core/vm/vm.h"
#include "display/buttons.h"
#include "display/event_library.h"
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

// The line hook while a plugin's VM-state hook is installed: the hooks are
// run on every line.
int QuietStateHook(VmState*, void*) { return 0; }

void BM_PumpLineWithStateHook(benchmark::State& state)
{
    Platform platform;
    HookRecord* hook = AddHook(HOOK_VMSTATE, reinterpret_cast<void*>(&QuietStateHook), nullptr, 0);
    uint32_t code;
    for (auto _ : state) {
        PumpEventsCallback(nullptr, nullptr, &code);
        benchmark::DoNotOptimize(code);
    }
    RemoveHook(hook);
    VmAbortFlag = 0;
}
BENCHMARK(BM_PumpLineWithStateHook);

// A pointer move over a display with n buttons, none of which it enters or
// leaves: the walk over the buttons without a call into the script.
void BM_MouseMoveOverButtons(benchmark::State& state)
{
    Platform platform;
    VmState* vm = VmOpenState();
    VmPushValue(vm, VM_GLOBALSINDEX);
    OpenEventLibrary(vm);
    VmSetTop(vm, 0);
    for (int64_t i = 0; i < state.range(0); ++i) {
        VmPushCString(vm, "createbutton");
        VmGetTable(vm, VM_GLOBALSINDEX);
        for (double n : {double(i + 1), 100.0, 100.0, 110.0, 110.0})
            VmPushNumber(vm, n);
        VmPCall(vm, 5, 0, 0);
    }
    QueuedEvent move{};
    move.type = EVENT_DISPLAY;
    move.slot = DEVENT_MOUSEMOVE;
    for (auto _ : state) {
        move.args[0] = move.args[0] ? 0 : 1;
        benchmark::DoNotOptimize(FireInputObjectEvents(vm, &move));
    }
    CloseEventLibrary(vm);
    VmCloseState(vm);
}
BENCHMARK(BM_MouseMoveOverButtons)->Arg(8)->Arg(64);

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
