// Time-value arithmetic at its carries, borrows and limits.
#include "core/glue/time_values.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

struct Case {
    OsTimeValue a, b;
    OsTimeValue sum, difference;
    int order;
};

constexpr uint32_t kMax = UINT32_MAX;

const Case kCases[] = {
    {{5, 200000}, {2, 700000}, {7, 900000}, {2, 500000}, 1},
    {{1, 600000}, {0, 600000}, {2, 200000}, {1, 0}, 1},
    {{1, 0}, {0, 999999}, {1, 999999}, {0, 1}, 1},
    {{3, 5}, {3, 5}, {6, 10}, {0, 0}, 0},
    // b later than a: the difference saturates at zero instead of wrapping.
    {{2, 700000}, {5, 200000}, {7, 900000}, {0, 0}, -1},
    {{7, 100}, {7, 200}, {14, 300}, {0, 0}, -1},
    // Seconds compare unsigned: 0x80000000 is later than 1.
    {{0x80000000u, 0}, {1, 0}, {0x80000001u, 0}, {0x7FFFFFFFu, 0}, 1},
    // A sum beyond the range saturates at the largest time value.
    {{kMax, 999999}, {0, 1}, {kMax, 999999}, {kMax, 999998}, 1},
    {{kMax, 500000}, {kMax, 500000}, {kMax, 999999}, {0, 0}, 0},
};

TEST(TimeValuesTest, AddSubtractCompare)
{
    for (const Case& c : kCases) {
        OsTimeValue sum = c.a, difference = c.a;
        OsAddTime(&sum, &c.b);
        OsSubTime(&difference, &c.b);
        EXPECT_EQ(std::tuple(sum.seconds, sum.microseconds, difference.seconds, difference.microseconds),
                  std::tuple(c.sum.seconds, c.sum.microseconds, c.difference.seconds, c.difference.microseconds))
            << c.a.seconds << "." << c.a.microseconds;
        EXPECT_EQ(OsCmpTime(&c.a, &c.b), c.order);
        EXPECT_EQ(OsCmpTime(&c.b, &c.a), -c.order);
    }
}

} // namespace
