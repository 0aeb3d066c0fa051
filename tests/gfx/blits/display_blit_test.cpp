// SafeBlt on real displays and headless windows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/plugins/plugin_manager.h"
#include "display/display.h"
#include "display/display_library.h"
#include "display/framebuffer.h"
#include "display/pictures.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/blits/clip_regions.h"
#include "gfx/blits/display_blit.h"
#include "gfx/fake_adapter.h"
#include "gfx/picture_test_helpers.h"
#include "support/test_displays.h"

namespace {

using namespace picture_test;

struct ClipCase {
    const char* name;
    bool withRegion;
    int32_t rx, ry, rw, rh, sx, sy, dx, dy, w, h, srcW, srcH, dstW, dstH;
    int32_t wantSx, wantSy, wantDx, wantDy, wantW, wantH;
};

TEST(ClipBlitRect, CutsToLimitsAndMovesTheSource)
{
    const ClipCase cases[] = {
        {"left edge moves the source", false, 0, 0, 0, 0, 5, 0, -10, 0, 30, 4, 100, 100, 640, 480,
         15, 0, 0, 0, 20, 4},
        {"region past the destination stops at its edge", true, 0, 0, 500, 500, 0, 0, 60, 70, 100,
         100, 200, 200, 100, 100, 0, 0, 60, 70, 40, 30},
        {"source size cuts", false, 0, 0, 0, 0, 90, 0, 0, 0, 30, 5, 100, 100, 640, 480, 90, 0, 0, 0,
         10, 5},
        {"fully outside is empty, never negative", true, 100, 100, 10, 10, 0, 0, 0, 0, 20, 20, 100,
         100, 640, 480, 100, 100, 100, 100, 0, 0},
    };
    for (const ClipCase& c : cases) {
        SCOPED_TRACE(c.name);
        ClipRegion region{};
        region.x = c.rx, region.y = c.ry, region.width = c.rw, region.height = c.rh;
        int32_t sx = c.sx, sy = c.sy, dx = c.dx, dy = c.dy, w = c.w, h = c.h;
        ClipBlitRect(c.withRegion ? &region : nullptr, &sx, &sy, &dx, &dy, &w, &h, c.srcW, c.srcH,
                     c.dstW, c.dstH, true);
        EXPECT_EQ((std::vector<int32_t>{sx, sy, dx, dy, w, h}),
                  (std::vector<int32_t>{c.wantSx, c.wantSy, c.wantDx, c.wantDy, c.wantW, c.wantH}));
    }
}

class DisplayBlit : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(AllocFallbackDisplay(), 0u);
        display = MakeTestDisplay(nullptr, 1, 200, 150);
        ASSERT_NE(display, nullptr);
        CurrentDisplay = display;
        src = own(Colour(64, 64, 0xFF0000));
    }
    void TearDown() override
    {
        FreeAllClipRegions(nullptr);
        FreeAllBGPics(nullptr);
        FreeAllDisplays(nullptr);
        FreeFallbackDisplay();
        GraphicsAlphaIntensity = -1;
        GraphicsMaskMode = 0;
    }
    SafeBltWords Words(int32_t dx, int32_t dy, int32_t w, int32_t h, uint32_t flags)
    {
        return SafeBltWords{0, 0, nullptr, dx, dy, w, h, src->width, src->height,
                            display->width, display->height, flags, nullptr, nullptr,
                            CurrentOutput() ? CurrentOutput()->clipRegion : nullptr};
    }
    BitMapHandle* Back(int i) { return static_cast<BitMapHandle*>(display->backBuffers[i]); }
    uint32_t Window(int32_t x, int32_t y) { return ReadFramebufferPixel(display, x, y); }

    Display* display = nullptr;
    Owned own;
    BitMapHandle* src = nullptr;
};

TEST_F(DisplayBlit, BackBufferBlitIsPresentedUnlessRefreshIsOff)
{
    SafeBlt(nullptr, src, Words(10, 20, 5, 5, SAFEBLT_BACKBUFFER));
    EXPECT_EQ(Get(Back(0), 10, 20), 0xFF0000u);
    EXPECT_EQ(Window(14, 24), 0xFF0000u);
    EXPECT_EQ(Window(15, 24), 0u);
    uint32_t presents = display->framebuffer->presents;
    SafeBlt(nullptr, src, Words(50, 50, 5, 5, SAFEBLT_BACKBUFFER | SAFEBLT_NOREFRESH));
    EXPECT_EQ(Get(Back(0), 50, 50), 0xFF0000u);
    EXPECT_EQ(Window(50, 50), 0u);
    EXPECT_EQ(display->framebuffer->presents, presents);
    RefreshDisplay(nullptr, display, 0);
    EXPECT_EQ(Window(50, 50), 0xFF0000u);
}

