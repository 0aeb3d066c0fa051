// Memory names written by a script: text that claims a block of memory opens
// nothing, whatever command it reaches. The run ends with the read error
// naming the file, never with a read of memory the name points at.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "e2e/test_applet.h"

using namespace qmasm;

namespace {

// A 16-byte block's address as text: ToString shows it as "UserData: 0x"
// and the hexadecimal digits. The name is ":::memory" + digits + SIZE.
const std::string kBlockName =
    CommandCall("allocmem", {"#1", "#16"}) + CommandCall("getmempointer", {"#1"}, 1) +
    "    GETGLOBAL r1, \"tostring\"\n    MOVE r2, r0\n    CALL r1, 2, 2\n    GETGLOBAL r2, \"replacestr\"\n"
    "    MOVE r3, r1\n    LOADK r4, \"UserData: 0x\"\n    LOADK r5, \"\"\n    CALL r2, 4, 2\n    LOADK r1, \":::memory\"\n"
    "    LOADK r3, SIZE\n    CONCAT r4, r1, r3\n    SETGLOBAL r4, \"forged\"\n";

// Each prelude leaves a forged name in the global "forged". Messages show
// such a name whole: its colons end no volume name.
struct Forgery {
    const char* what;
    std::string prelude;
    const char* shownName;  // how the error names it: all of it, or its start
};

const Forgery kForgeries[] = {
    {"number text", "    LOADK r0, \":::memory1000:40\"\n    SETGLOBAL r0, \"forged\"\n", ":::memory1000:40"},
    {"live block, size past its end", Fill(kBlockName, {{"SIZE", "\":1000\""}}), ":::memory"},
    {"live block, its own size", Fill(kBlockName, {{"SIZE", "\":10\""}}), ":::memory"},
    {"freed block", Fill(kBlockName, {{"SIZE", "\":10\""}}) + CommandCall("freemem", {"#1"}), ":::memory"},
};

struct Use {
    const char* command;
    std::vector<std::string> operands;
    const char* message;  // the command's error for a file it cannot read
};

const Use kUses[] = {
    {"filetostring", {"@forged"}, "Cannot read file "},
    {"loadbrush", {"#1", "@forged"}, "Cannot read file "},
    {"loadsample", {"#1", "@forged"}, "Cannot open sound file "},
    {"openfile", {"#1", "@forged"}, "Cannot read file "},
    {"loadanim", {"#1", "@forged"}, "Cannot read file "},
    {"openmusic", {"#1", "@forged"}, "Cannot open sound file "},
    {"openvideo", {"#1", "@forged"}, "Cannot load video "},
};

class ForgedMemoryNames : public ::testing::Test {
protected:
    PlayerRun Run(const std::string& body) { return PlayApplet(dir, AssembleTestApplet(MainScript(body))); }

    TempDir dir;
};

TEST_F(ForgedMemoryNames, EveryFileCommandRefusesThemNamingTheFile)
{
    for (const Forgery& forgery : kForgeries) {
        for (const Use& use : kUses) {
            SCOPED_TRACE(std::string(forgery.what) + " / " + use.command);
            PlayerRun run = Run(forgery.prelude + CommandCall(use.command, use.operands));
            EXPECT_EQ(run.status, 1) << run.err;
            EXPECT_NE(run.err.find(std::string(use.message) + forgery.shownName), std::string::npos) << run.err;
            // A sanitizer's report also ends the run with status 1.
            EXPECT_EQ(run.err.find("Sanitizer"), std::string::npos) << run.err;
        }
        // FileSize answers -1 for a name that is no file, as for a missing
        // one.
        PlayerRun run = Run(forgery.prelude + CommandCall("filesize", {"@forged"}, 1) +
                            "    MOVE r1, r0\n    GETGLOBAL r0, \"debugprint\"\n    CALL r0, 2, 1\n");
        EXPECT_EQ(run.status, 0) << forgery.what << ": " << run.err;
        EXPECT_EQ(run.out, "-1\n") << forgery.what;
    }
}

// The forgeries above do name the live block: the text that the script
// builds is ":::memory", the block's address and the size.
TEST_F(ForgedMemoryNames, TheForgedBlockNameMatchesTheBlock)
{
    PlayerRun run = Run(kForgeries[2].prelude + "    GETGLOBAL r0, \"debugprint\"\n    GETGLOBAL r1, \"forged\"\n" +
                        "    GETGLOBAL r2, \"tostring\"\n    GETGLOBAL r3, \"getmempointer\"\n    LOADK r4, #1\n" +
                        "    CALL r3, 2, 2\n    CALL r2, 2, 2\n    CALL r0, 3, 1\n");
    ASSERT_EQ(run.status, 0) << run.err;
    // The digits after ":::memory" are the block's.
    EXPECT_TRUE(std::regex_match(run.out, std::regex(":::memory([0-9a-fA-F]+):10 UserData: 0x\\1\n"))) << run.out;
}

// The memory names that the player makes itself still open: the host's
// file copier, asked by a plugin, reads the plugin's bytes through one.
TEST_F(ForgedMemoryNames, NamesThePlayerMakesStillOpen)
{
    std::string target = dir.file("copy.txt");
    PlayerRun run = Run(CommandCall("loadplugin", {"\"" QM_TEST_PLUGIN_DIR "/mathx.qmp\""}) +
                        "    GETGLOBAL r0, \"mathx\"\n    GETTABLE r0, r0, \"writecopy\"\n    LOADK r1, \"" + target +
                        "\"\n    LOADK r2, \"bytes of the plugin\"\n    CALL r0, 3, 1\n");
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<uint8_t> copied = ReadFileBytes(target);
    EXPECT_EQ(std::string(copied.begin(), copied.end()), "bytes of the plugin");
}

}  // namespace
