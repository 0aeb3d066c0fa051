// Threads, locks and events of the platform layer.
//
// Locks are recursive: a thread that holds one may take it again, as the
// runtime's callers (and plugins, which get these four lock functions through
// the host interface) expect of a critical section. Events are auto-reset: a
// set event releases exactly one wait and is clear again afterwards. Every
// timed wait runs on the monotonic clock, so moving the wall clock neither
// shortens nor stretches it.
#pragma once

#include <cstddef>
#include <cstdint>

struct OsMutex;
struct OsEvent;
struct OsThread;

// Critical sections.
OsMutex* OsCreateLock();
void OsDeleteLock(OsMutex* lock);
void OsLock(OsMutex* lock);
void OsUnlock(OsMutex* lock);

// Holds a lock for the lifetime of a scope.
class OsLockGuard {
public:
    explicit OsLockGuard(OsMutex* lock) : lock_(lock) { OsLock(lock_); }
    ~OsLockGuard() { OsUnlock(lock_); }
    OsLockGuard(const OsLockGuard&) = delete;
    OsLockGuard& operator=(const OsLockGuard&) = delete;

private:
    OsMutex* lock_;
};

// Auto-reset events. OsWaitEventTimeout returns 1 when the event was set
// within `ms` milliseconds (consuming it), 0 when the time ran out.
OsEvent* OsCreateEvent();
void OsDeleteEvent(OsEvent* event);
void OsSetEvent(OsEvent* event);
void OsWaitEvent(OsEvent* event);
int OsWaitEventTimeout(OsEvent* event, uint32_t ms);

// Threads. Stacks are never smaller than OS_MIN_THREAD_STACK, whatever the
// caller asks for: the C library, posix_spawn and our own formatting need
// more than the few kilobytes some callers were written for.
constexpr size_t OS_MIN_THREAD_STACK = 256 * 1024;

using OsThreadProc = int (*)(OsThread* thread, void* argument);

// Starts `proc`(thread, argument) on a new thread; null when the thread
// cannot be made. The name is shown by debuggers (first 15 bytes).
OsThread* OsCreateThread(const char* name, OsThreadProc proc, void* argument,
                         size_t stackSize);

// Sets the thread's stop request and stop event, waits for the thread to end
// and frees its record. Never call it from the thread itself.
void OsStopThread(OsThread* thread);

// The thread's stop event. It exists from OsCreateThread on, so a stop
// request made before the thread got round to asking is never lost.
OsEvent* OsThreadCreateStopEvent(OsThread* thread);

// Non-zero once OsStopThread has been called for the thread. Unlike the
// auto-reset stop event this stays set.
int OsThreadStopRequested(OsThread* thread);

// Called by a thread when its work is done: records whether it failed and
// tells the finish hook (the event layer turns it into a script event).
void OsThreadFinish(OsThread* thread, int failed);

// The argument the thread was started with.
void* OsThreadArgument(OsThread* thread);

// Non-zero when the thread reported a failure through OsThreadFinish.
int OsThreadFailed(OsThread* thread);

// The function that hears of every OsThreadFinish; null for none. It runs on
// the finishing thread.
using OsThreadFinishHook = void (*)(OsThread* thread, int failed, void* user);
void OsSetThreadFinishHook(OsThreadFinishHook hook, void* user);
