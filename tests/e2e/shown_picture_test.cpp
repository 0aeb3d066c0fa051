// A display that shows a background picture has the picture's size, in the
// player as a script sees it: snapshots of the display and of its window,
// the size GetAttribute answers and the box SetClipRegion accepts all read
// that one size, whatever size the display was declared with. The picture
// it shows cannot be replaced under it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/test_applet.h"
#include "support/picture_oracle.h"

using namespace qmasm;

namespace {

const char kMakePng[] = R"PY(
import sys
from PIL import Image
w, h = int(sys.argv[2]), int(sys.argv[3])
im = Image.new('RGB', (w, h))
im.putdata([((x * 40) % 256, (y * 70) % 256, 99) for y in range(h) for x in range(w)])
im.save(sys.argv[1])
)PY";

// Prints the label and then the values (or the error code) that the
// command call in `call` leaves in r0.
std::string PrintAfter(const std::string& label, const std::string& call)
{
    return call + "    MOVE r5, r0\n" + CommandCall("getlasterror", {}, 1) + "    MOVE r6, r0\n" +
           "    GETGLOBAL r0, \"debugprint\"\n    LOADK r1, \"" + label + "\"\n    MOVE r2, r5\n    MOVE r3, r6\n" +
           "    CALL r0, 4, 1\n";
}

class ShownPicture : public ::testing::Test {
protected:
    void SetUp() override { QM_SKIP_WITHOUT(HavePil()) << "PIL makes the pictures"; }

    // Runs `body` with background picture 1 loaded from a w x h PNG and
    // display 1 declared 640 x 480 showing it.
    PlayerRun Play(int w, int h, const std::string& body)
    {
        std::string picture = dir.file("picture.png");
        EXPECT_TRUE(RunPython(dir.path(), kMakePng, picture + " " + std::to_string(w) + " " + std::to_string(h)));
        AppletDescription a = AssembleTestApplet(MainScript(CommandCall("exitonerror", {"#0"}) + body));
        a.preloads.push_back(DeclaredFile(0, 1, picture, 2));
        AppletDisplay d;
        d.bgpic = 1;
        d.flags = 512;  // the display names its picture
        a.preloads.push_back(DeclaredDisplay(d));
        return PlayApplet(dir, a, {"-debugdevice", "console"}, {"XDG_CONFIG_HOME=" + dir.path()});
    }

    TempDir dir;
};

TEST_F(ShownPicture, SnapshotsOfAOnePixelPictureAreFiftyEightByteBmps)
{
    std::string shown = dir.file("shown.bmp"), window = dir.file("window.bmp");
    PlayerRun run = Play(1, 1,
                         CommandCall("savesnapshot", {"\"" + shown + "\"", "#1", "#0"}) +
                             CommandCall("savesnapshot", {"\"" + window + "\"", "#0", "#0"}) +
                             PrintAfter("width", CommandCall("getattribute", {"#21", "#1", "#0"}, 1)) +
                             PrintAfter("height", CommandCall("getattribute", {"#21", "#1", "#1"}, 1)));
    ASSERT_EQ(run.status, 0) << run.err;
    ExpectLines(run.out, {"width 1 0", "height 1 0"});
    for (const std::string& file : {shown, window}) {
        std::vector<uint8_t> bmp = ReadFileBytes(file);
        ASSERT_EQ(bmp.size(), 58u) << file;
        // The one pixel, blue green red, then one byte of padding.
        EXPECT_EQ(std::vector<uint8_t>(bmp.begin() + 54, bmp.end()), (std::vector<uint8_t>{99, 0, 0, 0})) << file;
    }
}

TEST_F(ShownPicture, ClipRegionsFitThePictureThatIsNotReplacedUnderTheDisplay)
{
    std::string other = dir.file("other.png"), shown = dir.file("shown.bmp");
    ASSERT_TRUE(RunPython(dir.path(), kMakePng, other + " 5 3"));
    PlayerRun run = Play(17, 9,
                         CommandCall("createclipregion", {"#1", "#14", "#0", "#0", "#18", "#9"}) +
                             PrintAfter("too wide", CommandCall("setclipregion", {"#1"}, 1)) +
                             CommandCall("createclipregion", {"#2", "#14", "#0", "#0", "#17", "#10"}) +
                             PrintAfter("too high", CommandCall("setclipregion", {"#2"}, 1)) +
                             CommandCall("createclipregion", {"#3", "#14", "#0", "#0", "#17", "#9"}) +
                             PrintAfter("whole picture", CommandCall("setclipregion", {"#3"}, 1)) +
                             PrintAfter("replace", CommandCall("loadbgpic", {"#1", "\"" + other + "\""}, 1)) +
                             PrintAfter("bgpic", CommandCall("getattribute", {"#21", "#1", "#4"}, 1)) +
                             PrintAfter("width", CommandCall("getattribute", {"#21", "#1", "#0"}, 1)) +
                             CommandCall("savesnapshot", {"\"" + shown + "\"", "#1", "#0"}) +
                             PrintAfter("another", CommandCall("loadbgpic", {"#2", "\"" + other + "\""}, 1)));
    ASSERT_EQ(run.status, 0) << run.err;
    // 1051: the picture is shown and cannot be freed.
    ExpectLines(run.out, {"too wide Nil 1225", "too high Nil 1225", "whole picture Nil 0", "replace Nil 1051",
                          "bgpic 1 0", "width 17 0", "another Nil 0"});
    // PIL reads the snapshot back: it is the first picture, pixel for pixel.
    EXPECT_TRUE(RunPython(dir.path(), kSamePixels, shown + " " + dir.file("picture.png")));
}

}  // namespace
