// The language's operations on values that may call metamethods: indexing,
// equality and ordering, concatenation and arithmetic. Shared by the
// interpreter and the native interface.
#pragma once

#include <cstdint>

#include "core/vm/value.h"

// t[key] with __index. *absent is set when the chain ended in a table that
// has neither the key nor an __index (the caller decides whether that is an
// error); the result is then nil.
VmValue VmGetTableValue(VmState* state, const VmValue* t, const VmValue* key, bool* absent);
// t[key] = value with __newindex.
void VmSetTableValue(VmState* state, const VmValue* t, const VmValue* key, const VmValue* value);

bool VmEqualValues(VmState* state, const VmValue* a, const VmValue* b);
// mode 1: strings byte-wise; mode 0: without regard to case.
bool VmLessThan(VmState* state, const VmValue* a, const VmValue* b, int mode);
bool VmLessEqual(VmState* state, const VmValue* a, const VmValue* b);
int VmCompareStrings(const VmString* a, const VmString* b, int mode);

// Concatenates the `total` registers ending at register `last` (relative to
// the frame base) into register last - total + 1.
// Joins the values in registers last - total + 1 .. last into the first of
// them. Numbers and nil among them become strings in place, unless
// convertOperands is false (none of them is read again): then only the
// result is made.
void VmConcatValues(VmState* state, int total, int last, bool convertOperands = true);

// Calls f(a, b) and answers its first result.
VmValue VmCallMetaResult(VmState* state, const VmValue* f, const VmValue* a, const VmValue* b);
// Event's metamethod of a, else of b, called with (a, b); false when neither
// has one.
bool VmCallBinaryMeta(VmState* state, VmValue* result, const VmValue* a, const VmValue* b, VmTmEvent event);
// -1 when a has no such metamethod or b's differs, else its truth (0/1).
int VmCallOrderMeta(VmState* state, const VmValue* a, const VmValue* b, VmTmEvent event);

// Raises ERR_WRONGOP for an operation (TM_EQ, or an event from TM_ADD to TM_LE) that
// the operands' types do not allow; the error's detail names the operation
// and the types. b is null for the unary ones.
[[noreturn]] void VmRaiseWrongOperator(VmState* state, VmTmEvent event, const VmValue* a, const VmValue* b);

// A native's error code that reached the VM: recorded by the runtime's hook,
// which may throw.
void VmReportNativeError(VmState* state, uint32_t code);
