// Number conversions shared by the VM, the options and the libraries.
#include "core/io/number_conv.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

// "%g" with precision 14 from significant digits (no trailing zeros, at
// most 14) and the decimal exponent of the first one.
int LayOutDigits(char* out, bool negative, const char* digits, int count, int exponent)
{
    char* p = out;
    if (negative)
        *p++ = '-';
    if (exponent < -4 || exponent >= 14) {
        *p++ = digits[0];
        if (count > 1) {
            *p++ = '.';
            std::memcpy(p, digits + 1, static_cast<size_t>(count - 1));
            p += count - 1;
        }
        *p++ = 'e';
        *p++ = exponent < 0 ? '-' : '+';
        int e = exponent < 0 ? -exponent : exponent;
        if (e >= 100)
            *p++ = static_cast<char>('0' + e / 100);
        *p++ = static_cast<char>('0' + e / 10 % 10);
        *p++ = static_cast<char>('0' + e % 10);
    } else if (exponent < 0) {
        *p++ = '0';
        *p++ = '.';
        for (int i = exponent + 1; i < 0; i++)
            *p++ = '0';
        std::memcpy(p, digits, static_cast<size_t>(count));
        p += count;
    } else {
        for (int i = 0; i <= exponent; i++)
            *p++ = i < count ? digits[i] : '0';
        if (count > exponent + 1) {
            *p++ = '.';
            std::memcpy(p, digits + exponent + 1, static_cast<size_t>(count - exponent - 1));
            p += count - exponent - 1;
        }
    }
    *p = '\0';
    return static_cast<int>(p - out);
}

// The decimal digits of v, two at a time from the last, without the
// division loop the library's writer runs first to count them.
char* WriteDecimal(char* p, uint64_t v)
{
    static constexpr char kPairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    char digits[20];
    char* q = digits + sizeof digits;
    while (v >= 100) {
        q -= 2;
        std::memcpy(q, kPairs + v % 100 * 2, 2);
        v /= 100;
    }
    if (v >= 10) {
        q -= 2;
        std::memcpy(q, kPairs + v * 2, 2);
    } else {
        *--q = static_cast<char>('0' + v);
    }
    while (q < digits + sizeof digits)
        *p++ = *q++;
    return p;
}

}  // namespace

int FormatNumber14g(char* out, double n)
{
    if (std::isfinite(n)) {
        bool negative = std::signbit(n);
        double a = std::fabs(n);
        if (a < 1e14 && a == static_cast<double>(static_cast<uint64_t>(a))) {
            // Integers print all their digits: at most 14 here. Number-heavy
            // concatenations feel every step of this.
            char* p = out;
            if (negative)
                *p++ = '-';
            p = WriteDecimal(p, static_cast<uint64_t>(a));
            *p = '\0';
            return static_cast<int>(p - out);
        }
        // The shortest digits that read back exactly: when there are at most
        // 14, rounding to 14 digits gives the same ones, since a normal double
        // lies far closer to them than half a step of the 14th digit (not so
        // the subnormals, whose steps are coarse).
        char sci[40];
        auto r = std::to_chars(sci, sci + sizeof sci, a, std::chars_format::scientific);
        if (r.ec == std::errc{} && a >= std::numeric_limits<double>::min()) {
            char digits[24];
            int count = 0;
            const char* q = sci;
            for (; q < r.ptr && *q != 'e'; q++) {
                if (*q != '.' && count < 20)
                    digits[count++] = *q;
            }
            if (count <= 14 && q < r.ptr) {
                int exponent = 0;
                std::from_chars(q + 1 + (q[1] == '+'), r.ptr, exponent);
                return LayOutDigits(out, negative, digits, count, exponent);
            }
        }
    }
    return std::snprintf(out, 32, "%.14g", n);
}

int64_t DoubleToInt64(double x)
{
    if (std::isnan(x))
        return 0;
    // 2^63 is exactly representable; anything at or above it saturates.
    if (x >= 9223372036854775808.0)
        return std::numeric_limits<int64_t>::max();
    if (x <= -9223372036854775808.0)
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(x);
}

int32_t DoubleToInt32(double x)
{
    if (std::isnan(x))
        return 0;
    if (x >= 2147483647.0)
        return std::numeric_limits<int32_t>::max();
    if (x <= -2147483648.0)
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(x);
}

uint32_t DoubleToLow32(double x)
{
    if (!std::isfinite(x))
        return 0;
    // fmod is exact, so the remainder of any double's integer part by 2^32 is
    // found without rounding, far beyond the range of a 64-bit integer.
    double r = std::fmod(std::trunc(x), 4294967296.0);
    if (r < 0)
        r += 4294967296.0;
    return static_cast<uint32_t>(r);
}

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

size_t ParseDecimalNumber(const char* text, size_t length, double* value)
{
    size_t i = 0;
    while (i < length && IsDigit(text[i]))
        ++i;
    size_t intDigits = i;
    if (i < length && text[i] == '.') {
        size_t j = i + 1;
        while (j < length && IsDigit(text[j]))
            ++j;
        if (intDigits == 0 && j == i + 1)
            return 0;
        i = j;
    } else if (intDigits == 0) {
        return 0;
    }
    if (i < length && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        if (j < length && (text[j] == '+' || text[j] == '-'))
            ++j;
        if (j < length && IsDigit(text[j])) {
            while (j < length && IsDigit(text[j]))
                ++j;
            i = j;
        }
    }
    double v = 0;
    auto res = std::from_chars(text, text + i, v, std::chars_format::general);
    if (res.ec == std::errc::result_out_of_range) {
        // from_chars leaves v untouched on overflow and underflow; decide by
        // the exponent's sign which of the two it was.
        bool negExp = false;
        for (size_t k = 0; k < i; ++k)
            if ((text[k] == 'e' || text[k] == 'E') && k + 1 < i && text[k + 1] == '-')
                negExp = true;
        v = negExp ? 0.0 : std::numeric_limits<double>::infinity();
    }
    *value = v;
    return i;
}

double StringToNumber(const char* text, size_t length, size_t* used, ErrorCode* error)
{
    size_t i = 0;
    bool negative = false;
    *used = 0;
    *error = ERR_NONE;
    if (i < length && text[i] == '-') {
        negative = true;
        ++i;
    }
    double result = 0;
    if (i < length && (text[i] == '$' || (text[i] == '0' && i + 1 < length && (text[i + 1] == 'x' || text[i + 1] == 'X')))) {
        i += text[i] == '$' ? 1 : 2;
        if (text[i - 1] == '$' && i < length && text[i] == '-') {
            negative = !negative;
            ++i;
        }
        size_t start = i;
        uint32_t v = 0;
        int d;
        while (i < length && (d = HexDigitValue(text[i])) >= 0) {
            v = v * 16 + static_cast<uint32_t>(d);
            ++i;
        }
        if (i == start) {
            *error = ERR_SYNTAXERROR;
            return 0;
        }
        result = v;
    } else if (i < length && text[i] == '%') {
        ++i;
        size_t start = i;
        uint32_t v = 0;
        while (i < length && (text[i] == '0' || text[i] == '1')) {
            v = v * 2 + static_cast<uint32_t>(text[i] - '0');
            ++i;
        }
        if (i == start) {
            *error = ERR_VALUEEXPECTED;
            return 0;
        }
        result = v;
    } else {
        size_t n = ParseDecimalNumber(text + i, length - i, &result);
        if (n == 0) {
            *error = ERR_VALUEEXPECTED;
            return 0;
        }
        i += n;
    }
    *used = i;
    return negative ? -result : result;
}
