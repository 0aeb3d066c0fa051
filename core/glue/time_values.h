// Arithmetic on {seconds, microseconds} time values (OsTimeValue).
//
// Both operations keep microseconds below 1000000. A difference that would be
// negative (the wall clock stepped back between two readings, or the caller
// subtracted a later time from an earlier one) saturates at zero instead of
// wrapping round to some 136 years; a sum that would not fit saturates at
// the largest time value.
#pragma once

#include "platform/posix/os_time.h"

// a = a + b.
void OsAddTime(OsTimeValue* a, const OsTimeValue* b);

// a = a - b, or zero when b is later than a.
void OsSubTime(OsTimeValue* a, const OsTimeValue* b);

// -1, 0 or 1 as a is earlier than, equal to or later than b.
int OsCmpTime(const OsTimeValue* a, const OsTimeValue* b);
