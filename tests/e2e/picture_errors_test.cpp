// Broken picture files in the player: a script that loads one ends with
// an error that names the file and a failing exit status, never with a
// picture that pretends to be whole.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/player_process.h"
#include "e2e/test_applet.h"
#include "support/picture_oracle.h"
#include "support/temp_dir.h"
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
    void SetUp() override
    {
        if (!HavePil())
            GTEST_SKIP() << "PIL makes the pictures";
    }

    PlayerRun Load(const std::string& command, const std::string& file)
    {
        AppletDescription a = AssembleTestApplet(".chunk lines=auto\n.function main source=\"@test.qas\"\n" +
                                                 CommandCall(command, {"#1", "\"" + file + "\""}) +
                                                 "    RETURN r0, 1\n.end\n");
        std::string path = dir.file("test.qma");
        WriteFileBytes(path, WriteApplet(a));
        return RunProgram(QM_PLAYER_PATH, {path}, {"TMPDIR=" + dir.path()});
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
        std::string cut = dir.file(interlaced ? "cut interlaced.gif" : "cut.gif");
        WriteFileBytes(cut, bytes);
        EXPECT_EQ(Load("loadbrush", whole).status, 0);
        for (const char* command : {"loadbrush", "loadbgpic"}) {
            PlayerRun run = Load(command, cut);
            EXPECT_EQ(run.status, 1) << command << ": " << run.err;
            std::string name = interlaced ? "cut interlaced.gif" : "cut.gif";
            EXPECT_NE(run.err.find("Cannot load picture " + name), std::string::npos) << run.err;
        }
    }
}

}  // namespace
