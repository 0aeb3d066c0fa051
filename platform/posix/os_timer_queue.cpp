// The timer queue: a list of armed timers sorted by due time, served by one
// thread that sleeps on a monotonic condition variable until the earliest is
// due. A callback runs without the queue's mutex held, so it may take other
// locks; deletion waits for a running callback to return, which is why a
// thread must never delete a timer while holding a lock that the timer's
// callback takes.
#include "platform/posix/os_timer_queue.h"

#include "platform/posix/os_memory.h"
#include "platform/posix/os_monotonic.h"
#include "platform/posix/os_thread.h"
#include "platform/posix/os_time.h"

#include <pthread.h>

struct OsQueueTimer {
    OsQueueTimer* next;        // in the armed list
    uint64_t due;              // monotonic nanoseconds
    uint64_t period;           // nanoseconds; 0 for one-shot
    OsQueueTimerProc proc;
    void* argument;
    bool armed;
};

struct OsTimerQueue {
    pthread_mutex_t mutex;
    pthread_cond_t changed;        // the armed list changed, or stop
    pthread_cond_t callbackDone;   // `running` went back to null
    OsQueueTimer* armed;           // sorted by due, earliest first
    OsQueueTimer* running;         // whose callback runs right now
    pthread_t threadId;
    OsThread* thread;
    bool stop;
};

namespace {

constexpr uint64_t kNanosPerMs = 1000000;

void Disarm(OsTimerQueue* queue, OsQueueTimer* timer)
{
    if (!timer->armed)
        return;
    for (OsQueueTimer** link = &queue->armed; *link; link = &(*link)->next) {
        if (*link == timer) {
            *link = timer->next;
            break;
        }
    }
    timer->next = nullptr;
    timer->armed = false;
}

void Arm(OsTimerQueue* queue, OsQueueTimer* timer)
{
    OsQueueTimer** link = &queue->armed;
    while (*link && (*link)->due <= timer->due)
        link = &(*link)->next;
    timer->next = *link;
    *link = timer;
    timer->armed = true;
}

int TimerThread(OsThread*, void* argument)
{
    OsTimerQueue* queue = static_cast<OsTimerQueue*>(argument);
    pthread_mutex_lock(&queue->mutex);
    queue->threadId = pthread_self();
    while (!queue->stop) {
        OsQueueTimer* first = queue->armed;
        if (!first) {
            pthread_cond_wait(&queue->changed, &queue->mutex);
            continue;
        }
        uint64_t now = OsMonotonicNanos();
        if (first->due > now) {
            timespec deadline = OsMonotonicTimespec(first->due);
            pthread_cond_timedwait(&queue->changed, &queue->mutex, &deadline);
            continue;
        }
        Disarm(queue, first);
        if (first->period) {
            // A late tick is not made up with a burst of catch-up ticks.
            first->due += first->period;
            if (first->due <= now)
                first->due = now + first->period;
            Arm(queue, first);
        }
        queue->running = first;
        OsQueueTimerProc proc = first->proc;
        void* procArgument = first->argument;
        pthread_mutex_unlock(&queue->mutex);
        proc(procArgument);
        pthread_mutex_lock(&queue->mutex);
        queue->running = nullptr;
        pthread_cond_broadcast(&queue->callbackDone);
    }
    pthread_mutex_unlock(&queue->mutex);
    return 0;
}

} // namespace

OsTimerQueue* OsCreateTimerQueue()
{
    OsTimerQueue* queue = static_cast<OsTimerQueue*>(OsAllocMem(sizeof(OsTimerQueue), 1));
    if (!queue)
        return nullptr;
    if (pthread_mutex_init(&queue->mutex, nullptr) != 0) {
        OsFreeMem(queue);
        return nullptr;
    }
    if (OsInitMonotonicCond(&queue->changed) != 0) {
        pthread_mutex_destroy(&queue->mutex);
        OsFreeMem(queue);
        return nullptr;
    }
    if (OsInitMonotonicCond(&queue->callbackDone) != 0) {
        pthread_cond_destroy(&queue->changed);
        pthread_mutex_destroy(&queue->mutex);
        OsFreeMem(queue);
        return nullptr;
    }
    queue->thread = OsCreateThread("Timer queue", TimerThread, queue, 0);
    if (!queue->thread) {
        pthread_cond_destroy(&queue->callbackDone);
        pthread_cond_destroy(&queue->changed);
        pthread_mutex_destroy(&queue->mutex);
        OsFreeMem(queue);
        return nullptr;
    }
    return queue;
}

void OsDeleteTimerQueue(OsTimerQueue* queue)
{
    if (!queue)
        return;
    pthread_mutex_lock(&queue->mutex);
    while (queue->armed) {
        OsQueueTimer* timer = queue->armed;
        Disarm(queue, timer);
        OsFreeMem(timer);
    }
    queue->stop = true;
    pthread_cond_broadcast(&queue->changed);
    pthread_mutex_unlock(&queue->mutex);
    OsStopThread(queue->thread);
    pthread_cond_destroy(&queue->callbackDone);
    pthread_cond_destroy(&queue->changed);
    pthread_mutex_destroy(&queue->mutex);
    OsFreeMem(queue);
}

OsQueueTimer* OsCreateQueueTimer(OsTimerQueue* queue, OsQueueTimerProc proc, void* argument,
                                 uint32_t dueMs, uint32_t periodMs)
{
    OsQueueTimer* timer = static_cast<OsQueueTimer*>(OsAllocMem(sizeof(OsQueueTimer), 1));
    if (!timer)
        return nullptr;
    timer->proc = proc;
    timer->argument = argument;
    timer->period = uint64_t{periodMs} * kNanosPerMs;
    pthread_mutex_lock(&queue->mutex);
    timer->due = OsMonotonicNanos() + uint64_t{dueMs} * kNanosPerMs;
    Arm(queue, timer);
    pthread_cond_signal(&queue->changed);
    pthread_mutex_unlock(&queue->mutex);
    return timer;
}

void OsChangeQueueTimer(OsTimerQueue* queue, OsQueueTimer* timer, uint32_t dueMs, uint32_t periodMs)
{
    pthread_mutex_lock(&queue->mutex);
    Disarm(queue, timer);
    timer->period = uint64_t{periodMs} * kNanosPerMs;
    timer->due = OsMonotonicNanos() + uint64_t{dueMs} * kNanosPerMs;
    Arm(queue, timer);
    pthread_cond_signal(&queue->changed);
    pthread_mutex_unlock(&queue->mutex);
}

void OsDeleteQueueTimer(OsTimerQueue* queue, OsQueueTimer* timer)
{
    if (!timer)
        return;
    pthread_mutex_lock(&queue->mutex);
    Disarm(queue, timer);
    bool onTimerThread = pthread_equal(queue->threadId, pthread_self());
    while (queue->running == timer && !onTimerThread)
        pthread_cond_wait(&queue->callbackDone, &queue->mutex);
    pthread_mutex_unlock(&queue->mutex);
    OsFreeMem(timer);
}
