// Registry references held by display, event and media records. They live
// at integer keys of the registry from a base of their own, far above the
// small numbers that other reference users count up from, so that the two
// never meet.
#include "display/script_refs.h"

#include <vector>

#include "core/run_records.h"
#include "core/vm/vm.h"

namespace {

constexpr int32_t kRefBase = 1 << 30;
int32_t g_nextRef = kRefBase;
std::vector<int32_t> g_freeRefs;

}  // namespace

int32_t TakeRegistryRef(VmState* vm)
{
    if (VmType(vm, -1) == VM_TNIL) {
        VmPop(vm, 1);
        return -1;
    }
    int32_t ref;
    if (!g_freeRefs.empty()) {
        ref = g_freeRefs.back();
        g_freeRefs.pop_back();
    } else {
        ref = g_nextRef++;
    }
    VmRawSetI(vm, VM_REGISTRYINDEX, ref);
    return ref;
}

void PushRegistryRef(VmState* vm, int32_t ref)
{
    if (ref < 0) VmPushNil(vm);
    else VmRawGetI(vm, VM_REGISTRYINDEX, ref);
}

void ReleaseRegistryRef(VmState* vm, int32_t ref)
{
    if (!vm || ref < kRefBase) return;
    VmPushNil(vm);
    VmRawSetI(vm, VM_REGISTRYINDEX, ref);
    g_freeRefs.push_back(ref);
}

void ReleaseObjectData(VmState* vm, ObjectHeader* record)
{
    // Object data arrives with the SetObjectData commands; until a record
    // carries some there is nothing to release.
    (void)vm;
    (void)record;
}

CoreContext* RunContextOf(VmState* vm) { return vm ? GetClargsTable(vm) : nullptr; }
