// SaveBrush in the player: brushes loaded from pictures that PIL writes
// (opaque, with an alpha channel, and keyed to a mask by a colour) are saved
// in every inbuilt format and read back by PIL (ILBM by an independent
// reader); brushes changed by effect commands are saved and compared with
// what ImageMagick makes of the same picture, within the bounds of those
// effects' own tests; an unknown format and a saver plugin's format.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "e2e/player_process.h"
#include "e2e/test_applet.h"
#include "support/picture_oracle.h"
#include "support/temp_dir.h"
#include "tools/qmasm/applet_writer.h"

using namespace qmasm;

namespace {

// Three 37 x 23 pictures: opaque, with alpha through every level (some
// pixels fully transparent), and opaque with magenta pixels for the key.
const char kMakePictures[] = R"PY(
import sys, math
from PIL import Image
d, w, h = sys.argv[1], 37, 23
def save(name, mode, pixel):
    im = Image.new(mode, (w, h))
    im.putdata([pixel(x, y) for y in range(h) for x in range(w)])
    im.save(d + '/' + name)
def colour(x, y):
    return ((x * 255) // (w - 1), (y * 255) // (h - 1), 200 if (x // 8 + y // 8) & 1 else 40)
save('opaque.png', 'RGB', colour)
save('alpha.png', 'RGBA', lambda x, y: colour(x, y) + ((x * 7 + y * 13) % 256,))
save('keyed.png', 'RGB', lambda x, y: (255, 0, 255) if (x + 2 * y) % 5 == 0 else colour(x, y))
# The pictures of the effects' own tests: rings with noise and a checker
# (96 x 72), and smooth waves for scaling (160 x 120).
w, h, s = 96, 72, 4
def rings(x, y):
    global s
    fx, fy = x / w, y / h
    ring = 0.5 + 0.5 * math.sin(math.hypot(fx - 0.4, fy - 0.6) * 40.0)
    s = (s * 1664525 + 1013904223) & 0xFFFFFFFF
    noise = (s >> 27) & 7
    return (int(255 * fx * ring) & 255, (int(255 * fy) ^ noise) & 255,
            200 if (x // 16 + y // 16) % 2 else int(255 * ring))
save('rings.png', 'RGB', rings)
w, h = 160, 120
def wave(x, y, fx, fy, ph):
    return int(127.5 + 127.0 * math.sin(x * fx + y * fy + ph))
save('smooth.png', 'RGB',
     lambda x, y: (wave(x, y, 0.05, 0.02, 0), wave(x, y, 0.013, 0.07, 1), wave(x, y, 0.031, 0.029, 2)))
)PY";

// Checks every saved file against its source, printing the JPEG and GIF
// PSNRs; fails naming each file that is wrong.
const char kCheckSaved[] = R"PY(
import sys, math, subprocess
from PIL import Image
d = sys.argv[1]
sources = {b: Image.open(d + '/' + name).convert('RGBA')
           for b, name in ((1, 'opaque.png'), (2, 'alpha.png'), (3, 'keyed.png'))}
# The keyed brush hides its magenta pixels.
sources[3].putdata([(255, 0, 255, 0) if p[:3] == (255, 0, 255) else p for p in sources[3].getdata()])
def psnr(a, b, where):
    se = sum((a[i][c] - b[i][c]) ** 2 for i in where for c in range(3))
    return 99.0 if se == 0 else 10 * math.log10(255 * 255 * 3 * len(where) / se)
problems = []
def measured(name, ours, theirs):
    # Within 1.5 dB of what PIL's encoder (or its 16-colour quantiser) keeps.
    print('%s: PSNR %.2f dB, PIL %.2f dB' % (name, ours, theirs))
    if ours < theirs - 1.5:
        problems.append('%s psnr %.2f' % (name, ours))
for b, src in sources.items():
    w, h = src.size
    s = list(src.getdata())
    everywhere = range(w * h)
    shown = [i for i in everywhere if s[i][3] > 0]
    def report(name, problem):
        if problem:
            problems.append('%s %s' % (name, problem))
    name = 'b%d.bmp' % b
    im = Image.open(d + '/' + name)
    got = list(im.convert('RGB').getdata())
    report(name, im.format != 'BMP' and 'not a BMP' or im.size != (w, h) and 'size' or
           any(got[i] != s[i][:3] for i in everywhere) and 'pixels differ')
    name = 'b%d.png' % b
    im = Image.open(d + '/' + name)
    got = list(im.convert('RGBA').getdata())
    want_mode = 'RGB' if b == 1 else 'RGBA'
    report(name, im.mode != want_mode and 'mode ' + im.mode or
           any(got[i][3] != s[i][3] or (s[i][3] and got[i][:3] != s[i][:3]) for i in everywhere) and 'pixels differ')
    # PIL's own encoder at the same quality is the measure of a JPEG.
    colours = src.convert('RGB')
    for name, quality in (('b%d.jpg' % b, 90), ('b%d_q.jpg' % b, 40)):
        im = Image.open(d + '/' + name)
        got = list(im.convert('RGB').getdata())
        report(name, im.format != 'JPEG' and 'not a JPEG' or im.size != (w, h) and 'size')
        colours.save(d + '/pil.jpg', quality=quality)
        theirs = list(Image.open(d + '/pil.jpg').convert('RGB').getdata())
        measured(name, psnr(got, s, everywhere), psnr(theirs, s, everywhere))
    name = 'b%d.gif' % b
    im = Image.open(d + '/' + name)
    indices = list(im.getdata())
    transparent = im.info.get('transparency')
    hidden = [i for i in everywhere if s[i][3] == 0]
    problem = im.format != 'GIF' and 'not a GIF' or len(set(indices)) > 16 and 'colours %d' % len(set(indices))
    if not problem and hidden != [i for i in everywhere if indices[i] == transparent]:
        problem = 'transparent pixels differ'
    report(name, problem)
    got = list(im.convert('RGB').getdata())
    theirs = list(colours.quantize(16).convert('RGB').getdata())
    measured(name, psnr(got, s, shown), psnr(theirs, s, shown))
    name = 'b%d.iff' % b
    subprocess.check_call([sys.executable, d + '/ilbm.py', d + '/' + name, d + '/ilbm.txt'])
    rgb = open(d + '/ilbm.txt.rgb', 'rb').read()
    report(name, open(d + '/ilbm.txt').read() != '%d %d 24 0 1' % (w, h) and 'header' or
           any(tuple(rgb[i * 3:i * 3 + 3]) != s[i][:3] for i in everywhere) and 'pixels differ')
sys.exit('; '.join(problems) or None)
)PY";

// Compares a saved PNG with what ImageMagick makes of the source with the
// arguments; fails when the RGB channels' mean or largest difference is
// above its bound (argv 4, 5) or their PSNR below its bound (argv 6).
const char kCompareWithPeer[] = R"PY(
import sys, math, subprocess
from PIL import Image
ours, source, arguments = sys.argv[1:4]
peer = ours + '.peer.png'
subprocess.check_call(['/usr/bin/convert', source] + arguments.split() + ['PNG24:' + peer])
a, b = Image.open(ours).convert('RGB'), Image.open(peer).convert('RGB')
assert a.size == b.size, (a.size, b.size)
d = [abs(x - y) for p, q in zip(a.getdata(), b.getdata()) for x, y in zip(p, q)]
se = sum(v * v for v in d)
psnr = 99.0 if se == 0 else 10 * math.log10(255 * 255 * len(d) / se)
print('%s: mean %.3f max %d PSNR %.2f dB' % (ours, sum(d) / len(d), max(d), psnr))
sys.exit(sum(d) / len(d) > float(sys.argv[4]) or max(d) > int(sys.argv[5]) or psnr < float(sys.argv[6]))
)PY";

class SaveBrush : public ::testing::Test {
protected:
    void SetUp() override
    {
        QM_SKIP_WITHOUT(HavePil() && HaveConvert()) << "PIL and ImageMagick are the oracles";
        ASSERT_TRUE(RunPython(dir.path(), kMakePictures, dir.path()));
    }

