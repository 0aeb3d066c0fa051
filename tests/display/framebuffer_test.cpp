// The headless window: presents with masks, alpha and scaling, grabs and
// the back buffers of other pixel formats.
#include <gtest/gtest.h>

#include "core/io/error_codes.h"
#include "display/display.h"
#include "display/framebuffer.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/bitmaps/bitmap_ops.h"
#include "gfx/picture_test_helpers.h"
#include "support/test_displays.h"

namespace {

class Framebuffers : public ::testing::Test {
protected:
    void TearDown() override
    {
        FreeAllDisplays(nullptr);
        OsSetDisplayPixelFormat(10);
    }
    Display* Make(int32_t w, int32_t h, int32_t scaledW = 0, int32_t scaledH = 0)
    {
        return MakeTestDisplay(nullptr, ++ids, w, h, false, scaledW, scaledH);
    }
    BitMapHandle* Filled(int32_t w, int32_t h, uint32_t argb) { return own(picture_test::Colour(w, h, argb)); }
    picture_test::Owned own;
    uint32_t ids = 0;
};

TEST_F(Framebuffers, PixelsComeWithOpeningAndRefuseOversizedWindows)
{
    Display* d = Make(40, 30);
    EXPECT_EQ(d->framebuffer, nullptr);
    ASSERT_EQ(OpenDisplayRecord(d), 0u);
    ASSERT_NE(d->framebuffer, nullptr);
    // A scaled size beyond what a window can be is refused and leaves the
    // display closed.
    Display* huge = Make(40, 30, 40000, 30);
    EXPECT_EQ(OpenDisplayRecord(huge), uint32_t{ERR_DISPLAYSIZE});
    EXPECT_EQ(huge->state, uint32_t{DISPSTATE_CLOSED});
    EXPECT_EQ(huge->backBuffers[0], nullptr);
}

TEST_F(Framebuffers, PresentsHonourMaskAlphaAndScale)
{
    Display* d = Make(8, 4, 16, 8);
    ASSERT_EQ(OpenDisplayRecord(d), 0u);
    BitMapHandle* white = Filled(8, 4, 0xFFFFFF);
    BitMapHandle* mask = own(AllocMaskBitMap(white, 8, 4, 1, nullptr, 0));
    auto* bits = reinterpret_cast<uint8_t*>(QueryBitMapAttr(mask, BMATTR_MASK_PIXELS));
    bits[0] = 0x80;  // only (0, 0)
    AdapterBlitToDisplay(white, 0, 0, d, 0, 0, 2, 1, 0, 0, 0, mask, nullptr);
    EXPECT_EQ(ReadFramebufferPixel(d, 1, 1), 0xFFFFFFu);
    EXPECT_EQ(ReadFramebufferPixel(d, 2, 0), 0u);
    BitMapHandle* alpha = own(AllocAlphaBitMap(8, 4, 1, nullptr, 0));
    reinterpret_cast<uint8_t*>(QueryBitMapAttr(alpha, BMATTR_ALPHA_PIXELS))[3] = 128;
    AdapterBlitToDisplay(white, 3, 0, d, 3, 0, 1, 1, 0, 0, 0, nullptr, alpha);
    EXPECT_EQ(ReadFramebufferPixel(d, 6, 0), 0x7F7F7Fu);
    EXPECT_EQ(ReadFramebufferPixel(d, 7, 1), 0x7F7F7Fu);
    // A scaled size presents the whole bitmap at that size from the corner.
    BitMapHandle* red = Filled(4, 2, 0xFF0000);
    AdapterBlitToDisplay(red, 0, 0, d, 0, 0, 1, 1, 12, 6, 0, nullptr, nullptr);
    EXPECT_EQ(ReadFramebufferPixel(d, 11, 5), 0xFF0000u);
    EXPECT_EQ(ReadFramebufferPixel(d, 12, 5), 0u);
    EXPECT_EQ(d->framebuffer->presents, 3u);
    // Rectangles running off the source or the window are cut.
    AdapterBlitToDisplay(red, -1, -1, d, 6, 2, 9, 9, 0, 0, 0, nullptr, nullptr);
    EXPECT_EQ(ReadFramebufferPixel(d, 15, 7), 0xFF0000u);
}

TEST_F(Framebuffers, SixteenBitBackBuffersAreWidenedOnTheWay)
{
    OsSetDisplayPixelFormat(4);
    Display* d = Make(4, 4);
    ASSERT_EQ(OpenDisplayRecord(d), 0u);
    auto* back = static_cast<BitMapHandle*>(d->backBuffers[0]);
    EXPECT_EQ(QueryBitMapAttr(back, BMATTR_PIXELFORMAT), 4u);
    FillBitMapRect(back, 0, 0, 4, 4, 0xFFFFFF);
    RefreshDisplay(nullptr, d, 0);
    EXPECT_EQ(ReadFramebufferPixel(d, 3, 3), 0xF8FCF8u);
}

TEST_F(Framebuffers, BackBuffersStartBlackInEveryFormat)
{
    // Whether black comes as zero bytes or from a fill, every pixel of
    // every back buffer reads black, and drawing still lands.
    for (uint32_t format : {10u, 4u, 0u, 11u, 13u}) {
        SCOPED_TRACE(format);
        OsSetDisplayPixelFormat(format);
        Display* d = Make(37, 23);
        ASSERT_EQ(OpenDisplayRecord(d), 0u);
        for (void* buffer : d->backBuffers) {
            auto* back = static_cast<BitMapHandle*>(buffer);
            ASSERT_NE(back, nullptr);
            int notBlack = 0;
            for (int32_t y = 0; y < 23; ++y)
                for (int32_t x = 0; x < 37; ++x) notBlack += (ReadBitMapPixel(back, x, y, 0) & 0xFFFFFF) != 0;
            EXPECT_EQ(notBlack, 0);
            FillBitMapRect(back, 36, 22, 1, 1, 0xFFFFFF);
            EXPECT_EQ(ReadBitMapPixel(back, 36, 22, 0) & 0xF0F0F0, 0xF0F0F0u);
        }
        // A display of another colour is filled with it when it opens.
        Display* blue = Make(9, 5);
        blue->backColor = 0x0000F8;
        ASSERT_EQ(OpenDisplayRecord(blue), 0u);
        for (void* buffer : blue->backBuffers)
            EXPECT_EQ(ReadBitMapPixel(static_cast<BitMapHandle*>(buffer), 8, 4, 0) & 0xFFFFFF, 0x0000F8u);
    }
}

TEST_F(Framebuffers, GrabReadsTheWindowAndBlacksOutTheRest)
{
    Display* d = Make(4, 4);
    BitMapHandle* out = nullptr;
    EXPECT_EQ(GrabDisplayToBitmap(d, 0, 0, 2, 2, 0, 0, &out), uint32_t{ERR_GRABSCREEN});
    ASSERT_EQ(OpenDisplayRecord(d), 0u);
    EXPECT_EQ(GrabDisplayToBitmap(d, 0, 0, 0, 2, 0, 0, &out), uint32_t{ERR_GRABSCREEN});
    BitMapHandle* green = Filled(4, 4, 0x00FF00);
    AdapterBlitToDisplay(green, 0, 0, d, 0, 0, 4, 4, 0, 0, 0, nullptr, nullptr);
    ASSERT_EQ(GrabDisplayToBitmap(d, -1, 2, 3, 3, 0, 0, &out), 0u);
    EXPECT_EQ(own(out)->width, 3);
    EXPECT_EQ(ReadBitMapPixel(out, 0, 0, 0), 0u);
    EXPECT_EQ(ReadBitMapPixel(out, 1, 1, 0), 0x00FF00u);
    EXPECT_EQ(ReadBitMapPixel(out, 1, 2, 0), 0u);
}

}  // namespace
