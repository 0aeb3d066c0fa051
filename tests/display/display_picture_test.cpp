// The background picture of an opening display reaches it as any picture
// does: through SafeBlt (counted here through a link-time wrapper), blended
// through its alpha or cut by its mask, clipped by the display's active clip
// region, mirrored for a scaled display and presented; every back buffer and
// the window end up as a model computed here says.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/io/error_codes.h"
#include "display/display.h"
#include "display/display_library.h"
#include "display/framebuffer.h"
#include "display/pictures.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/blits/clip_regions.h"
#include "gfx/blits/display_blit.h"
#include "gfx/picture_test_helpers.h"
#include "support/picture_oracle.h"
#include "support/test_displays.h"

namespace {
int g_safeBlts;
}

// The linker sends calls of SafeBlt from outside its own file here.
extern "C" void __real__Z7SafeBltP7VmStateP12BitMapHandleRK12SafeBltWords(VmState*, BitMapHandle*,
                                                                          const SafeBltWords&);
extern "C" void __wrap__Z7SafeBltP7VmStateP12BitMapHandleRK12SafeBltWords(VmState* vm, BitMapHandle* src,
                                                                          const SafeBltWords& words)
{
    ++g_safeBlts;
    __real__Z7SafeBltP7VmStateP12BitMapHandleRK12SafeBltWords(vm, src, words);
}

namespace {

constexpr uint32_t kColour = 0x336699;

// Each channel moves from d towards s by floor((s - d) * a / 256).
uint32_t Blend(uint32_t d, uint32_t s, uint32_t a)
{
    if (a == 0) return d;
    if (a == 255) return s;
    uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        int32_t dc = (d >> shift) & 0xFF, sc = (s >> shift) & 0xFF;
        out |= static_cast<uint32_t>(dc + static_cast<int32_t>(std::floor((sc - dc) * static_cast<int32_t>(a) / 256.0))) << shift;
    }
    return out;
}

class DisplayPicture : public ::testing::Test {
protected:
    void TearDown() override
    {
        CurrentDisplay = nullptr;
        FreeAllClipRegions(nullptr);
        FreeAllDisplays(nullptr);
        FreeAllBGPics(nullptr);
    }
    // A closed display of the colour showing background picture 1, shown
    // at the scaled size (none when 0).
    Display* Make(int32_t w, int32_t h, int32_t scaledW, int32_t scaledH, uint32_t bgpic)
    {
        Display* d = MakeTestDisplay(nullptr, ++ids, w, h, false, scaledW, scaledH, [&](DisplayOptions* o) {
            o->color = kColour;
            o->bgpic = bgpic;
        });
        EXPECT_NE(d, nullptr);
        return d;
    }
    uint32_t ids = 0;
};

