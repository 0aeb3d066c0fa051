// The runtime's timer list on the platform timer queue, the shared poll
// timer, and the sleeping and event-pumping waits.
#include "core/glue/timers.h"

#include "core/io/error_codes.h"
#include "core/vm/error_hooks.h"
#include "platform/posix/os_memory.h"
#include "platform/posix/os_runloop.h"
#include "platform/posix/os_thread.h"
#include "platform/posix/os_timer_queue.h"

#include <atomic>
#include <cerrno>
#include <ctime>
#include <mutex>

namespace {

OsMutex* timerLock;
OsTimer* timerHead;
OsTimer* timerTail;
OsTimerQueue* timerQueue;
bool pollSlots[2];

std::mutex hooksMutex;
OsEventHooks eventHooks;

OsEventHooks CurrentHooks()
{
    std::lock_guard<std::mutex> guard(hooksMutex);
    return eventHooks;
}

void WakeEventLoop()
{
    OsEventHooks hooks = CurrentHooks();
    if (hooks.wake)
        hooks.wake(hooks.user);
}

bool SameKey(const OsTimerKey& a, const OsTimerKey& b)
{
    return a.id == b.id && a.handle == b.handle;
}

// Under the timer lock.
OsTimer* FindLocked(uint32_t kind, OsTimerKey key)
{
    for (OsTimer* t = timerHead; t; t = t->next) {
        if (t->kind == kind && SameKey(t->interval, key))
            return t;
    }
    return nullptr;
}

// Under the timer lock.
void UnlinkLocked(OsTimer* timer)
{
    OsTimer* previous = nullptr;
    for (OsTimer* t = timerHead; t; previous = t, t = t->next) {
        if (t != timer)
            continue;
        if (previous)
            previous->next = t->next;
        else
            timerHead = t->next;
        if (timerTail == t)
            timerTail = previous;
        t->next = nullptr;
        return;
    }
}

// For a record already unlinked: outside the timer lock, because deleting the
// platform timer waits for a callback that may itself be waiting for the lock.
void DestroyUnlinked(OsTimer* timer)
{
    OsDeleteQueueTimer(timerQueue, timer->platformTimer);
    OsFreeMem(timer);
}

void TimerRecordCallback(void* argument)
{
    OsMarkTimerFired(static_cast<OsTimer*>(argument));
}

uint32_t AddTimer(uint32_t kind, OsTimerKey key, uint32_t ms)
{
    OsTimer* timer = static_cast<OsTimer*>(OsAllocMem(sizeof(OsTimer), 1));
    if (!timer)
        return ERR_MEM;
    timer->kind = kind;
    timer->interval = key;
    {
        OsLockGuard guard(timerLock);
        if (timerTail)
            timerTail->next = timer;
        else
            timerHead = timer;
        timerTail = timer;
    }
    // A zero period would make the queue treat the timer as one-shot.
    uint32_t period = kind == OS_TIMER_PERIODIC ? (ms ? ms : 1) : 0;
    OsQueueTimer* platform = OsCreateQueueTimer(timerQueue, TimerRecordCallback, timer, ms, period);
    OsLockGuard guard(timerLock);
    if (!platform) {
        UnlinkLocked(timer);
        OsFreeMem(timer);
        return ERR_TIMER;
    }
    timer->platformTimer = platform;
    return 0;
}

void RemoveTimer(uint32_t kind, OsTimerKey key)
{
    OsTimer* timer;
    {
        OsLockGuard guard(timerLock);
        timer = FindLocked(kind, key);
        if (!timer)
            return;
        UnlinkLocked(timer);
    }
    DestroyUnlinked(timer);
}

struct TimedWaitState {
    std::atomic<int> fired;
    OsEvent* event;
};

void TimedWaitCallback(void* argument)
{
    TimedWaitState* wait = static_cast<TimedWaitState*>(argument);
    wait->fired.store(1);
    OsSetEvent(wait->event);
    WakeEventLoop();
}

} // namespace

uint32_t OsInitTimers()
{
    if (timerLock && timerQueue)
        return 0;
    if (!timerLock) {
        timerLock = OsCreateLock();
        if (!timerLock)
            return ERR_SEMAPHORE;
    }
    timerQueue = OsCreateTimerQueue();
    if (!timerQueue)
        return ERR_TIMER;
    return 0;
}

uint32_t OsCreateTimer(uint32_t op, OsTimerKey interval, uint32_t ms)
{
    if (!timerLock || !timerQueue)
        return ERR_TIMER;
    switch (op) {
    case OS_TIMER_ADD_PERIODIC:
        return AddTimer(OS_TIMER_PERIODIC, interval, ms);
    case OS_TIMER_ADD_ONESHOT:
        return AddTimer(OS_TIMER_ONESHOT, interval, ms);
    case OS_TIMER_REMOVE_PERIODIC:
        RemoveTimer(OS_TIMER_PERIODIC, interval);
        return 0;
    case OS_TIMER_REMOVE_ONESHOT:
        RemoveTimer(OS_TIMER_ONESHOT, interval);
        return 0;
    case OS_TIMER_RESTART_PERIODIC: {
        OsLockGuard guard(timerLock);
        OsTimer* timer = FindLocked(OS_TIMER_PERIODIC, interval);
        if (timer && timer->platformTimer)
            OsChangeQueueTimer(timerQueue, timer->platformTimer, 0, ms ? ms : 1);
        return 0;
    }
    default:
        return 0;
    }
}

