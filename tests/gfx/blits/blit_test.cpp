// Blits and plane operations against naive per-pixel references.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "gfx/bitmaps/bitmap.h"
#include "gfx/bitmaps/bitmap_ops.h"
#include "gfx/blits/plane_ops.h"
#include "gfx/blits/soft_blit.h"
#include "gfx/picture_test_helpers.h"

namespace {

using namespace picture_test;

// A colour bitmap of random pixels, locked for direct access while it lives.
struct Picture {
    BitMapHandle* bm = nullptr;
    BitMapLock lock{};
    Picture(int32_t w, int32_t h, uint32_t seed) : bm(AllocColorBitMap(w, h, 0, nullptr))
    {
        EXPECT_NE(bm, nullptr);
        LockBitMapPixels(bm, 0, &lock);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < lock.rowLength; ++x) *px(x, y) = Lcg(seed);
    }
    Picture(const Picture&) = delete;
    ~Picture()
    {
        UnlockBitMapPixels(&lock);
        FreeColorBitMap(bm);
    }
    uint32_t* px(int32_t x, int32_t y) { return reinterpret_cast<uint32_t*>(lock.pixels) + lock.rowLength * y + x; }
};

std::vector<uint32_t> Snapshot(Picture& p)
{
    std::vector<uint32_t> out;
    for (int32_t y = 0; y < p.lock.height; ++y)
        for (int32_t x = 0; x < p.lock.width; ++x) out.push_back(*p.px(x, y));
    return out;
}

// The bytes of an alpha plane, rows without padding.
std::vector<uint8_t> AlphaBytes(BitMapHandle* a)
{
    std::vector<uint8_t> out;
    for (int32_t y = 0; y < a->height; ++y) out.insert(out.end(), AlphaRow(a, y), AlphaRow(a, y) + a->width);
    return out;
}

void RandomPlane(BitMapHandle* plane, uint32_t seed)
{
    bool alpha = plane->kind == BITMAP_ALPHA;
    uint8_t* bits = PlanePixels(plane);
    for (size_t i = 0; i < PlaneRow(plane) * static_cast<size_t>(plane->height); ++i) {
        uint32_t r = Lcg(seed);
        bits[i] = static_cast<uint8_t>(alpha && r % 3 == 0 ? 255 : alpha && r % 3 == 1 ? 0 : r >> 8);
    }
}

TEST(Blits, RandomRectanglesMatchTheNaiveReference)
{
    uint32_t seed = 99;
    for (int round = 0; round < 300; ++round) {
        Picture src(13, 9, round);
        Picture dst(11, 10, round + 1000);
        Owned own;
        BitMapHandle* mask = own(AllocMaskBitMap(src.bm, 13, 9, 0, nullptr, 0));
        BitMapHandle* alpha = own(AllocAlphaBitMap(13, 9, 0, nullptr, 0));
        RandomPlane(mask, Lcg(seed));
        RandomPlane(alpha, Lcg(seed));
        int32_t sx = static_cast<int32_t>(Lcg(seed) % 24) - 6, sy = static_cast<int32_t>(Lcg(seed) % 20) - 5;
        int32_t dx = static_cast<int32_t>(Lcg(seed) % 24) - 6, dy = static_cast<int32_t>(Lcg(seed) % 20) - 5;
        int32_t w = static_cast<int32_t>(Lcg(seed) % 16), h = static_cast<int32_t>(Lcg(seed) % 14);
        int kind = round % 3;

        std::vector<uint32_t> before = Snapshot(dst);
        std::vector<uint32_t> expect = before;
        for (int32_t j = 0; j < h; ++j)
            for (int32_t i = 0; i < w; ++i) {
                int32_t x = sx + i, y = sy + j, tx = dx + i, ty = dy + j;
                if (x < 0 || y < 0 || x >= 13 || y >= 9 || tx < 0 || ty < 0 || tx >= 11 || ty >= 10)
                    continue;
                uint32_t s = *src.px(x, y);
                uint32_t& d = expect[ty * 11 + tx];
                if (kind == 0) {
                    d = s;
                } else if (kind == 1) {
                    if (MaskAt(mask, x, y)) d = s;
                } else {
                    uint32_t a = AlphaAt(alpha, x, y);
                    if (a == 255) {
                        d = s;
                    } else if (a != 0) {
                        uint32_t out = 0;
                        for (int c = 0; c < 24; c += 8) {
                            int sc = (s >> c) & 0xFF, dc = (d >> c) & 0xFF;
                            int v = dc + static_cast<int>(std::floor((sc - dc) * static_cast<int>(a) / 256.0));
                            out |= static_cast<uint32_t>(v) << c;
                        }
                        d = out;
                    }
                }
            }
        if (kind == 0) BltBitMapRect(src.bm, sx, sy, dst.bm, dx, dy, w, h);
        else if (kind == 1) BltBitMapMask(src.bm, sx, sy, dst.bm, dx, dy, w, h, mask);
        else BltBitMapMasked(src.bm, sx, sy, dst.bm, dx, dy, w, h, alpha);
        ASSERT_EQ(Snapshot(dst), expect) << "round " << round;
    }
}

