// Runtime switches, tag handler lists and hooks.
#include "core/services/command_services.h"

#include "core/io/error_codes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class CommandServices : public ::testing::Test {
protected:
    void SetUp() override { saved = CoreTags; }
    void TearDown() override
    {
        FreeCoreLists(nullptr);
        CoreTags = saved;
    }
    CoreTagState saved{};
};

std::vector<std::string> calls;

int AcceptsEven(void*, uint32_t tag, intptr_t value)
{
    calls.push_back("even " + std::to_string(tag) + "=" + std::to_string(value));
    return tag % 2 == 0;
}

int AcceptsAll(void*, uint32_t tag, intptr_t)
{
    calls.push_back("all " + std::to_string(tag));
    return 1;
}

int AnswersSeven(void*, uint32_t tag, void* pointer)
{
    if (tag != 40)
        return 0;
    *static_cast<intptr_t*>(pointer) = 7;
    return 1;
}

} // namespace

TEST_F(CommandServices, TheRunningSwitchIsWriteOnlyAndTheNestingCounts)
{
    EXPECT_EQ(SetTags(nullptr, {{TAG_QUIET, 1}, {TAG_SCRIPTRUNNING, 1}}), 2u);
    uint32_t quiet = 9, running = 9;
    EXPECT_EQ(GetTags(nullptr, {{TAG_QUIET, reinterpret_cast<intptr_t>(&quiet)},
                                {TAG_SCRIPTRUNNING, reinterpret_cast<intptr_t>(&running)}}),
              1u);
    EXPECT_EQ(quiet, 1u);
    EXPECT_EQ(running, 9u);
    EXPECT_EQ(CoreTags.scriptRunning, 1u);

    // The error handler nesting counts up and down, past zero.
    CoreTags.errorHandlerNesting = 0;
    for (intptr_t up : {1, 0, 0})
        SetTags(nullptr, {{TAG_ERRORHANDLERNESTING, up}});
    EXPECT_EQ(CoreTags.errorHandlerNesting, -1);
    int32_t read = 0;
    GetTags(nullptr, {{TAG_ERRORHANDLERNESTING, reinterpret_cast<intptr_t>(&read)}});
    EXPECT_EQ(read, -1);
}

TEST_F(CommandServices, UnknownTagsGoToHandlersInOrderAndUnansweredOnesDoNotCount)
{
    calls.clear();
    ASSERT_EQ(AddSetTagHandler(AcceptsEven), 0u);
    ASSERT_EQ(AddSetTagHandler(AcceptsAll), 0u);
    EXPECT_EQ(SetTags(nullptr, {{TAG_QUIET, 0}, {98, 5}, {99, 6}}), 3u);
    EXPECT_EQ(calls, (std::vector<std::string>{"even 98=5", "even 99=6", "all 99"}));

    FreeCoreLists(nullptr);
    calls.clear();
    ASSERT_EQ(AddSetTagHandler(AcceptsEven), 0u);
    EXPECT_EQ(SetTags(nullptr, {{TAG_QUIET, 1}, {99, 0}}), 1u);
    // A list stops at its end tag even when items follow.
    const TagItem list[] = {{98, 1}, {TAG_END, 0}, {98, 2}};
    EXPECT_EQ(SetTagList(nullptr, list), 1u);

    // Get handlers answer through the pointer.
    ASSERT_EQ(AddGetTagHandler(AnswersSeven), 0u);
    intptr_t value = 0;
    EXPECT_EQ(GetTags(nullptr, {{40, reinterpret_cast<intptr_t>(&value)}, {41, 0}}), 1u);
    EXPECT_EQ(value, 7);
}

namespace {

struct PollState {
    int calls = 0;
    int answerAt = 0;
    int answer = 0;
};

int Poll(void* userData)
{
    auto* s = static_cast<PollState*>(userData);
    return ++s->calls == s->answerAt ? s->answer : 0;
}

int StateHook(VmState*, void* userData)
{
    calls.push_back("state " + std::to_string(reinterpret_cast<intptr_t>(userData)));
    return static_cast<int>(reinterpret_cast<intptr_t>(userData));
}

void ArgHook(void* arg, void* userData)
{
    calls.push_back("arg " + std::to_string(reinterpret_cast<intptr_t>(arg)) + " " +
                    std::to_string(reinterpret_cast<intptr_t>(userData)));
}

void* AsPointer(auto function) { return reinterpret_cast<void*>(function); }
void* AsData(intptr_t value) { return reinterpret_cast<void*>(value); }

} // namespace

TEST_F(CommandServices, PollHookRunsUntilItReportsAndMinusOneMeansNothing)
{
    struct Case {
        int answerAt, answer, expected;
    } cases[] = {{1, -1, 0}, {3, 5, 5}, {2, -7, -7}};
    for (const Case& c : cases) {
        PollState first{0, c.answerAt, c.answer}, second{0, 1, 99};
        ASSERT_NE(AddHook(HOOK_POLL, AsPointer(Poll), &first, 0), nullptr);
        ASSERT_NE(AddHook(HOOK_POLL, AsPointer(Poll), &second, 0), nullptr);
        EXPECT_EQ(RunHooks(nullptr, HOOK_POLL, nullptr), c.expected);
        EXPECT_EQ(first.calls, c.answerAt);
        EXPECT_EQ(second.calls, 0) << "only the first poll hook runs";
        FreeCoreLists(nullptr);
    }
    // Disabled and foreign poll hooks are passed by.
    PollState disabled{0, 1, 4}, enabled{0, 1, 6};
    HookRecord* first = AddHook(HOOK_POLL, AsPointer(Poll), &disabled, 0);
    AddHook(HOOK_POLL, AsPointer(Poll), &enabled, 0);
    SetHookDisabled(first, 1);
    EXPECT_EQ(RunHooks(nullptr, HOOK_POLL, nullptr), 6);
    EXPECT_EQ(disabled.calls, 0);

    FreeCoreLists(nullptr);
    PollState foreign{0, 1, 4};
    AddHook(HOOK_POLL, AsPointer(Poll), &foreign, 1);
    EXPECT_EQ(RunHooks(nullptr, HOOK_POLL, nullptr), 0) << "must not spin on the stub's 0";
    EXPECT_EQ(foreign.calls, 0);
}

