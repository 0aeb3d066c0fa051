// Menu trees made by CreateMenu: the items a display's menu strip offers.
// A display names its menu by id ("menu" of CreateDisplay); the tree itself
// is kept here until the script or shutdown frees it.
#pragma once

#include <cstdint>

#include "core/services/object_registry.h"

struct VmState;

struct MenuItem {
    MenuItem* next;
    char* label;   // owned
    char* hotkey;  // owned, null when none
    char* itemId;  // owned, null when none
    uint32_t flags;
    MenuItem* submenu;
};

struct MenuRecord {
    ObjectHeader header;
    MenuItem* items;
    uint32_t itemCount;  // over all levels
};

extern MenuRecord* MenuList;

// CreateMenu(id, tree): an array of items, each an array {label,
// submenu} with optional "flags", "hotkey" and "id".
uint32_t CmdCreateMenu(VmState* vm);
uint32_t FindMenu(ObjectId id, MenuRecord** out);
void FreeAllMenus();
