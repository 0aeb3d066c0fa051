// The event pump and the waits. Pumping takes what the platform gathered
// since the last pump (a quit request, fired timers) and turns it into queued
// events or into the poll work of the libraries; a display adapter plugin
// pumps its own window system instead.
#include <atomic>

#include "core/glue/time_values.h"
#include "core/glue/timers.h"
#include "core/io/error_codes.h"
#include "core/services/command_services.h"
#include "core/vm/error_hooks.h"
#include "display/events.h"
#include "display/intervals.h"
#include "platform/posix/os_runloop.h"
#include "platform/posix/os_thread.h"

uint32_t NoEventPumping;

namespace {

EventAdapterHooks g_adapter;
// Set by the timer thread after a timer fired, so that the pump walks the
// timer list (under its lock) only when there is something to collect, not
// on every source line.
std::atomic<bool> g_timersFired;
PollWork g_pollWork[2];
OsTimeValue g_lastStaleDrop;
bool g_staleClockStarted;

constexpr uint32_t kStaleDropSeconds = 10;
constexpr OsTimerKey kStaleCheckKey{kStaleCheckId.id, kStaleCheckId.handle};

// True when the timer is the one of the interval or timeout record id.
bool IsKeyOf(const OsTimerKey& key, ObjectId id)
{
    return key.id == id.id && key.handle == id.handle;
}

// Walks the timer list once, collecting every fired timer. The walk's
// cursor is a record of the list, so nothing that could remove timers runs
// during it: the poll work (which may clear intervals) comes after.
void CollectFiredTimers(VmState* vm)
{
    OsTimer* cursor = nullptr;
    bool first = true;
    bool pollDue = false;
    while (first || cursor) {
        first = false;
        uint32_t kind;
        OsTimerKey key;
        cursor = OsNextFiredTimer(cursor, &kind, &key);
        if (kind == OS_TIMER_NOT_FIRED) continue;
        if (kind == OS_TIMER_ONESHOT && IsKeyOf(key, kStaleCheckId))
            continue;
        if (kind == OS_TIMER_PERIODIC && IsKeyOf(key, kPollIntervalId)) {
            pollDue = true;
            continue;
        }
        ObjectId target{static_cast<uint32_t>(key.id), key.handle};
        uint32_t type = kind == OS_TIMER_ONESHOT ? EVENT_TIMEOUT : EVENT_INTERVAL;
        // An interval that fires again before the script took its last event
        // gets no second one: a busy script must not drown in them.
        if (type == EVENT_INTERVAL && IsEventQueued(type, target)) continue;
        PostEvent(type, 0, target, 0, nullptr);
    }
    if (pollDue)
        for (PollWork work : g_pollWork)
            if (work) work(vm);
}

uint32_t NativePump(VmState* vm)
{
    // Plain loads first: the exchanges are bus-locked and this runs on every
    // source line.
    if (OsQuitRequested() && OsTakeQuitRequest()) return ERR_USERABORT;
    if (g_timersFired.load(std::memory_order_relaxed) && g_timersFired.exchange(false))
        CollectFiredTimers(vm);
    return 0;
}

// The timers' view of the event layer.
void HookWake(void*)
{
    g_timersFired.store(true);
    VmRaisePumpDue();
    OsPostTimerWakeup();
}

uint32_t HookWait(VmState* vm, void*) { return WaitForOsEvent(vm, 1, 0, 0); }

int HookPump(VmState* vm, uint32_t* outCode, void*) { return PumpOsEvents(vm, 1, 0, outCode); }

uint32_t HookAddPoll(VmState* vm, uint32_t ms, void*) { return AddInterval(vm, kPollIntervalId, ms, 0); }

void HookClearPoll(VmState* vm, void*) { ClearIntervalRecord(vm, kPollIntervalId); }

// After a pump of the line hook: what must run on every line keeps the pump
// due; queued events make it due again when their stale drop is.
void KeepPumpDue(const OsTimeValue& now)
{
    if (g_adapter.handleEvents || HasHooks(HOOK_VMSTATE)) {
        VmRaisePumpDue();
        return;
    }
    if (CountQueuedEvents() == 0 || OsFindTimer(OS_TIMER_ONESHOT, kStaleCheckKey, nullptr)) return;
    OsTimeValue since = now;
    OsSubTime(&since, &g_lastStaleDrop);
    uint64_t sinceMs = static_cast<uint64_t>(since.seconds) * 1000u + since.microseconds / 1000u;
    uint64_t waitMs = sinceMs < kStaleDropSeconds * 1000u ? kStaleDropSeconds * 1000u - sinceMs : 1;
    // Without timers every line looks again, as the clock alone can tell.
    if (OsCreateTimer(OS_TIMER_ADD_ONESHOT, kStaleCheckKey, static_cast<uint32_t>(waitMs)) != 0)
        VmRaisePumpDue();
}

}  // namespace

void InstallTimerEventHooks(bool install)
{
    static const OsEventHooks hooks{HookWake, HookWait, HookPump, HookAddPoll, HookClearPoll,
                                    nullptr};
    OsSetEventHooks(install ? &hooks : nullptr);
}

int PumpOsEvents(VmState* vm, uint32_t mode, uint32_t, uint32_t* outCode)
{
    *outCode = 0;
    OsTimeValue now{};
    if (mode & 1) {
        int hook = RunHooks(vm, HOOK_VMSTATE, nullptr);
        if (hook) {
            *outCode = static_cast<uint32_t>(hook);
            VmRaisePumpDue();
            return 1;
        }
        OsGetTime(&now);
        if (!g_staleClockStarted) {
            g_lastStaleDrop = now;
            g_staleClockStarted = true;
        } else {
            OsTimeValue since = now;
            OsSubTime(&since, &g_lastStaleDrop);
            if (since.seconds >= kStaleDropSeconds) {
                DropStaleEvents(vm);
                g_lastStaleDrop = now;
            }
        }
    }
    uint32_t result = g_adapter.handleEvents ? g_adapter.handleEvents(vm, g_adapter.user)
                                             : NativePump(vm);
    if (mode & 1) KeepPumpDue(now);
    if (result == ERR_USERABORT) {
        VmAbortFlag.store(1);
        return 1;
    }
    if (result) {
        *outCode = result;
        return 1;
    }
    return VmAbortFlag.load() ? 1 : 0;
}

void PumpEventsCallback(VmState* vm, VmDebugRecord*, uint32_t* outCode)
{
    if (NoEventPumping) {
        *outCode = 0;
        return;
    }
    PumpOsEvents(vm, 1, 0, outCode);
}

uint32_t WaitForOsEvent(VmState* vm, uint32_t, uint32_t, uint32_t)
{
    if (g_adapter.waitEvents) return g_adapter.waitEvents(vm, g_adapter.user);
    // Events already queued do not end the wait: a timed wait that does not
    // take them would spin on them. Every post wakes the wait, and a wake
    // that came before it is kept, so a caller that found the queue empty
    // never sleeps past a new event.
    OsWaitForWake(0xFFFFFFFFu);
    return 0;
}

void SetEventAdapterHooks(const EventAdapterHooks* hooks)
{
    g_adapter = hooks ? *hooks : EventAdapterHooks{};
    VmRaisePumpDue();
}

void SetPollWork(uint32_t slot, PollWork work)
{
    if (slot < 2) g_pollWork[slot] = work;
}
