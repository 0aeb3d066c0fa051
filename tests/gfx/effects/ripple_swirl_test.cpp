// Water ripple and swirl against an independent model of their geometry.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "gfx/bitmaps/bitmap.h"
#include "gfx/bitmaps/pixel_formats.h"
#include "gfx/effects/ripple_swirl.h"
#include "gfx/picture_test_helpers.h"

namespace {

using picture_test::Owned;

// Every pixel its own colour, so a result names the source of each pixel.
RgbPicture Indexed(int32_t w, int32_t h)
{
    RgbPicture p{w, h, {}};
    for (int32_t i = 0; i < w * h; ++i) p.argb.push_back(static_cast<uint32_t>(i) * 0x40 + 0x10000);
    return p;
}

// The angle after k steps of a thousandth, summed as the table is.
double StepAngle(int32_t k)
{
    double arg = 0;
    for (int32_t i = 0; i < k; ++i) arg += 0.001;
    return arg;
}

int32_t Cut(double v, int32_t hi) { return v < 0 ? 0 : v > hi ? hi : static_cast<int32_t>(v); }

// The ripple's source pixel for (x, y), written from the formulas.
void RippleModel(int32_t w, int32_t h, double wavelength, double amplitude, double phase, double fx, double fy,
                 int32_t x, int32_t y, int32_t* sx, int32_t* sy)
{
    int32_t cx = static_cast<int32_t>(w * fx), cy = static_cast<int32_t>(h * fy);
    double r = cx > cy ? cx : cy;
    int32_t dx = x - cx, dy = y - cy;
    auto d = static_cast<int32_t>(std::floor(std::sqrt(static_cast<double>(dx * dx + dy * dy))));
    double t = d / wavelength * 6.28318530717959 - phase;
    t -= std::floor(t / 6.28318530717959) * 6.28318530717959;
    double s = std::sin(StepAngle(static_cast<int32_t>(t / 0.001))) * amplitude;
    double k = s * (r - d) / r;
    if (d) k = k * wavelength / d;
    *sx = Cut(dx * k + x, w - 1);
    *sy = Cut(k * dy + y, h - 1);
}

void SwirlModel(int32_t w, int32_t h, int32_t degrees, int32_t x, int32_t y, int32_t* sx, int32_t* sy)
{
    double cx = w / 2.0, cy = h / 2.0, r = std::fmax(cx, cy);
    double kx = w > h ? 1.0 : static_cast<double>(h) / w, ky = w > h ? static_cast<double>(w) / h : 1.0;
    double dx = (x - cx) * kx, dy = (y - cy) * ky;
    *sx = x;
    *sy = y;
    if (dx * dx + dy * dy >= r * r) return;
    double d = std::floor(std::sqrt(std::floor(dx * dx + dy * dy)));
    double theta = degrees * M_PI / 180 * (1 - d / r) * (1 - d / r);
    double angle = degrees < 0 ? theta : StepAngle(static_cast<int32_t>(theta / 0.001));
    double sn = std::sin(angle), cs = std::cos(angle);
    *sx = Cut((cs * dx - sn * dy) / kx + cx, w - 1);
    *sy = Cut((sn * dx + cs * dy) / ky + cy, h - 1);
}

// Runs the effect on an indexed w x h picture and holds every pixel to the
// source pixel that the model names; the picture it made.
template <typename Run, typename Model>
RgbPicture ExpectGeometry(int32_t w, int32_t h, Run run, Model model, const char* what)
{
    RgbPicture in = Indexed(w, h);
    Owned own;
    BitMapHandle* bm = own(BitMapFromPicture(in, PIXFMT_ARGB));
    EXPECT_EQ(run(bm), 0u) << what;
    RgbPicture out = PictureFromBitMap(bm);
    int32_t wrong = 0;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            int32_t sx, sy;
            model(x, y, &sx, &sy);
            if (out.argb[static_cast<size_t>(y) * w + x] != in.argb[static_cast<size_t>(sy) * w + sx] && wrong++ < 5)
                ADD_FAILURE() << what << ": pixel " << x << "," << y << " expected from " << sx << "," << sy;
        }
    EXPECT_EQ(wrong, 0) << what;
    return out;
}

