// LoadBrush and LoadBGPic on real files (alpha, transparent colours and
// pens, sizes), the picture a display opens with (colour, texture), and the
// snapshot and picture-test commands of the graphics library.
#include <initializer_list>
#include <string>
#include <utility>

#include "core/io/error_codes.h"
#include "core/services/option_tables.h"
#include "display/framebuffer.h"
#include "display/pictures.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/effects/gradients.h"
#include "gfx/graphics_fixture.h"
#include "media/image_codecs.h"
#include "media/image_files.h"
#include "support/gradient_model.h"
#include "support/picture_oracle.h"
#include "support/temp_dir.h"

namespace {

using namespace testcalls;

class PictureCommands : public VmFixture {
protected:
    void SetUp() override
    {
        VmFixture::SetUp();
        for (auto open : {RegisterBrushLibrary, RegisterBGPicLibrary, OpenDisplayLibrary, RegisterGraphicsLibrary})
            Register(open);
        alphaPng = dir.file("alpha.png");
        plainPng = dir.file("plain.png");
        ASSERT_FALSE(WriteTestPng(alphaPng, 20, 10, true).empty());
        std::vector<uint32_t> plain = MakeTestPicture(20, 10, false);
        plain[3] = 0xFF336699u;
        SavePngBlock p{plainPng.c_str(), plain.data(), 80, 20, 10, 0, 0};
        SavePng(&p);
        gif = dir.file("pen.gif");
        ASSERT_TRUE(WritePenGif(gif, 8, 4, 2));
    }
    void TearDown() override
    {
        CloseDisplayLibrary(vm);
        FreeGraphicsResources(vm);
        FreeAllBGPics(vm);
        VmFixture::TearDown();
    }
    Brush* FoundBrush(uint32_t id)
    {
        Brush* b = nullptr;
        FindBrush(vm, MakeObjectId(id), &b, 0);
        return b;
    }

    // A 20 x 10 fake full-screen display showing a picture or a colour
    // (pictureKey), with a backfill of the type and colour keys given;
    // opened and current.
    Display* OpenFullScreen(uint32_t id, const char* pictureKey, int32_t picture, const char* backfillType,
                            std::initializer_list<std::pair<const char*, int32_t>> backfill)
    {
        VmPushString(vm, "createdisplay");
        VmGetTable(vm, VM_GLOBALSINDEX);
        VmPushNumber(vm, id);
        VmNewTable(vm);
        int options = VmGetTop(vm);
        SetTableInt(vm, options, "width", 20);
        SetTableInt(vm, options, "height", 10);
        SetTableInt(vm, options, pictureKey, picture);
        SetTableString(vm, options, "mode", "fakefullscreen");
        VmPushString(vm, "backfill");
        VmNewTable(vm);
        SetTableString(vm, VmGetTop(vm), "type", backfillType);
        for (const auto& [key, value] : backfill)
            SetTableInt(vm, VmGetTop(vm), key, value);
        VmRawSet(vm, options);
        Display* display = nullptr;
        if (VmPCall(vm, 2, 0, 0) || FindDisplay(MakeObjectId(id), &display) || OpenDisplayRecord(display))
            return nullptr;
        CurrentDisplay = display;
        return display;
    }

