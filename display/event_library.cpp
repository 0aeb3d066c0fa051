// The "event" library and the dispatch of queued events to script handlers.
#include "display/event_library.h"

#include "core/command_services.h"
#include "core/io/errors.h"
#include "core/io/error_codes.h"
#include "core/object_registry.h"
#include "core/option_tables.h"
#include "core/script_calls.h"
#include "core/vm/interpreter.h"
#include "core/vm/vm.h"
#include "display/adapters.h"
#include "display/display.h"
#include "display/intervals.h"
#include "display/library_support.h"
#include "display/script_refs.h"
#include "media/sound.h"

namespace {

const CommandTableEntry kEventCommands[] = {
    {"CreateButton", UnimplementedCommand},
    {"CreateKeyDown", UnimplementedCommand},
    {nullptr, nullptr},
};

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
}

}  // namespace

uint32_t OpenEventLibrary(VmState* vm)
{
    uint32_t error = InitEventQueue();
    if (!error) error = RegisterObjectList(&IntervalList);
    if (!error) error = RegisterObjectList(&TimeoutList);
    if (!error) error = RegisterCommandTable(vm, "event", kEventCommands);
    if (!error) SetEventVmState(vm);
    return error;
}

void CloseEventLibrary(VmState* vm)
{
    FreeAllTimerObjects(vm);
    ReleaseEventHandlers(vm, GlobalEventHandlers, kGlobalEventCount);
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

uint32_t DispatchEvent(VmState* vm, const QueuedEvent* e)
{
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
    uint32_t result = 0;
    if (handler.label >= 0) {
        result = GosubToLabel(vm, handler.label);
    } else if (handler.functionRef >= 0) {
        PushRegistryRef(vm, handler.functionRef);
        PushMessage(vm, e, name, handler.userdataRef);
        result = VmCall(vm, 1, 0);
    } else if (const char* function = NamedSoundHandler(e)) {
        result = CallScriptFunction(vm, function, 0, {ScriptArgObject(e->target)});
    }
    if (e->type == EVENT_TIMEOUT && found) {
        ReleaseRegistryRef(vm, handler.functionRef);
        ReleaseRegistryRef(vm, handler.userdataRef);
    }
    return result;
}
