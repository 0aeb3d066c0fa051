// Calls of natives: the result protocol, protected calls that restore the
// state, nesting limits, __call, hooks and the error hooks of the runtime.
#include <string>
#include <vector>

#include "core/io/error_codes.h"
#include "core/vm/calls.h"
#include "core/vm/state.h"
#include "core/vm_fixture.h"

namespace {

struct CallsTest : VmTest {
    // Calls native f with the given number arguments; returns the code and
    // leaves the results on the stack.
    uint32_t Call(VmNativeFunction f, std::vector<double> args, int nresults)
    {
        VmPushNativeFunction(vm, f);
        for (double a : args)
            VmPushNumber(vm, a);
        return VmCall(vm, static_cast<int>(args.size()), nresults);
    }
};

uint32_t PushThree(VmState* s)
{
    VmPushNumber(s, 1);
    VmPushNumber(s, 2);
    VmPushNumber(s, 3);
    return 3;
}

}  // namespace

TEST_F(CallsTest, ResultCountsAreTakenFromTheTop)
{
    EXPECT_EQ(Call(PushThree, {}, VM_MULTRET), 0u);
    ASSERT_EQ(VmGetTop(vm), 3);
    EXPECT_EQ(VmGetNumber(vm, 1), 1);
    EXPECT_EQ(VmGetNumber(vm, 3), 3);
    VmSetTop(vm, 0);
    // Results are the top values, not the first pushed.
    Call([](VmState* s) -> uint32_t {
        VmPushNumber(s, 100);
        VmPushNumber(s, 200);
        return 1;
    }, {7, 8}, VM_MULTRET);
    ASSERT_EQ(VmGetTop(vm), 1);
    EXPECT_EQ(VmGetNumber(vm, 1), 200);
    VmSetTop(vm, 0);
    // Claiming more than the frame holds gives what is there, arguments included.
    Call([](VmState* s) -> uint32_t { VmPushNumber(s, 5); return 50; }, {4}, VM_MULTRET);
    ASSERT_EQ(VmGetTop(vm), 2);
    EXPECT_EQ(VmGetNumber(vm, 1), 4);
    EXPECT_EQ(VmGetNumber(vm, 2), 5);
}

TEST_F(CallsTest, ErrorCodesComeBackWithNoResultsThroughTheFilterAndTheLastError)
{
    EXPECT_EQ(Call([](VmState* s) -> uint32_t { VmPushNumber(s, 1); return ERR_READFILE; }, {}, 2),
              static_cast<uint32_t>(ERR_READFILE));
    EXPECT_EQ(VmGetTop(vm), 2);
    EXPECT_EQ(VmType(vm, 1), VM_TNIL);
    VmSetTop(vm, 0);
    // 999 is still a count; 0xFFFFFFFD an error.
    EXPECT_EQ(Call([](VmState*) -> uint32_t { return 0xFFFFFFFDu; }, {}, 0), 0xFFFFFFFDu);
    EXPECT_EQ(VmGetTop(vm), 0);
    // The last error is reset by every call but GetLastError's.
    static const VmNativeFunction getLastError = [](VmState* s) -> uint32_t { VmPushNumber(s, VmLastErrorCode); return 1; };
    VmHooks.getLastErrorCommand = getLastError;
    VmLastErrorCode = 1045;
    Call(getLastError, {}, 1);
    EXPECT_EQ(VmGetNumber(vm, -1), 1045);
    Call(PushThree, {}, 0);
    EXPECT_EQ(VmLastErrorCode, 0u);
    // The error filter may handle the code.
    VmHooks.filterNativeError = [](VmState*, uint32_t code) -> uint32_t { return code == ERR_READFILE ? 0 : code; };
    EXPECT_EQ(Call([](VmState*) -> uint32_t { return ERR_READFILE; }, {}, 1), 0u);
    EXPECT_EQ(Call([](VmState*) -> uint32_t { return ERR_WRITE; }, {}, 1), static_cast<uint32_t>(ERR_WRITE));
    // Counts and Gosub requests never reach it.
    VmHooks.filterNativeError = [](VmState*, uint32_t) -> uint32_t { ADD_FAILURE(); return 0; };
    Call(PushThree, {}, 0);
    Call([](VmState*) -> uint32_t { return VM_GOSUB_AFTER; }, {}, 0);
}

TEST_F(CallsTest, GosubOutsideTheInterpreterLeavesNoRecord)
{
    VmCallInfo* before = vm->ci;
    VmPushNativeFunction(vm, [](VmState* s) -> uint32_t { VmPushNumber(s, 1); return VM_GOSUB_BEFORE; });
    EXPECT_EQ(VmCall(vm, 0, 2), 0u);
    EXPECT_EQ(vm->ci, before);
    EXPECT_EQ(VmGetTop(vm), 2);
    EXPECT_EQ(VmType(vm, 1), VM_TNIL);
}

