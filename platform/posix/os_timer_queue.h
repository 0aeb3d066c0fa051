// The platform's timer queue: one thread that runs the callbacks of any
// number of one-shot and periodic timers on CLOCK_MONOTONIC.
//
// Callbacks run on the queue's thread, one at a time, and must be short (they
// mark something and wake someone). OsDeleteQueueTimer returns only once the
// timer's callback is not running and will not run again, so the callback's
// argument may be freed right after it; a callback may delete its own timer.
#pragma once

#include <cstdint>

struct OsTimerQueue;
struct OsQueueTimer;

using OsQueueTimerProc = void (*)(void* argument);

// Starts a queue and its thread; null when either cannot be made.
OsTimerQueue* OsCreateTimerQueue();

// Deletes every timer of the queue, then stops its thread and frees it.
void OsDeleteTimerQueue(OsTimerQueue* queue);

// A timer first due after `dueMs`; with `periodMs` non-zero it then fires
// every `periodMs`, else once. Null when out of memory.
OsQueueTimer* OsCreateQueueTimer(OsTimerQueue* queue, OsQueueTimerProc proc, void* argument,
                                 uint32_t dueMs, uint32_t periodMs);

// Reschedules a timer (also one that has already fired once).
void OsChangeQueueTimer(OsTimerQueue* queue, OsQueueTimer* timer, uint32_t dueMs, uint32_t periodMs);

// Removes and frees a timer (see above for the guarantee). Null is allowed.
void OsDeleteQueueTimer(OsTimerQueue* queue, OsQueueTimer* timer);
