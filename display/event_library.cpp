// The "event" library and the dispatch of queued events to script handlers.
#include "display/event_library.h"

#include "core/glue/timers.h"
#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/services/check_args.h"
#include "core/services/command_services.h"
#include "core/services/object_registry.h"
#include "core/services/option_tables.h"
#include "core/services/script_calls.h"
#include "core/vm/interpreter.h"
#include "core/vm/library_glue.h"
#include "core/vm/vm.h"
#include "display/adapters.h"
#include "display/buttons.h"
#include "display/display.h"
#include "display/intervals.h"
#include "display/library_support.h"
#include "display/script_refs.h"
#include "media/sound.h"

namespace {

void (*g_networkPhase)(VmState* vm);
bool g_networkPolling;
ProgramEndHooks g_programEnd;

uint32_t CmdInstallEventHandler(VmState* vm);
uint32_t CmdCheckEvent(VmState* vm);
uint32_t CmdWaitEvent(VmState* vm);

const CommandTableEntry kEventCommands[] = {
    {"CreateButton", CmdCreateButton},
    {"CreateKeyDown", CmdCreateKeyDown},
    {"InstallEventHandler", CmdInstallEventHandler},
    {"CheckEvent", CmdCheckEvent},
    {"WaitEvent", CmdWaitEvent},
    {nullptr, nullptr},
};

bool IsProgramEnd(const QueuedEvent* e) { return e->type == EVENT_GLOBAL && e->slot == GEVENT_PROGRAMEND; }

// The record of a finished program goes as soon as its event is taken,
// whether or not a handler still wants it.
void FinishProgram(VmState* vm, const QueuedEvent* e)
{
    if (IsProgramEnd(e) && g_programEnd.finished) g_programEnd.finished(vm, e->payload);
}

// The handler and the name of the event, or null when it has none.
const EventHandler* HandlerOf(const QueuedEvent* e, const char** name)
{
    switch (e->type) {
    case EVENT_DISPLAY: {
        Display* d;
        if (e->slot < 0 || e->slot >= kDisplayEventCount || FindDisplay(e->target, &d)) return nullptr;
        *name = DisplayEventNames[e->slot];
        return &d->handlers[e->slot];
    }
    case EVENT_GLOBAL:
        if (e->slot < 0 || e->slot >= kGlobalEventCount) return nullptr;
        *name = GlobalEventNames[e->slot];
        return &GlobalEventHandlers[e->slot];
    case EVENT_INTERVAL:
    case EVENT_TIMEOUT: {
        IntervalRecord* r;
        uint32_t missing = e->type == EVENT_INTERVAL ? FindInterval(e->target, &r)
                                                     : FindTimeout(e->target, &r);
        if (missing) return nullptr;
        *name = e->type == EVENT_INTERVAL ? "Interval" : "Timeout";
        return &r->handler;
    }
    default:
        return nullptr;
    }
}

// The sound events may also name a global function through the sound tags.
const char* NamedSoundHandler(const QueuedEvent* e)
{
    if (e->type != EVENT_GLOBAL) return nullptr;
    int index = e->slot == GEVENT_SAMPLELOOP  ? 0
                : e->slot == GEVENT_SAMPLEEND ? 1
                : e->slot == GEVENT_MUSICEND  ? 2
                : e->slot == GEVENT_VIDEOEND  ? 3
                                              : -1;
    if (index < 0 || !SoundSwitches.handlers[index][0]) return nullptr;
    return SoundSwitches.handlers[index];
}

void PushMessage(VmState* vm, const QueuedEvent* e, const char* name, int32_t userdataRef)
{
    VmNewTable(vm);
    int table = VmGetTop(vm);
    SetTableString(vm, table, "action", name);
    SetTableObjectId(vm, table, "id", e->target);
    SetTableInt(vm, table, "x", e->args[0]);
    SetTableInt(vm, table, "y", e->args[1]);
    SetTableInt(vm, table, "key", e->args[2]);
    VmPushString(vm, "userdata");
    PushRegistryRef(vm, userdataRef);
    VmRawSet(vm, table);
    // A server's new connection rides in the payload as its handle.
    if (e->type == EVENT_GLOBAL && e->slot == GEVENT_CONNECT)
        SetTableObjectId(vm, table, "clientid", ObjectId{0, e->payload});
}

// Frees a taken event however its handler ends (an error unwinds through
// here).
struct TakenEvent {
    QueuedEvent* event;
    ~TakenEvent() { FreeQueuedEvent(event); }
};

// InstallEventHandler(table, userdata): every field names an event; a
// function installs it as the handler, 0 removes the handler.
uint32_t CmdInstallEventHandler(VmState* vm)
{
    CheckArgs(vm, 1, 2, 0, 0);
    VmCheckTable(vm, 1);
    int userdata = VmType(vm, 2) == VM_TNONE ? 0 : 2;
    VmPushNil(vm);
    while (VmNext(vm, 1)) {
        int value = VmGetTop(vm);
        if (VmType(vm, value - 1) != VM_TSTRING) return ERR_WRONGUSAGE;
        const char* name = VmGetString(vm, value - 1);
        uint32_t code;
        if (VmType(vm, value) == VM_TFUNCTION) {
            code = InstallEventHandler(vm, name, value, userdata);
        } else if (VmType(vm, value) == VM_TNUMBER && VmGetNumber(vm, value) == 0) {
            VmPushNil(vm);
            code = InstallEventHandler(vm, name, VmGetTop(vm), 0);
            VmPop(vm, 1);
        } else {
            code = ERR_WRONGUSAGE;
        }
        if (code) return code;
        VmPop(vm, 1);
    }
    return UpdateNetworkPolling(vm);
}

// CheckEvent(): pumps once and hands at most one queued event to its
// handler.
uint32_t CmdCheckEvent(VmState* vm)
{
    CheckArgs(vm, 0, 0, 0, 0);
    uint32_t code;
    if (PumpOsEvents(vm, 1, 0, &code)) return code;
    return DispatchNext(vm);
}

// WaitEvent(): sleeps until an event is there and hands it to its handler.
uint32_t CmdWaitEvent(VmState* vm)
{
    CheckArgs(vm, 0, 0, 0, 0);
    for (;;) {
        uint32_t code;
        if (PumpOsEvents(vm, 1, 0, &code)) return code;
        if (CountQueuedEvents()) return DispatchNext(vm);
        if ((code = WaitForOsEvent(vm, 1, 0, 0))) return code;
    }
}

}  // namespace

