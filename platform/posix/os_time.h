// Wall-clock time, the monotonic clock and date texts of the platform layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

// A point in time or a duration: microseconds are always below 1000000.
struct OsTimeValue {
    uint32_t seconds;
    uint32_t microseconds;
};

// The current time since 1970. With bit 0 of the timer mode set (the SOFTTIMER
// option) the cheaper, coarser clock is read.
void OsGetTime(OsTimeValue* out);

// The timer-mode word that OsGetTime consults; start-up sets it from the
// applet's settings.
void OsSetTimerMode(uint32_t mode);

// The current time as seconds since 1970, with the fraction.
double OsGetEpochSeconds();

// Nanoseconds on CLOCK_MONOTONIC: the base of every timer and timed wait.
uint64_t OsMonotonicNanos();

// A monotonic time in nanoseconds as a timespec, for the absolute deadlines
// of clock_nanosleep and of condition variables bound to CLOCK_MONOTONIC.
timespec OsMonotonicTimespec(uint64_t nanos);

// Local date and time as text:
//   mode 0: the date "MM-dd-yy" into text
//   mode 1: the date "MM-dd-yy" into text and the time "HH:mm:ss" into text2
//   mode 2: the time "HH:mm:ss" into text
//   mode 3: the weekday's full name in the user's language into text
// Returns 0, or ERR_WRONGUSAGE for another mode or a buffer that is too small
// (the buffers then hold empty strings).
uint32_t OsFormatDateTime(int mode, char* text, size_t textSize, char* text2, size_t text2Size);
