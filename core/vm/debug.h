// Where the VM is: the current instruction and line of a call, and the
// type-error texts that name the value involved.
#pragma once

#include <cstdint>

#include "core/vm/value.h"

// Instruction index of a script call's current instruction, -1 for natives.
int VmCurrentPc(VmState* state, const VmCallInfo* ci);
// Its source line, 0 without line information, -1 for natives.
int VmCurrentLine(VmState* state, const VmCallInfo* ci);
// Raises code with the error text naming the value (or "??") and suffix.
[[noreturn]] void VmTypeError(VmState* state, const VmValue* value, uint32_t code, const char* suffix);
