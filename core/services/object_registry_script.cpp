// Listing the ids of one object type into a script table.
#include "core/services/object_registry.h"

#include "core/services/arg_helpers.h"
#include "core/vm/vm.h"

uint32_t PushObjectsOfType(VmState* vm, uint32_t type)
{
    uint32_t count = 0;
    ForEachObjectRecord([&](ObjectHeader* record) {
        if (record->type == type) {
            VmPushNumber(vm, count++);
            PushObjectId(vm, ObjectId{record->id, record->handle});
            VmRawSet(vm, -3);
        }
        return false;
    });
    return count;
}
