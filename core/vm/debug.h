// Where the VM is: the current instruction and line of a call, the names of
// functions and variables for messages, and the type-error texts that name
// the value involved. VmGetStack and VmGetInfo (vm.h) are the interface the
// runtime's error report, call trace and hooks use.
#pragma once

#include <cstdint>

#include "core/vm/value.h"

// Instruction index of a script call's current instruction, -1 for natives.
int VmCurrentPc(VmState* state, const VmCallInfo* ci);
// Its source line, 0 without line information, -1 for natives.
int VmCurrentLine(VmState* state, const VmCallInfo* ci);
// Name of the n-th (from 1) local variable active at pc, or null.
const char* VmGetLocalName(const VmProto* p, int n, int pc);
// Describes what register reg of a script call holds at its current
// instruction: answers "local", "global", "field" or "method" with *name
// set, or null.
const char* VmGetObjectName(VmState* state, const VmCallInfo* ci, int reg, const char** name);
// The name under which the function of ci was called, read from its
// caller's call instruction; null when the caller is no script function or
// the call was lost to a tail call.
const char* VmGetFuncName(VmState* state, const VmCallInfo* ci, const char** name);
// Raises code with the error text naming the value (or "??") and suffix.
[[noreturn]] void VmTypeError(VmState* state, const VmValue* value, uint32_t code, const char* suffix);
