// The frame limiter on a clock the test drives (no timed waits), and refresh blocks.
#include "core/io/error_codes.h"
#include "display/framebuffer.h"
#include "gfx/bitmaps/bitmap_ops.h"
#include "gfx/graphics_fixture.h"
#include "gfx/library/frame_pacing.h"

namespace {

uint64_t g_now;
std::vector<uint32_t> g_sleeps;
uint32_t g_sleepResult;

uint64_t FakeNow() { return g_now; }
uint32_t FakeSleep(VmState*, uint32_t ms)
{
    g_sleeps.push_back(ms);
    g_now += uint64_t{ms} * 1000;
    return g_sleepResult;
}

class FramePacing : public GraphicsFixture {
protected:
    void SetUp() override
    {
        GraphicsFixture::SetUp();
        const FrameClock clock{FakeNow, FakeSleep};
        SetFrameClock(&clock);
        g_now = 5000000;
        g_sleeps.clear();
        g_sleepResult = 0;
    }
    void TearDown() override
    {
        SetFrameClock(nullptr);
        SetFrameRateLimit(60);
        GraphicsFixture::TearDown();
    }
};

TEST_F(FramePacing, LimiterSleepsTheRestOfAFrame)
{
    struct Case {
        const char* name;
        int32_t fps;
        uint64_t last;     // 0: no frame yet
        int64_t elapsed;   // from last to now
        bool open, force;
        std::vector<uint32_t> sleeps;
        bool lastUpdated;
    };
    const Case cases[] = {
        {"first frame never sleeps", 60, 0, 0, true, false, {}, true},
        {"early by 6 ms at 60 fps", 60, 4000000, 10666, true, false, {6}, true},
        {"a whole frame passed", 60, 4000000, 16666, true, false, {}, true},
        {"limit 0 means 60", 0, 4000000, 1, true, false, {17}, true},
        {"clock went back", 60, 6000000, -1000000, true, false, {}, true},
        {"closed display waits for nothing", 60, 4000000, 1000, false, false, {}, false},
        {"forced on a closed display", 60, 4000000, 16000, false, true, {1}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Display* d = MakeTestDisplay(vm, 5, 16, 16, c.open);
        ASSERT_NE(d, nullptr);
        SetFrameRateLimit(c.fps);
        g_sleeps.clear();
        d->lastFrameMicros = c.last;
        g_now = c.last + c.elapsed;
        ASSERT_EQ(LimitFrameRate(vm, d, c.force), 0u);
        EXPECT_EQ(g_sleeps, c.sleeps);
        EXPECT_EQ(d->lastFrameMicros, c.lastUpdated ? g_now : c.last);
        FreeDisplayRecord(vm, d);
    }
}

TEST_F(FramePacing, VWaitPacesTheCurrentDisplayAndPassesAnAbortOn)
{
    ASSERT_EQ(CallGlobal(vm, "setfpslimit", {50.0}), 0u);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(CallGlobal(vm, "vwait", {}), 0u);
        g_now += 5000;
    }
    // Three frames 20 ms apart: the first sets the time, the two after it
    // each sleep the 15 ms the script did not spend.
    EXPECT_EQ(g_sleeps, (std::vector<uint32_t>{15, 15}));
    g_sleepResult = ERR_USERABORT;
    EXPECT_EQ(CallGlobal(vm, "vwait", {}), uint32_t{ERR_USERABORT});
    ASSERT_EQ(CallGlobal(vm, "setfpslimit", {-5.0}), 0u);
    EXPECT_EQ(GetFrameRateLimit(), 60u);
    EXPECT_NE(CallGlobal(vm, "setfpslimit", {std::string("fast")}), 0u);
    EXPECT_EQ(GetFrameRateLimit(), 60u);
}

TEST_F(FramePacing, RefreshBlocksRefuseDrawingTargetsAndCollectUntilTheEnd)
{
    Display* scaled = MakeTestDisplay(vm, 5, 32, 32, true, 64, 64);
    ASSERT_NE(scaled, nullptr);
    CurrentDisplay = scaled;
    OutputRecord animFrame{};
    animFrame.kind = 4;
    struct Case { const char* name; uint32_t mode, doubleBuffer; OutputRecord* selected; uint32_t error; };
    const Case cases[] = {
        {"background picture", OUTPUT_BGPIC, 0, nullptr, ERR_SELECTBG},
        {"brush while double buffering", OUTPUT_BRUSH, 1, nullptr, ERR_ENDDOUBLEBUFFER},
        {"anim frame", OUTPUT_BRUSH, 0, &animFrame, ERR_SELECTANIM},
        {"mask", OUTPUT_MASK, 0, nullptr, ERR_SELECTMASK},
        {"alpha channel", OUTPUT_ALPHACHANNEL, 0, nullptr, ERR_SELECTALPHACHANNEL},
        {"brush", OUTPUT_BRUSH, 0, nullptr, ERR_SELECTBRUSH},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        scaled->outputMode = c.mode;
        scaled->doubleBuffer = c.doubleBuffer;
        scaled->selectedOutput = c.selected;
        EXPECT_EQ(CallGlobal(vm, "beginrefresh", {}), c.error);
        EXPECT_EQ(scaled->refreshPending, 0u);
    }
    scaled->outputMode = OUTPUT_DISPLAY;
    scaled->doubleBuffer = 0;
    scaled->selectedOutput = nullptr;
    // Inside the block a refresh of the display reaches no window pixel.
    ASSERT_EQ(CallGlobal(vm, "beginrefresh", {}), 0u);
    EXPECT_EQ(scaled->refreshPending, 1u);
    EXPECT_EQ(CallGlobal(vm, "beginrefresh", {}), uint32_t{ERR_WRONGUSAGE});
    FillBitMapRect(static_cast<BitMapHandle*>(scaled->backBuffers[1]), 0, 0, 32, 32, 0x00FF00);
    RefreshDisplay(vm, scaled, 0);
    EXPECT_EQ(ReadFramebufferPixel(scaled, 10, 10), 0u);
    ASSERT_EQ(CallGlobal(vm, "endrefresh", {}), 0u);
    EXPECT_EQ(scaled->refreshPending, 0u);
    EXPECT_EQ(ReadFramebufferPixel(scaled, 10, 10), 0x00FF00u);
    EXPECT_EQ(CallGlobal(vm, "endrefresh", {}), 0u);
    // An unscaled display takes a block only when forced.
    Display* plain = display;
    CurrentDisplay = plain;
    ASSERT_EQ(CallGlobal(vm, "beginrefresh", {}), 0u);
    EXPECT_EQ(plain->refreshPending, 0u);
    ASSERT_EQ(CallGlobal(vm, "beginrefresh", {1.0}), 0u);
    EXPECT_EQ(plain->refreshPending, 1u);
    ASSERT_EQ(CallGlobal(vm, "endrefresh", {}), 0u);
}

}  // namespace