TEST(Blits, AlphaBlendEdgesAndFormats)
{
    uint8_t alpha[4] = {128, 255, 1, 0};
    // 32-bit ARGB: white over black at 128 gives 127; 255 keeps the source's
    // own alpha byte; other values store alpha 0.
    uint32_t src[4] = {0xFFFFFFFF, 0x7F123456, 0xFFFFFFFF, 0xFFFFFFFF};
    uint32_t dst[4] = {0xFF000000, 0, 0xFF000000, 0xAA000000};
    SoftBltRectEx(src, 0, 0, dst, 0, 0, 4, 1, 4, 4, alpha, 4, nullptr, 0, 10, 4, BLEND_ALPHA);
    EXPECT_EQ(std::vector<uint32_t>(dst, dst + 4), (std::vector<uint32_t>{0x007F7F7F, 0x7F123456, 0, 0xAA000000}));

    uint32_t s11 = ArgbToPixel(0xFFFFFFFF, 11, 0), d11 = ArgbToPixel(0x00000000, 11, 0);
    SoftBltRectEx(&s11, 0, 0, &d11, 0, 0, 1, 1, 1, 1, alpha, 4, nullptr, 0, 11, 4, BLEND_ALPHA);
    EXPECT_EQ(PixelToArgb(d11, 11, 0), 0x007F7F7Fu);
    // RGB565 widens by shifting and truncates back: white 0xF8/0xFC channels.
    for (uint32_t f : {4u, 5u, 0u, 3u}) {
        uint16_t s16 = static_cast<uint16_t>(ArgbToPixel(0xFFFFFF, f, 0));
        uint16_t d16 = 0;
        SoftBltRectEx(&s16, 0, 0, &d16, 0, 0, 1, 1, 1, 1, alpha, 4, nullptr, 0, f, 2, BLEND_ALPHA);
        uint32_t g = f < 4 ? 0x78 : 0x7C;  // 15-bit green is widened from 5 bits
        EXPECT_EQ(PixelToArgb(d16, f, 0), (0x78u << 16) | (g << 8) | 0x78u) << f;
    }

    // 24-bit pixels and unknown modes draw nothing.
    uint8_t rgb[3] = {1, 2, 3}, out[3] = {9, 9, 9};
    SoftBltRectEx(rgb, 0, 0, out, 0, 0, 1, 1, 1, 1, alpha + 1, 4, nullptr, 0, 8, 3, BLEND_ALPHA);
    EXPECT_EQ(out[0], 9);
    uint32_t d = 5, s = 6;
    SoftBltRectEx(&s, 0, 0, &d, 0, 0, 1, 1, 1, 1, alpha + 1, 4, nullptr, 0, 10, 4, 3);
    EXPECT_EQ(d, 5u);
}