void OsMarkTimerFired(OsTimer* timer)
{
    bool found = false;
    {
        OsLockGuard guard(timerLock);
        // Only the pointer is compared until the record is known to be in the
        // list: a removed record may already be freed.
        for (OsTimer* t = timerHead; t; t = t->next) {
            if (t == timer) {
                t->fired = 1;
                found = true;
                break;
            }
        }
    }
    if (found)
        WakeEventLoop();
}

OsTimer* OsNextFiredTimer(OsTimer* cursor, uint32_t* outKind, OsTimerKey* outInterval)
{
    *outKind = OS_TIMER_NOT_FIRED;
    if (!timerLock)
        return nullptr;
    OsTimer* gone = nullptr;
    OsTimer* next;
    {
        OsLockGuard guard(timerLock);
        OsTimer* timer = cursor ? cursor : timerHead;
        if (!timer)
            return nullptr;
        next = timer->next;
        if (timer->fired) {
            *outKind = timer->kind;
            *outInterval = timer->interval;
            if (timer->kind == OS_TIMER_ONESHOT) {
                UnlinkLocked(timer);
                gone = timer;
            } else {
                timer->fired = 0;
            }
        }
    }
    if (gone)
        DestroyUnlinked(gone);
    return next;
}

OsTimer* OsFindTimer(uint32_t kind, OsTimerKey interval, OsTimer** outNext)
{
    if (!timerLock)
        return nullptr;
    OsLockGuard guard(timerLock);
    OsTimer* timer = FindLocked(kind, interval);
    if (outNext)
        *outNext = timer ? timer->next : nullptr;
    return timer;
}

void OsDeleteAllTimers()
{
    if (!timerLock)
        return;
    OsTimer* list;
    {
        OsLockGuard guard(timerLock);
        list = timerHead;
        timerHead = nullptr;
        timerTail = nullptr;
    }
    while (list) {
        OsTimer* next = list->next;
        DestroyUnlinked(list);
        list = next;
    }
}

namespace {

void RaiseScriptAbort() { VmAbortFlag.store(1); }

}  // namespace

uint32_t InitPlatformGlue()
{
    OsSetLoopHooks(OsLoopHooks{OsInitTimers, OsFreeTimers, RaiseScriptAbort});
    return OsInit();
}

void OsFreeTimers()
{
    OsDeleteAllTimers();
    OsDeleteTimerQueue(timerQueue);
    timerQueue = nullptr;
    OsDeleteLock(timerLock);
    timerLock = nullptr;
    pollSlots[0] = pollSlots[1] = false;
}

void OsDelay(uint32_t ms)
{
    timespec deadline = OsMonotonicTimespec(OsMonotonicNanos() + uint64_t{ms} * 1000000u);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

uint32_t OsTimedWait(VmState* context, uint32_t ms)
{
    if (ms == 0)
        return 0;
    if (!timerQueue)
        return ERR_TIMER;
    // The fired flag belongs to this call alone: a late callback of an
    // earlier wait, or a wait on another thread, cannot end this one.
    TimedWaitState wait;
    wait.fired.store(0);
    wait.event = OsCreateEvent();
    if (!wait.event)
        return ERR_TIMER;
    OsQueueTimer* timer = OsCreateQueueTimer(timerQueue, TimedWaitCallback, &wait, ms, 0);
    if (!timer) {
        OsDeleteEvent(wait.event);
        return ERR_TIMER;
    }

    uint32_t code = 0;
    while (!wait.fired.load()) {
        OsEventHooks hooks = CurrentHooks();
        if (hooks.waitForEvent) {
            code = hooks.waitForEvent(context, hooks.user);
            if (code)
                break;
        } else {
            OsWaitEvent(wait.event);
        }
        if (hooks.pumpEvents) {
            uint32_t pumpCode = 0;
            if (hooks.pumpEvents(context, &pumpCode, hooks.user)) {
                code = pumpCode ? pumpCode : uint32_t{ERR_USERABORT};
                break;
            }
        }
    }
    OsDeleteQueueTimer(timerQueue, timer);
    OsDeleteEvent(wait.event);
    return code;
}

uint32_t AcquirePollTimer(VmState* context, uint32_t slot)
{
    if (slot > POLL_SLOT_EVENT)
        return ERR_WRONGUSAGE;
    if (!pollSlots[0] && !pollSlots[1]) {
        OsEventHooks hooks = CurrentHooks();
        if (hooks.addPollInterval) {
            uint32_t code = hooks.addPollInterval(context, POLL_TIMER_MS, hooks.user);
            if (code)
                return code;
        }
    }
    pollSlots[slot] = true;
    return 0;
}

void ReleasePollTimer(VmState* context, uint32_t slot)
{
    if (slot > POLL_SLOT_EVENT || !pollSlots[slot])
        return;
    pollSlots[slot] = false;
    if (pollSlots[0] || pollSlots[1])
        return;
    OsEventHooks hooks = CurrentHooks();
    if (hooks.clearPollInterval)
        hooks.clearPollInterval(context, hooks.user);
}

void OsSetEventHooks(const OsEventHooks* hooks)
{
    std::lock_guard<std::mutex> guard(hooksMutex);
    eventHooks = hooks ? *hooks : OsEventHooks{};
}
