// Gradients against models of their geometry written here.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "core/io/error_codes.h"
#include "gfx/bitmaps/pixel_formats.h"
#include "gfx/effects/gradients.h"
#include "support/gradient_model.h"

namespace {

struct Canvas {
    int32_t w, h, pad;
    std::vector<uint32_t> pixels;  // a canary border of `pad` pixels all round
    Canvas(int32_t w_, int32_t h_, int32_t pad_ = 2)
        : w(w_), h(h_), pad(pad_), pixels(static_cast<size_t>(w_ + 2 * pad_) * (h_ + 2 * pad_), 0xDEADBEEF)
    {
    }
    int32_t Stride() const { return w + 2 * pad; }
    uint32_t* Origin() { return pixels.data() + static_cast<size_t>(pad) * Stride() + pad; }
    uint32_t At(int32_t x, int32_t y) const { return pixels[static_cast<size_t>(y + pad) * Stride() + x + pad]; }
    bool CanaryIntact() const
    {
        for (int32_t y = -pad; y < h + pad; ++y)
            for (int32_t x = -pad; x < w + pad; ++x)
                if ((x < 0 || y < 0 || x >= w || y >= h) && At(x, y) != 0xDEADBEEF) return false;
        return true;
    }
};

uint32_t Render(Canvas* c, const GradientSpec& spec, int32_t x, int32_t y, int32_t w, int32_t h)
{
    GradientParams p{reinterpret_cast<uint8_t*>(c->Origin()), 4, PIXFMT_ARGB, x, y, w, h,
                     c->Stride(), &spec, c->w, c->h};
    return RenderGradient(p);
}

// The channel blend of the renderer's packed form at weight t (0..256).
uint32_t Mix(uint32_t c1, uint32_t c2, uint32_t t)
{
    uint32_t out = 0;
    for (int shift : {0, 8, 16}) {
        uint32_t a = (c1 >> shift) & 255, b = (c2 >> shift) & 255;
        out |= ((a * (256 - t) + b * t) >> 8) << shift;
    }
    return out;
}

int MaxChannelDiff(uint32_t a, uint32_t b)
{
    int d = 0;
    for (int shift : {0, 8, 16}) d = std::max(d, std::abs(int((a >> shift) & 255) - int((b >> shift) & 255)));
    return d;
}

// Blue ramp from 0 to 255: the blue byte tells the position.
constexpr uint32_t kBlack = 0x000000, kBlue = 0x0000FF;

// Every pixel's blue byte within 1 of the ramp at the position (0 to 65536
// along the gradient) that the model gives for the pixel's centre.
template <typename Position>
void ExpectRamp(const Canvas& c, Position position)
{
    int bad = 0;
    for (int32_t y = 0; y < c.h; ++y)
        for (int32_t x = 0; x < c.w; ++x) {
            double pos = position(x + 0.5, y + 0.5);
            uint32_t want = pos >= 65536 ? 255 : pos < 0 ? 0 : (255 * (uint32_t(pos) >> 8)) >> 8;
            if (std::abs(int(c.At(x, y) & 255) - int(want)) > 1 && ++bad < 4)
                ADD_FAILURE() << x << "," << y << " got " << (c.At(x, y) & 255) << " want " << want;
        }
    EXPECT_EQ(bad, 0);
}

TEST(Gradients, NinetyDegreesOver256PixelsStepsOneWeightPerPixel)
{
    Canvas c(256, 3);
    ASSERT_EQ(Render(&c, TwoColours(GRADIENT_LINEAR, 0x102030, 0xF0E0D0, 90), 0, 0, 256, 3), 0u);
    for (int32_t x = 0; x < 256; ++x)
        for (int32_t y = 0; y < 3; ++y) ASSERT_EQ(c.At(x, y), Mix(0x102030, 0xF0E0D0, x)) << x << "," << y;
    EXPECT_TRUE(c.CanaryIntact());
}

// The axis from the corner farthest back along (sin a, cos a) to the
// projection of the opposite corner, as sines and cosines give it.
void ModelAxis(int32_t angle, double w, double h, double* x1, double* y1, double* dx, double* dy)
{
    int32_t a = ((angle % 360) + 360) % 360;
    double s = std::sin(a * M_PI / 180), co = std::cos(a * M_PI / 180);
    if (a % 90 == 0) {  // exact quarter turns
        s = std::round(s);
        co = std::round(co);
    }
    double cx[4] = {0, w, w, 0}, cy[4] = {0, 0, h, h};
    int back = 0, front = 0;
    for (int i = 1; i < 4; ++i) {
        if (cx[i] * s + cy[i] * co < cx[back] * s + cy[back] * co - 1e-9) back = i;
        if (cx[i] * s + cy[i] * co > cx[front] * s + cy[front] * co + 1e-9) front = i;
    }
    double k = (cx[front] - cx[back]) * s + (cy[front] - cy[back]) * co;
    *x1 = cx[back], *y1 = cy[back];
    *dx = k * s, *dy = k * co;
}

TEST(Gradients, LinearAnglesFollowTheAxisOfTheModel)
{
    const int32_t angles[] = {0, 45, 90, 135, 180, 225, 270, 315, -45, 405, 10, 100, 200, 300};
    const int32_t w = 100, h = 50;
    for (int32_t angle : angles) {
        SCOPED_TRACE(angle);
        Canvas c(w, h);
        ASSERT_EQ(Render(&c, TwoColours(GRADIENT_LINEAR, kBlack, kBlue, angle), 0, 0, w, h), 0u);
        double x1, y1, dx, dy;
        ModelAxis(angle, w, h, &x1, &y1, &dx, &dy);
        ExpectRamp(c, [&](double x, double y) { return 65536 * ((x - x1) * dx + (y - y1) * dy) / (dx * dx + dy * dy); });
    }
}

TEST(Gradients, StopsPadTheirEndsAndEqualColoursStayFlat)
{
    GradientSpec s = TwoColours(GRADIENT_LINEAR, 0, 0, 90);
    s.stopCount = 4;
    s.stops[0] = {0xFF0000, 0.25};
    s.stops[1] = {0x00FF00, 0.5};
    s.stops[2] = {0x00FF00, 0.6};
    s.stops[3] = {0x0000FF, 0.75};
    Canvas c(200, 1);
    ASSERT_EQ(Render(&c, s, 0, 0, 200, 1), 0u);
    for (int32_t x = 0; x < 200; ++x) {
        SCOPED_TRACE(x);
        double pos = (x + 0.5) / 200;
        uint32_t want = pos < 0.25 ? 0xFF0000 : pos >= 0.75 ? 0x0000FF : pos >= 0.5 && pos < 0.6 ? 0x00FF00 : 1;
        if (want != 1) {
            EXPECT_EQ(c.At(x, 0), want);
        }
    }
    // Out-of-range and unordered stop positions are pulled into order.
    s.stops[0].position = -3;
    s.stops[3].position = 0.1;
    ASSERT_EQ(Render(&c, s, 0, 0, 200, 1), 0u);
    EXPECT_EQ(c.At(199, 0), 0x0000FFu);
}

TEST(Gradients, SeekFindsThePairAroundAPositionInEachSpreadMode)
{
    GradientStopEntry stops[2] = {{0x4000, 0xFFFF, 0, 0}, {0xC000, 0, 0, 0xFFFF}};
    const uint32_t red = 0xFF0000, blue = 0x0000FF;
    struct Case {
        const char* name;
        uint32_t spread;
        int64_t position, start, end;
        uint32_t colourAtStart, colourAtEnd;
    };
    const Case cases[] = {
        {"pad inside", GRADIENT_PAD, 0x8000, 0x4000, 0xC000, red, blue},
        {"pad before", GRADIENT_PAD, 0x1000, INT32_MIN, 0x4000, red, red},
        {"pad after", GRADIENT_PAD, 0xF000, 0xC000, int64_t{INT32_MAX} + 1, blue, blue},
        {"repeat wraps before the first stop", GRADIENT_REPEAT, 0x1000, -0x4000, 0x4000, blue, red},
        {"repeat after the last stop", GRADIENT_REPEAT, 0x2E000, 0x2C000, 0x34000, blue, red},
        {"repeat below zero", GRADIENT_REPEAT, -0x8000, -0xC000, -0x4000, red, blue},
        {"reflect mirrored period", GRADIENT_REFLECT, 0x18000, 0x14000, 0x1C000, blue, red},
        {"reflect before the first stop", GRADIENT_REFLECT, 0x1000, -0x4000, 0x4000, red, red},
        {"reflect mirrored tail", GRADIENT_REFLECT, 0x11000, 0xC000, 0x14000, blue, blue},
        {"no spread outside is black", 0, 0x1000, INT32_MIN, 0x4000, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GradientSegment s;
        InitGradientSegment(&s, stops, 2, c.spread);
        GradientSeek(&s, c.position);
        EXPECT_EQ(s.start, c.start);
        EXPECT_EQ(s.end, c.end);
        EXPECT_EQ((s.rb0 & 0xFF0000) | (s.g0 << 8) | (s.rb0 & 0xFF), c.colourAtStart);
        EXPECT_EQ((s.rb1 & 0xFF0000) | (s.g1 << 8) | (s.rb1 & 0xFF), c.colourAtEnd);
        if (c.position >= INT32_MIN && c.position <= INT32_MAX) {
            int32_t p = static_cast<int32_t>(c.position);
            uint32_t colour = GradientColor32(p, &s);
            EXPECT_EQ(colour >> 24, 0u);
            EXPECT_EQ(GradientColor16(p, &s), ArgbToRgb565(colour));
        }
    }
}

TEST(Gradients, RadialDistancesMatchTheModel)
{
    struct Case { double cx, cy, radial; };
    const Case cases[] = {{0.5, 0.5, 0}, {0.25, 0.75, 0}, {0.5, 0.5, 0.5}, {0.5, 0.5, 1.0}, {0, 1, 0}};
    const int32_t w = 60, h = 40;
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << k.cx << "," << k.cy << " v " << k.radial);
        GradientSpec s = TwoColours(GRADIENT_RADIAL, kBlack, kBlue);
        s.centerX = k.cx, s.centerY = k.cy, s.radial = k.radial;
        Canvas c(w, h);
        ASSERT_EQ(Render(&c, s, 0, 0, w, h), 0u);
        double v = k.radial >= 1 ? 0.99 : k.radial;
        double m = std::max(std::fabs(0.5 - k.cx), std::fabs(0.5 - k.cy));
        double r = std::sqrt(double(w * w + h * h)) * (0.5 + m) * (1 - v);
        ExpectRamp(c, [&](double x, double y) { return 65536 * std::hypot(x - w * k.cx, y - h * k.cy) / r; });
    }
}

