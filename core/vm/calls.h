// Calls, protected calls and errors. A VM error is a C++ exception of type
// VmError carrying only its code; it is caught only by VmRunProtected, so
// every raise site can rely on never returning.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/vm/value.h"

struct VmError {
    uint32_t code;
};

struct VmProtectedRecord {
    VmProtectedRecord* previous;
    uint32_t status;
};

using VmProtectedFunction = void (*)(VmState* state, void* data);

// What VmPreCall prepared or ran.
enum class VmCallOutcome : uint8_t {
    ScriptFrame,    // a script frame is ready for VmExecute
    NativeResults,  // a native ran; its results start at firstResult
    GosubRequest,   // a native asked for a Gosub; its record is popped already
};
struct VmPreCallResult {
    VmCallOutcome outcome;
    uint32_t code;          // native error code (0 none), or the Gosub request
    VmValue* firstResult;
};

uint32_t VmCallValue(VmState* state, VmValue* func, int nresults);
VmPreCallResult VmPreCall(VmState* state, VmValue* func);
void VmPostCall(VmState* state, int wanted, VmValue* firstResult);
void VmAdjustVarargs(VmState* state, int fixed, VmValue* base);
void VmCallHook(VmState* state, int event, int line);
// Clears VmPumpDue and runs the event hook for a new line; does nothing
// while hooks are not allowed (inside a hook), leaving the pump due.
void VmCallEventHook(VmState* state, int line);
void VmCallReturnHooks(VmState* state);

uint32_t VmRunProtected(VmState* state, VmProtectedFunction function, void* data);
uint32_t VmProtectedCall(VmState* state, VmProtectedFunction function, void* data, ptrdiff_t oldTop,
                         ptrdiff_t errorFunction);
[[noreturn]] void VmThrow(VmState* state, uint32_t code);
// Hands the detail of the error about to be raised with `code` to the
// runtime (VmHooks.setErrorDetail), formatted as printf does.
void VmSetErrorDetail(uint32_t code, const char* format, ...) __attribute__((format(printf, 2, 3)));
