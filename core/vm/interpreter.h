// The interpreter loop of script functions, its arithmetic, and the Gosub
// machinery shared by every VM state of the process.
#pragma once

#include <cstdint>

#include "core/vm/value.h"

// Runs the script call prepared by VmPreCall, and script functions it calls
// in the same loop; returns the entry call's first result, or null when the
// run ended early (abort flag).
VmValue* VmExecute(VmState* state);

// Arithmetic of events TM_ADD..TM_POW with coercion and metamethods.
VmValue VmArith(VmState* state, const VmValue* a, const VmValue* b, VmTmEvent event);

// One saved Gosub return address: the function's code and an instruction
// index in it.
struct VmGosubEntry {
    const VmProto* proto;
    int32_t pc;
};
constexpr uint32_t VM_GOSUB_DEPTH = 4096;
extern VmGosubEntry VmGosubStack[VM_GOSUB_DEPTH];
extern uint32_t VmGosubDepth;
// Set by a native before it returns a Gosub request: the target instruction
// index minus VmCallInstructionIndex. No native sets it, so a request goes
// on right after its call; the dead-operand pass (liveness.cpp) relies on
// that, and must learn of any other target before one is used.
extern int32_t VmGosubJumpDistance;
// Index of the instruction after the OP_CALL being run, written before
// every native call.
extern int32_t VmCallInstructionIndex;

// The raw table iterator: (table, key) -> next key and value, or nil at the
// end. Registered as the global "next" that compiled generic for loops use.
uint32_t VmNextItem(VmState* state);
