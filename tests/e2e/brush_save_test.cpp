// SaveBrush in the player: brushes loaded from pictures that PIL writes
// (opaque, with an alpha channel, and keyed to a mask by a colour) are saved
// in every inbuilt format and read back by PIL (ILBM by an independent
// reader); brushes changed by effect commands are saved and compared with
// what ImageMagick makes of the same picture, within the bounds of those
// effects' own tests; an unknown format and a saver plugin's format.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
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
def colour(x, y):
    return ((x * 255) // (w - 1), (y * 255) // (h - 1), 200 if (x // 8 + y // 8) & 1 else 40)
opaque = Image.new('RGB', (w, h))
opaque.putdata([colour(x, y) for y in range(h) for x in range(w)])
opaque.save(d + '/opaque.png')
alpha = Image.new('RGBA', (w, h))
alpha.putdata([colour(x, y) + ((x * 7 + y * 13) % 256,) for y in range(h) for x in range(w)])
alpha.save(d + '/alpha.png')
keyed = Image.new('RGB', (w, h))
keyed.putdata([(255, 0, 255) if (x + 2 * y) % 5 == 0 else colour(x, y) for y in range(h) for x in range(w)])
keyed.save(d + '/keyed.png')
# The pictures of the effects' own tests: rings with noise and a checker
# (96 x 72), and smooth waves for scaling (160 x 120).
w, h, s = 96, 72, 4
rings = Image.new('RGB', (w, h))
pixels = []
for y in range(h):
    for x in range(w):
        fx, fy = x / w, y / h
        ring = 0.5 + 0.5 * math.sin(math.hypot(fx - 0.4, fy - 0.6) * 40.0)
        s = (s * 1664525 + 1013904223) & 0xFFFFFFFF
        noise = (s >> 27) & 7
        pixels.append((int(255 * fx * ring) & 255, (int(255 * fy) ^ noise) & 255,
                       200 if (x // 16 + y // 16) % 2 else int(255 * ring)))
rings.putdata(pixels)
rings.save(d + '/rings.png')
w, h = 160, 120
def wave(x, y, fx, fy, ph):
    return int(127.5 + 127.0 * math.sin(x * fx + y * fy + ph))
smooth = Image.new('RGB', (w, h))
smooth.putdata([(wave(x, y, 0.05, 0.02, 0), wave(x, y, 0.013, 0.07, 1), wave(x, y, 0.031, 0.029, 2))
                for y in range(h) for x in range(w)])
smooth.save(d + '/smooth.png')
)PY";

// Checks every saved file against its source; prints one line per file:
// "<file> ok" or "<file> <what is wrong>", and the JPEG and GIF PSNRs.
const char kCheckSaved[] = R"PY(
import sys, math, subprocess
from PIL import Image
d = sys.argv[1]
def rgba(name):
    return Image.open(d + '/' + name).convert('RGBA')
sources = {1: rgba('opaque.png'), 2: rgba('alpha.png'), 3: rgba('keyed.png')}
# The keyed brush hides its magenta pixels.
k = sources[3].load()
for y in range(sources[3].size[1]):
    for x in range(sources[3].size[0]):
        if k[x, y][:3] == (255, 0, 255):
            k[x, y] = (255, 0, 255, 0)
def psnr(a, b, where):
    se = n = 0
    for i in where:
        for c in range(3):
            se += (a[i][c] - b[i][c]) ** 2
            n += 1
    return 99.0 if se == 0 else 10 * math.log10(255 * 255 * n / se)
out = []
for b, src in sources.items():
    w, h = src.size
    s = list(src.getdata())
    everywhere = range(w * h)
    shown = [i for i in everywhere if s[i][3] > 0]
    def report(name, problem):
        out.append('%s %s' % (name, problem or 'ok'))
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
        out.append('%s psnr %.2f %.2f' % (name, psnr(got, s, everywhere), psnr(theirs, s, everywhere)))
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
    out.append('%s psnr %.2f %.2f' % (name, psnr(got, s, shown), psnr(theirs, s, shown)))
    name = 'b%d.iff' % b
    subprocess.check_call([sys.executable, d + '/ilbm.py', d + '/' + name, d + '/ilbm.txt'])
    rgb = open(d + '/ilbm.txt.rgb', 'rb').read()
    report(name, open(d + '/ilbm.txt').read() != '%d %d 24 0 1' % (w, h) and 'header' or
           any(tuple(rgb[i * 3:i * 3 + 3]) != s[i][:3] for i in everywhere) and 'pixels differ')
open(d + '/checked.txt', 'w').write('\n'.join(out) + '\n')
)PY";

// Compares a saved PNG with what ImageMagick makes of the source with the
// arguments: "mean max psnr" of the RGB channels, into argv[4].
const char kCompareWithPeer[] = R"PY(
import sys, math, subprocess
from PIL import Image
ours, source, arguments, result = sys.argv[1:5]
peer = result + '.png'
subprocess.check_call(['/usr/bin/convert', source] + arguments.split() + ['PNG24:' + peer])
a, b = Image.open(ours).convert('RGB'), Image.open(peer).convert('RGB')
assert a.size == b.size, (a.size, b.size)
d = [abs(x - y) for p, q in zip(a.getdata(), b.getdata()) for x, y in zip(p, q)]
se = sum(v * v for v in d)
psnr = 99.0 if se == 0 else 10 * math.log10(255 * 255 * len(d) / se)
open(result, 'w').write('%.4f %d %.2f' % (sum(d) / len(d), max(d), psnr))
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
        double meanBound;
        int maxBound;
        double psnrBound;
    } effects[] = {
        // Effects whose command arguments tests/display passes as these do
        // are held to ImageMagick by tests/gfx alone.
        {"flip", "rings.png", CommandCall("flipbrush", {"#9", "#0"}), "-flip", 0, 0, 0},
        // Enlarging smoothly is held to a PSNR against the triangle filter.
        {"scale", "smooth.png", CommandCall("scalebrush", {"#9", "#320", "#240", "#1"}),
         "-filter Triangle -resize 320x240!", 255, 255, 36},
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
    ASSERT_TRUE(RunPython(dir.path(), kCheckSaved, dir.path()));
    std::vector<uint8_t> bytes = ReadFileBytes(dir.file("checked.txt"));
    std::istringstream lines(std::string(bytes.begin(), bytes.end()));
    int files = 0;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string file, what;
        double psnr = 0;
        words >> file >> what;
        if (what != "psnr") {
            EXPECT_EQ(what, "ok") << line;
            ++files;
            continue;
        }
        // Within 1.5 dB of what PIL's encoder (or its 16-colour
        // quantiser) keeps of the same picture.
        double pilPsnr = 0;
        words >> psnr >> pilPsnr;
        EXPECT_GE(psnr, pilPsnr - 1.5) << file;
        std::printf("%s: PSNR %.2f dB, PIL %.2f dB\n", file.c_str(), psnr, pilPsnr);
    }
    EXPECT_EQ(files, 18);
    // The BMP of a 37-pixel row: 54 bytes of header, rows of 111 + 1 bytes.
    EXPECT_EQ(ReadFileBytes(dir.file("b1.bmp")).size(), 54u + 112u * 23u);

    for (const auto& e : effects) {
        SCOPED_TRACE(e.name);
        std::string result = dir.file(std::string(e.name) + ".txt");
        ASSERT_TRUE(RunPython(dir.path(), kCompareWithPeer, dir.file(std::string(e.name) + ".png") + " " +
                                                                dir.file(e.source) + " '" + e.peerArgs + "' " + result));
        std::vector<uint8_t> bytes = ReadFileBytes(result);
        std::istringstream words(std::string(bytes.begin(), bytes.end()));
        double mean = 0, psnr = 0;
        int worst = 0;
        words >> mean >> worst >> psnr;
        EXPECT_LE(mean, e.meanBound);
        EXPECT_LE(worst, e.maxBound);
        EXPECT_GE(psnr, e.psnrBound);
        std::printf("%-9s mean %.3f max %d PSNR %.2f dB\n", e.name, mean, worst, psnr);
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
