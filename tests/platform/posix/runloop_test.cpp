// The run loop: the script thread's requests run on the first thread, the
// script's result comes back, and shutdown is safe to repeat.
#include <gtest/gtest.h>

#include <pthread.h>

#include <vector>

#include "core/io/error_codes.h"
#include "core/vm/vm.h"
#include "platform/posix/os_runloop.h"
#include "support/assembled_script.h"
#include "tools/qmasm/assembler.h"

namespace {

pthread_t g_mainThread;
int g_onMain;

uintptr_t RecordThread(void* argument)
{
    g_onMain = pthread_equal(pthread_self(), g_mainThread) ? 1 : 0;
    return reinterpret_cast<uintptr_t>(argument) + 1;
}

uint32_t ScriptAsksTheGuiThread(VmState*)
{
    if (pthread_equal(pthread_self(), g_mainThread)) return 1;  // must run elsewhere
    uintptr_t r = OsCallGui(RecordThread, reinterpret_cast<void*>(41));
    return r == 42 ? 0 : 2;
}

TEST(RunLoop, GuiCallsRunOnTheFirstThread)
{
    ASSERT_EQ(OsInit(), 0u);
    g_mainThread = pthread_self();
    g_onMain = 0;
    OsSetScriptMain(ScriptAsksTheGuiThread);
    EXPECT_EQ(OsRunMain(nullptr), 0u);
    EXPECT_EQ(g_onMain, 1);
    // Without a loop the call runs at once on the caller.
    g_onMain = 0;
    EXPECT_EQ(OsCallGui(RecordThread, reinterpret_cast<void*>(1)), 2u);
    EXPECT_EQ(g_onMain, 1);
    OsSetScriptMain(nullptr);
    OsShutdown();
    OsShutdown();
}

TEST(RunLoop, WakeBeforeWaitIsKept)
{
    ASSERT_EQ(OsInit(), 0u);
    OsWakeScript();
    EXPECT_EQ(OsWaitForWake(60000), 1);
    EXPECT_EQ(OsWaitForWake(1), 0);
    OsShutdown();
}

pthread_t g_scriptThread;
uint32_t Mark(VmState*)
{
    g_scriptThread = pthread_self();
    return 0;
}

uint32_t Fail(VmState*) { return ERR_WRITE; }

// Loads the assembled text, leaving its main function on the stack.
void LoadMain(VmState* vm, const char* text)
{
    qmasm::AssembleResult r = qmasm::Assemble(text);
    ASSERT_TRUE(r.ok) << r.message;
    ASSERT_EQ(LoadChunkBytes(vm, r.bytes, "=main"), 0u);
}

TEST(RunLoop, WithoutAScriptMainTheLoadedChunkRunsOnTheScriptThread)
{
    VmState* vm = VmOpenState();
    ASSERT_NE(vm, nullptr);
    VmPushString(vm, "mark");
    VmPushNativeFunction(vm, Mark);
    VmSetTable(vm, VM_GLOBALSINDEX);
    VmPushString(vm, "fail");
    VmPushNativeFunction(vm, Fail);
    VmSetTable(vm, VM_GLOBALSINDEX);
    OsSetScriptMain(nullptr);

    g_scriptThread = pthread_self();
    LoadMain(vm, "GETGLOBAL r0, \"mark\"\nCALL r0, 1, 1\nRETURN r0, 1\n");
    EXPECT_EQ(OsRunMain(vm), 0u);
    EXPECT_FALSE(pthread_equal(g_scriptThread, pthread_self())) << "ran on another thread";

    VmSetTop(vm, 0);
    LoadMain(vm, "GETGLOBAL r0, \"fail\"\nCALL r0, 1, 1\nRETURN r0, 1\n");
    EXPECT_EQ(OsRunMain(vm), uint32_t{ERR_WRITE}) << "the script's error is the run's result";
    VmCloseState(vm);
    OsShutdown();
}

}  // namespace
