// Buttons, intervals and timeouts as a script meets them: a display's input
// or a timer collection fires their events in the order they were made, and
// the script's handlers may create, replace and drop records of the very
// list whose events they hear (the record they were called for included)
// while that list is walked. Walks inside walks, and the pointer's way in
// and out, walked as the clicks are: the list walks' tests and the host
// events' tests.
#include "display/buttons.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/glue/timers.h"
#include "core/io/error_codes.h"
#include "core/vm/vm.h"
#include "display/display.h"
#include "display/display_library.h"
#include "display/event_library.h"
#include "display/events.h"
#include "display/intervals.h"
#include "display/script_refs.h"
#include "platform/posix/os_runloop.h"
#include "support/command_calls.h"
#include "support/event_dispatch.h"
#include "support/test_displays.h"

namespace {

using testcalls::CallGlobal;
using testcalls::Nil;
using testcalls::Value;

std::vector<std::string> heard;
// What the script does when it hears an event: (action, numeric id; 0 for
// a handle).
std::function<void(VmState*, const std::string&, int)> reaction;

std::string Field(VmState* vm, const char* key)
{
    VmPushCString(vm, key);
    VmRawGet(vm, 1);
    std::string text = VmType(vm, -1) == VM_TSTRING        ? VmGetString(vm, -1)
                       : VmType(vm, -1) == VM_TLIGHTUSERDATA ? "handle"
                                                             : std::to_string(static_cast<int>(VmGetNumber(vm, -1)));
    VmPop(vm, 1);
    return text;
}

uint32_t Heard(VmState* vm)
{
    std::string action = Field(vm, "action");
    std::string id = Field(vm, "id");
    heard.push_back(action + " " + id);
    if (reaction)
        reaction(vm, action, id == "handle" ? 0 : std::stoi(id));
    return 0;
}

uint32_t DisplayHeard(VmState*)
{
    heard.push_back("display");
    return 0;
}

// Long periods: the test marks the timers fired itself.
constexpr uint32_t kLong = 100000;

// An interval or timeout whose handler hears with Heard.
uint32_t Add(VmState* vm, bool timeout, uint32_t id)
{
    EventHandler handler = kNoEventHandler;
    VmPushNativeFunction(vm, Heard);
    handler.functionRef = TakeRegistryRef(vm);
    return (timeout ? AddTimeout : AddInterval)(vm, MakeObjectId(id), kLong, 0, &handler, nullptr);
}

class ButtonsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        heard.clear();
        reaction = nullptr;
        display = OpenDisplayEventVm(&vm);
        ASSERT_NE(display, nullptr);
        CurrentDisplay = display;
        SetGlobalFunctions(vm, {"onbuttonclick", "onbuttonover", "onbuttonout", "onkeydown"}, Heard);
    }
    void TearDown() override
    {
        reaction = nullptr;
        CloseEventLibrary(vm);
        CloseDisplayLibrary(vm);
        VmCloseState(vm);
        OsShutdown();
    }
    // An input event of display 1, handed to its handlers as the event
    // commands do: from a command under the protected call.
    uint32_t Input(int slot, int32_t x, int32_t y, int32_t key = 0)
    {
        QueuedEvent e{};
        e.type = EVENT_DISPLAY, e.slot = slot, e.target = MakeObjectId(1);
        e.args[0] = x, e.args[1] = y, e.args[2] = key;
        return DispatchProtected(vm, &e);
    }
    void Button(Value id, double x1, double y1, double x2, double y2)
    {
        ASSERT_EQ(CallGlobal(vm, "createbutton", {id, x1, y1, x2, y2}), 0u);
    }
    // Marks every timer of the interval and timeout records fired and pumps
    // once, as a timer collection does.
    void FireAll()
    {
        for (bool timeout : {false, true})
            for (IntervalRecord* r = timeout ? TimeoutList : IntervalList; r;
                 r = reinterpret_cast<IntervalRecord*>(r->header.next)) {
                OsTimer* timer = OsFindTimer(timeout ? OS_TIMER_ONESHOT : OS_TIMER_PERIODIC,
                                             OsTimerKey{r->header.id, r->header.handle}, nullptr);
                ASSERT_NE(timer, nullptr);
                OsMarkTimerFired(timer);
            }
        uint32_t code;
        ASSERT_EQ(PumpOsEvents(vm, 2, 0, &code), 0);
    }
    std::vector<std::string> Take() { return std::exchange(heard, {}); }

    VmState* vm = nullptr;
    Display* display = nullptr;
};

