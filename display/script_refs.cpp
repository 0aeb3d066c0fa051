// Registry references held by display, event and media records.
#include "display/script_refs.h"

void ReleaseRegistryRef(VmState* vm, int32_t ref)
{
    if (!vm || ref < 0) return;
}

void ReleaseObjectData(VmState* vm, ObjectHeader* record)
{
    if (!vm || !record) return;
}

CoreContext* RunContextOf(VmState* vm)
{
    if (!vm) return nullptr;
    return nullptr;
}
