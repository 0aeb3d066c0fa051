// Buttons and key handlers. Both are plain records of their own object
// lists; they hold no script references, so freeing them needs no VM. Their
// events are global functions of the script: a record only says which
// input concerns it.
#include "display/buttons.h"

#include <cstring>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/number_conv.h"
#include "core/io/utilities.h"
#include "core/services/check_args.h"
#include "core/services/list_walks.h"
#include "core/services/option_tables.h"
#include "core/services/script_calls.h"
#include "core/vm/vm.h"
#include "display/event_handlers.h"
#include "display/events.h"
#include "display/library_support.h"
#include "display/object_list.h"
#include "platform/posix/os_memory.h"

ButtonRecord* ButtonList;
KeyHandlerRecord* KeyHandlerList;

namespace {

ObjectHeader** Head(ButtonRecord** list) { return reinterpret_cast<ObjectHeader**>(list); }
ObjectHeader** Head(KeyHandlerRecord** list) { return reinterpret_cast<ObjectHeader**>(list); }

int32_t IntArg(VmState* vm, int index) { return DoubleToInt32(VmCheckNumber(vm, index)); }

// A record of the list with that id goes before its successor comes in.
// Both lists call the script while they are walked, so their records go
// through FreeListRecord.
template <typename Record>
void ReplaceExisting(Record** list, ObjectId id)
{
    if (ObjectHeader* old = FindObjectInList(reinterpret_cast<ObjectHeader*>(*list), id)) {
        UnlinkObject(Head(list), old);
        FreeListRecord(old);
    }
}

template <typename Record>
void FreeList(Record** list)
{
    while (*list) {
        Record* r = *list;
        UnlinkObject(Head(list), &r->header);
        FreeListRecord(r);
    }
}

template <typename Record>
Record* NextOf(Record* r)
{
    return reinterpret_cast<Record*>(r->header.next);
}

uint32_t CallEvent(VmState* vm, const char* action, ObjectId id, const QueuedEvent* e)
{
    VmPushCString(vm, action);
    VmGetTable(vm, VM_GLOBALSINDEX);
    bool wanted = VmType(vm, -1) == VM_TFUNCTION;
    VmPop(vm, 1);
    if (!wanted)
        return 0;
    VmPushCString(vm, action);
    VmGetTable(vm, VM_GLOBALSINDEX);
    VmNewTable(vm);
    int t = VmGetTop(vm);
    SetTableString(vm, t, "action", action);
    SetTableObjectId(vm, t, "id", id);
    SetTableInt(vm, t, "x", e->args[0]);
    SetTableInt(vm, t, "y", e->args[1]);
    SetTableInt(vm, t, "key", e->args[2]);
    return VmCall(vm, 1, 0);
}

ObjectId IdOf(const ObjectHeader& h) { return ObjectId{h.id, h.handle}; }

struct NamedKey {
    const char* name;
    int32_t code;
};
constexpr NamedKey kNamedKeys[] = {{"ESC", 27}, {"RETURN", 13}, {"ENTER", 13}, {"SPACE", 32},
                                   {"TAB", 9},  {"BACKSPACE", 8}, {"DEL", 127}};

}  // namespace

int32_t KeyCodeOfName(const char* name)
{
    if (!name || !name[0])
        return -1;
    if (!name[1])
        return static_cast<uint8_t>(name[0]);
    for (const NamedKey& k : kNamedKeys)
        if (StrCaseCmp(k.name, name) == 0)
            return k.code;
    return -1;
}

