// The byte-string work of the string commands: the documented cases, and a
// model check of slicing, searching and splitting on random byte strings full
// of zero bytes against plain reference versions written here.
#include "libs/string/string_ops.h"
#include "libs/string/byte_search.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

using namespace std::string_literals;

namespace {

std::string Insert(std::string_view s, std::string_view ins, int64_t pos, bool overwrite)
{
    std::string out;
    EXPECT_EQ(InsertBytes(s, ins, pos, overwrite, &out), ERR_NONE);
    return out;
}

int64_t Find(std::string_view s, std::string_view sub, bool cs, int64_t start = 0)
{
    int64_t pos = -2;
    EXPECT_EQ(FindBytes(s, sub, cs, start, &pos), ERR_NONE);
    return pos;
}

int64_t Count(std::string_view s, std::string_view sub, bool cs, int64_t start = 0)
{
    int64_t n = -2;
    EXPECT_EQ(CountBytes(s, sub, cs, start, &n), ERR_NONE);
    return n;
}

std::string Replace(std::string_view s, std::string_view a, std::string_view b, bool cs, int64_t start = 0)
{
    std::string out;
    EXPECT_EQ(ReplaceBytes(s, a, b, cs, start, &out), ERR_NONE);
    return out;
}

std::vector<std::string> Split(std::string_view s, std::string_view sep)
{
    std::vector<std::string_view> pieces;
    EXPECT_EQ(SplitBytes(s, sep, &pieces), ERR_NONE);
    return {pieces.begin(), pieces.end()};
}

} // namespace

// Ordinary slicing and searching are checked against the reference versions
// further down; these are the limits and the refusals.
TEST(StringOps, SlicingAndSearchingAtTheLimits)
{
    EXPECT_EQ(MidBytes("abc", INT64_MIN, INT64_MAX), "");
    EXPECT_EQ(MidBytes("abc", 1, INT64_MAX), "bc");
    // Latin-1 letters fold by the case tables, which pair no thorn.
    EXPECT_TRUE(CompareBytesNoCase("\xC0x", "\xE0X", 2));
    EXPECT_FALSE(CompareBytesNoCase("\xDE", "\xFE", 1));
    std::string_view v;
    EXPECT_EQ(UnleftBytes("abc", -1, &v), ERR_WRONGUSAGE);
    EXPECT_EQ(UnrightBytes("abc", -1, &v), ERR_WRONGUSAGE);
    std::string out = "untouched";
    EXPECT_EQ(UnmidBytes("abc", -1, 1, &out), ERR_WRONGUSAGE);
    EXPECT_EQ(UnmidBytes("abc", 1, -1, &out), ERR_WRONGUSAGE);
    EXPECT_EQ(out, "untouched");

    EXPECT_EQ(Insert("abcdef", "XY", 2, false), "abXYcdef");
    EXPECT_EQ(Insert("abcdef", "XY", 2, true), "abXYef");
    EXPECT_EQ(Insert("abcdef", "XY", 5, true), "abcdeXY");
    EXPECT_EQ(Insert("abc", "XY", 99, false), "abcXY");
    EXPECT_EQ(Insert("", "XY", 3, false), "XY");
    EXPECT_EQ(Insert("abc", "", 1, true), "abc");
    EXPECT_EQ(InsertBytes("abc", "x", -1, false, &out), ERR_WRONGUSAGE);

    EXPECT_EQ(RepeatBytes("ab", 3, &out), ERR_NONE);
    EXPECT_EQ(out, "ababab");
    EXPECT_EQ(RepeatBytes("ab", -1, &out), ERR_WRONGUSAGE);
    EXPECT_EQ(RepeatBytes("ab", INT64_MAX, &out), ERR_MEM);

    // Latin-1 capitals fold to their small letters, the multiplication
    // and division signs do not.
    EXPECT_EQ(Find("x\xC4Y", "\xE4y", false), 1);
    EXPECT_EQ(Find("\xD7", "\xF7", false), -1);
    int64_t pos;
    EXPECT_EQ(FindBytes("abc", "a", true, -1, &pos), ERR_WRONGUSAGE);
    EXPECT_EQ(ReplaceBytes("abc", "a", "b", true, -1, &out), ERR_WRONGUSAGE);
}

