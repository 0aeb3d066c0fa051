// Hostile videos through the whole player: a small AVI whose header
// declares a chunk of more than a gigabyte. FFmpeg's demuxer would zero-fill
// that much before finding out that the file holds 338 bytes; the player
// refuses the file with an error naming it, within a bound of memory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/player_process.h"
#include "e2e/test_applet.h"
#include "support/temp_dir.h"
#include "tools/qmasm/applet_writer.h"

using namespace qmasm;

namespace {

using Bytes = std::vector<uint8_t>;

void PutTag(Bytes* out, const char* tag)
{
    for (int i = 0; i < 4; ++i)
        out->push_back(static_cast<uint8_t>(tag[i]));
}

void PutLE32(Bytes* out, uint32_t v)
{
    for (int shift = 0; shift < 32; shift += 8)
        out->push_back(static_cast<uint8_t>(v >> shift));
}

// RIFF "AVI " holding one INFO list whose first entry claims `claimed`
// bytes, padded with zeros to 338 bytes.
Bytes LyingAvi(uint32_t claimed)
{
    Bytes info;
    PutTag(&info, "INFO");
    PutTag(&info, "ISFT");
    PutLE32(&info, claimed);
    PutTag(&info, "tool");
    Bytes body;
    PutTag(&body, "AVI ");
    PutTag(&body, "LIST");
    PutLE32(&body, claimed + 16);
    body.insert(body.end(), info.begin(), info.end());
    Bytes avi;
    PutTag(&avi, "RIFF");
    PutLE32(&avi, static_cast<uint32_t>(body.size()));
    avi.insert(avi.end(), body.begin(), body.end());
    avi.resize(338, 0);
    return avi;
}

constexpr long kMiB = 1024;  // in the kilobytes of maxRssKb

TEST(HostileVideos, AviDeclaringAGigabyteChunkIsRefusedWithinBoundedMemory)
{
    TempDir dir;
    std::string video = dir.file("lying.avi");
    WriteFileBytes(video, LyingAvi(0x50000000));
    std::string applet = dir.file("lying.qma");
    WriteFileBytes(applet, WriteApplet(AssembleTestApplet(".chunk lines=auto\n.function main source=\"@test.qas\"\n" +
                                                          CommandCall("openvideo", {"#1", "\"" + video + "\""}) +
                                                          "    RETURN r0, 1\n.end\n")));
    PlayerRun run = RunProgram(QM_PLAYER_PATH, {applet}, {"TMPDIR=" + dir.path()});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("lying.avi"), std::string::npos) << run.err;
    EXPECT_LT(run.maxRssKb, 300 * kMiB);
}

}  // namespace
