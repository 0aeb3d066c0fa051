// Hostile files through the whole player: lying lengths, pictures and
// sounds of the largest sizes allowed and beyond. Each must end within a
// bound of memory; what would cost too much is refused, naming the file; an
// abort stops a long decode.
#include <gtest/gtest.h>

#include <zlib.h>

#include <csignal>

#include <string>
#include <vector>

#include "e2e/test_applet.h"
#include "support/hand_gifs.h"
#include "support/shell_output.h"
#include "support/silent_flac.h"

using namespace qmasm;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr long kMiB = 1024;  // in the kilobytes of maxRssKb

// The word as 4 bytes, most significant first or last.
std::string Word(uint32_t v, bool bigEndian)
{
    std::string word;
    for (int i = 0; i < 4; i++)
        word += static_cast<char>(v >> (bigEndian ? 24 - 8 * i : 8 * i));
    return word;
}

// A chunk with the given length field in front of data of another length.
std::string Chunk(const std::string& type, const std::string& data, uint32_t length)
{
    std::string typed = type + data;
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size()));
    return Word(length, true) + typed + Word(static_cast<uint32_t>(crc), true);
}

// 16 x 16 RGB, then a text chunk claiming 2 GiB that holds 1.4 KB.
Bytes LyingPng()
{
    std::string header = Word(16, true) + Word(16, true) + std::string("\x08\x02\0\0\0", 5);
    std::string png = "\x89PNG\r\n\x1A\n" + Chunk("IHDR", header, 13) +
                      Chunk("tEXt", std::string("Comment\0", 8) + std::string(1392, 'x'), 0x7FFFFFFF);
    return Bytes(png.begin(), png.end());
}

// RIFF "AVI " holding one INFO list whose first entry claims `claimed`
// bytes, padded with zeros to 338 bytes. FFmpeg's demuxer would zero-fill
// that much before finding out how little the file holds.
Bytes LyingAvi(uint32_t claimed)
{
    std::string avi = "RIFF" + Word(28, false) + "AVI LIST" + Word(claimed + 16, false) + "INFOISFT" +
                      Word(claimed, false) + "tool";
    avi.resize(338, 0);
    return Bytes(avi.begin(), avi.end());
}

// A mono 16-bit WAV at 8000 Hz whose data chunk says `declared` bytes and holds `held`.
Bytes WavWithData(uint32_t declared, uint32_t held)
{
    std::string wav = "RIFF" + Word(36 + held, false) + "WAVEfmt " + Word(16, false) +
                      std::string("\x01\0\x01\0", 4) + Word(8000, false) + Word(16000, false) +
                      std::string("\x02\0\x10\0", 4) + "data" + Word(declared, false) + std::string(held, '\x11');
    return Bytes(wav.begin(), wav.end());
}

class HostileFiles : public ::testing::Test {
protected:
    // An applet that runs the setup, then the calls between two lines of output.
    std::string Applet(const std::string& name, const std::string& calls, const std::string& setup = "")
    {
        std::string applet = dir.file(name + ".qma");
        WriteFileBytes(applet, WriteApplet(AssembleTestApplet(MarkedLoadScript(calls, setup))));
        return applet;
    }

    // Writes the file and runs an applet that opens it with the command.
    PlayerRun Open(const std::string& file, const Bytes& bytes, const std::string& command = "loadbrush")
    {
        WriteFileBytes(dir.file(file), bytes);
        std::string applet = Applet(file + "." + command, CommandCall(command, {"#1", "\"" + dir.file(file) + "\""}));
        return RunProgram(QM_PLAYER_PATH, {applet}, {"TMPDIR=" + dir.path()});
    }

    TempDir dir;
    const std::string loadProcsound = CommandCall("loadplugin", {"\"" QM_TEST_PLUGIN_DIR "/media/procsound.qmp\""});
};