TEST_F(CallsTest, ProtectedCallsRestoreTheStateAndTheNextCallWorks)
{
    VmPushNumber(vm, 42);
    int top = VmGetTop(vm);
    VmCallInfo* ci = vm->ci;
    uint32_t depth = vm->nCcalls;
    VmPushNativeFunction(vm, [](VmState* s) -> uint32_t {
        VmPushNativeFunction(s, [](VmState* t) -> uint32_t {
            for (int i = 0; i < 5; i++)
                VmPushNumber(t, i);
            VmRaiseError(t, ERR_WRONGOP);
        });
        VmCall(s, 0, 0);
        ADD_FAILURE() << "a raise never returns";
        return 0;
    });
    VmPushNumber(vm, 1);
    EXPECT_EQ(VmPCall(vm, 1, 0, 0), static_cast<uint32_t>(ERR_WRONGOP));
    EXPECT_EQ(VmGetTop(vm), top) << "the function and its arguments are gone";
    EXPECT_EQ(vm->ci, ci);
    EXPECT_EQ(vm->nCcalls, depth);
    EXPECT_EQ(VmErrorInProgress, 0u);
    EXPECT_EQ(VmErrorLine, -1) << "raised in a native";
    EXPECT_EQ(VmGetNumber(vm, 1), 42);
    VmPushNativeFunction(vm, PushThree);
    EXPECT_EQ(VmPCall(vm, 0, 1, 0), 0u);
    EXPECT_EQ(VmGetNumber(vm, -1), 1);
}

TEST_F(CallsTest, NativeNestingOverflowsAtTwoHundred)
{
    static int deepest;
    static VmNativeFunction recurse;
    recurse = [](VmState* s) -> uint32_t {
        deepest = static_cast<int>(s->nCcalls);
        VmPushNativeFunction(s, recurse);
        return VmCall(s, 0, 0);
    };
    deepest = 0;
    VmPushNativeFunction(vm, recurse);
    EXPECT_EQ(VmPCall(vm, 0, 0, 0), static_cast<uint32_t>(ERR_STACK));
    EXPECT_EQ(deepest, 199);
    EXPECT_EQ(vm->nCcalls, 0u);
}

TEST_F(CallsTest, CallMetamethodShiftsTheArguments)
{
    EXPECT_EQ(RunNative([](VmState* s) {
                  VmNewTable(s);  // 1: callable object
                  VmNewTable(s);  // 2: metatable
                  VmPushString(s, "__call");
                  VmPushNativeFunction(s, [](VmState* t) -> uint32_t {
                      EXPECT_EQ(VmGetTop(t), 3);
                      EXPECT_EQ(VmType(t, 1), VM_TTABLE);
                      VmPushNumber(t, VmGetNumber(t, 2) + VmGetNumber(t, 3));
                      return 1;
                  });
                  VmSetTable(s, 2);
                  VmSetMetatable(s, 1);
                  VmPushValue(s, 1);
                  VmPushNumber(s, 2);
                  VmPushNumber(s, 3);
                  EXPECT_EQ(VmCall(s, 2, 1), 0u);
                  EXPECT_EQ(VmGetNumber(s, -1), 5);
              }),
              0u);
}

TEST_F(CallsTest, HooksSeeCallsAndReturnsAndMayThrow)
{
    static std::vector<int> events;
    events.clear();
    VmSetHook(vm, [](VmState*, VmDebugRecord* r, uint32_t*) { events.push_back(r->event); },
              VM_MASKCALL | VM_MASKRET, 0);
    Call(PushThree, {}, 0);
    EXPECT_EQ(events, (std::vector<int>{VM_HOOKCALL, VM_HOOKRET}));
    VmSetHook(vm, [](VmState*, VmDebugRecord*, uint32_t* code) { *code = ERR_USERABORT; }, VM_MASKCALL, 0);
    VmPushNativeFunction(vm, PushThree);
    EXPECT_EQ(VmPCall(vm, 0, 0, 0), static_cast<uint32_t>(ERR_USERABORT));
    EXPECT_EQ(vm->allowHook, 1);
    VmSetHook(vm, nullptr, VM_MASKCALL, 0);
}

TEST_F(CallsTest, PluginErrorHookRunsProtectedAndTheUnwindGoesOn)
{
    static int calls;
    calls = 0;
    VmHooks.callPluginErrorHook = [](VmState* s, uint32_t code) -> int {
        calls++;
        EXPECT_EQ(code, static_cast<uint32_t>(ERR_READFILE));
        VmRaiseError(s, ERR_MEM);  // its own failure is contained
    };
    EXPECT_EQ(RunNative([](VmState* s) { VmRaiseError(s, ERR_READFILE); }), static_cast<uint32_t>(ERR_READFILE));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(VmErrorInProgress, 0u);
}

TEST_F(CallsTest, RaisingOutsideAnyProtectedCallEndsTheProcess)
{
    EXPECT_EXIT(
        {
            VmState* s = VmOpenState();
            VmRaiseError(s, ERR_WRONGOP);
        },
        ::testing::ExitedWithCode(1), "");
}

TEST_F(CallsTest, PluginHooksRunCommandsAndTheTraceSeesEveryNativeCall)
{
    static int traced;
    traced = 0;
    VmHooks.traceCall = [](VmState* s) {
        traced++;
        EXPECT_EQ(VmGetTop(s), 2) << "the trace sees the arguments";
    };
    VmHooks.findPluginCommand = [](VmState* s, VmNativeFunction f, uint32_t* result) -> int {
        if (f != PushThree)
            return 0;
        VmPushString(s, "hooked");
        *result = 1;
        return 1;
    };
    EXPECT_EQ(Call(PushThree, {1, 2}, VM_MULTRET), 0u);
    ASSERT_EQ(VmGetTop(vm), 1);
    EXPECT_STREQ(VmGetString(vm, 1), "hooked");
    EXPECT_EQ(traced, 1);
}
