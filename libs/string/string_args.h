// Argument readers of the string commands over the VM's native interface:
// strings and numbers convert into each other, nil reads as the empty string
// or 0, and any other type raises the "expected" error naming the argument.
#pragma once

#include <cstdint>
#include <new>
#include <string_view>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/number_conv.h"
#include "core/vm/vm.h"

[[noreturn]] inline void RaiseArgumentError(VmState* vm, ErrorCode code, int index)
{
    SetErrorArgNumber(index);
    VmRaiseError(vm, code);
}

inline std::string_view StringArg(VmState* vm, int index)
{
    int type = VmType(vm, index);
    if (type != VM_TSTRING && type != VM_TNUMBER && type != VM_TNIL)
        RaiseArgumentError(vm, ERR_STREXPECTED, index);
    const char* text = VmGetString(vm, index);  // converts numbers and nil in place
    return {text, VmGetStringLength(vm, index)};
}

inline double NumberArg(VmState* vm, int index)
{
    if (VmType(vm, index) == VM_TNONE || !VmIsNumber(vm, index))
        RaiseArgumentError(vm, ERR_NUMEXPECTED, index);
    return VmGetNumber(vm, index);
}

inline double OptNumberArg(VmState* vm, int index, double fallback)
{
    return VmType(vm, index) == VM_TNONE ? fallback : NumberArg(vm, index);
}

inline int64_t IntegerArg(VmState* vm, int index) { return DoubleToInt64(NumberArg(vm, index)); }

inline int64_t OptIntegerArg(VmState* vm, int index, int64_t fallback)
{
    return VmType(vm, index) == VM_TNONE ? fallback : IntegerArg(vm, index);
}

// An empty view may carry a null pointer, which no copy routine may see.
inline void PushBytes(VmState* vm, std::string_view s) { VmPushLString(vm, s.empty() ? "" : s.data(), s.size()); }

// Runs a handler body, turning an exhausted heap into ERR_MEM; script errors
// pass through untouched.
template <typename Body>
uint32_t GuardedCommand(Body body)
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
}
