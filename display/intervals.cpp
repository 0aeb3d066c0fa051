// Interval and timeout records and their platform timers. A record's timer
// key is its id pair, so that the pump can find the record again from what
// the timer list reports.
#include "display/intervals.h"

#include "core/glue/timers.h"
#include "core/io/error_codes.h"
#include "display/events.h"
#include "display/object_list.h"
#include "display/script_refs.h"
#include "platform/posix/os_memory.h"

IntervalRecord* IntervalList;
IntervalRecord* TimeoutList;

namespace {

ObjectHeader** Head(IntervalRecord** list) { return reinterpret_cast<ObjectHeader**>(list); }

OsTimerKey KeyOf(const IntervalRecord* r) { return OsTimerKey{r->header.id, r->header.handle}; }

void FreeRecord(VmState* vm, IntervalRecord** list, IntervalRecord* r, uint32_t removeOp)
{
    UnlinkObject(Head(list), &r->header);
    OsCreateTimer(removeOp, KeyOf(r), 0);
    DropQueuedEventsOf(r->header.type == OBJ_TIMEOUT ? EVENT_TIMEOUT : EVENT_INTERVAL,
                       ObjectId{r->header.id, r->header.handle});
    ReleaseEventHandlers(vm, &r->handler, 1);
    ReleaseObjectData(vm, &r->header);
    OsFreeMem(r);
}

uint32_t AddTimerObject(VmState* vm, IntervalRecord** list, uint32_t type, uint32_t addOp,
                        uint32_t removeOp, ObjectId id, uint32_t ms, uint32_t flag,
                        const EventHandler* handler, ObjectId* outId)
{
    bool newHandle = flag & TIMER_NEWHANDLE;
    if (!newHandle) {
        ObjectHeader* old = FindObjectInList(reinterpret_cast<ObjectHeader*>(*list), id);
        if (old) FreeRecord(vm, list, reinterpret_cast<IntervalRecord*>(old), removeOp);
    }
    auto* r = static_cast<IntervalRecord*>(OsAllocMem(sizeof(IntervalRecord), 1));
    if (!r) return ERR_MEM;
    r->time = OsTimeValue{ms / 1000, (ms % 1000) * 1000};
    r->handler = handler ? *handler : kNoEventHandler;
    AppendObject(Head(list), &r->header, type, id, newHandle);
    uint32_t error = OsCreateTimer(addOp, KeyOf(r), ms);
    if (error) {
        // The handler's references stay with the caller on failure.
        r->handler = kNoEventHandler;
        FreeRecord(vm, list, r, removeOp);
        return error;
    }
    if (outId) *outId = ObjectId{r->header.id, r->header.handle};
    return 0;
}

void ClearTimerObject(VmState* vm, IntervalRecord** list, uint32_t removeOp, ObjectId id)
{
    ObjectHeader* r = FindObjectInList(reinterpret_cast<ObjectHeader*>(*list), id);
    if (r) FreeRecord(vm, list, reinterpret_cast<IntervalRecord*>(r), removeOp);
}

}  // namespace

uint32_t AddInterval(VmState* vm, ObjectId id, uint32_t ms, uint32_t flag,
                     const EventHandler* handler, ObjectId* outId)
{
    // A period of 0 would make a one-shot timer of the platform's queue.
    if (ms == 0) ms = 1;
    return AddTimerObject(vm, &IntervalList, OBJ_INTERVAL, OS_TIMER_ADD_PERIODIC,
                          OS_TIMER_REMOVE_PERIODIC, id, ms, flag, handler, outId);
}

void ClearIntervalRecord(VmState* vm, ObjectId id)
{
    ClearTimerObject(vm, &IntervalList, OS_TIMER_REMOVE_PERIODIC, id);
}

uint32_t AddTimeout(VmState* vm, ObjectId id, uint32_t ms, uint32_t flag,
                    const EventHandler* handler, ObjectId* outId)
{
    return AddTimerObject(vm, &TimeoutList, OBJ_TIMEOUT, OS_TIMER_ADD_ONESHOT,
                          OS_TIMER_REMOVE_ONESHOT, id, ms, flag, handler, outId);
}

void ClearTimeoutRecord(VmState* vm, ObjectId id)
{
    ClearTimerObject(vm, &TimeoutList, OS_TIMER_REMOVE_ONESHOT, id);
}

uint32_t FindInterval(ObjectId id, IntervalRecord** out)
{
    ObjectHeader* r;
    uint32_t error = FindObjectOrError(reinterpret_cast<ObjectHeader*>(IntervalList), id,
                                       ERR_FINDINTERVAL, &r);
    *out = reinterpret_cast<IntervalRecord*>(r);
    return error;
}

uint32_t FindTimeout(ObjectId id, IntervalRecord** out)
{
    ObjectHeader* r;
    uint32_t error = FindObjectOrError(reinterpret_cast<ObjectHeader*>(TimeoutList), id,
                                       ERR_FINDTIMEOUT, &r);
    *out = reinterpret_cast<IntervalRecord*>(r);
    return error;
}

void FreeAllTimerObjects(VmState* vm)
{
    while (IntervalList) FreeRecord(vm, &IntervalList, IntervalList, OS_TIMER_REMOVE_PERIODIC);
    while (TimeoutList) FreeRecord(vm, &TimeoutList, TimeoutList, OS_TIMER_REMOVE_ONESHOT);
}
