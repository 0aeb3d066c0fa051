// A plugin library's commands and constants in the VM: commands as native
// functions in the table of their base name (lower-cased, so that scripts
// call them in any case), constants in the registry's "userconstants".
#include <string>

#include "core/io/case_tables.h"
#include "core/plugins/plugin_manager.h"
#include "core/vm/vm.h"

namespace {

std::string LowerCased(const char* text)
{
    std::string lower = text;
    for (char& c : lower)
        c = static_cast<char>(ToLowerLatin1(static_cast<uint8_t>(c)));
    return lower;
}

// Pushes t[name] of the table at index, creating it as a new table when nil.
void PushTableField(VmState* vm, int index, const char* name)
{
    VmPushString(vm, name);
    VmGetTable(vm, index);
    if (VmType(vm, -1) == VM_TNIL) {
        VmPop(vm, 1);
        VmNewTable(vm);
        VmPushString(vm, name);
        VmPushValue(vm, -2);
        VmSetTable(vm, index < 0 && index > VM_REGISTRYINDEX ? index - 2 : index);
    }
}

} // namespace

bool RegisterPluginCommands(VmState* vm, const char* baseName, const QmCommandEntry* commands)
{
    bool any = false;
    for (const QmCommandEntry* entry = commands; entry->name; ++entry)
        any = any || entry->function;
    if (!any)
        return false;
    if (baseName)
        PushTableField(vm, VM_GLOBALSINDEX, baseName);
    else
        VmPushValue(vm, VM_GLOBALSINDEX);
    for (const QmCommandEntry* entry = commands; entry->name; ++entry) {
        if (!entry->function)
            continue;
        VmPushString(vm, LowerCased(entry->name).c_str());
        VmPushNativeFunction(vm, entry->function);
        VmSetTable(vm, -3);
    }
    VmPop(vm, 1);
    return true;
}

void RegisterPluginConstants(VmState* vm, const QmConstantEntry* constants)
{
    PushTableField(vm, VM_REGISTRYINDEX, "userconstants");
    for (const QmConstantEntry* entry = constants; entry->name; ++entry) {
        VmPushString(vm, LowerCased(entry->name).c_str());
        if (entry->stringValue)
            VmPushString(vm, entry->stringValue);
        else
            VmPushNumber(vm, entry->numberValue);
        VmSetTable(vm, -3);
    }
    VmPop(vm, 1);
}
