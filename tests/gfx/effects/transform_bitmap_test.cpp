// Matrix transforms against exact permutations, the rotated rectangle's geometry and ImageMagick.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "core/io/error_codes.h"
#include "draw/transform.h"
#include "gfx/effects/transform_bitmap.h"
#include "gfx/picture_test_helpers.h"

namespace {

using namespace picture_test;

struct Result {
    BitMapHandle *bm = nullptr, *mask = nullptr, *alpha = nullptr;
    int32_t w = 0, h = 0;
    ~Result()
    {
        if (bm) FreeColorBitMap(bm);
        if (mask) FreePlaneBitMap(mask);
        if (alpha) FreePlaneBitMap(alpha);
    }
};

uint32_t Transform(BitMapHandle* src, BitMapHandle* mask, BitMapHandle* alpha, const double* m, int smooth,
                   Result& r)
{
    return TransformBitMap(src, mask, alpha, 0, 0, src->width, src->height, m, smooth, nullptr, &r.bm, &r.mask,
                           &r.alpha, &r.w, &r.h);
}

// Where destination pixel (x, y) comes from under each exact map of a
// w x h source.
struct ExactMap {
    const char* name;
    double m[4];
    bool swapsSides;
    int32_t (*sx)(int32_t x, int32_t y, int32_t w, int32_t h);
    int32_t (*sy)(int32_t x, int32_t y, int32_t w, int32_t h);
    const char* convert;  // the same operation for ImageMagick
};

const ExactMap kExactMaps[] = {
    // A quarter turn counter-clockwise on screen: (x, y) -> (y, w - 1 - x).
    {"rotate90", {0, -1, 1, 0}, true, [](int32_t, int32_t y, int32_t w, int32_t) { return w - 1 - y; },
     [](int32_t x, int32_t, int32_t, int32_t) { return x; }, "-rotate 270"},
    {"rotate180", {-1, 0, 0, -1}, false, [](int32_t x, int32_t, int32_t w, int32_t) { return w - 1 - x; },
     [](int32_t, int32_t y, int32_t, int32_t h) { return h - 1 - y; }, "-rotate 180"},
    {"rotate270", {0, 1, -1, 0}, true, [](int32_t, int32_t y, int32_t, int32_t) { return y; },
     [](int32_t x, int32_t, int32_t, int32_t h) { return h - 1 - x; }, "-rotate 90"},
    {"mirror", {-1, 0, 0, 1}, false, [](int32_t x, int32_t, int32_t w, int32_t) { return w - 1 - x; },
     [](int32_t, int32_t y, int32_t, int32_t) { return y; }, "-flop"},
    {"flip", {1, 0, 0, -1}, false, [](int32_t x, int32_t, int32_t, int32_t) { return x; },
     [](int32_t, int32_t y, int32_t, int32_t h) { return h - 1 - y; }, "-flip"},
    {"identity", {1, 0, 0, 1}, false, [](int32_t x, int32_t, int32_t, int32_t) { return x; },
     [](int32_t, int32_t y, int32_t, int32_t) { return y; }, ""},
};

TEST(TransformBitMap, QuarterTurnsAndMirrorsArePermutations)
{
    const int32_t w = 13, h = 7;
    FormatScope scope;
    for (uint32_t format : {PIXFMT_ARGB, PIXFMT_RGB565, PIXFMT_BGR555_SWAPPED, PIXFMT_RGB24, PIXFMT_RGBA}) {
        OsSetDisplayPixelFormat(format);
        std::vector<uint32_t> pix = RandomArgb(size_t(w) * h, 5);
        for (auto& p : pix) p &= 0xFFFFFF;
        BitMapHandle* src = BitMapOf(pix, w, h);
        pix = ArgbOf(src);  // as the format holds them
        for (const ExactMap& map : kExactMaps)
            for (int smooth = 0; smooth < 2; ++smooth) {
                Result r;
                ASSERT_EQ(Transform(src, nullptr, nullptr, map.m, smooth, r), 0u) << map.name;
                ASSERT_EQ(r.w, map.swapsSides ? h : w) << map.name;
                ASSERT_EQ(r.h, map.swapsSides ? w : h) << map.name;
                std::vector<uint32_t> got = ArgbOf(r.bm);
                for (int32_t y = 0; y < r.h; ++y)
                    for (int32_t x = 0; x < r.w; ++x) {
                        ASSERT_EQ(got[size_t(y) * r.w + x], pix[size_t(map.sy(x, y, w, h)) * w + map.sx(x, y, w, h)])
                            << map.name << " smooth " << smooth << " format " << format << " at " << x << "," << y;
                        ASSERT_TRUE(MaskAt(r.mask, x, y)) << map.name;
                    }
                if (format == PIXFMT_RGB24 && !smooth && *map.convert && OracleAtHand(HaveConvert(), kImageMagick)) {
                    RgbPicture peer;
                    EXPECT_TRUE(RunConvert(RgbPicture{w, h, pix}, map.convert, &peer));
                    EXPECT_EQ(got, peer.argb) << map.name;
                }
            }
        FreeColorBitMap(src);
    }
}

TEST(TransformBitMap, TheMaskIsSetExactlyInsideTheRotatedPicture)
{
    const int32_t w = 40, h = 25;
    BitMapHandle* src = BitMapOf(RandomArgb(size_t(w) * h, 9), w, h);
    for (double degrees : {30.0, 45.0, 117.0, 200.0, 333.0}) {
        Matrix2 m2 = MakeRotateScaleMatrix(degrees, 1.3, 0.8);
        double m[4] = {m2.m0, m2.m1, m2.m2, m2.m3};
        Result r;
        ASSERT_EQ(Transform(src, nullptr, nullptr, m, 0, r), 0u);
        // Bounds of the exact corners, rounded as the corners are.
        double xs[4] = {0, m[0] * w, m[0] * w + m[2] * h, m[2] * h};
        double ys[4] = {0, m[1] * w, m[1] * w + m[3] * h, m[3] * h};
        double minX = 1e9, minY = 1e9, maxX = -1e9, maxY = -1e9;
        for (int k = 0; k < 4; ++k) {
            minX = std::min(minX, std::floor(xs[k] + 0.5)), maxX = std::max(maxX, std::floor(xs[k] + 0.5));
            minY = std::min(minY, std::floor(ys[k] + 0.5)), maxY = std::max(maxY, std::floor(ys[k] + 0.5));
        }
        EXPECT_EQ(r.w, static_cast<int32_t>(std::ceil(maxX - minX - 0.5))) << degrees;
        EXPECT_EQ(r.h, static_cast<int32_t>(std::ceil(maxY - minY - 0.5))) << degrees;
        double det = m[0] * m[3] - m[1] * m[2];
        int inside = 0;
        for (int32_t y = 0; y < r.h; ++y)
            for (int32_t x = 0; x < r.w; ++x) {
                // The pixel centre taken back into the source.
                double px = x + 0.5 + minX, py = y + 0.5 + minY;
                double u = (m[3] * px - m[2] * py) / det, v = (-m[1] * px + m[0] * py) / det;
                const double margin = 1e-6;
                bool in = u >= margin && u < w - margin && v >= margin && v < h - margin;
                bool out = u < -margin || u >= w + margin || v < -margin || v >= h + margin;
                if (in) {
                    ++inside;
                    ASSERT_TRUE(MaskAt(r.mask, x, y)) << degrees << " " << x << "," << y;
                }
                if (out) {
                    ASSERT_FALSE(MaskAt(r.mask, x, y)) << degrees << " " << x << "," << y;
                }
            }
        EXPECT_NEAR(inside, w * h * 1.3 * 0.8, w * h * 0.1);
    }
    FreeColorBitMap(src);
}

TEST(TransformBitMap, PlanesFollowTheSource)
{
    const int32_t w = 6, h = 4;
    Owned own;
    BitMapHandle* src = own(BitMapOf(RandomArgb(size_t(w) * h, 2), w, h));
    BitMapHandle* mask = own(Mask(src, w, h, [](int32_t x, int32_t) { return x == 1; }));
    BitMapHandle* alpha = own(AlphaOf(w, h, [](int32_t x, int32_t y) { return 10 * x + y; }));
    const double flip[4] = {1, 0, 0, -1};
    struct Case {
        BitMapHandle *mask, *alpha;
        int smooth;
    } cases[] = {{mask, nullptr, 0}, {mask, nullptr, 1}, {nullptr, alpha, 0}, {nullptr, alpha, 1}, {mask, alpha, 0}};
    for (const Case& c : cases) {
        Result r;
        ASSERT_EQ(Transform(src, c.mask, c.alpha, flip, c.smooth, r), 0u);
        EXPECT_EQ(r.mask != nullptr, c.mask != nullptr);
        EXPECT_EQ(r.alpha != nullptr, c.alpha != nullptr);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                if (r.mask) {
                    ASSERT_EQ(MaskAt(r.mask, x, y), x == 1);
                }
                if (r.alpha) {
                    ASSERT_EQ(AlphaAt(r.alpha, x, y), 10 * x + (h - 1 - y));
                }
            }
    }
}

