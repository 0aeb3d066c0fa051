// Alpha-plane modes against floating-point formulas; coverage modes against golden values.
#include <gtest/gtest.h>

#include <cmath>

#include "gfx/bitmaps/bitmap.h"
#include "gfx/bitmaps/pixel_formats.h"
#include "gfx/blits/alpha_blits.h"
#include "gfx/picture_test_helpers.h"

namespace {

using namespace picture_test;

// The plane modes as the rules read, in floating point.
int ExpectedPlaneByte(uint32_t mode, int s, int d, uint32_t v)
{
    switch (mode) {
    case 0: return s;
    case 1: return s != 0 ? s : d;
    case 2: return s != 0 ? 255 - s : d;
    case 3: return s != 0 ? 255 : d;
    // Values above 255 saturate rather than wrap.
    case 4: return s != 0 ? std::min(255, static_cast<int>(std::floor(s * double(v) / 255.0))) : d;
    case 5: return s != 0 && d != 0 ? 255 - s : d;
    case 6: return s != 0 ? static_cast<int>(v % 256) : d;
    case 7: return s != 0 && d != 0 ? s : 0;
    case 8: return s == 255 ? 255 : d;
    case 9:
        if (s == 255) return 255;
        if (s == 0) return d;
        return std::min(255L, std::lround((s * 255.0 + (255.0 - s) * d) / 255.0));
    }
    return -1;
}

TEST(BltAlphaPlane, EveryModeOverAllBytePairs)
{
    for (uint32_t value : {77u, 255u, 300u}) {
        for (uint32_t mode = 0; mode < 10; ++mode) {
            Owned own;
            BitMapHandle* src = own(AllocAlphaBitMap(256, 256, 1, nullptr, 0));
            BitMapHandle* dst = own(AllocAlphaBitMap(256, 256, 1, nullptr, 0));
            ASSERT_TRUE(src && dst);
            for (int y = 0; y < 256; ++y)
                for (int x = 0; x < 256; ++x) {
                    AlphaRow(src, y)[x] = static_cast<uint8_t>(x);
                    AlphaRow(dst, y)[x] = static_cast<uint8_t>(y);
                }
            BltAlphaPlane(src, 0, 0, dst, 0, 0, 256, 256, mode, value);
            int wrong = 0;
            for (int y = 0; y < 256; ++y)
                for (int x = 0; x < 256; ++x)
                    if (AlphaRow(dst, y)[x] != ExpectedPlaneByte(mode, x, y, value) && ++wrong < 4)
                        ADD_FAILURE() << "mode " << mode << " v " << value << " s " << x << " d " << y
                                      << " got " << int(AlphaRow(dst, y)[x]);
            EXPECT_EQ(wrong, 0) << "mode " << mode;
        }
    }
}

TEST(BltAlphaPlane, ClippedVariantCutsAndRefusesNegativeSources)
{
    Owned own;
    BitMapHandle* src = own(Alpha(8, 8, 200));
    BitMapHandle* dst = own(Alpha(8, 8, 0));
    // A destination at x -3 takes source columns from 3 on.
    AlphaRow(src, 0)[3] = 9;
    ClipBltAlphaPlane(src, 0, 0, dst, -3, 0, 8, 1, 8, 8, 8, 8, 0, 0);
    EXPECT_EQ(std::vector<uint8_t>(AlphaRow(dst, 0), AlphaRow(dst, 0) + 8),
              (std::vector<uint8_t>{9, 200, 200, 200, 200, 0, 0, 0}));
    // A source position below 0 would read before the plane: nothing.
    ClipBltAlphaPlane(src, -1, 0, dst, 0, 1, 4, 1, 8, 8, 8, 8, 0, 0);
    EXPECT_EQ(AlphaRow(dst, 1)[0], 0);
    BltAlphaPlane(src, 4, 4, dst, 4, 4, 100, 100, 3, 0);
    EXPECT_EQ(AlphaRow(dst, 7)[7], 255);
}

struct CoverageCase {
    const char* name;
    uint32_t mode;
    uint8_t coverage;
    uint32_t dstColour;
    int dstAlpha;  // -1: no alpha plane
    uint32_t factor, wantColour;
    int wantAlpha;
};

TEST(BltAlphaChannel, CoverageModesGiveGoldenValues)
{
    const CoverageCase cases[] = {
        {"solid writes at any coverage", 0, 1, 0x000000, -1, 255, 0xFFFFFF, -1},
        {"solid leaves zero coverage", 0, 0, 0x123456, -1, 255, 0x123456, -1},
        {"blend at 128 floors 127.5", 1, 128, 0x000000, -1, 255, 0x7F7F7F, -1},
        {"blend at 0 leaves", 1, 0, 0x00FF00, -1, 255, 0x00FF00, -1},
        {"65 levels: 32 blends at 128", 4, 32, 0x000000, -1, 255, 0x7F7F7F, -1},
        {"65 levels: 128 wraps to 0 and leaves", 4, 128, 0x000000, -1, 255, 0x000000, -1},
        // An opaque destination stays opaque under a half-covered edge.
        {"composite keeps opaque alpha", 2, 128, 0x000000, 255, 255, 0x7F7F7F, 255},
        {"composite over partial alpha", 2, 128, 0x000000, 100, 255, 0x7F7F7F, 177},
        {"composite with factor 128", 2, 128, 0x000000, 100, 128, 0x7F7F7F, 138},
        {"composite factor on empty alpha", 2, 200, 0x000000, 0, 128, 0xFFFFFF, 100},
    };
    for (const CoverageCase& c : cases) {
        SCOPED_TRACE(c.name);
        Owned own;
        BitMapHandle* dst = own(Colour(4, 1, c.dstColour));
        BitMapHandle* cov = own(Alpha(4, 1, c.coverage));
        BitMapHandle* da = own(c.dstAlpha >= 0 ? Alpha(4, 1, static_cast<uint8_t>(c.dstAlpha)) : nullptr);
        BltAlphaChannel(cov, 0, 0, dst, 1, 0, 2, 1, 0xFFFFFFFF, c.mode, da, c.factor, nullptr, 0, nullptr, nullptr, 0);
        uint32_t kept = c.dstColour & 0xFFFFFF;
        EXPECT_EQ((std::vector<uint32_t>{Get(dst, 0, 0), Get(dst, 1, 0), Get(dst, 2, 0), Get(dst, 3, 0)}),
                  (std::vector<uint32_t>{kept, c.wantColour, c.wantColour, kept}));
        if (da) {
            EXPECT_EQ(AlphaRow(da, 0)[1], c.wantAlpha);
            EXPECT_EQ(AlphaRow(da, 0)[3], c.dstAlpha);
        }
    }
}

TEST(BltAlphaChannel, SourcePixelsReplaceTheColour)
{
    Owned own;
    BitMapHandle* src = own(Colour(4, 4, 0x102030));
    Put(src, 2, 1, 0xA0B0C0);
    BitMapHandle* dst = own(Colour(4, 4, 0));
    BitMapHandle* cov = own(Alpha(4, 4, 255));
    // Cut to the 4 x 4 pictures: only (2, 1) -> (0, 0) .. (1, 2) is drawn.
    BltAlphaChannel(cov, 2, 1, dst, 0, 0, 9, 9, 0xFFFFFF, 1, nullptr, 255, nullptr, 0, src, nullptr, 0);
    EXPECT_EQ(Get(dst, 0, 0), 0xA0B0C0u);
    EXPECT_EQ(Get(dst, 1, 2), 0x102030u);
    EXPECT_EQ(Get(dst, 2, 0), 0u);
    EXPECT_EQ(Get(dst, 0, 3), 0u);
}

TEST(BltAlphaChannel, ClippedVariantMovesTheCoverageWithTheDestination)
{
    Owned own;
    BitMapHandle* dst = own(Colour(4, 1, 0));
    BitMapHandle* cov = own(Alpha(4, 1, 0));
    AlphaRow(cov, 0)[2] = 255;
    ClipBltAlphaChannel(cov, 0, 0, dst, -2, 0, 4, 1, 4, 1, 4, 1, 0xFF0000, 0, nullptr, 255, nullptr, 0, nullptr);
    EXPECT_EQ(Get(dst, 0, 0), 0xFF0000u);
    EXPECT_EQ(Get(dst, 1, 0), 0u);
    ClipBltAlphaChannel(cov, -1, 0, dst, 2, 0, 2, 1, 4, 1, 4, 1, 0xFF0000, 0, nullptr, 255, nullptr, 0, nullptr);
    EXPECT_EQ(Get(dst, 3, 0), 0u);
}

}  // namespace
