// ScaleBrush, RotateBrush and DistortBrush called by an applet that the
// player runs, on a brush loaded from a PNG that ImageMagick writes: after
// each call the applet prints GetLastError and the brush's size, mask and
// alpha attributes; the method constants are read with GetConstant.
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
    const char* expected;               // "<GetLastError> <width> <height> <mask> <alpha>"
};

// Brush 1's attribute `attribute` into register r, through r+1..r+3.
std::string Attribute(int r, int attribute)
{
    auto reg = [&](int k) { return "r" + std::to_string(r + k); };
    return "    GETGLOBAL " + reg(0) + ", \"getattribute\"\n    LOADK " + reg(1) + ", #3\n    LOADK " + reg(2) +
           ", #1\n    LOADK " + reg(3) + ", #" + std::to_string(attribute) + "\n    CALL " + reg(0) + ", 4, 2\n";
}

std::string CallText(const Call& c)
{
    std::string t = CommandCall(c.command, c.operands);
    t += "    GETGLOBAL r0, \"debugprint\"\n    LOADK r1, \"" + std::string(c.command) + "\"\n";
    t += "    GETGLOBAL r2, \"getlasterror\"\n    CALL r2, 1, 2\n";
    t += Attribute(3, 0) + Attribute(4, 1) + Attribute(5, 16) + Attribute(6, 17);
    return t + "    CALL r0, 7, 1\n";
}

class BrushTransformsApplet : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!HaveConvert())
            GTEST_SKIP() << kImageMagick << " writes the picture";
        std::string make = std::string(kImageMagick) + " -size 24x16 gradient:red-blue PNG32:" + dir.file("p.png");
        ASSERT_EQ(std::system(make.c_str()), 0);
    }

    PlayerRun Play(const std::vector<Call>& calls)
    {
        std::string text = ".chunk lines=auto\n.function main source=\"@test.qas\"\n";
        text += "    GETGLOBAL r0, \"exitonerror\"\n    LOADNUM r1, 0\n    CALL r0, 2, 1\n";
        text += "    GETGLOBAL r0, \"loadbrush\"\n    LOADNUM r1, 1\n    LOADK r2, \"" + dir.file("p.png") +
                "\"\n    NEWTABLE r3, 0, 1\n    SETTABLE r3, \"loadalpha\", #1\n    CALL r0, 4, 1\n";
        // {2, 0, 0, 0, 1, 0}: twice as wide; {1, 0, 0}: too short.
        text += "    NEWTABLE r0, 0, 6\n    SETTABLE r0, #0, #2\n    SETTABLE r0, #1, #0\n    SETTABLE r0, #2, #0\n"
                "    SETTABLE r0, #3, #0\n    SETTABLE r0, #4, #1\n    SETTABLE r0, #5, #0\n    SETGLOBAL r0, \"wide\"\n"
                "    NEWTABLE r0, 0, 3\n    SETTABLE r0, #0, #1\n    SETTABLE r0, #1, #0\n    SETTABLE r0, #2, #0\n"
                "    SETGLOBAL r0, \"short\"\n";
        for (const char* name : {"#DISTORT_AFFINE", "#DISTORT_BILINEAR", "#DISTORT_PERSPECTIVE_POINTS"})
            text += std::string("    GETGLOBAL r0, \"debugprint\"\n    GETGLOBAL r1, \"getconstant\"\n    LOADK r2, \"") + name +
                    "\"\n    CALL r1, 2, 2\n    CALL r0, 2, 1\n";
        for (const Call& c : calls)
            text += CallText(c);
        text += "    RETURN r0, 1\n.end\n";
        std::string path = dir.file("test.qma");
        WriteFileBytes(path, qmasm::WriteApplet(AssembleTestApplet(text)));
        return RunProgram(QM_PLAYER_PATH, {"-debugdevice", "console", path}, {"TMPDIR=" + dir.path()});
    }

    TempDir dir;
};

TEST_F(BrushTransformsApplet, CommandsReplaceTheBrushAndRefusalsLeaveIt)
{
    const std::vector<Call> calls = {
        {"scalebrush", {"#1", "#100000", "#8", "#1"}, "0 12 8 0 1"},
        {"rotatebrush", {"#1", "#90"}, "0 8 12 0 1"},
        {"rotatebrush", {"#1", "#-90", "#2", "#0.5"}, "0 24 4 0 1"},
        {"distortbrush", {"#1", "#0", "@wide"}, "0 48 4 0 1"},
        {"scalebrush", {"#1", "#0", "#5"}, "1039 48 4 0 1"},
        {"distortbrush", {"#1", "#9", "@wide"}, "1039 48 4 0 1"},
        {"distortbrush", {"#1", "#0", "@short"}, "1060 48 4 0 1"},
        {"scalebrush", {"#7", "#5", "#5"}, "1174 48 4 0 1"},
    };
    PlayerRun run = Play(calls);
    ASSERT_EQ(run.status, 0) << run.err;
    std::string expected = "0\n2\n4\n";
    for (const Call& c : calls)
        expected += std::string(c.command) + " " + c.expected + "\n";
    EXPECT_NE(run.out.find(expected), std::string::npos) << "expected\n" << expected << "in\n" << run.out;
}

}  // namespace
