// The graphics library's geometry helpers against the standard library and references written here.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "core/io/error_codes.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/library/graphics_geometry.h"
#include "gfx/library/graphics_tables.h"
#include "gfx/picture_test_helpers.h"

namespace {

TEST(GraphicsTables, CosinesAndSinesAreTruncatedWithExactHalves)
{
    for (int k = 0; k < 360; ++k) {
        SCOPED_TRACE(k);
        // Long double keeps the halves at 30, 60, ... degrees on the right
        // side of the integer, where double sometimes misses by one ulp.
        long double a = k * 3.14159265358979323846264338327950288L / 180;
        long double c = 1024 * std::cos(a), s = 1024 * std::sin(a);
        long double rc = std::round(c), rs = std::round(s);
        int32_t wantC = std::fabs(c - rc) < 1e-9L ? int32_t(rc) : int32_t(c);
        int32_t wantS = std::fabs(s - rs) < 1e-9L ? int32_t(rs) : int32_t(s);
        EXPECT_EQ(kCos1024[k], wantC);
        EXPECT_EQ(kSin1024[k], wantS);
    }
    for (int k : {30, 150, 210, 330}) EXPECT_EQ(std::abs(kSin1024[k]), 512);
    for (int k : {60, 120, 240, 300}) EXPECT_EQ(std::abs(kCos1024[k]), 512);
}

TEST(GraphicsGeometry, KeepAspectSizesAndTheirRefusals)
{
    const int32_t K = kKeepAspectRatio;
    struct Case { const char* name; int32_t srcW, srcH, w, h; uint32_t error; int32_t wantW, wantH; };
    const Case cases[] = {
        {"width from height", 640, 480, K, 240, 0, 320, 240},
        {"height from width", 640, 480, 100, K, 0, 100, 75},
        {"half rounds up", 3, 2, K, 3, 0, 5, 3},
        {"below half rounds down", 10, 3, 1, K, 0, 1, 1},  // 0.3 -> never 0
        {"both keep", 4, 3, K, K, ERR_WRONGUSAGE, K, K},
        {"zero width asked", 4, 3, 0, K, ERR_BADDIMENSIONS, 0, K},
        {"negative height asked", 4, 3, K, -2, ERR_BADDIMENSIONS, K, -2},
        {"empty source", 0, 3, K, 20, ERR_BADDIMENSIONS, K, 20},
        {"huge ratio saturates", 2000000000, 1, K, 2000, 0, INT32_MAX, 2000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int32_t w = c.w, h = c.h;
        EXPECT_EQ(ResolveKeepAspect(c.srcW, c.srcH, &w, &h), c.error);
        EXPECT_EQ(w, c.wantW);
        EXPECT_EQ(h, c.wantH);
    }
}

// Sutherland-Hodgman against one edge, written from its textbook form.
struct P { int32_t x, y; };
std::vector<P> ReferenceClip(const std::vector<P>& in, int32_t limit, int edge)
{
    auto inside = [&](P p) {
        return edge == 0 ? p.x >= limit : edge == 1 ? p.y >= limit : edge == 2 ? p.x <= limit : p.y <= limit;
    };
    std::vector<P> out;
    for (size_t i = 0; i < in.size(); ++i) {
        P a = in[i], b = in[(i + 1) % in.size()];
        if (inside(a)) out.push_back(a);
        if (inside(a) != inside(b)) {
            double slope = double(b.y - a.y) / double(b.x - a.x);
            if (edge == 0 || edge == 2)
                out.push_back({limit, a.y + int32_t(std::trunc(slope * (limit - a.x)))});
            else
                out.push_back({a.x + int32_t(std::trunc((limit - a.y) / slope)), limit});
        }
    }
    return out;
}

TEST(GraphicsGeometry, ClipPolygonMatchesSutherlandHodgman)
{
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int32_t> coord(-200, 200), count(3, 9), edgeOf(0, 3);
    for (int round = 0; round < 400; ++round) {
        std::vector<P> poly(static_cast<size_t>(count(rng)));
        for (P& p : poly) p = {coord(rng), coord(rng)};
        int edge = edgeOf(rng);
        int32_t limit = coord(rng) / 2;
        std::vector<int32_t> in;
        for (P p : poly) in.insert(in.end(), {p.x, p.y});
        std::vector<int32_t> out(in.size() * 2);
        int32_t n = ClipPolygon(static_cast<int32_t>(poly.size()), in.data(), out.data(), limit, edge);
        std::vector<P> want = ReferenceClip(poly, limit, edge);
        ASSERT_EQ(size_t(n), want.size()) << "round " << round;
        for (int32_t i = 0; i < n; ++i) {
            ASSERT_EQ(out[2 * i], want[i].x) << "round " << round << " point " << i;
            ASSERT_EQ(out[2 * i + 1], want[i].y) << "round " << round << " point " << i;
        }
    }
    // The four edges in turn cut a square to the window it overlaps.
    std::vector<int32_t> square = {-10, -10, 30, -10, 30, 30, -10, 30}, a(32), b(32);
    int32_t n = ClipPolygon(4, square.data(), a.data(), 0, CLIPEDGE_LEFT);
    n = ClipPolygon(n, a.data(), b.data(), 0, CLIPEDGE_TOP);
    n = ClipPolygon(n, b.data(), a.data(), 19, CLIPEDGE_RIGHT);
    n = ClipPolygon(n, a.data(), b.data(), 19, CLIPEDGE_BOTTOM);
    ASSERT_EQ(n, 4);
    for (int32_t i = 0; i < 2 * n; ++i) EXPECT_TRUE(b[i] == 0 || b[i] == 19) << b[i];
}

TEST(GraphicsGeometry, EllipsePointsFollowTheTablesAndClosePies)
{
    std::vector<int32_t> out(2 * 400);
    // A point ellipse over the full turn: 361 points at the centre.
    ASSERT_EQ(ComputeEllipsePoints(out.data(), 0, 0, 0, 360), 361);
    for (int32_t i = 0; i < 2 * 361; ++i) ASSERT_EQ(out[i], 0);
    // rx 10, ry 5: the start point, the 89 that follow, centre and start again.
    ASSERT_EQ(ComputeEllipsePoints(out.data(), 10, 5, 0, 90), 93);
    EXPECT_EQ(out[2 * 91], 10);
    EXPECT_EQ(out[2 * 91 + 1], 5);
    EXPECT_EQ(out[2 * 92], out[0]);
    for (int32_t i = 0; i <= 90; ++i) {
        double a = i * M_PI / 180;
        // Two truncations (table and division) lose a little over a pixel.
        EXPECT_NEAR(out[2 * i], 10 + 10.5 * std::cos(a), 1.05);
        EXPECT_NEAR(out[2 * i + 1], 5 + 5.5 * std::sin(a), 1.05);
    }
    // Negative angles land on the same points as their positive turns.
    std::vector<int32_t> neg(2 * 400), pos(2 * 400);
    ASSERT_EQ(ComputeEllipsePoints(neg.data(), 7, 7, -90, -45), 48);
    ASSERT_EQ(ComputeEllipsePoints(pos.data(), 7, 7, 270, 315), 48);
    EXPECT_EQ(neg, pos);
    // An empty range still draws the start point and closes through the centre.
    EXPECT_EQ(ComputeEllipsePoints(out.data(), 3, 3, 100, 50), 3);
}

TEST(GraphicsGeometry, FillMaskPolygonTakesManyPoints)
{
    // The fill is the pixel kernels' (tested there); here the plane handle
    // and more points than the small work buffer holds: a 40-gon around (10, 5).
    BitMapHandle* mask = AllocMaskBitMap(nullptr, 20, 10, 1, nullptr, 0);
    ASSERT_NE(mask, nullptr);
    std::vector<int32_t> ring;
    for (int i = 0; i < 40; ++i) {
        double a = i * 2 * M_PI / 40;
        ring.push_back(10 + int32_t(std::lround(4 * std::cos(a))));
        ring.push_back(5 + int32_t(std::lround(4 * std::sin(a))));
    }
    ASSERT_EQ(FillMaskPolygon(mask, ring.data(), 40), 0u);
    EXPECT_TRUE(picture_test::MaskAt(mask, 10, 5));
    EXPECT_EQ(FillMaskPolygon(nullptr, ring.data(), 40), 0u);
    FreePlaneBitMap(mask);
}

}  // namespace
