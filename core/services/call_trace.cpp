// The call trace of native calls (see the header).
#include "core/services/call_trace.h"

#include <string>

#include "core/io/utilities.h"
#include "core/services/call_levels.h"
#include "core/services/command_services.h"
#include "core/startup/startup.h"
#include "core/vm/error_hooks.h"
#include "core/vm/vm.h"

void TraceNativeCall(VmState* vm)
{
    if (!Startup.debugOutput || CoreTags.quietFlag || VmAbortFlag.load())
        return;
    int n = VmGetTop(vm);
    CallLevel level{};
    if (GetCallLevel(vm, 0, &level) && level.name)
        DebugPrintf("Now calling %s()", level.name);
    else if (n == 2 && VmIsString(vm, 2))
        DebugPrintf("Now trying to find metamethod %s()", std::string(VmGetString(vm, 2), VmGetStringLength(vm, 2)).c_str());
    else
        DebugPrintf("Now calling <unknown>()");
    if (n > 0)
        DebugPrintf(" with arguments ");
    for (int i = 1; i <= n; ++i) {
        switch (VmType(vm, i)) {
        case VM_TNIL: DebugPrintf("#%d=(NIL) ", i); break;
        case VM_TNUMBER: DebugPrintf("#%d=(NUMBER)%g ", i, VmGetNumber(vm, i)); break;
        case VM_TSTRING:
            DebugPrintf("#%d=(STRING)\"%s\" ", i, std::string(VmGetString(vm, i), VmGetStringLength(vm, i)).c_str());
            break;
        case VM_TTABLE: DebugPrintf("#%d=(TABLE)%p ", i, VmGetPointer(vm, i)); break;
        case VM_TFUNCTION: DebugPrintf("#%d=(FUNCPTR)%p ", i, VmGetPointer(vm, i)); break;
        default: DebugPrintf("#%d=(INTERNAL)%d ", i, VmType(vm, i)); break;
        }
    }
    DebugPrintf("\n");
}
