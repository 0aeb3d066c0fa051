// Hostile pictures through the whole player: a PNG whose chunk length lies,
// a small GIF that declares the largest picture allowed, and GIFs whose
// frames lie far off their logical screen. Each must end within a bound of
// memory: the lying length allocates nothing near what it claims, the large
// picture is held once, not once decoded and once more as the brush's or
// the anim's bitmap, and what lies off the screen is never held; frames
// that would cost too much to decode are refused, naming the file; an
// abort stops a long decode.
#include <gtest/gtest.h>

#include <zlib.h>

#include <string>
#include <vector>

#include "e2e/player_process.h"
#include "e2e/test_applet.h"
#include "support/hand_gifs.h"
#include "support/temp_dir.h"
#include "tools/qmasm/applet_writer.h"

using namespace qmasm;

namespace {

using Bytes = std::vector<uint8_t>;

void PutBE32(Bytes* out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out->push_back(static_cast<uint8_t>(v >> shift));
}

// A chunk with the given length field in front of data of another length.
void PutChunk(Bytes* out, const char* type, const Bytes& data, uint32_t length)
{
    PutBE32(out, length);
    Bytes typed(type, type + 4);
    typed.insert(typed.end(), data.begin(), data.end());
    out->insert(out->end(), typed.begin(), typed.end());
    PutBE32(out, static_cast<uint32_t>(crc32(0, typed.data(), static_cast<uInt>(typed.size()))));
}

// 16 x 16 RGB, then a text chunk claiming 2 GiB that holds 1.4 KB.
Bytes LyingPng()
{
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes ihdr;
    PutBE32(&ihdr, 16);
    PutBE32(&ihdr, 16);
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
    PutChunk(&png, "IHDR", ihdr, 13);
    Bytes text = {'C', 'o', 'm', 'm', 'e', 'n', 't', 0};
    text.resize(1400, 'x');
    PutChunk(&png, "tEXt", text, 0x7FFFFFFF);
    return png;
}

class HostilePictures : public ::testing::Test {
protected:
    std::string Applet(const std::string& picture, const Bytes& bytes, const std::string& command = "loadbrush")
    {
        WriteFileBytes(dir.file(picture), bytes);
        std::string applet = dir.file(picture + "." + command + ".qma");
        WriteFileBytes(applet, WriteApplet(AssembleTestApplet(
                                   MarkedLoadScript(CommandCall(command, {"#1", "\"" + dir.file(picture) + "\""})))));
        return applet;
    }

    TempDir dir;
};

constexpr long kMiB = 1024;  // in the kilobytes of maxRssKb

TEST_F(HostilePictures, LyingPngChunkLengthEndsWithAnErrorNamingTheFile)
{
    PlayerRun run = RunProgram(QM_PLAYER_PATH, {Applet("lying.png", LyingPng())});
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.err.find("lying.png"), std::string::npos) << run.err;
    EXPECT_LT(run.maxRssKb, 300 * kMiB);
}

// The picture takes 1 GiB: it is decoded once, straight into the brush's
// pixels.
TEST_F(HostilePictures, MaximalGifIsHeldOnce)
{
    PlayerRun run = RunProgram(QM_PLAYER_PATH, {Applet("maximal.gif", RunsGif(16384, 16384, 1, 16384))});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_LT(run.maxRssKb, 1536 * kMiB);
}

// The same picture as an anim of one frame: its bitmap takes the decoded
// canvas over.
TEST_F(HostilePictures, MaximalGifAnimIsHeldOnce)
{
    PlayerRun run =
        RunProgram(QM_PLAYER_PATH, {Applet("maximal.gif", RunsGif(16384, 16384, 1, 16384), "loadanim")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_LT(run.maxRssKb, 1536 * kMiB);
}

// Ten frames of the largest size on a screen of one pixel: only the pixel
// is decoded and held, as a brush and as an anim.
TEST_F(HostilePictures, FramesOffTheScreenAreNeitherDecodedNorHeld)
{
    Bytes gif = RunsGif(1, 1, 10, 16384);
    for (const char* command : {"loadbrush", "loadanim"}) {
        PlayerRun run = RunProgram(QM_PLAYER_PATH, {Applet("offscreen.gif", gif, command)});
        EXPECT_EQ(run.status, 0) << command << ": " << run.err;
        EXPECT_NE(run.out.find("load ended"), std::string::npos) << command;
        EXPECT_LT(run.maxRssKb, 128 * kMiB) << command;
    }
}

// Interlaced frames must be decoded down to their second pass to show two
// rows: three such frames of the largest size cost more than a picture of
// the largest size and are refused before anything is decoded.
TEST_F(HostilePictures, FramesTooCostlyToDecodeAreRefusedNamingTheFile)
{
    PlayerRun run =
        RunProgram(QM_PLAYER_PATH, {Applet("costly.gif", RunsGif(16384, 2, 3, 16384, true), "loadanim")});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Cannot open anim costly.gif!"), std::string::npos) << run.err;
    EXPECT_LT(run.maxRssKb, 128 * kMiB);
    // Two of them are within the bound.
    PlayerRun two = RunProgram(QM_PLAYER_PATH, {Applet("two.gif", RunsGif(16384, 2, 2, 16384, true), "loadanim")});
    EXPECT_EQ(two.status, 0) << two.err;
}

// A user abort while a large anim decodes ends the run as an abort does:
// silently and with success.
TEST_F(HostilePictures, AbortEndsALargeAnimDecode)
{
    std::string applet = Applet("maximal.gif", RunsGif(16384, 16384, 1, 16384), "loadanim");
    PlayerRun run = RunPlayerAbortedAfter(QM_PLAYER_PATH, applet, "load begins");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out.find("load ended"), std::string::npos) << run.out;
}

}  // namespace
