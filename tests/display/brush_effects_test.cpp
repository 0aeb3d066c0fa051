// The brush effect commands on brushes loaded from PNG files that
// ImageMagick writes: each command must leave its brush exactly as the
// effect's front end leaves a second brush loaded from the same file, and
// wrong arguments, missing and hardware brushes must be refused with the
// brush untouched.
#include <cmath>
#include <cstdlib>
#include <functional>

#include "core/io/error_codes.h"
#include "display/display_library.h"
#include "display/pictures.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/effects/effects.h"
#include "gfx/effects/filter_kernels.h"
#include "gfx/effects/ripple_swirl.h"
#include "gfx/graphics_fixture.h"
#include "gfx/picture_test_helpers.h"
#include "support/picture_oracle.h"
#include "support/temp_dir.h"

namespace {

using namespace testcalls;

// Everything a brush shows: colours, mask bits and alpha bytes.
struct BrushPixels {
    std::vector<uint32_t> argb;
    std::vector<uint8_t> mask, alpha;
    bool operator==(const BrushPixels&) const = default;
};

BrushPixels PixelsOf(const Brush* brush)
{
    BitMapHandle *bitmap, *mask, *alpha;
    int32_t w, h;
    GetBrushPlanes(brush, &bitmap, &mask, &alpha, &w, &h);
    BrushPixels p;
    p.argb = picture_test::ArgbOf(bitmap);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            if (mask) p.mask.push_back(picture_test::MaskAt(mask, x, y));
            if (alpha) p.alpha.push_back(picture_test::AlphaAt(alpha, x, y));
        }
    return p;
}

class BrushEffects : public VmFixture {
protected:
    void SetUp() override
    {
        QM_SKIP_WITHOUT(HaveConvert()) << kImageMagick << " writes the pictures";
        VmFixture::SetUp();
        Register(RegisterBrushLibrary);
        // Every channel varies; the top-left pixel is black.
        std::string make = std::string(kImageMagick) + " -size 48x32 xc: -channel R -fx i/w -channel G -fx j/h" +
                           " -channel B -fx '(i+j)%8/8' -channel A -fx '0.2+0.8*i/w' PNG32:" + picture +
                           " && " + kImageMagick + " -size 20x10 xc:'rgba(40,90,200,0.6)' PNG32:" + patch;
        ASSERT_EQ(std::system(make.c_str()), 0);
    }
    Brush* Found(uint32_t id)
    {
        Brush* brush = nullptr;
        EXPECT_EQ(FindBrush(vm, MakeObjectId(id), &brush, 0), 0u);
        return brush;
    }
    Brush* Load(uint32_t id, const std::string& file, const Options& options)
    {
        EXPECT_EQ(CallGlobal(vm, "loadbrush", {double(id), file, options}), 0u);
        return Found(id);
    }

    TempDir dir;
    std::string picture = dir.file("picture.png"), patch = dir.file("patch.png");
};

const Options kAlpha{{{"loadalpha", 1}}};
const Options kMask{{{"transparency", 0x000000}}};

