// The run loop: the script thread's requests run on the first thread, the
// script's result comes back, and shutdown is safe to repeat.
#include <gtest/gtest.h>

#include <pthread.h>

#include "core/io/error_codes.h"
#include "platform/posix/os_runloop.h"

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

pthread_t g_scriptThread;
uint32_t Mark(VmState*)
{
    g_scriptThread = pthread_self();
    return 0;
}

uint32_t Fail(VmState*) { return ERR_WRITE; }

TEST(RunLoop, TheScriptMainsThreadItsResultAndItsWakes)
{
    ASSERT_EQ(OsInit(), 0u);
    g_scriptThread = pthread_self();
    OsSetScriptMain(Mark);
    EXPECT_EQ(OsRunMain(nullptr), 0u);
    EXPECT_FALSE(pthread_equal(g_scriptThread, pthread_self())) << "ran on another thread";

    OsSetScriptMain(Fail);
    EXPECT_EQ(OsRunMain(nullptr), uint32_t{ERR_WRITE}) << "the script's error is the run's result";
    OsSetScriptMain(nullptr);
    EXPECT_EQ(OsRunMain(nullptr), 0u) << "without a script main the run ends at once";
    OsShutdown();
    // A wake before the wait is kept.
    ASSERT_EQ(OsInit(), 0u);
    OsWakeScript();
    EXPECT_EQ(OsWaitForWake(60000), 1);
    EXPECT_EQ(OsWaitForWake(1), 0);
    OsShutdown();
}

}  // namespace
