// Declared resources end to end, judged by PIL on what SaveSnapshot writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "e2e/player_process.h"
#include "e2e/test_applet.h"
#include "support/gradient_model.h"
#include "support/picture_oracle.h"
#include "support/temp_dir.h"
#include "tools/qmasm/applet_writer.h"
#include "tools/qmasm/assembled_applet.h"
#include "tools/qmasm/assembler.h"

using namespace qmasm;

namespace {

// Saves the display's picture and its window (or with type 2 the whole
// desktop) as PNG files.
std::string SnapshotScript(const std::string& picture, const std::string& window, int secondType = 0)
{
    return MainScript(CommandCall("savesnapshot", {"\"" + picture + "\"", "#1", "#1"}) +
                      CommandCall("savesnapshot", {"\"" + window + "\"", "#" + std::to_string(secondType), "#1"}));
}

// A PNG from another encoder than the player's; a fourth argument adds an
// alpha channel running through every level.
const char kMakePng[] = R"PY(
import sys
from PIL import Image
w, h = int(sys.argv[2]), int(sys.argv[3])
alpha = len(sys.argv) > 4
im = Image.new('RGBA' if alpha else 'RGB', (w, h))
im.putdata([((x * 3) % 256, (y * 5) % 256, (x ^ y) % 256) + (((x * 7 + y * 13) % 256,) if alpha else ())
            for y in range(h) for x in range(w)])
im.save(sys.argv[1])
)PY";

// "WxH mode\n" and the picture's RGB bytes.
const char kRawRgb[] = R"PY(
import sys
from PIL import Image
im = Image.open(sys.argv[1])
open(sys.argv[2], 'wb').write(('%dx%d %s\n' % (im.size[0], im.size[1], im.mode)).encode() + im.convert('RGB').tobytes())
)PY";

// Whether a window (argv 1) shows a picture with alpha (argv 2) at its
// corner over a colour (argv 3, hex RRGGBB): each channel moves from the
// colour towards the picture's by floor((s - d) * a / 256).
const char kBlendedOverColour[] = R"PY(
import sys
from PIL import Image
window = Image.open(sys.argv[1]).convert('RGB')
picture = Image.open(sys.argv[2]).convert('RGBA')
colour = tuple(int(sys.argv[3][i:i + 2], 16) for i in (0, 2, 4))
pw, ph = picture.size
for y in range(window.size[1]):
    for x in range(window.size[0]):
        want = colour
        if x < pw and y < ph:
            *s, a = picture.getpixel((x, y))
            want = tuple(d if a == 0 else c if a == 255 else d + (((c - d) * a) >> 8) for c, d in zip(s, colour))
        if window.getpixel((x, y)) != want:
            sys.exit(1)
)PY";

class Preloading : public ::testing::Test {
protected:
    void SetUp() override
    {
        QM_SKIP_WITHOUT(HavePil()) << "PIL makes and compares the pictures";
        background = dir.file("back ground.png");
        ASSERT_TRUE(RunPython(dir.path(), kMakePng, "'" + background + "' 640 480"));
        std::string logo = dir.file("logo.png");
        ASSERT_TRUE(RunPython(dir.path(), kMakePng, logo + " 32 16"));
        logoBytes = ReadFileBytes(logo);
    }

    PlayerRun Play(const AppletDescription& a, std::vector<std::string> args = {},
                   std::vector<std::string> env = {}) { return PlayApplet(dir, a, args, env); }

    PlayerRun PlayWithDisplay(AppletDescription a, const AppletDisplay& display, std::vector<std::string> args)
    {
        a.preloads.push_back(DeclaredDisplay(display));
        return Play(a, std::move(args), {"XDG_CONFIG_HOME=" + dir.path()});
    }

