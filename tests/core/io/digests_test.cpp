// MD5 and Base64 against digests and encodings made by md5sum, base64 and
// Python's hashlib/base64 for the same bytes.
#include "core/io/base64.h"
#include "core/io/md5.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Bytes(const char* s, size_t n) { return std::string(s, n); }

std::string RangeBytes()
{
    std::string s;
    for (int i = 0; i < 256; ++i)
        s.push_back(static_cast<char>(i));
    return s;
}

std::string SteppedBytes()
{
    std::string s;
    for (int i = 0; i < 1000; ++i)
        s.push_back(static_cast<char>((i * 7 + 3) & 255));
    return s;
}

} // namespace

TEST(Md5, MatchesReferenceDigests)
{
    struct Case { std::string in; const char* hex; };
    const Case cases[] = {
        // "abc" is MD5Str's test's and the probe plugin's.
        {"", "d41d8cd98f00b204e9800998ecf8427e"}, {SteppedBytes(), "10046f077f2082ac19676b8079f1cb1a"},
        // Padding boundaries: 55 bytes fit one block with the length, 56 do not.
        {std::string(55, 'A'), "e38a93ffe074a99b3fed47dfbe37db21"},
        {std::string(56, 'A'), "a2f3e2024931bd470555002aa5ccc010"},
        {std::string(64, 'A'), "d289a97565bc2d27ac8b8545a5ddba45"},
    };
    for (const Case& c : cases) {
        char hex[33];
        Md5Hex(c.in.data(), c.in.size(), hex);
        EXPECT_STREQ(hex, c.hex) << c.in.size();
    }
    // Incremental updates give the same digest.
    std::string data = SteppedBytes();
    for (size_t step : {1u, 3u, 63u, 64u, 65u, 999u}) {
        Md5Context ctx;
        Md5Init(&ctx);
        for (size_t i = 0; i < data.size(); i += step)
            Md5Update(&ctx, data.data() + i, std::min(step, data.size() - i));
        uint8_t digest[16];
        Md5Final(&ctx, digest);
        EXPECT_EQ(digest[0], 0x10) << step;
        EXPECT_EQ(digest[15], 0x1a) << step;
    }
}

TEST(Base64, EncodesLikeTheReference)
{
    struct Case { std::string in; const char* text; };
    const Case cases[] = {
        {"", ""}, {"a", "YQ=="}, {"abc", "YWJj"}, {"message digest", "bWVzc2FnZSBkaWdlc3Q="},
        {Bytes("\0\377z", 3), "AP96"},
        {RangeBytes(),
         "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4OTo7PD0+P0BBQkNERUZHSElK"
         "S0xNTk9QUVJTVFVWV1hZWltcXV5fYGFiY2RlZmdoaWprbG1ub3BxcnN0dXZ3eHl6e3x9fn+AgYKDhIWGh4iJiouMjY6PkJGSk5SV"
         "lpeYmZqbnJ2en6ChoqOkpaanqKmqq6ytrq+wsbKztLW2t7i5uru8vb6/wMHCw8TFxsfIycrLzM3Oz9DR0tPU1dbX2Nna29zd3t/g"
         "4eLj5OXm5+jp6uvs7e7v8PHy8/T19vf4+fr7/P3+/w=="},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EncodeBase64String(c.in.data(), c.in.size()), c.text);
        std::string text = c.text;
        EXPECT_EQ(DecodeBase64String(text.data(), text.size()), c.in);
    }
    // The decoder skips foreign characters.
    const std::string text = "SGVs\r\nbG8g*d29y bGQ=";
    EXPECT_EQ(DecodeBase64String(text.data(), text.size()), "Hello world");
    // Without padding the last whole bytes still come out; a lone sixth bit
    // group is dropped.
    EXPECT_EQ(DecodeBase64String("YWJjZA", 6), "abcd");
    EXPECT_EQ(DecodeBase64String("YWJjZ", 5), "abc");
    EXPECT_EQ(DecodeBase64String("====", 4), "");
}
