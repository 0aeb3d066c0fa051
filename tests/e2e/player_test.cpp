// The player binary end to end: applets written by the test assembler and
// applet writer, run as a user runs them, judged by exit status and output.
#include <gtest/gtest.h>

#include <signal.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "e2e/player_process.h"
#include "e2e/test_applet.h"
#include "support/temp_dir.h"
#include "support/tiny_module.h"
#include "tools/qmasm/applet_writer.h"
#include "tools/qmasm/assembled_applet.h"
#include "tools/qmasm/assembler.h"
#include "tools/qmasm/linker.h"

using namespace qmasm;

namespace {

using Bytes = std::vector<uint8_t>;

const char kPlayer[] = QM_PLAYER_PATH;

const std::string kEndsNormally = MainScript("    LOADNUM r0, 1\n");

// Line 5 calls a command with too few arguments.
const std::string kFailsOnLine5 = MainScript("    LOADNUM r0, 1\n    GETGLOBAL r1, \"upperstr\"\n    CALL r1, 1, 1\n");

// Calls the test plugin's library command that always fails (1459).
const std::string kCallsPlugin = MainScript("    GETGLOBAL r0, \"mathx\"\n    GETTABLE r0, r0, \"fail\"\n    CALL r0, 1, 1\n");

// Prints the first two options the player handed to the script.
const char kPrintsArguments[] =
    ".chunk lines=auto\n    GETGLOBAL r0, \"getcommandline\"\n    CALL r0, 1, 2\n    GETGLOBAL r1, \"debugprint\"\n"
    "    GETTABLE r6, r0, #0\n    GETTABLE r2, r6, \"arg\"\n    GETTABLE r3, r6, \"param\"\n"
    "    GETTABLE r6, r0, #1\n    GETTABLE r4, r6, \"arg\"\n    GETTABLE r5, r6, \"param\"\n"
    "    CALL r1, 5, 1\n    RETURN r0, 1\n";

class Player : public ::testing::Test {
protected:
    TempDir dir;

    std::string Write(const AppletDescription& a, const std::string& file = "test.qma")
    {
        std::string path = dir.file(file);
        WriteFileBytes(path, WriteApplet(a));
        return path;
    }
    std::string Applet(const std::string& source) { return Write(AssembleTestApplet(source)); }

    PlayerRun Play(std::vector<std::string> args, std::vector<std::string> env = {})
    {
        env.push_back("TMPDIR=" + dir.path());
        return RunProgram(kPlayer, args, env);
    }

    // Whether the temporary folder holds anything besides the test's own files.
    bool Leftovers()
    {
        for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            if (e.path().filename().string().rfind("quillmere", 0) == 0)
                return true;
        return false;
    }
};

// FFmpeg and the sound decoders' libraries are linked only when a video or
// a sound needs the inbuilt decoders: the player itself names none of them,
// and still opens a video, WAV, FLAC, MP3 and a tracker module through its
// decoder modules (broken ones: tests/e2e HostileFiles).
TEST_F(Player, MediaNeedNoDecoderLibrariesAtStartUp)
{
    PlayerRun needed = RunProgram("/bin/sh", {"-c", std::string("readelf -d '") + kPlayer + "'"});
    ASSERT_EQ(needed.status, 0);
    EXPECT_NE(needed.out.find("NEEDED"), std::string::npos);
    for (const char* lib : {"libavformat", "libavcodec", "libavutil", "libswscale", "libsndfile", "libmpg123",
                            "libopenmpt", "libFLAC", "libvorbis", "libogg", "libopus", "libmp3lame"})
        EXPECT_EQ(needed.out.find(lib), std::string::npos) << lib;

    auto q = [&](const char* name) { return "\"" + dir.file(name) + "\""; };
    PlayerRun make = RunProgram(
        "/bin/sh", {"-c", "cd '" + dir.path() + "' && ffmpeg -v error -y -f lavfi -i "
                          "testsrc=size=32x16:rate=5:duration=1 -pix_fmt yuv420p bars.mp4 && ffmpeg -v error -y "
                          "-f lavfi -i sine=frequency=440:sample_rate=22050:duration=0.5 tone.wav && sox tone.wav "
                          "tone.flac && ffmpeg -v error -y -i tone.wav -c:a libmp3lame tone.mp3"});
    ASSERT_EQ(make.status, 0) << make.err;
    WriteFileBytes(dir.file("tiny.mod"), TinyModule());
    std::string loads = MainScript(
        CommandCall("openvideo", {"#1", q("bars.mp4")}) + CommandCall("loadsample", {"#1", q("tone.wav")}) +
        CommandCall("loadsample", {"#2", q("tone.flac")}) + CommandCall("loadsample", {"#3", q("tone.mp3")}) +
        CommandCall("openmusic", {"#4", q("tiny.mod")}) + CommandCall("debugprint", {"\"loaded\""}));
    PlayerRun run = Play({Applet(loads)});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "loaded\n");
}