TEST(Blits, CopyWhereAlphaAndCompositeOverAlpha)
{
    uint8_t sa[3] = {0, 7, 255};
    uint32_t src[3] = {0x111111, 0x222222, 0x333333};
    uint32_t dst[3] = {0xAAAAAA, 0xBBBBBB, 0xCCCCCC};
    SoftBltRectEx(src, 0, 0, dst, 0, 0, 3, 1, 3, 3, sa, 4, nullptr, 0, 10, 4, BLEND_COPY_WHERE);
    EXPECT_EQ(std::vector<uint32_t>(dst, dst + 3), (std::vector<uint32_t>{0xAAAAAA, 0x222222, 0x333333}));
    // Over a transparent destination the source colour comes through whole
    // and the coverage becomes the source's.
    uint8_t sa2[4] = {0, 128, 255, 128}, da[4] = {40, 0, 10, 255};
    uint32_t s2[4] = {0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF}, d2[4] = {0, 0, 0, 0};
    SoftBltRectEx(s2, 0, 0, d2, 0, 0, 4, 1, 4, 4, sa2, 4, da, 4, 10, 4, BLEND_COMPOSITE);
    d2[1] &= 0xFFFFFF, d2[3] &= 0xFFFFFF;
    // Over an opaque destination (the last pixel): the plain blend.
    EXPECT_EQ(std::vector<uint32_t>(d2, d2 + 4), (std::vector<uint32_t>{0, 0xFFFFFF, 0xFFFFFF, 0x7F7F7F}));
    EXPECT_EQ(std::vector<uint8_t>(da, da + 4), (std::vector<uint8_t>{40, 128, 255, 255}));
}

