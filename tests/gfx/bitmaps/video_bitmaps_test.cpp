// Video bitmaps through a fake adapter that keeps ARGB copies and records its requests.
#include <gtest/gtest.h>

#include <vector>

#include "core/io/error_codes.h"
#include "gfx/bitmaps/argb_exchange.h"
#include "gfx/bitmaps/copy_bitmap.h"
#include "gfx/bitmaps/video_bitmaps.h"
#include "gfx/effects/scale.h"
#include "gfx/fake_adapter.h"
#include "gfx/picture_test_helpers.h"

namespace {

using namespace fakeadapter;
using namespace picture_test;

class VideoBitMaps : public ::testing::Test {
protected:
    void SetUp() override
    {
        info_ = FakeBitMapAdapter();
        info_.adapterFlags[QM_ADAPTERFLAGS_DISPLAY] = ADAPTERBITMAP_VIDEO;
        DisplayAdapterPlugin = &info_;
    }
    void TearDown() override
    {
        DisplayAdapterPlugin = nullptr;
        EXPECT_EQ(g_reads, g_pixelFrees);  // every read buffer went back
    }
    void SetFlags(uint32_t flags) { info_.adapterFlags[QM_ADAPTERFLAGS_DISPLAY] = flags; }
    PluginInfo info_;
};

TEST_F(VideoBitMaps, AlphaModesMergeWhatTheAdapterGets)
{
    std::vector<uint32_t> argb = {0x10FF0000, 0x2000FF00, 0x300000FF, 0x40123456, 0x5000FF00, 0x60000000};
    BitMapHandle* callerAlpha = AllocAlphaBitMap(3, 2, 1, nullptr, 0);
    AlphaAt(callerAlpha, 2, 1) = 77;
    struct Case { uint32_t mode; int64_t key; bool giveAlpha; uint32_t hasAlphaFlag; std::vector<uint32_t> alphas; };
    const Case cases[] = {{0, -1, false, 0, {255, 255, 255, 255, 255, 255}},
                          {0, 0xFF00FF00, false, 1, {255, 0, 255, 255, 0, 255}},
                          {0, -1, true, 1, {0, 0, 0, 0, 0, 77}},
                          {1, -1, false, 0, {0x10, 0x20, 0x30, 0x40, 0x50, 0x60}},
                          {2, -1, false, 1, {0x10, 0x20, 0x30, 0x40, 0x50, 0x60}}};
    for (const Case& c : cases) {
        BitMapHandle* bm = nullptr;
        BitMapHandle* alpha = c.giveAlpha ? callerAlpha : nullptr;
        uint32_t fallBack = 9;
        // Row length 3 of 4 would do too; the adapter always gets tight rows.
        ASSERT_EQ(AdapterVideoBitMapFromArgb(argb.data(), c.key, 3, 2, 3, c.mode, &info_, &bm, &alpha, &fallBack), 0u);
        ASSERT_NE(bm, nullptr);
        EXPECT_EQ(fallBack, 0u);
        EXPECT_EQ(bm->hardware, 1u);
        EXPECT_EQ(g_videoFlags, ALLOCBITMAP_VIDEO | c.hasAlphaFlag);
        EXPECT_EQ(bm->aux, c.hasAlphaFlag);
        EXPECT_EQ(g_videoTags[VIDEOTAG_WINDOW], reinterpret_cast<uintptr_t>(&info_));
        auto* v = static_cast<FakeBitMap*>(bm->native);
        for (size_t i = 0; i < 6; ++i) {
            EXPECT_EQ(v->pixels[i] >> 24, c.alphas[i]) << c.mode << " " << i;
            EXPECT_EQ(v->pixels[i] & 0xFFFFFF, argb[i] & 0xFFFFFF);
        }
        if (c.giveAlpha) {
            EXPECT_EQ(alpha, nullptr);  // taken over by the video bitmap
            callerAlpha = nullptr;
        }
        FreeColorBitMap(bm);
    }
    EXPECT_EQ(g_videoFrees, 5);
}

TEST_F(VideoBitMaps, RefusedRequestsFallBackOnlyWhenAllowed)
{
    std::vector<uint32_t> argb = {0x80FF0000, 0x00000000, 0xFF00FF00, 0xFF0000FF};
    g_refuseVideo = true;
    BitMapHandle* callerAlpha = AllocAlphaBitMap(2, 2, 1, nullptr, 0);
    struct Case { uint32_t flags, mode, error; bool memory; } cases[] = {
        {ADAPTERBITMAP_VIDEO, 0, ERR_BITMAP, false},
        {ADAPTERBITMAP_VIDEO | ADAPTERBITMAP_FALLBACK, 0, 0, true},
        {ADAPTERBITMAP_VIDEO | ADAPTERBITMAP_FALLBACK, 2, 0, true}};
    for (const Case& c : cases) {
        SetFlags(c.flags);
        BitMapHandle *bm = nullptr, *mask = nullptr, *alpha = c.mode == 0 ? callerAlpha : nullptr;
        EXPECT_EQ(CreateBitMapFromArgb(argb.data(), 0, 2, 2, 2, 1, c.mode, nullptr, &bm, &mask, &alpha), c.error);
        EXPECT_EQ(bm != nullptr, c.memory);
        if (c.mode == 0) {
            // A refused request leaves the caller's alpha with the caller, intact.
            ASSERT_EQ(alpha, callerAlpha);
            EXPECT_EQ(AlphaAt(alpha, 1, 1), 0);
        }
        if (bm) {
            EXPECT_EQ(bm->hardware, 0u);
            EXPECT_EQ(ArgbOf(bm)[2], 0xFF00FF00u);
            ASSERT_NE(mask, nullptr);
            EXPECT_FALSE(MaskAt(mask, 1, 0));  // black is the key
            EXPECT_TRUE(MaskAt(mask, 0, 0));
            if (c.mode == 2) {
                ASSERT_NE(alpha, nullptr);
                EXPECT_EQ(AlphaAt(alpha, 0, 0), 0x80);
                FreePlaneBitMap(alpha);
            }
            FreePlaneBitMap(mask);
            FreeColorBitMap(bm);
        }
    }
    FreePlaneBitMap(callerAlpha);
}

TEST_F(VideoBitMaps, FrontEndsAskTheAdapterOrReadTheSourceFirst)
{
    std::vector<uint32_t> argb = RandomArgb(8 * 6, 4);
    for (auto& p : argb) p &= 0xFFFFFF;
    Owned own;
    BitMapHandle* video = nullptr;
    uint32_t fallBack = 0;
    ASSERT_EQ(AdapterVideoBitMapFromArgb(argb.data(), -1, 8, 6, 8, 1, nullptr, &video, nullptr, &fallBack), 0u);
    ASSERT_NE(own(video), nullptr);
    // Without the capability the scaler reads the pixels and works in memory.
    BitMapHandle* bm = nullptr;
    ASSERT_EQ(ScaleBitMap(video, nullptr, nullptr, 0, 0, nullptr, 8, 6, 4, 3, 0, nullptr, &bm, nullptr, nullptr), 0u);
    EXPECT_EQ(own(bm)->hardware, 0u);
    EXPECT_EQ(ArgbOf(bm)[1], argb[2]);
    EXPECT_EQ(g_reads, 1);
    // With it, the adapter gets the source video bitmap and the target size.
    info_.displayAdapterCaps = 0x1;
    ASSERT_EQ(ScaleBitMap(video, nullptr, nullptr, 0, 0, nullptr, 8, 6, 16, 12, 1, &info_, &bm, nullptr, nullptr), 0u);
    EXPECT_EQ(own(bm)->hardware, 1u);
    EXPECT_EQ(g_videoFlags, ALLOCBITMAP_VIDEO | VIDEOBITMAP_FROMVIDEO);
    EXPECT_EQ(g_videoTags[VIDEOTAG_SOURCE], reinterpret_cast<uintptr_t>(video->native));
    EXPECT_EQ(g_videoTags[VIDEOTAG_WIDTH], 16u);
    EXPECT_EQ(g_videoTags[VIDEOTAG_HEIGHT], 12u);
    EXPECT_EQ(g_videoTags[VIDEOTAG_SCALEMODE], 1u);
    // A refusal without fallback fails; with fallback the work goes on in memory.
    g_refuseVideo = true;
    EXPECT_EQ(ScaleBitMap(video, nullptr, nullptr, 0, 0, nullptr, 8, 6, 16, 12, 1, nullptr, &bm, nullptr, nullptr),
              uint32_t{ERR_BITMAP});
    SetFlags(ADAPTERBITMAP_VIDEO | ADAPTERBITMAP_FALLBACK);
    ASSERT_EQ(ScaleBitMap(video, nullptr, nullptr, 0, 0, nullptr, 8, 6, 16, 12, 1, nullptr, &bm, nullptr, nullptr), 0u);
    EXPECT_EQ(own(bm)->hardware, 0u);
    g_refuseVideo = false;
    // A hardware copy of part of a video bitmap goes over as pixels.
    ASSERT_EQ(CopyBitMap(video, nullptr, nullptr, 2, 1, 3, 2, 1, &info_, nullptr, &bm, nullptr, nullptr), 0u);
    EXPECT_EQ(own(bm)->hardware, 1u);
    EXPECT_EQ(g_videoFlags, ALLOCBITMAP_VIDEO | VIDEOBITMAP_HASALPHA);
    auto* copy = static_cast<FakeBitMap*>(bm->native);
    EXPECT_EQ(copy->pixels[4] & 0xFFFFFF, argb[2 * 8 + 3]);
    // A memory source with its mask merged into alpha.
    BitMapHandle* mem = own(BitMapOf(argb, 8, 6));
    BitMapHandle* mask = own(AllocMaskBitMap(mem, 8, 6, 1, nullptr, 0));
    SetMaskAt(mask, 1, 1, true);
    ASSERT_EQ(CopyBitMap(mem, mask, nullptr, 1, 1, 2, 2, 1, &info_, nullptr, &bm, nullptr, nullptr), 0u);
    copy = static_cast<FakeBitMap*>(own(bm)->native);
    EXPECT_EQ(g_videoFlags, ALLOCBITMAP_VIDEO | VIDEOBITMAP_HASALPHA);
    EXPECT_EQ(copy->pixels[0], 0xFF000000 | argb[9]);
    EXPECT_EQ(copy->pixels[1], argb[10]);
    EXPECT_EQ(bm->aux, 1u);
}

}  // namespace
