// The host's event services as plugins use them: posted codes, intervals
// and plugin events reach the script's handlers, and window input that a
// display-adapter plugin (adapter_plugin.c) feeds while the runtime pumps
// fires the events of a button and a key handler.
#include "core/plugins/host_events.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <malloc.h>

#include <string>
#include <vector>

#include "core/io/error_codes.h"
#include "core/plugins/plugin_loader.h"
#include "core/vm/vm.h"
#include "display/adapters.h"
#include "display/buttons.h"
#include "display/display.h"
#include "display/display_library.h"
#include "display/event_library.h"
#include "display/events.h"
#include "display/intervals.h"
#include "display/script_refs.h"
#include "platform/posix/os_runloop.h"
#include "plugin_fixture.h"
#include "support/command_calls.h"
#include "support/event_dispatch.h"
#include "support/test_displays.h"

namespace {

std::vector<std::string> heard;

uint32_t Heard(VmState* vm)
{
    std::string line;
    for (const char* key : {"action", "id", "x", "y", "key"}) {
        VmPushCString(vm, key);
        VmRawGet(vm, 1);
        line += (line.empty() ? "" : " ") + std::string(VmType(vm, -1) == VM_TSTRING ? VmGetString(vm, -1)
                                                        : std::to_string(static_cast<int>(VmGetNumber(vm, -1))));
        VmPop(vm, 1);
    }
    heard.push_back(line);
    return 0;
}

// A handler that ends the applet as End and Error do: its error unwinds
// through whoever dispatched the event.
uint32_t EndTheApplet(VmState* vm) { VmRaiseError(vm, ERR_USERABORT); }

// What an adapter does in its HandleEvents: a click into its window, fed
// from the script thread.
void* clickWindow;
uint32_t FeedClick(VmState* vm)
{
    auto handleOsEvent = reinterpret_cast<QmHandleOsEventFunc>(GetPluginHostApi()->system->HandleOsEvent);
    const QmWindowEvent click{QM_WINEVENT_MOUSEDOWN, 5, 5, 0};
    return handleOsEvent(vm, clickWindow, &click);
}

class HostEvents : public ::testing::Test {
protected:
    void SetUp() override
    {
        display = OpenDisplayEventVm(&vm);
        ASSERT_NE(display, nullptr);
        SetGlobalFunctions(vm, {"onbuttonclick", "onbuttonover", "onbuttonout", "onkeydown", "fromplugin"}, Heard);
        heard.clear();
        host = GetPluginHostApi();
    }
    void TearDown() override
    {
        CloseEventLibrary(vm);
        CloseDisplayLibrary(vm);
        VmCloseState(vm);
        OsShutdown();
    }
    VmState* vm = nullptr;
    Display* display = nullptr;
    const PluginHostApi* host = nullptr;
};

TEST_F(HostEvents, EventsFromPluginsReachTheScriptAndAnAppletEndingOneIsFreed)
{
    // Slot 14: the current display's OnUserMessage slot.
    VmPushNativeFunction(vm, Heard);
    ASSERT_EQ(InstallEventHandler(vm, "OnUserMessage", 1, 0), 0u);
    VmSetTop(vm, 0);
    auto post = reinterpret_cast<QmPostEventCodeFunc>(host->system->eventService14);
    ASSERT_EQ(post(29u, 7, 8, 9), 0u);
    auto count = reinterpret_cast<QmQueuedEventCountFunc>(host->system->eventService48);
    EXPECT_EQ(count(), 1u);

    // Slot 38: an interval ticked by the plugin's timer.
    EventHandler handler = kNoEventHandler;
    VmPushNativeFunction(vm, Heard);
    handler.functionRef = TakeRegistryRef(vm);
    ASSERT_EQ(AddInterval(vm, MakeObjectId(3), 100000, 0, &handler, nullptr), 0u);
    auto tick = reinterpret_cast<QmDispatchIntervalFunc>(host->system->DispatchInterval);
    ASSERT_EQ(tick(3, 0), 0u);
    ASSERT_EQ(tick(99, 0), 0u);  // no such interval: dropped at dispatch

    // Slot 46: a named global function.
    auto pluginEvent = reinterpret_cast<QmDispatchPluginEventFunc>(host->system->DispatchPluginEvent);
    ASSERT_EQ(pluginEvent("FromPlugin", 1, 2, 3), 0u);
    EXPECT_EQ(DispatchQueued(vm), 0u);
    EXPECT_EQ(heard, (std::vector<std::string>{"OnUserMessage 1 7 8 9", "Interval 3 0 0 0",
                                               "fromplugin 0 1 2 3"}));

    heard.clear();
    ASSERT_EQ(testcalls::CallGlobal(vm, "createbutton", {4.0, 10.0, 10.0, 50.0, 30.0}), 0u);
    ASSERT_EQ(testcalls::CallGlobal(vm, "createkeydown", {6.0, std::string("ESC")}), 0u);
    SetAdapterSetupOpen(true);
    const std::string path = PluginPath("winadapter");
    PluginRecord* record = nullptr;
    ASSERT_EQ(LoadPluginFile(path.c_str(), true, &record), 0u);
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(module, nullptr);
    auto probe = reinterpret_cast<uint32_t (*)(uint32_t)>(dlsym(module, "AdapterProbe"));
    dlclose(module);
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(probe(0), 0u);  // it became the display adapter
    EXPECT_TRUE(HaveDisplayAdapter());

    // The first two events come as from the adapter's own thread: they wait.
    uint32_t code = 99;
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(PumpOsEvents(vm, 2, 0, &code), 0);
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(heard.empty());
    EXPECT_EQ(DispatchQueued(vm), 0u);
    // The rest come from the script thread and are handled at once.
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(PumpOsEvents(vm, 2, 0, &code), 0);
    EXPECT_EQ(probe(1), 6u);
    EXPECT_EQ(probe(2), 0u);
    // The button at (10, 10)-(50, 30) and the Escape handler hear enter,
    // click, leave and the key.
    const std::vector<std::string> expected = {"onbuttonover 4 20 20 0", "onbuttonclick 4 50 30 0",
                                               "onbuttonout 4 0 0 0", "onkeydown 6 0 0 27"};
    EXPECT_EQ(heard, expected);
    // A window that is no display is refused.
    auto handleOsEvent = reinterpret_cast<QmHandleOsEventFunc>(host->system->HandleOsEvent);
    int notADisplay = 0;
    QmWindowEvent click{QM_WINEVENT_MOUSEDOWN, 50, 30, 0};
    EXPECT_EQ(handleOsEvent(vm, &notADisplay, &click), static_cast<uint32_t>(ERR_FINDDISPLAY));

    // Unloaded, it leaves the pump to the platform again.
    FreeAllPlugins();
    EXPECT_FALSE(HaveDisplayAdapter());
    EXPECT_EQ(PumpOsEvents(vm, 2, 0, &code), 0);
    ResetAdapters();
    SetAdapterSetupOpen(false);

    VmPushNativeFunction(vm, EndTheApplet);
    ASSERT_EQ(InstallEventHandler(vm, "OnMouseDown", 1, 0), 0u);
    VmSetTop(vm, 0);
    clickWindow = display;
    auto feed = [this] {
        VmPushNativeFunction(vm, FeedClick);
        uint32_t error = VmPCall(vm, 0, 0, 0);
        VmSetTop(vm, 0);
        return error;
    };
    ASSERT_EQ(feed(), static_cast<uint32_t>(ERR_USERABORT));  // the VM's first error costs what it costs

    // Each lost event would stay in use: a hundred of them show in the
    // heap's count whatever the VM's garbage does. (Under the sanitizers the
    // heap is theirs and this count stands still; the leak check at exit
    // reports the lost events there.)
    constexpr int kRounds = 100;
    VmSetGCThreshold(vm, 0);
    const size_t before = mallinfo2().uordblks;
    for (int i = 0; i < kRounds; ++i)
        ASSERT_EQ(feed(), static_cast<uint32_t>(ERR_USERABORT));
    VmSetGCThreshold(vm, 0);
    const size_t after = mallinfo2().uordblks;
    EXPECT_EQ(CountQueuedEvents(), 0u);
    EXPECT_LT(static_cast<long>(after) - static_cast<long>(before), kRounds * static_cast<long>(sizeof(QueuedEvent)) / 2);
}

}  // namespace
