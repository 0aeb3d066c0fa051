// Closures, upvalues, userdata and prototypes: creation and the open
// upvalue list of a thread.
#pragma once

#include <cstddef>

#include "core/vm/value.h"

VmClosure* VmNewNativeClosure(VmState* state, VmNativeFunction f, int nupvalues);
VmClosure* VmNewScriptClosure(VmState* state, VmProto* proto, const VmValue* env);
size_t VmClosureSize(const VmClosure* c);
VmUserdata* VmNewUserdataObject(VmState* state, size_t size);
VmProto* VmNewProto(VmState* state);
void VmFreeProto(VmState* state, VmProto* p);

// A closed upvalue holding nil (for a loaded main function that claims
// upvalues it has nobody to share with).
VmUpvalue* VmNewClosedUpvalue(VmState* state);
// The open upvalue of a stack slot, created when none is open.
VmUpvalue* VmFindUpvalue(VmState* state, VmValue* level);
// Closes the open upvalues at or above level.
void VmCloseUpvalues(VmState* state, VmValue* level);