    // As PIL reads them; "WxH mode" in *header.
    std::vector<uint8_t> Raw(const std::string& file, std::string* header)
    {
        EXPECT_TRUE(RunPython(dir.path(), kRawRgb, file + " " + dir.file("raw.bin")));
        std::vector<uint8_t> bytes = ReadFileBytes(dir.file("raw.bin"));
        auto newline = std::find(bytes.begin(), bytes.end(), uint8_t('\n'));
        *header = std::string(bytes.begin(), newline);
        return std::vector<uint8_t>(newline == bytes.end() ? newline : newline + 1, bytes.end());
    }

    TempDir dir;
    std::string background;
    std::vector<uint8_t> logoBytes;
};

TEST_F(Preloading, DeclaredPicturesLoadAndDisplayOneShowsTheBackground)
{
    std::string picture = dir.file("picture.png"), window = dir.file("window.png");
    AppletDescription a = AssembleTestApplet(SnapshotScript(picture, window));
    // Brushes (kind 1) from a linked file that need not exist any more; a background picture (0).
    a.preloads.push_back(DeclaredFile(1, 1, "gone/logo.png", 3, logoBytes));
    a.preloads.push_back(DeclaredFile(0, 1, background, 4));
    a.preloads.push_back(DeclaredFile(1, 2, "gone/logo.png", 5, logoBytes));
    PlayerRun run = Play(a);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(RunPython(dir.path(), kSamePixels, picture + " '" + background + "'"));
    EXPECT_TRUE(RunPython(dir.path(), kSamePixels, window + " '" + background + "'"));

    // A display declared with a colour and a smaller picture with an alpha
    // channel (declared to keep it) shows the picture blended over the colour.
    std::string translucent = dir.file("translucent.png");
    ASSERT_TRUE(RunPython(dir.path(), kMakePng, translucent + " 120 70 alpha"));
    AppletDescription b = AssembleTestApplet(SnapshotScript(picture, window));
    b.preloads.push_back(DeclaredFile(0, 2, translucent, 3));
    b.preloads.back().flags = 1;
    AppletDisplay display;
    display.width = 160;
    display.height = 90;
    display.color = 0x336699;
    display.bgpic = 2;
    display.flags = 512;  // the display names its picture
    run = PlayWithDisplay(b, display, {});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(RunPython(dir.path(), kBlendedOverColour, window + " " + translucent + " 336699"));
}

// The picture RenderGradient draws over w x h, as RGB bytes.
std::vector<uint8_t> GradientRgb(const GradientSpec& spec, int32_t w, int32_t h)
{
    std::vector<uint8_t> rgb;
    for (uint32_t c : GradientPicture(spec, w, h))
        rgb.insert(rgb.end(), {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)});
    return rgb;
}

// The display's picture is the declared gradient, the desktop the backfill's.
TEST_F(Preloading, DeclaredGradientFillAndGradientBackfill)
{
    std::string picture = dir.file("picture.png"), desktop = dir.file("desktop.png");
    AppletDescription a = AssembleTestApplet(SnapshotScript(picture, desktop, 2));
    AppletDisplay display;
    display.width = 256;
    display.height = 32;
    display.color = 0x204060;
    display.fillStyle = 3;
    display.fillWord = 0xF0C080;
    display.fillShort = 90;
    display.gradient.style = 2;
    display.gradient.values[0] = display.gradient.values[1] = display.gradient.values[2] = 500000;
    PlayerRun run = PlayWithDisplay(
        a, display, {"-fakefullscreen", "-backfill", "gradient", "-startcolor", "$FF8000", "-endcolor", "$0040FF"});
    ASSERT_EQ(run.status, 0) << run.err;

    GradientSpec fill = TwoColours(GRADIENT_LINEAR, 0x204060, 0xF0C080, 90);
    fill.conicalPosition = 0.5;
    std::string header;
    std::vector<uint8_t> shown = Raw(picture, &header);
    EXPECT_EQ(header, "256x32 RGB");
    EXPECT_TRUE(shown == GradientRgb(fill, 256, 32));
    // 256 pixels wide, a quarter-turn gradient starts exactly at its start colour.
    ASSERT_GE(shown.size(), 3u);
    EXPECT_EQ(std::vector<uint8_t>(shown.begin(), shown.begin() + 3), (std::vector<uint8_t>{0x20, 0x40, 0x60}));

    // The backfill runs down the monitor; its first column lies outside the display.
    std::vector<uint8_t> screen = Raw(desktop, &header);
    EXPECT_EQ(header, "1920x1080 RGB");
    std::vector<uint8_t> model = GradientRgb(TwoColours(GRADIENT_LINEAR, 0xFF8000, 0x0040FF), 1920, 1080);
    ASSERT_EQ(screen.size(), model.size());
    size_t wrong = 0;
    for (size_t y = 0; y < 1080; ++y)
        for (size_t i = y * 1920 * 3; i < y * 1920 * 3 + 3; ++i)
            wrong += screen[i] != model[i];
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(std::vector<uint8_t>(screen.begin(), screen.begin() + 3), (std::vector<uint8_t>{0xFF, 0x80, 0x00}));
}

