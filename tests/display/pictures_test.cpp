// Brush and background-picture records: the planes they own (freed on
// every path, which the sanitizer build checks), and the drawing helpers
// of background pictures.
#include <gtest/gtest.h>

#include <vector>

#include "core/io/error_codes.h"
#include "display/display.h"
#include "display/display_library.h"
#include "display/output.h"
#include "display/pictures.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/bitmaps/bitmap_ops.h"
#include "gfx/picture_test_helpers.h"

namespace {

using picture_test::Colour;

class Pictures : public ::testing::Test {
protected:
    void TearDown() override
    {
        FreeAllDisplays(nullptr);
        FreeAllBrushes(nullptr);
        FreeAllBGPics(nullptr);
    }
};

TEST_F(Pictures, RefusedRecordsFreeThePlanesTheyWereGiven)
{
    struct Case { const char* name; bool bitmap; int32_t w, h; };
    const Case cases[] = {{"no bitmap", false, 4, 4}, {"zero width", true, 0, 4},
                          {"larger than the bitmap", true, 5, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BitMapHandle* bitmap = c.bitmap ? Colour(4, 4, 0) : nullptr;
        BitMapHandle* mask = AllocMaskBitMap(bitmap, 4, 4, 1, nullptr, 0);
        BitMapHandle* alpha = AllocAlphaBitMap(4, 4, 1, nullptr, 0);
        Brush* brush = reinterpret_cast<Brush*>(1);
        EXPECT_EQ(AddBrush(nullptr, MakeObjectId(1), false, bitmap, mask, alpha, c.w, c.h, &brush),
                  uint32_t{ERR_BADDIMENSIONS});
        EXPECT_EQ(brush, nullptr);
        BGPic* picture;
        EXPECT_EQ(AddBGPic(nullptr, MakeObjectId(1), false, nullptr, nullptr, nullptr, 1, 1, &picture),
                  uint32_t{ERR_BADDIMENSIONS});
    }
    EXPECT_EQ(BrushList, nullptr);
    uint32_t argb = 0;
    BitMapHandle *bitmap, *mask, *alpha;
    EXPECT_EQ(RenderBGPicSource(&argb, 0, 2, 0, &bitmap, &mask, &alpha), uint32_t{ERR_BADDIMENSIONS});
}

TEST_F(Pictures, BackgroundBitmapsRedrawAndForgetting)
{
    BitMapHandle* bitmap = Colour(8, 8, 0x0000FF);
    FillBitMapRect(bitmap, 2, 2, 1, 1, 0xFF0000);
    BGPic* picture;
    ASSERT_EQ(AddBGPic(nullptr, MakeObjectId(1), false, bitmap, nullptr, nullptr, 8, 8, &picture), 0u);
    EXPECT_EQ(picture->output.clipWords[2], 7);

    BitMapHandle* got;
    uint32_t made;
    ASSERT_EQ(AcquireBGPicBitmap(nullptr, picture, 0, 0, 8, 8, &got, &made), 0u);
    EXPECT_EQ(got, bitmap);
    EXPECT_EQ(made, 0u);
    ASSERT_EQ(AcquireBGPicBitmap(nullptr, picture, 2, 2, 10, 3, &got, &made), 0u);
    EXPECT_EQ(made, 1u);
    EXPECT_EQ(ReadBitMapPixel(got, 0, 0, 0), 0xFF0000u);
    EXPECT_EQ(ReadBitMapPixel(got, 5, 2, 0), 0x0000FFu);
    EXPECT_EQ(ReadBitMapPixel(got, 6, 0, 0), 0u);  // beyond the picture
    FreeColorBitMap(got);

    BitMapHandle* dst = Colour(8, 8, 0);
    Redraw(nullptr, nullptr, picture, dst, 2, 2, 2, 2, 0, 2);
    EXPECT_EQ(ReadBitMapPixel(dst, 2, 2, 0), 0u);
    for (uint32_t mode : {0u, 1u}) {
        FillBitMapRect(dst, 0, 0, 8, 8, 0);
        Redraw(nullptr, nullptr, picture, dst, 2, 2, 20, 1, 0, mode);
        EXPECT_EQ(ReadBitMapPixel(dst, 2, 2, 0), 0xFF0000u);
        EXPECT_EQ(ReadBitMapPixel(dst, 7, 2, 0), 0x0000FFu);
        EXPECT_EQ(ReadBitMapPixel(dst, 2, 3, 0), 0u);
    }
    FreeColorBitMap(dst);
    // A display that shows the picture, or draws into it, forgets it.
    DisplayOptions options;
    InitDisplayOptions(&options);
    Display* d;
    ASSERT_EQ(CreateDisplayRecord(nullptr, MakeObjectId(1), false, options, &d), 0u);
    d->shownBGPic = picture;
    d->selectedOutput = &picture->output;
    d->outputMode = OUTPUT_BGPIC;
    FreeAllBGPics(nullptr);
    EXPECT_EQ(d->shownBGPic, nullptr);
    EXPECT_EQ(DisplayOutput(d), &d->output);
    EXPECT_EQ(d->outputMode, uint32_t{OUTPUT_DISPLAY});
}

}  // namespace
