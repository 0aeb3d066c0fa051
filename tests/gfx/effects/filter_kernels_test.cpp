// Filter kernels against the scalar blur, ARGB in other formats, and ImageMagick.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <vector>

#include "gfx/bitmaps/pixel_formats.h"
#include "gfx/effects/blur.h"
#include "gfx/effects/filter_kernels.h"
#include "gfx/picture_test_helpers.h"

namespace {

using Kernel = std::function<void(void* pixels, uint32_t bpp, int32_t w, int32_t h, int32_t rowLength, uint32_t format)>;

// Runs a kernel on the picture stored in `format` (rows padded by 5
// pixels whose bytes must survive) and reads the result back.
RgbPicture Apply(const RgbPicture& in, uint32_t format, const Kernel& kernel)
{
    uint32_t bpp = PixelFormatBytes(format);
    int32_t rowLength = in.w + 5;
    std::vector<uint8_t> pixels = StorePicture(in, format, rowLength, 0xA5);
    kernel(pixels.data(), bpp, in.w, in.h, rowLength, format);
    RgbPicture out = in;
    for (int32_t y = 0; y < in.h; ++y) {
        const uint8_t* row = &pixels[static_cast<size_t>(y) * rowLength * bpp];
        GetPixelRowKernels(format)->toArgb(row, &out.argb[static_cast<size_t>(y) * in.w], in.w, 0);
        for (size_t b = static_cast<size_t>(in.w) * bpp; b < static_cast<size_t>(rowLength) * bpp; ++b)
            EXPECT_EQ(row[b], 0xA5) << "padding written in row " << y;
    }
    for (auto& c : out.argb) c &= 0xFFFFFF;
    return out;
}

Kernel Convolve(uint32_t kind, double radius, double sigma)
{
    return [=](void* p, uint32_t bpp, int32_t w, int32_t h, int32_t rl, uint32_t f) {
        ConvolveParams b{p, w, h, rl, f, bpp, nullptr, 0, radius, sigma, kind};
        ConvolvePixels(&b);
    };
}

Kernel Blur(double radius, double sigma) { return Convolve(CONVOLVE_BLUR, radius, sigma); }

TEST(FilterKernels, BlurVectorPathsGiveTheReferenceBytes)
{
    std::mt19937 rng(5);
    std::vector<uint32_t> data(64 * 1100);
    for (auto& slot : data) slot = (rng() & 0xFF) | (rng() & 0xFF) << 16;
    BlurPairsFunc scalar = GetBlurPairs(BLURPATH_SCALAR);
    for (double sigma : {0.4, 1.0, 2.5, 9.0}) {
        WorkBuffer<int16_t> weights;
        int32_t r = GaussianWeights(0, sigma, &weights);
        ASSERT_GE(r, 0);
        if (r == 0) continue;
        int32_t count = r + 1;
        std::vector<const uint32_t*> pairs(static_cast<size_t>(count));
        std::vector<int32_t> weightPairs(static_cast<size_t>(count));
        for (int32_t m = 0; m < count; ++m) {
            pairs[m] = &data[static_cast<size_t>(m % 64) * 1100 + (m * 7) % 13];
            int32_t second = 2 * m + 1 <= 2 * r ? weights[2 * static_cast<size_t>(m) + 1] : 0;
            weightPairs[m] = static_cast<int32_t>(static_cast<uint32_t>(second) << 16 |
                                                  static_cast<uint16_t>(weights[2 * static_cast<size_t>(m)]));
        }
        for (int32_t bytes : {1, 3, 15, 16, 17, 31, 32, 33, 47, 67, 1000}) {
            std::vector<uint8_t> ref(static_cast<size_t>(bytes)), got(static_cast<size_t>(bytes));
            scalar(pairs.data(), weightPairs.data(), count, ref.data(), bytes);
            for (uint32_t path : {BLURPATH_SSE2, BLURPATH_AVX2}) {
                GetBlurPairs(path)(pairs.data(), weightPairs.data(), count, got.data(), bytes);
                ASSERT_EQ(got, ref) << "path " << path << " sigma " << sigma << " bytes " << bytes;
            }
        }
    }
}

// The blur in place on padded rows against the plain separable sum (rows
// first, edges repeated), on every path: column strips, the shifted-row
// horizontal pass and pictures narrower than the kernel.
TEST(FilterKernels, BlurInPlaceIsTheSeparableSum)
{
    std::mt19937 rng(11);
    struct Size {
        int32_t w, h;
        uint32_t bytes;
        double sigma;
    } sizes[] = {{1, 1, 4, 2}, {7, 300, 4, 10}, {333, 41, 4, 3.5}, {900, 5, 1, 10}, {61, 77, 1, 1.2}, {40, 3, 4, 30}};
    uint32_t before = SelectBlurPath(BLURPATH_SCALAR);
    for (const Size& c : sizes) {
        WorkBuffer<int16_t> weights;
        int32_t r = GaussianWeights(0, c.sigma, &weights);
        ASSERT_GT(r, 0);
        size_t rowBytes = static_cast<size_t>(c.w) * c.bytes, stride = rowBytes + 9;
        std::vector<uint8_t> in(stride * static_cast<size_t>(c.h));
        for (auto& b : in) b = static_cast<uint8_t>(rng());
        auto at = [&](const std::vector<uint8_t>& v, int32_t x, int32_t y, uint32_t k) {
            x = std::clamp(x, 0, c.w - 1);
            y = std::clamp(y, 0, c.h - 1);
            return v[stride * static_cast<size_t>(y) + static_cast<size_t>(x) * c.bytes + k];
        };
        std::vector<uint8_t> mid = in, want = in;
        for (int pass = 0; pass < 2; ++pass) {
            const std::vector<uint8_t>& from = pass ? mid : in;
            std::vector<uint8_t>& to = pass ? want : mid;
            for (int32_t y = 0; y < c.h; ++y)
                for (int32_t x = 0; x < c.w; ++x)
                    for (uint32_t k = 0; k < c.bytes; ++k) {
                        int32_t acc = 1 << 13;
                        for (int32_t t = -r; t <= r; ++t)
                            acc += weights[static_cast<size_t>(t + r)] * (pass ? at(from, x + t, y, k) : at(from, x, y + t, k));
                        to[stride * static_cast<size_t>(y) + static_cast<size_t>(x) * c.bytes + k] = static_cast<uint8_t>(acc >> 14);
                    }
        }
        for (uint32_t path : {BLURPATH_SCALAR, BLURPATH_SSE2, BLURPATH_AVX2}) {
            SelectBlurPath(path);
            std::vector<uint8_t> got = in;
            ASSERT_TRUE(GaussianBlurRows(got.data(), stride, c.w, c.h, c.bytes, 0, c.sigma));
            EXPECT_EQ(got, want) << c.w << "x" << c.h << " bytes " << c.bytes << " path " << path;
        }
    }
    SelectBlurPath(before);
}

TEST(FilterKernels, ThreeByThreeKernelsOnAFlatPictureAndASpot)
{
    RgbPicture spot{5, 5, std::vector<uint32_t>(25, 0x404040)};
    spot.argb[12] = 0x505050;
    struct Case { uint32_t kind; double strength; uint32_t centre, right, below, diagonal, corner; } cases[] = {
        // edge: 8 * 0x50 - 8 * 0x40 at the spot, 0x40 - 0x50 < 0 next to it, 0 elsewhere.
        {CONVOLVE_EDGE, 1, 0x808080, 0, 0, 0, 0},
        {CONVOLVE_EDGE, 0, 0x808080, 0, 0, 0, 0},  // strength 0: the plain kernel
        // sharpen: 0x50 + 4 * 0x10; neighbours 0x40 - 0x10; diagonals untouched.
        {CONVOLVE_SHARPEN, 1, 0x909090, 0x303030, 0x303030, 0x404040, 0x404040},
        // emboss: the spot is below-right of (1,1) and to the right of (1,2).
        {CONVOLVE_EMBOSS, 1, 0x505050, 0x303030, 0x303030, 0x303030, 0x404040},
    };
    for (const Case& c : cases) {
        RgbPicture out = Apply(spot, PIXFMT_ARGB, Convolve(c.kind, 1, c.strength));
        EXPECT_EQ((std::vector<uint32_t>{out.argb[12], out.argb[13], out.argb[17], out.argb[18], out.argb[0]}),
                  (std::vector<uint32_t>{c.centre, c.right, c.below, c.diagonal, c.corner})) << c.kind;
    }
}

TEST(FilterKernels, FormatsAgreeWithArgb)
{
    uint8_t gamma[256];
    for (int i = 0; i < 256; ++i) gamma[i] = static_cast<uint8_t>(255 - i / 2);
    struct Named { const char* name; Kernel kernel; } kernels[] = {
        {"solarize", [](void* p, uint32_t bpp, int32_t w, int32_t h, int32_t rl, uint32_t f) {
             if (bpp == 4) SolarizePixels32(static_cast<uint32_t*>(p), w, h, rl, f, 100);
             else SolarizePixels16(static_cast<uint16_t*>(p), w, h, rl, f, 100);
         }},
        {"gamma", [&gamma](void* p, uint32_t bpp, int32_t w, int32_t h, int32_t rl, uint32_t f) {
             GammaParams b{p, w, h, rl, f, 5, gamma, nullptr, gamma};
             if (bpp == 4) GammaPixels32(&b);
             else GammaPixels16(&b);
         }},
        {"contrast", [](void* p, uint32_t bpp, int32_t w, int32_t h, int32_t rl, uint32_t f) {
             if (bpp == 4) ContrastPixels32(static_cast<uint32_t*>(p), w, h, rl, f, 1);
             else ContrastPixels16(static_cast<uint16_t*>(p), w, h, rl, f, 1);
         }},
        {"modulate", [](void* p, uint32_t bpp, int32_t w, int32_t h, int32_t rl, uint32_t f) {
             ModulateParams b{p, w, h, rl, f, 90, 130, 140};
             if (bpp == 4) ModulatePixels32(&b);
             else ModulatePixels16(&b);
         }},
        {"sepia", [](void* p, uint32_t bpp, int32_t w, int32_t h, int32_t rl, uint32_t f) {
             if (bpp == 4) SepiaPixels32(static_cast<uint32_t*>(p), w, h, rl, f, 200);
             else SepiaPixels16(static_cast<uint16_t*>(p), w, h, rl, f, 200);
         }},
        {"normalize", [](void* p, uint32_t, int32_t w, int32_t h, int32_t rl, uint32_t f) {
             NormalizeParams b{p, w, h, rl, 30, static_cast<uint32_t>(w * h - 30), f};
             NormalizePixels(&b);
         }},
        {"oilpaint", [](void* p, uint32_t bpp, int32_t w, int32_t h, int32_t rl, uint32_t f) {
             OilPaintParams b{p, w, h, rl, f, 2};
             if (bpp == 4) OilPaintPixels32(&b);
             else OilPaintPixels16(&b);
         }},
        {"blur", Blur(3, 1.5)},
    };
    for (uint32_t format : {PIXFMT_BGRA, PIXFMT_RGBA, PIXFMT_ABGR, PIXFMT_RGB565, PIXFMT_RGB555, PIXFMT_BGR565_SWAPPED}) {
        // Pixels every format holds exactly, so the inputs agree.
        RgbPicture in = Quantised(TestPicture(23, 17, 9), format);
        for (const Named& k : kernels) {
            RgbPicture ref = Apply(in, PIXFMT_ARGB, k.kernel);
            RgbPicture got = Apply(in, format, k.kernel);
            EXPECT_EQ(got.argb, Quantised(ref, format).argb) << k.name << " format " << format;
        }
    }
}

TEST(FilterKernels, NormalizeStretchesToFullRangeAndLeavesFlatChannels)
{
    RgbPicture in{10, 10, {}};
    // Red spans 50..149, green is flat, blue holds two levels.
    for (int32_t i = 0; i < 100; ++i)
        in.argb.push_back((static_cast<uint32_t>(50 + i) << 16) | (0x77 << 8) | (i < 50 ? 0x10u : 0x20u));
    auto normalize = [](uint32_t low, uint32_t high) {
        return Kernel([=](void* p, uint32_t, int32_t w, int32_t h, int32_t rl, uint32_t f) {
            NormalizeParams b{p, w, h, rl, low, high, f};
            NormalizePixels(&b);
        });
    };
    RgbPicture out = Apply(in, PIXFMT_ARGB, normalize(0, 100));
    // Low level: the first whose running count exceeds 0 (50); high: the
    // first from the top whose count exceeds 0 (149).
    EXPECT_EQ(out.argb[0], 0x007700u);
    EXPECT_EQ(out.argb[99], 0xFF77FFu);
    // Cut-offs inside the range are ImageMagick's comparison (effects test).
    // Counts that leave no range change nothing.
    EXPECT_EQ(Apply(in, PIXFMT_ARGB, normalize(100, 0)).argb, in.argb);
}

struct PeerCase { const char* name; Kernel kernel; std::string arguments; double meanBound; uint32_t maxBound; };

TEST(FilterKernels, NextToImageMagick)
{
    QM_SKIP_WITHOUT(HaveConvert()) << "no /usr/bin/convert";
    RgbPicture in = TestPicture(96, 72, 4);
    PeerCase cases[] = {
        {"solarize", [](void* p, uint32_t, int32_t w, int32_t h, int32_t rl, uint32_t f) {
             SolarizePixels32(static_cast<uint32_t*>(p), w, h, rl, f, 127);
         }, "-solarize 50%", 0, 0},
        {"modulate", [](void* p, uint32_t, int32_t w, int32_t h, int32_t rl, uint32_t f) {
             ModulateParams b{p, w, h, rl, f, 80, 130, 150};
             ModulatePixels32(&b);
         }, "-define modulate:colorspace=HSB -modulate 80,130,150", 0.6, 2},
        {"paint", [](void* p, uint32_t, int32_t w, int32_t h, int32_t rl, uint32_t f) {
             OilPaintParams b{p, w, h, rl, f, 2};
             OilPaintPixels32(&b);
         }, "-paint 2", 0, 0},
        // A radius alone takes sigma = radius / 3; a sigma alone reaches 3
        // sigma; both given keep both. Edges repeat the outer pixels, as
        // the peer's default virtual pixels do.
        {"blur 6x0", Blur(6, 0), "-blur 6x2", 0.6, 3},
        {"blur 0x2", Blur(0, 2), "-blur 6x2", 0.6, 3},
        {"blur 6x2", Blur(6, 2), "-blur 6x2", 0.6, 3},
        {"blur 3x2", Blur(3, 2), "-blur 3x2", 0.6, 3},
    };
    for (const PeerCase& c : cases) {
        RgbPicture peer;
        ASSERT_TRUE(RunConvert(in, c.arguments, &peer)) << c.name;
        ExpectNearPeer(c.name, Apply(in, PIXFMT_ARGB, c.kernel), peer, c.meanBound, c.maxBound);
    }
}

}  // namespace
