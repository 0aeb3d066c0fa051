// CheckArgs: the first thing every command handler does.
#include "core/services/check_args.h"

#include "core/io/error_codes.h"
#include "core/vm/vm.h"

CheckArgsProbe CheckArgsProbeState = {false, false, 0, 0, 0, 0};

VmState* CheckArgs(VmState* vm, int min, int max, uint32_t major, uint32_t minor)
{
    if (CheckArgsProbeState.active) {
        CheckArgsProbeState = {true, true, min, max, major, minor};
        VmRaiseError(vm, ERR_USERABORT);
    }
    int n = VmGetTop(vm);
    if (min == 0 && max == 0 && n >= 1)
        VmRaiseError(vm, ERR_TOOMANYARGS);
    if (n < min)
        VmRaiseError(vm, ERR_MISSINGPARAMTR);
    if (max >= 1 && n > max)
        VmRaiseError(vm, ERR_TOOMANYARGS);
    if (major != 0 && !RequireAppletVersion(major, minor))
        VmRaiseError(vm, ERR_OLDAPPLET);
    return vm;
}