using Heards = std::vector<std::string>;

// A button's handler replaces the button after it (now elsewhere) and
// itself, and makes a new one: the walk goes on with the records that were
// there when the click came, minus the ones that went; the new records hear
// the next click.
TEST_F(ButtonsTest, AClickHandlerReplacesTheNextButtonAndItself)
{
    for (double id : {1, 2, 3})
        Button(id, 10, 10, 50, 30);
    bool once = true;
    reaction = [&](VmState* v, const std::string&, int id) {
        if (id != 1 || !once)
            return;
        once = false;
        EXPECT_EQ(CallGlobal(v, "createbutton", {2.0, 100.0, 100.0, 110.0, 110.0}), 0u);
        EXPECT_EQ(CallGlobal(v, "createbutton", {1.0, 10.0, 10.0, 50.0, 30.0}), 0u);
        EXPECT_EQ(CallGlobal(v, "createbutton", {Nil{}, 10.0, 10.0, 50.0, 30.0}), 0u);
    };
    ASSERT_EQ(Input(DEVENT_MOUSEDOWN, 20, 20), 0u);
    EXPECT_EQ(Take(), (Heards{"onbuttonclick 1", "onbuttonclick 3"}));
    ASSERT_EQ(Input(DEVENT_MOUSEDOWN, 20, 20), 0u);
    EXPECT_EQ(Take(), (Heards{"onbuttonclick 3", "onbuttonclick 1", "onbuttonclick handle"}));
    ASSERT_EQ(Input(DEVENT_MOUSEDOWN, 105, 105), 0u);
    EXPECT_EQ(Take(), (Heards{"onbuttonclick 2"}));
}

// A move walks the buttons the same way; a button made in its place starts
// outside, so the next move brings it over.
TEST_F(ButtonsTest, AnOverHandlerReplacesTheNextButtonAndItself)
{
    for (double id : {1, 2, 3})
        Button(id, 10, 10, 50, 30);
    bool once = true;
    reaction = [&](VmState* v, const std::string& action, int id) {
        if (id != 1 || action != "onbuttonover" || !once)
            return;
        once = false;
        EXPECT_EQ(CallGlobal(v, "createbutton", {2.0, 10.0, 10.0, 50.0, 30.0}), 0u);
        EXPECT_EQ(CallGlobal(v, "createbutton", {1.0, 10.0, 10.0, 50.0, 30.0}), 0u);
    };
    ASSERT_EQ(Input(DEVENT_MOUSEMOVE, 20, 20), 0u);
    EXPECT_EQ(Take(), (Heards{"onbuttonover 1", "onbuttonover 3"}));
    ASSERT_EQ(Input(DEVENT_MOUSEMOVE, 21, 21), 0u);
    EXPECT_EQ(Take(), (Heards{"onbuttonover 2", "onbuttonover 1"}));
    ASSERT_EQ(Input(DEVENT_MOUSEMOVE, 0, 0), 0u);
    EXPECT_EQ(Take(), (Heards{"onbuttonout 3", "onbuttonout 2", "onbuttonout 1"}));
}

// The key handlers' list is walked the same way, and only the handlers of
// the key pressed hear it.
TEST_F(ButtonsTest, AKeyHandlerReplacesTheNextHandlerAndItself)
{
    for (double id : {1, 2, 3})
        ASSERT_EQ(CallGlobal(vm, "createkeydown", {id, std::string("a")}), 0u);
    bool once = true;
    reaction = [&](VmState* v, const std::string&, int id) {
        if (id != 1 || !once)
            return;
        once = false;
        EXPECT_EQ(CallGlobal(v, "createkeydown", {2.0, std::string("b")}), 0u);
        EXPECT_EQ(CallGlobal(v, "createkeydown", {1.0, std::string("a")}), 0u);
        EXPECT_EQ(CallGlobal(v, "createkeydown", {4.0, std::string("a")}), 0u);
    };
    ASSERT_EQ(Input(DEVENT_KEYDOWN, 0, 0, 'a'), 0u);
    EXPECT_EQ(Take(), (Heards{"onkeydown 1", "onkeydown 3"}));
    ASSERT_EQ(Input(DEVENT_KEYDOWN, 0, 0, 'a'), 0u);
    EXPECT_EQ(Take(), (Heards{"onkeydown 3", "onkeydown 1", "onkeydown 4"}));
    ASSERT_EQ(Input(DEVENT_KEYDOWN, 0, 0, 'b'), 0u);
    EXPECT_EQ(Take(), (Heards{"onkeydown 2"}));
}