TEST(Blits, FillsAreClippedAndSkip24Bit)
{
    Picture p(5, 4, 3);
    std::vector<uint32_t> expect = Snapshot(p);
    for (int32_t y = 2; y < 4; ++y)
        for (int32_t x = 0; x < 2; ++x) expect[y * 5 + x] = 0x00ABCDEF;
    FillBitMapRect(p.bm, -3, 2, 5, 100, 0xFFABCDEF);
    EXPECT_EQ(Snapshot(p), expect);
    FillBitMapRect(p.bm, 5, 0, 3, 3, 0);
    FillBitMapRect(p.bm, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 0);
    EXPECT_EQ(Snapshot(p), expect);

    uint8_t rgb[6] = {1, 2, 3, 4, 5, 6};
    SoftRectFill(rgb, 0, 0, 2, 1, 0xFFFFFF, 255, 2, 8);
    EXPECT_EQ(std::vector<uint8_t>(rgb, rgb + 6), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
    // Opacity below 255 tints toward the colour.
    uint32_t px = 0;
    SoftRectFill(&px, 0, 0, 1, 1, 0xFFFFFF, 128, 1, 10);
    EXPECT_EQ(px, 0x7F7F7Fu);
}

TEST(PlaneOps, MaskOperationsFollowTheirTruthTables)
{
    // Destination bit d, source bit s -> result for ops 0..5.
    const bool table[6][4] = {
        {false, true, true, true},   // visible: d | s
        {false, false, true, false}, // invisible: d & !s
        {false, true, false, true},  // vanilla copy: s
        {false, true, true, false},  // xor
        {false, false, false, true}, // and
        {false, true, true, true},   // or
    };
    Owned own;
    BitMapHandle* src = own(AllocMaskBitMap(nullptr, 4, 1, 1, nullptr, 0));
    BitMapHandle* dst = own(AllocMaskBitMap(nullptr, 4, 1, 1, nullptr, 0));
    ASSERT_TRUE(src && dst);
    for (uint32_t op = 0; op < 7; ++op) {
        // Pixels 0..3 hold (d, s) = (0,0) (0,1) (1,0) (1,1).
        PlanePixels(src)[0] = 0x50;
        PlanePixels(dst)[0] = 0x30;
        BltMaskPlane(src, 0, 0, dst, 0, 0, 4, 1, op, nullptr, 0);
        for (int32_t x = 0; x < 4; ++x)
            EXPECT_EQ(MaskAt(dst, x, 0), op < 6 ? table[op][x] : (x >= 2)) << op << " " << x;
    }
}

TEST(PlaneOps, FillsAndConversionsBetweenPlanes)
{
    Owned own;
    BitMapHandle* mask = own(AllocMaskBitMap(nullptr, 20, 3, 1, nullptr, 0));
    BitMapHandle* alpha = own(AllocAlphaBitMap(20, 3, 1, nullptr, 0));
    ASSERT_TRUE(mask && alpha);
    uint32_t seed = 5;
    for (uint32_t i = 0; i < PlaneRow(mask) * 3; ++i) PlanePixels(mask)[i] = static_cast<uint8_t>(Lcg(seed));
    std::vector<uint8_t> start(PlanePixels(mask), PlanePixels(mask) + PlaneRow(mask) * 3);
    FillMaskPlane(mask, 3, 0, 14, 3, MASKXOR);
    EXPECT_NE(std::vector<uint8_t>(PlanePixels(mask), PlanePixels(mask) + start.size()), start);
    FillMaskPlane(mask, 3, 0, 14, 3, MASKXOR);
    FillMaskPlane(mask, -5, -5, 100, 100, MASKAND);
    EXPECT_EQ(std::vector<uint8_t>(PlanePixels(mask), PlanePixels(mask) + start.size()), start);
    // Alpha to mask: only 255 counts as set for MASKVISIBLE.
    FillMaskPlane(mask, 0, 0, 20, 3, MASKVISIBLE);
    for (int32_t x = 0; x < 20; ++x) AlphaAt(alpha, x, 1) = x == 4 ? 255 : static_cast<uint8_t>(x * 13);
    CombineAlphaWithMask(alpha, 0, 1, mask, 0, 1, 20, 1, MASKVISIBLE);
    for (int32_t x = 0; x < 20; ++x) EXPECT_EQ(MaskAt(mask, x, 1), x == 4) << x;
    EXPECT_TRUE(MaskAt(mask, 0, 0));
    // Mask to alpha, clearing or keeping the unset pixels.
    FillAlphaPlane(alpha, 0, 0, 20, 3, 9);
    MaskToAlpha(mask, 0, 1, alpha, 0, 0, 20, 1, 200);
    SetAlphaThroughMask(mask, 0, 1, alpha, 0, 2, 20, 1, 77);
    for (int32_t x = 0; x < 20; ++x) {
        EXPECT_EQ(AlphaAt(alpha, x, 0), x == 4 ? 200 : 0);
        EXPECT_EQ(AlphaAt(alpha, x, 2), x == 4 ? 77 : 9);
    }

    AlphaAt(alpha, 0, 0) = 255;
    AlphaAt(alpha, 1, 0) = 1;
    CopyAlphaPlane(alpha, alpha, 3, 128);
    EXPECT_EQ(AlphaAt(alpha, 0, 0), 128);
    EXPECT_EQ(AlphaAt(alpha, 1, 0), 0);
    CopyAlphaPlane(alpha, alpha, 3, 1000);
    EXPECT_EQ(AlphaAt(alpha, 0, 0), 255);
}

TEST(PlaneOps, MaskedColourFillAndBorrowedPlanes)
{
    Picture p(9, 2, 8);
    std::vector<uint32_t> expect = Snapshot(p);
    uint8_t bits[4] = {0xA0, 0x80, 0, 0};  // row of 16 bits: pixels 0, 2, 8
    BitMapPlane* plane = BorrowMaskPlane(p.bm, bits);
    EXPECT_EQ(plane->bytesPerRow, 2u);  // 12-pixel rows
    Owned own;
    BitMapHandle* mask = own(AllocMaskBitMap(nullptr, 9, 2, 1, nullptr, 0));
    FillMaskedColor(mask, 0, 0, p.bm, 0, 1, 9, 5, 0xFF010203, bits, 2);
    expect[9 + 0] = expect[9 + 2] = expect[9 + 8] = 0x010203;
    EXPECT_EQ(Snapshot(p), expect);
}

TEST(Tiles, PiecesStartInsideTheTileAndCoverTheRectangle)
{
    const int32_t tw = 3, th = 2;
    uint32_t tile[tw * th] = {1, 2, 3, 4, 5, 6};
    for (int32_t ox : {-1, 0, 2, 7, -7}) {
        for (int32_t oy : {0, 1, -3}) {
            const int32_t w = 8, h = 5;
            std::vector<uint32_t> out(w * h, 0);
            TileCopyPixels(out.data(), 0, 0, w, h, tile, ox, oy, tw, th, 1, tw);
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x) {
                    int32_t tx = ((x + ox) % tw + tw) % tw, ty = ((y + oy) % th + th) % th;
                    ASSERT_EQ(out[y * w + x], tile[ty * tw + tx]) << ox << "," << oy << " at " << x << "," << y;
                }
        }
    }
    uint32_t none = 0;
    TileCopyPixels(&none, 0, 0, 1, 1, tile, 0, 0, 0, 2, 1, 3);
    EXPECT_EQ(none, 0u);

    Picture src(3, 2, 1), dst(10, 6, 2);
    std::vector<uint32_t> expect = Snapshot(dst);
    for (int32_t y = 1; y < 6; ++y)
        for (int32_t x = 2; x < 9; ++x) expect[y * 10 + x] = *src.px((x - 2 + 1) % 3, (y - 1) % 2);
    TileCopyPixels(dst.bm, 2, 1, 7, 5, src.bm, -2, 0, 3, 2, 0, 0);
    EXPECT_EQ(Snapshot(dst), expect);
}

