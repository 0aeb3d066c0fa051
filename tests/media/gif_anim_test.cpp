// The animated-GIF reader against PIL's composition of the same file, and
// hostile files: frames off the screen, broken codes, absurd sizes, aborts.
// Frames' cost off the screen: tests/e2e HostileFiles; arbitrary bytes: the
// fuzz targets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "core/io/error_codes.h"
#include "core/vm/error_hooks.h"
#include "media/gif_anim.h"
#include "media/image_codecs.h"
#include "platform/posix/os_memory.h"
#include "support/anim_gif_oracle.h"
#include "support/hand_gifs.h"
#include "support/picture_oracle.h"
#include "support/temp_dir.h"

namespace {

uint8_t* CopyToOsMemory(const std::vector<uint8_t>& bytes)
{
    auto* data = static_cast<uint8_t*>(OsAllocMem(bytes.size() ? bytes.size() : 1, 0));
    if (!bytes.empty())
        std::memcpy(data, bytes.data(), bytes.size());
    return data;
}

// An animation opened from bytes, closed when it goes.
struct Anim {
    GifAnimDecoder* decoder = nullptr;
    GifAnimInfo info{};
    const uint32_t* pixels = nullptr;
    ~Anim() { CloseGifAnim(decoder); }
    uint32_t Open(const std::vector<uint8_t>& bytes)
    {
        CloseGifAnim(decoder);
        decoder = nullptr;
        return OpenGifAnim(CopyToOsMemory(bytes), bytes.size(), &decoder, &info);
    }
    uint32_t Frame(uint32_t f) { return DecodeGifAnimFrame(decoder, f, &pixels); }
};

// Where PIL shows nothing we must too (the colour there is ours to choose);
// elsewhere the colours agree exactly and the pixel is opaque.
void ExpectSameAsPil(const uint32_t* pixels, const std::vector<uint8_t>& rgba, int32_t w, int32_t h, uint32_t frame)
{
    ASSERT_EQ(rgba.size(), static_cast<size_t>(w) * h * 4);
    int mismatches = 0;
    for (int32_t i = 0; i < w * h && mismatches < 5; ++i) {
        const uint8_t* p = &rgba[static_cast<size_t>(i) * 4];
        uint32_t ours = pixels[i];
        if (p[3] == 0) {
            if (ours >> 24 != 0) {
                ADD_FAILURE() << "frame " << frame << " pixel " << i % w << "," << i / w << " should be transparent";
                ++mismatches;
            }
            continue;
        }
        uint32_t theirs = 0xFF000000u | (p[0] << 16) | (p[1] << 8) | p[2];
        if (ours != theirs) {
            ADD_FAILURE() << "frame " << frame << " pixel " << i % w << "," << i / w << std::hex << " ours " << ours
                          << " PIL " << theirs;
            ++mismatches;
        }
    }
}

TEST(GifAnim, EveryFrameMatchesPilsCompositionForwardAndBackward)
{
    QM_SKIP_WITHOUT(HavePil()) << "PIL missing";
    TempDir dir;
    ASSERT_TRUE(RunPython(dir.path(), kMakeAnimGif, dir.path()));
    Anim a;
    ASSERT_EQ(a.Open(ReadFileBytes(dir / "anim.gif")), 0u);
    const GifAnimInfo& info = a.info;
    EXPECT_EQ(std::make_pair(info.width, info.height), std::make_pair(20, 14));
    ASSERT_EQ(info.frameCount, 7u);
    EXPECT_GE(info.transparentColour, 0);
    std::ifstream delays(dir / "delays.txt");
    for (uint32_t f = 0; f < info.frameCount; ++f) {
        int32_t delay = -1;
        delays >> delay;
        EXPECT_EQ(GetGifAnimFrameDelay(a.decoder, f), delay) << "frame " << f;
    }
    // Backwards restarts from the first frame every time.
    for (int pass = 0; pass < 2; ++pass)
        for (uint32_t n = 0; n + 1 < info.frameCount; ++n) {
            uint32_t f = pass == 0 ? n : info.frameCount - 2 - n;
            ASSERT_EQ(a.Frame(f), 0u);
            ExpectSameAsPil(a.pixels, ReadFileBytes(dir / ("frame" + std::to_string(f) + ".rgba")), info.width,
                            info.height, f);
        }
    // The last frame: frame 5's rectangle (2, 8, 9, 6) is cleared to
    // transparent, the 3 x 3 frame drawn at the origin, the rest as PIL has it.
    ASSERT_EQ(a.Frame(6), 0u);
    std::vector<uint8_t> pil = ReadFileBytes(dir / "frame6.rgba");
    for (int32_t y = 0; y < info.height; ++y)
        for (int32_t x = 0; x < info.width; ++x) {
            uint32_t ours = a.pixels[y * info.width + x];
            const uint8_t* p = &pil[static_cast<size_t>(y * info.width + x) * 4];
            if (x >= 2 && x < 11 && y >= 8 && y < 14)
                EXPECT_EQ(ours >> 24, 0u) << x << "," << y;
            else
                EXPECT_EQ(ours, 0xFF000000u | (p[0] << 16) | (p[1] << 8) | p[2]) << x << "," << y;
        }
    EXPECT_EQ(a.Frame(info.frameCount), uint32_t{ERR_ANIMFRAME});
}

// A small GIF by hand: screen w x h, one 2-colour frame at (x, y, fw, fh)
// of literal codes, at most 3000 of them.
std::vector<uint8_t> HandGif(uint16_t w, uint16_t h, uint16_t x, uint16_t y, uint16_t fw, uint16_t fh)
{
    return LiteralGif(w, h, {{x, y, fw, fh, false, std::min(uint32_t{fw} * fh, 3000u), true}});
}

// What of a frame lies off the screen is cut, never written past it; a
// frame of 60000 rows whose data ends after the rows on the screen decodes,
// as the rows below are never decoded; interlaced, its second row comes in
// the last pass, so there the missing data is missed, unless the screen is
// one row high and needs only the first pass.
TEST(GifAnim, FramesOffTheScreenAreCutAndRowsBelowItNeverDecoded)
{
    // `painted` counts the pixels of index 1, on the red of index 0.
    const struct { std::vector<uint8_t> gif; uint32_t error; long painted; } cases[] = {
        {HandGif(8, 8, 6, 6, 4, 4), 0, 4},  // sticks out right and bottom: 2 x 2 stay
        {HandGif(8, 8, 200, 0, 4, 4), 0, 0}, {HandGif(8, 8, 0, 0, 8, 8), 0, 64},
        {HandGif(8, 8, 7, 0, 65535, 1), 0, 1},  // a huge width with one row
        {LiteralGif(4, 2, {{0, 0, 4, 60000, false, 8, false}}), 0, 8},
        {LiteralGif(4, 2, {{0, 0, 4, 60000, true, 8, false}}), ERR_LOADPICTURE, 0},
        {LiteralGif(4, 1, {{0, 0, 4, 60000, true, 4, false}}), 0, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        Anim a;
        ASSERT_EQ(a.Open(c.gif), 0u);
        ASSERT_EQ(a.Frame(0), c.error);
        const int32_t n = c.error ? 0 : a.info.width * a.info.height;
        EXPECT_EQ(std::count(a.pixels, a.pixels + n, 0xFF0000FFu), c.painted);
    }
}

TEST(GifAnim, HostileFilesFailCleanly)
{
    Anim a;
    // Not a GIF, too short, no frame.
    EXPECT_EQ(a.Open({'P', 'N', 'G'}), uint32_t{ERR_LOADPICTURE});
    std::vector<uint8_t> noFrame = HandGif(8, 8, 0, 0, 2, 2);
    noFrame.at(19) = 0x3B;
    EXPECT_EQ(a.Open(noFrame), uint32_t{ERR_LOADPICTURE});
    EXPECT_EQ(a.decoder, nullptr);
    // A frame bigger than the decoders accept is refused before allocating.
    uint64_t limit = ImageDecodePixelLimit;
    ImageDecodePixelLimit = 1000;
    EXPECT_EQ(a.Open(HandGif(8, 8, 0, 0, 2000, 2000)), uint32_t{ERR_BADDIMENSIONS});
    ImageDecodePixelLimit = limit;
    // An impossible code in the picture is a broken frame.
    std::vector<uint8_t> bad = HandGif(8, 8, 0, 0, 2, 2);
    bad[31] = 0xFF;  // first data byte: codes 7, 7 (past the table)
    ASSERT_EQ(a.Open(bad), 0u);
    EXPECT_EQ(a.Frame(0), uint32_t{ERR_LOADPICTURE});
}

namespace {

// Frames of index 1 (blue) as LiteralGif writes them, each after a graphic
// control block with its disposal.
std::vector<uint8_t> DisposalGif(uint16_t screenWidth, uint16_t screenHeight,
                                 const std::vector<std::pair<LiteralFrame, uint8_t>>& frames)
{
    std::vector<uint8_t> g = handgif::Header(screenWidth, screenHeight);
    for (const auto& [f, disposal] : frames) {
        g.insert(g.end(), {0x21, 0xF9, 4, static_cast<uint8_t>(disposal << 2), 0, 0, 0, 0});
        std::vector<uint8_t> one = LiteralGif(1, 1, {f});
        // The frame of the one-frame file: after the header, before the trailer.
        g.insert(g.end(), one.begin() + 19, one.end() - 1);
    }
    g.push_back(0x3B);
    return g;
}

}  // namespace

// Disposal 3 puts back the frame's rectangle as it was; frames that paint
// nothing, however many, still let an abort in, and decoding then goes on.
TEST(GifAnim, DisposalThreeRestoresItsRectangleAndEmptyFramesLetAnAbortIn)
{
    Anim a;
    ASSERT_EQ(a.Open(DisposalGif(8, 8, {{{1, 1, 2, 2, false, 4, true}, 1}, {{2, 2, 3, 3, false, 9, true}, 3},
                                        {{7, 7, 1, 1, false, 1, true}, 1}})),
              0u);
    ASSERT_EQ(a.info.frameCount, 3u);
    ASSERT_EQ(a.Frame(1), 0u);
    EXPECT_EQ(a.pixels[4 * 8 + 4], 0xFF0000FFu);
    ASSERT_EQ(a.Frame(2), 0u);
    for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 0; x < 8; ++x) {
            bool blue = (x >= 1 && x <= 2 && y >= 1 && y <= 2) || (x == 7 && y == 7);
            EXPECT_EQ(a.pixels[y * 8 + x], blue ? 0xFF0000FFu : 0xFFFF0000u) << x << "," << y;
        }

    std::vector<std::pair<LiteralFrame, uint8_t>> empty(500, {{0, 0, 0, 0, false, 0, true}, 3});
    ASSERT_EQ(a.Open(DisposalGif(64, 64, empty)), 0u);
    ASSERT_EQ(a.info.frameCount, 500u);
    ASSERT_EQ(a.Frame(0), 0u);  // past the canvas's fill
    VmAbortFlag.store(1);
    EXPECT_EQ(a.Frame(499), uint32_t{ERR_USERABORT});
    VmAbortFlag.store(0);
    ASSERT_EQ(a.Frame(499), 0u);
    EXPECT_EQ(a.pixels[0], 0xFFFF0000u);
}

// The canvas work before a frame's rows (the first frame's fill of the
// whole screen, the previous frame's disposal) looks at the abort flag
// before every row: raised before the call, it leaves the canvas untouched.
TEST(GifAnim, AnAbortStopsTheCanvasWorkBeforeItsFirstRow)
{
    const uint32_t red = 0xFFFF0000u, blue = 0xFF0000FFu;
    const LiteralFrame wholeBlue{0, 0, 8, 8, false, 64, true}, corner{7, 7, 1, 1, false, 1, true};
    // The frame decoded under the abort (after the ones before it), and what
    // every pixel still holds: the fresh canvas, or the frame before.
    const struct { const char* what; std::vector<uint8_t> gif; uint32_t frame; uint32_t untouched; } cases[] = {
        // A gigabyte of canvas for a frame of one pixel.
        {"fill", LiteralGif(16384, 16384, {corner}), 0, 0},
        {"disposal 2", DisposalGif(8, 8, {{wholeBlue, 2}, {corner, 1}}), 1, blue},
        {"disposal 3", DisposalGif(8, 8, {{wholeBlue, 3}, {corner, 1}}), 1, blue},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Anim a;
        ASSERT_EQ(a.Open(c.gif), 0u);
        if (c.frame) {
            ASSERT_EQ(a.Frame(c.frame - 1), 0u);
        }
        VmAbortFlag.store(1);
        EXPECT_EQ(a.Frame(c.frame), uint32_t{ERR_USERABORT});
        VmAbortFlag.store(0);
        uint32_t* canvas = TakeGifAnimCanvas(a.decoder);
        ASSERT_NE(canvas, nullptr);
        const auto w = static_cast<size_t>(a.info.width);
        uint32_t rowsDone = 0;
        for (size_t y = 0; y < static_cast<size_t>(a.info.height); ++y)
            rowsDone += canvas[y * w] != c.untouched || canvas[y * w + w - 1] != c.untouched;
        EXPECT_EQ(rowsDone, 0u);
        OsFreeMem(canvas);
        // Decoding goes on from the start (checked on the small screens:
        // the large one would be filled whole for it).
        if (c.frame) {
            ASSERT_EQ(a.Frame(c.frame), 0u);
            EXPECT_EQ(a.pixels[0], red);
        }
    }
}

// The canvas handed over holds the frame and a spare row; decoding goes on
// in a canvas of its own.
TEST(GifAnim, TakenCanvasHoldsTheFrameAndDecodingGoesOn)
{
    Anim a;
    ASSERT_EQ(a.Open(LiteralGif(8, 4, {{2, 1, 3, 2, false, 6, true}, {0, 0, 1, 1, false, 1, true}})), 0u);
    ASSERT_EQ(a.Frame(1), 0u);
    std::vector<uint32_t> expected(a.pixels, a.pixels + 32);
    uint32_t* taken = TakeGifAnimCanvas(a.decoder);
    ASSERT_EQ(taken, a.pixels);
    taken[32 + 7] = 0;  // the spare row is there to be written
    EXPECT_EQ(std::vector<uint32_t>(taken, taken + 32), expected);
    ASSERT_EQ(a.Frame(1), 0u);
    EXPECT_NE(a.pixels, taken);
    EXPECT_EQ(std::vector<uint32_t>(a.pixels, a.pixels + 32), expected);
    OsFreeMem(taken);
}

}  // namespace
