// LoadBrush and LoadBGPic on real files (alpha, transparent colours and
// pens, sizes), the picture a display opens with (colour, texture), and the
// snapshot and picture-test commands of the graphics library.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/command_services.h"
#include "core/io/error_codes.h"
#include "core/option_tables.h"
#include "core/vm/vm.h"
#include "display/display.h"
#include "display/display_library.h"
#include "display/framebuffer.h"
#include "display/pictures.h"
#include "gfx/bitmap.h"
#include "gfx/graphics_library.h"
#include "media/image_codecs.h"
#include "media/image_files.h"
#include "platform/posix/os_runloop.h"
#include "support/command_calls.h"
#include "support/picture_oracle.h"
#include "support/temp_dir.h"

namespace {

using namespace testcalls;

class PictureCommands : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(OsInit(), 0u);
        vm = VmOpenState();
        for (auto open : {RegisterBrushLibrary, RegisterBGPicLibrary, OpenDisplayLibrary, RegisterGraphicsLibrary}) {
            VmPushValue(vm, VM_GLOBALSINDEX);
            ASSERT_EQ(open(vm), 0u);
            VmSetTop(vm, 0);
        }
        alphaPng = dir.file("alpha.png");
        plainPng = dir.file("plain.png");
        std::vector<uint32_t> alpha = MakeTestPicture(20, 10, true);
        SavePngBlock a{alphaPng.c_str(), alpha.data(), 80, 20, 10, 1, 0};
        SavePng(&a);
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
        FreeAllBrushes(vm);
        FreeAllBGPics(vm);
        VmCloseState(vm);
        FreeCoreLists(nullptr);
        OsShutdown();
    }
    Brush* FoundBrush(uint32_t id)
    {
        Brush* b = nullptr;
        FindBrush(vm, MakeObjectId(id), &b, 0);
        return b;
    }

    VmState* vm = nullptr;
    TempDir dir;
    std::string alphaPng, plainPng, gif;
};

TEST_F(PictureCommands, LoadBrushOptionsGiveAlphaMasksAndSizes)
{
    struct Case {
        const std::string* file;
        Options options;
        uint32_t error;
        bool alpha, mask;
        int32_t width, height;
    };
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
    // The mask is clear exactly where the transparent colour stood.
    ASSERT_EQ(CallGlobal(vm, "loadbrush", {2.0, plainPng, Options{{{"transparency", 0x336699}}}}), 0u);
    Brush* brush = FoundBrush(2);
    EXPECT_EQ(ReadBitMapPixel(brush->mask, 3, 0, 1), 0u);
    EXPECT_NE(ReadBitMapPixel(brush->mask, 4, 0, 1), 0u);
    EXPECT_EQ(brush->transparentColour, 0x336699u);
    // Nil makes a new brush and answers its handle.
    std::vector<Value> results;
    ASSERT_EQ(CallGlobal(vm, "loadbrush", {Nil{}, gif}, &results), 0u);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_TRUE(std::holds_alternative<Pointer>(results[0]));
    EXPECT_EQ(CallGlobal(vm, "loadbgpic", {3.0, dir.file("none.png")}), uint32_t{ERR_READFILE});
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

TEST_F(PictureCommands, SnapshotsAndPictureTests)
{
    if (!HavePil())
        GTEST_SKIP() << "PIL reads the snapshots";
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
    ASSERT_TRUE(RunPython(dir.path(), kPixelAt, desktop + " 103 50 " + dir.file("px.txt")));
    std::vector<uint8_t> text = ReadFileBytes(dir.file("px.txt"));
    EXPECT_EQ(std::string(text.begin(), text.end()), "1920x1080 336699");
    EXPECT_EQ(CallGlobal(vm, "savesnapshot", {desktop, 7.0}), uint32_t{ERR_WRONGUSAGE});

    // Around a fake full-screen display the desktop shows its backfill.
    VmPushString(vm, "createdisplay");
    VmGetTable(vm, VM_GLOBALSINDEX);
    VmPushNumber(vm, 2);
    VmNewTable(vm);
    int options = VmGetTop(vm);
    SetTableInt(vm, options, "width", 20);
    SetTableInt(vm, options, "height", 10);
    SetTableInt(vm, options, "bgpic", 1);
    SetTableString(vm, options, "mode", "fakefullscreen");
    VmPushString(vm, "backfill");
    VmNewTable(vm);
    SetTableString(vm, VmGetTop(vm), "type", "color");
    SetTableInt(vm, VmGetTop(vm), "color", 0x00FF00);
    VmRawSet(vm, options);
    ASSERT_EQ(VmPCall(vm, 2, 0, 0), 0u);
    Display* full = nullptr;
    ASSERT_EQ(FindDisplay(MakeObjectId(2), &full), 0u);
    ASSERT_EQ(OpenDisplayRecord(full), 0u);
    CurrentDisplay = full;
    ASSERT_EQ(CallGlobal(vm, "savesnapshot", {desktop, 2.0, 1.0}), 0u);
    std::string where = std::to_string(full->x + 3) + " " + std::to_string(full->y);
    ASSERT_TRUE(RunPython(dir.path(), kPixelAt, desktop + " " + where + " " + dir.file("px.txt")));
    text = ReadFileBytes(dir.file("px.txt"));
    EXPECT_EQ(std::string(text.begin(), text.end()), "1920x1080 336699");
    ASSERT_TRUE(RunPython(dir.path(), kPixelAt, desktop + " 0 0 " + dir.file("px.txt")));
    text = ReadFileBytes(dir.file("px.txt"));
    EXPECT_EQ(std::string(text.begin(), text.end()), "1920x1080 00ff00");
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