// Packed or not, and leaving no temporary file behind.
TEST_F(Player, FatalErrorNamesFileAndLineOnStderr)
{
    AppletDescription a = AssembleTestApplet(kFailsOnLine5);
    for (bool packed : {false, true}) {
        a.packed = packed;
        PlayerRun run = Play({Write(a)});
        EXPECT_EQ(run.out, "");
        ExpectReport(run, "QuillmerePlayer: Not enough arguments!\nFile: test.qas (current line: 5 - In function: UpperStr)\n");
        EXPECT_FALSE(Leftovers());
    }
}

TEST_F(Player, DebugDeviceGetsTheMachineReadableLine)
{
    PlayerRun run = Play({"-debugdevice", "console", Applet(kFailsOnLine5)});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find("QuillmerePlayer 6.1 [Linux]"), std::string::npos);
    EXPECT_NE(run.out.find("\n@_qmerror5:test.qas*Not enough arguments!\n"), std::string::npos) << run.out;

    std::string log = dir.file("debug.txt");
    PlayerRun toFile = Play({"-debugdevice", "::file" + log, dir.file("test.qma")});
    EXPECT_EQ(toFile.status, 1);
    EXPECT_EQ(toFile.out, "");
    Bytes written = ReadFileBytes(log);
    EXPECT_NE(std::string(written.begin(), written.end()).find("@_qmerror5:test.qas*"), std::string::npos);
}

TEST_F(Player, EveryStartupStepEndsWithOneReport)
{
    // Whichever step fails, shutdown runs to the end: one report, nothing
    // else on the error stream (a leak or a fault in the sanitizer build
    // would add its own), and the failure's exit status.
    AppletDescription garbage = AssembleTestApplet(kEndsNormally);
    garbage.code = {0x1B, 'X', 'Y', 'Z', 0, 0, 0, 0, 0, 0, 0, 0};
    std::string badCode = Write(garbage, "bad.qma");
    std::string good = Applet(kEndsNormally);
    const std::vector<std::string> cases[] = {
        {"-scrwidth"},
        {dir.file("absent.qma")},
        {"-autoscale", "-layerscale", good},
        {badCode},
        {"-requireplugins", "nosuchplugin", good},
    };
    for (const auto& args : cases) {
        PlayerRun run = Play(args);
        EXPECT_EQ(run.status, 1) << args[0];
        EXPECT_EQ(run.err.rfind("QuillmerePlayer: ", 0), 0u) << args[0] << ": " << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << args[0] << ": " << run.err;
        EXPECT_FALSE(Leftovers());
    }
    // A debug file that cannot be made leaves the console as debug device.
    PlayerRun unwritable = Play({"-debugdevice", "::file/nonexistent-folder/x/log", good});
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_EQ(unwritable.err, "");
    EXPECT_NE(unwritable.out.find("@_qmerror0:\"\"*"), std::string::npos) << unwritable.out;
}

TEST_F(Player, NoScriptAndNoAnswerIsAUserAbort)
{
    PlayerRun run = Play({});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err.find("QuillmerePlayer:"), std::string::npos);
}

// The ini file beside the script is read; unknown options, from it and the
// command line, reach the script.
TEST_F(Player, IniFileAndUnknownOptionsReachTheScript)
{
    std::string applet = Applet(kPrintsArguments);
    auto ini = [&](const std::string& text) { WriteFileBytes(dir.file("test.ini"), Bytes(text.begin(), text.end())); };
    ini("level = hard\n");
    PlayerRun run = Play({"-foo", "bar", "-quiet", applet});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "foo bar level hard\n");
    ini("monitor=0\n");
    ExpectReport(Play({applet}), "QuillmerePlayer: Specified monitor is out of range!\n");
    ini("broken\n");
    ExpectReport(Play({applet}), "QuillmerePlayer: Syntax error in configuration file!\n");
}

// Writes a line to target and ends, leaving the file for the player to close.
std::string WritesALine(const std::string& target)
{
    return MainScript(CommandCall("openfile", {"#1", "\"" + target + "\"", "#1006"}) +
                      CommandCall("writeline", {"#1", "\"" + std::string(100, 'x') + "\""}));
}

// Lost data must not look like success to a shell: neither bytes a full
// disk refused when the player closed the script's file, nor console
// output that never arrived.
TEST_F(Player, LostOutputFailsTheRun)
{
    PlayerRun full = Play({Write(AssembleTestApplet(WritesALine("/dev/full")))});
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.err.rfind("QuillmerePlayer: Could not write all characters to file!", 0), 0u) << full.err;

    EXPECT_EQ(Play({Write(AssembleTestApplet(WritesALine(dir.file("fine.txt"))))}).status, 0);
    EXPECT_EQ(ReadFileBytes(dir.file("fine.txt")).size(), 102u);

    std::string sum = std::string(kPlayer).substr(0, std::string(kPlayer).find_last_of('/')) + "/examples/sum.qma";
    PlayerRun console = RunProgram("/bin/sh", {"-c", "exec \"$0\" \"$1\" >/dev/full", kPlayer, sum});
    EXPECT_EQ(console.status, 1);
    EXPECT_NE(console.err.find("QuillmerePlayer: "), std::string::npos);
}

