// Broken picture files in the player: a script that loads one ends with
// an error that names the file and a failing exit status, never with a
// picture that pretends to be whole.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/test_applet.h"
#include "support/picture_oracle.h"
#include "tools/qmasm/applet_writer.h"

using namespace qmasm;

namespace {

// A GIF of noise (so that its LZW data is long), plain or interlaced.
const char kMakeGif[] = R"PY(
import sys, random
from PIL import Image
random.seed(5)
im = Image.new('P', (64, 48))
im.putpalette([random.randrange(256) for _ in range(768)])
im.putdata([random.randrange(256) for _ in range(64 * 48)])
im.save(sys.argv[1], interlace=len(sys.argv) > 2)
)PY";

class PictureErrors : public ::testing::Test {
protected:
    void SetUp() override { QM_SKIP_WITHOUT(HavePil()) << "PIL makes the pictures"; }

    // Runs an applet that loads the file with the command; with a limit,
    // the player's address space is held to that many KiB.
    PlayerRun Load(const std::string& command, const std::string& file, long limitKiB = 0)
    {
        AppletDescription a = AssembleTestApplet(MainScript(CommandCall(command, {"#1", "\"" + file + "\""})));
        if (!limitKiB)
            return PlayApplet(dir, a);
        std::string path = dir.file("test.qma");
        WriteFileBytes(path, WriteApplet(a));
        return RunProgram("/bin/sh", {"-c", "ulimit -v " + std::to_string(limitKiB) + " && exec \"$0\" \"$@\"",
                                      QM_PLAYER_PATH, path},
                          {"TMPDIR=" + dir.path()});
    }

    TempDir dir;
};

TEST_F(PictureErrors, GifCutInsideItsCodesEndsTheRunNamingTheFile)
{
    for (bool interlaced : {false, true}) {
        std::string whole = dir.file("whole.gif");
        ASSERT_TRUE(RunPython(dir.path(), kMakeGif, whole + (interlaced ? " interlaced" : "")));
        std::vector<uint8_t> bytes = ReadFileBytes(whole);
        ASSERT_GT(bytes.size(), 2000u);
        // Cut well inside the codes: the header, palette and descriptor stay.
        bytes.resize(bytes.size() * 2 / 3);
        std::string name = interlaced ? "cut interlaced.gif" : "cut.gif", cut = dir.file(name);
        WriteFileBytes(cut, bytes);
        EXPECT_EQ(Load("loadbrush", whole).status, 0);
        for (const char* command : {"loadbrush", "loadbgpic"}) {
            PlayerRun run = Load(command, cut);
            EXPECT_EQ(run.status, 1) << command << ": " << run.err;
            EXPECT_NE(run.err.find("Cannot load picture " + name), std::string::npos) << run.err;
            // A sanitizer's report also ends the run with status 1.
            EXPECT_EQ(run.err.find("Sanitizer"), std::string::npos) << run.err;
        }
    }
}

// A picture within the size limits that does not fit in the memory the
// player may use ends the run naming the file, whether its decode or the
// making of its planes runs out. (An address-space limit means nothing to
// the sanitizers' allocators, so those builds skip this.)
TEST_F(PictureErrors, PictureThatDoesNotFitInMemoryNamesTheFile)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "address-space limits do not apply under the address sanitizer";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
    GTEST_SKIP() << "address-space limits do not apply under the sanitizers";
#endif
#endif
    std::string big = dir.file("big.png");
    ASSERT_TRUE(RunPython(dir.path(), "import sys\nfrom PIL import Image\n"
                                      "Image.new('RGB', (10002, 10000), (10, 200, 30)).save(sys.argv[1])\n",
                          big));
    // 400 MB of pixels: with 300 MB the decode runs out, with 700 MB the
    // decoded picture fits but its bitmap does not (a width that is no
    // multiple of 4 keeps the bitmap from taking over the decoded pixels).
    for (long limit : {300000L, 700000L}) {
        PlayerRun run = Load("loadbrush", big, limit);
        EXPECT_EQ(run.status, 1) << limit;
        EXPECT_NE(run.err.find("Cannot load picture big.png!"), std::string::npos) << limit << ": " << run.err;
    }
}

}  // namespace