TEST_F(DisplayBlit, PlainBlitGoesStraightToTheWindow)
{
    SafeBlt(nullptr, src, Words(-10, 0, 30, 2, 0));
    EXPECT_EQ(Window(0, 0), 0xFF0000u);
    EXPECT_EQ(Window(19, 1), 0xFF0000u);
    EXPECT_EQ(Window(20, 0), 0u);
    EXPECT_EQ(Get(Back(0), 0, 0), 0u);
    // Inside a refresh block nothing is presented.
    display->refreshPending = 1;
    SafeBlt(nullptr, src, Words(100, 100, 2, 2, 0));
    EXPECT_EQ(Window(100, 100), 0u);
    display->refreshPending = 0;
}

TEST_F(DisplayBlit, NoDisplayPrintsTheErrorAndFallbackLeavesNoneBehind)
{
    CurrentDisplay = nullptr;
    testing::internal::CaptureStdout();
    SafeBlt(nullptr, src, Words(0, 0, 4, 4, 0));
    EXPECT_NE(testing::internal::GetCapturedStdout().find("ERROR! SAFEBLT() CALLED WITH DISPLAY=NULL!"),
              std::string::npos);
    BitMapHandle* dst = own(Colour(8, 8, 0));
    SafeBltWords w = Words(2, 2, 4, 4, SAFEBLT_NODISPLAY);
    w.dst = dst, w.dstW = w.dstH = 8, w.clip = nullptr;
    SafeBlt(nullptr, src, w);
    EXPECT_EQ(Get(dst, 5, 5), 0xFF0000u);
    EXPECT_EQ(Get(dst, 6, 6), 0u);
    EXPECT_EQ(CurrentDisplay, nullptr);
}

TEST_F(DisplayBlit, BoxRegionClipsEvenInsideTheDisplay)
{
    ClipRegion* region;
    ASSERT_EQ(CreateClipRegion(nullptr, MakeObjectId(1), false, 100, 100, 40, 30, nullptr, &region), 0u);
    ASSERT_EQ(SetClipRegion(region), 0u);
    Put(src, 10, 10, 0x00FF00);
    SafeBlt(nullptr, src, Words(90, 90, 60, 60, SAFEBLT_BACKBUFFER));
    EXPECT_EQ(Get(Back(0), 99, 99), 0u);
    EXPECT_EQ(Get(Back(0), 100, 100), 0x00FF00u);  // source (10, 10)
    EXPECT_EQ(Get(Back(0), 139, 129), 0xFF0000u);
    EXPECT_EQ(Get(Back(0), 140, 129), 0u);
    EXPECT_EQ(Get(Back(0), 139, 130), 0u);
    SafeBlt(nullptr, src, Words(0, 0, 2, 2, SAFEBLT_BACKBUFFER | SAFEBLT_NOCLIP));
    EXPECT_EQ(Get(Back(0), 1, 1), 0xFF0000u);
}

TEST_F(DisplayBlit, ShapedRegionCombinesWithTheSourceMaskAndAlpha)
{
    // The shape: the left half of a 16 x 16 box at (32, 32); the source mask:
    // its top half; together only the top-left quarter is drawn.
    BitMapHandle* shape = Mask(nullptr, 16, 16, [](int32_t x, int32_t) { return x < 8; });
    ClipRegion* region;
    ASSERT_EQ(CreateClipRegion(nullptr, MakeObjectId(1), false, 32, 32, 16, 16, shape, &region), 0u);
    FreePlaneBitMap(shape);  // the region keeps its own copy
    ASSERT_EQ(SetClipRegion(region), 0u);
    BitMapHandle* mask = own(Mask(src, 64, 64, [](int32_t, int32_t y) { return y < 8; }));
    SafeBltWords w = Words(32, 32, 16, 16, SAFEBLT_BACKBUFFER);
    w.sx = w.sy = 4, w.mask = mask;
    SafeBlt(nullptr, src, w);
    int drawn = 0;
    for (int32_t y = 32; y < 48; ++y)
        for (int32_t x = 32; x < 48; ++x) {
            bool want = x < 40 && y + 4 - 32 < 8;
            EXPECT_EQ(Get(Back(0), x, y) != 0, want) << x << "," << y;
            drawn += want;
        }
    EXPECT_EQ(drawn, 8 * 4);
    EXPECT_EQ(Window(32, 32), 0xFF0000u);
    EXPECT_EQ(Window(40, 32), 0u);
    // An alpha source keeps its bytes inside the shape and none outside.
    BitMapHandle* alpha = own(Alpha(64, 64, 128));
    BitMapHandle* white = own(Colour(64, 64, 0xFFFFFF));
    w = Words(32, 40, 16, 4, SAFEBLT_BACKBUFFER);
    w.alpha = alpha;
    SafeBlt(nullptr, white, w);
    EXPECT_EQ(Get(Back(0), 32, 40), 0x7F7F7Fu);
    EXPECT_EQ(Get(Back(0), 40, 40), 0u);
}

