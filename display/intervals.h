// Intervals and timeouts: script objects that run a handler every n
// milliseconds or once after n milliseconds. Each owns a timer of the
// platform's timer list, keyed by the object's id pair; the event pump turns
// a fired timer into a queued event, and dispatching that event runs the
// handler (a timeout is removed when its event is dispatched).
#pragma once

#include <cstdint>

#include "core/services/object_registry.h"
#include "display/event_handlers.h"
#include "platform/posix/os_time.h"

struct VmState;

struct IntervalRecord {
    ObjectHeader header;
    OsTimeValue time;  // the period or the delay
    EventHandler handler;
};

extern IntervalRecord* IntervalList;
extern IntervalRecord* TimeoutList;

// The id of the shared poll interval.
constexpr ObjectId kPollIntervalId{0, 1};
// The key of the one-shot timer that makes the event pump due for its next
// stale drop while events wait.
constexpr ObjectId kStaleCheckId{0, 2};

// Flag bit of AddInterval and AddTimeout: the script passed Nil as id, so
// the record's address becomes its handle (written to *outId).
constexpr uint32_t TIMER_NEWHANDLE = 0x1;

// Starts an interval (a periodic timer of `ms` milliseconds). An interval
// with the same numeric id is replaced. The handler's references pass to
// the record (null: no handler). 0, ERR_MEM or ERR_TIMER.
uint32_t AddInterval(VmState* vm, ObjectId id, uint32_t ms, uint32_t flag,
                     const EventHandler* handler = nullptr, ObjectId* outId = nullptr);
// Stops and frees the interval with that id; nothing when there is none.
// An event of it still queued goes with it (as when it is replaced).
void ClearIntervalRecord(VmState* vm, ObjectId id);
// The same for timeouts (one-shot timers).
uint32_t AddTimeout(VmState* vm, ObjectId id, uint32_t ms, uint32_t flag,
                    const EventHandler* handler = nullptr, ObjectId* outId = nullptr);
void ClearTimeoutRecord(VmState* vm, ObjectId id);

// 0, or ERR_FINDINTERVAL / ERR_FINDTIMEOUT (ERR_FINDARRAY for a handle id).
uint32_t FindInterval(ObjectId id, IntervalRecord** out);
uint32_t FindTimeout(ObjectId id, IntervalRecord** out);

// Frees every interval and timeout (the event library's exit).
void FreeAllTimerObjects(VmState* vm);

