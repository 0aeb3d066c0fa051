// Call levels for the error report, through the VM's debug interface.
#include "core/services/call_levels.h"

#include "core/vm/vm.h"

bool GetCallLevel(VmState* vm, int level, CallLevel* out)
{
    VmDebugRecord record = {};
    if (!VmGetStack(vm, level, &record) || !VmGetInfo(vm, "Sln", &record))
        return false;
    out->what = record.what;
    out->source = record.source;
    out->name = record.name;
    out->nameWhat = record.nameWhat;
    out->currentLine = record.currentLine;
    return true;
}