// A plane handle of the other kind is refused rather than read as if its
// rows had the other size (a mask row is an eighth of an alpha row).
TEST(Blits, PlanesOfTheWrongKindAreRefused)
{
    Picture src(40, 20, 1), dst(40, 20, 2);
    Owned own;
    BitMapHandle* mask = own(AllocMaskBitMap(nullptr, 40, 20, 0, nullptr, 0));
    BitMapHandle* alpha = own(AllocAlphaBitMap(40, 20, 0, nullptr, 0));
    ASSERT_TRUE(mask && alpha);
    RandomPlane(mask, 3);
    RandomPlane(alpha, 4);
    std::vector<uint32_t> before = Snapshot(dst);
    for (uint32_t mode : {BLEND_ALPHA, BLEND_COPY_WHERE, BLEND_COMPOSITE}) {
        BltBitMapAlphaSoft(src.bm, 0, 0, dst.bm, 0, 0, 40, 20, mode, mask, nullptr);
        BltBitMapAlphaSoft(src.bm, 0, 0, dst.bm, 0, 0, 40, 20, mode, alpha, mask);
    }
    BltBitMapMasked(src.bm, 0, 0, dst.bm, 0, 0, 40, 20, mask);
    BltBitMapMask(src.bm, 0, 0, dst.bm, 0, 0, 40, 20, alpha);
    EXPECT_EQ(Snapshot(dst), before);
}

TEST(Blits, SmallMaskCutsTheMaskedBlit)
{
    Picture src(13, 9, 5), dst(11, 10, 6);
    Owned own;
    BitMapHandle* mask = own(AllocMaskBitMap(nullptr, 6, 4, 0, nullptr, 0));
    ASSERT_NE(mask, nullptr);
    RandomPlane(mask, 7);
    std::vector<uint32_t> expect = Snapshot(dst);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 2; x < 6; ++x)
            if (MaskAt(mask, x, y)) expect[(y + 3) * 11 + (x - 2 + 1)] = *src.px(x, y);
    BltBitMapMask(src.bm, 2, 0, dst.bm, 1, 3, 10, 9, mask);
    EXPECT_EQ(Snapshot(dst), expect);
}

TEST(Blits, HandleLevelAlphaBlitsMatchTheKernelOnTheCutRectangle)
{
    for (uint32_t mode : {BLEND_ALPHA, BLEND_COPY_WHERE, BLEND_COMPOSITE}) {
        Picture src(23, 17, 8), dst(19, 21, 9);
        Owned own;
        BitMapHandle* sa = own(AllocAlphaBitMap(23, 17, 0, nullptr, 0));
        BitMapHandle* da = own(AllocAlphaBitMap(19, 21, 0, nullptr, 0));
        ASSERT_TRUE(sa && da);
        RandomPlane(sa, 10);
        RandomPlane(da, 11);
        // The same blit by hand on copies: source (-3, 2) to (5, -4), 14 x 30
        // is cut to 11 x 11 from source (0, 6) to (8, 0), inside both.
        std::vector<uint32_t> sp = Snapshot(src), dp = Snapshot(dst);
        std::vector<uint8_t> sap = AlphaBytes(sa), dap = AlphaBytes(da);
        SoftBltRectEx(sp.data(), 0, 6, dp.data(), 8, 0, 11, 11, 23, 19, sap.data(), 23, dap.data(), 19, 10, 4, mode);
        BltBitMapAlphaSoft(src.bm, -3, 2, dst.bm, 5, -4, 14, 30, mode, sa, da);
        EXPECT_EQ(Snapshot(dst), dp) << mode;
        EXPECT_EQ(AlphaBytes(da), dap) << mode;
    }
}

}  // namespace
