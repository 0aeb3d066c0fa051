// Adapter bookkeeping, sleeps and the software frame limiter.
#include "display/adapters.h"

#include "core/glue/timers.h"
#include "core/io/error_codes.h"
#include "core/plugins/host_adapters.h"
#include "core/plugins/plugin_loader.h"
#include "core/plugins/plugin_manager.h"
#include "core/services/check_args.h"
#include "display/display.h"
#include "display/events.h"
#include "display/requesters.h"
#include "gfx/library/frame_pacing.h"

uint32_t DisplayAdapterWord = 10;
PluginInfo* RequesterAdapterPlugin;

namespace {

bool g_setupOpen = true;
DisplayAdapterHooks g_displayHooks;
RequesterAdapterHooks g_requesterAdapter;
VmState* g_eventVm;

// The rules every adapter setter shares.
uint32_t CheckAdapterChange(const PluginInfo* plugin, uint32_t capability,
                            const PluginInfo* current, uint32_t flagIndex)
{
    if (!RequireAppletVersion(6, 0)) return ERR_OLDAPPLET;
    if (!plugin || !(plugin->capabilities & capability)) return ERR_WRONGUSAGE;
    if (!g_setupOpen || (current && (current->adapterFlags[flagIndex] & ADAPTERFLAG_LOCKED)))
        return ERR_SETADAPTER;
    return 0;
}

// The adapter's event entries are read at each call: the loader binds them
// after InitPlugin, where an adapter usually sets itself.
uint32_t AdapterHandleEvents(VmState* vm, void* user)
{
    auto* plugin = static_cast<const PluginInfo*>(user);
    if (!plugin->HandleEvents || IsForeignCallForm(plugin)) return 0;
    return reinterpret_cast<QmHandleEventsFunc>(plugin->HandleEvents)(vm);
}

uint32_t AdapterWaitEvents(VmState* vm, void* user)
{
    auto* plugin = static_cast<const PluginInfo*>(user);
    if (!plugin->WaitEvents || IsForeignCallForm(plugin)) return 0;
    return reinterpret_cast<QmWaitEventsFunc>(plugin->WaitEvents)(vm);
}

}  // namespace

bool AdapterSetupOpen() { return g_setupOpen; }

void SetAdapterSetupOpen(bool open) { g_setupOpen = open; }

bool HaveDisplayAdapter() { return DisplayAdapterPlugin != nullptr; }

uint32_t SetDisplayAdapter(PluginInfo* plugin, uint32_t flags, const QmTagItem* tags)
{
    uint32_t error = CheckAdapterChange(plugin, PLUGINCAPS_DISPLAYADAPTER, DisplayAdapterPlugin,
                                        QM_ADAPTERFLAGS_DISPLAY);
    if (error) return error;
    plugin->adapterFlags[QM_ADAPTERFLAGS_DISPLAY] = flags;
    plugin->displayAdapterWord = 10;
    for (const QmTagItem* t = tags; t && t->tag != 0; ++t) {
        uint32_t value = static_cast<uint32_t>(t->value);
        if (t->tag == 1) plugin->displayAdapterWord = value;
        else if (t->tag == 2) plugin->adapterWords[0] = value;
        else if (t->tag == 3) plugin->displayAdapterCaps = value;
    }
    DisplayAdapterWord = plugin->displayAdapterWord;
    DisplayAdapterPlugin = plugin;
    const EventAdapterHooks events{AdapterHandleEvents, AdapterWaitEvents, plugin};
    SetEventAdapterHooks(&events);
    return 0;
}

void ForgetAdapterPlugin(const PluginInfo* plugin)
{
    if (!plugin) return;
    if (DisplayAdapterPlugin == plugin) {
        DisplayAdapterPlugin = nullptr;
        DisplayAdapterWord = 10;
        g_displayHooks = DisplayAdapterHooks{};
        SetEventAdapterHooks(nullptr);
    }
    if (RequesterAdapterPlugin == plugin) {
        RequesterAdapterPlugin = nullptr;
        g_requesterAdapter = RequesterAdapterHooks{};
    }
    if (TimerAdapterPlugin == plugin) TimerAdapterPlugin = nullptr;
}

void SetDisplayAdapterHooks(const DisplayAdapterHooks* hooks)
{
    g_displayHooks = hooks ? *hooks : DisplayAdapterHooks{};
}

uint32_t SetRequesterAdapter(PluginInfo* plugin, uint32_t flags)
{
    uint32_t error = CheckAdapterChange(plugin, PLUGINCAPS_REQUESTERADAPTER, RequesterAdapterPlugin,
                                        QM_ADAPTERFLAGS_REQUESTER);
    if (error) return error;
    plugin->adapterFlags[QM_ADAPTERFLAGS_REQUESTER] = flags;
    RequesterAdapterPlugin = plugin;
    // The plugin layer binds the entry points it found into the hooks.
    g_requesterAdapter = RequesterAdapterHooks{};
    g_requesterAdapter.plugin = plugin;
    g_requesterAdapter.flags = flags;
    return 0;
}

const RequesterAdapterHooks* GetRequesterAdapter()
{
    return RequesterAdapterPlugin ? &g_requesterAdapter : nullptr;
}

void SetRequesterAdapterHooks(const OsRequesterBackend* backend)
{
    g_requesterAdapter.backend = backend ? *backend : OsRequesterBackend{};
}

void ResetAdapters()
{
    if (DisplayAdapterPlugin) SetEventAdapterHooks(nullptr);
    DisplayAdapterPlugin = nullptr;
    RequesterAdapterPlugin = nullptr;
    DisplayAdapterWord = 10;
    g_displayHooks = DisplayAdapterHooks{};
    g_requesterAdapter = RequesterAdapterHooks{};
    g_setupOpen = true;
}

uint32_t AdapterSleep(uint32_t ms)
{
    if (g_displayHooks.sleep) return g_displayHooks.sleep(ms, g_displayHooks.user);
    return OsTimedWait(g_eventVm, ms);
}

uint32_t AdapterVWait(VmState* vm, Display* display, uint32_t)
{
    uint32_t error = 0;
    const PluginInfo* adapter = DisplayAdapterPlugin;
    if (adapter && (adapter->adapterFlags[QM_ADAPTERFLAGS_DISPLAY] & ADAPTERFLAG_VWAIT) &&
        g_displayHooks.vwait) {
        error = g_displayHooks.vwait(vm, display, g_displayHooks.user);
    } else {
        error = LimitFrameRate(vm, display, 0);
    }
    if (!error) SignalDisplayCallback(display, 5);
    return error;
}

void SetEventVmState(VmState* vm) { g_eventVm = vm; }

VmState* GetEventVmState() { return g_eventVm; }
