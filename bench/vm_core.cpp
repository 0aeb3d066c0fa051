// VM core costs: table insert and lookup with 1M integer and string keys,
// string interning, and the overhead of calling a native through VmCall.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "core/vm/calls.h"
#include "core/vm/strings.h"
#include "core/vm/table.h"
#include "core/vm/value.h"
#include "core/vm/vm.h"

namespace {

constexpr int kKeys = 1000000;

struct Vm {
    VmState* L = VmOpenState();
    ~Vm() { VmCloseState(L); }
    VmTable* Table()
    {
        VmTable* t = VmNewTableObject(L, 0, 0);
        VmSetTableValue(L->top++, t);
        return t;
    }
};

std::vector<std::string> MakeKeys()
{
    std::vector<std::string> keys;
    keys.reserve(kKeys);
    for (int i = 0; i < kKeys; i++)
        keys.push_back("key" + std::to_string(static_cast<int64_t>(i) * 7919));
    return keys;
}

void BM_TableInsertIntegerKeys(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        auto* vm = new Vm;
        VmTable* t = vm->Table();
        state.ResumeTiming();
        for (int i = 1; i <= kKeys; i++)
            VmSetNumber(VmTableSetNum(vm->L, t, i), i);
        benchmark::DoNotOptimize(t->sizearray);
        state.PauseTiming();
        delete vm;
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_TableInsertIntegerKeys)->Unit(benchmark::kMillisecond);

void BM_TableLookupIntegerKeys(benchmark::State& state)
{
    Vm vm;
    VmTable* t = vm.Table();
    for (int i = 1; i <= kKeys; i++)
        VmSetNumber(VmTableSetNum(vm.L, t, i), i);
    for (auto _ : state) {
        double sum = 0;
        for (int i = 1; i <= kKeys; i++) {
            VmValue k;
            VmSetNumber(&k, i);
            sum += VmTableGet(t, &k)->v.n;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_TableLookupIntegerKeys)->Unit(benchmark::kMillisecond);

void BM_TableInsertStringKeys(benchmark::State& state)
{
    std::vector<std::string> keys = MakeKeys();
    Vm vm;
    std::vector<VmString*> interned;
    interned.reserve(kKeys);
    for (const std::string& k : keys)
        interned.push_back(VmNewString(vm.L, k.data(), k.size()));
    for (auto _ : state) {
        // A fresh table each round; the old ones wait for the state's end.
        vm.L->top = vm.L->base;
        VmTable* t = vm.Table();
        for (int i = 0; i < kKeys; i++)
            VmSetNumber(VmTableSetStr(vm.L, t, interned[i]), i);
        benchmark::DoNotOptimize(t->lsizenode);
    }
    state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_TableInsertStringKeys)->Unit(benchmark::kMillisecond);

void BM_TableLookupStringKeys(benchmark::State& state)
{
    std::vector<std::string> keys = MakeKeys();
    Vm vm;
    VmTable* t = vm.Table();
    std::vector<VmValue> interned(kKeys);
    for (int i = 0; i < kKeys; i++) {
        VmSetString(&interned[i], VmNewString(vm.L, keys[i].data(), keys[i].size()));
        VmSetNumber(VmTableSet(vm.L, t, &interned[i]), i);
    }
    for (auto _ : state) {
        double sum = 0;
        for (int i = 0; i < kKeys; i++)
            sum += VmTableGet(t, &interned[i])->v.n;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_TableLookupStringKeys)->Unit(benchmark::kMillisecond);

void BM_StringInterning(benchmark::State& state)
{
    std::vector<std::string> keys = MakeKeys();
    for (auto _ : state) {
        state.PauseTiming();
        auto* vm = new Vm;
        state.ResumeTiming();
        // New strings, then every one again (found, not created).
        for (const std::string& k : keys)
            benchmark::DoNotOptimize(VmNewString(vm->L, k.data(), k.size()));
        for (const std::string& k : keys)
            benchmark::DoNotOptimize(VmNewString(vm->L, k.data(), k.size()));
        state.PauseTiming();
        delete vm;
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * 2 * kKeys);
}
BENCHMARK(BM_StringInterning)->Unit(benchmark::kMillisecond);

uint32_t AddTwo(VmState* L)
{
    VmPushNumber(L, VmGetNumber(L, 1) + VmGetNumber(L, 2));
    return 1;
}

void BM_NativeCall(benchmark::State& state)
{
    Vm vm;
    VmState* L = vm.L;
    VmPushNativeFunction(L, AddTwo);
    for (auto _ : state) {
        VmPushValue(L, 1);
        VmPushNumber(L, 1);
        VmPushNumber(L, 2);
        VmCall(L, 2, 1);
        benchmark::DoNotOptimize(VmGetNumber(L, -1));
        VmPop(L, 1);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_NativeCall);

}  // namespace
