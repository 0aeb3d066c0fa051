// Intervals and timeouts whose handlers create, replace and clear records of
// their own list (the next one to fire and themselves) while the events of
// one timer collection are handed out.
#include "display/intervals.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/glue/timers.h"
#include "core/io/error_codes.h"
#include "core/vm/vm.h"
#include "display/event_library.h"
#include "display/events.h"
#include "display/script_refs.h"
#include "platform/posix/os_runloop.h"
#include "support/event_dispatch.h"

namespace {

std::vector<std::string> heard;
void (*reaction)(VmState* vm, const std::string& action, int id);

uint32_t Heard(VmState* vm)
{
    std::string line;
    for (const char* key : {"action", "id"}) {
        VmPushCString(vm, key);
        VmRawGet(vm, 1);
        line += line.empty() ? "" : " ";
        line += VmType(vm, -1) == VM_TSTRING ? VmGetString(vm, -1) : std::to_string(static_cast<int>(VmGetNumber(vm, -1)));
        VmPop(vm, 1);
    }
    heard.push_back(line);
    if (reaction)
        reaction(vm, line.substr(0, line.find(' ')), std::stoi(line.substr(line.find(' ') + 1)));
    return 0;
}

// A handler that hears with Heard, its references passed to the record.
EventHandler HeardHandler(VmState* vm)
{
    EventHandler handler = kNoEventHandler;
    VmPushNativeFunction(vm, Heard);
    handler.functionRef = TakeRegistryRef(vm);
    return handler;
}

// Long periods: the test marks the timers fired itself.
constexpr uint32_t kLong = 100000;

uint32_t Add(VmState* vm, bool timeout, uint32_t id)
{
    EventHandler handler = HeardHandler(vm);
    return timeout ? AddTimeout(vm, MakeObjectId(id), kLong, 0, &handler) : AddInterval(vm, MakeObjectId(id), kLong, 0, &handler);
}

class IntervalsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(InitPlatformGlue(), 0u);
        vm = VmOpenState();
        VmPushValue(vm, VM_GLOBALSINDEX);
        ASSERT_EQ(OpenEventLibrary(vm), 0u);
        VmSetTop(vm, 0);
        heard.clear();
        reaction = nullptr;
    }
    void TearDown() override
    {
        reaction = nullptr;
        CloseEventLibrary(vm);
        VmCloseState(vm);
        OsShutdown();
    }
    // Marks every timer of the records fired and pumps once, as a timer
    // collection does.
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
    std::vector<std::string> Take()
    {
        std::vector<std::string> taken;
        taken.swap(heard);
        return taken;
    }

    VmState* vm = nullptr;
};

using Heards = std::vector<std::string>;

// The first interval's handler replaces the second (whose event waits) and
// clears itself, and starts a fourth: the second's waiting event belonged
// to the record that went, so the new one does not take it.
TEST_F(IntervalsTest, AnIntervalHandlerReplacesTheNextIntervalAndClearsItself)
{
    for (uint32_t id : {1, 2, 3})
        ASSERT_EQ(Add(vm, false, id), 0u);
    FireAll();
    reaction = [](VmState* v, const std::string&, int id) {
        if (id != 1)
            return;
        EXPECT_EQ(Add(v, false, 2), 0u);
        ClearIntervalRecord(v, MakeObjectId(1));
        EXPECT_EQ(Add(v, false, 4), 0u);
    };
    EXPECT_EQ(DispatchQueued(vm), 0u);
    EXPECT_EQ(Take(), (Heards{"Interval 1", "Interval 3"}));
    reaction = nullptr;
    FireAll();
    EXPECT_EQ(DispatchQueued(vm), 0u);
    EXPECT_EQ(Take(), (Heards{"Interval 3", "Interval 2", "Interval 4"}));
}

// A timeout's handler starts itself again and replaces the next timeout:
// the new records run out on their own time.
TEST_F(IntervalsTest, ATimeoutHandlerReplacesTheNextTimeoutAndStartsItselfAgain)
{
    for (uint32_t id : {5, 6, 7})
        ASSERT_EQ(Add(vm, true, id), 0u);
    FireAll();
    reaction = [](VmState* v, const std::string&, int id) {
        if (id != 5)
            return;
        EXPECT_EQ(Add(v, true, 6), 0u);
        EXPECT_EQ(Add(v, true, 5), 0u);
    };
    EXPECT_EQ(DispatchQueued(vm), 0u);
    EXPECT_EQ(Take(), (Heards{"Timeout 5", "Timeout 7"}));
    IntervalRecord* r;
    EXPECT_EQ(FindTimeout(MakeObjectId(7), &r), uint32_t{ERR_FINDTIMEOUT}) << "ran out";
    reaction = nullptr;
    FireAll();
    EXPECT_EQ(DispatchQueued(vm), 0u);
    EXPECT_EQ(Take(), (Heards{"Timeout 6", "Timeout 5"}));
    EXPECT_EQ(TimeoutList, nullptr);
}

}  // namespace
