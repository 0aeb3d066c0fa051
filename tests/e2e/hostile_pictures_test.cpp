// Hostile pictures through the whole player: a PNG whose chunk length lies
// and a small GIF that declares the largest picture allowed. Each must end
// within a bound of memory: the lying length allocates nothing near what it
// claims, and the large picture is held once, not once decoded and once
// more as the brush's bitmap.
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "e2e/player_process.h"
#include "e2e/test_applet.h"
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

void PutLE16(Bytes* out, uint32_t v)
{
    out->push_back(static_cast<uint8_t>(v));
    out->push_back(static_cast<uint8_t>(v >> 8));
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

// 16384 x 16384 in one colour in about 100 KB: LZW codes for ever longer
// runs until the table is full, then its longest code again and again.
Bytes MaximalGif()
{
    const uint32_t side = 16384;
    const uint64_t total = uint64_t{side} * side;
    Bytes gif = {'G', 'I', 'F', '8', '9', 'a'};
    PutLE16(&gif, side);
    PutLE16(&gif, side);
    gif.insert(gif.end(), {0x80, 0, 0, 0, 0, 0, 255, 255, 255, ','});
    PutLE16(&gif, 0);
    PutLE16(&gif, 0);
    PutLE16(&gif, side);
    PutLE16(&gif, side);
    gif.insert(gif.end(), {0, 2});
    Bytes codes;
    uint64_t accumulator = 0;
    uint32_t held = 0;
    auto put = [&](uint32_t code, uint32_t bits) {
        accumulator |= uint64_t{code} << held;
        for (held += bits; held >= 8; held -= 8, accumulator >>= 8)
            codes.push_back(static_cast<uint8_t>(accumulator));
    };
    uint32_t bits = 3, next = 6;
    put(4, bits);  // clear
    put(0, bits);
    uint64_t produced = 1, length = 1;
    while (produced < total && next < 4096) {
        put(next, bits);  // the previous string and its first index again
        produced += ++length;
        if (++next == (1u << bits) && bits < 12)
            ++bits;
    }
    for (; produced < total; produced += length)
        put(4095, 12);
    put(5, 12);  // end
    if (held)
        codes.push_back(static_cast<uint8_t>(accumulator));
    for (size_t at = 0; at < codes.size(); at += 255) {
        size_t n = std::min<size_t>(255, codes.size() - at);
        gif.push_back(static_cast<uint8_t>(n));
        gif.insert(gif.end(), codes.begin() + static_cast<std::ptrdiff_t>(at),
                   codes.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
    gif.insert(gif.end(), {0, ';'});
    return gif;
}

// An applet that loads `file` as brush 1.
std::string LoadingScript(const std::string& file)
{
    return ".chunk lines=auto\n.function main source=\"@test.qas\"\n" +
           CommandCall("loadbrush", {"#1", "\"" + file + "\""}) +
           "    RETURN r0, 1\n.end\n";
}

class HostilePictures : public ::testing::Test {
protected:
    std::string Applet(const std::string& picture, const Bytes& bytes)
    {
        WriteFileBytes(dir.file(picture), bytes);
        std::string applet = dir.file(picture + ".qma");
        WriteFileBytes(applet, WriteApplet(AssembleTestApplet(LoadingScript(dir.file(picture)))));
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
    PlayerRun run = RunProgram(QM_PLAYER_PATH, {Applet("maximal.gif", MaximalGif())});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_LT(run.maxRssKb, 1536 * kMiB);
}

}  // namespace