TEST(Gradients, ConicalTurnsWithoutASeam)
{
    const int32_t n = 64;
    for (int32_t angle : {0, 90, -30}) {
        SCOPED_TRACE(angle);
        GradientSpec s = TwoColours(GRADIENT_CONICAL, 0xFF8000, 0x0040FF, angle);
        s.conicalPosition = 0.5;
        Canvas c(n, n);
        ASSERT_EQ(Render(&c, s, 0, 0, n, n), 0u);
        int worst = 0;
        for (int32_t y = 0; y < n; ++y)
            for (int32_t x = 0; x < n; ++x) {
                if (std::hypot(x + 0.5 - n / 2.0, y + 0.5 - n / 2.0) < 8) continue;
                if (x + 1 < n) worst = std::max(worst, MaxChannelDiff(c.At(x, y), c.At(x + 1, y)));
                if (y + 1 < n) worst = std::max(worst, MaxChannelDiff(c.At(x, y), c.At(x, y + 1)));
            }
        // Two colours over half a turn at radius 8 or more move at most
        // about 255 / (pi * 8) per pixel; a seam would jump by up to 255.
        EXPECT_LT(worst, 24);
        // Half a turn away from where the gradient starts stands the first colour.
        double start = ((angle % 360) + 360) % 360 * M_PI / 180;
        double theta = M_PI - start;  // f = 0.5
        int32_t px = static_cast<int32_t>(n / 2.0 + 20 * std::cos(theta));
        int32_t py = static_cast<int32_t>(n / 2.0 + 20 * std::sin(theta));
        EXPECT_LT(MaxChannelDiff(c.At(px, py), 0xFF8000), 40);
    }
}

