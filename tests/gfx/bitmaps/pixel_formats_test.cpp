// Pixel formats against layouts built from bit-field tables, not the converters' shifts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "gfx/bitmaps/pixel_formats.h"

namespace {

// One channel's place in a pixel value: its lowest bit and width.
struct Field { int shift, bits; };

// Channel fields of every format in the order a, r, g, b (bits 0 = absent),
// and whether the 16-bit value has its two bytes swapped.
struct Layout { Field a, r, g, b; bool swapped; };

const Layout kLayouts[14] = {
    {{0, 0}, {10, 5}, {5, 5}, {0, 5}, false},   {{0, 0}, {0, 5}, {5, 5}, {10, 5}, false},
    {{0, 0}, {10, 5}, {5, 5}, {0, 5}, true},    {{0, 0}, {0, 5}, {5, 5}, {10, 5}, true},
    {{0, 0}, {11, 5}, {5, 6}, {0, 5}, false},   {{0, 0}, {0, 5}, {5, 6}, {11, 5}, false},
    {{0, 0}, {11, 5}, {5, 6}, {0, 5}, true},    {{0, 0}, {0, 5}, {5, 6}, {11, 5}, true},
    {{0, 0}, {16, 8}, {8, 8}, {0, 8}, false},   {{0, 0}, {0, 8}, {8, 8}, {16, 8}, false},
    {{24, 8}, {16, 8}, {8, 8}, {0, 8}, false},  {{0, 8}, {8, 8}, {16, 8}, {24, 8}, false},
    {{0, 8}, {24, 8}, {16, 8}, {8, 8}, false},  {{24, 8}, {0, 8}, {8, 8}, {16, 8}, false},
};

uint32_t Put(uint32_t channel, Field f) { return f.bits ? (channel >> (8 - f.bits)) << f.shift : 0; }
uint32_t Get(uint32_t value, Field f)
{
    return f.bits ? ((value >> f.shift) & ((1u << f.bits) - 1)) << (8 - f.bits) : 0;
}
uint32_t Swap(uint32_t v) { return ((v & 0xFF) << 8) | (v >> 8); }

uint32_t RefPack(uint32_t argb, uint32_t format, bool keepAlpha)
{
    const Layout& l = kLayouts[format];
    uint32_t v = Put(keepAlpha ? argb >> 24 : 0, l.a) | Put((argb >> 16) & 0xFF, l.r) |
                 Put((argb >> 8) & 0xFF, l.g) | Put(argb & 0xFF, l.b);
    return l.swapped ? Swap(v) : v;
}

uint32_t RefUnpack(uint32_t v, uint32_t format, bool keepAlpha)
{
    const Layout& l = kLayouts[format];
    if (l.swapped) v = Swap(v);
    uint32_t a = keepAlpha ? Get(v, l.a) : 0;
    return (a << 24) | (Get(v, l.r) << 16) | (Get(v, l.g) << 8) | Get(v, l.b);
}

std::vector<uint32_t> SampleColours()
{
    std::vector<uint32_t> colours = {0, 0xFFFFFFFF, 0x80FF8040, 0x01020304, 0xFF000000, 0x00FFFFFF};
    uint32_t x = 12345;
    for (int i = 0; i < 4000; ++i) {
        x = x * 1103515245u + 12345u;
        colours.push_back(x ^ (x >> 13));
    }
    return colours;
}

TEST(PixelFormats, PackAndUnpackMatchTheReferenceAndRoundTrip)
{
    for (uint32_t c : SampleColours()) {
        for (uint32_t f = 0; f < 14; ++f) {
            for (int keep = 0; keep < 2; ++keep) {
                uint32_t packed = ArgbToPixel(c, f, keep);
                ASSERT_EQ(packed, RefPack(c, f, keep && f >= 10)) << std::hex << c << " format " << std::dec << f;
                if (f == 8 || f == 9) continue;
                uint32_t back = PixelToArgb(packed, f, keep);
                ASSERT_EQ(back, RefUnpack(packed, f, keep && f >= 10)) << f;
                // The colour's top bits survive the trip.
                ASSERT_EQ(ArgbToPixel(back, f, keep), packed) << f;
            }
        }
    }
    EXPECT_EQ(ArgbToPixel(0x12345678, 14, 1), 0u);
    EXPECT_EQ(PixelToArgb(0x123456, 8, 0), 0u);
    EXPECT_EQ(PixelToArgb(0x123456, 9, 1), 0u);
}

TEST(PixelFormats, SixteenBitKernelConversionsOverAllValues)
{
    for (uint32_t v = 0; v < 65536; ++v) {
        for (uint32_t f = 0; f < 8; ++f) {
            uint32_t packed = PixelToFormat16(f, v);
            // The reference through ARGB: widen, pack, unpack, narrow.
            uint32_t argb = Rgb565ToArgb(v);
            ASSERT_EQ(packed, RefPack(argb, f, false)) << v << " " << f;
            uint32_t back = PixelFromFormat16(f, packed);
            uint32_t expect = f >= 4 ? v : (v & ~0x20u);  // 15-bit formats lose green's low bit
            ASSERT_EQ(back, expect) << v << " " << f;
        }
        EXPECT_EQ(PixelToFormat16(9, v), v);
    }
}

TEST(PixelFormats, ThirtyTwoBitKernelConversionsDropAlpha)
{
    for (uint32_t c : SampleColours()) {
        EXPECT_EQ(PixelToFormat32(10, c), c);
        EXPECT_EQ(PixelFromFormat32(10, c), c);
        for (uint32_t f = 11; f < 14; ++f) {
            uint32_t packed = PixelToFormat32(f, c);
            ASSERT_EQ(packed, RefPack(c, f, false)) << f;
            ASSERT_EQ(PixelFromFormat32(f, packed), c & 0xFFFFFF) << f;
            ASSERT_EQ(PixelFromFormat32(f, RefPack(c, f, true)), c & 0xFFFFFF) << f;
        }
    }
}

TEST(PixelFormats, RowKernelsAgreeWithSinglePixels)
{
    std::vector<uint32_t> colours = SampleColours();
    int32_t n = static_cast<int32_t>(colours.size());
    for (uint32_t f = 0; f < 14; ++f) {
        const PixelRowKernels* k = GetPixelRowKernels(f);
        ASSERT_NE(k, nullptr);
        uint32_t bpp = PixelFormatBytes(f);
        for (int keep = 0; keep < 2; ++keep) {
            std::vector<uint8_t> bytes(n * bpp);
            k->fromArgb(colours.data(), bytes.data(), n, keep);
            std::vector<uint32_t> back(n);
            k->toArgb(bytes.data(), back.data(), n, keep);
            for (int32_t i = 0; i < n; ++i) {
                uint32_t expect = ArgbToPixel(colours[i], f, keep);
                uint32_t stored = 0;
                if (bpp == 3) {
                    // Format 8 is stored red first, 9 blue first: the value's
                    // bits 16-23 first in both.
                    stored = (uint32_t{bytes[3 * i]} << 16) | (uint32_t{bytes[3 * i + 1]} << 8) |
                             bytes[3 * i + 2];
                } else {
                    std::memcpy(&stored, &bytes[i * bpp], bpp);
                }
                ASSERT_EQ(stored, expect) << "format " << f << " pixel " << i;
                uint32_t want = bpp == 3 ? colours[i] & 0xFFFFFF : PixelToArgb(expect, f, keep);
                ASSERT_EQ(back[i], want) << "format " << f << " pixel " << i;
            }
        }
    }
    EXPECT_EQ(GetPixelRowKernels(14), nullptr);
}

TEST(PixelFormats, RectToArgbKeepsAlphaOnlyWhereTheLayoutSaysSo)
{
    const uint32_t c = 0x80FF8040;
    for (uint32_t f : {4u, 10u, 11u, 12u, 13u, 0u, 8u}) {
        uint32_t bpp = PixelFormatBytes(f);
        std::vector<uint8_t> pixels(5 * 3 * bpp);
        uint32_t v = ArgbToPixel(c, f, 1);
        for (size_t i = 0; i < 15; ++i) std::memcpy(&pixels[i * bpp], &v, bpp == 3 ? 3 : bpp);
        std::vector<uint32_t> out(6, 0xDEADBEEF);
        ConvertRectToArgb(pixels.data(), out.data(), 1, 1, 3, 2, 5, bpp, f);
        uint32_t expect = f == 10 || f == 11 ? c : f == 4 ? 0x00F88040 : f >= 12 ? c & 0xFFFFFF : 0xDEADBEEF;
        for (uint32_t got : out) EXPECT_EQ(got, expect) << f;
    }
}

TEST(PixelFormats, BlendRuleOnEveryPairAndAlpha)
{
    for (uint32_t a = 0; a < 256; ++a)
        for (uint32_t s = 0; s < 256; ++s)
            for (uint32_t d = 0; d < 256; ++d) {
                double exact = d + std::floor((static_cast<double>(s) - d) * a / 256.0);
                ASSERT_EQ(BlendChannel(d, s, a), static_cast<uint32_t>(exact)) << d << " " << s << " " << a;
            }
    // The packed three-channel blend agrees with the channel rule, each
    // channel against a different partner.
    for (uint32_t a = 0; a <= 256; ++a)
        for (uint32_t v = 0; v < 256; ++v)
            for (uint32_t u = 0; u < 256; u += 3) {
                uint32_t d = (v << 16) | (u << 8) | (255 - v), s = (u << 16) | ((255 - u) << 8) | v;
                uint32_t expect = (BlendChannel(v, u, a) << 16) | (BlendChannel(u, 255 - u, a) << 8) |
                                  BlendChannel(255 - v, v, a);
                ASSERT_EQ(BlendArgb(d | 0xAB000000, s | 0x12000000, a), expect) << a;
            }
}

TEST(PixelFormats, AlphaBytesComeFromTheTopByteOfEachPixel)
{
    // 3 x 2 pixels of rows of 4, into a plane of rows of 5 whose padding
    // must stay.
    const uint32_t argb[8] = {0x01000000, 0xFF123456, 0x80FFFFFF, 0x7F000000,
                              0x00FFFFFF, 0x10000001, 0xFE000000, 0x55555555};
    std::vector<uint8_t> plane(10, 0xEE);
    ExtractAlphaBytes(argb, 3, 2, 4, plane.data(), 5);
    EXPECT_EQ(plane, (std::vector<uint8_t>{0x01, 0xFF, 0x80, 0xEE, 0xEE, 0x00, 0x10, 0xFE, 0xEE, 0xEE}));
}

}  // namespace
