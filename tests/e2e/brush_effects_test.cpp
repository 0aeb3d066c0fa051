// The brush effect and transform commands called by an applet that the
// player runs, on a brush loaded from a PNG that ImageMagick writes, with
// the error GetLastError reports after each call: a new transparency shows
// in the brush's attributes, a transform's result in its size, mask and
// alpha. The pixels each effect makes are pinned by tests/display.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "e2e/test_applet.h"
#include "support/picture_oracle.h"

namespace {

struct Call {
    const char* command;
    std::vector<std::string> operands;  // assembly constants; @name reads a global
    int expected;                       // GetLastError afterwards
};

// The brush's attribute `attribute` into register r, through r+1..r+3.
std::string Attribute(int r, int attribute, int brush = 1)
{
    auto reg = [&](int k) { return "r" + std::to_string(r + k); };
    return "    GETGLOBAL " + reg(0) + ", \"getattribute\"\n    LOADK " + reg(1) + ", #3\n    LOADK " + reg(2) + ", #" +
           std::to_string(brush) + "\n    LOADK " + reg(3) + ", #" + std::to_string(attribute) + "\n    CALL " +
           reg(0) + ", 4, 2\n";
}

class BrushEffectsApplet : public ::testing::Test {
protected:
    void SetUp() override
    {
        QM_SKIP_WITHOUT(HaveConvert()) << kImageMagick << " writes the picture";
        std::string make = std::string(kImageMagick) + " -size 24x16 gradient:red-blue PNG32:" + dir.file("p.png");
        ASSERT_EQ(std::system(make.c_str()), 0);
    }

    TempDir dir;
};

TEST_F(BrushEffectsApplet, RefusalsComeBackAsErrorsAndTransformsReplaceTheBrush)
{
    const std::vector<Call> calls = {
        {"setbrushtransparency", {"#2", "#0xFF00FF"}, 0},
        {"solarizebrush", {"#1", "#300"}, 1039},
        {"quantizebrush", {"#1", "#257"}, 1039},
        {"gammabrush", {"#1", "#-1"}, 1039},
        // Format ids past the inbuilt ones go to the saver plugins: none
        // knows 77; a brush that is gone and a file that cannot be written
        // are errors too.
        {"savebrush", {"#1", "\"" + dir.file("x.img") + "\"", "#77"}, 1486},
        {"savebrush", {"#9", "\"" + dir.file("x.bmp") + "\""}, 1174},
        {"savebrush", {"#1", "\"" + dir.file("none/x.bmp") + "\""}, 1052},
    };
    std::string text = CommandCall("exitonerror", {"#0"});
    for (const char* id : {"#1", "#2"})
        text += CommandCall("loadbrush", {id, "\"" + dir.file("p.png") + "\"", "{loadalpha=#1}"});
    for (const Call& c : calls)
        text += ErrorAfter(c.command, CommandCall(c.command, c.operands));
    // Brush 2's mask attribute.
    text += "    GETGLOBAL r0, \"debugprint\"\n    LOADK r1, \"mask\"\n" + Attribute(2, 16, 2) + "    CALL r0, 3, 1\n";
    std::string expected;
    for (const Call& c : calls)
        expected += std::string(c.command) + " " + std::to_string(c.expected) + "\n";
    expected += "mask 1\n";

    // ScaleBrush, RotateBrush and DistortBrush: after each call the applet
    // prints GetLastError and brush 1's size, mask and alpha attributes.
    const struct {
        const char* command;
        std::vector<std::string> operands;
        const char* expected;  // "<GetLastError> <width> <height> <mask> <alpha>"
    } transforms[] = {
        {"scalebrush", {"#1", "#100000", "#8", "#1"}, "0 12 8 0 1"},
        {"rotatebrush", {"#1", "#90"}, "0 8 12 0 1"},
        {"rotatebrush", {"#1", "#-90", "#2", "#0.5"}, "0 24 4 0 1"},
        {"distortbrush", {"#1", "#0", "@wide"}, "0 48 4 0 1"},
    };
    // {2, 0, 0, 0, 1, 0} doubles the width.
    text += "    NEWTABLE r0, 0, 6\n";
    for (int i = 0; i < 6; ++i)
        text += "    SETTABLE r0, #" + std::to_string(i) + ", #" + "200010"[i] + "\n";
    text += "    SETGLOBAL r0, \"wide\"\n";
    for (const auto& c : transforms) {
        text += CommandCall(c.command, c.operands) + "    GETGLOBAL r0, \"debugprint\"\n    LOADK r1, \"" + c.command +
                "\"\n    GETGLOBAL r2, \"getlasterror\"\n    CALL r2, 1, 2\n" + Attribute(3, 0) + Attribute(4, 1) +
                Attribute(5, 16) + Attribute(6, 17) + "    CALL r0, 7, 1\n";
        expected += std::string(c.command) + " " + c.expected + "\n";
    }
    PlayerRun run = PlayApplet(dir, AssembleTestApplet(MainScript(text)), {"-debugdevice", "console"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find(expected), std::string::npos) << "expected\n" << expected << "in\n" << run.out;
    EXPECT_FALSE(FileExists(dir.file("x.img")));
}

}  // namespace
