// The event and display services of the plugin host interface: how a
// display-adapter plugin feeds window input in, how plugins post events,
// dispatch intervals of their own timers and reach the displays (table 1
// slots 14, 15, 27, 36, 38, 46 and 48; table 3 slots 11, 18 and 19).
#pragma once

#include <cstdarg>
#include <cstdint>

struct VmState;
struct QmWindowEvent;

uint32_t HostPostEventCode(uint32_t code, ...);
uint32_t HostPostEventCodeV(uint32_t code, va_list args);
uint32_t OsEventCallback(void* window, const QmWindowEvent* event);
uint32_t HandleOsEvent(VmState* vm, void* window, const QmWindowEvent* event);
uint32_t DispatchInterval(uint32_t id, uintptr_t handle);
uint32_t DispatchPluginEvent(const char* handler, int32_t x, int32_t y, int32_t key);
uint32_t HostQueuedEventCount();

uint32_t HostDisplaySize(void* display, int32_t* width, int32_t* height);
uint32_t HostRefreshDisplay(VmState* vm, void* display);
uint32_t PostDisplayEventByWindow(void* window, uint32_t code, int32_t x, int32_t y, int32_t key);
