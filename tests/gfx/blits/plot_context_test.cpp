// Single pixels and coverage maps through the plot context.
#include <gtest/gtest.h>

#include <vector>

#include "gfx/bitmaps/pixel_formats.h"
#include "gfx/blits/plane_ops.h"
#include "gfx/blits/plot_context.h"
#include "gfx/picture_test_helpers.h"

namespace {

using picture_test::Lcg;

constexpr int32_t kW = 12, kH = 6;

struct Scene {
    std::vector<uint32_t> pixels = std::vector<uint32_t>(kW * kH, 0xFF000000);
    std::vector<uint32_t> texture = std::vector<uint32_t>(kW * kH);
    std::vector<uint8_t> mask = std::vector<uint8_t>(2 * kH, 0x0F);
    std::vector<uint8_t> alpha = std::vector<uint8_t>(kW * kH, 9);
    std::vector<uint8_t> clipMask = std::vector<uint8_t>(2 * kH, 0xFF);
    PlotContext c{};
    Scene()
    {
        for (int32_t i = 0; i < kW * kH; ++i) texture[i] = 0x010101u * static_cast<uint32_t>(i);
        c.pixels = reinterpret_cast<uint8_t*>(pixels.data());
        c.rowLength = kW, c.bytesPerPixel = 4, c.format = PIXFMT_ARGB;
        c.colour = 0xFFFFFFFF, c.pixel = 0x00FFFFFF, c.opacity = 255, c.factor = 128;
    }
    void UseMask(uint32_t op) { c.maskPlane = mask.data(), c.maskBytesPerRow = 2, c.maskOp = op; }
    void UseAlpha() { c.alphaPlane = alpha.data(), c.alphaBytesPerRow = kW; }
    void Clip(int32_t x, int32_t y, int32_t w, int32_t h)
    {
        c.clipping = 1, c.clipX = x, c.clipY = y, c.clipWidth = w, c.clipHeight = h;
    }
};

TEST(PlotContext, BlendedPixelCases)
{
    struct Case {
        const char* name;
        void (*setup)(Scene&);
        uint32_t pixel;  // expected at (3, 2)
        uint8_t alpha;   // expected alpha byte at (3, 2)
        uint8_t maskByte;  // expected mask byte of row 2
    };
    const Case cases[] = {
        {"blend at 128: white over black gives 127, alpha byte 0", [](Scene&) {}, 0x007F7F7F, 9, 0x0F},
        {"factor 255 writes the pixel value", [](Scene& s) { s.c.factor = 255; }, 0x00FFFFFF, 9, 0x0F},
        {"alpha target: unblended colour, the plane takes the factor", [](Scene& s) { s.UseAlpha(); },
         0x00FFFFFF, 128, 0x0F},
        {"mask target: visible sets the bit", [](Scene& s) { s.UseMask(MASKVISIBLE); }, 0x007F7F7F, 9, 0x1F},
        {"mask target: xor inverts it", [](Scene& s) { s.UseMask(MASKXOR); }, 0x007F7F7F, 9, 0x1F},
        {"texture: its pixel at the same place",
         [](Scene& s) {
             s.c.texture = reinterpret_cast<const uint8_t*>(s.texture.data());
             s.c.textureRowLength = kW;
             s.c.factor = 255;
         },
         0x010101u * (2 * kW + 3), 9, 0x0F},
        {"outside the clip rectangle: nothing",
         [](Scene& s) {
             s.Clip(4, 0, 3, kH);
             s.UseAlpha();
             s.UseMask(MASKVISIBLE);
         },
         0xFF000000, 9, 0x0F},
        {"clip mask bit clear: nothing",
         [](Scene& s) {
             s.Clip(1, 1, 8, 4);
             s.clipMask[2] = 0xDF;  // clip row 1, column 2
             s.c.clipMask = s.clipMask.data();
             s.c.clipMaskBytesPerRow = 2;
             s.c.factor = 255;
         },
         0xFF000000, 9, 0x0F},
    };
    for (const Case& t : cases) {
        Scene s;
        t.setup(s);
        PlotBlendedPixel(&s.c, 3, 2);
        EXPECT_EQ(s.pixels[2 * kW + 3], t.pixel) << t.name;
        EXPECT_EQ(s.alpha[2 * kW + 3], t.alpha) << t.name;
        EXPECT_EQ(s.mask[4], t.maskByte) << t.name;
        for (int32_t i = 0; i < kW * kH; ++i) {
            if (i != 2 * kW + 3) {
                ASSERT_EQ(s.pixels[i], 0xFF000000u) << t.name << " " << i;
            }
        }
    }
}

// A clip mask of all ones forces the pixel-by-pixel path.
TEST(PlotContext, CoverageMapRowsMatchSinglePixels)
{
    uint32_t seed = 8;
    const int32_t w = 41, h = 9, mapW = 29, mapH = 7;
    std::vector<uint8_t> map(static_cast<size_t>(mapW) * mapH);
    for (auto& b : map) {
        uint32_t r = Lcg(seed);
        b = static_cast<uint8_t>(r % 3 == 0 ? 0 : r % 3 == 1 ? 255 : r >> 8);
    }
    std::vector<uint8_t> ones(static_cast<size_t>(8) * h, 0xFF);
    for (uint32_t format : {10u, 12u, 4u, 1u})
        for (uint32_t opacity : {255u, 140u})
            for (int solid = 0; solid < 2; ++solid) {
                uint32_t bpp = PixelFormatBytes(format);
                std::vector<uint32_t> start(static_cast<size_t>(w) * h);
                for (auto& p : start) p = Lcg(seed);
                std::vector<uint32_t> results[2];
                for (int slow = 0; slow < 2; ++slow) {
                    results[slow] = start;
                    PlotContext c{};
                    c.pixels = reinterpret_cast<uint8_t*>(results[slow].data());
                    c.rowLength = bpp == 4 ? w : 2 * w, c.bytesPerPixel = bpp, c.format = format;
                    c.pixel = ArgbToPixel(0xFF20C0E0, format, 0), c.opacity = opacity, c.factor = 99;
                    c.clipping = 1, c.clipX = 2, c.clipY = 1, c.clipWidth = 30, c.clipHeight = 7;
                    if (slow) c.clipMask = ones.data(), c.clipMaskBytesPerRow = 8;
                    PlotCoverageMap(map.data(), -3, 2, &c, mapW, mapH, mapW, solid);
                }
                EXPECT_EQ(results[0], results[1]) << format << " " << opacity << " " << solid;
                EXPECT_NE(results[0], start);
            }
}

}  // namespace