TEST(StringOps, TrimSplitAndCase)
{
    const std::string_view zeros("\0\0a", 3);
    using Trim = std::tuple<std::string_view, std::string_view, bool, std::string_view>;
    const Trim trims[] = {{"xxab", "x", false, "ab"}, {"abxx", "x", true, "ab"}, {"xx", "x", true, ""},
                          {zeros, zeros.substr(0, 1), false, "a"}};
    std::string_view v;
    for (const auto& [text, what, right, trimmed] : trims) {
        EXPECT_EQ(TrimBytes(text, what, right, &v), ERR_NONE);
        EXPECT_EQ(v, trimmed) << text;
    }
    EXPECT_EQ(TrimBytes("ab", "xy", false, &v), ERR_WRONGUSAGE);
    EXPECT_EQ(TrimBytes("ab", "", false, &v), ERR_WRONGUSAGE);

    std::vector<std::string_view> pieces;
    EXPECT_EQ(SplitBytes("a,b", ",,", &pieces), ERR_WRONGUSAGE);

    EXPECT_EQ(LowerBytes("AbC\xC0\xD7\xDE\0Z"s), "abc\xE0\xD7\xDE\0z"s);
    EXPECT_EQ(UpperBytes("aBc\xE0\xF7\xFF\0z"s), "ABC\xC0\xF7\xFF\0Z"s);
}

TEST(StringOps, NumberTexts)
{
    // Golden texts from Python: '$%X' % (trunc(n) & 0xFFFFFFFF), format(.., 'b');
    // the reduction itself is the number conversions' test.
    struct Hex { double n; const char* hex; const char* bin32; const char* bin16; const char* bin8; };
    const Hex hexes[] = {
        {255, "$FF", "00000000000000000000000011111111", "0000000011111111", "11111111"},
        {-1, "$FFFFFFFF", "11111111111111111111111111111111", "1111111111111111", "11111111"},
        {0, "$0", "00000000000000000000000000000000", "0000000000000000", "00000000"},
        {-2147483648.0, "$80000000", "10000000000000000000000000000000", "0000000000000000", "00000000"},
        {-3.99, "$FFFFFFFD", "11111111111111111111111111111101", "1111111111111101", "11111101"},
    };
    for (const Hex& h : hexes) {
        EXPECT_EQ(HexText(h.n), h.hex) << h.n;
        EXPECT_EQ(BinText(h.n, kBinInteger), h.bin32) << h.n;
        EXPECT_EQ(BinText(h.n, kBinShort), h.bin16) << h.n;
        EXPECT_EQ(BinText(h.n, kBinByte), h.bin8) << h.n;
    }
    EXPECT_EQ(BinText(5, 2), "");

    // "%.14g" texts from Python, then cut behind the point.
    struct Dec { double n; int64_t decimals; const char* text; };
    const Dec decs[] = {
        {3.14159, 2, "3.14"}, {3.999, 0, "3"}, {5, 2, "5"}, {1.0 / 3, 5, "0.33333"},
        {-2.5, 9, "-2.5"}, {3.14159, -1, "3."}, {123456.789012345, 3, "123456.789"},
        {1e20, 2, "1e+20"}, {1.5e-7, 0, "1.5e-07"}, {1e15 + 0.5, 2, "1e+15"}, {0.1, 100, "0.1"},
    };
    for (const Dec& d : decs)
        EXPECT_EQ(DecimalsText(d.n, d.decimals), d.text) << d.n;

    std::string out;
    const std::tuple<double, int64_t, const char*> pads[] = {
        {7, 3, "007"}, {1234, 2, "1234"}, {3e9, 12, "003000000000"}};
    for (const auto& [n, width, padded] : pads) {
        EXPECT_EQ(PadNumberText(n, width, &out), ERR_NONE);
        EXPECT_EQ(out, padded);
    }
    EXPECT_EQ(PadNumberText(-1, 3, &out), ERR_WRONGUSAGE);
    EXPECT_EQ(PadNumberText(1, 0, &out), ERR_WRONGUSAGE);

    // Python: int(text, base) & 0xFFFFFFFF where it applies.
    struct Base { const char* s; int base; double value; };
    const Base bases[] = {
        {"ff", 16, 255}, {"ff x", 16, 0}, {"  -1", 10, 4294967295.0}, {"+z", 36, 35},
        {"Zz", 36, 1295}, {"102", 2, 0}, {"  101  ", 2, 5}, {"", 8, 0}, {" ", 8, 0}, {"-", 8, 0},
        {"ffffffff", 16, 4294967295.0}, {"100000000", 16, 4294967295.0}, {"-100000000", 16, 4294967295.0},
        {"-ffffffff", 16, 1}, {"12\n", 10, 12},
    };
    for (const Base& b : bases)
        EXPECT_EQ(ParseIntegerInBase(b.s, b.base), b.value) << b.s << " " << b.base;
}

