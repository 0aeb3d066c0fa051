// The interpreter against python3 on the same machine in the same run:
// recursive fib(27), a 10M-iteration numeric for loop, filling and reading
// a 1M-entry table, and building a 1 MB string by concatenation. Compare
// each VM figure with its Python twin.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <string>
#include <vector>

#include "bench/python_peer.h"
#include "core/vm/vm.h"
#include "tools/qmasm/assembler.h"

namespace {

const char* const kFib = R"(
.function fib params=1
    LT 1, r0, #2
    JMP small
    GETGLOBAL r1, "fib"
    SUB r2, r0, #1
    CALL r1, 2, 2
    GETGLOBAL r2, "fib"
    SUB r3, r0, #2
    CALL r2, 2, 2
    ADD r1, r1, r2
    RETURN r1, 2
small: RETURN r0, 2
.end
    CLOSURE r0, fib
    SETGLOBAL r0, "fib"
    LOADK r1, #27
    CALL r0, 2, 2
    RETURN r0, 2
)";

const char* const kLoop = R"(
    LOADNUM r0, 0
    LOADNUM r1, 0
    LOADK r2, #10000000
    LOADNUM r3, 1
    JMP test
body: ADD r0, r0, r1
test: FORLOOP r1, body
    RETURN r0, 2
)";

const char* const kTable = R"(
    NEWTABLE r0, 0, 0
    LOADNUM r1, 0
    LOADK r2, #1000000
    LOADNUM r3, 1
    JMP t1
b1: SETTABLE r0, r1, r1
t1: FORLOOP r1, b1
    LOADNUM r4, 0
    LOADNUM r1, 0
    JMP t2
b2: GETTABLE r5, r0, r1
    ADD r4, r4, r5
t2: FORLOOP r1, b2
    RETURN r4, 2
)";

// 1 MB from 4 KB pieces.
const std::string kString = std::string(R"(
    LOADK r0, ""
    LOADK r6, ")") + std::string(4096, 'x') + R"("
    LOADNUM r1, 0
    LOADK r2, #256
    LOADNUM r3, 1
    JMP test
body: MOVE r5, r0
    CONCAT r0, r5, r6
test: FORLOOP r1, body
    RETURN r0, 2
)";

const char* const kPyFib = "def fib(n):\n    return n if n < 2 else fib(n-1) + fib(n-2)\nfib(27)\n";
const char* const kPyLoop = "s = 0\nfor i in range(1, 10000001):\n    s += i\n";
const char* const kPyTable =
    "t = {}\nfor i in range(1, 1000001):\n    t[i] = i\ns = 0\nfor i in range(1, 1000001):\n    s += t[i]\n";
const char* const kPyString = "s = ''\np = 'x' * 4096\nfor i in range(256):\n    s = s + p\n";

struct Input {
    const std::vector<uint8_t>* bytes;
    bool done;
};

const char* Read(VmState*, void* data, size_t* size)
{
    auto* in = static_cast<Input*>(data);
    if (in->done) {
        *size = 0;
        return nullptr;
    }
    in->done = true;
    *size = in->bytes->size();
    return reinterpret_cast<const char*>(in->bytes->data());
}

void RunVm(benchmark::State& state, const std::string& text)
{
    qmasm::AssembleResult r = qmasm::Assemble(text);
    if (!r.ok) {
        state.SkipWithError(r.message.c_str());
        return;
    }
    VmState* L = VmOpenState();
    Input in{&r.bytes, false};
    if (VmLoad(L, Read, &in, "=bench") != 0) {
        state.SkipWithError("load failed");
        VmCloseState(L);
        return;
    }
    for (auto _ : state) {
        VmPushValue(L, 1);
        if (VmPCall(L, 0, 1, 0) != 0) {
            state.SkipWithError("run failed");
            break;
        }
        VmPop(L, 1);
    }
    VmCloseState(L);
}

void BM_Fib27_Vm(benchmark::State& s) { RunVm(s, kFib); }
void BM_Fib27_Python(benchmark::State& s) { RunPython(s, kPyFib); }
void BM_Loop10M_Vm(benchmark::State& s) { RunVm(s, kLoop); }
void BM_Loop10M_Python(benchmark::State& s) { RunPython(s, kPyLoop); }
void BM_Table1M_Vm(benchmark::State& s) { RunVm(s, kTable); }
void BM_Table1M_Python(benchmark::State& s) { RunPython(s, kPyTable); }
void BM_String1MB_Vm(benchmark::State& s) { RunVm(s, kString); }
void BM_String1MB_Python(benchmark::State& s) { RunPython(s, kPyString); }

BENCHMARK(BM_Fib27_Vm)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Fib27_Python)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
BENCHMARK(BM_Loop10M_Vm)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Loop10M_Python)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
BENCHMARK(BM_Table1M_Vm)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Table1M_Python)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
BENCHMARK(BM_String1MB_Vm)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_String1MB_Python)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

}  // namespace
