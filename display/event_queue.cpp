// The event queue: a singly linked FIFO under the event-queue lock. Posting
// may happen on any thread (the GUI thread, plugin threads, the timer
// wake-ups turned into events); taking, dropping and freeing happen on the
// script thread.
#include <cstring>

#include "core/glue/time_values.h"
#include "core/io/error_codes.h"
#include "core/vm/error_hooks.h"
#include "display/events.h"
#include "platform/posix/os_memory.h"
#include "platform/posix/os_runloop.h"
#include "platform/posix/os_thread.h"

uint32_t EventTimeoutMs = 60000;

namespace {

OsMutex* g_queueLock;
QueuedEvent* g_head;
QueuedEvent* g_tail;
uint32_t g_count;

// Unlinks up to n events from the head under the lock; returns the chain.
QueuedEvent* UnlinkHead(uint32_t n)
{
    QueuedEvent* first = g_head;
    QueuedEvent* last = nullptr;
    for (uint32_t i = 0; i < n && g_head; ++i) {
        last = g_head;
        g_head = g_head->next;
        --g_count;
    }
    if (!last) return nullptr;
    last->next = nullptr;
    if (!g_head) g_tail = nullptr;
    return first;
}

void FreeChain(QueuedEvent* e)
{
    while (e) {
        QueuedEvent* next = e->next;
        FreeQueuedEvent(e);
        e = next;
    }
}

uint64_t AgeMs(const OsTimeValue& now, const OsTimeValue& stamp)
{
    OsTimeValue age = now;
    OsSubTime(&age, &stamp);
    return static_cast<uint64_t>(age.seconds) * 1000u + age.microseconds / 1000u;
}

}  // namespace

uint32_t InitEventQueue()
{
    if (!g_queueLock) g_queueLock = OsCreateLock();
    if (!g_queueLock) return ERR_SEMAPHORE;
    InstallTimerEventHooks(true);
    return 0;
}

void FreeEventQueue()
{
    if (!g_queueLock) return;
    InstallTimerEventHooks(false);
    OsLock(g_queueLock);
    QueuedEvent* chain = g_head;
    g_head = g_tail = nullptr;
    g_count = 0;
    OsUnlock(g_queueLock);
    FreeChain(chain);
    OsDeleteLock(g_queueLock);
    g_queueLock = nullptr;
}

uint32_t PostEvent(uint32_t type, int32_t slot, ObjectId target, uintptr_t payload,
                   const int32_t* args)
{
    auto* e = static_cast<QueuedEvent*>(OsAllocMem(sizeof(QueuedEvent), 1));
    if (!e || !g_queueLock) {
        OsFreeMem(e);
        FreeEventPayload(type, payload);
        return e ? ERR_SEMAPHORE : ERR_MEM;
    }
    e->type = type;
    e->slot = slot;
    e->target = target;
    e->payload = payload;
    if (args) std::memcpy(e->args, args, sizeof e->args);
    OsGetTime(&e->stamp);
    OsLock(g_queueLock);
    if (g_tail) g_tail->next = e;
    else g_head = e;
    g_tail = e;
    ++g_count;
    OsUnlock(g_queueLock);
    VmRaisePumpDue();
    OsWakeScript();
    return 0;
}

QueuedEvent* TakeEvent()
{
    if (!g_queueLock) return nullptr;
    OsLock(g_queueLock);
    QueuedEvent* e = UnlinkHead(1);
    OsUnlock(g_queueLock);
    return e;
}

void FreeQueuedEvent(QueuedEvent* event)
{
    if (!event) return;
    FreeEventPayload(event->type, event->payload);
    OsFreeMem(event);
}

uint32_t CountQueuedEvents()
{
    if (!g_queueLock) return 0;
    OsLock(g_queueLock);
    uint32_t n = g_count;
    OsUnlock(g_queueLock);
    return n;
}

bool IsEventQueued(uint32_t type, ObjectId target)
{
    if (!g_queueLock) return false;
    OsLock(g_queueLock);
    bool found = false;
    for (QueuedEvent* e = g_head; e && !found; e = e->next)
        found = e->type == type && e->target.id == target.id && e->target.handle == target.handle;
    OsUnlock(g_queueLock);
    return found;
}

void DropQueuedEventsOf(uint32_t type, ObjectId target)
{
    if (!g_queueLock) return;
    QueuedEvent* dropped = nullptr;
    OsLock(g_queueLock);
    QueuedEvent* previous = nullptr;
    for (QueuedEvent* e = g_head; e;) {
        QueuedEvent* next = e->next;
        if (e->type == type && e->target.id == target.id && e->target.handle == target.handle) {
            (previous ? previous->next : g_head) = next;
            if (g_tail == e) g_tail = previous;
            --g_count;
            e->next = dropped;
            dropped = e;
        } else {
            previous = e;
        }
        e = next;
    }
    OsUnlock(g_queueLock);
    FreeChain(dropped);
}

void DropEvents(VmState*, uint32_t n, uint32_t)
{
    if (!g_queueLock) return;
    OsLock(g_queueLock);
    // n + 1 without wrapping: n = 0xFFFFFFFF empties the queue.
    QueuedEvent* chain = UnlinkHead(n == UINT32_MAX ? n : n + 1);
    OsUnlock(g_queueLock);
    FreeChain(chain);
}

uint32_t DropStaleEvents(VmState*)
{
    if (!g_queueLock) return 0;
    OsTimeValue now;
    OsGetTime(&now);
    OsLock(g_queueLock);
    uint32_t stale = 0;
    for (QueuedEvent* e = g_head; e && AgeMs(now, e->stamp) > EventTimeoutMs; e = e->next) ++stale;
    QueuedEvent* chain = UnlinkHead(stale);
    OsUnlock(g_queueLock);
    FreeChain(chain);
    return 0;
}

void FreeEventPayload(uint32_t type, uintptr_t payload)
{
    // Only user events own a block; the other kinds carry plain numbers.
    if (type == EVENT_USER && payload) OsFreeMem(reinterpret_cast<void*>(payload));
}