TEST_F(DisplayBlit, BlitUnderSpritesRedrawsTheBackgroundAndPresentsTheMirror)
{
    BitMapHandle* bg = Colour(200, 150, 0x0000FF);
    BGPic* picture;
    ASSERT_EQ(AddBGPic(nullptr, MakeObjectId(1), false, bg, nullptr, nullptr, 200, 150, &picture), 0u);
    display->shownBGPic = picture;
    OnScreenInstance sprite{nullptr, 0, 40, 40, 10, 10, nullptr};
    display->output.instances = &sprite;
    // The blit's mask leaves a hole where the background shows through.
    BitMapHandle* mask = own(Mask(src, 64, 64, [](int32_t x, int32_t) { return x != 1; }));
    SafeBltWords w = Words(35, 35, 10, 10, 0);
    w.mask = mask;
    SafeBlt(nullptr, src, w);
    EXPECT_EQ(Get(Back(1), 35, 35), 0xFF0000u);
    EXPECT_EQ(Get(Back(1), 36, 35), 0x0000FFu);
    EXPECT_EQ(Window(35, 35), 0xFF0000u);
    EXPECT_EQ(Window(36, 35), 0x0000FFu);
    EXPECT_EQ(Window(45, 35), 0u);
    // Without an overlap the blit goes straight to the window and the
    // mirror stays as it was.
    SafeBlt(nullptr, src, Words(100, 100, 4, 4, 0));
    EXPECT_EQ(Get(Back(1), 100, 100), 0u);
    display->output.instances = nullptr;
}

TEST_F(DisplayBlit, OutputTargetPlanesFollowTheBlit)
{
    BitMapHandle* targetMask = own(AllocMaskBitMap(nullptr, 200, 150, 1, nullptr, 0));
    BitMapHandle* targetAlpha = own(Alpha(200, 150, 0));
    display->targetMask = targetMask;
    display->targetAlpha = targetAlpha;
    GraphicsAlphaIntensity = 100;
    SafeBlt(nullptr, src, Words(0, 0, 4, 4, SAFEBLT_BACKBUFFER));
    EXPECT_TRUE(MaskAt(targetMask, 3, 3));
    EXPECT_FALSE(MaskAt(targetMask, 4, 3));
    EXPECT_EQ(AlphaRow(targetAlpha, 3)[3], 100);
    // A bitmap destination copies the mask plainly and writes opaque alpha.
    BitMapHandle* dst = own(Colour(200, 150, 0));
    SafeBltWords w = Words(10, 0, 2, 2, 0);
    w.dst = dst;
    SafeBlt(nullptr, src, w);
    EXPECT_EQ(AlphaRow(targetAlpha, 0)[10], 255);
    // Flag 0x10 leaves the planes alone.
    w.dx = 20, w.flags = SAFEBLT_NODISPLAY;
    SafeBlt(nullptr, src, w);
    EXPECT_EQ(AlphaRow(targetAlpha, 0)[20], 0);
    EXPECT_EQ(Get(dst, 20, 0), 0xFF0000u);
    display->targetMask = display->targetAlpha = nullptr;
}