// CreateButton(id, x1, y1, x2, y2)
uint32_t CmdCreateButton(VmState* vm)
{
    CheckArgs(vm, 5, 5, 0, 0);
    CreateIdArg id = GetCreateIdArg(vm, 1);
    int32_t c[4];
    for (int i = 0; i < 4; ++i)
        c[i] = IntArg(vm, i + 2);
    if (!id.newHandle)
        ReplaceExisting(&ButtonList, id.id);
    auto* r = static_cast<ButtonRecord*>(OsAllocMem(sizeof(ButtonRecord), 1));
    if (!r)
        return ERR_MEM;
    r->x1 = c[0] < c[2] ? c[0] : c[2];
    r->x2 = c[0] < c[2] ? c[2] : c[0];
    r->y1 = c[1] < c[3] ? c[1] : c[3];
    r->y2 = c[1] < c[3] ? c[3] : c[1];
    return AppendCreatedObject(vm, Head(&ButtonList), &r->header, OBJ_BUTTON, id.id, id.newHandle);
}

// CreateKeyDown(id, key): the key as its name or its code.
uint32_t CmdCreateKeyDown(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    CreateIdArg id = GetCreateIdArg(vm, 1);
    int32_t key = VmType(vm, 2) == VM_TNUMBER ? IntArg(vm, 2) : KeyCodeOfName(VmCheckString(vm, 2, nullptr));
    if (key < 0) {
        SetErrorText(VmGetString(vm, 2));
        return ERR_UNKNOWNTAG;
    }
    if (!id.newHandle)
        ReplaceExisting(&KeyHandlerList, id.id);
    auto* r = static_cast<KeyHandlerRecord*>(OsAllocMem(sizeof(KeyHandlerRecord), 1));
    if (!r)
        return ERR_MEM;
    r->key = key;
    return AppendCreatedObject(vm, Head(&KeyHandlerList), &r->header, OBJ_KEYHANDLER, id.id, id.newHandle);
}

uint32_t FindButton(ObjectId id, ButtonRecord** out)
{
    ObjectHeader* h = nullptr;
    uint32_t error = FindObjectOrError(reinterpret_cast<ObjectHeader*>(ButtonList), id, ERR_FINDBUTTON, &h);
    *out = reinterpret_cast<ButtonRecord*>(h);
    return error;
}

uint32_t FindKeyHandler(ObjectId id, KeyHandlerRecord** out)
{
    ObjectHeader* h = nullptr;
    uint32_t error = FindObjectOrError(reinterpret_cast<ObjectHeader*>(KeyHandlerList), id, ERR_FINDARRAY, &h);
    *out = reinterpret_cast<KeyHandlerRecord*>(h);
    return error;
}

uint32_t FireInputObjectEvents(VmState* vm, const QueuedEvent* e)
{
    if (e->type != EVENT_DISPLAY)
        return 0;
    int32_t x = e->args[0], y = e->args[1];
    switch (e->slot) {
    case DEVENT_MOUSEDOWN:
    case DEVENT_RIGHTMOUSEDOWN:
    case DEVENT_MOUSEMOVE:
        return WalkList(ButtonList, NextOf<ButtonRecord>, [&](ButtonRecord* b) -> uint32_t {
            bool inside = x >= b->x1 && x <= b->x2 && y >= b->y1 && y <= b->y2;
            const char* action = nullptr;
            if (e->slot == DEVENT_MOUSEMOVE) {
                if (inside != (b->inside != 0))
                    action = inside ? "onbuttonover" : "onbuttonout";
                b->inside = inside;
            } else if (inside) {
                action = e->slot == DEVENT_MOUSEDOWN ? "onbuttonclick" : "onbuttonrightclick";
            }
            return action ? CallEvent(vm, action, IdOf(b->header), e) : 0;
        });
    case DEVENT_KEYDOWN:
        return WalkList(KeyHandlerList, NextOf<KeyHandlerRecord>, [&](KeyHandlerRecord* k) -> uint32_t {
            return k->key == e->args[2] ? CallEvent(vm, "onkeydown", IdOf(k->header), e) : 0;
        });
    default: return 0;
    }
}

void FreeInputObjects(VmState*)
{
    FreeList(&ButtonList);
    FreeList(&KeyHandlerList);
}
