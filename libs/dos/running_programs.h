// Programs started by Run while the script has a handler for their end:
// each runs on an external-program thread of its own, and its record stays
// in a list until the event layer has reported the end to the script.
#pragma once

#include <cstdint>

#include "core/glue/external_program.h"

struct VmState;

struct RunningProgram {
    RunningProgram* next;
    ExternalProgram external;  // external.argument points back here
    int32_t userValueRef;      // registry reference of Run's value; -1 none
    // The program path and the rest of the command line follow the record.
};

// True while the script has a handler for the end of started programs.
bool WantsProgramEnd();

// Registers a record (the value at `userValue` is kept; 0 for none) and
// starts the program on its thread. 0, ERR_MEM or ERR_THREAD (the record is
// then gone again).
uint32_t StartRunningProgram(VmState* vm, const char* program, const char* arguments, int userValue);

// Waits for the record's thread, releases its reference and frees it. A
// record that is no longer listed is left alone.
void UnregisterRunningProcess(VmState* vm, RunningProgram* record);

// Unregisters every record; a program that still runs is left to run on.
void FreeRunningPrograms(VmState* vm);