TEST_F(BrushEffects, CommandsChangeTheBrushAsTheFrontEndDoes)
{
    using Apply = std::function<uint32_t(Brush*)>;
    struct Case {
        const char* command;
        std::vector<Value> args;  // after the brush id
        Options load;
        Apply effect;
    };
    // InvertBrush and BrushToGray are held to ImageMagick through SaveBrush
    // by the applet tests.
    const Case cases[] = {
        {"tintbrush", {2.0, 3.0, 20.0, 10.0, double{0xFF8000}, 100.0}, kAlpha,
         [](Brush* b) { return TintBitMap(b->bitmap, 2, 3, 20, 10, 0xFF8000, 100); }},
        {"mixbrush", {3.0, 4.0, 5.0}, kAlpha,
         [this](Brush* b) {
             Brush* s = Found(3);
             return MixBitMaps(b->bitmap, s->bitmap, s->mask, 4, 5, 0, 0, 20, 10, 128, s->alpha, 20, 10);
         }},
        {"brushtomonochrome", {1.0}, kAlpha,
         [](Brush* b) { return MonochromeBitMap(b->bitmap, 48, 32, 1); }},
        {"flipbrush", {}, kMask,
         [](Brush* b) { return FlipBitMap(b->bitmap, b->mask, b->alpha, 48, 32, 1); }},
        {"setbrushtransparency", {0.0}, kAlpha,
         [](Brush* b) {
             b->mask = SetBitMapTransparency(b->bitmap, 48, 32, 0);
             return b->mask ? 0u : 1u;
         }},
        {"replacecolors", {Array{{0x000000, 0xFFFFFF, 0xFFFFFF, 0x123456}}}, kAlpha,
         [](Brush* b) {
             const uint32_t pairs[] = {0x000000, 0xFFFFFF, 0xFFFFFF, 0x123456};
             return ReplaceColors(b->bitmap, 48, 32, pairs, 2);
         }},
        {"blurbrush", {4.0, 1.5}, kAlpha,
         [](Brush* b) { return ConvolveBitMap(CONVOLVE_BLUR, b->bitmap, b->alpha, 48, 32, 4, 1.5); }},
        {"sharpenbrush", {1.0, 2.0}, kAlpha,
         [](Brush* b) { return ConvolveBitMap(CONVOLVE_SHARPEN, b->bitmap, b->alpha, 48, 32, 1, 2); }},
        {"gammabrush", {2.2, 1.0, 0.5}, kAlpha,
         [](Brush* b) { return GammaBitMap(b->bitmap, 48, 32, 2.2, 1.0, 0.5); }},
        {"contrastbrush", {0.0, 3.0}, kAlpha,
         [](Brush* b) { return ContrastBitMap(b->bitmap, 48, 32, 0, 3); }},
        {"modulatebrush", {1.2, 0.5, 1.5}, kAlpha,
         [](Brush* b) { return ModulateBitMap(b->bitmap, 48, 32, 1.2, 0.5, 1.5); }},
        {"charcoalbrush", {1.0}, kAlpha,
         [](Brush* b) { return CharcoalBitMap(b->bitmap, b->alpha, 48, 32, 1, 0); }},
        {"pixelatebrush", {5.0}, kMask,
         [](Brush* b) { return PixelateBitMap(b->bitmap, b->mask, b->alpha, 48, 32, 5); }},
        {"swirlbrush", {90.0}, kAlpha,
         [](Brush* b) { return SwirlBitMap(b->bitmap, b->mask, b->alpha, 48, 32, 90); }},
        {"waterripplebrush", {8.0, 4.0, 1.0, 0.3, 0.6}, kMask,
         [](Brush* b) { return WaterRippleBitMap(b->bitmap, b->mask, b->alpha, 48, 32, 8, 4, 1, 0.3, 0.6); }},
        {"oilpaintbrush", {}, kAlpha, [](Brush* b) { return OilPaintBitMap(b->bitmap, 48, 32, 3); }},
        {"quantizebrush", {8.0, 1.0}, kAlpha,
         [](Brush* b) { return QuantizeBitMap(b->bitmap, 48, 32, 8, 1); }},
    };
    Load(3, patch, kAlpha);
    for (const Case& c : cases) {
        Brush* brush = Load(1, picture, c.load);
        BrushPixels before = PixelsOf(brush);
        std::vector<Value> args{1.0};
        args.insert(args.end(), c.args.begin(), c.args.end());
        ASSERT_EQ(CallGlobal(vm, c.command, args), 0u) << c.command;
        Brush* reference = Load(2, picture, c.load);
        ASSERT_EQ(c.effect(reference), 0u) << c.command;
        BrushPixels after = PixelsOf(brush);
        EXPECT_NE(after, before) << c.command << " changed nothing";
        EXPECT_TRUE(after == PixelsOf(reference)) << c.command;
    }
}

TEST_F(BrushEffects, WrongArgumentsAndBrushesAreRefusedLeavingTheBrush)
{
    struct Case { const char* command; std::vector<Value> args; uint32_t error; };
    const Case cases[] = {
        {"tintbrush", {1.0, 0.0, 0.0, 9.0, 9.0, 255.0, 256.0}, ERR_OUTOFRANGE},
        {"invertbrush", {1.0, 2.0}, ERR_TOOMANYARGS},
        {"solarizebrush", {1.0, -1.0}, ERR_OUTOFRANGE},
        {"quantizebrush", {1.0, 4294967298.0}, ERR_OUTOFRANGE},  // 2^32 + 2 is no 2
        {"modulatebrush", {1.0, std::nan("")}, ERR_OUTOFRANGE},
        {"blurbrush", {1.0, 2.0, HUGE_VAL}, ERR_OUTOFRANGE},
        {"waterripplebrush", {1.0, 5.0, 5.0, 0.0, 1.5}, ERR_OUTOFRANGE},
        {"replacecolors", {1.0, Array{{1, 2, 3}}}, ERR_ARGS},
        {"replacecolors", {1.0, 5.0}, ERR_TABEXPECTED},
        {"pixelatebrush", {9.0, 4.0}, ERR_FINDBRUSH},
        {"mixbrush", {1.0, 9.0}, ERR_FINDBRUSH},
        {"mixbrush", {1.0, 4.0}, ERR_HWBRUSH},
        {"swirlbrush", {Pointer{this}, 40.0}, ERR_FINDARRAY},
    };
    Brush* brush = Load(1, picture, kAlpha);
    Brush* hardware = Load(4, patch, {});
    hardware->hardware = 1;
    BrushPixels before = PixelsOf(brush);
    for (const Case& c : cases) {
        EXPECT_EQ(CallGlobal(vm, c.command, c.args), c.error) << c.command;
        EXPECT_TRUE(PixelsOf(brush) == before) << c.command;
    }
    hardware->hardware = 0;
}

}  // namespace
