// Bitmap handles, and the adapter path through a fake adapter that records its calls.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "gfx/bitmaps/bitmap.h"
#include "gfx/bitmaps/bitmap_ops.h"
#include "gfx/fake_adapter.h"

namespace {

TEST(BitMaps, WrappedPlanesBorrowTheCallersPixels)
{
    std::vector<uint8_t> pixels(64, 0x5A);
    BitMapHandle* alpha = AllocAlphaBitMap(7, 4, 1, pixels.data(), 16);
    BitMapHandle* mask = AllocMaskBitMap(nullptr, 7, 4, 1, pixels.data(), 16);
    ASSERT_TRUE(alpha && mask);
    EXPECT_EQ(GetPlaneDim(alpha->native, 0), 7);
    EXPECT_EQ(GetPlaneDim(mask->native, 0), 0);  // wrapped masks keep no size
    FreePlaneBitMap(alpha);
    FreePlaneBitMap(mask);
    for (uint8_t b : pixels) ASSERT_EQ(b, 0x5A);
}

// Under ASan: every byte of a colour bitmap's rows and of its spare row is
// its own, and a mask wider than its colour bitmap gets rows for its width.
TEST(BitMaps, StoresHoldTheirSpareRowAndWideMasksTheirOwnRows)
{
    BitMapHandle* colour = AllocColorBitMap(17, 4, 0, nullptr);
    BitMapHandle* wide = AllocMaskBitMap(colour, 40, 4, 1, nullptr, 0);
    ASSERT_TRUE(colour && wide);
    BitMapLock lock{};
    ASSERT_EQ(LockBitMapPixels(colour, 0, &lock), 1u);
    std::memset(lock.pixels, 0xAB, static_cast<size_t>(lock.rowLength) * lock.bytesPerPixel * (lock.height + 1));
    UnlockBitMapPixels(&lock);
    EXPECT_EQ(QueryBitMapAttr(wide, BMATTR_MASK_BYTESPERROW), 6u);
    FreePlaneBitMap(wide);
    FreeColorBitMap(colour);
}

TEST(BitMaps, SizesOutsideTheLimitsAreRefused)
{
    const int32_t bad[][2] = {{0, 5},       {5, 0},          {-1, 5},      {5, -7},
                              {INT32_MIN, 1}, {70000, 1},     {1, 70000},   {65536, 65536},
                              {INT32_MAX, INT32_MAX}};
    for (const auto& s : bad) {
        EXPECT_EQ(AllocColorBitMap(s[0], s[1], 0, nullptr), nullptr) << s[0] << "x" << s[1];
        EXPECT_EQ(AllocAlphaBitMap(s[0], s[1], 0, nullptr, 0), nullptr);
        EXPECT_EQ(AllocMaskBitMap(nullptr, s[0], s[1], 0, nullptr, 0), nullptr);
        EXPECT_EQ(OsAllocBitMap(s[0], s[1], 0), nullptr);
    }
    BitMapHandle* edge = AllocMaskBitMap(nullptr, kMaxBitMapSide, 1, 0, nullptr, 0);
    ASSERT_NE(edge, nullptr);
    FreePlaneBitMap(edge);
}

TEST(BitMaps, TheDesktopDepthIsThePixelFormatsBits)
{
    EXPECT_EQ(OsGetDisplayDepth(), 32u);
    OsSetDisplayPixelFormat(4);
    EXPECT_EQ(OsGetDisplayDepth(), 16u);
    EXPECT_EQ(QueryBitMapAttr(nullptr, BMATTR_DESKTOP_DEPTH), 16u);
    OsSetDisplayPixelFormat(10);
    EXPECT_EQ(QueryBitMapAttr(nullptr, BMATTR_DESKTOP_DEPTH), 32u);
}

TEST(BitMaps, SinglePixelsInEveryPixelSize)
{
    for (uint32_t format : {4u, 0u, 7u, 8u, 9u, 10u, 11u, 12u, 13u}) {
        uint32_t bpp = PixelFormatBytes(format);
        std::vector<uint8_t> pixels(4 * 3 * bpp);
        BitMapLock lock{pixels.data(), 1, format, bpp, 4, 4, 3, 0, 0};
        WriteLockedPixel(&lock, 2, 1, 0x80FF8040);
        uint32_t expect = format == 8 || format == 9 ? 0x00FF8040 : PixelToArgb(ArgbToPixel(0x80FF8040, format, 0), format, 0);
        EXPECT_EQ(ReadLockedPixel(&lock, 2, 1), expect) << format;
        EXPECT_EQ(ReadLockedPixel(&lock, 1, 1), 0u) << format;
        if (bpp == 3) {
            const uint8_t* p = &pixels[(4 + 2) * 3];
            EXPECT_EQ(p[0], format == 8 ? 0xFF : 0x40);
            EXPECT_EQ(p[2], format == 8 ? 0x40 : 0xFF);
        }
    }
}

TEST(BitMaps, PixelsOfHandlesStayInsideTheBitMap)
{
    BitMapHandle* bm = AllocColorBitMap(3, 3, 0, nullptr);
    BitMapHandle* mask = AllocMaskBitMap(nullptr, 3, 3, 1, nullptr, 0);
    ASSERT_TRUE(bm && mask);
    WriteBitMapPixel(bm, 1, 2, 0x123456, 0);
    EXPECT_EQ(ReadBitMapPixel(bm, 1, 2, 0), 0x123456u);
    WriteBitMapPixel(bm, 3, 0, 0xFFFFFF, 0);
    WriteBitMapPixel(bm, -1, 0, 0xFFFFFF, 0);
    EXPECT_EQ(ReadBitMapPixel(bm, 3, 0, 0), 0u);
    WriteBitMapPixel(mask, 2, 1, 0, 1);
    EXPECT_EQ(ReadBitMapPixel(mask, 2, 1, 1), 1u);
    WriteBitMapPixel(mask, 2, 1, 3, 1);
    EXPECT_EQ(ReadBitMapPixel(mask, 2, 1, 1), 0u);
    WriteBitMapPixel(mask, 2, 1, 4, 1);
    EXPECT_EQ(ReadBitMapPixel(mask, 2, 1, 1), 0u);
    WriteBitMapPixel(mask, 9, 9, 0, 1);
    FreePlaneBitMap(mask);
    FreeColorBitMap(bm);
}

// ---------------------------------------------------------------------------
// The adapter path.

using namespace fakeadapter;

class AdapterBitMaps : public ::testing::Test {
protected:
    void SetUp() override
    {
        info_ = FakeBitMapAdapter();
        DisplayAdapterPlugin = &info_;
    }
    void TearDown() override { DisplayAdapterPlugin = nullptr; }
    PluginInfo info_;
};

TEST_F(AdapterBitMaps, EveryKindIsMadeLockedAndFreedByTheAdapter)
{
    BitMapHandle* colour = AllocColorBitMap(6, 2, 0, nullptr);
    std::vector<uint8_t> caller(64);
    BitMapHandle* alpha = AllocAlphaBitMap(6, 2, 1, caller.data(), 8);
    EXPECT_EQ(g_tagPixels, reinterpret_cast<uintptr_t>(caller.data()));
    BitMapHandle* mask = AllocMaskBitMap(colour, 6, 2, 1, nullptr, 0);
    ASSERT_TRUE(colour && alpha && mask);
    EXPECT_EQ(g_allocs, 3);
    EXPECT_NE(QueryBitMapAttr(mask, BMATTR_MASK_PIXELS), 0u);
    EXPECT_EQ(g_locks, g_unlocks);

    BitMapLock lock{};
    ASSERT_EQ(LockBitMapPixels(colour, 0, &lock), 1u);
    WriteLockedPixel(&lock, 5, 1, 0x00ABCDEF);
    UnlockBitMapPixels(&lock);
    EXPECT_EQ(static_cast<FakeBitMap*>(colour->native)->pixels[11], 0x00ABCDEFu);
    EXPECT_EQ(g_locks, g_unlocks);

    FreeColorBitMap(colour);
    FreePlaneBitMap(alpha);
    FreePlaneBitMap(mask);
    EXPECT_EQ(g_frees, 3);
}

TEST_F(AdapterBitMaps, BlitsGoToTheAdapterOnlyForItsOperations)
{
    BitMapHandle* a = AllocColorBitMap(4, 4, 0, nullptr);
    BitMapHandle* b = AllocColorBitMap(4, 4, 0, nullptr);
    ASSERT_TRUE(a && b);
    info_.adapterWords[0] = 1;  // offers rectangle blits on memory bitmaps
    BltBitMapRect(a, 0, 0, b, 0, 0, 4, 4);
    EXPECT_EQ(g_blits, 1);
    EXPECT_EQ(g_lastMode, 2u);
    info_.adapterWords[0] = 0;
    static_cast<FakeBitMap*>(a->native)->pixels[5] = 0x112233;
    BltBitMapRect(a, 0, 0, b, 0, 0, 4, 4);
    EXPECT_EQ(g_blits, 1);
    EXPECT_EQ(static_cast<FakeBitMap*>(b->native)->pixels[5], 0x112233u);
    FreeColorBitMap(a);
    FreeColorBitMap(b);
}

TEST_F(AdapterBitMaps, AForeignCallFormIsNeverCalled)
{
    info_.callForm = QM_CALLFORM_FOREIGN;
    EXPECT_EQ(AllocColorBitMap(4, 4, 0, nullptr), nullptr);
    EXPECT_EQ(AllocAlphaBitMap(4, 4, 0, nullptr, 0), nullptr);
    EXPECT_EQ(g_allocs, 0);
}

TEST_F(AdapterBitMaps, VideoBitMapsChooseTheBlitModeAndOutliveTheirAdapter)
{
    info_.adapterFlags[QM_ADAPTERFLAGS_DISPLAY] = ADAPTERBITMAP_VIDEO;  // video only
    BitMapHandle* video = AllocColorBitMap(8, 8, ALLOCBITMAP_VIDEO, nullptr);
    BitMapHandle* plain = AllocColorBitMap(8, 8, 0, nullptr);
    ASSERT_TRUE(video && plain);
    EXPECT_EQ(video->hardware, 1u);
    EXPECT_EQ(plain->hardware, 0u);
    EXPECT_EQ(QueryBitMapAttr(video, BMATTR_HARDWARE_ORPHAN), 0u);
    BitMapLock lock{};
    EXPECT_EQ(LockBitMapPixels(video, 0, &lock), 0u);  // only the adapter reads its video memory

    BltBitMapRect(plain, 0, 0, video, 0, 0, 8, 8);
    EXPECT_EQ(g_lastMode, 4u);
    BltBitMapRect(video, 0, 0, video, 0, 0, 8, 8);
    EXPECT_EQ(g_lastMode, 13u);
    BltBitMapRect(video, 0, 0, plain, 0, 0, 8, 8);  // software cannot read the source
    EXPECT_EQ(g_blits, 2);
    info_.adapterWords[0] = MEMOP_BLTRECT;
    BltBitMapRect(video, 0, 0, plain, 0, 0, 8, 8);
    EXPECT_EQ(g_lastMode, 11u);
    UpdateHardwareBitMap(video);
    UpdateHardwareBitMap(video);
    EXPECT_EQ(g_methods, 1);
    EXPECT_EQ(video->aux, 1u);
    BltBitMapRect(video, 0, 0, video, 0, 0, 8, 8);
    EXPECT_EQ(g_lastMode, 5u);
    EXPECT_EQ(g_blits, 4);
    // Once the adapter is gone its bitmaps are orphans: freeing one frees
    // the handle only.
    DisplayAdapterPlugin = nullptr;
    EXPECT_EQ(QueryBitMapAttr(video, BMATTR_HARDWARE_ORPHAN), 1u);
    auto* native = static_cast<FakeBitMap*>(video->native);
    FreeColorBitMap(video);
    EXPECT_EQ(g_videoFrees, 0);
    delete native;
    FreeColorBitMap(plain);
}

}  // namespace