    PlayerRun Play(const std::string& body) { return PlayApplet(dir, AssembleTestApplet(MainScript(body))); }

    std::string Quoted(const std::string& name) const { return "\"" + dir.file(name) + "\""; }

    TempDir dir;
};

// Every format reads back as the brush; brushes changed by an effect, saved
// as PNG, match ImageMagick's version of the effect on the same picture,
// held to the bounds of the effect's own tests.
TEST_F(SaveBrush, EveryFormatReadsBackAsTheBrushAndEffectsMatchImageMagick)
{
    const struct {
        const char *name, *source;
        std::string call;      // the effect on brush 9
        std::string peerArgs;  // ImageMagick's arguments
        const char* bounds;    // on the mean and the largest difference, and the least PSNR
    } effects[] = {
        // Effects whose command arguments tests/display passes as these do
        // are held to ImageMagick by tests/gfx alone.
        {"flip", "rings.png", CommandCall("flipbrush", {"#9", "#0"}), "-flip", "0 0 0"},
        // Enlarging smoothly is held to a PSNR against the triangle filter.
        {"scale", "smooth.png", CommandCall("scalebrush", {"#9", "#320", "#240", "#1"}),
         "-filter Triangle -resize 320x240!", "255 255 36"},
    };
    std::string body = CommandCall("loadbrush", {"#1", Quoted("opaque.png")}) +
                       CommandCall("loadbrush", {"#2", Quoted("alpha.png"), "{loadalpha=#1}"}) +
                       CommandCall("loadbrush", {"#3", Quoted("keyed.png"), "{transparency=#0xFF00FF}"});
    for (int b = 1; b <= 3; ++b) {
        std::string id = "#" + std::to_string(b), stem = "b" + std::to_string(b);
        body += CommandCall("savebrush", {id, Quoted(stem + ".bmp")}) +
                CommandCall("savebrush", {id, Quoted(stem + ".png"), "#1"}) +
                CommandCall("savebrush", {id, Quoted(stem + ".jpg"), "#2"}) +
                CommandCall("savebrush", {id, Quoted(stem + "_q.jpg"), "#2", "#40"}) +
                CommandCall("savebrush", {id, Quoted(stem + ".gif"), "#3", "{colors=#16}"}) +
                CommandCall("savebrush", {id, Quoted(stem + ".iff"), "#4"});
    }
    for (const auto& e : effects)
        body += CommandCall("loadbrush", {"#9", Quoted(e.source)}) + e.call +
                CommandCall("savebrush", {"#9", Quoted(std::string(e.name) + ".png"), "#1"});
    PlayerRun run = Play(body);
    ASSERT_EQ(run.status, 0) << run.err;
    std::ofstream(dir.file("ilbm.py")) << kIlbmReader;
    EXPECT_TRUE(RunPython(dir.path(), kCheckSaved, dir.path()));
    // The BMP of a 37-pixel row: 54 bytes of header, rows of 111 + 1 bytes.
    EXPECT_EQ(ReadFileBytes(dir.file("b1.bmp")).size(), 54u + 112u * 23u);
    for (const auto& e : effects) {
        std::string ours = dir.file(std::string(e.name) + ".png");
        EXPECT_TRUE(RunPython(dir.path(), kCompareWithPeer,
                              ours + " " + dir.file(e.source) + " '" + e.peerArgs + "' " + e.bounds))
            << e.name;
    }
}

// Format ids past the inbuilt ones go to the saver plugin that serves them:
// a true-colour saver that stores alpha gets the alpha brush's ARGB with
// its alpha (hidden pixels in the key colour), an indexed one the keyed brush reduced to a palette with the
// transparent index where the mask hides the brush.
const char kCheckSaverFiles[] = R"PY(
import sys, struct
from PIL import Image
d = sys.argv[1]
problems = []
def block(name):
    data = open(d + '/' + name, 'rb').read()
    assert data[:4] == b'QMSV'
    return struct.unpack('<9i', data[4:40]), data[40:]
(w, h, row, indexed, quality, colors, flags, transparent, fmt), pixels = block('alpha.praw')
src = Image.open(d + '/alpha.png').convert('RGBA')
# Only what shows keeps its colour: hidden pixels may carry the key.
same = all(pixels[i * 4 + 3] == a and (a == 0 or pixels[i * 4:i * 4 + 3] == bytes((b, g, r)))
           for i, (r, g, b, a) in enumerate(src.getdata()))
if (w, h, row, indexed, flags & 1, fmt) != (37, 23, 148, 0, 1, 100) or not same:
    problems.append('true colour: %r' % ((w, h, row, indexed, flags, fmt),))
(w, h, row, indexed, quality, colors, flags, transparent, fmt), rest = block('keyed.pidx')
keyed = Image.open(d + '/keyed.png').convert('RGB')
indices = rest[:w * h]
hidden = [i for i, p in enumerate(keyed.getdata()) if p == (255, 0, 255)]
if (w, h, row, indexed, fmt) != (37, 23, 37, 1, 101) or not 2 <= colors <= 8 or not flags & 2:
    problems.append('indexed: %r' % ((w, h, row, indexed, colors, flags, fmt),))
elif hidden != [i for i in range(w * h) if indices[i] == transparent] or max(indices) >= colors:
    problems.append('indexed pixels')
sys.exit('; '.join(problems) or None)
)PY";

TEST_F(SaveBrush, OtherFormatsGoToTheirSaverPlugins)
{
    std::string body =
        CommandCall("loadplugin", {"\"" QM_TEST_PLUGIN_DIR "/images/procimage.qmp\""}) +
        CommandCall("loadbrush", {"#2", Quoted("alpha.png"), "{loadalpha=#1}"}) +
        CommandCall("loadbrush", {"#3", Quoted("keyed.png"), "{transparency=#0xFF00FF}"}) +
        CommandCall("savebrush", {"#2", Quoted("alpha.praw"), "#100"}) +
        CommandCall("savebrush", {"#3", Quoted("keyed.pidx"), "#101", "{colors=#8}"});
    PlayerRun run = Play(body);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(RunPython(dir.path(), kCheckSaverFiles, dir.path()));
}

}  // namespace
