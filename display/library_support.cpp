// Library registration for the display, event, picture, drawing, transition
// and media libraries.
#include "display/library_support.h"

#include <cstring>

#include "core/arg_helpers.h"
#include "core/command_services.h"
#include "core/io/case_tables.h"
#include "core/io/error_codes.h"

uint32_t RegisterCommandTable(VmState* vm, const char* name, const CommandTableEntry* commands)
{
    if (vm) {
        char lower[128];
        for (const CommandTableEntry* c = commands; c->name; ++c) {
            if (!c->function) continue;
            size_t n = std::strlen(c->name);
            if (n >= sizeof lower) continue;
            for (size_t i = 0; i <= n; ++i) lower[i] = static_cast<char>(LowerCaseTable[static_cast<uint8_t>(c->name[i])]);
            VmPushString(vm, lower);
            VmPushNativeFunction(vm, c->function);
            VmSetTable(vm, VM_GLOBALSINDEX);
        }
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
