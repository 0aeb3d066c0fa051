// The distortion engine.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "core/io/error_codes.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/bitmaps/pixel_formats.h"
#include "gfx/effects/distort.h"
#include "gfx/effects/effects.h"
#include "gfx/picture_test_helpers.h"

namespace {

struct Result {
    uint32_t err = 0;
    BitMapHandle *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
    int32_t w = 0, h = 0;
    RgbPicture picture;
    ~Result()
    {
        FreeColorBitMap(bitmap);
        FreePlaneBitMap(mask);
        FreePlaneBitMap(alpha);
    }
    bool Visible(int32_t x, int32_t y) const { return mask ? picture_test::MaskAt(mask, x, y) : AlphaAt(x, y) != 0; }
    uint8_t AlphaAt(int32_t x, int32_t y) const { return picture_test::AlphaAt(alpha, x, y); }
};

void Distort(const RgbPicture& in, uint32_t format, uint32_t method, std::vector<double> c, Result* r,
             BitMapHandle* mask = nullptr, BitMapHandle* alpha = nullptr, uint32_t flags = 0)
{
    BitMapHandle* src = BitMapFromPicture(in, format);
    r->err = DistortBitMap(src, mask, alpha, method, static_cast<uint32_t>(c.size()), in.w, in.h, c.data(), flags,
                           &r->bitmap, &r->mask, &r->alpha, &r->w, &r->h);
    if (!r->err) r->picture = PictureFromBitMap(r->bitmap);
    FreeColorBitMap(src);
}

int32_t SameX(int32_t x, int32_t) { return x; }
int32_t SameY(int32_t, int32_t y) { return y; }

TEST(Distort, ExactMapsCopyTheirSourcePixels)
{
    RgbPicture in = TestPicture(9, 6, 4);
    struct Case {
        const char* name;
        uint32_t method;
        std::vector<double> c;
        int32_t w, h;
        // The source pixel of destination (x, y), or -1 where none is.
        int32_t (*sx)(int32_t x, int32_t y);
        int32_t (*sy)(int32_t x, int32_t y);
    } cases[] = {
        {"affine identity", DISTORT_AFFINE, {1, 0, 0, 0, 1, 0}, 9, 6, SameX, SameY},
        {"perspective identity", DISTORT_PERSPECTIVE, {1, 0, 0, 0, 1, 0, 0, 0}, 9, 6, SameX, SameY},
        {"bilinear identity", DISTORT_BILINEAR, {0, 1, 0, 0, 0, 0, 1, 0}, 9, 6, SameX, SameY},
        {"affine points identity", DISTORT_AFFINE_POINTS, {0, 0, 0, 0, 9, 0, 9, 0, 0, 6, 0, 6}, 9, 6, SameX, SameY},
        {"perspective points identity", DISTORT_PERSPECTIVE_POINTS,
         {0, 0, 0, 0, 9, 0, 9, 0, 0, 6, 0, 6, 9, 6, 9, 6, 5, 5, 5, 5}, 9, 6, SameX, SameY},
        {"flop", DISTORT_AFFINE, {-1, 0, 9, 0, 1, 0}, 9, 6, [](int32_t x, int32_t) { return 8 - x; }, SameY},
        {"rotate 90", DISTORT_AFFINE, {0, -1, 6, 1, 0, 0}, 6, 9, [](int32_t, int32_t y) { return y; },
         [](int32_t x, int32_t) { return 5 - x; }},
        {"scale 2", DISTORT_AFFINE, {2, 0, 0, 0, 2, 0}, 18, 12, [](int32_t x, int32_t) { return x / 2; },
         [](int32_t, int32_t y) { return y / 2; }},
        {"moved", DISTORT_AFFINE, {1, 0, -40.5, 0, 1, 7.25}, 10, 7, [](int32_t x, int32_t) { return x == 9 ? -1 : x; },
         [](int32_t, int32_t y) { return y == 6 ? -1 : y; }},
    };
    for (uint32_t format : {PIXFMT_ARGB, PIXFMT_RGB565, PIXFMT_RGB24}) {
        RgbPicture held = Quantised(in, format);
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << c.name << ", format " << format);
            Result r;
            Distort(in, format, c.method, c.c, &r);
            ASSERT_EQ(r.err, 0u);
            ASSERT_EQ(r.w, c.w);
            ASSERT_EQ(r.h, c.h);
            ASSERT_TRUE(r.mask || r.alpha);
            for (int32_t y = 0; y < c.h; ++y)
                for (int32_t x = 0; x < c.w; ++x) {
                    int32_t sx = c.sx(x, y), sy = c.sy(x, y);
                    if (sx < 0 || sy < 0) {
                        EXPECT_FALSE(r.Visible(x, y)) << x << "," << y;
                        continue;
                    }
                    ASSERT_TRUE(r.Visible(x, y)) << x << "," << y;
                    ASSERT_EQ(r.picture.argb[static_cast<size_t>(y) * c.w + x], held.argb[static_cast<size_t>(sy) * 9 + sx])
                        << x << "," << y;
                }
        }
    }
}