TEST(SampleTransformed, NeighboursOutsideTheMaskTakeTheFirstVisibleColour)
{
    std::vector<uint32_t> src = {0x00100000, 0x00200000, 0x00300000, 0x00400000};
    std::vector<uint8_t> maskBits = {0x80, 0, 0x00, 0};  // only (0, 0) visible
    TransformParams p{};
    p.srcPixels = reinterpret_cast<const uint8_t*>(src.data());
    p.srcW = 2, p.srcH = 2, p.srcRowLength = 2;
    p.format = PIXFMT_ARGB, p.bytesPerPixel = 4;
    p.srcMask = maskBits.data(), p.srcMaskBytesPerRow = 2;
    uint32_t out = 0;
    ASSERT_TRUE(SampleTransformed(&p, reinterpret_cast<uint8_t*>(&out), nullptr, 0.9, 0.8));
    EXPECT_EQ(out, 0x00100000u);
    maskBits[0] = 0;
    out = 7;
    EXPECT_FALSE(SampleTransformed(&p, reinterpret_cast<uint8_t*>(&out), nullptr, 0.9, 0.8));
    EXPECT_EQ(out, 7u);
    // Without a mask: the bilinear blend of the red channels between the
    // four pixel centres.
    p.srcMask = nullptr;
    ASSERT_TRUE(SampleTransformed(&p, reinterpret_cast<uint8_t*>(&out), nullptr, 1.0, 1.0));
    EXPECT_EQ(out, 0x00280000u);
    ASSERT_TRUE(SampleTransformed(&p, reinterpret_cast<uint8_t*>(&out), nullptr, 1.25, 1.0));
    EXPECT_EQ(out, static_cast<uint32_t>(std::trunc((16 * 0.25 + 32 * 0.75) * 0.5 + (48 * 0.25 + 64 * 0.75) * 0.5 + 0.5)) << 16);
}

