// The call trace: with the debug-output switch on (start-up option
// DEBUGOUTPUT, script command DebugOutput: Startup.debugOutput), every
// native call is announced on the debug output with its name and arguments,
// unless the quiet switch is on or the script is being aborted.
#pragma once

#include <cstdint>

struct VmState;

// The VM's trace hook (VmHooks.traceCall): runs inside the callee's frame,
// whose arguments are 1..VmGetTop.
void TraceNativeCall(VmState* vm);
