// Adapter bookkeeping, sleeps and the software frame limiter.
#include "display/adapters.h"

#include "core/io/error_codes.h"
#include "core/check_args.h"
#include "core/timers.h"
#include "display/display.h"
#include "display/requesters.h"
#include "platform/posix/os_time.h"

DisplayAdapterState DisplayAdapter;
uint32_t DisplayAdapterWord = 10;

namespace {

bool g_setupOpen = true;
RequesterAdapterHooks g_requesterAdapter;
bool g_haveRequesterAdapter;
VmState* g_eventVm;

// Adapters came with applet version 6.0.
bool AppletOlderThan6() { return !RequireAppletVersion(6, 0); }

}  // namespace

bool AdapterSetupOpen() { return g_setupOpen; }

void SetAdapterSetupOpen(bool open) { g_setupOpen = open; }

bool HaveDisplayAdapter() { return DisplayAdapter.plugin.info != nullptr; }

uint32_t SetDisplayAdapter(const AdapterPlugin& plugin, uint32_t flags, const TagItem* tags)
{
    if (AppletOlderThan6()) return ERR_OLDAPPLET;
    if (!(plugin.capabilities & PLUGINCAPS_DISPLAYADAPTER)) return ERR_WRONGUSAGE;
    if (!g_setupOpen || (HaveDisplayAdapter() && (DisplayAdapter.flags & ADAPTERFLAG_LOCKED)))
        return ERR_SETADAPTER;
    DisplayAdapter.plugin = plugin;
    DisplayAdapter.flags = flags;
    DisplayAdapter.word1 = 10;
    DisplayAdapter.word2 = 0;
    DisplayAdapter.capabilityWord = 0;
    for (const TagItem* t = tags; t && t->tag != TAG_END; ++t) {
        uint32_t value = static_cast<uint32_t>(t->value);
        if (t->tag == 1) DisplayAdapter.word1 = value;
        else if (t->tag == 2) DisplayAdapter.word2 = value;
        else if (t->tag == 3) DisplayAdapter.capabilityWord = value;
    }
    DisplayAdapterWord = DisplayAdapter.word1;
    return 0;
}

void SetDisplayAdapterHooks(const DisplayAdapterHooks* hooks)
{
    DisplayAdapter.hooks = hooks ? *hooks : DisplayAdapterHooks{};
}

uint32_t SetRequesterAdapter(const AdapterPlugin& plugin, uint32_t flags)
{
    if (AppletOlderThan6()) return ERR_OLDAPPLET;
    if (!(plugin.capabilities & PLUGINCAPS_REQUESTERADAPTER)) return ERR_WRONGUSAGE;
    if (!g_setupOpen || (g_haveRequesterAdapter && (g_requesterAdapter.flags & ADAPTERFLAG_LOCKED)))
        return ERR_SETADAPTER;
    // The plugin layer fills in the entry points it bound.
    g_requesterAdapter = RequesterAdapterHooks{};
    g_requesterAdapter.plugin = plugin.info;
    g_requesterAdapter.flags = flags;
    g_haveRequesterAdapter = true;
    return 0;
}

const RequesterAdapterHooks* GetRequesterAdapter()
{
    return g_haveRequesterAdapter ? &g_requesterAdapter : nullptr;
}

void ResetAdapters()
{
    DisplayAdapter = DisplayAdapterState{};
    DisplayAdapterWord = 10;
    g_requesterAdapter = RequesterAdapterHooks{};
    g_haveRequesterAdapter = false;
    g_setupOpen = true;
}

uint32_t AdapterSleep(uint32_t ms)
{
    if (DisplayAdapter.hooks.sleep) return DisplayAdapter.hooks.sleep(ms, DisplayAdapter.hooks.user);
    return OsTimedWait(g_eventVm, ms);
}

uint32_t AdapterVWait(VmState* vm, Display* display, uint32_t)
{
    uint32_t error = 0;
    if ((DisplayAdapter.flags & ADAPTERFLAG_VWAIT) && DisplayAdapter.hooks.vwait) {
        error = DisplayAdapter.hooks.vwait(vm, display, DisplayAdapter.hooks.user);
    } else if (display) {
        uint64_t now = OsMonotonicNanos() / 1000;
        uint64_t due = display->lastFrameMicros + kFrameMicros;
        if (display->lastFrameMicros && now < due) {
            uint32_t ms = static_cast<uint32_t>((due - now + 999) / 1000);
            error = OsTimedWait(vm, ms);
            now = OsMonotonicNanos() / 1000;
        }
        // Keep the cadence when the script is on time, restart it when the
        // script fell behind by more than a frame.
        display->lastFrameMicros = display->lastFrameMicros && now < due + kFrameMicros ? due : now;
    }
    if (!error) SignalDisplayCallback(display, 5);
    return error;
}

void SetEventVmState(VmState* vm) { g_eventVm = vm; }

VmState* GetEventVmState() { return g_eventVm; }
