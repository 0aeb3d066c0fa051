// Effect front ends on real bitmaps, with ImageMagick as the peer for the exact effects.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <set>
#include <vector>

#include "core/io/error_codes.h"
#include "core/vm/error_hooks.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/bitmaps/pixel_formats.h"
#include "gfx/effects/distort.h"
#include "gfx/effects/effects.h"
#include "gfx/effects/filter_kernels.h"
#include "gfx/effects/ripple_swirl.h"
#include "gfx/picture_test_helpers.h"

namespace {

struct Picture {
    BitMapHandle* bitmap = nullptr;
    explicit Picture(const RgbPicture& p, uint32_t format = PIXFMT_ARGB) : bitmap(BitMapFromPicture(p, format)) {}
    ~Picture() { FreeColorBitMap(bitmap); }
    RgbPicture Read() const { return PictureFromBitMap(bitmap); }
};

using picture_test::AlphaAt;
using picture_test::MaskAt;
using picture_test::Owned;

using Effect = std::function<uint32_t(BitMapHandle*, int32_t w, int32_t h)>;

struct NamedEffect {
    const char* name;
    Effect run;
    bool unchanged = false;  // the picture must stay as it was
};

std::vector<NamedEffect> AllEffects()
{
    return {
        {"tint", [](BitMapHandle* b, int32_t w, int32_t h) { return TintBitMap(b, 0, 0, w, h, 0xFF0000, 100); }},
        {"gray", [](BitMapHandle* b, int32_t w, int32_t h) { return GrayBitMap(b, w, h, 0); }},
        {"monochrome", [](BitMapHandle* b, int32_t w, int32_t h) { return MonochromeBitMap(b, w, h, 0); }},
        {"monochrome dithered", [](BitMapHandle* b, int32_t w, int32_t h) { return MonochromeBitMap(b, w, h, 1); }},
        {"flip", [](BitMapHandle* b, int32_t w, int32_t h) { return FlipBitMap(b, nullptr, nullptr, w, h, 1); }},
        {"flop", [](BitMapHandle* b, int32_t w, int32_t h) { return FlipBitMap(b, nullptr, nullptr, w, h, 0); }},
        {"invert", [](BitMapHandle* b, int32_t w, int32_t h) { return InvertBitMap(b, w, h); }},
        {"replace", [](BitMapHandle* b, int32_t w, int32_t h) {
             uint32_t pairs[] = {0, 0xFFFFFF};
             return ReplaceColors(b, w, h, pairs, 1);
         }},
        {"blur", [](BitMapHandle* b, int32_t w, int32_t h) { return ConvolveBitMap(CONVOLVE_BLUR, b, nullptr, w, h, 3, 1); }},
        {"emboss", [](BitMapHandle* b, int32_t w, int32_t h) { return ConvolveBitMap(CONVOLVE_EMBOSS, b, nullptr, w, h, 1, 1); }},
        {"edge", [](BitMapHandle* b, int32_t w, int32_t h) { return ConvolveBitMap(CONVOLVE_EDGE, b, nullptr, w, h, 1, 1); }},
        {"sharpen", [](BitMapHandle* b, int32_t w, int32_t h) { return ConvolveBitMap(CONVOLVE_SHARPEN, b, nullptr, w, h, 1, 1); }},
        {"solarize", [](BitMapHandle* b, int32_t w, int32_t h) { return SolarizeBitMap(b, w, h, 100); }},
        {"gamma", [](BitMapHandle* b, int32_t w, int32_t h) { return GammaBitMap(b, w, h, 2, 0.5, 1); }},
        {"contrast", [](BitMapHandle* b, int32_t w, int32_t h) { return ContrastBitMap(b, w, h, 1, 3); }},
        {"modulate", [](BitMapHandle* b, int32_t w, int32_t h) { return ModulateBitMap(b, w, h, 1.2, 0.5, 1.5); }},
        {"normalize", [](BitMapHandle* b, int32_t w, int32_t h) { return NormalizeBitMap(b, w, h, 5, static_cast<uint32_t>(w * h - 5)); }},
        {"sepia", [](BitMapHandle* b, int32_t w, int32_t h) { return SepiaBitMap(b, w, h, 200); }},
        {"charcoal", [](BitMapHandle* b, int32_t w, int32_t h) { return CharcoalBitMap(b, nullptr, w, h, 1, 1); }},
        {"oil paint", [](BitMapHandle* b, int32_t w, int32_t h) { return OilPaintBitMap(b, w, h, 2); }},
        {"pixelate", [](BitMapHandle* b, int32_t w, int32_t h) { return PixelateBitMap(b, nullptr, nullptr, w, h, 4); }},
        {"ripple", [](BitMapHandle* b, int32_t w, int32_t h) { return WaterRippleBitMap(b, nullptr, nullptr, w, h, 8, 4, 1, 0.5, 0.5); }},
        {"swirl", [](BitMapHandle* b, int32_t w, int32_t h) { return SwirlBitMap(b, nullptr, nullptr, w, h, 90); }},
    };
}

// ASan guards the reads of the oversized rectangles.
TEST(Effects, OversizedRectanglesAreCutAndTwentyFourBitPicturesLeftAlone)
{
    RgbPicture in = TestPicture(29, 17, 3);
    in.argb[0] = 0;  // for the replacement
    picture_test::FormatScope scope;
    for (uint32_t format : {PIXFMT_ARGB, PIXFMT_BGRA, PIXFMT_RGB565, PIXFMT_BGR555, PIXFMT_RGB24, PIXFMT_BGR24}) {
        // New bitmaps (the pixelate copy) come in the platform's format, as
        // every bitmap of a run does.
        OsSetDisplayPixelFormat(format);
        bool packed = PixelFormatBytes(format) == 3;
        for (const NamedEffect& e : AllEffects()) {
            Picture p(in, format);
            ASSERT_NE(p.bitmap, nullptr);
            EXPECT_EQ(e.run(p.bitmap, 4000, 100000), 0u) << e.name;
            EXPECT_EQ(p.Read().argb == Quantised(in, format).argb, packed) << e.name << " format " << format;
        }
        if (packed) {
            Picture p(in, format);
            EXPECT_EQ(SetBitMapTransparency(p.bitmap, 29, 17, 0), nullptr);
        }
    }
}

// Script values at the ends of their types end, stay in the picture (ASan) and answer 0.
TEST(Effects, IdentityAndHostileParameters)
{
    const double inf = HUGE_VAL, nan = std::nan("");
    std::vector<NamedEffect> cases = {
        {"modulate 1,1,1", [](BitMapHandle* b, int32_t w, int32_t h) { return ModulateBitMap(b, w, h, 1, 1, 1); }, true},
        {"gamma 1,1,1", [](BitMapHandle* b, int32_t w, int32_t h) { return GammaBitMap(b, w, h, 1, 1, 1); }, true},
        {"contrast 0 steps", [](BitMapHandle* b, int32_t w, int32_t h) { return ContrastBitMap(b, w, h, 1, 0); }, true},
        {"tint level 0", [](BitMapHandle* b, int32_t w, int32_t h) { return TintBitMap(b, 0, 0, w, h, 0xFF00FF, 0); }, true},
        {"tint outside", [](BitMapHandle* b, int32_t w, int32_t h) { return TintBitMap(b, w, h, w, h, 0xFF00FF, 99); }, true},
        {"solarize 255", [](BitMapHandle* b, int32_t w, int32_t h) { return SolarizeBitMap(b, w, h, 999); }, true},
        {"oil paint 0", [](BitMapHandle* b, int32_t w, int32_t h) { return OilPaintBitMap(b, w, h, -2); }, true},
        {"ripple amplitude 0", [](BitMapHandle* b, int32_t w, int32_t h) { return WaterRippleBitMap(b, nullptr, nullptr, w, h, 5, 0, 3, 0.3, 0.7); }, true},
        {"ripple radius 0", [](BitMapHandle* b, int32_t w, int32_t h) { return WaterRippleBitMap(b, nullptr, nullptr, w, h, 5, 9, 3, -1, 0); }, true},
        {"empty rectangle", [](BitMapHandle* b, int32_t, int32_t) { return InvertBitMap(b, 0, -4); }, true},
        {"pixels of one colour", [](BitMapHandle* b, int32_t w, int32_t h) {
             uint32_t pairs[] = {0x123456, 0, 0x654321, 0};
             return ReplaceColors(b, w, h, pairs, 2);
         }, true},
        {"blur huge radius", [](BitMapHandle* b, int32_t w, int32_t h) { return ConvolveBitMap(CONVOLVE_BLUR, b, nullptr, w, h, 1e12, 1); }},
        {"blur nan", [=](BitMapHandle* b, int32_t w, int32_t h) { return ConvolveBitMap(CONVOLVE_BLUR, b, nullptr, w, h, nan, nan); }},
        {"blur inf strength", [=](BitMapHandle* b, int32_t w, int32_t h) { return ConvolveBitMap(CONVOLVE_BLUR, b, nullptr, w, h, 4, inf); }},
        {"sharpen inf", [=](BitMapHandle* b, int32_t w, int32_t h) { return ConvolveBitMap(CONVOLVE_SHARPEN, b, nullptr, w, h, 1, inf); }},
        {"unknown kind", [](BitMapHandle* b, int32_t w, int32_t h) { return ConvolveBitMap(7, b, nullptr, w, h, 1, 1); }},
        {"oil paint huge", [](BitMapHandle* b, int32_t w, int32_t h) { return OilPaintBitMap(b, w, h, 1e300); }},
        {"modulate inf", [=](BitMapHandle* b, int32_t w, int32_t h) { return ModulateBitMap(b, w, h, inf, nan, -inf); }},
        {"gamma nan", [=](BitMapHandle* b, int32_t w, int32_t h) { return GammaBitMap(b, w, h, nan, inf, 1e-300); }},
        {"solarize negative", [](BitMapHandle* b, int32_t w, int32_t h) { return SolarizeBitMap(b, w, h, INT32_MIN); }},
        {"sepia huge", [](BitMapHandle* b, int32_t w, int32_t h) { return SepiaBitMap(b, w, h, INT32_MAX); }},
        {"normalize huge counts", [](BitMapHandle* b, int32_t w, int32_t h) { return NormalizeBitMap(b, w, h, UINT32_MAX, UINT32_MAX); }},
        {"ripple extremes", [](BitMapHandle* b, int32_t w, int32_t h) { return WaterRippleBitMap(b, nullptr, nullptr, w, h, INT32_MIN, INT32_MAX, INT32_MIN, 0.5, 0.5); }},
        {"ripple nan centre", [=](BitMapHandle* b, int32_t w, int32_t h) { return WaterRippleBitMap(b, nullptr, nullptr, w, h, INT32_MAX, 5, INT32_MAX, nan, inf); }},
        {"swirl extremes", [](BitMapHandle* b, int32_t w, int32_t h) { return SwirlBitMap(b, nullptr, nullptr, w, h, INT32_MIN); }},
        {"tint extremes", [](BitMapHandle* b, int32_t, int32_t) { return TintBitMap(b, INT32_MIN, INT32_MAX, INT32_MAX, INT32_MAX, 0xFFFFFFFF, INT32_MAX); }},
        {"pixelate huge", [](BitMapHandle* b, int32_t w, int32_t h) { return PixelateBitMap(b, nullptr, nullptr, w, h, INT32_MAX); }},
        {"quantize negative", [](BitMapHandle* b, int32_t w, int32_t h) { return QuantizeBitMap(b, w, h, INT32_MIN, 1); }},
    };
    RgbPicture in = TestPicture(17, 13, 9);
    for (const NamedEffect& e : cases) {
        Picture p(in);
        EXPECT_EQ(e.run(p.bitmap, 17, 13), 0u) << e.name;
        if (e.unchanged) {
            EXPECT_EQ(p.Read().argb, in.argb) << e.name;
        }
    }
    Picture p(in);
    EXPECT_EQ(MakeShadowBitMap(nullptr, nullptr, 0, 0, 17, 13, 1e12, 1, 255, 0, 0), nullptr);
    EXPECT_EQ(MixBitMaps(p.bitmap, p.bitmap, nullptr, INT32_MIN, INT32_MAX, INT32_MAX, INT32_MIN, INT32_MAX, INT32_MAX, 7, nullptr, 0, 0), 0u);
    double huge[6] = {1e300, 0, 0, 0, 1e300, 0};
    BitMapHandle* out = nullptr;
    EXPECT_NE(DistortBitMap(p.bitmap, nullptr, nullptr, DISTORT_AFFINE, 6, 17, 13, huge, 0, &out, nullptr, nullptr, nullptr, nullptr), 0u);
    EXPECT_EQ(out, nullptr);
}

TEST(Effects, GammaTables)
{
    uint8_t t[256];
    for (double gamma : {2.0, 1.0, 0.5}) {
        BuildGammaTable(gamma, t);
        for (int i = 0; i < 256; ++i) ASSERT_NEAR(t[i], 255 * std::pow(i / 255.0, 1 / gamma), 0.5001) << gamma;
    }

    RgbPicture in = TestPicture(16, 9, 2);
    Picture p(in);
    ASSERT_EQ(GammaBitMap(p.bitmap, 16, 9, 1.0, 1.0, 2.0), 0u);
    RgbPicture out = p.Read();
    BuildGammaTable(2.0, t);
    for (size_t i = 0; i < in.argb.size(); ++i)
        ASSERT_EQ(out.argb[i], (in.argb[i] & 0xFFFF00) | t[in.argb[i] & 0xFF]) << i;
    // A gamma of 0 (or a negative one) blacks its channel out.
    Picture q(in);
    ASSERT_EQ(GammaBitMap(q.bitmap, 16, 9, -3.0, 1.0, 1.0), 0u);
    out = q.Read();
    for (size_t i = 0; i < in.argb.size(); ++i) ASSERT_EQ(out.argb[i], in.argb[i] & 0x00FFFF) << i;
}

TEST(Effects, ContrastStepsStopAtTheAbortFlag)
{
    RgbPicture in = TestPicture(16, 16);
    Picture p(in);
    VmAbortFlag = 1;
    EXPECT_EQ(ContrastBitMap(p.bitmap, 16, 16, 1, 1000000), static_cast<uint32_t>(ERR_USERABORT));
    VmAbortFlag = 0;
    EXPECT_EQ(p.Read().argb, in.argb);
    // A huge count is bounded (the test would not end otherwise).
    EXPECT_EQ(ContrastBitMap(p.bitmap, 16, 16, 1, 2000000000), 0u);
}

TEST(Effects, TransparencyMaskIgnoresTheAlphaByte)
{
    RgbPicture in{5, 2, {0x102030, 0x102031, 0x102030, 0, 0x102030, 1, 2, 0x102030, 3, 0x102030}};
    for (uint32_t format : {PIXFMT_ARGB, PIXFMT_BGRA, PIXFMT_RGBA, PIXFMT_ABGR}) {
        Picture p(in, format);
        // Give every pixel an alpha byte that must not matter.
        BitMapLock lock{};
        ASSERT_TRUE(LockBitMapPixels(p.bitmap, 0, &lock));
        for (int32_t i = 0; i < 10; ++i)
            reinterpret_cast<uint32_t*>(lock.pixels)[lock.rowLength * (i / 5) + i % 5] |=
                (format == PIXFMT_BGRA || format == PIXFMT_RGBA) ? 0x77u : 0x77000000u;
        UnlockBitMapPixels(&lock);
        Owned own;
        BitMapHandle* mask = own(SetBitMapTransparency(p.bitmap, 99, 99, 0xFF102030));
        ASSERT_NE(mask, nullptr);
        for (int32_t i = 0; i < 10; ++i)
            EXPECT_EQ(MaskAt(mask, i % 5, i / 5), in.argb[i] != 0x102030) << i << " format " << format;
    }
}

TEST(Effects, MixClampsPositionsAndLevel)
{
    RgbPicture a = TestPicture(12, 10, 1), b = TestPicture(12, 10, 2);
    struct Case {
        int32_t dx, dy, sx, sy, w, h, level;
    } cases[] = {{0, 0, 0, 0, 12, 10, 128}, {-3, 2, 1, -4, 50, 50, 999}, {5, 5, 0, 0, 20, 20, -7}, {11, 9, 11, 9, 1, 1, 255}};
    for (const Case& c : cases) {
        Picture dst(a), src(b);
        ASSERT_EQ(MixBitMaps(dst.bitmap, src.bitmap, nullptr, c.dx, c.dy, c.sx, c.sy, c.w, c.h, c.level, nullptr, 0, 0), 0u);
        RgbPicture out = dst.Read();
        int32_t level = c.level < 0 ? 0 : c.level > 255 ? 255 : c.level;
        for (int32_t y = 0; y < 10; ++y)
            for (int32_t x = 0; x < 12; ++x) {
                int32_t sx = x - c.dx + c.sx, sy = y - c.dy + c.sy;
                bool inside = x >= c.dx && y >= c.dy && x < c.dx + c.w && y < c.dy + c.h && sx >= 0 && sy >= 0 &&
                              sx < 12 && sy < 10;
                uint32_t d = a.argb[static_cast<size_t>(y) * 12 + x], expect = d;
                if (inside) {
                    uint32_t s = b.argb[static_cast<size_t>(sy) * 12 + sx];
                    expect = 0;
                    for (int k = 0; k < 24; k += 8) {
                        int32_t sc = (s >> k) & 0xFF, dc = (d >> k) & 0xFF;
                        expect |= static_cast<uint32_t>(sc + (((dc - sc) * (255 - level)) >> 8)) << k;
                    }
                }
                ASSERT_EQ(out.argb[static_cast<size_t>(y) * 12 + x], expect) << x << "," << y << " level " << c.level;
            }
    }
}

TEST(Effects, ShadowPlanes)
{
    Owned own;
    BitMapHandle* src = own(picture_test::AlphaOf(10, 6, [](int32_t x, int32_t y) { return x >= 2 && x < 8 && y >= 1 && y < 5 ? 30 : 0; }));
    struct Case { double radius; int hard; int32_t size; } cases[] = {{4, 0, 8}, {4, 1, 8}, {-6, 0, 0}, {0, 1, 0}};
    for (const Case& c : cases) {
        BitMapHandle* shadow = own(MakeShadowBitMap(src, nullptr, 0, 0, 10, 6, c.radius, c.radius / 3, 200, c.hard, !c.hard));
        ASSERT_NE(shadow, nullptr);
        EXPECT_EQ(shadow->width, 10 + c.size) << c.radius;
        EXPECT_EQ(shadow->height, 6 + c.size) << c.radius;
        EXPECT_GT(AlphaAt(shadow, c.size / 2 + 5, c.size / 2 + 3), 100) << c.radius;
        std::set<uint8_t> values;
        for (int32_t y = 0; y < shadow->height; ++y)
            for (int32_t x = 0; x < shadow->width; ++x) values.insert(AlphaAt(shadow, x, y));
        if (c.hard) {
            for (uint8_t v : values) EXPECT_TRUE(v == 0 || v == 255) << int(v);
        }
        if (c.size) {
            EXPECT_TRUE(values.count(0)) << c.radius;
        }
    }
    // Without planes the rectangle itself casts the shadow.
    BitMapHandle* plain = own(MakeShadowBitMap(nullptr, nullptr, 0, 0, 4, 4, 2, 1, 255, 0, 0));
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->width, 8);
    EXPECT_GT(AlphaAt(plain, 4, 4), 128);
    EXPECT_EQ(MakeShadowBitMap(nullptr, nullptr, 0, 0, 0, 4, 2, 1, 255, 0, 0), nullptr);
}

