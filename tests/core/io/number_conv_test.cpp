// Number conversions: the defined results for NaN, infinities and values out
// of range, and the runtime's number parser against Python's float() and
// int() readings of the same texts.
#include "core/io/number_conv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <limits>

TEST(DoubleToInteger, TruncatesTowardZeroAndSaturates)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case { double in; int64_t i64; int32_t i32; uint32_t low; };
    const Case cases[] = {
        {0.0, 0, 0, 0}, {-2.7, -2, -2, 0xFFFFFFFEu}, {2.7, 2, 2, 2}, {-1.0, -1, -1, 0xFFFFFFFFu},
        {4294967295.0, 4294967295LL, INT32_MAX, 0xFFFFFFFFu}, {8589934590.0, 8589934590LL, INT32_MAX, 0xFFFFFFFEu},
        {-2147483649.0, -2147483649LL, INT32_MIN, 0x7FFFFFFFu},
        {1e20, INT64_MAX, INT32_MAX, 1661992960u},   // 1e20 mod 2^32
        {-1e20, INT64_MIN, INT32_MIN, 2632974336u},  // -1e20 mod 2^32
        {inf, INT64_MAX, INT32_MAX, 0}, {-inf, INT64_MIN, INT32_MIN, 0}, {nan, 0, 0, 0},
        {9223372036854775807.0, INT64_MAX, INT32_MAX, 0},  // rounds to 2^63
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DoubleToInt64(c.in), c.i64) << c.in;
        EXPECT_EQ(DoubleToInt32(c.in), c.i32) << c.in;
        EXPECT_EQ(DoubleToLow32(c.in), c.low) << c.in;
    }
}

TEST(StringToNumber, ReadsEveryNotation)
{
    struct Case { const char* text; double value; size_t used; ErrorCode error; };
    const Case cases[] = {
        {"$1F", 31, 3, ERR_NONE},          {"12abc", 12, 2, ERR_NONE},       {"-12.5e2x", -1250, 7, ERR_NONE},
        {"0x10", 16, 4, ERR_NONE},         {"0XfF", 255, 4, ERR_NONE},       {"-$FF", -255, 4, ERR_NONE},
        {"$-FF", -255, 4, ERR_NONE},       {"$FFFFFFFF", 4294967295.0, 9, ERR_NONE},
        {"%1011", 11, 5, ERR_NONE},        {".5", 0.5, 2, ERR_NONE},         {"5.", 5, 2, ERR_NONE},
        {"1e", 1, 1, ERR_NONE},            {"1e+", 1, 1, ERR_NONE},          {"2E-3", 0.002, 4, ERR_NONE},
        {"0.1", 0.1, 3, ERR_NONE},         {"1e999", std::numeric_limits<double>::infinity(), 5, ERR_NONE},
        {"1e-999", 0, 6, ERR_NONE},        {"123456789012345678901234567890", 1.2345678901234568e+29, 30, ERR_NONE},
        {"$", 0, 0, ERR_SYNTAXERROR},      {"0xg", 0, 0, ERR_SYNTAXERROR},   {".", 0, 0, ERR_VALUEEXPECTED},
        {"%2", 0, 0, ERR_VALUEEXPECTED},   {"abc", 0, 0, ERR_VALUEEXPECTED}, {" 1", 0, 0, ERR_VALUEEXPECTED},
        {"", 0, 0, ERR_VALUEEXPECTED},     {"-", 0, 0, ERR_VALUEEXPECTED},
    };
    for (const Case& c : cases) {
        size_t used = 99;
        ErrorCode err = ERR_MEM;
        double v = StringToNumber(c.text, std::strlen(c.text), &used, &err);
        EXPECT_EQ(std::make_tuple(v, used, err), std::make_tuple(c.value, c.used, c.error)) << c.text;
    }
    // The length ends the text, not a zero byte; a zero byte is an ordinary
    // non-digit, not the end of the text.
    size_t used;
    ErrorCode err;
    using Read = std::pair<double, size_t>;  // braces read the number before the count it sets
    EXPECT_EQ((Read{StringToNumber("1234", 2, &used, &err), used}), Read(12, 2));
    EXPECT_EQ((Read{StringToNumber("7\0008", 3, &used, &err), used}), Read(7, 1));
}

// The text of a number is exactly what "%.14g" prints: edge values, then
// many random ones of every kind.
TEST(FormatNumber14g, PrintsWhatPrintfPrints)
{
    auto expectSame = [](double n) {
        char ours[32];
        char theirs[64];
        int len = FormatNumber14g(ours, n);
        int want = std::snprintf(theirs, sizeof theirs, "%.14g", n);
        ASSERT_EQ(std::string(ours, static_cast<size_t>(len)), std::string(theirs, static_cast<size_t>(want)))
            << "bits " << std::hex << [n] { uint64_t b; std::memcpy(&b, &n, 8); return b; }();
        ASSERT_EQ(ours[len], '\0');
    };
    const double inf = std::numeric_limits<double>::infinity();
    const double edges[] = {
        0.0, -0.0, 1, -1, 7, 10, 100, 123456, 99999999999999.0, 100000000000000.0, -99999999999999.0,
        1e14 + 2, 9007199254740991.0, 9007199254740992.0, 9007199254740993.0, -9007199254740992.0,
        4294967295.0, 2147483648.0, -2147483649.0, 0.5, -0.5, 0.1, 0.2, 0.3, 1.0 / 3, 2.0 / 3, 1e-4,
        1e-5, 0.0001234, 0.00001234, 123.456, 1e15, 1e16, 1e21, 1e100, 1e300, 1.7976931348623157e308,
        5e-324, 2.2250738585072014e-308, 1e-300, 3.14159265358979, 2.718281828459045, 12345678901234.5,
        1234567890123.45, 0.999999999999995, 9.9999999999999e13, 99999999999999.5, inf, -inf,
        std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN(),
    };
    for (double n : edges)
        expectSame(n);

    uint64_t state = 0x9E3779B97F4A7C15ull;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    for (int i = 0; i < 30000; i++) {
        uint64_t r = next();
        double bits;
        std::memcpy(&bits, &r, 8);
        expectSame(bits);                                                  // any double
        expectSame(static_cast<double>(static_cast<int64_t>(r) >> (r % 64)));  // integers of every size
        expectSame(static_cast<double>(static_cast<int64_t>(r % 2000001) - 1000000) /
                   static_cast<double>(1 + next() % 10000));                   // short fractions
        expectSame(std::ldexp(static_cast<double>(r >> 11), static_cast<int>(next() % 200) - 150));
    }
}
