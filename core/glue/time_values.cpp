// Time-value arithmetic, done on 64-bit microsecond counts so that carries,
// borrows and out-of-range inputs all come out right in one place.
#include "core/glue/time_values.h"

namespace {

constexpr uint64_t kMicrosPerSecond = 1000000;
constexpr uint64_t kLargest = uint64_t{UINT32_MAX} * kMicrosPerSecond + (kMicrosPerSecond - 1);

uint64_t ToMicros(const OsTimeValue* t)
{
    return uint64_t{t->seconds} * kMicrosPerSecond + t->microseconds;
}

void FromMicros(OsTimeValue* t, uint64_t micros)
{
    if (micros > kLargest)
        micros = kLargest;
    t->seconds = static_cast<uint32_t>(micros / kMicrosPerSecond);
    t->microseconds = static_cast<uint32_t>(micros % kMicrosPerSecond);
}

} // namespace

void OsAddTime(OsTimeValue* a, const OsTimeValue* b)
{
    FromMicros(a, ToMicros(a) + ToMicros(b));
}

void OsSubTime(OsTimeValue* a, const OsTimeValue* b)
{
    uint64_t x = ToMicros(a);
    uint64_t y = ToMicros(b);
    FromMicros(a, x > y ? x - y : 0);
}

int OsCmpTime(const OsTimeValue* a, const OsTimeValue* b)
{
    uint64_t x = ToMicros(a);
    uint64_t y = ToMicros(b);
    return x < y ? -1 : (x > y ? 1 : 0);
}