TEST_F(HostileFiles, EachEndsWithinItsBoundOfMemory)
{
    const Bytes maximal = RunsGif(16384, 16384, 1, 16384), offscreen = RunsGif(1, 1, 10, 16384);
    // 2^28 + 64464 stereo frames of 16 bits: just over the 1 GiB that all
    // samples together may hold.
    const Bytes flac = SilentFlac(268500000, 268500000, 48000, 2);
    const struct {
        const char *file, *command;
        Bytes bytes;
        int status;
        const char* says;  // in the error report
        long maxRssKb;
    } cases[] = {
        {"lying.png", "loadbrush", LyingPng(), 1, "lying.png", 300 * kMiB},
        {"lying.avi", "openvideo", LyingAvi(0x50000000), 1, "lying.avi", 300 * kMiB},
        // 1 GiB of pixels: decoded once, straight into the brush's pixels;
        // as an anim of one frame, its bitmap takes the decoded canvas over.
        {"maximal.gif", "loadbrush", maximal, 0, "", 1536 * kMiB},
        {"maximal.gif", "loadanim", maximal, 0, "", 1536 * kMiB},
        // Ten frames of the largest size on a screen of one pixel.
        {"offscreen.gif", "loadbrush", offscreen, 0, "", 128 * kMiB},
        {"offscreen.gif", "loadanim", offscreen, 0, "", 128 * kMiB},
        // Interlaced frames must be decoded down to their second pass to
        // show two rows: three such frames of the largest size cost more
        // than a picture of the largest size, two are within the bound.
        {"costly.gif", "loadanim", RunsGif(16384, 2, 3, 16384, true), 1, "Cannot open anim costly.gif!", 128 * kMiB},
        {"two.gif", "loadanim", RunsGif(16384, 2, 2, 16384, true), 0, "", 1536 * kMiB},
        {"huge.flac", "loadsample", flac, 1, "huge.flac!", 128 * kMiB},
        // As music it streams: opening reads no more than the start.
        {"huge.flac", "openmusic", flac, 0, "", 128 * kMiB},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + c.command);
        PlayerRun run = Open(c.file, c.bytes, c.command);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_LT(run.maxRssKb, c.maxRssKb);
    }
}

// Headers that promise frames the file does not hold: a sound that decodes
// to nothing and is declared as music of the applet, linked into it, ends
// the run before the script starts, naming the file and the command.
TEST_F(HostileFiles, DeclaredSoundsThatDecodeToNothingEndTheRun)
{
    // sox's FLAC of one block of 100 frames, cut by its last byte: the
    // block's checksum fails and nothing of it decodes.
    const std::string made = dir.file("made.flac");
    ShellOutput("sox -n -r 8000 -c 1 -b 16 '" + made + "' synth 0.0125 sine 440");
    Bytes flac = ReadFileBytes(made);
    ASSERT_GT(flac.size(), 42u);
    flac.pop_back();
    const struct {
        const char* file;
        Bytes bytes;
    } cases[] = {{"empty.wav", WavWithData(0, 0)}, {"lying.wav", WavWithData(1000000, 1)}, {"cut.flac", flac}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        AppletDescription a = AssembleTestApplet(MainScript(CommandCall("debugprint", {"\"started\""})));
        a.preloads.push_back(DeclaredFile(3, 1, c.file, 6, c.bytes));
        PlayerRun run = PlayApplet(dir, a);
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_NE(run.err.find(std::string(c.file) + "!"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("OpenMusic"), std::string::npos) << run.err;
        EXPECT_EQ(run.out.find("started"), std::string::npos) << run.out;
    }
}

// A sound loader plugin that writes a decoded block of 64 frames into every
// read, however few frames it was asked for, loads whole as a sample and
// as music.
TEST_F(HostileFiles, SoundPluginWritingWholeBlocksLoads)
{
    const std::vector<Ask> asks = {{"sample", 2, "#1", 11, "1000"}, {"music", 33, "#2", 14, "125"}};
    std::string calls = CommandCall("loadsample", {"#1", "\"blocktone:8000:1000\""}) +
                        CommandCall("openmusic", {"#2", "\"blocktone:8000:1000\""});
    for (const Ask& ask : asks) calls += AskText(ask);
    PlayerRun run = RunProgram(QM_PLAYER_PATH, {"-debugdevice", "console", Applet("blocks", calls, loadProcsound)});
    EXPECT_EQ(run.status, 0) << run.err;
    ExpectAnswers(run, asks);
}

// A user abort while a large decode runs ends the run as an abort does:
// silently and with success. The test plugin's "slowtone" takes 10 ms for
// every thousand frames, so that decoding these 16 M frames whole would
// take longer than the test run lets the player live.
TEST_F(HostileFiles, AbortEndsALargeAnimOrALongSampleDecode)
{
    WriteFileBytes(dir.file("maximal.gif"), RunsGif(16384, 16384, 1, 16384));
    for (const std::string& applet :
         {Applet("anim", CommandCall("loadanim", {"#1", "\"" + dir.file("maximal.gif") + "\""})),
          Applet("slow", CommandCall("loadsample", {"#1", "\"slowtone:8000:16777216:10\""}), loadProcsound)}) {
        PlayerRun run = RunProgram(QM_PLAYER_PATH, {"-debugdevice", "console", "-forceflush", applet}, {},
                                   SignalAfter("load begins", SIGTERM));
        EXPECT_EQ(run.status, 0) << applet << ": " << run.err;
        EXPECT_EQ(run.err, "") << applet;
        EXPECT_EQ(run.out.find("load ended"), std::string::npos) << applet << ": " << run.out;
    }
}

}  // namespace