// Smooth ARGB parameters from a w x h source with rows of srcRow pixels
// onto a dw x dh destination with rows of dstRow pixels.
TransformParams Params(const std::vector<uint32_t>& src, int32_t w, int32_t h, int32_t srcRow, int32_t dw, int32_t dh,
                       int32_t dstRow, const double* m)
{
    TransformParams p{};
    p.srcPixels = reinterpret_cast<const uint8_t*>(src.data());
    p.srcW = w, p.srcH = h, p.srcRowLength = srcRow, p.srcAlphaBytesPerRow = w;
    p.dstW = dw, p.dstH = dh, p.dstRowLength = dstRow;
    p.matrix = m, p.smooth = 1, p.format = PIXFMT_ARGB, p.bytesPerPixel = 4;
    return p;
}

TEST(TransformPixels, RowsThatMissTheSourceStayEmpty)
{
    // A quarter turn shifted by a fraction of a pixel: row 5 of the box
    // has its centres past the source's edge, and no pixel of it is drawn.
    std::vector<uint32_t> src = RandomArgb(5 * 3, 4);
    const double m[6] = {0, -1, 1, 0, 0, 4.7};
    std::vector<uint32_t> dst(3 * 8, 0);
    std::vector<uint8_t> mask(2 * 8, 0);
    TransformParams p = Params(src, 5, 3, 5, 3, 8, 3, m);
    p.dstPixels = reinterpret_cast<uint8_t*>(dst.data());
    p.dstMask = mask.data(), p.dstMaskBytesPerRow = 2;
    for (int smooth = 0; smooth < 2; ++smooth) {
        std::fill(mask.begin(), mask.end(), 0);
        p.smooth = smooth;
        TransformPixels(&p);
        for (int32_t y = 0; y < 8; ++y) EXPECT_EQ(mask[2 * y], y < 5 ? 0xE0 : 0) << "row " << y;
        EXPECT_EQ(dst[3 * 4 + 1] & 0xFFFFFF, src[1 * 5 + 0] & 0xFFFFFF);  // row 4 reads source column 0
    }
}

