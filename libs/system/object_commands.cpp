// Object queries and per-object data of the "system" library. Each value a
// script attaches to an object is kept alive by a registry reference held
// in the object's data list; the entry and its key text share one
// allocation.
#include <cstring>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/services/arg_helpers.h"
#include "core/services/check_args.h"
#include "display/display.h"
#include "display/layers.h"
#include "libs/system/system_library.h"
#include "platform/posix/os_memory.h"

namespace {

uint32_t FindObjectArg(VmState* vm, int typeIndex, int idIndex, ObjectHeader** out)
{
    auto type = static_cast<uint32_t>(VmCheckInteger(vm, typeIndex));
    // Layers live in their picture's layer list, not on an object list; a
    // layer's data list is in its own record.
    if (type == OBJ_LAYER) {
        Layer* layer = nullptr;
        uint32_t error = FindLayerArg(vm, idIndex, &layer);
        *out = layer ? &layer->header : nullptr;
        return error;
    }
    ObjectId id = GetObjectIdArg(vm, idIndex);
    *out = FindObjectOfType(type, id);
    return *out ? 0u : uint32_t{ERR_FINDARRAY};
}

uint32_t KeyArg(VmState* vm, int index, const char** out)
{
    size_t length;
    *out = VmCheckString(vm, index, &length);
    return length ? 0u : static_cast<uint32_t>(ERR_WRONGUSAGE);
}

ObjectDataEntry* FindEntry(ObjectHeader* object, const char* key)
{
    for (ObjectDataEntry* e = object->dataList; e; e = e->next)
        if (std::strcmp(e->key, key) == 0)
            return e;
    return nullptr;
}

// Stores the value on top of the stack (popped) under key.
uint32_t StoreValue(VmState* vm, ObjectHeader* object, const char* key)
{
    if (ObjectDataEntry* e = FindEntry(object, key)) {
        VmUnrefValue(vm, VM_REGISTRYINDEX, e->ref);
        e->ref = VmRefValue(vm, VM_REGISTRYINDEX);
        return 0;
    }
    size_t keyLength = std::strlen(key);
    auto* e = static_cast<ObjectDataEntry*>(OsAllocMem(sizeof(ObjectDataEntry) + keyLength + 1, 1));
    if (!e) {
        VmPop(vm, 1);
        return ERR_MEM;
    }
    char* text = reinterpret_cast<char*>(e + 1);
    std::memcpy(text, key, keyLength + 1);
    e->key = text;
    e->ref = VmRefValue(vm, VM_REGISTRYINDEX);
    ObjectDataEntry** link = &object->dataList;
    while (*link)
        link = &(*link)->next;
    *link = e;
    return 0;
}

void RemoveEntry(VmState* vm, ObjectHeader* object, ObjectDataEntry* entry)
{
    ObjectDataEntry** link = &object->dataList;
    while (*link != entry)
        link = &(*link)->next;
    *link = entry->next;
    VmUnrefValue(vm, VM_REGISTRYINDEX, entry->ref);
    OsFreeMem(entry);
}

uint32_t MissingKey(const char* key)
{
    SetErrorText(key);
    return ERR_FINDOBJECTDATA;
}

}  // namespace

uint32_t CmdGetObjectType(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    auto handle = VmType(vm, 1) == VM_TLIGHTUSERDATA ? reinterpret_cast<uintptr_t>(VmGetUserdata(vm, 1)) : 0;
    VmPushNumber(vm, GetObjectTypeOf(handle));
    return 1;
}

uint32_t CmdGetObjects(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    auto type = static_cast<uint32_t>(VmCheckInteger(vm, 1));
    VmNewTable(vm);
    VmPushNumber(vm, PushObjectsOfType(vm, type));
    return 2;
}

uint32_t CmdHaveObject(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    ObjectHeader* object;
    VmPushNumber(vm, FindObjectArg(vm, 1, 2, &object) == 0 ? 1 : 0);
    return 1;
}

uint32_t CmdSetObjectData(VmState* vm)
{
    CheckArgs(vm, 4, 4, 0, 0);
    ObjectHeader* object;
    const char* key;
    if (uint32_t code = KeyArg(vm, 3, &key))
        return code;
    if (uint32_t code = FindObjectArg(vm, 1, 2, &object))
        return code;
    VmSetTop(vm, 4);
    return StoreValue(vm, object, key);
}

uint32_t CmdGetObjectData(VmState* vm)
{
    CheckArgs(vm, 3, 3, 0, 0);
    ObjectHeader* object;
    const char* key;
    if (uint32_t code = KeyArg(vm, 3, &key))
        return code;
    if (uint32_t code = FindObjectArg(vm, 1, 2, &object))
        return code;
    ObjectDataEntry* e = FindEntry(object, key);
    if (!e)
        return MissingKey(key);
    VmPushRef(vm, VM_REGISTRYINDEX, e->ref);
    return 1;
}

uint32_t CmdHaveObjectData(VmState* vm)
{
    CheckArgs(vm, 3, 3, 0, 0);
    ObjectHeader* object;
    const char* key;
    if (uint32_t code = KeyArg(vm, 3, &key))
        return code;
    if (uint32_t code = FindObjectArg(vm, 1, 2, &object))
        return code;
    VmPushNumber(vm, FindEntry(object, key) ? 1 : 0);
    return 1;
}

uint32_t CmdClearObjectData(VmState* vm)
{
    CheckArgs(vm, 2, 3, 0, 0);
    ObjectHeader* object;
    const char* key = nullptr;
    if (VmType(vm, 3) != VM_TNONE) {
        if (uint32_t code = KeyArg(vm, 3, &key))
            return code;
    }
    if (uint32_t code = FindObjectArg(vm, 1, 2, &object))
        return code;
    if (!key) {
        FreeObjectDataList(vm, &object->dataList);
        return 0;
    }
    ObjectDataEntry* e = FindEntry(object, key);
    if (!e)
        return MissingKey(key);
    RemoveEntry(vm, object, e);
    return 0;
}

uint32_t CmdCopyObjectData(VmState* vm)
{
    CheckArgs(vm, 4, 5, 0, 0);
    ObjectHeader* source;
    ObjectHeader* target;
    const char* key = nullptr;
    if (VmType(vm, 5) != VM_TNONE) {
        if (uint32_t code = KeyArg(vm, 5, &key))
            return code;
    }
    if (uint32_t code = FindObjectArg(vm, 1, 2, &source))
        return code;
    if (uint32_t code = FindObjectArg(vm, 3, 4, &target))
        return code;
    if (key) {
        ObjectDataEntry* e = FindEntry(source, key);
        if (!e)
            return MissingKey(key);
        VmPushRef(vm, VM_REGISTRYINDEX, e->ref);
        return StoreValue(vm, target, key);
    }
    if (source == target)
        return 0;
    for (ObjectDataEntry* e = source->dataList; e; e = e->next) {
        VmPushRef(vm, VM_REGISTRYINDEX, e->ref);
        if (uint32_t code = StoreValue(vm, target, e->key))
            return code;
    }
    return 0;
}