TEST(RippleSwirl, RippleMatchesTheModel)
{
    struct Case { int32_t w, h, wavelength, amplitude, phase; double fx, fy; };
    const Case cases[] = {{40, 30, 8, 5, 0, 0.5, 0.5}, {33, 47, 5, 12, 3, 0.2, 0.9}, {50, 20, 1, 3, -7, 1.0, 0.0},
                          {24, 24, 6, 4, 2000000000, 0.5, 0.25}, {31, 17, 0, 6, 1, 2.0, -3.0}};
    for (const Case& c : cases) {
        double fx = c.fx < 0 ? 0 : c.fx > 1 ? 1 : c.fx, fy = c.fy < 0 ? 0 : c.fy > 1 ? 1 : c.fy;
        double wl = c.wavelength < 1 ? 1 : c.wavelength;
        RgbPicture out = ExpectGeometry(
            c.w, c.h,
            [&](BitMapHandle* bm) {
                return WaterRippleBitMap(bm, nullptr, nullptr, c.w, c.h, c.wavelength, c.amplitude, c.phase, c.fx, c.fy);
            },
            [&](int32_t x, int32_t y, int32_t* sx, int32_t* sy) {
                RippleModel(c.w, c.h, wl, c.amplitude, c.phase, fx, fy, x, y, sx, sy);
            },
            "ripple");
        // The centre is a fixed point.
        size_t centre = static_cast<size_t>(c.h * fy) * c.w + static_cast<size_t>(c.w * fx);
        if (c.w * fx < c.w && c.h * fy < c.h) {
            EXPECT_EQ(out.argb[centre], Indexed(c.w, c.h).argb[centre]);
        }
    }
}

TEST(RippleSwirl, SwirlMatchesTheModel)
{
    struct Case {
        int32_t w, h, degrees, effective;
    } cases[] = {{32, 32, 90, 90}, {40, 24, 200, 200}, {21, 35, -120, -120}, {30, 30, 400, 359}, {30, 30, -400, -359}};
    for (const Case& c : cases)
        ExpectGeometry(
            c.w, c.h, [&](BitMapHandle* bm) { return SwirlBitMap(bm, nullptr, nullptr, c.w, c.h, c.degrees); },
            [&](int32_t x, int32_t y, int32_t* sx, int32_t* sy) { SwirlModel(c.w, c.h, c.effective, x, y, sx, sy); },
            "swirl");
    RgbPicture in = Indexed(27, 27);
    Owned own;
    BitMapHandle* bm = own(BitMapFromPicture(in, PIXFMT_RGB565));
    ASSERT_EQ(SwirlBitMap(bm, nullptr, nullptr, 27, 27, 0), 0u);
    EXPECT_EQ(PictureFromBitMap(bm).argb, Quantised(in, PIXFMT_RGB565).argb);
}

TEST(RippleSwirl, SixteenBitKernelsShareTheGeometry)
{
    RgbPicture in = Quantised(TestPicture(36, 28, 2), PIXFMT_BGR565);
    for (int effect = 0; effect < 2; ++effect) {
        Owned own;
        BitMapHandle* a = own(BitMapFromPicture(in, PIXFMT_ARGB));
        BitMapHandle* b = own(BitMapFromPicture(in, PIXFMT_BGR565));
        for (BitMapHandle* bm : {a, b})
            effect ? SwirlBitMap(bm, nullptr, nullptr, 36, 28, 150)
                   : WaterRippleBitMap(bm, nullptr, nullptr, 36, 28, 7, 6, 1, 0.4, 0.6);
        EXPECT_EQ(PictureFromBitMap(a).argb, PictureFromBitMap(b).argb) << effect;
        EXPECT_NE(PictureFromBitMap(a).argb, in.argb) << effect;
    }
}

