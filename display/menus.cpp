// Menu trees. A tree is read from the script's table in one pass into
// owned records; a malformed item leaves nothing behind. Depth and size are
// bounded, so that a hostile table cannot exhaust the stack.
#include "display/menus.h"

#include <cstring>

#include "core/io/error_codes.h"
#include "core/io/number_conv.h"
#include "core/services/check_args.h"
#include "core/vm/vm.h"
#include "display/library_support.h"
#include "display/object_list.h"
#include "platform/posix/os_memory.h"

MenuRecord* MenuList;

namespace {

constexpr uint32_t kMaxMenuDepth = 32;
constexpr uint32_t kMaxMenuItems = 4096;

ObjectHeader** Head() { return reinterpret_cast<ObjectHeader**>(&MenuList); }

char* CopyText(const char* text)
{
    size_t n = std::strlen(text);
    auto* copy = static_cast<char*>(OsAllocMem(n + 1, 0));
    if (copy)
        std::memcpy(copy, text, n + 1);
    return copy;
}

void FreeItems(MenuItem* item)
{
    while (item) {
        MenuItem* next = item->next;
        FreeItems(item->submenu);
        OsFreeMem(item->label);
        OsFreeMem(item->hotkey);
        OsFreeMem(item->itemId);
        OsFreeMem(item);
        item = next;
    }
}

void FreeRecord(MenuRecord* r)
{
    UnlinkObject(Head(), &r->header);
    FreeItems(r->items);
    OsFreeMem(r);
}

// The string field `key` of the table at `t` copied, or null; false when
// it is there but no string, or out of memory.
bool OptionalText(VmState* vm, int t, const char* key, char** out)
{
    VmPushCString(vm, key);
    VmRawGet(vm, t);
    bool ok = true;
    if (VmType(vm, -1) == VM_TSTRING)
        ok = (*out = CopyText(VmGetString(vm, -1))) != nullptr;
    else if (VmType(vm, -1) != VM_TNIL)
        ok = false;
    VmPop(vm, 1);
    return ok;
}

// Reads the array of items at stack index `level` into *out.
uint32_t ReadLevel(VmState* vm, int level, uint32_t depth, uint32_t* count, MenuItem** out)
{
    if (depth > kMaxMenuDepth)
        return ERR_MENUCOMPLEXITY;
    if (!VmCheckStack(vm, 4))
        return ERR_MEM;
    MenuItem** tail = out;
    for (int i = 1;; ++i) {
        VmRawGetI(vm, level, i);
        if (VmType(vm, -1) == VM_TNIL) {
            VmPop(vm, 1);
            return i == 1 ? uint32_t{ERR_EMPTYMENUTREE} : 0u;
        }
        if (VmType(vm, -1) != VM_TTABLE || ++*count > kMaxMenuItems) {
            VmPop(vm, 1);
            return *count > kMaxMenuItems ? uint32_t{ERR_MENUCOMPLEXITY} : uint32_t{ERR_TABEXPECTED};
        }
        int t = VmGetTop(vm);
        auto* item = static_cast<MenuItem*>(OsAllocMem(sizeof(MenuItem), 1));
        if (!item)
            return ERR_MEM;
        *tail = item;
        tail = &item->next;
        VmRawGetI(vm, t, 1);
        if (VmType(vm, -1) != VM_TSTRING) {
            VmPop(vm, 2);
            return ERR_STREXPECTED;
        }
        item->label = CopyText(VmGetString(vm, -1));
        VmPop(vm, 1);
        if (!item->label || !OptionalText(vm, t, "hotkey", &item->hotkey) || !OptionalText(vm, t, "id", &item->itemId)) {
            VmPop(vm, 1);
            return ERR_WRONGUSAGE;
        }
        VmPushCString(vm, "flags");
        VmRawGet(vm, t);
        if (VmType(vm, -1) == VM_TNUMBER)
            item->flags = DoubleToLow32(VmGetNumber(vm, -1));
        VmPop(vm, 1);
        VmRawGetI(vm, t, 2);
        uint32_t error = 0;
        if (VmType(vm, -1) == VM_TTABLE)
            error = ReadLevel(vm, VmGetTop(vm), depth + 1, count, &item->submenu);
        VmPop(vm, 2);
        if (error)
            return error;
    }
}

}  // namespace

uint32_t CmdCreateMenu(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    CreateIdArg id = GetCreateIdArg(vm, 1);
    VmCheckTable(vm, 2);
    MenuItem* items = nullptr;
    uint32_t count = 0;
    int top = VmGetTop(vm);
    uint32_t error = ReadLevel(vm, 2, 1, &count, &items);
    VmSetTop(vm, top);
    if (error) {
        FreeItems(items);
        return error;
    }
    auto* r = static_cast<MenuRecord*>(OsAllocMem(sizeof(MenuRecord), 1));
    if (!r) {
        FreeItems(items);
        return ERR_MEM;
    }
    if (!id.newHandle)
        if (ObjectHeader* old = FindObjectInList(reinterpret_cast<ObjectHeader*>(MenuList), id.id))
            FreeRecord(reinterpret_cast<MenuRecord*>(old));
    r->items = items;
    r->itemCount = count;
    return AppendCreatedObject(vm, Head(), &r->header, OBJ_MENU, id.id, id.newHandle);
}

uint32_t FindMenu(ObjectId id, MenuRecord** out)
{
    ObjectHeader* h = nullptr;
    uint32_t error = FindObjectOrError(reinterpret_cast<ObjectHeader*>(MenuList), id, ERR_FINDMENU, &h);
    *out = reinterpret_cast<MenuRecord*>(h);
    return error;
}

void FreeAllMenus()
{
    while (MenuList)
        FreeRecord(MenuList);
}