// Reference versions: position by position, with no shortcut.
namespace ref {

std::string Mid(const std::string& s, int64_t pos, int64_t len)
{
    std::string r;
    int64_t end = len == -1 ? INT64_MAX : (len < 1 ? pos : pos + len);
    for (int64_t i = 0; i < static_cast<int64_t>(s.size()); ++i)
        if (i >= pos && i < end)
            r.push_back(s[static_cast<size_t>(i)]);
    return r;
}

int64_t Find(const std::string& s, const std::string& sub, int64_t start)
{
    if (sub.empty())
        return -1;
    for (int64_t i = start; i + static_cast<int64_t>(sub.size()) <= static_cast<int64_t>(s.size()); ++i)
        if (s.compare(static_cast<size_t>(i), sub.size(), sub) == 0)
            return i;
    return -1;
}

std::string Replace(const std::string& s, const std::string& a, const std::string& b, int64_t start)
{
    std::string r = s.substr(0, static_cast<size_t>(start));
    size_t i = static_cast<size_t>(start);
    while (i < s.size()) {
        if (!a.empty() && s.compare(i, a.size(), a) == 0) {
            r += b;
            i += a.size();
        } else {
            r += s[i++];
        }
    }
    return r;
}

std::vector<std::string> Split(const std::string& s, char sep)
{
    std::vector<std::string> r(1);
    for (char c : s) {
        if (c == sep)
            r.emplace_back();
        else
            r.back().push_back(c);
    }
    return r;
}

} // namespace ref

TEST(StringOps, SlicingAndSearchAgreeWithReferenceOnRandomBytes)
{
    std::mt19937 rng(12345);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    // A small alphabet with the zero byte makes matches and separators common.
    const char alphabet[] = {'\0', 'a', 'b', 'A', '\xC4', '\xE4'};
    auto randomBytes = [&](int maxLen) {
        std::string s(static_cast<size_t>(pick(0, maxLen)), '\0');
        for (char& c : s)
            c = alphabet[pick(0, 5)];
        return s;
    };
    for (int iter = 0; iter < 20000; ++iter) {
        std::string s = randomBytes(24);
        const int64_t size = static_cast<int64_t>(s.size());
        int64_t pos = pick(-30, 30), len = pick(-3, 30);
        ASSERT_EQ(MidBytes(s, pos, len), ref::Mid(s, pos, len));
        ASSERT_EQ(LeftBytes(s, len), ref::Mid(s, 0, len < 1 ? 0 : len));
        ASSERT_EQ(RightBytes(s, len), ref::Mid(s, size - std::min(std::max<int64_t>(len, 0), size), -1));

        std::string_view v;
        if (len >= 0) {
            ASSERT_EQ(UnrightBytes(s, len, &v), ERR_NONE);
            ASSERT_EQ(v, ref::Mid(s, len, -1));
            ASSERT_EQ(UnleftBytes(s, len, &v), ERR_NONE);
            ASSERT_EQ(v, ref::Mid(s, 0, size - len < 1 ? 0 : size - len));
        }
        if (pos >= 0 && len >= 0) {
            std::string out;
            ASSERT_EQ(UnmidBytes(s, pos, len, &out), ERR_NONE);
            ASSERT_EQ(out, ref::Mid(s, 0, pos < 1 ? 0 : pos) + ref::Mid(s, pos + len, -1));
        }

        std::string sub = randomBytes(3);
        int64_t start = pick(0, 26);
        int64_t expected = start < size ? ref::Find(s, sub, start) : -1;
        ASSERT_EQ(Find(s, sub, true, start), s.empty() ? -1 : expected);

        std::string repl = randomBytes(3);
        int64_t cut = std::min(start, size);
        ASSERT_EQ(Replace(s, sub, repl, true, start), ref::Replace(s, sub, repl, cut));
        // Case-blind search agrees with exact search on lower-cased copies.
        ASSERT_EQ(Find(s, sub, false, start), Find(LowerBytes(s), LowerBytes(sub), true, start));
        ASSERT_EQ(Count(s, sub, false, start), Count(LowerBytes(s), LowerBytes(sub), true, start));

        char sep = alphabet[pick(0, 5)];
        ASSERT_EQ(Split(s, std::string(1, sep)), ref::Split(s, sep));
    }
}
