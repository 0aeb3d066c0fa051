// The command-line tools as a user runs them: their help, their answer to a
// command line they cannot use, and code the player would refuse.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "e2e/player_process.h"
#include "support/temp_dir.h"

namespace {

const char kQmasm[] = QM_QMASM_PATH;
const char kQmdis[] = QM_QMDIS_PATH;
const char kQmlink[] = QM_QMLINK_PATH;
const char kPlayer[] = QM_PLAYER_PATH;

TEST(CommandLine, HelpExplainsEveryOptionOnStandardOutput)
{
    const std::pair<const char*, std::vector<std::string>> tools[] = {
        {kQmasm, {"usage: qmasm", "-o OUT.qmb", "--applet OUT.qma", "--packed", "--title TEXT", "--version TEXT",
                  "--copyright TEXT", "--author TEXT", "--description TEXT", "--identifier NAME", "--link NAME=FILE",
                  "--bgpic ID=FILE", "-h, --help", "docs/assembly.md"}},
        {kQmdis, {"usage: qmdis CHUNK.qmb", "-h, --help", "docs/assembly.md"}},
        {kQmlink, {"usage: qmlink PLAYER APPLET.qma -o OUTPUT", "--plugin FILE.qmp", "--pack-plugins", "-h, --help",
                   "docs/assembly.md"}},
    };
    for (const auto& [tool, mentions] : tools) {
        for (const char* ask : {"--help", "-h"}) {
            PlayerRun run = RunProgram(tool, {ask});
            EXPECT_EQ(run.status, 0) << tool << " " << ask;
            EXPECT_EQ(run.err, "") << tool;
            for (const std::string& m : mentions)
                EXPECT_NE(run.out.find(m), std::string::npos) << tool << " help lacks " << m << ":\n" << run.out;
        }
        // Help that cannot be written is a failure, not a success.
        PlayerRun full = RunProgram("/bin/sh", {"-c", "exec \"$0\" --help >/dev/full", tool});
        EXPECT_EQ(full.status, 1) << tool;
    }
}

TEST(CommandLine, AWrongCommandLineSaysWhatIsWrongAndWritesNothing)
{
    TempDir dir;
    std::string in = dir / "in.qas", out = dir / "out.qma";
    WriteFileText(in, "    LOADNUM r0, 1\n");
    struct Case {
        const char* tool;
        std::vector<std::string> args;
        const char* says;
    };
    std::vector<Case> cases = {
        {kQmasm, {in}, "qmasm: nothing to write: give -o OUT.qmb for the compiled chunk or --applet OUT.qma"},
        {kQmasm, {}, "qmasm: no input file"},
        {kQmasm, {in, "-o"}, "qmasm: -o needs a value"},
        {kQmasm, {in, "--frob", "--applet", out}, "qmasm: unknown option --frob"},
        {kQmasm, {in, in, "--applet", out}, "qmasm: one input file only"},
        {kQmasm, {in, "-o", out, "--title", "T"}, "shape an applet: give --applet OUT.qma too"},
        {kQmasm, {in, "--applet", out, "--bgpic", "0=a.png"}, "--bgpic takes ID=FILE with an ID from 1, not 0=a.png"},
        {kQmasm, {in, "--applet", out, "--link", "=a.png"}, "--link takes NAME=FILE, not =a.png"},
        {kQmasm, {in, "--applet", out, "--identifier"}, "qmasm: --identifier needs a value"},
        {kQmasm, {in, "--applet", out, "--author", std::string(256, 'a')}, "--author takes up to 255 bytes, not 256"},
        {kQmasm, {in, "-o", out, "--identifier", "x"}, "shape an applet: give --applet OUT.qma too"},
        {kQmdis, {}, "qmdis: no input file"},
        {kQmdis, {in, in}, "qmdis: one input file only"},
        {kQmdis, {"--frob"}, "qmdis: unknown option --frob"},
        {kQmlink, {}, "qmlink: needs the player and the applet"},
        {kQmlink, {kPlayer, in}, "qmlink: no output: give -o OUTPUT"},
        {kQmlink, {kPlayer, in, in, "-o", out}, "qmlink: takes the player and one applet only"},
        {kQmlink, {kPlayer, in, "-o", out, "--plugin"}, "qmlink: --plugin needs a file name"},
        {kQmlink, {kPlayer, in, "-o", out, "--frob"}, "qmlink: unknown option --frob"},
    };
    // An identifier names a file in the preferences folder: only a plain
    // file name stays inside it.
    for (const char* id : {"../x", "a/b", "a\\b", "a:b", "..", ".", ""})
        cases.push_back({kQmasm, {in, "--applet", out, "--identifier", id},
                       "--identifier must be a plain file name (not empty, . or .., without '/', '\\' or ':'), not"});
    for (const auto& c : cases) {
        PlayerRun run = RunProgram(c.tool, c.args);
        std::string line = std::string(c.tool) + (c.args.empty() ? "" : " " + c.args.back());
        EXPECT_EQ(run.status, 2) << line;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << line << ":\n" << run.err;
        EXPECT_NE(run.err.find("usage: "), std::string::npos) << line;
        EXPECT_EQ(run.out, "") << line;
        EXPECT_FALSE(FileExists(out)) << line;
    }
}

TEST(CommandLine, AssemblerRefusesTestsThatNoJumpFollowsAtTheirLine)
{
    TempDir dir;
    std::string in = dir / "tests.qas", applet = dir / "tests.qma";
    const std::pair<const char*, const char*> refused[] = {
        // What each pair needs is the assembler's own tests'; here the
        // file and line lead the message, blank lines and functions counted.
        {"    LOADNUM r0, 1\n\n    LE 1, r0, #0\n    RETURN r0, 1\n", ":3: LE must be followed by a JMP"},
        {".function f\n    LOADNUM r0, 1\n    TEST r1, r0, 0\n.end\n    RETURN r0, 1\n", ":3: TEST must be followed by a JMP"},
    };
    for (const auto& [text, says] : refused) {
        WriteFileText(in, text);
        PlayerRun run = RunProgram(kQmasm, {in, "--applet", applet, "-o", dir / "tests.qmb"});
        EXPECT_EQ(run.status, 1) << text;
        EXPECT_EQ(run.err.rfind(in + says, 0), 0u) << text << "\n" << run.err;
        EXPECT_FALSE(FileExists(applet));
        EXPECT_FALSE(FileExists(dir / "tests.qmb"));
    }
    // Paired as the player wants, the same instructions assemble and run,
    // and an error names the assembly file, the line and the command.
    WriteFileText(in, "    LOADNUM r0, 0\n    EQ 1, r0, #0\n    JMP done\n    GETGLOBAL r0, \"getcommandline\"\n"
                      "    CALL r0, 1, 0\n    RETURN r0, 0\ndone:\n    LOADNUM r0, 1, 1\n    LOADNUM r0, 2\n"
                      "    GETGLOBAL r0, \"openfile\"\n    LOADK r1, #1\n    CALL r0, 2, 1\n");
    PlayerRun ok = RunProgram(kQmasm, {in, "--applet", applet});
    ASSERT_EQ(ok.status, 0) << ok.err;
    PlayerRun played = RunProgram(kPlayer, {applet});
    EXPECT_EQ(played.status, 1);
    EXPECT_EQ(played.err, "QuillmerePlayer: Not enough arguments!\n"
                          "File: tests.qas (current line: 12 - In function: OpenFile)\n");
}

TEST(CommandLine, DisassemblerReadsWhatTheAssemblerWrote)
{
    TempDir dir;
    WriteFileText(dir / "a.qas", "    LOADNUM r0, 7\n    RETURN r0, 2\n");
    ASSERT_EQ(RunProgram(kQmasm, {dir / "a.qas", "-o", dir / "a.qmb"}).status, 0);
    PlayerRun text = RunProgram(kQmdis, {dir / "a.qmb"});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("LOADNUM r0, 7"), std::string::npos) << text.out;
    PlayerRun missing = RunProgram(kQmdis, {dir / "none.qmb"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "qmdis: cannot read " + dir / "none.qmb" + "\n");
}

}  // namespace
