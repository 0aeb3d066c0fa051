// Object-list helpers shared by the libraries of displays, events and media.
#include "display/object_list.h"

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/vm/vm.h"

void AppendObject(ObjectHeader** head, ObjectHeader* record, uint32_t type, ObjectId id,
                  bool useHandle)
{
    record->type = type;
    record->id = useHandle ? 0 : id.id;
    record->handle = useHandle ? reinterpret_cast<uintptr_t>(record) : id.handle;
    record->next = nullptr;
    ObjectHeader** link = head;
    while (*link) link = &(*link)->next;
    *link = record;
}

uint32_t AppendCreatedObject(VmState* vm, ObjectHeader** head, ObjectHeader* record, uint32_t type, ObjectId id,
                             bool newHandle)
{
    AppendObject(head, record, type, id, newHandle);
    if (!newHandle)
        return 0;
    VmPushLightUserdata(vm, record);
    return 1;
}

bool UnlinkObject(ObjectHeader** head, ObjectHeader* record)
{
    for (ObjectHeader** link = head; *link; link = &(*link)->next) {
        if (*link == record) {
            *link = record->next;
            record->next = nullptr;
            return true;
        }
    }
    return false;
}

ObjectHeader* FindObjectInList(ObjectHeader* head, ObjectId id)
{
    for (ObjectHeader* r = head; r; r = r->next) {
        if (id.handle ? r->handle == id.handle : (r->handle == 0 && r->id == id.id)) return r;
    }
    return nullptr;
}

uint32_t FindObjectOrError(ObjectHeader* head, ObjectId id, uint32_t notFoundCode,
                           ObjectHeader** out)
{
    *out = FindObjectInList(head, id);
    if (*out) return 0;
    if (id.handle) return ERR_FINDARRAY;
    // The message names the id ("... %ld").
    SetErrorArgNumber(static_cast<int32_t>(id.id));
    return notFoundCode;
}
