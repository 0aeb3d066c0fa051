// The parts of the debug interface that calls and errors rely on.
#include "core/vm/debug.h"

#include <cstdio>

#include "core/vm/calls.h"
#include "core/vm/error_hooks.h"

int VmCurrentPc(VmState*, const VmCallInfo* ci)
{
    if (ci->state & VM_CI_NATIVE)
        return -1;
    const VmValue* func = ci->base - 1;
    if (func->tt != VM_TFUNCTION || VmFuncValue(func)->isNative)
        return -1;
    // The interpreter stores savedPc (the instruction after the current one)
    // before anything that can raise or call out.
    const uint32_t* pc = ci->savedPc;
    if (!pc)
        return -1;
    return static_cast<int>(pc - VmFuncValue(func)->proto->code) - 1;
}

int VmCurrentLine(VmState* L, const VmCallInfo* ci)
{
    int pc = VmCurrentPc(L, ci);
    if (pc < 0)
        return -1;
    const VmProto* p = VmFuncValue(ci->base - 1)->proto;
    if (!p->lineInfo || pc >= p->sizeLineInfo)
        return 0;
    return p->lineInfo[pc];
}

void VmTypeError(VmState* L, const VmValue*, uint32_t code, const char* suffix)
{
    if (VmHooks.setErrorText) {
        char text[64];
        std::snprintf(text, sizeof text, "??%s", suffix);
        VmHooks.setErrorText(text);
    }
    VmRaiseError(L, code);
}