// The palette itself is the quantiser's tests' business.
TEST(Effects, DitheredMonochromeKeepsTheBrightness)
{
    RgbPicture in = TestPicture(40, 30, 8);
    for (uint32_t format : {PIXFMT_ARGB, PIXFMT_RGB565, PIXFMT_ABGR}) {
        Picture m(in, format);
        ASSERT_EQ(MonochromeBitMap(m.bitmap, 40, 30, 1), 0u);
        RgbPicture out = m.Read();
        uint32_t white = Quantised(RgbPicture{1, 1, {0xFFFFFF}}, format).argb[0];
        double inLuma = 0, outLuma = 0;
        for (size_t i = 0; i < out.argb.size(); ++i) {
            ASSERT_TRUE(out.argb[i] == 0 || out.argb[i] == white) << i;
            inLuma += ((in.argb[i] >> 16) * 299 + ((in.argb[i] >> 8) & 0xFF) * 587 + (in.argb[i] & 0xFF) * 114) / 1000.0;
            outLuma += out.argb[i] ? 255 : 0;
        }
        EXPECT_NEAR(outLuma / out.argb.size(), inLuma / in.argb.size(), 40) << format;
    }
}

TEST(Effects, NextToImageMagick)
{
    QM_SKIP_WITHOUT(HaveConvert()) << "no /usr/bin/convert";
    RgbPicture in = TestPicture(80, 60, 11);
    struct Case { const char* name; Effect run; std::string arguments; double meanBound; uint32_t maxBound; };
    const Case cases[] = {
        // Negate, flips, grayscale and one contrast step are held to the
        // peer through the brush commands by the applet tests of SaveBrush.
        // The histogram stretch works on each channel alone.
        {"normalize", [](BitMapHandle* b, int32_t w, int32_t h) {
             return NormalizeBitMap(b, w, h, static_cast<uint32_t>(w * h * 0.02), static_cast<uint32_t>(w * h * 0.99));
         }, "-channel RGB -contrast-stretch 2%x1%", 0.6, 1},
        {"contrast-", [](BitMapHandle* b, int32_t w, int32_t h) { return ContrastBitMap(b, w, h, 0, 2); }, "+contrast +contrast", 0.8, 2},
    };
    for (const Case& c : cases) {
        RgbPicture peer;
        ASSERT_TRUE(RunConvert(in, c.arguments, &peer)) << c.name;
        Picture p(in);
        ASSERT_EQ(c.run(p.bitmap, 80, 60), 0u);
        ExpectNearPeer(c.name, p.Read(), peer, c.meanBound, c.maxBound);
    }
}

