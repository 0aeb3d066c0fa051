// Condition variables that time out on the monotonic clock. Shared by the
// events and the timer queue of the platform layer; nothing outside
// platform/posix needs it.
#pragma once

#include <pthread.h>

// Initialises `cond` bound to CLOCK_MONOTONIC; 0 on success.
int OsInitMonotonicCond(pthread_cond_t* cond);
