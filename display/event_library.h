// The "event" library: event handlers (per display and program-wide),
// dispatching queued events to them, and the library's open and exit.
#pragma once

#include <cstdint>

#include "display/event_handlers.h"
#include "display/events.h"

struct VmState;
struct Display;

uint32_t OpenEventLibrary(VmState* vm);
// Frees every interval, timeout, global handler and queued event; safe when
// the library was never opened and when called twice.
void CloseEventLibrary(VmState* vm);

// The slot a handler name selects: a slot of the current display for the
// 30 display events, a global slot for the 12 program events; null for an
// unknown name, or for a display event while no display exists.
EventHandler* FindEventHandlerSlot(const char* name);

// Installs the function at stack index `function` (nil removes the
// handler) with the value at `userdata` (0: none) for the named event.
// 0, or ERR_UNKNOWNTAG (the name as error text).
uint32_t InstallEventHandler(VmState* vm, const char* name, int function, int userdata);
// Installs a label (an instruction index) as the handler.
uint32_t InstallEventLabel(VmState* vm, const char* name, int32_t label);

// Runs the handler of a queued event (which the caller still owns): a
// function is called with a message table {action, id, x, y, key,
// userdata}; a label answers the Gosub request that the calling command
// returns. 0 when nothing was to be done, the VM call's error, or
// VM_GOSUB_AFTER. A timeout is removed once its event is dispatched.
uint32_t DispatchEvent(VmState* vm, const QueuedEvent* event);

// Takes the first queued event and runs its handler as DispatchEvent does;
// the event is freed however the handler ends, an error that unwinds
// through here included. 0 when the queue was empty.
uint32_t DispatchNext(VmState* vm);

// What an event command returns to make the interpreter continue at a label
// and come back after the call.
uint32_t GosubToLabel(VmState* vm, int32_t label);

// The network phase of the event check, supplied by the network library: it
// runs as the event library's poll work while a handler for one of the
// network events is installed.
void SetNetworkEventPhase(void (*phase)(VmState* vm));
// Takes or gives back the shared poll timer as the network handlers come
// and go. 0 or the timer's error.
uint32_t UpdateNetworkPolling(VmState* vm);

// What the event layer asks of the library that starts programs when one of
// them has ended: the registry reference of the value the script gave with
// it (-1 none), read before the handler runs, and the removal of its record
// (which also releases that reference). `program` is the word the finished
// program's event carries.
struct ProgramEndHooks {
    int32_t (*userValueRef)(uintptr_t program);
    void (*finished)(VmState* vm, uintptr_t program);
};
void SetProgramEndHooks(const ProgramEndHooks* hooks);
