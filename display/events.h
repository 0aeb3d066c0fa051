// The event side of the display subsystem: the queue of events that other
// threads (and the event pump itself) post for the script thread, the pump
// that turns operating-system input, fired timers and quit requests into
// queued events, and the waits built on it.
//
// Threads: PostEvent may be called from any thread; everything else runs on
// the script thread. The queue is guarded by the event-queue lock.
#pragma once

#include <cstdint>

#include "core/services/object_registry.h"
#include "platform/posix/os_time.h"

struct VmState;
struct VmDebugRecord;

// What a queued event is about.
enum EventType : uint32_t {
    EVENT_DISPLAY = 1,   // a per-display event: `slot` of display `target`
    EVENT_GLOBAL = 2,    // a program-wide event: global `slot`
    EVENT_INTERVAL = 3,  // interval `target` fired
    EVENT_TIMEOUT = 4,   // timeout `target` ran out
    EVENT_USER = 5,      // posted by a plugin; `payload` is an OsAllocMem block
};
// Slot of an EVENT_USER whose payload is the name of the global script
// function to call.
constexpr int32_t EVENT_USER_NAMED_HANDLER = 1;

struct QueuedEvent {
    QueuedEvent* next;
    uint32_t type;        // EventType
    int32_t slot;         // event slot for EVENT_DISPLAY and EVENT_GLOBAL
    ObjectId target;      // display, interval, timeout or object the event is about
    uintptr_t payload;    // owned by the event; freed with FreeEventPayload
    int32_t args[4];      // type-specific numbers (x, y, key, ...)
    OsTimeValue stamp;    // when it was posted (OsGetTime)
};

// Creates the event-queue lock and installs the event layer's hooks in the
// timers (wake-ups, the timed wait's pumping, the poll interval); safe to
// call again. 0 or ERR_SEMAPHORE.
uint32_t InitEventQueue();
// Frees every queued event with its payload (under the lock), removes the
// timer hooks and deletes the lock; safe without InitEventQueue and when
// called twice.
void FreeEventQueue();
void InstallTimerEventHooks(bool install);

// Appends an event (copied; `payload` passes to the queue) and wakes the
// script thread. 0 or ERR_MEM (the payload is then freed).
uint32_t PostEvent(uint32_t type, int32_t slot, ObjectId target, uintptr_t payload,
                   const int32_t* args);
// Takes the first queued event; the caller frees it with FreeQueuedEvent.
QueuedEvent* TakeEvent();
void FreeQueuedEvent(QueuedEvent* event);
uint32_t CountQueuedEvents();
// True when an event of that type and target is waiting in the queue.
bool IsEventQueued(uint32_t type, ObjectId target);
// Removes every queued event of that type and target (the events of an
// object that is freed: a record made later under the same id or at the
// same address must not take them).
void DropQueuedEventsOf(uint32_t type, ObjectId target);
// Removes the first n+1 queued events and frees their payloads.
void DropEvents(VmState* vm, uint32_t n, uint32_t unused);
// Drops the events at the head of the queue that are older than the event
// time-out. Answers 0.
uint32_t DropStaleEvents(VmState* vm);
// The event time-out in milliseconds (60000 unless an option set it).
extern uint32_t EventTimeoutMs;
// Frees the payload of an event of that type.
void FreeEventPayload(uint32_t type, uintptr_t payload);

// While set, the line hook does not pump (the runtime's no-pumping switch).
extern uint32_t NoEventPumping;

// Pumps events once. Mode bit 0 first runs the VM-state hooks and drops
// stale events (at most every 10 seconds); mode 2 only pumps. Returns 0 to
// go on, 1 when the caller should stop and report *outCode (0 = nothing to
// report; a user abort sets the abort flag and reports nothing).
int PumpOsEvents(VmState* vm, uint32_t mode, uint32_t unused, uint32_t* outCode);
// The VM line hook installed on the applet's main chunk.
void PumpEventsCallback(VmState* vm, VmDebugRecord* record, uint32_t* outCode);
// Blocks the script thread until the next event, fired timer or quit
// request. 0 or an error code.
uint32_t WaitForOsEvent(VmState* vm, uint32_t mode, uint32_t unused1, uint32_t unused2);

// The display adapter's event hooks; without an adapter the platform pumps.
struct EventAdapterHooks {
    uint32_t (*handleEvents)(VmState* vm, void* user);   // pump once: 0 or a code
    uint32_t (*waitEvents)(VmState* vm, void* user);     // block for the next event
    void* user;
};
void SetEventAdapterHooks(const EventAdapterHooks* hooks);

// Work done on every tick of the shared poll timer (sound end checks,
// network polling): registered by the libraries that hold a poll slot.
using PollWork = void (*)(VmState* vm);
void SetPollWork(uint32_t slot, PollWork work);
