// Sort of the "system" library on a 100000-item array, next to std::sort on
// the same numbers for scale, and a deep CopyTable of 10000 small tables.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "core/vm/vm.h"
#include "libs/system/system_library.h"

namespace {

constexpr int kItems = 100000;

std::vector<double> Numbers()
{
    std::mt19937 random(1);
    std::vector<double> v(kItems);
    for (double& x : v)
        x = random() % 1000000;
    return v;
}

struct Vm {
    VmState* vm = VmOpenState();
    Vm() { RegisterSystemLibrary(vm); }
    ~Vm()
    {
        CleanupSystemLibrary(vm);
        VmCloseState(vm);
    }
};

void PushArray(VmState* vm, const std::vector<double>& items)
{
    int n = static_cast<int>(items.size());
    VmNewTableSized(vm, n, 0);
    for (int i = 0; i < n; ++i) {
        VmPushNumber(vm, items[static_cast<size_t>(i)]);
        VmRawSetI(vm, -2, i);
    }
}

void BM_SortCommand(benchmark::State& state)
{
    Vm v;
    std::vector<double> items = Numbers();
    for (auto _ : state) {
        state.PauseTiming();
        VmSetTop(v.vm, 0);
        VmPushNativeFunction(v.vm, CmdSort);
        PushArray(v.vm, items);
        state.ResumeTiming();
        benchmark::DoNotOptimize(VmPCall(v.vm, 1, 0, 0));
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kItems);
}
BENCHMARK(BM_SortCommand)->Unit(benchmark::kMillisecond);

void BM_StdSort(benchmark::State& state)
{
    std::vector<double> items = Numbers();
    for (auto _ : state) {
        std::vector<double> copy = items;
        std::sort(copy.begin(), copy.end());
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kItems);
}
BENCHMARK(BM_StdSort)->Unit(benchmark::kMillisecond);

void BM_CopyTableDeep(benchmark::State& state)
{
    Vm v;
    VmNewTable(v.vm);
    for (int i = 0; i < kItems / 10; ++i) {
        PushArray(v.vm, std::vector<double>(10, 1.0));
        VmRawSetI(v.vm, 1, i);
    }
    for (auto _ : state) {
        VmSetTop(v.vm, 1);
        VmPushNativeFunction(v.vm, CmdCopyTable);
        VmPushValue(v.vm, 1);
        benchmark::DoNotOptimize(VmPCall(v.vm, 1, 1, 0));
    }
}
BENCHMARK(BM_CopyTableDeep)->Unit(benchmark::kMillisecond);

}  // namespace
