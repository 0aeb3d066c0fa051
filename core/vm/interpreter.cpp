// The interpreter loop of script functions.
#include "core/vm/interpreter.h"

#include "core/io/error_codes.h"
#include "core/vm/calls.h"

VmValue* VmExecute(VmState* L)
{
    // Script functions come only from loaded chunks, which this build cannot
    // run yet.
    VmRaiseError(L, ERR_INTERNAL);
}

uint32_t VmLoad(VmState*, VmReader, void*, const char*)
{
    return ERR_UNIMPLCMD;
}

uint32_t VmDump(VmState*, int, VmWriter, void*)
{
    return ERR_NOQMFUNC;
}