    TempDir dir;
    std::string alphaPng, plainPng, gif;
};

// Where a key colour's mask is clear, and a brush loaded under Nil: the
// applet tests of SaveBrush and GetAttribute.
TEST_F(PictureCommands, LoadBrushOptionsGiveAlphaMasksAndSizes)
{
    struct Case { const std::string* file; Options options; uint32_t error; bool alpha, mask; int32_t width, height; };
    const Case cases[] = {
        {&alphaPng, {}, 0, true, false, 20, 10},
        {&plainPng, {}, 0, false, false, 20, 10},
        {&plainPng, {{{"loadalpha", 1}}}, ERR_NOALPHA, false, false, 0, 0},
        {&plainPng, {{{"transparency", 0x336699}}}, 0, false, true, 20, 10},
        {&plainPng, {{{"loadtransparency", 1}}}, ERR_NOTRANSPARENCY, false, false, 0, 0},
        {&gif, {{{"loadtransparency", 1}}}, 0, false, true, 8, 4},
        {&plainPng, {{{"scalewidth", 40}, {"scaleheight", -50}}}, 0, false, false, 40, 5},
        {&alphaPng, {{{"width", 10}, {"height", 10}, {"smoothscale", 1}}}, 0, true, false, 10, 10},
    };
    for (const Case& c : cases) {
        uint32_t error = CallGlobal(vm, "loadbrush", {1.0, *c.file, c.options});
        ASSERT_EQ(error, c.error) << *c.file;
        if (error)
            continue;
        Brush* brush = FoundBrush(1);
        ASSERT_NE(brush, nullptr);
        EXPECT_EQ(brush->alpha != nullptr, c.alpha) << *c.file;
        EXPECT_EQ(brush->mask != nullptr, c.mask) << *c.file;
        EXPECT_EQ(brush->width, c.width);
        EXPECT_EQ(brush->height, c.height);
    }
}

TEST_F(PictureCommands, DisplaysOpenWithTheirColourTextureOrPicture)
{
    ASSERT_EQ(CallGlobal(vm, "loadbrush", {1.0, plainPng}), 0u);
    ASSERT_EQ(CallGlobal(vm, "loadbgpic", {1.0, alphaPng}), 0u);
    ASSERT_EQ(CallGlobal(vm, "createdisplay", {2.0, Options{{{"width", 8}, {"height", 4}, {"color", 0x123456}}}}), 0u);
    ASSERT_EQ(CallGlobal(vm, "createdisplay", {3.0, Options{{{"width", 30}, {"height", 4}, {"fillstyle", 2},
                                                             {"texturebrush", 1}, {"texturex", 2}}}}),
              0u);
    ASSERT_EQ(CallGlobal(vm, "createdisplay", {4.0, Options{{{"width", 20}, {"height", 10}, {"bgpic", 1}}}}), 0u);
    ASSERT_EQ(CallGlobal(vm, "createdisplay", {5.0, Options{{{"bgpic", 9}}}}), 0u);
    Display* d[6] = {};
    for (uint32_t id = 2; id <= 5; ++id)
        ASSERT_EQ(FindDisplay(MakeObjectId(id), &d[id]), 0u);
    ASSERT_EQ(OpenDisplayRecord(d[2]), 0u);
    EXPECT_EQ(ReadFramebufferPixel(d[2], 7, 3), 0x123456u);
    ASSERT_EQ(OpenDisplayRecord(d[3]), 0u);
    // Tiles start two pixels into the brush: (1, 0) shows (3, 0).
    EXPECT_EQ(ReadFramebufferPixel(d[3], 1, 0), 0x336699u);
    EXPECT_EQ(ReadFramebufferPixel(d[3], 21, 0), 0x336699u);
    ASSERT_EQ(OpenDisplayRecord(d[4]), 0u);
    EXPECT_NE(d[4]->shownBGPic, nullptr);
    EXPECT_EQ(OpenDisplayRecord(d[5]), uint32_t{ERR_FINDBGPIC});
}

// A display declared with a gradient fill: every back buffer and the
// window hold what the gradient renderer draws into a picture of the same
// size from the same description.
TEST_F(PictureCommands, GradientFillsPaintTheDisplay)
{
    struct Case {
        uint32_t type;
        int32_t angle;
        double centerX, centerY, balance, border;
        std::vector<double> colours;  // colour and position in turn
        int32_t width, height;
    };
    const Case cases[] = {
        {GRADIENT_LINEAR, 45, 0.5, 0.5, 0.5, 0, {0xFF0000, 0, 0x00FF00, 0.3, 0x0000FF, 1}, 50, 20},
        {GRADIENT_RADIAL, 0, 0.25, 0.75, 0.5, 0.3, {}, 40, 30},
        {GRADIENT_CONICAL, 30, 0.6, 0.4, 0.25, 0, {}, 33, 21},
    };
    const uint32_t start = 0x204060, end = 0xF0C080;
    uint32_t id = 10;
    for (const Case& c : cases) {
        VmPushString(vm, "createdisplay");
        VmGetTable(vm, VM_GLOBALSINDEX);
        VmPushNumber(vm, ++id);
        PushValue(vm, Options{{{"width", c.width}, {"height", c.height}, {"color", 0x999999}, {"fillstyle", 3},
                               {"gradientstyle", c.type}, {"gradientstartcolor", start}, {"gradientendcolor", end},
                               {"gradientangle", c.angle}, {"gradientcenterx", c.centerX},
                               {"gradientcentery", c.centerY}, {"gradientbalance", c.balance},
                               {"gradientborder", c.border}}});
        if (!c.colours.empty()) {
            VmPushString(vm, "gradientcolors");
            PushValue(vm, Array{c.colours});
            VmRawSet(vm, -3);
        }
        ASSERT_EQ(VmPCall(vm, 2, 0, 0), 0u);
        Display* display = nullptr;
        ASSERT_EQ(FindDisplay(MakeObjectId(id), &display), 0u);
        ASSERT_EQ(OpenDisplayRecord(display), 0u);

        GradientSpec spec = TwoColours(c.type, start, end, c.angle);
        spec.centerX = c.centerX, spec.centerY = c.centerY;
        spec.conicalPosition = c.balance, spec.radial = c.border;
        spec.stopCount = static_cast<uint32_t>(c.colours.size() / 2);
        for (uint32_t i = 0; i < spec.stopCount; ++i)
            spec.stops[i] = {static_cast<uint32_t>(c.colours[2 * i]), c.colours[2 * i + 1]};
        std::vector<uint32_t> model = GradientPicture(spec, c.width, c.height);
        ASSERT_EQ(model.size(), static_cast<size_t>(c.width) * c.height);
        int wrong = 0;
        for (int32_t y = 0; y < c.height; ++y) {
            for (int32_t x = 0; x < c.width; ++x) {
                uint32_t want = model[static_cast<size_t>(y) * c.width + x] & 0xFFFFFF;
                wrong += ReadFramebufferPixel(display, x, y) != want;
                for (void* buffer : display->backBuffers)
                    wrong += (ReadBitMapPixel(static_cast<BitMapHandle*>(buffer), x, y, 0) & 0xFFFFFF) != want;
            }
        }
        EXPECT_EQ(wrong, 0) << "type " << c.type << " angle " << c.angle;
    }
    // The colour list must be a table of numbers.
    EXPECT_EQ(CallGlobal(vm, "createdisplay", {20.0, Options{{{"fillstyle", 3}, {"gradientcolors", 1}}}}),
              uint32_t{ERR_TABEXPECTED2});
}

TEST_F(PictureCommands, SnapshotsAndPictureTests)
{
    QM_SKIP_WITHOUT(HavePil()) << "PIL reads the snapshots";
    ASSERT_EQ(CallGlobal(vm, "loadbgpic", {1.0, plainPng}), 0u);
    ASSERT_EQ(CallGlobal(vm, "createdisplay", {1.0, Options{{{"width", 20}, {"height", 10}, {"bgpic", 1},
                                                             {"x", 100}, {"y", 50}}}}),
              0u);
    Display* display = nullptr;
    ASSERT_EQ(FindDisplay(MakeObjectId(1), &display), 0u);
    ASSERT_EQ(OpenDisplayRecord(display), 0u);
    CurrentDisplay = display;
    std::string desktop = dir.file("desktop.png");
    ASSERT_EQ(CallGlobal(vm, "savesnapshot", {desktop, 2.0, 1.0}), 0u);
    const char kPixelAt[] = R"PY(
import sys
from PIL import Image
im = Image.open(sys.argv[1]).convert('RGB')
r, g, b = im.getpixel((int(sys.argv[2]), int(sys.argv[3])))
open(sys.argv[4], 'w').write('%dx%d %02x%02x%02x' % (im.size[0], im.size[1], r, g, b))
)PY";
    auto pixelAt = [&](int32_t x, int32_t y) {
        EXPECT_TRUE(RunPython(dir.path(), kPixelAt,
                              desktop + " " + std::to_string(x) + " " + std::to_string(y) + " " + dir.file("px.txt")));
        std::vector<uint8_t> text = ReadFileBytes(dir.file("px.txt"));
        return std::string(text.begin(), text.end());
    };
    EXPECT_EQ(pixelAt(103, 50), "1920x1080 336699");
    EXPECT_EQ(CallGlobal(vm, "savesnapshot", {desktop, 7.0}), uint32_t{ERR_WRONGUSAGE});
    // Around a fake full-screen display the desktop shows its backfill.
    Display* full = OpenFullScreen(2, "bgpic", 1, "color", {{"color", 0x00FF00}});
    ASSERT_NE(full, nullptr);
    ASSERT_EQ(CallGlobal(vm, "savesnapshot", {desktop, 2.0, 1.0}), 0u);
    EXPECT_EQ(pixelAt(full->x + 3, full->y), "1920x1080 336699");
    EXPECT_EQ(pixelAt(0, 0), "1920x1080 00ff00");
    CurrentDisplay = display;
    CloseDisplayRecord(display);
    EXPECT_EQ(CallGlobal(vm, "savesnapshot", {desktop, 0.0}), uint32_t{ERR_CLOSEDDISPLAY});

    std::vector<Value> results;
    ASSERT_EQ(CallGlobal(vm, "ispicture", {gif}, &results), 0u);
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0], Value{1.0});
    VmSetTop(vm, 0);
    ASSERT_EQ(CallGlobal(vm, "ispicture", {dir.file("none")}, &results), 0u);
    EXPECT_EQ(results[0], Value{0.0});
}

}  // namespace