uint32_t DispatchNext(VmState* vm)
{
    TakenEvent taken{TakeEvent()};
    return taken.event ? DispatchEvent(vm, taken.event) : 0;
}

uint32_t OpenEventLibrary(VmState* vm)
{
    uint32_t error = InitEventQueue();
    if (!error) error = RegisterObjectList(&IntervalList);
    if (!error) error = RegisterObjectList(&TimeoutList);
    if (!error) error = RegisterObjectList(&ButtonList);
    if (!error) error = RegisterObjectList(&KeyHandlerList);
    if (!error) error = RegisterCommandTable(vm, "event", kEventCommands);
    if (!error) SetEventVmState(vm);
    return error;
}

void CloseEventLibrary(VmState* vm)
{
    ReleaseEventHandlers(vm, GlobalEventHandlers, kGlobalEventCount);
    UpdateNetworkPolling(vm);
    FreeAllTimerObjects(vm);
    FreeInputObjects(vm);
    FreeEventQueue();
    SetEventVmState(nullptr);
}

EventHandler* FindEventHandlerSlot(const char* name)
{
    bool global = false;
    int slot = FindEventName(name, &global);
    if (slot < 0) return nullptr;
    if (global) return &GlobalEventHandlers[slot];
    return CurrentDisplay ? &CurrentDisplay->handlers[slot] : nullptr;
}

uint32_t InstallEventHandler(VmState* vm, const char* name, int function, int userdata)
{
    EventHandler* slot = FindEventHandlerSlot(name);
    if (!slot) {
        SetErrorText(name ? name : "");
        return ERR_UNKNOWNTAG;
    }
    ReleaseEventHandlers(vm, slot, 1);
    if (VmType(vm, function) == VM_TNIL) return 0;
    VmPushValue(vm, function);
    slot->functionRef = TakeRegistryRef(vm);
    if (userdata) {
        VmPushValue(vm, userdata);
        slot->userdataRef = TakeRegistryRef(vm);
    }
    return 0;
}

