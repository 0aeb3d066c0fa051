// Event services of the host interface. Everything a plugin feeds in ends
// as a queued event (PostEvent is safe from any thread); the script thread
// hands it to its handlers as it does with its own input, so buttons, key
// handlers and the display's event slots hear plugin input the same way.
//
// A window is a display record the host handed out. The calls that run on
// the script thread check that the record is still a display; the
// any-thread callback trusts the adapter, which owns its windows.
#include "core/plugins/host_events.h"

#include <cstring>

#include "core/io/case_tables.h"
#include "core/io/error_codes.h"
#include "display/display.h"
#include "display/event_handlers.h"
#include "display/event_library.h"
#include "display/events.h"
#include "display/framebuffer.h"
#include "platform/posix/os_memory.h"
#include "quillmere/plugin_abi.h"

namespace {

ObjectId IdOfDisplay(const Display* d) { return ObjectId{d->header.id, d->header.handle}; }

bool IsLiveDisplay(const void* window)
{
    for (const Display* d = DisplayList; d; d = reinterpret_cast<const Display*>(d->header.next))
        if (d == window)
            return true;
    return false;
}

// The display event slot a window event stands for; -1 for none.
int SlotOfWindowEvent(uint32_t kind)
{
    switch (kind) {
    case QM_WINEVENT_MOUSEDOWN: return DEVENT_MOUSEDOWN;
    case QM_WINEVENT_MOUSEUP: return DEVENT_MOUSEUP;
    case QM_WINEVENT_MOUSEMOVE: return DEVENT_MOUSEMOVE;
    case QM_WINEVENT_RIGHTMOUSEDOWN: return DEVENT_RIGHTMOUSEDOWN;
    case QM_WINEVENT_KEYDOWN: return DEVENT_KEYDOWN;
    case QM_WINEVENT_KEYUP: return DEVENT_KEYUP;
    case QM_WINEVENT_CLOSE: return DEVENT_CLOSEWINDOW;
    default: return -1;
    }
}

uint32_t PostToDisplay(const Display* d, int slot, int32_t x, int32_t y, int32_t key)
{
    if (slot < 0 || slot >= kDisplayEventCount)
        return ERR_WRONGUSAGE;
    const int32_t args[4] = {x, y, key, 0};
    return PostEvent(EVENT_DISPLAY, slot, IdOfDisplay(d), 0, args);
}

}  // namespace

uint32_t HostPostEventCodeV(uint32_t code, va_list args)
{
    int32_t x = va_arg(args, int32_t);
    int32_t y = va_arg(args, int32_t);
    int32_t key = va_arg(args, int32_t);
    if (!CurrentDisplay)
        return ERR_FINDDISPLAY;
    return PostToDisplay(CurrentDisplay, static_cast<int>(code), x, y, key);
}

uint32_t HostPostEventCode(uint32_t code, ...)
{
    va_list args;
    va_start(args, code);
    uint32_t result = HostPostEventCodeV(code, args);
    va_end(args);
    return result;
}

uint32_t OsEventCallback(void* window, const QmWindowEvent* event)
{
    if (!window || !event)
        return ERR_WRONGUSAGE;
    return PostToDisplay(static_cast<const Display*>(window), SlotOfWindowEvent(event->kind), event->x, event->y,
                         event->key);
}

uint32_t HandleOsEvent(VmState* vm, void* window, const QmWindowEvent* event)
{
    if (!IsLiveDisplay(window))
        return ERR_FINDDISPLAY;
    if (uint32_t error = OsEventCallback(window, event))
        return error;
    // The script thread is here: hand what is queued to its handlers now.
    while (CountQueuedEvents())
        if (uint32_t error = DispatchNext(vm))
            return error;
    return 0;
}

uint32_t DispatchInterval(uint32_t id, uintptr_t handle)
{
    // Dispatch finds the interval again and drops the event when it is gone.
    return PostEvent(EVENT_INTERVAL, 0, ObjectId{id, handle}, 0, nullptr);
}

uint32_t DispatchPluginEvent(const char* handler, int32_t x, int32_t y, int32_t key)
{
    if (!handler || !handler[0])
        return ERR_WRONGUSAGE;
    size_t n = std::strlen(handler) + 1;
    auto* name = static_cast<char*>(OsAllocMem(n, 0));
    if (!name)
        return ERR_MEM;
    // Scripts keep their globals under lower-case names.
    for (size_t i = 0; i < n; ++i)
        name[i] = static_cast<char>(ToLowerLatin1(static_cast<uint8_t>(handler[i])));
    const int32_t args[4] = {x, y, key, 0};
    return PostEvent(EVENT_USER, EVENT_USER_NAMED_HANDLER, ObjectId{}, reinterpret_cast<uintptr_t>(name), args);
}

uint32_t HostQueuedEventCount() { return CountQueuedEvents(); }

uint32_t HostDisplaySize(void* display, int32_t* width, int32_t* height)
{
    if (!IsLiveDisplay(display))
        return ERR_FINDDISPLAY;
    const auto* d = static_cast<const Display*>(display);
    if (width)
        *width = d->width;
    if (height)
        *height = d->height;
    return 0;
}

uint32_t HostRefreshDisplay(VmState* vm, void* display)
{
    if (!IsLiveDisplay(display))
        return ERR_FINDDISPLAY;
    RefreshDisplay(vm, static_cast<Display*>(display), 0);
    return 0;
}

uint32_t PostDisplayEventByWindow(void* window, uint32_t code, int32_t x, int32_t y, int32_t key)
{
    if (!IsLiveDisplay(window))
        return ERR_FINDDISPLAY;
    return PostToDisplay(static_cast<const Display*>(window), static_cast<int>(code), x, y, key);
}
