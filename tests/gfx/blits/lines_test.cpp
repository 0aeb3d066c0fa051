// Lines through the plot context; under ASan nothing outside the picture may be touched.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <set>
#include <utility>
#include <vector>

#include "gfx/bitmaps/bitmap.h"
#include "gfx/bitmaps/bitmap_ops.h"
#include "gfx/blits/plot_context.h"
#include "gfx/picture_test_helpers.h"

namespace {

typedef std::set<std::pair<int32_t, int32_t>> PixelSet;

using picture_test::Lcg;

// The ideal line: along its major axis from the upper (steep) or left end,
// the minor offset after k steps is k * minor / major rounded to nearest,
// halves toward the starting end. Only steps inside the w x h picture are
// visited, so far-away ends cost nothing here either.
PixelSet IdealLine(int64_t x1, int64_t y1, int64_t x2, int64_t y2, int32_t w, int32_t h)
{
    int64_t adx = std::llabs(x2 - x1), ady = std::llabs(y2 - y1);
    bool steep = ady > adx;
    if (steep ? y1 > y2 : x1 > x2) {
        std::swap(x1, x2);
        std::swap(y1, y2);
    }
    int64_t major = steep ? ady : adx, minor = steep ? adx : ady;
    int64_t start = steep ? y1 : x1, minorStart = steep ? x1 : y1;
    int64_t sign = (steep ? x2 - x1 : y2 - y1) < 0 ? -1 : 1;
    int64_t lo = std::max<int64_t>(0, -start), hi = std::min<int64_t>(major, (steep ? h : w) - 1 - start);
    PixelSet out;
    for (int64_t k = lo; k <= hi; ++k) {
        // round-half-down(k * minor / major) = ceil((2 k minor - major) / (2 major))
        __int128 num = __int128{2} * k * minor - major, den = __int128{2} * (major ? major : 1);
        __int128 q = num >= 0 ? (num + den - 1) / den : -((-num) / den);
        int64_t m = minorStart + sign * static_cast<int64_t>(q);
        int64_t x = steep ? m : start + k, y = steep ? start + k : m;
        if (x >= 0 && y >= 0 && x < w && y < h) out.insert({static_cast<int32_t>(x), static_cast<int32_t>(y)});
    }
    return out;
}

// The pixels of a w x h ARGB buffer (with a guard frame around it) that
// SoftLine changed from the background.
PixelSet DrawnBySoftLine(int64_t x1, int64_t y1, int64_t x2, int64_t y2, int32_t w, int32_t h)
{
    const int32_t pad = 3, rowLength = w + 2 * pad;
    std::vector<uint32_t> buffer(static_cast<size_t>(rowLength) * (h + 2 * pad), 0x11111111);
    uint32_t* origin = buffer.data() + pad * rowLength + pad;
    SoftLine(origin, static_cast<int32_t>(x1), static_cast<int32_t>(y1), static_cast<int32_t>(x2),
             static_cast<int32_t>(y2), 0xFFABCDEF, 255, 10, rowLength, w, h);
    PixelSet out;
    for (int32_t y = -pad; y < h + pad; ++y)
        for (int32_t x = -pad; x < w + pad; ++x) {
            uint32_t v = origin[static_cast<ptrdiff_t>(y) * rowLength + x];
            if (v == 0x11111111) continue;
            EXPECT_EQ(v, 0x00ABCDEFu);
            out.insert({x, y});
        }
    return out;
}

// Ends near the picture and anywhere in the 32-bit range.
TEST(Lines, OnePixelLinesMatchTheIdealLineWhereVisible)
{
    const int64_t lo = INT32_MIN, hi = INT32_MAX;
    std::vector<std::array<int64_t, 4>> cases = {
        {lo, lo, hi, hi}, {hi, lo, lo, hi}, {lo, 5, hi, 7}, {3, lo, 9, hi},
        {lo, lo, lo, hi}, {-1000000000, 10, 1000000000, 11}, {20, 20, hi, hi - 5},
        {lo, 0, 5, 5}, {hi, hi, hi, hi}, {-5, -5, -5, -5},
    };
    uint32_t seed = 3;
    for (int round = 0; round < 2000; ++round) {
        int64_t x1 = static_cast<int32_t>(Lcg(seed) % 60) - 15, y1 = static_cast<int32_t>(Lcg(seed) % 50) - 12;
        int64_t x2 = static_cast<int32_t>(Lcg(seed) % 60) - 15, y2 = static_cast<int32_t>(Lcg(seed) % 50) - 12;
        if (round % 7 == 0) y2 = y1;
        if (round % 11 == 0) x2 = x1;
        if (round % 13 == 0) y2 = y1 + (x2 - x1);
        cases.push_back({x1, y1, x2, y2});
    }
    for (int round = 0; round < 300; ++round) {
        std::array<int64_t, 4> far;
        for (auto& v : far) v = static_cast<int32_t>(Lcg(seed));
        cases.push_back(far);
    }
    for (const auto& c : cases)
        ASSERT_EQ(DrawnBySoftLine(c[0], c[1], c[2], c[3], 31, 23), IdealLine(c[0], c[1], c[2], c[3], 31, 23))
            << "(" << c[0] << "," << c[1] << ")-(" << c[2] << "," << c[3] << ")";
}

struct Target {
    std::vector<uint32_t> pixels;
    std::vector<uint8_t> alpha;
    PlotContext c{};
    Target(int32_t w, int32_t h)
        : pixels(static_cast<size_t>(w) * h, 0), alpha(static_cast<size_t>(w) * h, 77)
    {
        c.pixels = reinterpret_cast<uint8_t*>(pixels.data());
        c.rowLength = w, c.bytesPerPixel = 4, c.format = 10;
        c.colour = 0xFF0000FF, c.pixel = 0x0000FF, c.factor = 255, c.opacity = 255;
        c.clipping = 1, c.clipWidth = w, c.clipHeight = h;
    }
    uint32_t At(int32_t x, int32_t y) const { return pixels[static_cast<size_t>(y) * c.rowLength + x]; }
    uint8_t AlphaAt(int32_t x, int32_t y) const { return alpha[static_cast<size_t>(y) * c.rowLength + x]; }
    void UseAlpha() { c.alphaPlane = alpha.data(), c.alphaBytesPerRow = c.rowLength; }
};

TEST(Lines, ThickLinesDrawSpansAcrossTheLine)
{
    // Thickness 3 at 45 degrees: vertical spans of 4 (3 / cos 45 = 4.24),
    // starting 2 above the line.
    Target t(24, 24);
    t.c.thickness = 3;
    DrawThickLine(&t.c, 4, 4, 14, 14);
    for (int32_t x = 0; x < 24; ++x)
        for (int32_t y = 0; y < 24; ++y) {
            bool on = x >= 4 && x <= 14 && y >= x - 2 && y <= x + 1;
            EXPECT_EQ(t.At(x, y) != 0, on) << x << "," << y;
        }
    // Steep lines get horizontal spans; a vertical line of thickness 5 is
    // five columns wide, centred.
    Target v(20, 20);
    v.c.thickness = 5;
    DrawThickLine(&v.c, 10, 17, 10, 3);
    for (int32_t x = 0; x < 20; ++x)
        for (int32_t y = 0; y < 20; ++y)
            EXPECT_EQ(v.At(x, y) != 0, x >= 8 && x <= 12 && y >= 3 && y <= 17) << x << "," << y;
    // A huge thickness is cut to the picture, not walked.
    Target h(16, 16);
    h.c.thickness = INT32_MAX;
    DrawThickLine(&h.c, 0, 8, 15, 8);
    for (uint32_t px : h.pixels) EXPECT_NE(px, 0u);
}

TEST(Lines, AntialiasedCoverageGoesToTheAlphaTarget)
{
    // Horizontal: coverage 255 on the line, and the row below (coverage 0)
    // keeps its alpha.
    Target t(16, 4);
    t.UseAlpha();
    DrawAntialiasedLine(&t.c, 10, 1, 0, 1);
    for (int32_t x = 0; x < 16; ++x) {
        EXPECT_EQ(t.AlphaAt(x, 1), x <= 10 ? 255 : 77) << x;
        EXPECT_EQ(t.At(x, 1), x <= 10 ? 0x0000FFu : 0u) << x;
        EXPECT_EQ(t.AlphaAt(x, 2), 77) << x;
        EXPECT_EQ(t.At(x, 2), 0u) << x;
    }

    // Steep: each row splits 255 between the pixel the line crosses and its
    // right neighbour, with the neighbour taking the fraction of x.
    Target s(8, 12);
    s.UseAlpha();
    DrawAntialiasedLine(&s.c, 1, 0, 4, 10);
    for (int32_t y = 0; y <= 10; ++y) {
        int64_t x16 = int64_t{1} * 65536 + y * ((3 * 65536) / 10);
        int32_t x = static_cast<int32_t>(x16 >> 16);
        uint32_t f = static_cast<uint32_t>(x16 >> 8) & 255;
        EXPECT_EQ(s.AlphaAt(x, y), f != 255 ? 255 - f : 77) << y;
        EXPECT_EQ(s.AlphaAt(x + 1, y), f ? f : 77) << y;
    }

    // The opacity scales the coverage; a single point takes the opacity.
    Target o(4, 4);
    o.UseAlpha();
    o.c.opacity = 128;
    DrawAntialiasedLine(&o.c, 0, 0, 3, 0);
    DrawAntialiasedLine(&o.c, 2, 2, 2, 2);
    EXPECT_EQ(o.AlphaAt(3, 0), 128);
    EXPECT_EQ(o.AlphaAt(2, 2), 128);
    // Far outside: only the visible rows are walked and nothing outside is
    // written (the buffer is exactly the picture).
    Target f(9, 9);
    DrawAntialiasedLine(&f.c, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX);
    DrawAntialiasedLine(&f.c, INT32_MAX, 4, INT32_MIN, 4);
    for (int32_t x = 0; x < 9; ++x) EXPECT_EQ(f.At(x, 4), 0x0000FFu);
}

TEST(Lines, BitMapLinesDrawInSoftwareCutToTheBitMap)
{
    BitMapHandle* bm = AllocColorBitMap(10, 6, 0, nullptr);
    ASSERT_NE(bm, nullptr);
    FillBitMapRect(bm, 0, 0, 10, 6, 0);
    DrawBitMapLine(bm, -20, 2, 30, 2, 0xFF102030);
    DrawBitMapLine(bm, 3, -100, 3, 100, 0xFF405060);
    for (int32_t x = 0; x < 10; ++x)
        EXPECT_EQ(ReadBitMapPixel(bm, x, 2, 0) & 0xFFFFFF, x == 3 ? 0x405060u : 0x102030u) << x;
    for (int32_t y = 0; y < 6; ++y) EXPECT_EQ(ReadBitMapPixel(bm, 3, y, 0) & 0xFFFFFF, 0x405060u) << y;
    EXPECT_EQ(ReadBitMapPixel(bm, 0, 0, 0) & 0xFFFFFF, 0u);
    FreeColorBitMap(bm);
}

}  // namespace
