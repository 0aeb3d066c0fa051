// Script values that display, event and media records hold on to (event
// handlers, their userdata): registry references taken and released, and
// the Gosub request through which an event command continues at a label.
#pragma once

#include <cstdint>

struct VmState;
struct ObjectHeader;
struct CoreContext;

// Pops the top value and keeps it in the registry; -1 for nil.
int32_t TakeRegistryRef(VmState* vm);
// Pushes the value of a reference (nil for -1).
void PushRegistryRef(VmState* vm, int32_t ref);
// Releases a registry reference; -1 (none) and a null VM do nothing.
void ReleaseRegistryRef(VmState* vm, int32_t ref);
// Releases the object data a script attached to a record.
void ReleaseObjectData(VmState* vm, ObjectHeader* record);
// The run's start-up context (registry "clargs"); null without a VM.
CoreContext* RunContextOf(VmState* vm);
