// The colour quantiser, next to ImageMagick's -colors for its quality.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "core/io/error_codes.h"
#include "gfx/bitmaps/pixel_formats.h"
#include "gfx/effects/quantize.h"
#include "gfx/picture_test_helpers.h"

namespace {

struct Reduced {
    uint32_t err = 0, count = 0;
    int32_t keyIndex = -1;
    std::vector<uint8_t> indices;
    uint32_t palette[256] = {};
    RgbPicture picture;
};

// Quantises an ARGB picture stored in the given format.
Reduced Reduce(const RgbPicture& in, uint32_t format, uint32_t colours, uint32_t dither,
               int32_t transparent = -1)
{
    Reduced r;
    uint32_t bpp = PixelFormatBytes(format);
    int32_t rowLength = in.w + 3;
    std::vector<uint8_t> pixels = StorePicture(in, format, rowLength, 0xEE);
    r.indices.assign(static_cast<size_t>(in.w) * in.h, 0);
    r.count = colours;
    r.err = BuildQuantizePalette(pixels.data(), format, bpp, in.w, in.h, rowLength, r.indices.data(),
                                 r.palette, &r.count, transparent, 0, dither, &r.keyIndex);
    r.picture = {in.w, in.h, {}};
    for (uint8_t i : r.indices) r.picture.argb.push_back(r.palette[i]);
    return r;
}

TEST(Quantize, PaletteSizeIndexRangeAndErrorBound)
{
    RgbPicture in = TestPicture(120, 90);
    struct Case { uint32_t asked, expectMax, dither; double meanBound; };
    const Case cases[] = {{256, 256, 0, 7.0}, {256, 256, 1, 8.0}, {16, 16, 0, 22.0}, {16, 16, 1, 26.0},
                          {2, 2, 1, 80.0},    {0, 2, 0, 80.0},    {1000, 256, 0, 7.0}};
    for (const Case& c : cases) {
        Reduced r = Reduce(in, PIXFMT_ARGB, c.asked, c.dither);
        ASSERT_EQ(r.err, 0u);
        EXPECT_LE(r.count, c.expectMax) << c.asked;
        EXPECT_GE(r.count, 2u) << c.asked;
        for (uint8_t i : r.indices) ASSERT_LT(i, r.count);
        EXPECT_LT(MeanChannelError(in, r.picture), c.meanBound) << c.asked << " dither " << c.dither;
    }
}

// Nearest to the cache cell's centre, the first on a tie; dithered with
// 7/16 ahead, 3/16 below behind, 5/16 below, 1/16 below ahead, rows in
// serpentine order. Random colours give many ties and large errors.
TEST(Quantize, MappingIsTheNearestEntryAfterDiffusedError)
{
    for (uint32_t dither : {0u, 1u})
        for (uint32_t colours : {256u, 37u, 5u}) {
            RgbPicture in{97, 61, picture_test::RandomArgb(97 * 61, colours)};
            for (auto& c : in.argb) c &= 0xFFFFFF;
            Reduced r = Reduce(in, PIXFMT_ARGB, colours, dither);
            ASSERT_EQ(r.err, 0u);
            auto channel = [](uint32_t c, int k) { return static_cast<int32_t>((c >> (16 - 8 * k)) & 0xFF); };
            auto nearest = [&](const int32_t v[3]) {
                uint32_t best = 0;
                int32_t bestD = INT32_MAX;
                for (uint32_t e = 0; e < r.count; ++e) {
                    int32_t d = 0;
                    for (int k = 0; k < 3; ++k) {
                        int32_t c = ((v[k] & 0xFC) | 2) - channel(r.palette[e], k);
                        d += c * c;
                    }
                    if (d < bestD) {
                        bestD = d;
                        best = e;
                    }
                }
                return best;
            };
            size_t w = static_cast<size_t>(in.w);
            std::vector<int32_t> cur(3 * (w + 2)), next(3 * (w + 2));
            for (int32_t y = 0; y < in.h; ++y) {
                bool reverse = dither && (y & 1);
                for (size_t i = 0; i < w; ++i) {
                    size_t x = reverse ? w - 1 - i : i, at = static_cast<size_t>(y) * w + x;
                    int32_t v[3];
                    int32_t* e = &cur[3 * (x + 1)];
                    for (int k = 0; k < 3; ++k)
                        v[k] = std::clamp(channel(in.argb[at], k) + (dither ? (e[k] + 8) >> 4 : 0), 0, 255);
                    uint32_t want = nearest(v);
                    ASSERT_EQ(r.indices[at], want) << "pixel " << at << ", " << colours << " colours, dither " << dither;
                    ptrdiff_t ahead = reverse ? -3 : 3;
                    int32_t* n = &next[3 * (x + 1)];
                    for (int k = 0; k < 3; ++k) {
                        int32_t err = v[k] - channel(r.palette[want], k);
                        e[ahead + k] += err * 7;
                        n[-ahead + k] += err * 3;
                        n[k] += err * 5;
                        n[ahead + k] += err;
                    }
                }
                cur.swap(next);
                std::fill(next.begin(), next.end(), 0);
            }
        }
}

TEST(Quantize, FewColoursComeBackExactlyInEveryFormatSize)
{
    RgbPicture in{37, 11, {}};
    // Colours that survive RGB565 unchanged, so the 16-bit picture holds the same set.
    const uint32_t colours[] = {0x000000, 0xF80000, 0x00FC00, 0x0000F8, 0xF8FCF8, 0x808080, 0x406020};
    for (int32_t i = 0; i < in.w * in.h; ++i) in.argb.push_back(colours[(i * 3 + i / 5) % 7]);
    for (uint32_t format : {PIXFMT_ARGB, PIXFMT_BGRA, PIXFMT_RGB565, PIXFMT_BGR555, PIXFMT_RGB24}) {
        if (format == PIXFMT_BGR555) {
            for (auto& c : in.argb) c &= 0xF8F8F8;
        }
        for (uint32_t dither : {0u, 1u}) {
            Reduced r = Reduce(in, format, 8, dither);
            ASSERT_EQ(r.err, 0u) << format;
            EXPECT_EQ(r.count, 7u) << format;
            uint32_t worst;
            MeanChannelError(in, r.picture, &worst);
            EXPECT_EQ(worst, 0u) << format << " dither " << dither;
        }
    }
}

TEST(Quantize, TransparentColourKeepsAnEntryOfItsOwn)
{
    RgbPicture in = TestPicture(64, 64, 3);
    for (int32_t i = 0; i < 64; ++i) in.argb[static_cast<size_t>(i) * 65] = 0x123456;
    Reduced r = Reduce(in, PIXFMT_ARGB, 16, 1, 0x123456);
    ASSERT_EQ(r.err, 0u);
    ASSERT_GE(r.keyIndex, 0);
    EXPECT_EQ(r.palette[r.keyIndex], 0x123456u);
    for (size_t i = 0; i < r.indices.size(); ++i)
        EXPECT_EQ(r.indices[i] == r.keyIndex, in.argb[i] == 0x123456u) << i;
    // A key colour that no pixel has takes no entry.
    Reduced none = Reduce(in, PIXFMT_ARGB, 16, 0, 0xABCDEF);
    EXPECT_EQ(none.keyIndex, -1);
}

TEST(Quantize, RefusesMismatchedFormatsAndSizes)
{
    uint32_t px[4] = {};
    uint8_t idx[4];
    uint32_t pal[256];
    uint32_t n = 4;
    EXPECT_EQ(BuildQuantizePalette(px, PIXFMT_ARGB, 2, 2, 2, 2, idx, pal, &n, -1, 0, 0, nullptr), ERR_PIXELFORMAT);
    EXPECT_EQ(BuildQuantizePalette(px, 14, 1, 2, 2, 2, idx, pal, &n, -1, 0, 0, nullptr), ERR_PIXELFORMAT);
    EXPECT_EQ(BuildQuantizePalette(px, PIXFMT_ARGB, 4, 0, 2, 2, idx, pal, &n, -1, 0, 0, nullptr), ERR_ARGS);
    EXPECT_EQ(BuildQuantizePalette(px, PIXFMT_ARGB, 4, 2, 2, 1, idx, pal, &n, -1, 0, 0, nullptr), ERR_ARGS);
}

TEST(Quantize, ErrorComparableToImageMagick)
{
    QM_SKIP_WITHOUT(HaveConvert()) << "no /usr/bin/convert";
    RgbPicture in = TestPicture(160, 120, 7);
    for (uint32_t colours : {8u, 64u, 256u}) {
        RgbPicture peer;
        ASSERT_TRUE(RunConvert(in, "+dither -colors " + std::to_string(colours), &peer));
        Reduced r = Reduce(in, PIXFMT_ARGB, colours, 0);
        ASSERT_EQ(r.err, 0u);
        double ours = MeanChannelError(in, r.picture), theirs = MeanChannelError(in, peer);
        EXPECT_LE(CountColours(peer), colours);
        std::printf("%u colours: ours %.2f peer %.2f\n", colours, ours, theirs);
        EXPECT_LT(ours, theirs * 1.25 + 0.5) << colours << " colours: ours " << ours << " peer " << theirs;
    }
}

}  // namespace
