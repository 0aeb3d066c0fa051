// Running an external program on a thread of its own, so that the script
// goes on while it runs and hears of its end as an event.
#pragma once

#include <cstdint>

struct OsThread;

struct ExternalProgram {
    void* argument;          // the caller's own word
    OsThread* thread;        // set by OsRunExternalProgram
    const char* program;     // as OsRunProgram takes them; kept alive by the
    const char* arguments;   // caller until OsWaitExternalProgram
};

// Starts the thread "External program thread", which runs the program and
// waits for its end (or for OsWaitExternalProgram), then reports through
// OsThreadFinish whether the program could not be started; the finish hook
// finds the record again with OsThreadArgument. 0 or ERR_THREAD.
uint32_t OsRunExternalProgram(ExternalProgram* record);

// Stops the thread (a program still running is left to run on) and joins it.
void OsWaitExternalProgram(ExternalProgram* record);
