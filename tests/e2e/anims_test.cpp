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
    const std::vector<Ask> asks = {
        {"file frames", ANIM, "#1", 11, "7"},        {"file width", ANIM, "#1", 0, "20"},
        {"file delay", ANIM, "#1", 37, "300", "#3"}, {"delay zero", ANIM, "#1", 37, "!1094", "#0"},
        {"file loader", ANIM, "#1", 91, "inbuilt"},  {"embedded frames", ANIM, "#2", 11, "7"},
        {"embedded height", ANIM, "#2", 1, "14"},    {"strip frames", ANIM, "#5", 11, "3"},
        {"strip width", ANIM, "#5", 0, "4"},         {"anim count", ANIM, "#0", 60, "3"},
        {"sprite frames", SPRITE, "#1", 11, "7"},    {"sprite onscreen", SPRITE, "#1", 23, "0"},
        {"sprite xpos", SPRITE, "#1", 7, "!1220"},   {"embedded sprite width", SPRITE, "#2", 0, "20"},
        {"strip sprite size", SPRITE, "#6", 1, "2"}, {"missing anim", ANIM, "#9", 0, "!1176"},
    };
    std::string text = CommandCall("exitonerror", {"#0"}) +
                       CommandCall("loadanim", {"#5", "\"" + strip + "\"", "{frames=#3}"}) +
                       CommandCall("loadsprite", {"#6", "\"" + strip + "\"", "{frames=#4,fpr=#2}"});
    for (const Ask& a : asks)
        text += AskText(a);
    AppletDescription applet = AssembleTestApplet(MainScript(text));
    std::vector<uint8_t> bytes = ReadFileBytes(gif);
    applet.preloads = {DeclaredFile(2, 1, gif), DeclaredFile(2, 2, "gone/anim.gif", 0, bytes), DeclaredFile(7, 1, gif),
                       DeclaredFile(7, 2, "gone/anim.gif", 0, bytes)};
    ExpectAnswers(PlayApplet(dir, applet, {"-debugdevice", "console"}), asks);
}

}  // namespace
