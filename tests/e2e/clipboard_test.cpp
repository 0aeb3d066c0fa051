// The clipboard in the player: a brush's picture that PIL wrote goes on the
// clipboard, the brush is changed and replaced, and what GetClipboard gives
// back is saved and read by PIL pixel for pixel; text takes the picture's
// place and the picture the text's.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/test_applet.h"
#include "support/picture_oracle.h"

using namespace qmasm;

namespace {

// A 7 x 5 picture whose pixels all differ, with alpha from 0 to 255, and a
// 3 x 3 opaque one to replace the brush with.
const char kMakePictures[] = R"PY(
import sys
from PIL import Image
d, w, h = sys.argv[1], 7, 5
def pixel(i):
    a = 0 if i == 0 else 255 if i == 1 else (i * 37) & 255
    return ((i * 7) & 255, 255 - i * 5, (i * 13 + 1) & 255, a)
im = Image.new('RGBA', (w, h))
im.putdata([pixel(i) for i in range(w * h)])
im.save(d + '/picture.png')
Image.new('RGB', (3, 3), (9, 9, 9)).save(d + '/other.png')
)PY";

// Compares the saved files with the picture; fails saying what differs.
const char kCompare[] = R"PY(
import sys
from PIL import Image
d = sys.argv[1]
want = Image.open(d + '/picture.png').convert('RGBA')
problems = []
for name in ('first.png', 'again.png'):
    got = Image.open(d + '/' + name)
    problem = got.size != want.size and 'size %s' % (got.size,) or got.mode != 'RGBA' and 'mode ' + got.mode
    if not problem:
        # A pixel that does not show has no colour to keep.
        for i, (g, s) in enumerate(zip(got.getdata(), want.getdata())):
            if g[3] != s[3] or (s[3] and g[:3] != s[:3]):
                problem = 'pixel %d is %s, not %s' % (i, g, s)
                break
    if problem:
        problems.append('%s %s' % (name, problem))
sys.exit('; '.join(problems) or None)
)PY";

// Runs `call` and prints the first value it leaves; with `keep`, the second
// is kept in that global.
std::string Shown(const std::string& call, const std::string& keep = "")
{
    return call + (keep.empty() ? "" : "    SETGLOBAL r1, \"" + keep + "\"\n") +
           "    MOVE r1, r0\n    GETGLOBAL r0, \"debugprint\"\n    CALL r0, 2, 1\n";
}

TEST(Clipboard, BrushPictureSurvivesItsBrushAndTakesTurnsWithText)
{
    QM_SKIP_WITHOUT(HavePil()) << "PIL is the oracle";
    TempDir dir;
    ASSERT_TRUE(RunPython(dir.path(), kMakePictures, dir.path()));
    auto quoted = [&](const std::string& name) { return "\"" + dir.file(name) + "\""; };
    const std::string peek = CommandCall("peekclipboard", {}, 1), get = CommandCall("getclipboard", {}, 2);
    std::string body =
        CommandCall("loadbrush", {"#1", quoted("picture.png"), "{loadalpha=#1}"}) +
        CommandCall("setclipboard", {"#2", "#1"}) +
        // The clipboard holds a copy: neither changing nor replacing the
        // brush reaches it.
        CommandCall("invertbrush", {"#1"}) + CommandCall("loadbrush", {"#1", quoted("other.png")}) + Shown(peek) +
        Shown(get, "pic") + CommandCall("savebrush", {"@pic", quoted("first.png"), "#1"}) +
        CommandCall("setclipboard", {"#1", "\"words\""}) + Shown(peek) + Shown(get, "text") +
        CommandCall("debugprint", {"@text"}) + CommandCall("setclipboard", {"#2", "@pic"}) + Shown(peek) +
        Shown(get, "again") + CommandCall("savebrush", {"@again", quoted("again.png"), "#1"}) +
        CommandCall("clearclipboard", {}) + Shown(get);
    PlayerRun run = PlayApplet(dir, AssembleTestApplet(MainScript(body)));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "2\n2\n1\n1\nwords\n2\n2\n0\n");
    EXPECT_TRUE(RunPython(dir.path(), kCompare, dir.path()));
}

}  // namespace