TEST(RippleSwirl, PlanesMoveWithThePixels)
{
    RgbPicture in = Indexed(24, 20);
    Owned own;
    BitMapHandle* bm = own(BitMapFromPicture(in, PIXFMT_ARGB));
    BitMapHandle* mask = own(picture_test::Mask(bm, 24, 20, [](int32_t x, int32_t y) { return (y * 24 + x) % 2 == 1; }));
    ASSERT_EQ(SwirlBitMap(bm, mask, nullptr, 24, 20, 180), 0u);
    RgbPicture out = PictureFromBitMap(bm);
    for (int32_t y = 0; y < 20; ++y)
        for (int32_t x = 0; x < 24; ++x) {
            uint32_t source = (out.argb[static_cast<size_t>(y) * 24 + x] - 0x10000) / 0x40;
            ASSERT_EQ(picture_test::MaskAt(mask, x, y), (source % 2) == 1) << x << "," << y;
        }
    BitMapHandle* alpha = own(picture_test::AlphaOf(24, 20, [](int32_t x, int32_t y) { return x * 10 + y; }));
    BitMapHandle* fresh = own(BitMapFromPicture(in, PIXFMT_ARGB));
    ASSERT_EQ(WaterRippleBitMap(fresh, nullptr, alpha, 24, 20, 6, 8, 0, 0.5, 0.5), 0u);
    out = PictureFromBitMap(fresh);
    for (int32_t y = 0; y < 20; ++y)
        for (int32_t x = 0; x < 24; ++x) {
            uint32_t source = (out.argb[static_cast<size_t>(y) * 24 + x] - 0x10000) / 0x40;
            ASSERT_EQ(picture_test::AlphaAt(alpha, x, y), static_cast<uint8_t>((source % 24) * 10 + source / 24)) << x << "," << y;
        }
}

TEST(RippleSwirl, TransitionForms)
{
    const int32_t w = 20, h = 16;
    RgbPicture first = TestPicture(w, h, 1), second = TestPicture(w, h, 2);
    std::vector<double> sine(kRippleSineSteps);
    std::vector<int32_t> distances(static_cast<size_t>(w) * h);
    std::vector<uint32_t> dst(static_cast<size_t>(w) * h);
    RippleParams block{};
    block.srcPixels = first.argb.data(), block.secondPixels = second.argb.data(), block.dstPixels = dst.data();
    block.srcRowLength = block.secondRowLength = block.dstRowLength = w;
    block.wavelength = 4, block.baseAmplitude = 0.5, block.halfPeriod = 10;
    block.w = w, block.h = h, block.format = PIXFMT_ARGB;
    block.cx = 10, block.cy = 8, block.radius = 10;
    PrepareWaterRipple(&block, distances.data(), sine.data());
    // Frame 0: no wave and a blend level of 0, so the second image.
    WaterRipplePixels32(&block, 0);
    for (size_t i = 0; i < dst.size(); ++i) ASSERT_EQ(dst[i] & 0xFFFFFF, second.argb[i]) << i;
    EXPECT_EQ(block.amplitude, 0);
    // Frames before and after the half period have the same wave.
    WaterRipplePixels32(&block, 6);
    EXPECT_EQ(block.amplitude, 3);
    WaterRipplePixels32(&block, 14);
    EXPECT_EQ(block.amplitude, 3);
    // Frame 2P blends fully toward the (undisplaced) first image: k = 255.
    WaterRipplePixels32(&block, 20);
    for (size_t i = 0; i < dst.size(); ++i)
        for (int s = 0; s < 24; s += 8) {
            int32_t a = (first.argb[i] >> s) & 0xFF, b = (second.argb[i] >> s) & 0xFF;
            ASSERT_EQ(static_cast<int32_t>((dst[i] >> s) & 0xFF), b + (((a - b) * 255) >> 8)) << i;
        }
}

}  // namespace
