// Handing an event to its handlers the way the event commands do: from a
// command, under the VM's protected call, so that a handler's error comes
// back as its code.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "core/vm/vm.h"
#include "display/event_library.h"
#include "display/events.h"

inline uint32_t DispatchProtected(VmState* vm, const QueuedEvent* e)
{
    int top = VmGetTop(vm);
    VmPushNativeFunction(vm, [](VmState* s) { return DispatchEvent(s, static_cast<const QueuedEvent*>(VmGetUserdata(s, 1))); });
    VmPushLightUserdata(vm, const_cast<QueuedEvent*>(e));
    uint32_t code = VmPCall(vm, 1, 0, 0);
    VmSetTop(vm, top);
    return code;
}

// Dispatches every queued event; answers the first error.
inline uint32_t DispatchQueued(VmState* vm)
{
    uint32_t first = 0;
    while (QueuedEvent* e = TakeEvent()) {
        uint32_t code = DispatchProtected(vm, e);
        FreeQueuedEvent(e);
        if (!first) first = code;
    }
    return first;
}

// Sets each named global to the native function, as a script's handlers.
inline void SetGlobalFunctions(VmState* vm, std::initializer_list<const char*> names, VmNativeFunction function)
{
    for (const char* name : names) {
        VmPushCString(vm, name);
        VmPushNativeFunction(vm, function);
        VmSetTable(vm, VM_GLOBALSINDEX);
    }
}
