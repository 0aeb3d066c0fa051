// Fuzzing the chunk loader: every input either fails to load with an error
// code or gives a verified function, which then runs (bounded by a count
// hook) without touching memory outside the VM's own.
#include <cstddef>
#include <cstdint>

#include "core/vm/error_hooks.h"
#include "core/vm/interpreter.h"
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

void StopAfterBudget(VmState*, VmDebugRecord*, uint32_t* code)
{
    *code = 1003;  // user abort
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
    if (VmLoad(L, Read, &in, "=fuzz") == 0) {
        VmSetHook(L, StopAfterBudget, VM_MASKCOUNT, 200000);
        VmPCall(L, 0, VM_MULTRET, 0);
    }
    VmCloseState(L);
    return 0;
}