TEST_F(CommandServices, StateHooksStopAtTheFirstAnswerAndArgumentHooksAllRun)
{
    calls.clear();
    AddHook(HOOK_ARGUMENT, AsPointer(ArgHook), AsData(1), 0);
    AddHook(HOOK_VMSTATE, AsPointer(StateHook), AsData(0), 0);
    HookRecord* disabled = AddHook(HOOK_VMSTATE, AsPointer(StateHook), AsData(8), 0);
    AddHook(HOOK_VMSTATE, AsPointer(StateHook), AsData(3), 1);  // foreign: answers 0
    AddHook(HOOK_VMSTATE, AsPointer(StateHook), AsData(4), 0);
    AddHook(HOOK_VMSTATE, AsPointer(StateHook), AsData(5), 0);
    AddHook(HOOK_ARGUMENT, AsPointer(ArgHook), AsData(2), 0);
    SetHookDisabled(disabled, 1);

    EXPECT_EQ(RunHooks(nullptr, HOOK_VMSTATE, nullptr), 4);
    EXPECT_EQ(calls, (std::vector<std::string>{"state 0", "state 4"}));

    calls.clear();
    EXPECT_EQ(RunHooks(nullptr, HOOK_ARGUMENT, AsData(42)), 0);
    EXPECT_EQ(calls, (std::vector<std::string>{"arg 42 1", "arg 42 2"}));

    SetHookDisabled(disabled, 0);
    calls.clear();
    EXPECT_EQ(RunHooks(nullptr, HOOK_VMSTATE, nullptr), 8);
}

TEST_F(CommandServices, HooksOfUnknownKindAreRefusedAndStrangersAreLeftAlone)
{
    EXPECT_EQ(AddHook(3, AsPointer(ArgHook), nullptr, 0), nullptr);
    EXPECT_EQ(HookList, nullptr);

    HookRecord* a = AddHook(HOOK_ARGUMENT, AsPointer(ArgHook), nullptr, 0);
    HookRecord* b = AddHook(HOOK_ARGUMENT, AsPointer(ArgHook), nullptr, 0);
    HookRecord stranger{};
    RemoveHook(&stranger);
    SetHookDisabled(&stranger, 1);
    EXPECT_EQ(stranger.disabled, 0u);
    RemoveHook(a);
    EXPECT_EQ(HookList, b);
    EXPECT_EQ(b->next, nullptr);
}

namespace {

// Hooks that rearrange the hook list from inside a run: the first removes
// the hook after it and itself and adds one.
struct Rearranging {
    HookRecord* next = nullptr;
    HookRecord* self = nullptr;
    bool done = false;
};
Rearranging rearranging;

void Rearrange(uint32_t kind, void* function, void* userData)
{
    if (reinterpret_cast<intptr_t>(userData) != 1 || rearranging.done)
        return;
    rearranging.done = true;
    RemoveHook(rearranging.next);
    RemoveHook(rearranging.self);
    ASSERT_NE(AddHook(kind, function, AsData(4), 0), nullptr);
}

int RearrangingStateHook(VmState*, void* userData)
{
    calls.push_back("state " + std::to_string(reinterpret_cast<intptr_t>(userData)));
    Rearrange(HOOK_VMSTATE, AsPointer(RearrangingStateHook), userData);
    return 0;
}

void RearrangingArgHook(void*, void* userData)
{
    calls.push_back("arg " + std::to_string(reinterpret_cast<intptr_t>(userData)));
    Rearrange(HOOK_ARGUMENT, AsPointer(RearrangingArgHook), userData);
}

} // namespace

// A run goes on with the hooks that were there when it began, minus those
// removed meanwhile; hooks added meanwhile run from the next run on.
TEST_F(CommandServices, AHookMayRemoveTheNextHookAndItselfWhileTheHooksRun)
{
    struct Case {
        uint32_t kind;
        void* function;
        const char* first;
        const char* third;
        const char* added;
    } cases[] = {
        {HOOK_VMSTATE, AsPointer(RearrangingStateHook), "state 1", "state 3", "state 4"},
        {HOOK_ARGUMENT, AsPointer(RearrangingArgHook), "arg 1", "arg 3", "arg 4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.first);
        FreeCoreLists(nullptr);
        calls.clear();
        rearranging = Rearranging{};
        rearranging.self = AddHook(c.kind, c.function, AsData(1), 0);
        rearranging.next = AddHook(c.kind, c.function, AsData(2), 0);
        ASSERT_NE(AddHook(c.kind, c.function, AsData(3), 0), nullptr);
        EXPECT_EQ(RunHooks(nullptr, c.kind, nullptr), 0);
        EXPECT_EQ(calls, (std::vector<std::string>{c.first, c.third}));
        calls.clear();
        EXPECT_EQ(RunHooks(nullptr, c.kind, nullptr), 0);
        EXPECT_EQ(calls, (std::vector<std::string>{c.third, c.added}));
    }
}
