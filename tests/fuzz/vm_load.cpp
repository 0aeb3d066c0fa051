// Fuzzing the chunk loader: every input either fails to load with an error
// code or gives a verified function, which then runs (bounded by a count
// hook) without touching memory outside the VM's own.
#include <cstddef>
#include <cstdint>

#include "core/vm/error_hooks.h"
#include "core/vm/interpreter.h"
#include "core/vm/opcodes.h"
#include "core/vm/value.h"
#include "core/vm/vm.h"

namespace {

struct Input {
    const uint8_t* data;
    size_t size;
    bool done;
};

const char* Read(VmState*, void* d, size_t* size)
{
    auto* in = static_cast<Input*>(d);
    if (in->done || in->size == 0) {
        *size = 0;
        return nullptr;
    }
    in->done = true;
    *size = in->size;
    return reinterpret_cast<const char*>(in->data);
}

// Runs are bounded in steps and in memory (the fuzzer's own limit would
// count a script that merely allocates a lot as a failure).
int StepsLeft;
constexpr uint32_t kMemoryLimitKb = 256 * 1024;

void CountStep(VmState* L, VmDebugRecord*, uint32_t* code)
{
    if (--StepsLeft <= 0 || VmGetGCCount(L) > kMemoryLimitKb)
        *code = 1003;  // user abort
}

// Functions that create tables too big to take in one step are only loaded.
bool CreatesHugeTables(const VmProto* p)
{
    for (int i = 0; i < p->sizeCode; i++) {
        uint32_t in = p->code[i];
        if (VmOp(in) == OP_NEWTABLE && (VmArgC(in) > 12 || (VmArgB(in) >> 3) > 9))
            return true;
    }
    for (int i = 0; i < p->sizeP; i++) {
        if (CreatesHugeTables(p->p[i]))
            return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    VmGosubDepth = 0;
    VmAbortFlag = 0;
    VmState* L = VmOpenState();
    if (!L)
        return 0;
    Input in{data, size, false};
    if (VmLoad(L, Read, &in, "=fuzz") == 0 && !CreatesHugeTables(VmFuncValue(L->top - 1)->proto)) {
        StepsLeft = 100000;
        VmSetHook(L, CountStep, VM_MASKCOUNT, 1);
        VmPCall(L, 0, VM_MULTRET, 0);
    }
    VmCloseState(L);
    return 0;
}
