// Special coordinates against the bands and the areas they are placed in.
#include <gtest/gtest.h>

#include "display/display.h"
#include "gfx/blits/clip_regions.h"
#include "gfx/library/named_coords.h"
#include "support/test_displays.h"

namespace {

TEST(SpecialCoordinates, BandsOffsetsAndAreas)
{
    struct Case { const char* name; bool vertical; int32_t v, size, area; double anchor; int32_t want; };
    const Case cases[] = {
        {"CENTER + 50", false, -100000 + 50, 100, 640, 0, 320},
        {"LEFTOUT - 3", false, -50000 - 3, 100, 640, 0, -103},
        {"RIGHT with an anchor of one half", false, -80000, 100, 640, 0.5, 590},
        {"-95000 is no CENTER", false, -95000, 100, 640, 0, -95000},
        {"-104999 still is", false, -104999, 0, 640, 0, 320 - 4999},
        {"odd centre truncates", false, -100000, 3, 10, 0, 3},
        {"BOTTOM", true, -60000, 20, 480, 0, 460},
        {"BOTTOMOUT + 1", true, -20000 + 1, 20, 480, 0, 481},
        {"plain numbers pass", true, 17, 20, 480, 0, 17},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int32_t got = c.vertical ? ResolveSpecialY(c.v, c.size, c.area, c.anchor)
                                 : ResolveSpecialX(c.v, c.size, c.area, c.anchor);
        EXPECT_EQ(got, c.want);
    }
}

TEST(SpecialCoordinates, WithoutAnAreaTheActiveRegionOrTheOutputServes)
{
    Display* d = MakeTestDisplay(nullptr, 1, 200, 100);
    ASSERT_NE(d, nullptr);
    CurrentDisplay = d;
    EXPECT_EQ(ResolveSpecialX(-100000, 20, 0, 0), 90);
    ClipRegion* region;
    ASSERT_EQ(CreateClipRegion(nullptr, MakeObjectId(1), false, 50, 10, 40, 60, nullptr, &region), 0u);
    ASSERT_EQ(SetClipRegion(region), 0u);
    EXPECT_EQ(ResolveSpecialX(-100000, 20, 0, 0), 60);
    EXPECT_EQ(ResolveSpecialY(-60000, 20, 0, 0), 50);
    FreeAllClipRegions(nullptr);
    FreeAllDisplays(nullptr);
}

}  // namespace
