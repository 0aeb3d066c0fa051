// Runtime utilities against independent implementations: zlib's CRC-32,
// glibc's drand48 family and iconv.
#include "core/io/utilities.h"
#include "platform/posix/os_memory.h"

#include <gtest/gtest.h>
#include <iconv.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::string Iconv(const std::string& in, const char* from, const char* to)
{
    iconv_t cd = iconv_open(to, from);
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
    std::string out(in.size() * 4 + 4, '\0');
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = out.data();
    size_t dstLeft = out.size();
    EXPECT_NE(iconv(cd, &src, &srcLeft, &dst, &dstLeft), static_cast<size_t>(-1));
    iconv_close(cd);
    out.resize(out.size() - dstLeft);
    return out;
}

std::string ToLatin1(const std::string& utf8)
{
    std::string out(utf8.size() + 1, '\x7f');
    size_t length = Utf8ToLatin1(utf8.data(), utf8.size(), out.data());
    EXPECT_EQ(out[length], '\0');
    out.resize(length);
    return out;
}

} // namespace

TEST(Crc32, MatchesZlibOnRandomData)
{
    std::mt19937 rng(12345);
    std::vector<uint8_t> data(70000);
    for (auto& b : data)
        b = static_cast<uint8_t>(rng());
    for (size_t offset : {0, 1, 3}) {
        for (size_t length = 1; length <= 40; ++length) {
            uint32_t expected = static_cast<uint32_t>(crc32(0, data.data() + offset, static_cast<uInt>(length)));
            ASSERT_EQ(CalcCrc32(data.data() + offset, static_cast<long>(length)), expected) << offset << "+" << length;
        }
    }
    for (size_t length : {size_t(255), size_t(4096), data.size() - 5}) {
        uint32_t expected = static_cast<uint32_t>(crc32(0, data.data(), static_cast<uInt>(length)));
        EXPECT_EQ(CalcCrc32(data.data(), static_cast<long>(length)), expected) << length;
    }
    EXPECT_EQ(CalcCrc32("abc", 0), 0u);
    EXPECT_EQ(CalcCrc32("abc", -5), 0u);
}

TEST(Random48, FollowsTheDrand48FamilyOfTheCLibrary)
{
    for (uint32_t seed : {0u, 1u, 42u, 0x12345678u, 0xFFFFFFFFu}) {
        SeedRandom48(seed);
        srand48(static_cast<long>(seed));
        for (int i = 0; i < 1000; ++i) {
            if (i % 3 == 2)
                ASSERT_EQ(RandomDouble(), drand48()) << seed << " step " << i;
            else
                ASSERT_EQ(NextRandom48(), lrand48()) << seed << " step " << i;
        }
    }
    // The sequences pin the seeding; the state reads back word by word.
    uint16_t state[3];
    SeedRandom48(0xABCD1234u);
    GetRandom48State(state);
    EXPECT_EQ(state[1], 0x1234);
    EXPECT_EQ(state[2], 0xABCD);
}

TEST(Encoding, EveryLatin1CharacterRoundTripsAsIconvConvertsIt)
{
    std::string latin1;
    for (int c = 1; c < 256; ++c)
        latin1.push_back(static_cast<char>(c));
    char* utf8 = Latin1ToUtf8(latin1.c_str());
    ASSERT_NE(utf8, nullptr);
    EXPECT_EQ(std::string(utf8), Iconv(latin1, "ISO-8859-1", "UTF-8"));
    EXPECT_EQ(ToLatin1(utf8), latin1);
    OsFreeMem(utf8);

    char* back = ConvertEncoding(Iconv(latin1, "ISO-8859-1", "UTF-8").c_str(), ENCODING_UTF8, ENCODING_ISO8859_1);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(std::string(back), latin1);
    OsFreeMem(back);
    EXPECT_EQ(ConvertEncoding("x", ENCODING_UTF8, ENCODING_UTF8), nullptr);
    EXPECT_EQ(ConvertEncoding("x", 2, ENCODING_UTF8), nullptr);
}

TEST(Encoding, Utf8ReaderStaysInsideItsInputAndKeepsWhatIsNotUtf8)
{
    struct Case { std::string in; std::string out; } cases[] = {
        {"caf\xC3\xA9", "caf\xE9"}, {"\xC2\xA0x", "\xA0x"},
        {"\xE2\x82\xAC", "?"},             // the euro sign is not in Latin-1
        {"\xF0\x9F\x98\x80!", "?!"},       // nor is anything beyond the first plane
        {"\xE9t\xE9", "\xE9t\xE9"},        // already Latin-1
        {"\xC3", "\xC3"},                  // a lead byte at the very end
        {"\xE2\x82", "\xE2\x82"},          // a sequence cut off by the end
        {"\xC3(", "\xC3("},                // a lead byte without its continuation
        {"\xC0\xAF", "\xC0\xAF"},          // an overlong form
    };
    for (const Case& c : cases)
        EXPECT_EQ(ToLatin1(c.in), c.out) << c.in;

    // The length bounds the read, not the terminator: a lead byte right
    // before the limit must not pull in the byte behind it.
    const char bytes[] = "ab\xC3\xA9";
    char out[8];
    EXPECT_EQ(Utf8ToLatin1(bytes, 3, out), 3u);
    EXPECT_EQ(std::string(out), "ab\xC3");
}

TEST(CaseAndClasses, ComparisonsFoldLatin1Letters)
{
    EXPECT_EQ(StrCaseCmp("\xDC" "BER", "\xFC" "ber"), 0);
    EXPECT_EQ(StrCaseCmp("LoadBrush", "loadbrush"), 0);
    EXPECT_LT(StrCaseCmp("abc", "ABD"), 0);
    EXPECT_LT(StrCaseCmp("", "a"), 0);
    EXPECT_EQ(StrNCaseCmp("Hello World", "HELLO there", 6), 0);
    EXPECT_NE(StrNCaseCmp("Hello World", "HELLO there", 7), 0);
    EXPECT_EQ(StrNCaseCmp("ab", "AB", 10), 0);
    EXPECT_EQ(StrNCaseCmp("x", "y", 0), 0);

    for (int c = -5; c < 300; ++c) {
        bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= 0xC0 && c <= 0xFF && c != 0xD7 && c != 0xF7);
        bool print = (c >= 0x20 && c <= 0x7E) || (c >= 0xA0 && c <= 0xFF);
        EXPECT_EQ(IsAlphaChar(c), letter) << c;
        EXPECT_EQ(IsPrintChar(c), print) << c;
        EXPECT_EQ(IsAlnumChar(c), letter || (c >= '0' && c <= '9')) << c;
    }
}

TEST(RoundToInt, RoundsHalfwayToEven)
{
    struct Case { double in; int32_t out; };
    const Case cases[] = {{2.5, 2}, {3.5, 4}, {-2.5, -2}, {-3.5, -4}, {0.49999, 0}, {1.5000001, 2}, {-0.5, 0},
                          {1e9 + 0.5, 1000000000}, {-2147483648.0, INT32_MIN}, {2147483647.0, INT32_MAX}};
    for (const Case& c : cases)
        EXPECT_EQ(RoundToInt(c.in), c.out) << c.in;
}
