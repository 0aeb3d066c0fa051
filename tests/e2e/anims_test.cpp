// Applets that declare anims and sprites, from files and embedded in the
// applet, and ask GetAttribute about them, as the player runs them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/test_applet.h"
#include "support/anim_gif_oracle.h"
#include "support/picture_oracle.h"
#include "tools/qmasm/assembled_applet.h"

using namespace qmasm;

namespace {

// What the script loads itself, frame delays, loaders, counts and sprites
// on screen are asked in tests/display, through the same commands.
TEST(AnimApplets, DeclaredAnimsAndSpritesAnswerGetAttribute)
{
    QM_SKIP_WITHOUT(HavePil()) << "PIL missing";
    TempDir dir;
    ASSERT_TRUE(RunPython(dir.path(), kMakeAnimGif, dir.path()));
    std::string gif = dir / "anim.gif";
    enum { ANIM = 4, SPRITE = 32 };
    const std::vector<Ask> asks = {
        {"file frames", ANIM, "#1", 11, "7"},
        {"file width", ANIM, "#1", 0, "20"},
        {"embedded frames", ANIM, "#2", 11, "7"},
        {"embedded height", ANIM, "#2", 1, "14"},
        {"sprite frames", SPRITE, "#1", 11, "7"},
        {"embedded sprite width", SPRITE, "#2", 0, "20"},
    };
    std::string text;
    for (const Ask& a : asks)
        text += AskText(a);
    AppletDescription applet = AssembleTestApplet(MainScript(text));
    std::vector<uint8_t> bytes = ReadFileBytes(gif);
    applet.preloads = {DeclaredFile(2, 1, gif), DeclaredFile(2, 2, "gone/anim.gif", 0, bytes), DeclaredFile(7, 1, gif),
                       DeclaredFile(7, 2, "gone/anim.gif", 0, bytes)};
    ExpectAnswers(PlayApplet(dir, applet, {"-debugdevice", "console"}), asks);
}

}  // namespace
