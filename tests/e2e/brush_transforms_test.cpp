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

TEST(BrushTransformsApplet, CommandsReplaceTheBrushAndRefusalsLeaveIt)
{
    if (!HaveConvert()) GTEST_SKIP() << kImageMagick << " writes the picture";
    TempDir dir;
    std::string picture = dir.file("p.png"), applet = dir.file("test.qma");
    ASSERT_EQ(std::system((std::string(kImageMagick) + " -size 24x16 gradient:red-blue PNG32:" + picture).c_str()), 0);
    const Call calls[] = {
        {"scalebrush", {"#1", "#100000", "#8", "#1"}, "0 12 8 0 1"},
        {"rotatebrush", {"#1", "#90"}, "0 8 12 0 1"},
        {"rotatebrush", {"#1", "#-90", "#2", "#0.5"}, "0 24 4 0 1"},
        {"distortbrush", {"#1", "#0", "@wide"}, "0 48 4 0 1"},
        {"scalebrush", {"#1", "#0", "#5"}, "1039 48 4 0 1"},
        {"distortbrush", {"#1", "#9", "@wide"}, "1039 48 4 0 1"},
        {"distortbrush", {"#1", "#0", "@short"}, "1060 48 4 0 1"},
        {"scalebrush", {"#7", "#5", "#5"}, "1174 48 4 0 1"},
    };
    // Errors come back through GetLastError; {2, 0, 0, 0, 1, 0} doubles the
    // width, {1, 0, 0} is too short for any method.
    std::string text = ".chunk lines=auto\n.function main source=\"@test.qas\"\n" +
                       CommandCall("exitonerror", {"#0"}) + "    GETGLOBAL r0, \"loadbrush\"\n    LOADNUM r1, 1\n"
                       "    LOADK r2, \"" + picture + "\"\n    NEWTABLE r3, 0, 1\n    SETTABLE r3, \"loadalpha\", #1\n"
                       "    CALL r0, 4, 1\n    NEWTABLE r0, 0, 6\n";
    for (int i = 0; i < 6; ++i) text += "    SETTABLE r0, #" + std::to_string(i) + ", #" + "200010"[i] + "\n";
    text += "    SETGLOBAL r0, \"wide\"\n    NEWTABLE r0, 0, 3\n    SETTABLE r0, #0, #1\n    SETGLOBAL r0, \"short\"\n";
    for (const char* name : {"#DISTORT_AFFINE", "#DISTORT_BILINEAR", "#DISTORT_PERSPECTIVE_POINTS"})
        text += std::string("    GETGLOBAL r0, \"debugprint\"\n    GETGLOBAL r1, \"getconstant\"\n    LOADK r2, \"") +
                name + "\"\n    CALL r1, 2, 2\n    CALL r0, 2, 1\n";
    std::string expected = "0\n2\n4\n";  // the three constants
    for (const Call& c : calls) {
        text += CallText(c);
        expected += std::string(c.command) + " " + c.expected + "\n";
    }
    WriteFileBytes(applet, qmasm::WriteApplet(AssembleTestApplet(text + "    RETURN r0, 1\n.end\n")));
    PlayerRun run = RunProgram(QM_PLAYER_PATH, {"-debugdevice", "console", applet}, {"TMPDIR=" + dir.path()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find(expected), std::string::npos) << "expected\n" << expected << "in\n" << run.out;
}

}  // namespace