// A picture with an alpha channel (or with a mask where its alpha is at
// least 128) opens on a display, maybe scaled, maybe behind a clip region
// (a box, or a box shaped by a mask of its left half) that was active in
// the display's output before it opened.
TEST_F(DisplayPicture, OpeningDisplayShowsItsPictureThroughTheDisplayBlit)
{
    enum Clip { NONE, BOX, SHAPED };
    struct Case { const char* name; bool alpha; int32_t scale; Clip clip; };
    const Case cases[] = {
        {"alpha, scaled twice", true, 2, NONE},
        {"alpha, scaled, box clip", true, 2, BOX},
        {"alpha, shaped clip", true, 1, SHAPED},
        {"mask, box clip", false, 1, BOX},
        {"mask, scaled three times, shaped clip", false, 3, SHAPED},
    };
    const int32_t w = 24, h = 10, pw = 16, ph = 8;
    const int32_t rx = 4, ry = 2, rw = 10, rh = 5;
    std::vector<uint32_t> argb = MakeTestPicture(pw, ph, true);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BitMapHandle *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
        ASSERT_EQ(RenderBGPicSource(argb.data(), pw, ph, c.alpha, &bitmap, &mask, &alpha), 0u);
        if (!c.alpha) {
            mask = picture_test::Mask(bitmap, pw, ph, [&](int32_t x, int32_t y) { return argb[y * pw + x] >> 31; });
            ASSERT_NE(mask, nullptr);
        }
        BGPic* picture;
        ASSERT_EQ(AddBGPic(nullptr, MakeObjectId(1), false, bitmap, mask, alpha, pw, ph, &picture), 0u);
        int32_t scaled = c.scale > 1 ? c.scale : 0;
        Display* d = Make(w, h, pw * scaled, ph * scaled, 1);
        ASSERT_NE(d, nullptr);
        if (c.clip != NONE) {
            BitMapHandle* shape = nullptr;
            if (c.clip == SHAPED)
                shape = picture_test::Mask(nullptr, rw, rh, [&](int32_t x, int32_t) { return x < rw / 2; });
            ClipRegion* region;
            ASSERT_EQ(CreateClipRegion(nullptr, MakeObjectId(1), false, rx, ry, rw, rh, shape, &region), 0u);
            if (shape) FreePlaneBitMap(shape);
            CurrentDisplay = d;
            ASSERT_EQ(SetClipRegion(region), 0u);
            CurrentDisplay = nullptr;
        }
        g_safeBlts = 0;
        ASSERT_EQ(OpenDisplayRecord(d), 0u);
        EXPECT_GT(g_safeBlts, 0);
        EXPECT_EQ(d->shownBGPic, picture);
        // None was current: the opened display is.
        EXPECT_EQ(CurrentDisplay, d);
        // Declared larger, the display takes the size of its picture.
        EXPECT_EQ(d->width, pw);
        EXPECT_EQ(d->height, ph);
        int wrong = 0;
        for (int32_t y = 0; y < ph; ++y)
            for (int32_t x = 0; x < pw; ++x) {
                uint32_t want = kColour;
                bool inClip = c.clip == NONE || (x >= rx && x < rx + rw && y >= ry && y < ry + rh &&
                                                 (c.clip == BOX || x - rx < rw / 2));
                if (inClip) {
                    uint32_t p = argb[y * pw + x];
                    want = c.alpha ? Blend(kColour, p & 0xFFFFFF, p >> 24) : (p >> 31 ? p & 0xFFFFFF : kColour);
                }
                for (void* buffer : d->backBuffers)
                    wrong += (ReadBitMapPixel(static_cast<BitMapHandle*>(buffer), x, y, 0) & 0xFFFFFF) != want;
                for (int32_t j = 0; j < c.scale; ++j)
                    for (int32_t i = 0; i < c.scale; ++i)
                        wrong += ReadFramebufferPixel(d, x * c.scale + i, y * c.scale + j) != want;
            }
        EXPECT_EQ(wrong, 0);
        EXPECT_EQ(d->framebuffer->width, pw * c.scale);
        EXPECT_EQ(d->framebuffer->height, ph * c.scale);
        TearDown();
    }
}

// A picture loaded after the display was made gives the display its size
// when it opens (what a script then reads of that size, clip box and
// pixels: the player's shown-picture tests).
TEST_F(DisplayPicture, DisplayTakesThePictureSizeWhenItOpens)
{
    Display* d = Make(24, 10, 10, 6, 1);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(OpenDisplayRecord(d), uint32_t{ERR_FINDBGPIC});
    std::vector<uint32_t> argb = MakeTestPicture(5, 3, false);
    BitMapHandle *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
    ASSERT_EQ(RenderBGPicSource(argb.data(), 5, 3, false, &bitmap, &mask, &alpha), 0u);
    BGPic* picture;
    ASSERT_EQ(AddBGPic(nullptr, MakeObjectId(1), false, bitmap, mask, alpha, 5, 3, &picture), 0u);
    ASSERT_EQ(OpenDisplayRecord(d), 0u);
    EXPECT_EQ(d->width, 5);
    EXPECT_EQ(d->height, 3);
    EXPECT_EQ(d->output.width, 5);
    EXPECT_EQ(d->framebuffer->width, 10);
    EXPECT_DOUBLE_EQ(d->scaleFactorY, 2.0);
}

}  // namespace