TEST_F(DisplayBlit, LayerRedrawAdapterAndCollectingPaths)
{
    BGPic* picture;
    ASSERT_EQ(AddBGPic(nullptr, MakeObjectId(1), false, Colour(200, 150, 0x00FF00), nullptr, nullptr,
                       200, 150, &picture), 0u);
    display->shownBGPic = picture;
    // Layers on and flag 8: the layer stack is redrawn into the mirror
    // instead of the blit, and presented.
    display->layersEnabled = 1;
    SafeBlt(nullptr, src, Words(10, 10, 4, 4, SAFEBLT_LAYERREDRAW));
    EXPECT_EQ(Get(Back(1), 10, 10), 0x00FF00u);
    EXPECT_EQ(Window(13, 13), 0x00FF00u);
    EXPECT_EQ(Get(Back(0), 10, 10), 0u);
    display->layersEnabled = 0;
    // Flag 0x80 with adapter double buffering goes straight to the window,
    // through the source's mask.
    display->adapterDoubleBuffer = 1;
    BitMapHandle* mask = own(Mask(src, 64, 64, [](int32_t x, int32_t) { return x == 0; }));
    SafeBltWords w = Words(50, 50, 2, 1, SAFEBLT_ADAPTER | SAFEBLT_BACKBUFFER);
    w.mask = mask;
    SafeBlt(nullptr, src, w);
    EXPECT_EQ(Window(50, 50), 0xFF0000u);
    EXPECT_EQ(Window(51, 50), 0u);
    EXPECT_EQ(Get(Back(0), 50, 50), 0u);
    display->adapterDoubleBuffer = 0;
    // A collecting timed refresh only marks that a present is pending.
    TimedRefreshBlock block{1, 0, 0, 0};
    TimedRefresh = &block;
    SafeBlt(nullptr, src, Words(70, 70, 2, 2, SAFEBLT_BACKBUFFER));
    TimedRefresh = nullptr;
    EXPECT_EQ(block.pending, 1u);
    EXPECT_EQ(Get(Back(0), 70, 70), 0xFF0000u);
    EXPECT_EQ(Window(70, 70), 0u);
}

TEST_F(DisplayBlit, AlphaSourcesFollowTheOutputAlphaMode)
{
    BitMapHandle* targetAlpha = own(Alpha(200, 150, 0));
    display->targetAlpha = targetAlpha;
    BitMapHandle* alpha = own(Alpha(64, 64, 128));
    BitMapHandle* dst = own(Colour(200, 150, 0));
    // Mode 0 copies and hands the alpha to the plane; mode 1 copies where
    // alpha is set; mode 2 composes over the empty plane once: the whole
    // source shows and the plane holds 128, not 128 composed twice.
    for (uint32_t mode = 0; mode < 3; ++mode) {
        SCOPED_TRACE(mode);
        display->output.alphaMode = mode;
        int32_t x = 4 * static_cast<int32_t>(mode);
        SafeBltWords w = Words(x, 0, 2, 2, 0);
        w.dst = dst, w.alpha = alpha;
        SafeBlt(nullptr, src, w);
        EXPECT_EQ(Get(dst, x, 0), 0xFF0000u);
        EXPECT_EQ(AlphaRow(targetAlpha, 0)[x], 128);
    }
    display->output.alphaMode = 0;
    display->targetAlpha = nullptr;
}

// ---------------------------------------------------------------------------
// Locks counted through an adapter that manages bitmaps.

TEST(SafeBltLocks, FullyClippedBlitsTakeNoLock)
{
    PluginInfo info = fakeadapter::FakeBitMapAdapter();
    DisplayAdapterPlugin = &info;
    ASSERT_EQ(AllocFallbackDisplay(), 0u);
    BitMapHandle* src = AllocColorBitMap(16, 16, 0, nullptr);
    BitMapHandle* dst = AllocColorBitMap(16, 16, 0, nullptr);
    ClipRegion region{};
    region.x = region.y = 8, region.width = region.height = 4;
    struct Case { const char* name; int32_t sx, dx, dy, w; ClipRegion* clip; bool locks; };
    const Case cases[] = {
        {"above the destination", 0, 0, -4, 4, nullptr, false},
        {"past the source", 16, 0, 0, 4, nullptr, false},
        {"negative source", -1, 0, 0, 4, nullptr, false},
        {"outside the region", 0, 0, 0, 4, &region, false},
        {"zero width", 0, 0, 0, 0, nullptr, false},
        {"inside", 0, 0, 0, 4, nullptr, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fakeadapter::g_locks = 0;
        SafeBlt(nullptr, src,
                SafeBltWords{c.sx, 0, dst, c.dx, c.dy, c.w, 4, 16, 16, 16, 16, SAFEBLT_NODISPLAY,
                             nullptr, nullptr, c.clip});
        EXPECT_EQ(fakeadapter::g_locks > 0, c.locks);
    }
    FreeColorBitMap(src);
    FreeColorBitMap(dst);
    FreeFallbackDisplay();
    DisplayAdapterPlugin = nullptr;
}

}  // namespace
