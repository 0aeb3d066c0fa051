// ScaleBrush, RotateBrush and DistortBrush on brushes made in memory: the
// brush gets the picture the oracle written here expects (pixel doubling,
// a quarter turn, a transposition), and every refused argument leaves the
// brush exactly as it was, planes and all.
#include <cmath>
#include <string>

#include "core/io/error_codes.h"
#include "display/display_library.h"
#include "display/pictures.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/graphics_fixture.h"
#include "gfx/picture_test_helpers.h"
#include "support/picture_oracle.h"

namespace {

using namespace testcalls;
using picture_test::ArgbOf;
using picture_test::MaskAt;

constexpr int32_t kW = 12, kH = 8;

// Colours only: the top byte of a pixel is no part of the picture.
std::vector<uint32_t> Rgb(const std::vector<uint32_t>& argb)
{
    std::vector<uint32_t> v(argb);
    for (uint32_t& p : v) p &= 0xFFFFFF;
    return v;
}

class BrushTransforms : public VmFixture {
protected:
    void SetUp() override
    {
        VmFixture::SetUp();
        Register(RegisterBrushLibrary);
    }
    // Brush 1: the test picture, with a mask whose bit is clear on the
    // diagonal when asked for.
    Brush* MakeBrush(bool mask)
    {
        BitMapHandle* bm = picture_test::BitMapOf(source, kW, kH);
        BitMapHandle* m = nullptr;
        if (mask) {
            m = AllocMaskBitMap(bm, kW, kH, 1, nullptr, 0);
            for (int32_t y = 0; y < kH; ++y)
                for (int32_t x = 0; x < kW; ++x) picture_test::SetMaskAt(m, x, y, x != y);
        }
        Brush* b = nullptr;
        EXPECT_EQ(AddBrush(vm, MakeObjectId(1), false, bm, m, nullptr, kW, kH, &b), 0u);
        return b;
    }

    std::vector<uint32_t> source = MakeTestPicture(kW, kH, false);
};

TEST_F(BrushTransforms, ScaleByTwoNearestDoublesEveryPixelAndMaskBit)
{
    Brush* b = MakeBrush(true);
    ASSERT_EQ(CallGlobal(vm, "scalebrush", {1.0, 24.0, 16.0}), 0u);
    ASSERT_TRUE(b->width == 24 && b->height == 16);
    std::vector<uint32_t> expected;
    for (int32_t y = 0; y < 16; ++y)
        for (int32_t x = 0; x < 24; ++x) expected.push_back(source[(y / 2) * kW + x / 2]);
    EXPECT_EQ(Rgb(ArgbOf(b->bitmap)), Rgb(expected));
    for (int32_t y = 0; y < 16; ++y)
        for (int32_t x = 0; x < 24; ++x) EXPECT_EQ(MaskAt(b->mask, x, y), x / 2 != y / 2) << x << "," << y;
}

TEST_F(BrushTransforms, QuarterTurnAndTranspositionMoveEveryPixel)
{
    // Counter-clockwise on screen: the right column becomes the top row.
    std::vector<uint32_t> turned, transposed;
    for (int32_t y = 0; y < kW; ++y)
        for (int32_t x = 0; x < kH; ++x) {
            turned.push_back(source[x * kW + (kW - 1 - y)]);
            transposed.push_back(source[x * kW + y]);
        }
    struct Case { const char* command; std::vector<Value> args; const std::vector<uint32_t>* expected; };
    const Case cases[] = {
        {"rotatebrush", {1.0, 90.0}, &turned},
        {"rotatebrush", {1.0, 450.0, 1.0, 1.0, 1.0}, &turned},
        {"distortbrush", {1.0, 0.0, Array{{0, 1, 0, 1, 0, 0}}}, &transposed},
        {"distortbrush", {1.0, 3.0, Array{{0, 0, 0, 0, 12, 0, 0, 12, 0, 8, 8, 0}}}, &transposed},
        {"distortbrush", {1.0, 2.0, Array{{0, 0, 1, 0, 0, 1, 0, 0}}}, &transposed},
    };
    for (const Case& c : cases) {
        Brush* b = MakeBrush(false);
        ASSERT_EQ(CallGlobal(vm, c.command, c.args), 0u) << c.command;
        ASSERT_TRUE(b->width == kH && b->height == kW) << c.command;
        EXPECT_EQ(Rgb(ArgbOf(b->bitmap)), Rgb(*c.expected)) << c.command;
        // The whole picture is covered, so the new mask is set everywhere.
        ASSERT_NE(b->mask, nullptr);
        for (int32_t y = 0; y < kW; ++y)
            for (int32_t x = 0; x < kH; ++x) EXPECT_TRUE(MaskAt(b->mask, x, y)) << c.command;
    }
    // Identities of the other methods copy the picture; the alpha flag
    // makes an alpha plane instead of a mask.
    Brush* b = MakeBrush(false);
    ASSERT_EQ(CallGlobal(vm, "distortbrush", {1.0, 1.0, Array{{1, 0, 0, 0, 1, 0, 0, 0}}, 1.0}), 0u);
    EXPECT_EQ(Rgb(ArgbOf(b->bitmap)), Rgb(source));
    EXPECT_EQ(b->mask, nullptr);
    ASSERT_NE(b->alpha, nullptr);
    EXPECT_EQ(picture_test::AlphaAt(b->alpha, kW - 1, kH - 1), 255);
}

TEST_F(BrushTransforms, RefusalsLeaveTheBrushAsItWas)
{
    struct Case { const char* command; std::vector<Value> args; uint32_t error; };
    const Case cases[] = {
        {"scalebrush", {1.0, 70000.0, 5.0}, ERR_OUTOFRANGE},
        {"scalebrush", {1.0, std::nan(""), 5.0}, ERR_OUTOFRANGE},
        {"scalebrush", {1.0, 100000.0, 100000.0}, ERR_WRONGUSAGE},
        {"scalebrush", {1.0, 100000.0, 65536.0}, ERR_OUTOFRANGE},  // the kept ratio is too wide
        {"rotatebrush", {1.0, HUGE_VAL}, ERR_OUTOFRANGE},
        {"rotatebrush", {1.0, 30.0, 0.0, 1.0}, ERR_BADDIMENSIONS},  // singular
        {"distortbrush", {1.0, 0.0, 7.0}, ERR_TABEXPECTED},
    };
    Brush* b = MakeBrush(true);
    BitMapHandle *bitmap = b->bitmap, *mask = b->mask;
    std::vector<uint32_t> pixels = ArgbOf(bitmap);
    for (const Case& c : cases) {
        EXPECT_EQ(CallGlobal(vm, c.command, c.args), c.error) << c.command << " " << &c - cases;
        EXPECT_TRUE(b->bitmap == bitmap && b->mask == mask && !b->alpha && b->width == kW && b->height == kH);
        EXPECT_EQ(ArgbOf(b->bitmap), pixels) << c.command;
    }
    b->hardware = 1;
    EXPECT_EQ(CallGlobal(vm, "scalebrush", {1.0, 5.0, 5.0}), uint32_t{ERR_HWBRUSH});
    b->hardware = 0;
}

}  // namespace