// The peer's sepia tone ends with a stretch of its own (all channels
// together, other cut-offs): the toning itself is compared through it, and
// the stretch and contrast steps of the chain above.
TEST(Effects, SepiaToneNextToImageMagick)
{
    QM_SKIP_WITHOUT(HaveConvert()) << "no /usr/bin/convert";
    RgbPicture in = TestPicture(80, 60, 12);
    Picture p(in);
    BitMapLock lock{};
    ASSERT_TRUE(LockBitMapPixels(p.bitmap, 0, &lock));
    SepiaPixels32(reinterpret_cast<uint32_t*>(lock.pixels), 80, 60, lock.rowLength, lock.format, 204);
    UnlockBitMapPixels(&lock);
    RgbPicture toned = p.Read(), peer, finished;
    ASSERT_TRUE(RunConvert(in, "-sepia-tone 80%", &peer));
    ASSERT_TRUE(RunConvert(toned, "-normalize -contrast", &finished));
    ExpectNearPeer("sepia", finished, peer, 0.5, 1);
    // The whole chain: sepia, then the stretch and one contrast step.
    Picture chain(in);
    ASSERT_EQ(SepiaBitMap(chain.bitmap, 80, 60, 204), 0u);
    ASSERT_TRUE(RunConvert(toned, "-channel RGB -contrast-stretch 2%x1% +channel -contrast", &finished));
    EXPECT_LE(MeanChannelError(chain.Read(), finished), 0.8);
}

}  // namespace
