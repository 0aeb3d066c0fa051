// Event-name tables and the global handler slots. The order of the names is
// the slot order of the handler arrays.
#include "display/event_handlers.h"

#include "core/io/utilities.h"
#include "display/script_refs.h"

const char* const DisplayEventNames[kDisplayEventCount] = {
    "CloseWindow",      "SizeWindow",       "MoveWindow",       "ActiveWindow",
    "InactiveWindow",   "ShowWindow",       "HideWindow",       "ModeSwitch",
    "OnMouseDown",      "OnMouseUp",        "OnMouseMove",      "OnRightMouseDown",
    "OnRightMouseUp",   "OnMidMouseDown",   "OnMidMouseUp",     "OnWheelUp",
    "OnWheelDown",      "OnKeyDown",        "OnKeyUp",          "OnRawKey",
    "VanillaKey",       "OnMenuSelect",     "OnDropFile",       "OnMouseEnter",
    "OnMouseLeave",     "OnDisplayRefresh", "OnOrientation",    "OnTouch",
    "OnDoubleClick",    "OnUserMessage",
};

const char* const GlobalEventNames[kGlobalEventCount] = {
    "OnSampleLoop",  "OnSampleEnd",     "OnMusicEnd",       "OnVideoEnd",
    "OnReceiveData", "OnConnect",       "OnDisconnect",     "OnReceiveUDPData",
    "OnHotKey",      "OnApplicationMessage", "OnTrayIcon",  "OnProgramEnd",
};

EventHandler GlobalEventHandlers[kGlobalEventCount] = {
    kNoEventHandler, kNoEventHandler, kNoEventHandler, kNoEventHandler,
    kNoEventHandler, kNoEventHandler, kNoEventHandler, kNoEventHandler,
    kNoEventHandler, kNoEventHandler, kNoEventHandler, kNoEventHandler,
};

bool HasGlobalEventHandler(int slot)
{
    const EventHandler& h = GlobalEventHandlers[slot];
    return h.functionRef >= 0 || h.label >= 0;
}

int FindEventName(const char* name, bool* global)
{
    if (!name) return -1;
    for (int i = 0; i < kDisplayEventCount; ++i) {
        if (!StrCaseCmp(name, DisplayEventNames[i])) {
            *global = false;
            return i;
        }
    }
    for (int i = 0; i < kGlobalEventCount; ++i) {
        if (!StrCaseCmp(name, GlobalEventNames[i])) {
            *global = true;
            return i;
        }
    }
    return -1;
}

void ReleaseEventHandlers(VmState* vm, EventHandler* handlers, int count)
{
    for (int i = 0; i < count; ++i) {
        if (vm) {
            ReleaseRegistryRef(vm, handlers[i].functionRef);
            ReleaseRegistryRef(vm, handlers[i].userdataRef);
        }
        handlers[i] = kNoEventHandler;
    }
}
