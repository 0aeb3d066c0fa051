// Applets that declare anims and sprites, from files and embedded in the
// applet, and ask GetAttribute about them and about anims and sprites the
// script loads itself, as the player runs them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/test_applet.h"
#include "media/image_files.h"
#include "support/anim_gif_oracle.h"
#include "support/picture_oracle.h"
#include "tools/qmasm/assembled_applet.h"

using namespace qmasm;

namespace {

// Prints the label and what the query answers, or the label, "!" and the
// error code when it fails.
std::string Ask(const std::string& label, int type, int id, int attribute, int extra = -1)
{
    std::string call = "    GETGLOBAL r2, \"getattribute\"\n    LOADK r3, #" + std::to_string(type) +
                       "\n    LOADK r4, #" + std::to_string(id) + "\n    LOADK r5, #" + std::to_string(attribute) + "\n";
    if (extra >= 0)
        call += "    LOADK r6, #" + std::to_string(extra) + "\n";
    call += "    CALL r2, " + std::to_string(extra >= 0 ? 5 : 4) + ", 2\n";
    return call + "    GETGLOBAL r3, \"getlasterror\"\n    CALL r3, 1, 2\n    GETGLOBAL r0, \"debugprint\"\n"
                  "    LOADK r1, \"" + label + "\"\n    MOVE r4, r2\n    MOVE r2, r3\n    MOVE r3, r4\n"
                  "    CALL r0, 4, 1\n";
}

TEST(AnimApplets, DeclaredAndLoadedAnimsAndSpritesAnswerGetAttribute)
{
    if (!HavePil())
        GTEST_SKIP() << "PIL missing";
    TempDir dir;
    ASSERT_TRUE(RunPython(dir.path(), kMakeAnimGif, dir.path()));
    std::string gif = dir / "anim.gif";
    std::string strip = dir / "strip.png";
    ASSERT_FALSE(WriteTestPng(strip, 12, 4).empty());
    enum { ANIM = 4, SPRITE = 32 };
    std::string text = MainScript(CommandCall("exitonerror", {"#0"}) +
                       CommandCall("loadanim", {"#5", "\"" + strip + "\"", "{frames=#3}"}) +
                       CommandCall("loadsprite", {"#6", "\"" + strip + "\"", "{frames=#4,fpr=#2}"}) +
                       Ask("file frames", ANIM, 1, 11) + Ask("file width", ANIM, 1, 0) +
                       Ask("file delay", ANIM, 1, 37, 3) + Ask("delay zero", ANIM, 1, 37, 0) +
                       Ask("file loader", ANIM, 1, 91) + Ask("embedded frames", ANIM, 2, 11) +
                       Ask("embedded height", ANIM, 2, 1) + Ask("strip frames", ANIM, 5, 11) +
                       Ask("strip width", ANIM, 5, 0) + Ask("anim count", ANIM, 0, 60) +
                       Ask("sprite frames", SPRITE, 1, 11) + Ask("sprite onscreen", SPRITE, 1, 23) +
                       Ask("sprite xpos", SPRITE, 1, 7) + Ask("embedded sprite width", SPRITE, 2, 0) +
                       Ask("strip sprite size", SPRITE, 6, 1) + Ask("missing anim", ANIM, 9, 0));
    AppletDescription applet = AssembleTestApplet(text);
    std::vector<uint8_t> bytes = ReadFileBytes(gif);
    applet.preloads = {DeclaredFile(2, 1, gif), DeclaredFile(2, 2, "gone/anim.gif", 0, bytes), DeclaredFile(7, 1, gif),
                       DeclaredFile(7, 2, "gone/anim.gif", 0, bytes)};
    PlayerRun run = PlayApplet(dir, applet, {"-debugdevice", "console"});
    EXPECT_EQ(run.status, 0) << run.err;
    ExpectLines(run.out, {"file frames 0 7", "file width 0 20", "file delay 0 300", "delay zero 1094 Nil",
                          "file loader 0 inbuilt", "embedded frames 0 7", "embedded height 0 14", "strip frames 0 3",
                          "strip width 0 4", "anim count 0 3", "sprite frames 0 7", "sprite onscreen 0 0",
                          "sprite xpos 1220 Nil", "embedded sprite width 0 20", "strip sprite size 0 2",
                          "missing anim 1176 Nil"});
}

}  // namespace
