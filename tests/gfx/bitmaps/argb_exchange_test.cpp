// ARGB in and out of bitmaps, and icon bodies.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/io/stream.h"
#include "gfx/bitmaps/argb_exchange.h"
#include "gfx/bitmaps/icon_image.h"
#include "gfx/picture_test_helpers.h"
#include "platform/posix/os_memory.h"

namespace {

using namespace picture_test;

TEST(ArgbExchange, RoundTripThroughEveryPixelFormat)
{
    FormatScope scope;
    std::vector<uint32_t> argb = RandomArgb(7 * 5, 21);
    for (uint32_t format = 0; format < PIXFMT_COUNT; ++format) {
        OsSetDisplayPixelFormat(format);
        BitMapHandle *bm = nullptr, *mask = nullptr;
        ASSERT_EQ(CreateBitMapFromArgb(argb.data(), kNoTransparentColour, 6, 5, 7, 0, 0, nullptr, &bm, &mask,
                                       nullptr),
                  0u);
        EXPECT_EQ(mask, nullptr);
        uint32_t* back = ReadBitMapArgb(bm, 0, 0, 6, 5, 0);
        ASSERT_NE(back, nullptr);
        for (int32_t y = 0; y < 5; ++y)
            for (int32_t x = 0; x < 6; ++x) {
                uint32_t in = argb[size_t(y) * 7 + x];
                // Channels keep the bits the format holds; only ARGB keeps alpha.
                uint32_t expect = in & 0xFFFFFF;
                if (PixelFormatBytes(format) == 2) expect = PixelToArgb(ArgbToPixel(in, format, 0), format, 0);
                if (format == PIXFMT_ARGB) expect = in;
                ASSERT_EQ(back[size_t(y) * 6 + x], expect) << "format " << format;
            }
        OsFreeMem(back);
        FreeColorBitMap(bm);
    }
}

TEST(ArgbExchange, TransparentColourMatchesOnlyTheColour)
{
    std::vector<uint32_t> argb = {0x00000000, 0x80000000, 0xFF000000, 0xFF000001, 0x00FFFFFF, 0xFF102030};
    struct Case { int64_t key; std::vector<bool> visible; };
    const Case cases[] = {{0xFF000000, {false, false, false, true, true, true}},
                          {0x00102030, {true, true, true, true, true, false}},
                          {0xFFFFFFFF, {true, true, true, true, false, true}}};
    for (const Case& c : cases) {
        BitMapHandle *bm = nullptr, *mask = nullptr;
        ASSERT_EQ(CreateBitMapFromArgb(argb.data(), c.key, 6, 1, 6, 0, 0, nullptr, &bm, &mask, nullptr), 0u);
        ASSERT_NE(mask, nullptr);
        for (int32_t x = 0; x < 6; ++x) EXPECT_EQ(MaskAt(mask, x, 0), c.visible[x]) << std::hex << c.key << " " << x;
        FreePlaneBitMap(mask);
        FreeColorBitMap(bm);
    }
}

TEST(ArgbExchange, MaskAndAlphaFoldIntoTheArray)
{
    Owned own;
    BitMapHandle* bm = own(BitMapOf({0x11223344, 0x55667788, 0x99AABBCC, 0xDDEEFF00}, 4, 1));
    BitMapHandle* mask = own(AllocMaskBitMap(bm, 4, 1, 1, nullptr, 0));
    BitMapHandle* alpha = own(AllocAlphaBitMap(4, 1, 1, nullptr, 0));
    SetMaskAt(mask, 1, 0, true);
    SetMaskAt(mask, 3, 0, true);
    AlphaAt(alpha, 0, 0) = 0;
    AlphaAt(alpha, 1, 0) = 200;
    struct Case { BitMapHandle *mask, *alpha; int64_t key; int maskToAlpha; std::vector<uint32_t> expect; } cases[] = {
        {nullptr, nullptr, kNoTransparentColour, 0, {0xFF223344, 0xFF667788, 0xFFAABBCC, 0xFFEEFF00}},
        {mask, nullptr, kNoTransparentColour, 1, {0x00223344, 0xFF667788, 0x00AABBCC, 0xFFEEFF00}},
        // Invisible pixels take the key; the others keep what reading gave.
        {mask, nullptr, 0x00ABCDEF, 0, {0x00ABCDEF, 0x55667788, 0x00ABCDEF, 0xDDEEFF00}},
        // Alpha bytes from the plane; where they are 0 the colour is the key.
        {nullptr, alpha, 0x00ABCDEF, 0, {0x00ABCDEF, 0xC8667788, 0x00ABCDEF, 0x00ABCDEF}},
        {nullptr, alpha, kNoTransparentColour, 0, {0x00223344, 0xC8667788, 0x00AABBCC, 0x00EEFF00}},
    };
    for (const Case& c : cases) {
        uint32_t* got = BitMapToArgbMasked(bm, 0, 0, 4, 1, c.mask, c.alpha, c.key, c.maskToAlpha, 0);
        ASSERT_NE(got, nullptr);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(got[i], c.expect[i]) << i;
        OsFreeMem(got);
    }
    // A plane smaller than the rectangle gives nothing rather than a read past it.
    BitMapHandle* tiny = own(AllocAlphaBitMap(2, 1, 1, nullptr, 0));
    EXPECT_EQ(BitMapToArgbMasked(bm, 0, 0, 4, 1, nullptr, tiny, -1, 0, 0), nullptr);
    EXPECT_EQ(ReadBitMapArgb(bm, 1, 0, 4, 1, 0), nullptr);
}

TEST(ArgbExchange, WritesAreCutToTheBitMapAndAlphaComesOut)
{
    std::vector<uint32_t> argb = RandomArgb(5 * 5, 8);
    Owned own;
    BitMapHandle* bm = own(BitMapOf(std::vector<uint32_t>(16, 0x01010101), 4, 4));
    WriteArgbToBitMap(argb.data(), 1, 1, 5 * 4, bm, 2, -1, 4, 4);
    std::vector<uint32_t> got = ArgbOf(bm);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 4; ++x) {
            bool inside = x >= 2 && y <= 2;
            EXPECT_EQ(got[size_t(y) * 4 + x], inside ? argb[size_t(y + 2) * 5 + (x - 1)] : 0x01010101u) << x << "," << y;
        }
    BitMapHandle* alpha = own(AllocAlphaBitMapFrom(argb.data(), 3, 2, 5));
    ASSERT_NE(alpha, nullptr);
    EXPECT_EQ(AlphaAt(alpha, 2, 1), argb[7] >> 24);
}