// The display's own handler runs after the buttons: the one installed when
// they are done, not the one their handlers replaced or removed.
TEST_F(ButtonsTest, TheDisplayHandlerIsTheOneLeftAfterTheButtons)
{
    Button(1.0, 10, 10, 50, 30);
    VmPushNativeFunction(vm, Heard);
    ASSERT_EQ(InstallEventHandler(vm, "OnMouseDown", 1, 0), 0u);
    VmSetTop(vm, 0);
    reaction = [&](VmState* v, const std::string& action, int) {
        if (action != "onbuttonclick")
            return;
        VmPushNil(v);
        EXPECT_EQ(InstallEventHandler(v, "OnMouseDown", VmGetTop(v), 0), 0u);
        VmPop(v, 1);
    };
    ASSERT_EQ(Input(DEVENT_MOUSEDOWN, 20, 20), 0u);
    EXPECT_EQ(Take(), (Heards{"onbuttonclick 1"}));

    reaction = [&](VmState* v, const std::string&, int) {
        VmPushNativeFunction(v, DisplayHeard);
        EXPECT_EQ(InstallEventHandler(v, "OnMouseDown", VmGetTop(v), 0), 0u);
        VmPop(v, 1);
    };
    ASSERT_EQ(Input(DEVENT_MOUSEDOWN, 20, 20), 0u);
    EXPECT_EQ(Take(), (Heards{"onbuttonclick 1", "display"}));
}

// The first interval's handler replaces the second (whose event waits) and
// clears itself, and starts a fourth: the second's waiting event belonged
// to the record that went, so the new one does not take it. The first
// timeout's handler starts itself again and replaces the second: the new
// records run out on their own time.
TEST_F(ButtonsTest, IntervalAndTimeoutHandlersReplaceTheNextRecordAndThemselves)
{
    const struct {
        bool timeout;
        void (*reaction)(VmState* v, const std::string&, int id);
        Heards first, second;
    } cases[] = {
        {false,
         [](VmState* v, const std::string&, int id) {
             if (id != 1)
                 return;
             EXPECT_EQ(Add(v, false, 2), 0u);
             ClearIntervalRecord(v, MakeObjectId(1));
             EXPECT_EQ(Add(v, false, 4), 0u);
         },
         {"Interval 1", "Interval 3"},
         {"Interval 3", "Interval 2", "Interval 4"}},
        {true,
         [](VmState* v, const std::string&, int id) {
             if (id != 1)
                 return;
             EXPECT_EQ(Add(v, true, 2), 0u);
             EXPECT_EQ(Add(v, true, 1), 0u);
         },
         {"Timeout 1", "Timeout 3"},
         {"Timeout 2", "Timeout 1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.timeout ? "timeouts" : "intervals");
        for (uint32_t id : {1, 2, 3})
            ASSERT_EQ(Add(vm, c.timeout, id), 0u);
        FireAll();
        reaction = c.reaction;
        EXPECT_EQ(DispatchQueued(vm), 0u);
        EXPECT_EQ(Take(), c.first);
        IntervalRecord* r;
        EXPECT_TRUE(!c.timeout || FindTimeout(MakeObjectId(3), &r) == ERR_FINDTIMEOUT) << "ran out";
        reaction = nullptr;
        FireAll();
        EXPECT_EQ(DispatchQueued(vm), 0u);
        EXPECT_EQ(Take(), c.second);
        for (uint32_t id : {1, 2, 3, 4})
            ClearIntervalRecord(vm, MakeObjectId(id));
    }
    EXPECT_EQ(TimeoutList, nullptr);
}

}  // namespace