// Also a kind this player does not load, or a file to open; the error names the command.
TEST_F(Preloading, MissingOrBrokenFilesEndTheRunAtTheirLine)
{
    struct Case {
        AppletPreload preload;
        std::string message, command;
    };
    std::vector<uint8_t> broken = logoBytes;
    broken.resize(broken.size() / 2);
    const Case cases[] = {
        {DeclaredFile(0, 1, dir.file("missing.png"), 3), "Cannot read file missing.png !", "LoadBGPic"},
        {DeclaredFile(1, 4, "logo.png", 4, broken), "Cannot load picture", "LoadBrush"},
        {DeclaredFile(1, 5, dir.file("text.png"), 3, {}), "Cannot load picture text.png!", "LoadBrush"},
        {DeclaredFile(4, 1, "beep.wav", 2), "", "LoadSample"},
        {DeclaredFile(8, 2, dir.file("missing.txt"), 7), "missing.txt", "OpenFile"},
    };
    WriteFileBytes(dir.file("text.png"), {'n', 'o', 't'});
    for (const Case& c : cases) {
        AppletDescription a = AssembleTestApplet(SnapshotScript(dir.file("p.png"), dir.file("w.png")));
        a.preloads.push_back(c.preload);
        PlayerRun run = Play(a);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        std::string line = "current line: " + std::to_string(c.preload.line);
        EXPECT_NE(run.err.find(line), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(c.command), std::string::npos) << run.err;
    }
}

// A chunk that carries no source name (the VM calls it "=?") leaves every
// failure without a file and a line, declarations and script alike.
TEST_F(Preloading, FailuresInAChunkWithoutASourceNameSayNothingOfALine)
{
    std::string script = MainScript(CommandCall("upperstr", {}));
    script.replace(script.find(" source="), std::string(" source=\"@test.qas\"").size(), "");
    const std::vector<uint8_t> notASound = {'n', 'o', 't'};
    const AppletPreload declared[] = {
        DeclaredFile(4, 1, "beep.wav", 1, notASound), DeclaredFile(3, 1, "beep.wav", 1, notASound),
        DeclaredFile(4, 1, dir.file("missing.wav"), 1), DeclaredFile(1, 1, "logo.png", 1, notASound)};
    const char* const messages[] = {"Cannot load sound beep.wav!", "Cannot load sound beep.wav!",
                                    "Cannot open sound file missing.wav!", "Cannot load picture logo.png!"};
    for (size_t i = 0; i <= std::size(declared); ++i) {
        AppletDescription a = AssembleTestApplet(script);
        if (i < std::size(declared)) a.preloads.push_back(declared[i]);
        PlayerRun run = Play(a);
        EXPECT_EQ(run.status, 1);
        const std::string message = i < std::size(declared) ? messages[i] : "Not enough arguments!";
        EXPECT_EQ(run.err, "QuillmerePlayer: " + message + "\n") << i;
    }
}

