// Registry references held by display, event and media records, through
// the library glue's reference mechanism on the registry.
#include "display/script_refs.h"

#include "core/services/object_registry.h"
#include "core/startup/run_records.h"
#include "core/vm/library_glue.h"
#include "core/vm/vm.h"

int32_t TakeRegistryRef(VmState* vm) { return VmRefValue(vm, VM_REGISTRYINDEX); }

void PushRegistryRef(VmState* vm, int32_t ref) { VmPushRef(vm, VM_REGISTRYINDEX, ref); }

void ReleaseRegistryRef(VmState* vm, int32_t ref)
{
    if (vm && ref != VM_NOREF) VmUnrefValue(vm, VM_REGISTRYINDEX, ref);
}

void ReleaseObjectData(VmState* vm, ObjectHeader* record)
{
    if (record) FreeObjectDataList(vm, &record->dataList);
}

CoreContext* RunContextOf(VmState* vm) { return vm ? GetClargsTable(vm) : nullptr; }
