// Threads, recursive locks and auto-reset events on pthreads.
#include "platform/posix/os_thread.h"

#include "platform/posix/os_memory.h"
#include "platform/posix/os_monotonic.h"
#include "platform/posix/os_time.h"

#include <atomic>
#include <cassert>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <new>
#include <pthread.h>

struct OsMutex {
    pthread_mutex_t mutex;
};

struct OsEvent {
    pthread_mutex_t mutex;
    pthread_cond_t cond;
    bool signalled;
};

struct OsThread {
    pthread_t handle;
    OsThreadProc proc;
    void* argument;
    OsEvent* stopEvent;
    std::atomic<int> stopRequested;
    std::atomic<int> failed;
    char name[64];
};

namespace {

std::atomic<OsThreadFinishHook> finishHook{nullptr};
std::atomic<void*> finishHookUser{nullptr};

void* ThreadTrampoline(void* raw)
{
    OsThread* thread = static_cast<OsThread*>(raw);
    thread->proc(thread, thread->argument);
    return nullptr;
}

} // namespace

int OsInitMonotonicCond(pthread_cond_t* cond)
{
    pthread_condattr_t attr;
    if (pthread_condattr_init(&attr) != 0)
        return -1;
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    int rc = pthread_cond_init(cond, &attr);
    pthread_condattr_destroy(&attr);
    return rc == 0 ? 0 : -1;
}

OsMutex* OsCreateLock()
{
    OsMutex* lock = static_cast<OsMutex*>(OsAllocMem(sizeof(OsMutex), 1));
    if (!lock)
        return nullptr;
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    int rc = pthread_mutex_init(&lock->mutex, &attr);
    pthread_mutexattr_destroy(&attr);
    if (rc != 0) {
        OsFreeMem(lock);
        return nullptr;
    }
    return lock;
}

void OsDeleteLock(OsMutex* lock)
{
    if (!lock)
        return;
    pthread_mutex_destroy(&lock->mutex);
    OsFreeMem(lock);
}

void OsLock(OsMutex* lock)
{
    pthread_mutex_lock(&lock->mutex);
}

void OsUnlock(OsMutex* lock)
{
    pthread_mutex_unlock(&lock->mutex);
}

OsEvent* OsCreateEvent()
{
    OsEvent* event = static_cast<OsEvent*>(OsAllocMem(sizeof(OsEvent), 1));
    if (!event)
        return nullptr;
    if (pthread_mutex_init(&event->mutex, nullptr) != 0) {
        OsFreeMem(event);
        return nullptr;
    }
    if (OsInitMonotonicCond(&event->cond) != 0) {
        pthread_mutex_destroy(&event->mutex);
        OsFreeMem(event);
        return nullptr;
    }
    event->signalled = false;
    return event;
}

void OsDeleteEvent(OsEvent* event)
{
    if (!event)
        return;
    pthread_cond_destroy(&event->cond);
    pthread_mutex_destroy(&event->mutex);
    OsFreeMem(event);
}

void OsSetEvent(OsEvent* event)
{
    pthread_mutex_lock(&event->mutex);
    event->signalled = true;
    pthread_cond_signal(&event->cond);
    pthread_mutex_unlock(&event->mutex);
}

void OsWaitEvent(OsEvent* event)
{
    pthread_mutex_lock(&event->mutex);
    while (!event->signalled)
        pthread_cond_wait(&event->cond, &event->mutex);
    event->signalled = false;
    pthread_mutex_unlock(&event->mutex);
}

int OsWaitEventTimeout(OsEvent* event, uint32_t ms)
{
    timespec deadline = OsMonotonicTimespec(OsMonotonicNanos() + uint64_t{ms} * 1000000u);
    pthread_mutex_lock(&event->mutex);
    while (!event->signalled) {
        if (pthread_cond_timedwait(&event->cond, &event->mutex, &deadline) == ETIMEDOUT)
            break;
    }
    int got = event->signalled ? 1 : 0;
    event->signalled = false;
    pthread_mutex_unlock(&event->mutex);
    return got;
}

OsThread* OsCreateThread(const char* name, OsThreadProc proc, void* argument, size_t stackSize)
{
    OsThread* thread = static_cast<OsThread*>(OsAllocMem(sizeof(OsThread), 1));
    if (!thread)
        return nullptr;
    new (thread) OsThread{};
    thread->proc = proc;
    thread->argument = argument;
    if (name) {
        std::strncpy(thread->name, name, sizeof(thread->name) - 1);
        thread->name[sizeof(thread->name) - 1] = '\0';
    }
    thread->stopEvent = OsCreateEvent();
    if (!thread->stopEvent) {
        thread->~OsThread();
        OsFreeMem(thread);
        return nullptr;
    }

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    if (stackSize < OS_MIN_THREAD_STACK)
        stackSize = OS_MIN_THREAD_STACK;
    pthread_attr_setstacksize(&attr, stackSize);
    int rc = pthread_create(&thread->handle, &attr, ThreadTrampoline, thread);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        OsDeleteEvent(thread->stopEvent);
        thread->~OsThread();
        OsFreeMem(thread);
        return nullptr;
    }
    if (thread->name[0]) {
        char shortName[16];
        std::strncpy(shortName, thread->name, sizeof(shortName) - 1);
        shortName[sizeof(shortName) - 1] = '\0';
        pthread_setname_np(thread->handle, shortName);
    }
    return thread;
}

void OsStopThread(OsThread* thread)
{
    if (!thread)
        return;
    assert(!pthread_equal(thread->handle, pthread_self()));
    thread->stopRequested.store(1);
    OsSetEvent(thread->stopEvent);
    pthread_join(thread->handle, nullptr);
    OsDeleteEvent(thread->stopEvent);
    thread->~OsThread();
    OsFreeMem(thread);
}

OsEvent* OsThreadCreateStopEvent(OsThread* thread)
{
    return thread->stopEvent;
}

int OsThreadStopRequested(OsThread* thread)
{
    return thread->stopRequested.load();
}

void OsThreadFinish(OsThread* thread, int failed)
{
    thread->failed.store(failed ? 1 : 0);
    OsThreadFinishHook hook = finishHook.load();
    if (hook)
        hook(thread, failed, finishHookUser.load());
}

void* OsThreadArgument(OsThread* thread)
{
    return thread->argument;
}

int OsThreadFailed(OsThread* thread)
{
    return thread->failed.load();
}

void OsSetThreadFinishHook(OsThreadFinishHook hook, void* user)
{
    finishHookUser.store(user);
    finishHook.store(hook);
}
