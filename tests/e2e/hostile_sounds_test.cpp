// Hostile sounds through the whole player: a FLAC file of 72 KB that
// declares more than a gigabyte of samples, and a sound whose decoder is
// slow. The large sound is refused before any of it is decoded (within a
// bound of memory far below what it declares) and opens at once as music;
// a user abort ends a long decode between two blocks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/player_process.h"
#include "e2e/test_applet.h"
#include "support/silent_flac.h"
#include "support/temp_dir.h"
#include "tools/qmasm/applet_writer.h"

using namespace qmasm;

namespace {

constexpr long kMiB = 1024;  // in the kilobytes of maxRssKb

class HostileSounds : public ::testing::Test {
protected:
    // An applet that runs the setup, then the calls between two lines of
    // output.
    std::string Applet(const std::string& name, const std::string& calls, const std::string& setup = "")
    {
        std::string applet = dir.file(name + ".qma");
        WriteFileBytes(applet, WriteApplet(AssembleTestApplet(MarkedLoadScript(calls, setup))));
        return applet;
    }

    TempDir dir;
};

// 2^28 + 64464 stereo frames of 16 bits: just over the 1 GiB that all
// samples together may hold.
TEST_F(HostileSounds, SoundLongerThanAllSamplesMayHoldIsRefusedBeforeDecoding)
{
    std::string flac = dir.file("huge.flac");
    WriteFileBytes(flac, SilentFlac(268500000, 268500000, 48000, 2));
    PlayerRun run =
        RunProgram(QM_PLAYER_PATH, {Applet("sample", CommandCall("loadsample", {"#1", "\"" + flac + "\""}))});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("huge.flac!"), std::string::npos) << run.err;
    EXPECT_LT(run.maxRssKb, 128 * kMiB);
    // As music it streams: opening reads no more than the start.
    PlayerRun music =
        RunProgram(QM_PLAYER_PATH, {Applet("music", CommandCall("openmusic", {"#1", "\"" + flac + "\""}))});
    EXPECT_EQ(music.status, 0) << music.err;
    EXPECT_NE(music.out.find("load ended"), std::string::npos);
    EXPECT_LT(music.maxRssKb, 128 * kMiB);
}

// The test plugin's "slowtone" takes 10 ms for every thousand frames, so
// that decoding these 16 M frames whole would take longer than the test
// run lets the player live.
TEST_F(HostileSounds, AbortEndsALongSampleDecode)
{
    std::string plugin = std::string(QM_TEST_PLUGIN_DIR) + "/media/procsound.qmp";
    std::string applet = Applet("slow", CommandCall("loadsample", {"#1", "\"slowtone:8000:16777216:10\""}),
                                CommandCall("loadplugin", {"\"" + plugin + "\""}));
    PlayerRun run = RunPlayerAbortedAfter(QM_PLAYER_PATH, applet, "load begins");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out.find("load ended"), std::string::npos) << run.out;
}

}  // namespace
