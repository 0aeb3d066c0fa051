// Timers of the runtime: the list of interval and timeout timers that the
// event check collects, the shared 20 ms poll timer, and the waits.
//
// Timer records live in one list guarded by the timer lock. The timer-queue
// thread only marks records fired and wakes the event loop; the script
// thread creates, removes and collects them. A record is always unlinked
// before it is freed, and its platform timer is deleted (waiting out a
// callback in flight) outside the timer lock, so a late callback finds the
// record gone from the list and does nothing.
#pragma once

#include "platform/posix/os_time.h"

#include <cstdint>

struct VmState;
struct OsQueueTimer;

// Identifies a timer together with its kind: the object id of the interval
// or timeout that owns it (numeric id and handle, pointer-sized).
struct OsTimerKey {
    uintptr_t id;
    uintptr_t handle;
};

enum : uint32_t {
    OS_TIMER_PERIODIC = 0,
    OS_TIMER_ONESHOT = 1,
    OS_TIMER_NOT_FIRED = 9,   // what OsNextFiredTimer reports for a quiet record
};

struct OsTimer {
    OsTimer* next;
    uint32_t kind;            // OS_TIMER_PERIODIC or OS_TIMER_ONESHOT
    OsTimerKey interval;
    uint32_t fired;
    OsQueueTimer* platformTimer;
};

// Operations of OsCreateTimer.
enum : uint32_t {
    OS_TIMER_ADD_PERIODIC = 0,
    OS_TIMER_ADD_ONESHOT = 1,
    OS_TIMER_REMOVE_PERIODIC = 2,
    OS_TIMER_REMOVE_ONESHOT = 3,
    OS_TIMER_RESTART_PERIODIC = 4,   // fire now, then every ms
};

// Creates the timer lock and the timer queue: 0, ERR_SEMAPHORE or ERR_TIMER.
// Calling it again while the timers are up does nothing.
uint32_t OsInitTimers();
// Hands the platform's run loop the timers and the script's abort word,
// then starts it (OsInit): what start-up and every test that runs the loop
// with timers call in place of OsInit.
uint32_t InitPlatformGlue();

// See the operations above. Removing or restarting a timer that is not there
// does nothing, and so does an unknown operation. 0, ERR_MEM or ERR_TIMER.
uint32_t OsCreateTimer(uint32_t op, OsTimerKey interval, uint32_t ms);

// The timer-queue callback of a record: marks it fired when it is still in
// the list, then wakes the event loop.
void OsMarkTimerFired(OsTimer* timer);

// Examines the record at `cursor` (the list head when null) and returns the
// record after it. A record that has not fired gives kind OS_TIMER_NOT_FIRED
// (also for an empty list). A fired periodic timer gives its kind and key and
// has its fired mark cleared, so it is reported once per firing; a fired
// one-shot timer gives its kind and key and is removed and freed. Only the thread that collects may remove
// timers, so the returned cursor stays valid until its next call.
OsTimer* OsNextFiredTimer(OsTimer* cursor, uint32_t* outKind, OsTimerKey* outInterval);

// The record of that kind and key, or null; outNext (optional) receives the
// record after it.
OsTimer* OsFindTimer(uint32_t kind, OsTimerKey interval, OsTimer** outNext);

// Deletes every timer; OsFreeTimers then also the queue and the lock.
void OsDeleteAllTimers();
void OsFreeTimers();

// Sleeps the calling thread for ms milliseconds.
void OsDelay(uint32_t ms);

// Waits ms milliseconds while keeping the event loop running: 0 when the time
// ran out, else the code that ended the wait early (a quit request gives its
// code, or ERR_USERABORT when it has none). 0 at once for ms 0.
uint32_t OsTimedWait(VmState* context, uint32_t ms);

// The shared 20 ms poll timer, held by two users (slot 0 the sound library,
// slot 1 the event library): started when the first slot is taken, removed
// when the last is given back.
enum : uint32_t { POLL_SLOT_SOUND = 0, POLL_SLOT_EVENT = 1 };
constexpr uint32_t POLL_TIMER_MS = 20;
uint32_t AcquirePollTimer(VmState* context, uint32_t slot);
void ReleasePollTimer(VmState* context, uint32_t slot);

// What the timers need from the event layer, which installs it when its
// library opens. Every member may be null.
struct OsEventHooks {
    // Wakes the thread that waits for events; called on the timer thread
    // after a timer fired. A wake that comes before the wait must not be lost
    // (an auto-reset event does this). It must not wait for a lock that the
    // script thread may hold while it removes a timer: removal waits for a
    // callback in flight.
    void (*wake)(void* user);
    // Blocks until the next event or wake-up (WaitForOsEvent): 0 or a code.
    uint32_t (*waitForEvent)(VmState* context, void* user);
    // Pumps events once (PumpOsEvents): non-zero asks the wait to end, with
    // the code in *outCode (0 for none).
    int (*pumpEvents)(VmState* context, uint32_t* outCode, void* user);
    // Starts and removes the shared poll interval, id (0, 1), every ms.
    uint32_t (*addPollInterval)(VmState* context, uint32_t ms, void* user);
    void (*clearPollInterval)(VmState* context, void* user);
    void* user;
};

// Installs the hooks (copied); null removes them. Without hooks the timed
// wait simply sleeps until its time is up and the poll timer starts nothing.
void OsSetEventHooks(const OsEventHooks* hooks);