// From the disk (from the applet that carries it: tests/e2e LinkedFiles); missing: above.
TEST_F(Preloading, DeclaredFilesOpenForReading)
{
    const std::string script = MainScript(CommandCall("readline", {"#1"}, 1) + "    SETGLOBAL r0, \"first\"\n" +
                                          CommandCall("readline", {"#2"}, 1) + "    SETGLOBAL r0, \"second\"\n" +
                                          CommandCall("debugprint", {"@first", "@second"}));
    WriteFileBytes(dir.file("notes.txt"), {'o', 'n', ' ', 'd', 'i', 's', 'k', '\n', 'x', '\n'});
    AppletDescription a = AssembleTestApplet(script);
    a.preloads.push_back(DeclaredFile(8, 1, dir.file("notes.txt"), 3));
    a.preloads.push_back(DeclaredFile(8, 2, dir.file("notes.txt"), 4));
    PlayerRun run = Play(a);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find("on disk on disk"), std::string::npos) << run.out;
}

TEST_F(Preloading, WindowIconsMustHaveTheirDeclaredSize)
{
    ASSERT_TRUE(RunPython(dir.path(), kMakePng, dir.file("icon16.png") + " 16 16"));
    for (bool right : {true, false}) {
        AppletDescription a = AssembleTestApplet(SnapshotScript(dir.file("p.png"), dir.file("w.png")));
        // The logo is 32 x 16.
        a.icons.push_back({16, 16, 0, right ? ReadFileBytes(dir.file("icon16.png")) : logoBytes});
        PlayerRun run = Play(a);
        EXPECT_EQ(run.status, right ? 0 : 1) << run.err;
        if (!right) {
            EXPECT_NE(run.err.find("Icon size 32x16 is not supported!"), std::string::npos) << run.err;
        }
    }
}

// In the applet's preferences, over the declared size unless overridden.
TEST_F(Preloading, DisplayPlacementIsSavedAndRestored)
{
    auto run = [&](int32_t width, const std::vector<std::string>& options) {
        std::string window = dir.file("window.png");
        AppletDescription a = AssembleTestApplet(SnapshotScript(dir.file("picture.png"), window));
        a.identifier = "placement.test";
        AppletDisplay display;
        display.width = width;
        display.height = 100;
        display.flags = 0x8000000;  // remember the position
        PlayerRun r = PlayWithDisplay(a, display, options);
        EXPECT_EQ(r.status, 0) << r.err;
        std::string header;
        Raw(window, &header);
        return header.substr(0, header.find(' '));
    };
    EXPECT_EQ(run(300, {}), "300x100");
    EXPECT_EQ(run(500, {}), "300x100");
    EXPECT_EQ(run(500, {"-overrideplacement"}), "500x100");
}

// Also with '\' for '/'; the exact name: tests/e2e LinkedFiles.
TEST_F(Preloading, LinkedPicturesLoadByTheirLinkedNameInAnyCase)
{
    // #BRUSH 3 with #ATTRHEIGHT 1, #BGPIC 1 with #ATTRWIDTH 0.
    const std::vector<Ask> asks = {{"loaded", 3, "#2", 1, "16"}, {"bgpic", 1, "#3", 0, "32"}};
    std::string body = CommandCall("loadbrush", {"#2", "\"gfx\\\\LK.png\""}) +
                       CommandCall("loadbgpic", {"#3", "\"gfx/lk.PNG\""});
    for (const Ask& ask : asks)
        body += AskText(ask);
    AppletDescription a = AssembleTestApplet(MainScript(body));
    a.linkedFiles.push_back({"gfx/lk.png", AppletLinkedFile::Storage::Inline, logoBytes, 0, 0});
    PlayerRun run = Play(a, {"-debugdevice", "console"});
    ExpectAnswers(run, asks);
    EXPECT_FALSE(FileExists(dir.file("gfx/lk.png")));
}

}  // namespace