TEST(Gradients, ClippingKeepsTheGradientInPlace)
{
    for (uint32_t type : {GRADIENT_LINEAR, GRADIENT_RADIAL, GRADIENT_CONICAL}) {
        SCOPED_TRACE(type);
        GradientSpec s = TwoColours(type, 0x123456, 0xFEDCBA, 30);
        Canvas whole(60, 50);
        ASSERT_EQ(Render(&whole, s, 0, 0, 60, 50), 0u);
        Canvas part(30, 20);
        ASSERT_EQ(Render(&part, s, -10, -15, 60, 50), 0u);
        for (int32_t y = 0; y < 20; ++y)
            for (int32_t x = 0; x < 30; ++x) ASSERT_EQ(part.At(x, y), whole.At(x + 10, y + 15)) << x << "," << y;
        EXPECT_TRUE(part.CanaryIntact());
        // Off the target entirely, or hanging over its right and bottom edges.
        Canvas edge(16, 16);
        ASSERT_EQ(Render(&edge, s, 20, 0, 60, 50), 0u);
        ASSERT_EQ(Render(&edge, s, 8, 9, 60, 50), 0u);
        EXPECT_EQ(edge.At(8, 9), whole.At(0, 0));
        EXPECT_TRUE(edge.CanaryIntact());
    }
}

