// Transformed copies of clip regions.
#include <gtest/gtest.h>

#include "display/display.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/blits/clip_regions.h"
#include "gfx/picture_test_helpers.h"
#include "support/test_displays.h"

namespace {

using namespace picture_test;

ClipRegion Box(int32_t x, int32_t y, int32_t w, int32_t h)
{
    ClipRegion r{};
    r.x = x, r.y = y, r.width = w, r.height = h;
    return r;
}

int CountBits(const ClipRegion* r)
{
    int n = 0;
    for (int32_t y = 0; y < r->height; ++y)
        for (int32_t x = 0; x < r->width; ++x) n += MaskAt(r->mask, x, y);
    return n;
}

const double kQuarterTurn[4] = {0, 1, -1, 0};

void ExpectBox(const ClipRegion* r, int32_t x, int32_t y, int32_t w, int32_t h)
{
    EXPECT_EQ((std::vector<int32_t>{r->x, r->y, r->width, r->height}), (std::vector<int32_t>{x, y, w, h}));
}

TEST(RenderClipRegionMask, PureScaleMultipliesTheRectangle)
{
    ClipRegion box = Box(10, 20, 30, 40);
    const double m[4] = {2, 0, 0, 0.5};
    ClipRegion* copy = RenderClipRegionMask(&box, 0.5, 0.5, m, 0, 0);
    ASSERT_NE(copy, nullptr);
    ExpectBox(copy, 20, 10, 60, 20);
    EXPECT_EQ(copy->mask, nullptr);
    EXPECT_EQ(copy->transformedCopy, 1u);
    EXPECT_EQ(ClipRegionList, nullptr);
    FreeTransformedClipRegion(nullptr, copy);
    const double none[4] = {0, 0, 0, 1};
    EXPECT_EQ(RenderClipRegionMask(&box, 0.5, 0.5, none, 0, 0), nullptr);
}

TEST(RenderClipRegionMask, TurnedRectangleBecomesAShapeCutAtTheTop)
{
    // A 4 x 2 box at the origin turned about its centre covers (2, -1) to
    // (3, 2); the row above the output goes.
    ClipRegion box = Box(0, 0, 4, 2);
    ClipRegion* copy = RenderClipRegionMask(&box, 0.5, 0.5, kQuarterTurn, 0, 0);
    ASSERT_NE(copy, nullptr);
    ExpectBox(copy, 2, 0, 2, 3);
    ASSERT_NE(copy->mask, nullptr);
    EXPECT_EQ(CountBits(copy), 6);
    FreeTransformedClipRegion(nullptr, copy);
}

TEST(RenderClipRegionMask, TurnedShapeKeepsItsPixelsAndFollowsTheDisplayScale)
{
    ClipRegion shaped = Box(10, 10, 4, 2);
    shaped.mask = Mask(nullptr, 4, 2, [](int32_t x, int32_t) { return x == 0; });
    ClipRegion* copy = RenderClipRegionMask(&shaped, 0.5, 0.5, kQuarterTurn, 0, 0);
    ASSERT_NE(copy, nullptr);
    ExpectBox(copy, 12, 9, 2, 4);
    EXPECT_EQ(CountBits(copy), 2);
    FreeTransformedClipRegion(nullptr, copy);

    Display* d = MakeTestDisplay(nullptr, 1, 100, 100, false, 200, 300);
    ASSERT_NE(d, nullptr);
    CurrentDisplay = d;
    copy = RenderClipRegionMask(&shaped, 0.5, 0.5, kQuarterTurn, 1, 0);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->x, 24);
    EXPECT_EQ(copy->y, 27);
    FreeTransformedClipRegion(nullptr, copy);
    copy = RenderClipRegionMask(&shaped, 0.5, 0.5, kQuarterTurn, 1, 1);
    EXPECT_EQ(copy->x, 12);
    FreeTransformedClipRegion(nullptr, copy);
    FreeAllDisplays(nullptr);
    FreePlaneBitMap(shaped.mask);
}

}  // namespace