TEST(IconImage, BodyRowsBottomFirstWithTheAndMask)
{
    struct Case {
        int32_t w, h;
        std::vector<uint32_t> argb;
        std::vector<uint8_t> mask;  // as written, bottom row first
    } cases[] = {
        {1, 1, {0xFF123456}, {0x7F, 0xFF, 0xFF, 0xFF}},
        {1, 1, {0x00123456}, {0xFF, 0xFF, 0xFF, 0xFF}},
        {2, 2, {0x01000000, 0, 0, 0xFF000000}, {0xBF, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF}},
        {33, 1, std::vector<uint32_t>(33, 0xFF000000), {0, 0, 0, 0, 0x7F, 0xFF, 0xFF, 0xFF}},
    };
    for (const Case& c : cases) {
        size_t size = IconImageBodySize(c.w, c.h);
        std::vector<uint8_t> buffer(40 + size, 0xAA);
        ASSERT_EQ(WriteIconImage(c.argb.data(), c.w, c.h, c.w, buffer.data(), nullptr), 0u);
        EXPECT_EQ(buffer[39], 0xAA);  // the caller's header is left alone
        size_t rowBytes = size_t(c.w) * 4;
        for (int32_t j = 0; j < c.h; ++j)
            EXPECT_EQ(std::memcmp(&buffer[40 + rowBytes * j], &c.argb[size_t(c.h - 1 - j) * c.w], rowBytes), 0);
        std::vector<uint8_t> mask(buffer.begin() + 40 + rowBytes * c.h, buffer.end());
        EXPECT_EQ(mask, c.mask) << c.w << "x" << c.h;

        TempDir dir;
        StreamHandle* stream = StreamOpen((dir / "icon").c_str(), STREAM_WRITE);
        ASSERT_NE(stream, nullptr);
        ASSERT_EQ(WriteIconImage(c.argb.data(), c.w, c.h, c.w, nullptr, stream), 0u);
        StreamClose(stream);
        EXPECT_EQ(ReadFileBytes(dir / "icon"), std::vector<uint8_t>(buffer.begin() + 40, buffer.end()));
    }
}

}  // namespace
