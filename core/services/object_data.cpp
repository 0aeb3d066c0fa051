// Releasing the values scripts attached to an object record.
#include "core/services/object_registry.h"
#include "core/vm/library_glue.h"
#include "platform/posix/os_memory.h"

void FreeObjectDataList(VmState* vm, ObjectDataEntry** list)
{
    while (ObjectDataEntry* entry = *list) {
        *list = entry->next;
        if (vm)
            VmUnrefValue(vm, VM_REGISTRYINDEX, entry->ref);
        OsFreeMem(entry);
    }
}
