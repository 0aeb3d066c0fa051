// Object registry: the list of per-type object lists, and the lookups that
// walk them. There is no index: lookups go through the registry in
// registration order and each list from its head, and the first match wins,
// which keeps the answer stable when a list is registered more than once.
#include "core/services/object_registry.h"

#include "core/io/error_codes.h"
#include "platform/posix/os_memory.h"

#include <cstring>

namespace {

ObjectTypeNode* typeRegistry = nullptr;
uint32_t nextPluginTypeId = OBJ_FIRST_PLUGIN_TYPE;

ObjectHeader* FirstRecord(const ObjectTypeNode* node)
{
    return node->listHead ? *static_cast<ObjectHeader**>(node->listHead) : nullptr;
}

// Calls `visit` for every record of every registered list until it answers
// true; returns that record. A template, so that the lookups every command
// makes stay plain loops.
template <typename Visit>
ObjectHeader* FindRecord(Visit visit)
{
    for (ObjectTypeNode* node = typeRegistry; node; node = node->next)
        for (ObjectHeader* record = FirstRecord(node); record; record = record->next)
            if (visit(record))
                return record;
    return nullptr;
}

} // namespace

ObjectHeader* ForEachObjectRecord(const std::function<bool(ObjectHeader*)>& visit)
{
    return FindRecord(visit);
}

uint32_t RegisterObjectList(void* listHead)
{
    return RegisterObjectType(listHead, nullptr, nullptr, nullptr, 0);
}

uint32_t RegisterObjectType(void* listHead, const char* name, ObjectAttrHandler attrHandler,
                            uint32_t* outTypeId, uint32_t foreign)
{
    auto* node = static_cast<ObjectTypeNode*>(OsAllocMem(sizeof(ObjectTypeNode), 1));
    if (!node)
        return ERR_MEM;
    node->listHead = listHead;
    if (name) {
        size_t length = std::strlen(name);
        node->name = static_cast<char*>(OsAllocMem(length + 1, 0));
        if (!node->name) {
            OsFreeMem(node);
            return ERR_MEM;
        }
        std::memcpy(node->name, name, length + 1);
        node->typeId = nextPluginTypeId++;
        node->attrHandler = attrHandler;
        node->foreign = foreign;
        if (outTypeId)
            *outTypeId = node->typeId;
    }
    ObjectTypeNode** link = &typeRegistry;
    while (*link)
        link = &(*link)->next;
    *link = node;
    return 0;
}

uint32_t GetPluginObjectTypeCount()
{
    return nextPluginTypeId - OBJ_FIRST_PLUGIN_TYPE;
}

uint32_t CountObjectsOfType(uint32_t type)
{
    uint32_t count = 0;
    FindRecord([&](ObjectHeader* record) {
        count += record->type == type;
        return false;
    });
    return count;
}

int32_t GetObjectTypeOf(uintptr_t handle)
{
    if (!handle)
        return -1;
    ObjectHeader* record = FindRecord([&](ObjectHeader* r) { return r->handle == handle; });
    return record ? static_cast<int32_t>(record->type) : -1;
}

ObjectHeader* FindObjectOfType(uint32_t type, ObjectId objectId)
{
    // A numeric id never matches an object that was made with Nil: its id
    // word means nothing, and a script must not reach it by guessing.
    return FindRecord([&](ObjectHeader* r) {
        if (r->type != type)
            return false;
        if (objectId.handle)
            return r->handle == objectId.handle;
        return r->handle == 0 && r->id == objectId.id;
    });
}

int CallObjectTypeHandler(void* context, uint32_t type, intptr_t a, intptr_t b)
{
    for (ObjectTypeNode* node = typeRegistry; node; node = node->next) {
        if (!node->name || node->typeId != type || !node->attrHandler)
            continue;
        if (node->foreign)
            return 0;  // the foreign-call stub's answer
        return node->attrHandler(context, a, b);
    }
    return ERR_WRONGUSAGE;
}

void FreeObjectTypeRegistry()
{
    ObjectTypeNode* node = typeRegistry;
    typeRegistry = nullptr;
    while (node) {
        ObjectTypeNode* next = node->next;
        OsFreeMem(node->name);
        OsFreeMem(node);
        node = next;
    }
    nextPluginTypeId = OBJ_FIRST_PLUGIN_TYPE;
}