// The engine's parameters for a source of w x h.
DistortParams Params(uint32_t method, const std::vector<double>& c, int32_t w, int32_t h)
{
    DistortParams b{};
    b.method = method, b.coefficients = c.data(), b.coefficientCount = static_cast<uint32_t>(c.size());
    b.srcW = w, b.srcH = h;
    return b;
}

// The projective map of the eight coefficients, applied to a point.
void MapPoint(const double* c, double x, double y, double* u, double* v)
{
    double w = c[6] * x + c[7] * y + 1;
    *u = (c[0] * x + c[1] * y + c[2]) / w;
    *v = (c[3] * x + c[4] * y + c[5]) / w;
}

TEST(Distort, ControlPointsAreFitted)
{
    // A projective map and points it sends exactly: four fix it, eight
    // over-determine it without noise, so both fits must find it.
    double h[8] = {0.9, 0.2, 30, -0.1, 1.1, 12, 0.0004, -0.0007};
    double pts[8][2] = {{0, 0}, {640, 0}, {0, 480}, {640, 480}, {100, 300}, {320, 240}, {500, 50}, {33, 444}};
    for (uint32_t n : {4u, 8u}) {
        std::vector<double> c;
        for (uint32_t i = 0; i < n; ++i) {
            double u, v;
            MapPoint(h, pts[i][0], pts[i][1], &u, &v);
            c.insert(c.end(), {pts[i][0], pts[i][1], u, v});
        }
        DistortParams b = Params(DISTORT_PERSPECTIVE_POINTS, c, 640, 480);
        ASSERT_EQ(DistortBitMapBounds(&b), 0u) << b.errorText;
        for (int i = 0; i < 8; ++i) EXPECT_NEAR(b.forward[i], h[i], 1e-7 * (1 + std::fabs(h[i]))) << n << " " << i;
    }
    // Affine: noisy points give the least-squares plane; its residuals sum
    // to zero and are orthogonal to x and y (the normal equations).
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> noise(-2, 2);
    std::vector<double> c;
    for (int i = 0; i < 12; ++i) {
        double x = i * 37 % 200, y = i * 53 % 150;
        c.insert(c.end(), {x, y, 2 * x - y + 10 + noise(rng), 0.5 * x + 3 * y - 7 + noise(rng)});
    }
    DistortParams b = Params(DISTORT_AFFINE_POINTS, c, 200, 150);
    ASSERT_EQ(DistortBitMapBounds(&b), 0u);
    double sums[2][3] = {};
    for (size_t i = 0; i < c.size(); i += 4) {
        double u, v;
        MapPoint(b.forward, c[i], c[i + 1], &u, &v);
        double res[2] = {u - c[i + 2], v - c[i + 3]};
        for (int k = 0; k < 2; ++k) {
            sums[k][0] += res[k];
            sums[k][1] += res[k] * c[i];
            sums[k][2] += res[k] * c[i + 1];
        }
    }
    for (auto& s : sums)
        for (double v : s) EXPECT_NEAR(v, 0, 1e-6);
    EXPECT_NEAR(b.forward[0], 2, 0.1);
    EXPECT_NEAR(b.forward[4], 3, 0.1);
}

