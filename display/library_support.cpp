// Library registration for the display, event, picture, drawing, transition
// and media libraries.
#include "display/library_support.h"

#include "core/io/error_codes.h"
#include "core/services/arg_helpers.h"
#include "core/services/command_services.h"

uint32_t RegisterCommandTable(VmState* vm, const char* name, const CommandTableEntry* commands)
{
    if (vm) {
        // Into the globals: scripts call commands as global functions.
        VmPushValue(vm, VM_GLOBALSINDEX);
        VmRegisterLibrary(vm, nullptr, commands, 0);
    }
    return RegisterLibrary(commands, name);
}

uint32_t UnimplementedCommand(VmState*) { return ERR_UNIMPLCMD; }

CreateIdArg GetCreateIdArg(VmState* vm, int index)
{
    int type = VmType(vm, index);
    if (type == VM_TNIL || type == VM_TNONE) return CreateIdArg{ObjectId{0, 0}, true};
    return CreateIdArg{GetObjectIdArg(vm, index), false};
}