// What a path (the plain loop for -1) draws onto a fresh destination: its
// pixels, followed by the bytes of an alpha plane when one is asked for.
std::vector<uint32_t> TransformedOn(TransformParams p, int path, bool withAlpha)
{
    std::vector<uint32_t> out(size_t(p.dstRowLength) * p.dstH, 0x5A5A5A5A);
    std::vector<uint8_t> alpha(withAlpha ? size_t(p.dstW) * p.dstH : 0, 9);
    p.dstPixels = reinterpret_cast<uint8_t*>(out.data());
    p.dstAlpha = withAlpha ? alpha.data() : nullptr, p.dstAlphaBytesPerRow = p.dstW;
    if (path < 0) {
        TransformPixelsReference(&p);
    } else {
        uint32_t before = SelectTransformPath(static_cast<uint32_t>(path));
        TransformPixels(&p);
        SelectTransformPath(before);
    }
    out.insert(out.end(), alpha.begin(), alpha.end());
    return out;
}

// Every vector path gives the plain loop's bytes (counted, as the pictures
// may be large); the plain loop's are returned.
std::vector<uint32_t> ExpectPathsGivePlainBytes(const TransformParams& p, bool withAlpha, const std::string& what)
{
    std::vector<uint32_t> plain = TransformedOn(p, -1, withAlpha);
    for (int path : {TRANSFORMPATH_SSE2, TRANSFORMPATH_AVX2}) {
        std::vector<uint32_t> fast = TransformedOn(p, path, withAlpha);
        size_t differ = 0;
        for (size_t i = 0; i < fast.size(); ++i) differ += fast[i] != plain[i];
        EXPECT_EQ(differ, 0u) << what << " path " << path;
    }
    return plain;
}

TEST(TransformPixels, VectorisedSmoothGivesTheBytesOfThePlainLoop)
{
    uint32_t seed = 31;
    for (int round = 0; round < 60; ++round) {
        int32_t w = 1 + Lcg(seed) % 50, h = 1 + Lcg(seed) % 50;
        double m[6];
        for (int k = 0; k < 4; ++k) m[k] = (static_cast<int32_t>(Lcg(seed) % 2001) - 1000) / 400.0;
        double det = m[0] * m[3] - m[1] * m[2];
        if (std::fabs(det) < 0.05) continue;
        int32_t dw = 0, dh = 0;
        double minX = 0, minY = 0;
        TransformedBounds(m, w, h, &dw, &dh, &minX, &minY);
        dw = std::max(dw, 1), dh = std::max(dh, 1);
        m[4] = -minX, m[5] = -minY;
        std::vector<uint32_t> src = RandomArgb(size_t(w) * h, seed);
        std::vector<uint8_t> alpha = PatternBytes(size_t(w) * h, seed);
        TransformParams p = Params(src, w, h, w, dw, dh, dw, m);
        p.srcAlpha = round % 2 ? alpha.data() : nullptr;
        p.format = 10 + round % 4;
        ExpectPathsGivePlainBytes(p, true, "round " + std::to_string(round));
    }
}

// Large pictures through every 32-bit format, rows padded: the vector
// loops meet sums that fall within a hair of a whole number, where only
// the doubles may decide, a few thousand times over.
TEST(TransformPixels, VectorisedSmoothKeepsTheBytesOnLargePictures)
{
    struct Case { double degrees, sx, sy, dx, dy; };
    // A turn, a turn with scaling, and an enlargement by halves that puts
    // fractions of exactly a quarter and three quarters everywhere.
    const Case cases[] = {{30, 1, 1, 0, 0}, {-71.5, 1.3, 0.8, 0.25, 0.5}, {0, 2, 2, 0.5, 0.5}};
    uint32_t seed = 77;
    for (const Case& c : cases) {
        const int32_t w = 520, h = 380, pad = 3;
        Matrix2 r = MakeRotateScaleMatrix(c.degrees, c.sx, c.sy);
        double m[6] = {r.m0, r.m1, r.m2, r.m3, 0, 0};
        int32_t dw = 0, dh = 0;
        double minX = 0, minY = 0;
        TransformedBounds(m, w, h, &dw, &dh, &minX, &minY);
        m[4] = c.dx - minX, m[5] = c.dy - minY;
        // Smooth shading with a little grain, as photographs have, so that
        // neighbours differ by a few levels.
        std::vector<uint32_t> src(size_t(w + pad) * h);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w + pad; ++x) {
                uint32_t grain = Lcg(seed);
                src[size_t(y) * (w + pad) + x] = (grain & 0xFF000000u) | (((x + (grain & 3)) & 255) << 16) |
                                                 (((y * 2 + (grain >> 8 & 7)) & 255) << 8) | ((x * 3 + y + (grain >> 16 & 15)) & 255);
            }
        TransformParams p = Params(src, w, h, w + pad, dw, dh, dw + pad, m);
        for (uint32_t format = 10; format < 14; ++format) {
            p.format = format;
            ExpectPathsGivePlainBytes(p, false, std::to_string(c.degrees) + " degrees, format " + std::to_string(format));
        }
    }
}