TEST_F(Player, StartupMessagesSayWhatHappened)
{
    AppletDescription packed = AssembleTestApplet(kEndsNormally);
    packed.packed = true;
    packed.constants.push_back({"padding", true, 0, std::string(20000, 'p')});
    std::string applet = Write(packed);
    ExpectReport(Play({"-tempdir", dir.file("missing"), applet}),
                 "QuillmerePlayer: Cannot write to file " + dir.file("missing") + " !\n");

    // A temporary folder that fills while the applet is unpacked: the
    // file-size limit stands in for a full disk.
    PlayerRun full = RunProgram("/bin/sh", {"-c", "ulimit -f 8; trap '' XFSZ; exec \"$0\" \"$1\"", kPlayer, applet},
                                {"TMPDIR=" + dir.path()});
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.err.rfind("QuillmerePlayer: Cannot write to file " + dir.path() + "/", 0), 0u) << full.err;
    EXPECT_FALSE(Leftovers());
}

TEST_F(Player, MalformedRequireTagsFailTheStart)
{
    std::string applet = Applet(kEndsNormally);
    for (const char* tags : {"x[[[", "x[a=1", "[a=1]", "x[1=2]", "x[a='open]", "x[a=1,]", "x[a=1] y"}) {
        SCOPED_TRACE(tags);
        ExpectReport(Play({"-requiretags", tags, applet}), "QuillmerePlayer: Syntax error in tag format!\n");
    }
    for (const char* tags : {"x[a=1]", " x[a=1, b='two words'] y[] ", "mp3[lowlatency=true,rate=$FF]"})
        EXPECT_EQ(Play({"-requiretags", tags, applet}).status, 0) << tags;
}

class LinkedPlayer : public Player {
protected:
    std::string Link(const AppletDescription& a, const std::vector<BundlePlugin>& plugins = {}, bool pack = false)
    {
        LinkResult r = LinkApplet(ReadFileBytes(kPlayer), WriteApplet(a), plugins, pack);
        EXPECT_TRUE(r.ok) << r.message;
        std::string path = dir.file("linked");
        WriteFileBytes(path, r.bytes);
        chmod(path.c_str(), 0700);
        return path;
    }
};

// No plugin bundle follows the applet: the program runs its applet alone.
TEST_F(LinkedPlayer, WithoutPluginsRunsItsOwnAppletSilently)
{
    PlayerRun run = RunProgram(Link(AssembleTestApplet(kEndsNormally)), {"-debugdevice", "console"},
                               {"TMPDIR=" + dir.path()});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
}

TEST_F(LinkedPlayer, PluginBundleIsUnpackedLoadedAndRemoved)
{
    Bytes plugin = ReadFileBytes(std::string(QM_TEST_PLUGIN_DIR) + "/mathx.qmp");
    ASSERT_FALSE(plugin.empty());
    for (bool pack : {false, true}) {
        std::string program = Link(AssembleTestApplet(kCallsPlugin), {{"mathx", plugin}}, pack);
        std::string log = dir.file(pack ? "packed.log" : "plain.log");
        PlayerRun run = RunProgram(program, {}, {"TMPDIR=" + dir.path(), "QM_TEST_PLUGIN_LOG=" + log});
        // The plugin's command ran: its failure is the script's.
        EXPECT_EQ(run.status, 1) << pack;
        EXPECT_NE(run.err.find("current line: 5"), std::string::npos) << run.err;
        Bytes logged = ReadFileBytes(log);
        EXPECT_NE(std::string(logged.begin(), logged.end()).find("init mathx"), std::string::npos);
        EXPECT_FALSE(Leftovers()) << pack;
    }
}

// Every signal that asks a program to end ends the run as a user abort:
// silently, with shutdown's clean-up of the unpacked applet and of the
// plugin folder a linked program unpacked. A linked program shows no banner.
TEST_F(LinkedPlayer, EndingSignalsCleanUpLikeAnAbort)
{
    AppletDescription a = AssembleTestApplet(MainScript(CommandCall("debugprint", {"\"ready\""}) + "loop:\n    JMP loop\n"));
    a.packed = true;
    std::string program = Link(a, {{"mathx", ReadFileBytes(std::string(QM_TEST_PLUGIN_DIR) + "/mathx.qmp")}});
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        PlayerRun run = RunProgram(program, {"-debugdevice", "console", "-forceflush"}, {"TMPDIR=" + dir.path()},
                                   SignalAfter("ready", sig));
        EXPECT_EQ(run.status, 0) << sig;
        EXPECT_EQ(run.out.rfind("ready\n", 0), 0u) << run.out;
        EXPECT_EQ(run.out.find("@_qmerror"), std::string::npos) << sig;
        EXPECT_EQ(run.err, "") << sig;
        EXPECT_FALSE(Leftovers()) << sig;
    }
}

}  // namespace