uint32_t InstallEventLabel(VmState* vm, const char* name, int32_t label)
{
    EventHandler* slot = FindEventHandlerSlot(name);
    if (!slot) {
        SetErrorText(name ? name : "");
        return ERR_UNKNOWNTAG;
    }
    ReleaseEventHandlers(vm, slot, 1);
    slot->label = label;
    return 0;
}

uint32_t GosubToLabel(VmState*, int32_t label)
{
    VmGosubJumpDistance = label - VmCallInstructionIndex;
    return VM_GOSUB_AFTER;
}

void SetNetworkEventPhase(void (*phase)(VmState* vm)) { g_networkPhase = phase; }

uint32_t UpdateNetworkPolling(VmState* vm)
{
    bool wanted = g_networkPhase && (HasGlobalEventHandler(GEVENT_RECEIVEDATA) || HasGlobalEventHandler(GEVENT_CONNECT) ||
                                     HasGlobalEventHandler(GEVENT_DISCONNECT) ||
                                     HasGlobalEventHandler(GEVENT_RECEIVEUDPDATA));
    if (wanted == g_networkPolling) return 0;
    if (wanted) {
        if (uint32_t code = AcquirePollTimer(vm, POLL_SLOT_EVENT)) return code;
        SetPollWork(POLL_SLOT_EVENT, g_networkPhase);
    } else {
        SetPollWork(POLL_SLOT_EVENT, nullptr);
        ReleasePollTimer(vm, POLL_SLOT_EVENT);
    }
    g_networkPolling = wanted;
    return 0;
}

void SetProgramEndHooks(const ProgramEndHooks* hooks) { g_programEnd = hooks ? *hooks : ProgramEndHooks{}; }

uint32_t DispatchEvent(VmState* vm, const QueuedEvent* e)
{
    // Buttons and key handlers hear the display's input first. Their
    // handlers may replace or remove the display's handler, or free the
    // display: the handler is looked up once they are done.
    if (uint32_t result = FireInputObjectEvents(vm, e)) return result;
    const char* name = "";
    const EventHandler* found = HandlerOf(e, &name);
    // A copy: the handler may replace itself, or the timeout may go.
    EventHandler handler = found ? *found : kNoEventHandler;
    if (e->type == EVENT_TIMEOUT && found) {
        // The timeout has run out: it no longer exists for the script, but
        // its references live until the handler has run.
        IntervalRecord* r;
        if (!FindTimeout(e->target, &r)) {
            r->handler = kNoEventHandler;
            ClearTimeoutRecord(vm, e->target);
        }
    }
    // A started program's own value, when it came with one, stands in for
    // the handler's userdata.
    int32_t userdataRef = handler.userdataRef;
    if (IsProgramEnd(e) && g_programEnd.userValueRef) {
        int32_t own = g_programEnd.userValueRef(e->payload);
        if (own >= 0) userdataRef = own;
    }
    uint32_t result = 0;
    if (handler.label >= 0) {
        FinishProgram(vm, e);
        result = GosubToLabel(vm, handler.label);
    } else if (handler.functionRef >= 0) {
        PushRegistryRef(vm, handler.functionRef);
        PushMessage(vm, e, name, userdataRef);
        FinishProgram(vm, e);
        result = VmCall(vm, 1, 0);
    } else if (e->type == EVENT_USER && e->slot == EVENT_USER_NAMED_HANDLER && e->payload) {
        const char* function = reinterpret_cast<const char*>(e->payload);
        VmPushCString(vm, function);
        VmGetTable(vm, VM_GLOBALSINDEX);
        if (VmType(vm, -1) == VM_TFUNCTION) {
            PushMessage(vm, e, function, -1);
            result = VmCall(vm, 1, 0);
        } else {
            VmPop(vm, 1);
        }
    } else if (IsProgramEnd(e)) {
        FinishProgram(vm, e);
    } else if (const char* function = NamedSoundHandler(e)) {
        result = CallScriptFunction(vm, function, 0, {ScriptArgObject(e->target)});
    }
    if (e->type == EVENT_TIMEOUT && found) {
        ReleaseRegistryRef(vm, handler.functionRef);
        ReleaseRegistryRef(vm, handler.userdataRef);
    }
    return result;
}