// A picture squashed to a line has an inverse of enormous entries; with a
// shear, neighbouring target rows read source rows a vast distance apart,
// and nothing that looks ahead along the source may overflow.
TEST(TransformPixels, NearlySingularAndFlatMatricesKeepTheBytes)
{
    struct Case { int32_t w, h, dw; double shear, flat; };
    const Case cases[] = {{64, 8, 64, 0, 1e-17},     {64, 8, 64, 0, -1e-17},     {64, 8, 64, 0, 1e-30},
                          {40, 24, 48, 0.25, 1e-17}, {40, 24, 48, 0.25, 1e-150}, {40, 24, 48, 0.25, -1e-300}};
    for (const Case& c : cases) {
        std::vector<uint32_t> src = RandomArgb(size_t(c.w) * c.h, 12);
        const double m[6] = {1, 0, c.shear, c.flat, 0, 0.5};
        std::vector<uint32_t> plain =
            ExpectPathsGivePlainBytes(Params(src, c.w, c.h, c.w, c.dw, 2, c.dw, m), false, std::to_string(c.flat));
        EXPECT_GE(std::count_if(plain.begin(), plain.end(), [](uint32_t v) { return v != 0x5A5A5A5Au; }), 16)
            << c.flat << ": the row is drawn";
    }
    // The same through the command, where the box is made to fit.
    std::vector<uint32_t> src = RandomArgb(40 * 24, 12);
    BitMapHandle* picture = BitMapOf(src, 40, 24);
    for (double flat : {1e-17, -1e-150})
        for (double shear : {0.25, -0.25}) {
            const double m[4] = {1, 0, shear, flat};
            Result r;
            EXPECT_EQ(Transform(picture, nullptr, nullptr, m, 1, r), 0u) << flat << " " << shear;
        }
    FreeColorBitMap(picture);
}

TEST(TransformBitMap, RefusalsAndRandomMatrices)
{
    BitMapHandle* src = BitMapOf(RandomArgb(64, 3), 8, 8);
    const double nan = std::nan("");
    const double bad[][4] = {{0, 0, 0, 0}, {1, 2, 2, 4}, {nan, 0, 0, 1}, {1, 0, 0, INFINITY}};
    for (const auto& m : bad) {
        Result r;
        r.w = r.h = 5;
        EXPECT_EQ(Transform(src, nullptr, nullptr, m, 1, r), uint32_t{ERR_BADDIMENSIONS});
        EXPECT_TRUE(!r.bm && !r.mask && r.w == 0 && r.h == 0);
    }
    const double huge[4] = {1e6, 0, 0, 1e6};
    Result big;
    EXPECT_EQ(Transform(src, nullptr, nullptr, huge, 0, big), uint32_t{ERR_BITMAP});
    Result part;
    EXPECT_EQ(TransformBitMap(src, nullptr, nullptr, 4, 4, 5, 2, huge, 0, nullptr, &part.bm, nullptr, nullptr,
                              nullptr, nullptr),
              uint32_t{ERR_COORDSRANGE});
    FreeColorBitMap(src);
    // Any matrix, nearest or smooth, with or without alpha, is drawn or
    // refused: never a stray read or write (the sanitizer build watches).
    uint32_t seed = 77;
    for (int round = 0; round < 60; ++round) {
        double m[4];
        for (double& v : m) v = (static_cast<int32_t>(Lcg(seed) % 2001) - 1000) / 250.0;
        int32_t w = 1 + Lcg(seed) % 40, h = 1 + Lcg(seed) % 40;
        Owned own;
        BitMapHandle* s = own(BitMapOf(RandomArgb(size_t(w) * h, seed), w, h));
        BitMapHandle* a = own(AllocAlphaBitMap(w, h, 1, nullptr, 0));
        Result r;
        uint32_t error = TransformBitMap(s, nullptr, round % 2 ? a : nullptr, 0, 0, w, h, m, round % 3 == 0, nullptr,
                                         &r.bm, &r.mask, &r.alpha, &r.w, &r.h);
        EXPECT_TRUE(error == 0 || error == ERR_BADDIMENSIONS) << error;
    }
}

}  // namespace
