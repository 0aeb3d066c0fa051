// Registry references of script values that the display, event and media
// records hold (handlers, userdata): taking and releasing them.
#pragma once

#include <cstdint>

struct VmState;

struct ObjectHeader;
struct CoreContext;

// Releases a registry reference; -1 (none) and a null VM do nothing.
void ReleaseRegistryRef(VmState* vm, int32_t ref);
// Releases the object data a script attached to a record.
void ReleaseObjectData(VmState* vm, ObjectHeader* record);
// The run's start-up context (registry "clargs"); null without a VM.
CoreContext* RunContextOf(VmState* vm);
