// What the libraries of displays, events, pictures, drawing, transitions and
// media share when they open: their command tables, the registration of a
// table with the VM (the global table of the library's name, commands under
// their lower-cased names) and with the command services' library list, and
// the handler of commands whose subsystem does not exist in this player.
#pragma once

#include <cstdint>

#include "core/services/object_registry.h"
#include "core/vm/library_glue.h"
#include "core/vm/vm.h"

// Registers the table: every command becomes a global function (the VM
// looks commands up as globals) and the library joins the library list.
// 0 or ERR_MEM.
uint32_t RegisterCommandTable(VmState* vm, const char* name, const CommandTableEntry* commands);

// The handler of a command that this player does not implement.
uint32_t UnimplementedCommand(VmState* vm);

// Argument 1 of a creating command: an id, or Nil for a new handle.
struct CreateIdArg {
    ObjectId id;
    bool newHandle;
};
CreateIdArg GetCreateIdArg(VmState* vm, int index);
