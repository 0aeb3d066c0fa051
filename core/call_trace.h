// The call trace: with the switch on (start-up option DEBUGOUTPUT, script
// command DebugOutput), every native call is announced on the debug output
// with its name and arguments, unless the quiet switch is on or the script
// is being aborted.
#pragma once

#include <cstdint>

struct VmState;

extern uint32_t CallTraceSwitch;

// The VM's trace hook (VmHooks.traceCall): runs inside the callee's frame,
// whose arguments are 1..VmGetTop.
void TraceNativeCall(VmState* vm);
