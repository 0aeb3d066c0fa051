// Library registration on a real VM: the commands of subsystems this
// player lacks exist, CreateDisplay makes displays, every exit is safe
// unopened and twice, and queued events reach script handlers.
#include <string>

#include "core/io/error_codes.h"
#include "core/services/library_table.h"
#include "core/services/option_tables.h"
#include "core/vm/error_hooks.h"
#include "display/event_library.h"
#include "display/intervals.h"
#include "display/menus.h"
#include "display/script_refs.h"
#include "draw/text_state.h"
#include "gfx/graphics_fixture.h"
#include "media/sound.h"

namespace {

// Every exit in shutdown's order.
void RunAllExits(VmState* vm)
{
    for (int i = 0; i < LIBRARY_EXIT_STEP_COUNT; i++)
        if (LibraryExitSteps[i].exit)
            LibraryExitSteps[i].exit(vm);
}

class LibrariesTest : public VmFixture {
protected:
    void SetUp() override
    {
        VmFixture::SetUp();
        for (const LibraryTableEntry& l : LibraryTable) {
            SCOPED_TRACE(l.name);
            Register(l.open);
        }
    }
    void TearDown() override
    {
        RunAllExits(vm);
        VmFixture::TearDown();
    }
    // Calls a global command under protection with the arguments that
    // `push` leaves on the stack; its error code or 0.
    template <typename Push>
    uint32_t Call(const char* name, Push push)
    {
        int base = VmGetTop(vm);
        VmPushString(vm, name);
        VmGetTable(vm, VM_GLOBALSINDEX);
        EXPECT_EQ(VmType(vm, -1), int{VM_TFUNCTION}) << name;
        push();
        return VmPCall(vm, VmGetTop(vm) - base - 1, VM_MULTRET, 0);
    }
};

// The media commands exist and refuse a call that names no file (tests/media
// holds what they load).
TEST_F(LibrariesTest, MediaCommandsCheckTheirArguments)
{
    for (const char* command : {"loadsample", "openmusic", "openvideo"}) {
        uint32_t code = Call(command, [&] { VmPushNumber(vm, 1); });
        EXPECT_NE(code, 0u) << command;
        EXPECT_NE(code, uint32_t{ERR_UNIMPLCMD}) << command;
        VmSetTop(vm, 0);
    }
}

TEST_F(LibrariesTest, MenuTreesBecomeMenuObjects)
{
    auto tree = [&](bool empty) {
        return [&, empty] {
            VmPushNumber(vm, 3);
            VmNewTable(vm);
            if (empty)
                return;
            VmNewTable(vm);
            VmPushCString(vm, "File");
            VmRawSetI(vm, -2, 1);
            VmNewTable(vm);
            VmNewTable(vm);
            VmPushCString(vm, "Quit");
            VmRawSetI(vm, -2, 1);
            VmRawSetI(vm, -2, 1);
            VmRawSetI(vm, -2, 2);
            VmRawSetI(vm, -2, 1);
        };
    };
    EXPECT_EQ(Call("createmenu", tree(true)), uint32_t{ERR_EMPTYMENUTREE});
    VmSetTop(vm, 0);
    ASSERT_EQ(Call("createmenu", tree(false)), 0u);
    VmSetTop(vm, 0);
    MenuRecord* menu = nullptr;
    ASSERT_EQ(FindMenu(MakeObjectId(3), &menu), 0u);
    EXPECT_EQ(menu->itemCount, 2u);
    EXPECT_STREQ(menu->items->submenu->label, "Quit");
    EXPECT_EQ(CountObjectsOfType(OBJ_MENU), 1u);
    EXPECT_EQ(FindMenu(MakeObjectId(4), &menu), uint32_t{ERR_FINDMENU});
}

TEST_F(LibrariesTest, CreateDisplayReadsItsOptions)
{
    auto options = [&] {
        VmPushNumber(vm, 2);
        VmNewTable(vm);
        int t = VmGetTop(vm);
        SetTableInt(vm, t, "width", 320);
        SetTableInt(vm, t, "height", 200);
        SetTableInt(vm, t, "x", -100000);  // #CENTER
        SetTableInt(vm, t, "y", 7);
        SetTableInt(vm, t, "sizeable", 1);
        SetTableString(vm, t, "title", "Hello");
        SetTableString(vm, t, "mode", "FullScreen");
    };
    ASSERT_EQ(Call("createdisplay", options), 0u);
    Display* d = nullptr;
    ASSERT_EQ(FindDisplay(MakeObjectId(2), &d), 0u);
    EXPECT_EQ(d->x, (kMonitorWidth - 320) / 2);
    EXPECT_STREQ(d->title, "Hello");
    EXPECT_EQ(d->mode, uint32_t{DISPMODE_FULLSCREEN});
    EXPECT_EQ(d->windowFlags & DISPFLAG_SIZEABLE, uint32_t{DISPFLAG_SIZEABLE});
    VmSetTop(vm, 0);
    // Nil as id: the new display's handle comes back.
    std::vector<Value> handle;
    ASSERT_EQ(CallGlobal(vm, "createdisplay", {Nil{}}, &handle), 0u);
    ASSERT_EQ(FindDisplay(MakeHandleId(reinterpret_cast<uintptr_t>(std::get<Pointer>(handle.at(0)).p)), &d), 0u);
    EXPECT_EQ(d->width, 640);
    VmSetTop(vm, 0);
    // Sizes out of range, just or far, are refused without overflowing on
    // the way.
    for (double size : {0.0, 16385.0, double(0x800000C8u), -2147483648.0, 2147483647.0, 4294967295.0})
        for (const char* side : {"width", "height"}) {
            auto huge = [&] {
                VmPushNumber(vm, 4);
                testcalls::PushValue(vm, testcalls::Options{{{"width", 100}, {"height", 100}, {side, size}}});
            };
            EXPECT_EQ(Call("createdisplay", huge), uint32_t{ERR_DISPLAYSIZE}) << side << " " << size;
            VmSetTop(vm, 0);
        }
}

TEST(LibraryExits, RunTwiceAndWithoutTheirOpen)
{
    RunAllExits(nullptr);
    RunAllExits(nullptr);
    EXPECT_EQ(DisplayList, nullptr);
    EXPECT_EQ(IntervalList, nullptr);
    EXPECT_EQ(SampleList, nullptr);
    EXPECT_EQ(GetCurrentFont(), nullptr);
}

// ------------------------------------------------------------ dispatch

std::vector<std::string> g_seen;

QueuedEvent Event(uint32_t type, int32_t slot, uint32_t id, int32_t x = 0)
{
    QueuedEvent e{};
    e.type = type, e.slot = slot, e.target = MakeObjectId(id);
    e.args[0] = x;
    return e;
}

uint32_t RecordHandler(VmState* vm)
{
    // One argument: the message table.
    std::string entry;
    for (const char* key : {"action", "id", "x", "userdata"}) {
        VmPushString(vm, key);
        VmGetTable(vm, 1);
        if (VmType(vm, -1) == VM_TSTRING) entry += VmGetString(vm, -1);
        else if (VmType(vm, -1) == VM_TNUMBER) entry += std::to_string(static_cast<int>(VmGetNumber(vm, -1)));
        else entry += "-";
        entry += ",";
        VmPop(vm, 1);
    }
    g_seen.push_back(entry);
    return 0;
}

TEST_F(LibrariesTest, EventsReachTheirFunctionHandlers)
{
    g_seen.clear();
    ASSERT_EQ(OpenFirstDisplay(vm, nullptr, nullptr), 0u);
    VmPushNativeFunction(vm, RecordHandler);
    VmPushString(vm, "extra");
    ASSERT_EQ(InstallEventHandler(vm, "onmousedown", 1, 2), 0u);
    ASSERT_EQ(InstallEventHandler(vm, "OnSampleEnd", 1, 0), 0u);
    VmSetTop(vm, 0);

    QueuedEvent click = Event(EVENT_DISPLAY, 8, 1, 33), end = Event(EVENT_GLOBAL, GEVENT_SAMPLEEND, 4);
    QueuedEvent loop = Event(EVENT_GLOBAL, GEVENT_SAMPLELOOP, 4);  // no handler installed: nothing happens
    EXPECT_EQ(DispatchEvent(vm, &click), 0u);
    EXPECT_EQ(DispatchEvent(vm, &end), 0u);
    EXPECT_EQ(DispatchEvent(vm, &loop), 0u);
    ASSERT_EQ(g_seen.size(), 2u);
    EXPECT_EQ(g_seen[0], "OnMouseDown,1,33,extra,");
    EXPECT_EQ(g_seen[1], "OnSampleEnd,4,0,-,");
    // Removing the handler with nil.
    VmPushNil(vm);
    ASSERT_EQ(InstallEventHandler(vm, "OnMouseDown", 1, 0), 0u);
    VmSetTop(vm, 0);
    EXPECT_EQ(DispatchEvent(vm, &click), 0u);
    EXPECT_EQ(g_seen.size(), 2u);
}

uintptr_t g_clientHandle;
uint32_t RecordClient(VmState* vm)
{
    VmPushString(vm, "clientid");
    VmGetTable(vm, 1);
    g_clientHandle = reinterpret_cast<uintptr_t>(VmGetUserdata(vm, -1));
    return 0;
}

int g_networkPhases;
void CountNetworkPhase(VmState*) { g_networkPhases++; }

TEST_F(LibrariesTest, InstallEventHandlerTakesATableAndNetworkHandlersHoldThePollTimer)
{
    SetNetworkEventPhase(CountNetworkPhase);
    IntervalRecord* poll;
    auto install = [&](const char* name, int kind) {
        return Call("installeventhandler", [&] {
            VmNewTable(vm);
            VmPushString(vm, name);
            if (kind == 0) VmPushNumber(vm, 0);
            else if (kind == 1) VmPushNativeFunction(vm, RecordClient);
            else VmPushString(vm, "not a function");
            VmSetTable(vm, -3);
        });
    };
    ASSERT_EQ(install("OnSampleEnd", 1), 0u);
    EXPECT_NE(FindInterval(kPollIntervalId, &poll), 0u) << "no network handler, no polling";
    ASSERT_EQ(install("onconnect", 1), 0u);
    ASSERT_EQ(FindInterval(kPollIntervalId, &poll), 0u);
    EXPECT_EQ(install("OnConnect", 2), uint32_t{ERR_WRONGUSAGE});
    EXPECT_EQ(install("OnNothing", 1), uint32_t{ERR_UNKNOWNTAG});

    g_clientHandle = 0;
    ASSERT_EQ(PostEvent(EVENT_GLOBAL, GEVENT_CONNECT, MakeObjectId(3), 0x5678, nullptr), 0u);
    ASSERT_EQ(Call("checkevent", [] {}), 0u);
    EXPECT_EQ(g_clientHandle, 0x5678u) << "the new connection's handle";
    EXPECT_EQ(CountQueuedEvents(), 0u);

    ASSERT_EQ(install("OnConnect", 0), 0u);
    EXPECT_NE(FindInterval(kPollIntervalId, &poll), 0u) << "the last one gives the timer back";
    EXPECT_FALSE(HasGlobalEventHandler(GEVENT_CONNECT));
    SetNetworkEventPhase(nullptr);
}

uint32_t g_namedCalls;
uint32_t NamedSoundHandler(VmState* vm)
{
    if (VmType(vm, 1) == VM_TNUMBER) g_namedCalls += static_cast<uint32_t>(VmGetNumber(vm, 1));
    return 0;
}

TEST_F(LibrariesTest, SoundEventsFallBackToTheFunctionNamedByTheirTag)
{
    g_namedCalls = 0;
    VmPushString(vm, "p_sampledone");
    VmPushNativeFunction(vm, NamedSoundHandler);
    VmSetTable(vm, VM_GLOBALSINDEX);
    ASSERT_EQ(SoundSetTagHandler(nullptr, SOUNDTAG_ONSAMPLEEND, reinterpret_cast<intptr_t>("P_SampleDone")), 1);
    QueuedEvent end = Event(EVENT_GLOBAL, GEVENT_SAMPLEEND, 6);
    EXPECT_EQ(DispatchEvent(vm, &end), 0u);
    EXPECT_EQ(g_namedCalls, 6u) << "called once with the sample's id, name without regard to case";
    SoundSwitches = SoundSettings{0, 30, {}};
}

}  // namespace
