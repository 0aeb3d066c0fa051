// Flood fill against a breadth-first reference.
#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "gfx/effects/flood_fill.h"

namespace {

template <typename T>
void CheckMaze(uint32_t seed, int32_t w, int32_t h)
{
    const int32_t rowLength = w + 3;
    const T border = 1, fill = 7;
    std::vector<T> px(static_cast<size_t>(rowLength) * h);
    for (auto& p : px) {
        seed = seed * 1664525u + 1013904223u;
        p = (seed >> 24) < 90 ? border : static_cast<T>(2 + ((seed >> 8) & 3));
    }
    FloodFillContext c{px.data(), w - 4, h - 3, rowLength, border, fill, 2, 1};
    int32_t sx = 2 + (seed >> 4) % (w - 4), sy = 1 + (seed >> 12) % (h - 3);

    std::vector<T> expect = px;
    auto at = [&](int32_t x, int32_t y) -> T& { return expect[static_cast<size_t>(y) * rowLength + x]; };
    if (at(sx, sy) != border) {
        std::deque<std::pair<int32_t, int32_t>> queue{{sx, sy}};
        at(sx, sy) = fill;
        while (!queue.empty()) {
            auto [x, y] = queue.front();
            queue.pop_front();
            const int32_t next[4][2] = {{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}};
            for (const auto& n : next) {
                if (n[0] < c.left || n[0] >= c.left + c.width || n[1] < c.top ||
                    n[1] >= c.top + c.height)
                    continue;
                T& p = at(n[0], n[1]);
                if (p == border || p == fill) continue;
                p = fill;
                queue.push_back({n[0], n[1]});
            }
        }
    }
    if (sizeof(T) == 4) FloodFillPixels32(&c, sx, sy, 0xFFFFFFFF);
    else FloodFillPixels16(&c, sx, sy, 0xFFFF);
    ASSERT_EQ(px, expect) << "seed " << seed;
}

TEST(FloodFill, MatchesTheReferenceOnRandomMazes)
{
    for (uint32_t seed = 1; seed < 200; ++seed) {
        CheckMaze<uint32_t>(seed, 23, 17);
        CheckMaze<uint16_t>(seed * 7, 15, 11);
    }
}

TEST(FloodFill, LargeOpenAreasAndStartsOutside)
{
    const int32_t w = 1500, h = 1200;
    std::vector<uint32_t> px(static_cast<size_t>(w) * h, 0x00102030);
    // A comb of walls that makes a long snaking path.
    for (int32_t x = 10; x < w; x += 20)
        for (int32_t y = 0; y < h; ++y)
            if ((x / 20) % 2 ? y != 0 : y != h - 1) px[static_cast<size_t>(y) * w + x] = 0xFF000000;
    FloodFillContext c{px.data(), w, h, w, 0xFF000000, 0x00ABCDEF, 0, 0};
    FloodFillPixels32(&c, -1, 5, 0xFFFFFFFF);
    FloodFillPixels32(&c, w, 5, 0xFFFFFFFF);
    EXPECT_EQ(px[0], 0x00102030u);
    // The alpha byte is outside the compare mask: walls match by colour only.
    c.borderColour = 0;
    FloodFillPixels32(&c, 0, 0, 0x00FFFFFF);
    size_t filled = 0;
    for (uint32_t p : px) filled += p == 0x00ABCDEF;
    size_t walls = 0;
    for (uint32_t p : px) walls += p == 0xFF000000;
    EXPECT_EQ(filled + walls, px.size());
}

}  // namespace
