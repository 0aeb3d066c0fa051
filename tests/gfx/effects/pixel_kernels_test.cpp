// Pixel kernels against independent expectations.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "gfx/bitmaps/pixel_formats.h"
#include "gfx/effects/pixel_kernels.h"
#include "gfx/picture_test_helpers.h"

namespace {

using picture_test::BitAt;
using picture_test::Lcg;

TEST(PixelKernels, IntegerSqrtIsTheFloorOfTheRoot)
{
    auto exact = [](int64_t x) {
        int64_t r = static_cast<int64_t>(std::sqrt(static_cast<double>(x)));
        while (r * r > x) --r;
        while ((r + 1) * (r + 1) <= x) ++r;
        return static_cast<int32_t>(r);
    };
    for (int32_t x = 0; x < (1 << 21); ++x) ASSERT_EQ(IntegerSqrt(x), exact(x)) << x;
    for (int64_t r = 1400; r <= 46340; ++r)
        for (int64_t d : {-1, 0, 1}) {
            int64_t x = r * r + d;
            if (x <= INT32_MAX) {
                ASSERT_EQ(IntegerSqrt(static_cast<int32_t>(x)), exact(x)) << x;
            }
        }
    EXPECT_EQ(IntegerSqrt(INT32_MAX), 46340);
    EXPECT_EQ(IntegerSqrt(-5), -1);
}

// ImageMagick checks the ARGB gray; here its rounding, the threshold and
// other layouts.
TEST(PixelKernels, GrayAndThreshold)
{
    uint32_t grey = 0x00808080;
    GrayPixels32(&grey, 1, 1, 10, 1, 0);
    EXPECT_EQ(grey, 0x007F7F7Fu);  // the weights sum just below 1 in doubles
    uint32_t th[3] = {0x0000FF00, 0x00808080, 0x00828282};
    GrayPixels32(th, 3, 1, 10, 3, 1);
    EXPECT_EQ(std::vector<uint32_t>(th, th + 3), (std::vector<uint32_t>{0x00FFFFFF, 0, 0x00FFFFFF}));
    uint32_t bgra = ArgbToPixel(0x0000FF00, 11, 0);
    GrayPixels32(&bgra, 1, 1, 11, 1, 0);
    EXPECT_EQ(PixelToArgb(bgra, 11, 0), 0x00959595u);
    uint16_t g16 = static_cast<uint16_t>(ArgbToPixel(0x0000FF00, 4, 0));
    GrayPixels16(&g16, 1, 1, 4, 1, 0);
    // Green 0xFC: 0xFC * 0.587 = 147.9 -> 147 = 0x93.
    EXPECT_EQ(g16, ((0x93 & 0xF8) << 8) | ((0x93 & 0xFC) << 3) | (0x93 >> 3));
}

TEST(PixelKernels, ReplacementsChainAndRespectTheCompareMask)
{
    const uint32_t red = 0xFF0000, blue = 0x0000FF, green = 0x00FF00;
    uint32_t pairs[] = {red, blue, blue, green, 0xFFFFFFFF};
    uint32_t px[3] = {0xAAFF0000, blue, 0x123456};
    ReplaceColorsPixels32(3, 1, pairs, px, 3, 0x00FFFFFF);
    EXPECT_EQ(std::vector<uint32_t>(px, px + 3), (std::vector<uint32_t>{green, green, 0x123456}));
    uint32_t pairs16[] = {0x1F, 0x7E0, 0xFFFFFFFF};
    uint16_t p16[2] = {0x1F, 0x20};
    ReplaceColorsPixels16(2, 1, pairs16, p16, 2);
    EXPECT_EQ(std::vector<uint16_t>(p16, p16 + 2), (std::vector<uint16_t>{0x7E0, 0x20}));
}

TEST(PixelKernels, FlipsOfOddWidthKeepTheMiddle)
{
    uint32_t px[2 * 4] = {1, 2, 3, 99, 4, 5, 6, 99};
    uint8_t mask[2 * 2] = {0xC0, 0, 0x20, 0};   // row 0: pixels 0, 1; row 1: pixel 2
    uint8_t alpha[2 * 4] = {10, 20, 30, 0, 40, 50, 60, 0};
    uint8_t scratch[2];
    FlipParams flip{px, 3, 2, 4, mask, 2, alpha, 4, 1, 4, scratch};
    FlipPixels(&flip);
    EXPECT_EQ(std::vector<uint32_t>(px, px + 8), (std::vector<uint32_t>{3, 2, 1, 99, 6, 5, 4, 99}));
    EXPECT_EQ(std::vector<uint8_t>(mask, mask + 4), (std::vector<uint8_t>{0x60, 0, 0x80, 0}));
    EXPECT_EQ(std::vector<uint8_t>(alpha, alpha + 8), (std::vector<uint8_t>{30, 20, 10, 0, 60, 50, 40, 0}));
    flip.horizontal = 0;
    FlipPixels(&flip);
    EXPECT_EQ(std::vector<uint32_t>(px, px + 8), (std::vector<uint32_t>{6, 5, 4, 99, 3, 2, 1, 99}));
    EXPECT_EQ(std::vector<uint8_t>(mask, mask + 4), (std::vector<uint8_t>{0x80, 0, 0x60, 0}));
    EXPECT_EQ(std::vector<uint8_t>(alpha, alpha + 8), (std::vector<uint8_t>{60, 50, 40, 0, 30, 20, 10, 0}));
}

TEST(PixelKernels, TintAndInvertedPlanes)
{
    uint32_t px[2] = {0x00000000, 0xFF102030};
    TintParams t{px, 0, 0, 1, 1, 0xFFFFFF, 128, 2, 10};
    TintPixels32(&t);
    EXPECT_EQ(px[0], 0x007F7F7Fu);
    EXPECT_EQ(px[1], 0xFF102030u);  // outside the rectangle
    uint16_t p16 = 0;
    TintParams t16{&p16, 0, 0, 1, 1, 0xFFFF, 128, 1, 4};
    TintPixels16(&t16);
    EXPECT_EQ(PixelToArgb(p16, 4, 0), 0x00787C78u);

    std::vector<uint8_t> plane = {0, 0xFF, 0x0F, 0xF0};
    InvertBytePlane(plane.data(), 2, 2);
    EXPECT_EQ(plane, (std::vector<uint8_t>{0xFF, 0, 0xF0, 0x0F}));
}

// Every bit, alpha byte included; the row padding is left alone.
TEST(PixelKernels, InvertComplementsWholeThirtyTwoBitPixels)
{
    uint32_t px[2 * 3] = {0x00000000, 0xFF102030, 0xDEADBEEF, 0x80FF00FF, 0xFFFFFFFF, 0xDEADBEEF};
    InvertPixels32(px, 2, 2, 3);
    EXPECT_EQ(std::vector<uint32_t>(px, px + 6),
              (std::vector<uint32_t>{0xFFFFFFFF, 0x00EFDFCF, 0xDEADBEEF, 0x7F00FF00, 0x00000000, 0xDEADBEEF}));

    const int32_t w = 37, h = 5, rowLength = 41;
    std::vector<uint32_t> in = picture_test::RandomArgb(static_cast<size_t>(rowLength) * h, 7), out = in;
    InvertPixels32(out.data(), w, h, rowLength);
    for (size_t i = 0; i < in.size(); ++i)
        ASSERT_EQ(out[i], static_cast<int32_t>(i % rowLength) < w ? ~in[i] : in[i]) << i;
}

TEST(PixelKernels, CopyThroughMaskOrAlpha)
{
    uint32_t src[4] = {1, 2, 3, 4}, dst[4] = {0, 0, 0, 0};
    uint8_t smask[2] = {0xA0, 0}, dmask[2] = {0x50, 0};
    CopyMaskParams b{src, dst, smask, dmask, nullptr, nullptr, 4, 4, 2, 2, 0, 0, 0, 0, 4, 1, 0, 0, 4};
    EXPECT_EQ(CopyPixelRectWithMask(&b), 1u);
    EXPECT_EQ(std::vector<uint32_t>(dst, dst + 4), (std::vector<uint32_t>{1, 0, 3, 0}));
    EXPECT_EQ(dmask[0], 0xA0);

    uint8_t salpha[4] = {0, 9, 0, 255}, dalpha[4] = {7, 7, 7, 7};
    uint32_t dst2[4] = {0, 0, 0, 0};
    CopyMaskParams a{src, dst2, nullptr, nullptr, salpha, dalpha, 4, 4, 0, 0, 4, 4, 0, 0, 4, 1, 0, 0, 4};
    CopyPixelRectWithMask(&a);
    EXPECT_EQ(std::vector<uint32_t>(dst2, dst2 + 4), (std::vector<uint32_t>{0, 2, 0, 4}));
    EXPECT_EQ(std::vector<uint8_t>(dalpha, dalpha + 4), (std::vector<uint8_t>{0, 9, 0, 255}));
}

TEST(PixelKernels, DissolveKeepsBytesBelowTheThreshold)
{
    const uint8_t bytes[4] = {10, 200, 50, 99};
    uint8_t out[2] = {0, 0};
    DissolveParams d{nullptr, out, 4, 1, 0, 2, bytes, 0, 0};
    BuildDissolveMask(&d, 100);
    EXPECT_EQ(out[0], 0xB0);
    d.invert = 1;
    BuildDissolveMask(&d, 100);
    EXPECT_EQ(out[0], 0x40);
    const uint8_t srcBytes[4] = {1, 2, 3, 4};
    uint8_t byteOut[4] = {9, 9, 9, 9};
    DissolveParams db{srcBytes, byteOut, 4, 1, 4, 4, bytes, 1, 0};
    BuildDissolveMask(&db, 100);
    EXPECT_EQ(std::vector<uint8_t>(byteOut, byteOut + 4), (std::vector<uint8_t>{1, 0, 3, 4}));
}

TEST(PixelKernels, PolygonFillStaysInsideThePlane)
{
    // A square from (2, 1) to (6, 4), and a triangle reaching far outside.
    const int32_t square[] = {2, 1, 6, 1, 6, 4, 2, 4};
    std::vector<uint8_t> plane(2 * 6, 0);
    int32_t work[8];
    FillPolygonPlane(plane.data(), 2, 16, 6, work, square, 4);
    for (int32_t y = 0; y < 6; ++y)
        for (int32_t x = 0; x < 16; ++x)
            EXPECT_EQ(BitAt(&plane[2 * y], x), y >= 1 && y <= 4 && x >= 2 && x <= 6) << x << "," << y;
    const int32_t huge[] = {-100000, -50, 100000, 3, -100000, 90000};
    std::vector<uint8_t> small(2 * 6, 0);
    FillPolygonPlane(small.data(), 2, 16, 6, work, huge, 3);
    EXPECT_EQ(small[2 * 3], 0xFF);
    EXPECT_EQ(small[2 * 3 + 1], 0xFF);
}

// RGB565 channels widened to their top bits, as the 16-bit kernels read them.
uint32_t R8(uint32_t v) { return (v >> 8) & 0xF8; }
uint32_t G8(uint32_t v) { return (v >> 3) & 0xFC; }
uint32_t B8(uint32_t v) { return (v << 3) & 0xF8; }

// Rows that do not fill the row length.
TEST(PixelKernels, SixteenBitMembersInEveryFormat)
{
    uint32_t seed = 12;
    const int32_t w = 7, h = 3, rowLength = 9;
    for (uint32_t format = 0; format < 8; ++format) {
        std::vector<uint16_t> src(rowLength * h), dst(rowLength * h);
        for (auto& p : src) p = static_cast<uint16_t>(Lcg(seed));
        for (auto& p : dst) p = static_cast<uint16_t>(Lcg(seed));
        uint8_t maskRows[3 * 2];
        for (auto& b : maskRows) b = static_cast<uint8_t>(Lcg(seed));
        // Mix: d' = s + ((d - s) * (255 - level) >> 8) per channel where the
        // source mask bit (from bit offset 3) is set.
        std::vector<uint16_t> mixed = dst;
        MixParams mix{src.data(), mixed.data(), maskRows, 3, w, h, 100, format, rowLength, rowLength, 2};
        MixPixels16(&mix);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < rowLength; ++x) {
                size_t i = static_cast<size_t>(y) * rowLength + x;
                uint16_t expect = dst[i];
                if (x < w && BitAt(maskRows + 2 * y, 3 + x)) {
                    uint32_t s = PixelFromFormat16(format, src[i]), d = PixelFromFormat16(format, dst[i]);
                    auto mixc = [](int32_t sc, int32_t dc, uint32_t mask) {
                        return static_cast<uint32_t>(sc + (((dc - sc) * 155) >> 8)) & mask;
                    };
                    uint32_t r = mixc(static_cast<int32_t>(R8(s)), static_cast<int32_t>(R8(d)), 0xF8);
                    uint32_t g = mixc(static_cast<int32_t>(G8(s)), static_cast<int32_t>(G8(d)), 0xFC);
                    uint32_t b = mixc(static_cast<int32_t>(B8(s)), static_cast<int32_t>(B8(d)), 0xFF);
                    expect = static_cast<uint16_t>(PixelToFormat16(format, (r << 8) | (g << 3) | (b >> 3)));
                }
                ASSERT_EQ(mixed[i], expect) << "format " << format << " at " << x << "," << y;
            }

        std::vector<uint16_t> inv = dst;
        InvertPixels16(inv.data(), w, h, rowLength);
        for (size_t i = 0; i < inv.size(); ++i)
            ASSERT_EQ(inv[i], static_cast<int32_t>(i % rowLength) < w ? static_cast<uint16_t>(~dst[i]) : dst[i]);

        std::vector<uint16_t> px = src;
        px[3] = px[rowLength + 5] = 0x1234;
        std::vector<uint8_t> mask(2 * h, 0xAA);
        BuildMaskFromColor16(px.data(), mask.data(), w, h, 2, 0x1234, rowLength);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                EXPECT_EQ(BitAt(&mask[2 * y], x), px[static_cast<size_t>(y) * rowLength + x] != 0x1234);

        std::vector<uint16_t> flip = dst;
        uint8_t scratch[2 * rowLength];
        FlipParams fh{flip.data(), w, h, rowLength, nullptr, 0, nullptr, 0, 1, 2, scratch};
        FlipPixels(&fh);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < rowLength; ++x)
                ASSERT_EQ(flip[static_cast<size_t>(y) * rowLength + x],
                          dst[static_cast<size_t>(y) * rowLength + (x < w ? w - 1 - x : x)]);
        fh.horizontal = 0;
        flip = dst;
        FlipPixels(&fh);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                ASSERT_EQ(flip[static_cast<size_t>(y) * rowLength + x], dst[static_cast<size_t>(h - 1 - y) * rowLength + x]);
    }
}

}  // namespace
