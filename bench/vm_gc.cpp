// Collector costs: a script loop that allocates 10M short-lived tables
// (time, and the peak of the VM's byte count sampled by a count hook), and
// the pause of one full collection over a heap of 1M live objects, each
// beside python3 doing the same (dicts in a loop; gc.collect over 500k
// lists each holding a distinct string).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "bench/python_peer.h"
#include "core/vm/memory.h"
#include "core/vm/value.h"
#include "core/vm/vm.h"
#include "tools/qmasm/assembler.h"

namespace {

uint64_t PeakBytes = 0;

void SampleBytes(VmState* L, VmDebugRecord*, uint32_t*)
{
    PeakBytes = std::max<uint64_t>(PeakBytes, L->g->nblocks);
}

struct Input {
    const std::vector<uint8_t>* bytes;
    bool done;
};

const char* ReadAll(VmState*, void* data, size_t* size)
{
    auto* in = static_cast<Input*>(data);
    *size = in->done ? 0 : in->bytes->size();
    in->done = true;
    return *size ? reinterpret_cast<const char*>(in->bytes->data()) : nullptr;
}

// for i = 1, 10000000 do local t = {i, x = i} end
const char* const kLoop = R"(
    LOADNUM r0, 0
    LOADK r1, #10000000
    LOADNUM r2, 1
    JMP test
body:
    NEWTABLE r3, 1, 1
    SETTABLE r3, #1, r0
    SETTABLE r3, "x", r0
test:
    FORLOOP r0, body
    RETURN r0, 1
)";

void BM_ShortLivedTables10M(benchmark::State& state)
{
    qmasm::AssembleResult chunk = qmasm::Assemble(kLoop);
    if (!chunk.ok) {
        state.SkipWithError("assembly failed");
        return;
    }
    for (auto _ : state) {
        VmState* L = VmOpenState();
        PeakBytes = 0;
        VmSetHook(L, SampleBytes, VM_MASKCOUNT, 1000);
        Input in{&chunk.bytes, false};
        if (VmLoad(L, ReadAll, &in, "=loop") != 0 || VmPCall(L, 0, 0, 0) != 0)
            state.SkipWithError("the loop failed");
        VmCloseState(L);
    }
    state.counters["peak_KB"] = static_cast<double>(PeakBytes) / 1024;
    state.SetItemsProcessed(state.iterations() * 10000000);
}
BENCHMARK(BM_ShortLivedTables10M)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_ShortLivedTables10M_Python(benchmark::State& state)
{
    RunPython(state, "def main():\n"
                     "    for i in range(1, 10000001):\n"
                     "        t = {1: i, 'x': i}\n"
                     "main()\n");
}
BENCHMARK(BM_ShortLivedTables10M_Python)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

void BM_FullCollection1MLive(benchmark::State& state)
{
    VmState* L = VmOpenState();
    VmSetGCThreshold(L, 0x400000);  // build the heap without collecting
    // 1M live objects: 500k tables each holding a distinct string.
    VmNewTableSized(L, 500000, 0);
    char text[32];
    for (int i = 1; i <= 500000; i++) {
        VmNewTableSized(L, 1, 0);
        int n = std::snprintf(text, sizeof text, "live %d", i);
        VmPushLString(L, text, static_cast<size_t>(n));
        VmRawSetI(L, -2, 1);
        VmRawSetI(L, 1, i);
    }
    for (auto _ : state)
        VmCollectGarbage(L);
    state.counters["heap_MB"] = static_cast<double>(L->g->nblocks) / (1024 * 1024);
    VmCloseState(L);
}
BENCHMARK(BM_FullCollection1MLive)->Unit(benchmark::kMillisecond);

void BM_FullCollection1MLive_Python(benchmark::State& state)
{
    // The heap is built before the clock restarts; the time is one full
    // collection, as above.
    RunPython(state, "import gc\n"
                     "live = [['live %d' % i] for i in range(1, 500001)]\n"
                     "t0 = time.perf_counter()\n"
                     "gc.collect()\n");
}
BENCHMARK(BM_FullCollection1MLive_Python)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

}  // namespace
