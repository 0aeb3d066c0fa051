// Math and memory-block commands through the VM as a script calls them:
// the cost of one command call, and the fill and table conversions over a
// block of 1 MB, where the per-byte work dominates.
#include <benchmark/benchmark.h>

#include "core/vm/vm.h"
#include "libs/math/math_library.h"
#include "libs/memblock/memblock_library.h"

namespace {

constexpr double kBlockSize = 1 << 20;

struct Vm {
    Vm()
    {
        vm = VmOpenState();
        RegisterMathLibrary(vm);
        RegisterMemBlockLibrary(vm);
    }
    ~Vm()
    {
        FreeAllMemBlocks(vm);
        VmCloseState(vm);
    }
    // Calls a global with numeric arguments; the results are dropped.
    void Call(const char* name, std::initializer_list<double> args)
    {
        VmPushString(vm, name);
        VmGetTable(vm, VM_GLOBALSINDEX);
        for (double a : args)
            VmPushNumber(vm, a);
        VmPCall(vm, static_cast<int>(args.size()), 0, 0);
    }
    VmState* vm;
};

void BM_RoundCall(benchmark::State& state)
{
    Vm v;
    for (auto _ : state)
        v.Call("round", {2.5});
}
BENCHMARK(BM_RoundCall);

void BM_PokePeek(benchmark::State& state)
{
    Vm v;
    v.Call("allocmem", {1, 64});
    for (auto _ : state) {
        v.Call("poke", {1, 8, 0x11223344});
        v.Call("peek", {1, 8});
    }
}
BENCHMARK(BM_PokePeek);

void BM_FillMemInteger(benchmark::State& state)
{
    Vm v;
    v.Call("allocmem", {1, kBlockSize});
    for (auto _ : state)
        v.Call("fillmem", {1, 0x01020304, kBlockSize, 0, 1});
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBlockSize));
}
BENCHMARK(BM_FillMemInteger);

void BM_MemToTableShort(benchmark::State& state)
{
    Vm v;
    v.Call("allocmem", {1, kBlockSize});
    for (auto _ : state) {
        VmPushString(v.vm, "memtotable");
        VmGetTable(v.vm, VM_GLOBALSINDEX);
        VmPushNumber(v.vm, 1);
        VmPushNumber(v.vm, 6);
        VmPCall(v.vm, 2, 0, 0);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBlockSize));
}
BENCHMARK(BM_MemToTableShort);

}  // namespace
