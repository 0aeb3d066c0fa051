// Scaling and copying against models of their arithmetic, and ImageMagick's triangle filter.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "core/io/error_codes.h"
#include "gfx/bitmaps/copy_bitmap.h"
#include "gfx/bitmaps/pixel_rgb.h"
#include "gfx/effects/scale.h"
#include "gfx/picture_test_helpers.h"

namespace {

using namespace picture_test;

// The source column of each destination column, and the source row of each
// destination row, of nearest scaling, as the model sees it.
std::vector<int64_t> NearestColumns(int32_t srcW, int32_t dstW)
{
    float sx = static_cast<float>(static_cast<double>(srcW) / dstW);
    int64_t step = static_cast<int64_t>(static_cast<double>(sx) * 65536.0);
    std::vector<int64_t> cols;
    for (int64_t i = 0; i < dstW; ++i) cols.push_back((i * step) >> 16);
    return cols;
}

std::vector<int32_t> NearestRows(int32_t srcH, int32_t dstH, bool clamp = true)
{
    float sy = static_cast<float>(static_cast<double>(srcH) / dstH);
    float y = 0.0f;
    std::vector<int32_t> rows;
    for (int32_t j = 0; j < dstH; ++j) {
        int32_t r = static_cast<int32_t>(y);
        rows.push_back(clamp ? std::min(r, srcH - 1) : r);
        y = y + sy;
    }
    return rows;
}

// Smooth scaling, pixel by pixel, in the channel layout of each format.
struct Channels { int32_t c[3]; };

Channels ModelUnpack(uint32_t p, uint32_t f)
{
    if (f == 2 || f == 3 || f == 6 || f == 7) {
        p = ((p & 0xFF) << 8) | (p >> 8);
        f -= 2;
    }
    uint32_t r, g, b;
    if (f <= 1) {
        uint32_t hi = (p >> 10) & 31, mid = (p >> 5) & 31, lo = p & 31;
        r = (f == 0 ? hi : lo) << 3, g = mid << 3, b = (f == 0 ? lo : hi) << 3;
    } else if (f <= 5) {
        uint32_t hi = (p >> 11) & 31, mid = (p >> 5) & 63, lo = p & 31;
        r = (f == 4 ? hi : lo) << 3, g = mid << 2, b = (f == 4 ? lo : hi) << 3;
    } else {
        int rs = f == 11 ? 8 : f == 12 ? 24 : f == 13 ? 0 : 16;
        int bs = f == 11 ? 24 : f == 12 ? 8 : f == 13 ? 16 : 0;
        r = (p >> rs) & 255, g = (p >> (f == 10 || f == 13 ? 8 : 16)) & 255, b = (p >> bs) & 255;
    }
    return {{static_cast<int32_t>(r), static_cast<int32_t>(g), static_cast<int32_t>(b)}};
}

int32_t ModelLerp(int32_t a, int32_t b, int64_t f) { return a + static_cast<int32_t>(((b - a) * f) >> 16); }

// Source pixels (values in the format) scaled to dstW x dstH; colours come
// back as channels so that any format compares.
std::vector<Channels> ModelSmooth(const std::vector<uint32_t>& src, int32_t sw, int32_t sh,
                                  int32_t dw, int32_t dh, uint32_t f)
{
    int64_t xs = static_cast<int64_t>(static_cast<double>((int64_t{sw} << 16) - 65536) / dw);
    int64_t ys = static_cast<int64_t>(static_cast<double>((int64_t{sh} << 16) - 65536) / dh);
    std::vector<Channels> out;
    for (int32_t j = 0; j < dh; ++j) {
        int64_t py = j * ys;
        int32_t r0 = static_cast<int32_t>(py >> 16), r1 = std::min(r0 + 1, sh - 1);
        for (int32_t i = 0; i < dw; ++i) {
            int64_t px = i * xs;
            int32_t c0 = static_cast<int32_t>(px >> 16), c1 = std::min(c0 + 1, sw - 1);
            Channels tl = ModelUnpack(src[size_t(r0) * sw + c0], f), tr = ModelUnpack(src[size_t(r0) * sw + c1], f);
            Channels bl = ModelUnpack(src[size_t(r1) * sw + c0], f), br = ModelUnpack(src[size_t(r1) * sw + c1], f);
            Channels o{};
            for (int k = 0; k < 3; ++k)
                o.c[k] = ModelLerp(ModelLerp(tl.c[k], tr.c[k], px & 0xFFFF), ModelLerp(bl.c[k], br.c[k], px & 0xFFFF),
                                   py & 0xFFFF);
            out.push_back(o);
        }
    }
    return out;
}

// A raw kernel run over pixel values of the given format.
struct RawScale {
    std::vector<uint8_t> src, dst;
    ScaleParams p{};
};

void RunRaw(RawScale& s, const std::vector<uint32_t>& values, int32_t sw, int32_t sh, int32_t dw,
            int32_t dh, uint32_t format, bool smooth, bool reference = false)
{
    uint32_t bpp = PixelFormatBytes(format);
    s.src.assign(values.size() * bpp, 0);
    for (size_t i = 0; i < values.size(); ++i) StorePixelValue(&s.src[i * bpp], bpp, values[i]);
    s.dst.assign(static_cast<size_t>(dw) * dh * bpp, 0xEE);
    ASSERT_EQ(EnsureScaleTables(dw, dh, &EffectScaleTables), 0u);
    s.p = ScaleParams{};
    s.p.srcPixels = s.src.data();
    s.p.dstPixels = s.dst.data();
    s.p.srcW = sw, s.p.srcH = sh, s.p.dstW = dw, s.p.dstH = dh;
    s.p.srcRowLength = sw, s.p.dstRowLength = dw;
    s.p.smooth = smooth, s.p.format = format, s.p.bytesPerPixel = bpp;
    UseScaleTables(&s.p, &EffectScaleTables);
    if (reference) ScalePixelsReference(&s.p);
    else ScalePixels(&s.p);
}

uint32_t RawAt(const RawScale& s, size_t i) { return LoadPixelValue(&s.dst[i * s.p.bytesPerPixel], s.p.bytesPerPixel); }

TEST(ScalePixels, NearestFollowsTheStepsAndStaysInsideTheSource)
{
    struct Case {
        int32_t sw, sh, dw, dh;
    } cases[] = {{1, 3000, 1, 9520}, {40000, 1, 50000, 1}, {50000, 1, 33000, 1}, {7, 5, 23, 2}, {640, 3, 17, 9}};
    // The float row accumulator really does overshoot here: the clamp matters.
    std::vector<int32_t> raw = NearestRows(3000, 9520, false);
    EXPECT_GE(*std::max_element(raw.begin(), raw.end()), 3000);
    for (const Case& c : cases) {
        std::vector<uint32_t> src(static_cast<size_t>(c.sw) * c.sh);
        for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint32_t>(i * 2654435761u);
        for (uint32_t format : {PIXFMT_ARGB, PIXFMT_RGB565, PIXFMT_RGB24}) {
            RawScale s;
            RunRaw(s, src, c.sw, c.sh, c.dw, c.dh, format, false);
            std::vector<int64_t> cols = NearestColumns(c.sw, c.dw);
            std::vector<int32_t> rows = NearestRows(c.sh, c.dh);
            uint32_t keep = format == PIXFMT_ARGB ? 0xFFFFFFFF : format == PIXFMT_RGB24 ? 0xFFFFFF : 0xFFFF;
            for (int32_t j = 0; j < c.dh; ++j)
                for (int32_t i = 0; i < c.dw; ++i) {
                    ASSERT_LT(cols[i], c.sw);
                    ASSERT_EQ(RawAt(s, size_t(j) * c.dw + i), src[size_t(rows[j]) * c.sw + cols[i]] & keep)
                        << c.sw << "x" << c.sh << " -> " << c.dw << "x" << c.dh << " at " << i << "," << j;
                }
        }
    }
}

TEST(ScalePixels, SmoothMatchesTheModelInEveryFormat)
{
    struct Case { int32_t sw, sh, dw, dh; };
    // The last case reaches wide positions.
    const Case cases[] = {{10, 7, 23, 19}, {23, 19, 10, 7}, {1, 1, 5, 4}, {1, 9, 6, 3},
                          {9, 1, 4, 6},    {2, 2, 64, 64},  {300, 4, 7, 9}, {40000, 1, 3, 1}};
    for (const Case& c : cases)
        for (uint32_t format = 0; format < PIXFMT_COUNT; ++format) {
            std::vector<uint32_t> src = RandomArgb(static_cast<size_t>(c.sw) * c.sh, format + 7);
            uint32_t bpp = PixelFormatBytes(format);
            for (auto& v : src) v &= bpp == 2 ? 0xFFFF : bpp == 3 ? 0xFFFFFF : 0xFFFFFFFF;
            RawScale s;
            RunRaw(s, src, c.sw, c.sh, c.dw, c.dh, format, true);
            // 24-bit pixels interpolate their three bytes as 32-bit ones do.
            uint32_t as = bpp == 3 ? PIXFMT_ARGB : format;
            std::vector<Channels> expect = ModelSmooth(src, c.sw, c.sh, c.dw, c.dh, as);
            for (size_t i = 0; i < expect.size(); ++i) {
                Channels got = ModelUnpack(RawAt(s, i), as);
                for (int k = 0; k < 3; ++k)
                    ASSERT_EQ(got.c[k], expect[i].c[k] & (bpp == 2 ? (k == 1 && format >= 4 ? 0xFC : 0xF8) : 0xFF))
                        << "format " << format << " pixel " << i << " channel " << k;
                if (bpp == 4) {
                    uint32_t alphaBits = format == 11 || format == 12 ? 0xFF : 0xFF000000;
                    ASSERT_EQ(RawAt(s, i) & alphaBits, 0u) << format;
                }
            }
            Channels first = ModelUnpack(RawAt(s, 0), as), origin = ModelUnpack(src[0], as);
            for (int k = 0; k < 3; ++k) EXPECT_EQ(first.c[k], origin.c[k]);
        }
}

TEST(ScalePixels, VectorisedSmoothGivesTheBytesOfThePlainKernel)
{
    uint32_t seed = 99;
    for (int round = 0; round < 40; ++round) {
        int32_t sw = 1 + Lcg(seed) % 97, sh = 1 + Lcg(seed) % 61;
        int32_t dw = 1 + Lcg(seed) % 150, dh = 1 + Lcg(seed) % 90;
        uint32_t format = 10 + Lcg(seed) % 4;
        std::vector<uint32_t> src = RandomArgb(static_cast<size_t>(sw) * sh, seed);
        RawScale plain;
        RunRaw(plain, src, sw, sh, dw, dh, format, true, true);
        for (uint32_t path : {SCALEPATH_SSE2, SCALEPATH_AVX2}) {
            uint32_t before = SelectScalePath(path);
            RawScale fast;
            RunRaw(fast, src, sw, sh, dw, dh, format, true);
            SelectScalePath(before);
            ASSERT_EQ(fast.dst, plain.dst) << sw << "x" << sh << " -> " << dw << "x" << dh << " path " << path;
        }
    }
}

// ---------------------------------------------------------------------------
// Front ends

TEST(ScaleBitMap, HandlesAndPlanesAsAsked)
{
    Owned own;
    BitMapHandle* src = own(BitMapOf(RandomArgb(12 * 8, 3), 12, 8));
    BitMapHandle* mask = own(Mask(src, 12, 8, [](int32_t x, int32_t y) { return (x + y) % 3 != 0; }));
    BitMapHandle* alpha = own(AlphaOf(12, 8, [](int32_t x, int32_t y) { return x * 20 + y; }));
    struct Case { int smooth; bool withMask, withAlpha, wantMask, wantAlpha; };
    const Case cases[] = {{0, true, true, true, true}, {1, true, true, true, false}, {1, false, true, false, true},
                          {0, true, false, true, false}};
    for (const Case& c : cases) {
        BitMapHandle *bm = nullptr, *m = nullptr, *a = nullptr;
        ASSERT_EQ(ScaleBitMap(src, c.withMask ? mask : nullptr, c.withAlpha ? alpha : nullptr, 2, 1,
                              nullptr, 9, 6, 20, 13, c.smooth, nullptr, &bm, &m, &a),
                  0u);
        Owned out;
        out(bm), out(m), out(a);
        ASSERT_NE(bm, nullptr);
        EXPECT_EQ(bm->width, 20);
        EXPECT_EQ(m != nullptr, c.wantMask) << c.smooth;
        EXPECT_EQ(a != nullptr, c.wantAlpha) << c.smooth;
        if (m) {
            // Mask bits are nearest, at the scaler's own positions.
            std::vector<int64_t> cols = NearestColumns(9, 20);
            std::vector<int32_t> rows = NearestRows(6, 13);
            int64_t xs = ((9 << 16) - 65536) / 20, ys = ((6 << 16) - 65536) / 13;
            for (int32_t j = 0; j < 13; ++j)
                for (int32_t i = 0; i < 20; ++i) {
                    int32_t sx = c.smooth ? static_cast<int32_t>((i * xs) >> 16) : static_cast<int32_t>(cols[i]);
                    int32_t sy = c.smooth ? static_cast<int32_t>((j * ys) >> 16) : rows[j];
                    ASSERT_EQ(MaskAt(m, i, j), MaskAt(mask, 2 + sx, 1 + sy)) << i << "," << j;
                }
        }
        if (a && !c.smooth) {
            EXPECT_EQ(AlphaAt(a, 19, 12), AlphaAt(alpha, 2 + NearestColumns(9, 20)[19], 1 + NearestRows(6, 13)[12]));
        }
        if (a && c.smooth) {
            EXPECT_EQ(AlphaAt(a, 0, 0), AlphaAt(alpha, 2, 1));
        }
    }
}

TEST(ScaleBitMap, RefusalsClearTheOutputsAndMakeNothing)
{
    Owned own;
    BitMapHandle* src = own(BitMapOf(RandomArgb(16, 1), 4, 4));
    BitMapHandle* small = own(AllocColorBitMap(2, 2, 0, nullptr));
    struct Case {
        int32_t sx, sy, sw, sh, dw, dh;
        BitMapHandle* dest;
        uint32_t error;
    } cases[] = {{0, 0, 4, 4, 0, 5, nullptr, 0},           {0, 0, 4, 4, 5, -1, nullptr, 0},
                 {1, 0, 4, 4, 5, 5, nullptr, ERR_COORDSRANGE}, {0, 0, 0, 4, 5, 5, nullptr, ERR_COORDSRANGE},
                 {-1, 0, 2, 2, 5, 5, nullptr, ERR_COORDSRANGE}, {0, 3, 4, 2, 5, 5, nullptr, ERR_COORDSRANGE},
                 {0, 0, 4, 4, 3, 3, small, ERR_COORDSRANGE},   {INT32_MAX, 0, 4, 4, 5, 5, nullptr, ERR_COORDSRANGE}};
    for (const Case& c : cases) {
        BitMapHandle* junk = reinterpret_cast<BitMapHandle*>(0x1);
        BitMapHandle *bm = junk, *m = junk, *a = junk;
        EXPECT_EQ(ScaleBitMap(src, nullptr, nullptr, c.sx, c.sy, c.dest, c.sw, c.sh, c.dw, c.dh, 1, nullptr,
                              &bm, &m, &a),
                  c.error);
        EXPECT_TRUE(bm == nullptr && m == nullptr && a == nullptr);
    }
}

TEST(ScaleBitMap, IntoAnExistingBitMapAndMaskOnly)
{
    std::vector<uint32_t> pix = RandomArgb(6 * 6, 5);
    Owned own;
    BitMapHandle* src = own(BitMapOf(pix, 6, 6));
    BitMapHandle* dest = own(BitMapOf(std::vector<uint32_t>(10 * 10, 0x123456), 10, 10));
    BitMapHandle* out = nullptr;
    ASSERT_EQ(ScaleBitMap(src, nullptr, nullptr, 0, 0, dest, 6, 6, 3, 3, 0, nullptr, &out, nullptr, nullptr), 0u);
    EXPECT_EQ(out, nullptr);
    std::vector<uint32_t> got = ArgbOf(dest);
    EXPECT_EQ(got[0], pix[0]);
    EXPECT_EQ(got[1], pix[2]);
    EXPECT_EQ(got[3], 0x123456u);  // outside the 3 x 3 nothing changes

    BitMapHandle* mask = own(AllocMaskBitMap(nullptr, 6, 6, 1, nullptr, 0));
    SetMaskAt(mask, 5, 5, true);
    BitMapHandle *bm = nullptr, *m = nullptr;
    ASSERT_EQ(ScaleBitMap(nullptr, mask, nullptr, 0, 0, nullptr, 6, 6, 12, 12, 1, nullptr, &bm, &m, nullptr), 0u);
    EXPECT_EQ(bm, nullptr);
    ASSERT_NE(own(m), nullptr);
    EXPECT_TRUE(MaskAt(m, 11, 11) && MaskAt(m, 10, 10) && !MaskAt(m, 9, 9));
}

// Long thin pictures up to 4096 on a side come out at the size asked, with
// their alpha plane, as the step tables grow with them.
TEST(ScaleBitMap, RandomSizesUpTo4096)
{
    uint32_t seed = 4096;
    for (int round = 0; round < 12; ++round) {
        bool wide = round % 2 == 0;
        int32_t longSide = 1 + Lcg(seed) % 4096, shortSide = 1 + Lcg(seed) % 6;
        int32_t sw = wide ? longSide : shortSide, sh = wide ? shortSide : longSide;
        int32_t dLong = 1 + Lcg(seed) % 4096, dShort = 1 + Lcg(seed) % 6;
        int32_t dw = wide ? dShort : dLong, dh = wide ? dLong : dShort;
        Owned own;
        BitMapHandle* src = own(BitMapOf(RandomArgb(size_t(sw) * sh, seed), sw, sh));
        BitMapHandle* alpha = own(AllocAlphaBitMap(sw, sh, 1, nullptr, 0));
        for (int smooth = 0; smooth < 2; ++smooth) {
            BitMapHandle *bm = nullptr, *a = nullptr;
            ASSERT_EQ(ScaleBitMap(src, nullptr, alpha, 0, 0, nullptr, sw, sh, dw, dh, smooth, nullptr, &bm, nullptr, &a), 0u);
            EXPECT_EQ(own(bm)->width, dw);
            EXPECT_EQ(own(a)->height, dh);
        }
    }
}

TEST(ScaleBitMap, SmoothIsCloseToImageMagicksTriangleFilter)
{
    QM_SKIP_WITHOUT(HaveConvert()) << "no ImageMagick";
    // Enlarging is held to 36 dB through ScaleBrush by the applet tests of
    // SaveBrush. ImageMagick widens its triangle when it shrinks, where ours
    // stays a point sample between four pixels: shrinking is held to less.
    std::vector<uint32_t> pix = SmoothArgb(200, 150);
    Owned own;
    BitMapHandle* src = own(BitMapOf(pix, 200, 150));
    BitMapHandle* bm = nullptr;
    ASSERT_EQ(ScaleBitMap(src, nullptr, nullptr, 0, 0, nullptr, 200, 150, 90, 70, 1, nullptr, &bm, nullptr, nullptr), 0u);
    RgbPicture peer;
    ASSERT_TRUE(RunConvert(RgbPicture{200, 150, pix}, "-filter Triangle -resize 90x70!", &peer));
    ASSERT_EQ(peer.argb.size(), 90u * 70u);
    EXPECT_GT(Psnr(ArgbOf(own(bm)), peer.argb), 28.0);
}

TEST(CopyBitMap, CopiesTheRectangleWithItsPlanes)
{
    std::vector<uint32_t> pix = RandomArgb(9 * 7, 11);
    Owned own;
    BitMapHandle* src = own(BitMapOf(pix, 9, 7));
    BitMapHandle* mask = own(Mask(src, 9, 7, [](int32_t x, int32_t y) { return (x * y) % 2 == 1; }));
    BitMapHandle* alpha = own(AlphaOf(9, 7, [](int32_t x, int32_t y) { return x + 16 * y; }));
    BitMapHandle *bm = nullptr, *m = nullptr, *a = nullptr;
    ASSERT_EQ(CopyBitMap(src, mask, alpha, 3, 2, 5, 4, 0, nullptr, nullptr, &bm, &m, &a), 0u);
    own(bm), own(m), own(a);
    std::vector<uint32_t> got = ArgbOf(bm);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 5; ++x) {
            EXPECT_EQ(got[size_t(y) * 5 + x], pix[size_t(y + 2) * 9 + x + 3]);
            EXPECT_EQ(MaskAt(m, x, y), MaskAt(mask, x + 3, y + 2));
            EXPECT_EQ(AlphaAt(a, x, y), AlphaAt(alpha, x + 3, y + 2));
        }
    // Only planes without a colour source; nothing for a rectangle off the source.
    ASSERT_EQ(CopyBitMap(nullptr, mask, nullptr, 0, 0, 9, 7, 0, nullptr, nullptr, &bm, &m, nullptr), 0u);
    EXPECT_EQ(bm, nullptr);
    EXPECT_NE(own(m), nullptr);
    EXPECT_EQ(CopyBitMap(src, nullptr, nullptr, 5, 0, 5, 4, 0, nullptr, nullptr, &bm, nullptr, nullptr), uint32_t{ERR_COORDSRANGE});
    EXPECT_EQ(bm, nullptr);
}

}  // namespace
