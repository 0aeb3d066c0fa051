// Argument reading and result pushing shared by the string command handlers,
// on top of the library glue's readers. Strings come back as views of
// explicit length; integer arguments are truncated to 64 bits (not to the
// glue's low 32 bits), so positions and counts beyond 4 GB do not wrap.
#pragma once

#include <cstdint>
#include <new>
#include <string_view>

#include "core/io/error_codes.h"
#include "core/io/number_conv.h"
#include "core/vm/library_glue.h"
#include "core/vm/vm.h"

inline std::string_view StringArg(VmState* vm, int index)
{
    size_t length = 0;
    const char* text = VmCheckString(vm, index, &length);
    return {text, length};
}

inline double NumberArg(VmState* vm, int index) { return VmCheckNumber(vm, index); }

inline int64_t IntegerArg(VmState* vm, int index) { return DoubleToInt64(VmCheckNumber(vm, index)); }

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
