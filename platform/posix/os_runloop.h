// The platform's run loop. The first thread of the process becomes the "GUI
// thread": after start-up it starts the script thread and then serves, until
// the script has ended, the requests other threads hand it (OsCallGui), the
// wake-ups of the timer thread and the signals that ask the program to quit.
// The script thread sleeps in OsWaitForWake whenever it waits for events and
// is woken by every posted event, fired timer and quit request.
#pragma once

#include <cstdint>

struct VmState;

// What the loop calls in the layers above it, which hand it these before
// OsInit: the timers start and stop with the loop, and a quit signal raises
// the script's abort word (so raiseAbort must be async-signal-safe). Each
// may be null.
struct OsLoopHooks {
    uint32_t (*startTimers)();
    void (*stopTimers)();
    void (*raiseAbort)();
};
void OsSetLoopHooks(const OsLoopHooks& hooks);

// Platform start-up: the timers (through the hooks), the run loop's wake-up
// channels and the signal dispositions (SIGPIPE ignored; SIGINT, SIGTERM, SIGHUP and SIGQUIT ask for a user
// abort). 0 or an error code (ERR_TIMER, ERR_SEMAPHORE, ERR_PIPE).
uint32_t OsInit();

// What the script thread runs; returns the run's final error code (0 when
// the script simply ended). Without one the script thread ends at once
// with 0.
using OsScriptMain = uint32_t (*)(VmState* vm);
void OsSetScriptMain(OsScriptMain main);

// Starts the script thread, serves the loop until the script has ended and
// returns the script's result; ERR_THREAD when the thread cannot start.
uint32_t OsRunMain(VmState* vm);

// Runs fn(argument) on the GUI thread and returns its result; called on the
// GUI thread itself, or while no loop runs, it calls fn directly.
using OsGuiFunction = uintptr_t (*)(void* argument);
uintptr_t OsCallGui(OsGuiFunction fn, void* argument);

// Platform clean-up, the last step of shutdown; safe without OsInit and
// when called twice.
void OsShutdown();

// Wakes the script thread's wait; callable from any thread (not from a
// signal handler). A wake that comes before the wait is kept for it.
void OsWakeScript();
// Hands a timer wake-up to the GUI thread (to the script directly while no
// loop runs); the timer thread calls it after a timer fired.
void OsPostTimerWakeup();
// Blocks the calling (script) thread until the next wake-up or until `ms`
// milliseconds have passed (0xFFFFFFFF waits without limit). 1 when woken.
int OsWaitForWake(uint32_t ms);

// True once a signal asked the program to quit; OsTakeQuitRequest also
// clears the request (the abort flag it set stays set).
bool OsQuitRequested();
bool OsTakeQuitRequest();
// What a quit signal does, for tests that cannot send one.
void OsRequestQuit();