TEST(Gradients, RefusedAndEmptyRequestsWriteNothing)
{
    struct Case { const char* name; GradientSpec spec; uint32_t bytesPerPixel; int32_t w, h; uint32_t error; };
    GradientSpec tooMany = TwoColours(GRADIENT_LINEAR, 1, 2);
    tooMany.stopCount = 65;
    GradientSpec unknown = TwoColours(7, 1, 2);
    GradientSpec ok = TwoColours(GRADIENT_RADIAL, 1, 2);
    const Case cases[] = {
        {"65 stops", tooMany, 4, 8, 8, ERR_WRONGUSAGE},
        {"unknown type", unknown, 4, 8, 8, 0},
        {"24-bit pixels", ok, 3, 8, 8, 0},
        {"zero width", ok, 4, 0, 8, 0},
        {"negative height", ok, 4, 8, -1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Canvas canvas(8, 8, 0);
        GradientParams p{reinterpret_cast<uint8_t*>(canvas.Origin()), c.bytesPerPixel, PIXFMT_ARGB, 0, 0,
                         c.w, c.h, 8, &c.spec, 8, 8};
        EXPECT_EQ(RenderGradient(p), c.error);
        for (uint32_t v : canvas.pixels) ASSERT_EQ(v, 0xDEADBEEFu);
    }
    EXPECT_EQ(DrawGradient(nullptr, 0, 0, 4, 4, nullptr), 0u);
}

TEST(Gradients, DegenerateGeometryStaysFinite)
{
    // A 1 x 1 radial with the radius shrunk to nothing, a centre far away, a
    // radial value beyond 1, and a linear gradient with a zero-length axis.
    struct Case { uint32_t type; double cx, cy, radial; int32_t w, h; };
    const Case cases[] = {{GRADIENT_RADIAL, 0.5, 0.5, 5.0, 1, 1},     {GRADIENT_RADIAL, 1e300, -1e300, 0, 4, 4},
                          {GRADIENT_RADIAL, 0.5, 0.5, -2, 3, 3},       {GRADIENT_CONICAL, 1e300, 0.5, 0, 3, 3},
                          {GRADIENT_LINEAR, 0.5, 0.5, 0, 1, 1}};
    for (const Case& k : cases) {
        GradientSpec s = TwoColours(k.type, 0x112233, 0x445566, 45);
        s.centerX = k.cx, s.centerY = k.cy, s.radial = k.radial;
        Canvas c(k.w, k.h);
        ASSERT_EQ(Render(&c, s, 0, 0, k.w, k.h), 0u);
        for (int32_t y = 0; y < k.h; ++y)
            for (int32_t x = 0; x < k.w; ++x) {
                uint32_t v = c.At(x, y);
                EXPECT_TRUE(v == 0x112233 || v == 0x445566 || MaxChannelDiff(v, 0x112233) <= 0x33) << std::hex << v;
            }
        EXPECT_TRUE(c.CanaryIntact());
    }
}

TEST(Gradients, SixteenBitFormatsHoldThe32BitColoursIn565)
{
    GradientSpec s = TwoColours(GRADIENT_LINEAR, 0x00FF40, 0xFF0080, 60);
    Canvas wide(33, 17);
    ASSERT_EQ(Render(&wide, s, 0, 0, 33, 17), 0u);
    for (uint32_t format : {PIXFMT_RGB565, PIXFMT_BGR565, PIXFMT_RGB565_SWAPPED}) {
        SCOPED_TRACE(format);
        std::vector<uint16_t> narrow(33 * 17);
        GradientParams p{reinterpret_cast<uint8_t*>(narrow.data()), 2, format, 0, 0, 33, 17, 33, &s, 33, 17};
        ASSERT_EQ(RenderGradient(p), 0u);
        for (int32_t y = 0; y < 17; ++y)
            for (int32_t x = 0; x < 33; ++x)
                ASSERT_EQ(narrow[y * 33 + x], PixelToFormat16(format, ArgbToRgb565(wide.At(x, y)))) << x << "," << y;
    }
    std::vector<uint32_t> bgra(33 * 17);
    GradientParams p{reinterpret_cast<uint8_t*>(bgra.data()), 4, PIXFMT_BGRA, 0, 0, 33, 17, 33, &s, 33, 17};
    ASSERT_EQ(RenderGradient(p), 0u);
    EXPECT_EQ(bgra[5 * 33 + 7], PixelToFormat32(PIXFMT_BGRA, wide.At(7, 5)));
}

}  // namespace
