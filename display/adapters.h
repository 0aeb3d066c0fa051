// Adapter plugins: a plugin may take over the display (its window system,
// event loop, sleeps and frame waits) or the requesters. Adapters can only
// be set while the runtime is still starting up, before the first display
// opens. Without adapters the platform serves everything.
#pragma once

#include <cstdint>

#include "core/command_services.h"

struct VmState;
struct Display;

// Plugin capability bits of the adapters.
enum : uint32_t {
    PLUGINCAPS_DISPLAYADAPTER = 0x800,
    PLUGINCAPS_REQUESTERADAPTER = 0x2000,
    PLUGINCAPS_AUDIOADAPTER = 0x10000,
};

// What the adapter setters need of a plugin; the plugin layer fills it from
// the plugin's information block.
struct AdapterPlugin {
    void* info;             // the plugin's information block
    uint32_t capabilities;  // its capability bits
    const char* name;
};

// A display adapter's entry points, as the plugin layer binds them; null
// entries fall back to the platform.
struct DisplayAdapterHooks {
    uint32_t (*sleep)(uint32_t ms, void* user);
    uint32_t (*vwait)(VmState* vm, Display* display, void* user);
    void* user;
};

struct DisplayAdapterState {
    AdapterPlugin plugin;      // info null: no adapter
    uint32_t flags;            // the adapter flag word
    uint32_t word1;            // tag 1 (default 10)
    uint32_t word2;            // tag 2
    uint32_t capabilityWord;   // tag 3
    DisplayAdapterHooks hooks;
};

extern DisplayAdapterState DisplayAdapter;
// The adapter word of tag 1, kept for the runtime as well (default 10).
extern uint32_t DisplayAdapterWord;

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
// capability, ERR_SETADAPTER past start-up or over a locked adapter; 0.
// Tags: 1 adapter word, 2 second word, 3 capability word.
uint32_t SetDisplayAdapter(const AdapterPlugin& plugin, uint32_t flags, const TagItem* tags);
void SetDisplayAdapterHooks(const DisplayAdapterHooks* hooks);
uint32_t SetRequesterAdapter(const AdapterPlugin& plugin, uint32_t flags);
// Removes every adapter (shutdown, tests).
void ResetAdapters();

// Waits ms milliseconds through the adapter's sleep, else through the
// platform's timed wait that keeps events flowing; a user abort comes back
// as its code.
uint32_t AdapterSleep(uint32_t ms);
// Waits for the next frame of the display (the adapter's VWait when its
// flag 0x200 is set, else the software limiter at 60 frames a second), then
// runs the display's callbacks with message 5. 0 or the code that ended the
// wait.
uint32_t AdapterVWait(VmState* vm, Display* display, uint32_t unused);
constexpr uint64_t kFrameMicros = 1000000 / 60;

// The VM state that waits without a state of their own pump with (the
// script's main state; set when the event library opens).
void SetEventVmState(VmState* vm);
VmState* GetEventVmState();
