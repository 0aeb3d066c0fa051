// The brush effect commands called by an applet that the player runs: the
// commands on a brush loaded from a PNG that ImageMagick writes, with the
// error GetLastError reports after each call; a new transparency shows in
// the brush's attributes; and a refused argument ends a run that does not
// catch errors with its message and line.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "e2e/player_process.h"
#include "e2e/test_applet.h"
#include "support/picture_oracle.h"
#include "support/temp_dir.h"

namespace {

struct Call {
    const char* command;
    std::vector<std::string> operands;  // assembly constants; @name reads a global
    int expected;                       // GetLastError afterwards
};

// The call, then "<command> <GetLastError>" on the debug device.
std::string CallText(const Call& c)
{
    std::string t = CommandCall(c.command, c.operands);
    t += "    GETGLOBAL r0, \"debugprint\"\n    LOADK r1, \"" + std::string(c.command) + "\"\n";
    t += "    GETGLOBAL r2, \"getlasterror\"\n    CALL r2, 1, 2\n    CALL r0, 3, 1\n";
    return t;
}

class BrushEffectsApplet : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!HaveConvert())
            GTEST_SKIP() << kImageMagick << " writes the picture";
        std::string make = std::string(kImageMagick) + " -size 24x16 gradient:red-blue PNG32:" + dir.file("p.png");
        ASSERT_EQ(std::system(make.c_str()), 0);
    }

    PlayerRun Play(bool exitOnError, const std::vector<Call>& calls, const std::string& tail = "")
    {
        std::string text = ".chunk lines=auto\n.function main source=\"@test.qas\"\n";
        text += CommandCall("exitonerror", {exitOnError ? "#1" : "#0"});
        for (const char* id : {"#1", "#2"})
            text += CommandCall("loadbrush", {id, "\"" + dir.file("p.png") + "\"", "{loadalpha=#1}"});
        text += "    NEWTABLE r0, 0, 2\n    SETTABLE r0, #0, #0xFF0000\n    SETTABLE r0, #1, #0x00FF00\n"
                "    SETGLOBAL r0, \"pairs\"\n";
        for (const Call& c : calls)
            text += CallText(c);
        text += tail + "    RETURN r0, 1\n.end\n";
        std::string path = dir.file("test.qma");
        WriteFileBytes(path, qmasm::WriteApplet(AssembleTestApplet(text)));
        return RunProgram(QM_PLAYER_PATH, {"-debugdevice", "console", path}, {"TMPDIR=" + dir.path()});
    }

    TempDir dir;
};

TEST_F(BrushEffectsApplet, CommandsRunAndRefusalsComeBackAsErrors)
{
    const std::vector<Call> calls = {
        {"tintbrush", {"#1", "#0", "#0", "#10", "#10", "#0xFF8000"}, 0},
        {"mixbrush", {"#1", "#1", "#3", "#2", "#0", "#0", "#30", "#30", "#255"}, 0},
        {"invertbrush", {"#1"}, 0},
        {"setbrushtransparency", {"#2", "#0xFF00FF"}, 0},
        {"replacecolors", {"#1", "@pairs"}, 0},
        {"solarizebrush", {"#1"}, 0},
        {"swirlbrush", {"#1", "#400"}, 0},
        {"waterripplebrush", {"#1", "#6", "#3"}, 0},
        {"quantizebrush", {"#1", "#16"}, 0},
        {"solarizebrush", {"#1", "#300"}, 1039},
        {"quantizebrush", {"#1", "#257"}, 1039},
        {"invertbrush", {"#7"}, 1174},
    };
    std::string tail = "    GETGLOBAL r0, \"debugprint\"\n    LOADK r1, \"mask\"\n"
                       "    GETGLOBAL r2, \"getattribute\"\n    LOADK r3, #3\n    LOADK r4, #2\n    LOADK r5, #16\n"
                       "    CALL r2, 4, 2\n    CALL r0, 3, 1\n";
    PlayerRun run = Play(false, calls, tail);
    ASSERT_EQ(run.status, 0) << run.err;
    std::string expected;
    for (const Call& c : calls)
        expected += std::string(c.command) + " " + std::to_string(c.expected) + "\n";
    expected += "mask 1\n";
    EXPECT_NE(run.out.find(expected), std::string::npos) << "expected\n" << expected << "in\n" << run.out;
}

TEST_F(BrushEffectsApplet, RefusedArgumentsEndTheRunAtTheirLine)
{
    struct Case {
        Call call;
        std::string message;
    };
    const Case cases[] = {
        {{"solarizebrush", {"#1", "\"high\""}, 0}, "Number expected in argument 2!"},
        {{"gammabrush", {"#1", "#-1"}, 0}, "Value out of range!"},
        {{"tintbrush", {"#1", "#0", "#0"}, 0}, "Not enough arguments!"},
    };
    for (const Case& c : cases) {
        PlayerRun run = Play(true, {c.call});
        EXPECT_EQ(run.status, 1) << c.call.command;
        // The debug device's error line: the line of the CALL (after 22 lines
        // of set-up and one line per operand), the file, the message.
        size_t at = 23 + c.call.operands.size();
        std::string line = "@_qmerror" + std::to_string(at) + ":test.qas*" + c.message + "\n";
        EXPECT_NE(run.out.find(line), std::string::npos) << run.out;
    }
}

}  // namespace