TEST(Distort, BilinearInverseFindsTheSourcePixels)
{
    // A bilinear map with a true x*y term: every visible destination pixel
    // centre, mapped forward from its source pixel's cell, lands within it.
    RgbPicture in{20, 16, {}};
    for (int32_t i = 0; i < 320; ++i) in.argb.push_back(static_cast<uint32_t>(i));
    std::vector<double> c = {5, 1.5, 0.3, 0.02, 2, 0.1, 1.2, 0.015};
    Result r;
    Distort(in, PIXFMT_ARGB, DISTORT_BILINEAR, c, &r);
    ASSERT_EQ(r.err, 0u);
    int32_t visible = 0;
    for (int32_t y = 0; y < r.h; ++y)
        for (int32_t x = 0; x < r.w; ++x) {
            if (!r.Visible(x, y)) continue;
            ++visible;
            uint32_t v = r.picture.argb[static_cast<size_t>(y) * r.w + x];
            auto i = static_cast<int32_t>(v);
            ASSERT_LT(i, 320);
            double sx = i % 20, sy = i / 20;
            // The pixel's centre in destination space minus the map's offset.
            double best = 1e9;
            for (double fy : {0.0, 0.5, 1.0})
                for (double fx : {0.0, 0.5, 1.0}) {
                    double u = c[0] + c[1] * (sx + fx) + c[2] * (sy + fy) + c[3] * (sx + fx) * (sy + fy);
                    double w = c[4] + c[5] * (sx + fx) + c[6] * (sy + fy) + c[7] * (sx + fx) * (sy + fy);
                    best = std::fmin(best, std::hypot(u - std::floor(c[0]) - x - 0.5, w - std::floor(c[4]) - y - 0.5));
                }
            ASSERT_LT(best, 2.5) << x << "," << y;
        }
    EXPECT_GT(visible, 320);
}

TEST(Distort, PlanesFollowTheSource)
{
    RgbPicture in = TestPicture(8, 8, 1);
    BitMapHandle* alpha = picture_test::AlphaOf(8, 8, [](int32_t x, int32_t y) { return y == 2 ? 10 * x + 1 : 0; });
    Result r;
    Distort(in, PIXFMT_ARGB, DISTORT_AFFINE, {-1, 0, 8, 0, 1, 0}, &r, nullptr, alpha);
    ASSERT_EQ(r.err, 0u);
    ASSERT_NE(r.alpha, nullptr);
    EXPECT_EQ(r.mask, nullptr);
    for (int32_t i = 0; i < 8; ++i) EXPECT_EQ(r.AlphaAt(7 - i, 2), 10 * i + 1);
    EXPECT_EQ(r.AlphaAt(3, 3), 0);
    FreePlaneBitMap(alpha);
    // No planes and a flag word: an alpha plane, opaque where the picture lands.
    Result s;
    Distort(in, PIXFMT_ARGB, DISTORT_AFFINE, {0.7, 0.7, 0, -0.7, 0.7, 0}, &s, nullptr, nullptr, 1);
    ASSERT_EQ(s.err, 0u);
    ASSERT_NE(s.alpha, nullptr);
    EXPECT_EQ(s.AlphaAt(0, 0), 0);
    EXPECT_EQ(s.AlphaAt(s.w / 2, s.h / 2), 255);
}

TEST(Distort, RefusalsSayWhatWasWrong)
{
    double inf = HUGE_VAL;
    struct Case { uint32_t method; std::vector<double> c; const char* text; } cases[] = {
        {7, {1, 0, 0, 0, 1, 0}, "unknown distortion method"},
        {DISTORT_AFFINE, {1, 0, 0, 0, 1}, "6 coefficients"},
        {DISTORT_PERSPECTIVE, {1, 0, 0, 0, 1, 0}, "8 coefficients"},
        {DISTORT_BILINEAR, {}, "8 coefficients"},
        {DISTORT_AFFINE, {1, 2, 0, 2, 4, 0}, "singular"},
        {DISTORT_AFFINE, {1, 0, inf, 0, 1, 0}, "finite"},
        {DISTORT_AFFINE, {1e6, 0, 0, 0, 1, 0}, "too large"},
        {DISTORT_PERSPECTIVE, {1, 0, 0, 0, 1, 0, -0.1, 0}, "infinity"},
        {DISTORT_AFFINE_POINTS, {0, 0, 1, 1, 1, 1, 2, 2}, "at least 3"},
        {DISTORT_AFFINE_POINTS, {0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2}, "do not fix"},
        {DISTORT_PERSPECTIVE_POINTS, {0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3}, "do not fix"},
        {DISTORT_BILINEAR, {0, 0, 0, 0, 0, 0, 0, 0}, "no area"},
    };
    RgbPicture in = TestPicture(30, 20);
    for (const Case& c : cases) {
        DistortParams b = Params(c.method, c.c, 30, 20);
        EXPECT_EQ(DistortBitMapBounds(&b), static_cast<uint32_t>(ERR_ARGS)) << c.text;
        ASSERT_NE(b.errorText, nullptr) << c.text;
        EXPECT_NE(std::string(b.errorText).find(c.text), std::string::npos) << b.errorText;
        Result r;
        Distort(in, PIXFMT_ARGB, c.method, c.c, &r);
        EXPECT_EQ(r.err, static_cast<uint32_t>(ERR_ARGS)) << c.text;
        EXPECT_EQ(r.bitmap, nullptr);
    }
}

}  // namespace
