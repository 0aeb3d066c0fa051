// Adapter plugins: a plugin may take over the display (its window system,
// event loop, sleeps and frame waits) or the requesters. Adapters can only
// be set while the runtime is still starting up, before the first display
// opens. Without adapters the platform serves everything.
#pragma once

#include <cstdint>

#include "quillmere/plugin_abi.h"

struct VmState;
struct Display;

// A display adapter's entry points, as the plugin layer binds them; null
// entries fall back to the platform. Events go through EventAdapterHooks
// (display/events.h).
struct DisplayAdapterHooks {
    uint32_t (*sleep)(uint32_t ms, void* user);
    uint32_t (*vwait)(VmState* vm, Display* display, void* user);
    void* user;
};

// The adapter word of tag 1, kept for the runtime as well (default 10).
extern uint32_t DisplayAdapterWord;
// The installed requester adapter, or null.
extern PluginInfo* RequesterAdapterPlugin;

// Adapter flag bits that the runtime reads.
enum : uint32_t {
    ADAPTERFLAG_LOCKED = 0x1,   // the adapter may not be replaced
    ADAPTERFLAG_VWAIT = 0x200,  // the adapter waits for frames itself
};

// True while adapters may still be set (until the first display opens).
bool AdapterSetupOpen();
void SetAdapterSetupOpen(bool open);

bool HaveDisplayAdapter();
// ERR_OLDAPPLET for applets made before 6.0, ERR_WRONGUSAGE without the
// capability, ERR_SETADAPTER past start-up or over an adapter whose flag
// word has bit 0x1; 0. The flags go to the plugin's display flag word;
// tags: 1 the adapter word (default 10), 2 a second word, 3 the adapter
// capability word. The plugin becomes DisplayAdapterPlugin.
uint32_t SetDisplayAdapter(PluginInfo* plugin, uint32_t flags, const QmTagItem* tags);
void SetDisplayAdapterHooks(const DisplayAdapterHooks* hooks);
// A plugin that goes (unloaded, or refused after its InitPlugin) leaves
// every adapter role it held, and the event pump is the platform's again.
void ForgetAdapterPlugin(const PluginInfo* plugin);
// The same rules with capability 0x2000; the flags go to the plugin's
// requester flag word.
uint32_t SetRequesterAdapter(PluginInfo* plugin, uint32_t flags);
// Removes every adapter (shutdown, tests).
void ResetAdapters();

// Waits ms milliseconds through the adapter's sleep, else through the
// platform's timed wait that keeps events flowing; a user abort comes back
// as its code.
uint32_t AdapterSleep(uint32_t ms);
// Waits for the next frame of the display (the adapter's VWait when its
// flag 0x200 is set, else the software limiter LimitFrameRate), then
// runs the display's callbacks with message 5. 0 or the code that ended the
// wait.
uint32_t AdapterVWait(VmState* vm, Display* display, uint32_t unused);
constexpr uint64_t kFrameMicros = 1000000 / 60;

// The VM state that waits without a state of their own pump with (the
// script's main state; set when the event library opens).
void SetEventVmState(VmState* vm);
VmState* GetEventVmState();
