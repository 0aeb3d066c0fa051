// The clip-region and colour commands of the "graphics" library on a real VM.
#include <string>

#include "core/io/error_codes.h"
#include "display/framebuffer.h"
#include "display/output.h"
#include "display/pictures.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/blits/clip_regions.h"
#include "gfx/blits/display_blit.h"
#include "gfx/graphics_fixture.h"
#include "gfx/library/pointers.h"
#include "gfx/picture_test_helpers.h"
#include "support/assembled_script.h"

namespace {

using namespace picture_test;

// testblit(brush, x, y, flags): SafeBlt of a whole brush onto the current
// display through the current output's clip region.
uint32_t CmdTestBlit(VmState* vm)
{
    Brush* brush;
    if (uint32_t error = FindBrush(vm, MakeObjectId(static_cast<uint32_t>(VmCheckInteger(vm, 1))), &brush, 0))
        return error;
    OutputRecord* output = CurrentOutput();
    SafeBlt(vm, brush->bitmap,
            SafeBltWords{0, 0, nullptr, VmCheckInteger(vm, 2), VmCheckInteger(vm, 3), brush->width,
                         brush->height, brush->width, brush->height, output->width, output->height,
                         static_cast<uint32_t>(VmCheckInteger(vm, 4)), brush->mask, brush->alpha,
                         output->clipRegion});
    return 0;
}

const CommandTableEntry kTestCommands[] = {{"testblit", CmdTestBlit}, {nullptr, nullptr}};

class GraphicsLibrary : public GraphicsFixture {
protected:
    void SetUp() override
    {
        GraphicsFixture::SetUp();
        AddCommands(kTestCommands);
    }
    ClipRegion* Region(uint32_t id)
    {
        ClipRegion* r = nullptr;
        FindClipRegion(MakeObjectId(id), &r, 0);
        return r;
    }
};

TEST_F(GraphicsLibrary, BoxRegionsAreCroppedAndRefusedWhenInvisible)
{
    struct Case { const char* name; double x, y, w, h; uint32_t error; int32_t wantX, wantW; };
    const Case cases[] = {
        {"negative x shrinks the width", -10, 0, 20, 20, 0, 0, 10},
        {"x + width = 0 is refused", -20, 0, 20, 20, ERR_WRONGUSAGE, 0, 0},
        {"x + width = 1 is one pixel wide", -19, 0, 20, 20, 0, 0, 1},
        {"negative height is refused", 5, 5, 10, -3, ERR_WRONGUSAGE, 0, 0},
        {"CENTER + 2 in a 64-wide output", -100000 + 2, 0, 20, 10, 0, 24, 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Value> results;
        ASSERT_EQ(Call("createclipregion", {Nil{}, 14.0, c.x, c.y, c.w, c.h}, &results), c.error);
        if (c.error) continue;
        ASSERT_EQ(results.size(), 1u);
        auto* region = static_cast<ClipRegion*>(std::get<Pointer>(results[0]).p);
        ClipRegion* found;
        ASSERT_EQ(FindClipRegion(MakeHandleId(reinterpret_cast<uintptr_t>(region)), &found, 0), 0u);
        EXPECT_EQ(found->x, c.wantX);
        EXPECT_EQ(found->width, c.wantW);
        EXPECT_EQ(found->mask, nullptr);
    }
}

TEST_F(GraphicsLibrary, SettingValidatesFirstAndClearingRestoresTheWholeOutput)
{
    ASSERT_EQ(Call("createclipregion", {1.0, 14.0, 4.0, 5.0, 10.0, 6.0}), 0u);
    ASSERT_EQ(Call("createclipregion", {2.0, 14.0, 0.0, 0.0, 65.0, 10.0}), 0u);
    ASSERT_EQ(Call("setclipregion", {1.0}), 0u);
    EXPECT_EQ(display->output.clipRegion, Region(1));
    EXPECT_EQ(std::vector<int32_t>(display->output.clipWords, display->output.clipWords + 4),
              (std::vector<int32_t>{4, 5, 13, 10}));
    // Too wide for the output: refused, and region 1 stays active.
    EXPECT_EQ(Call("setclipregion", {2.0}), uint32_t{ERR_WRONGCLIPREG});
    EXPECT_EQ(display->output.clipRegion, Region(1));
    display->outputMode = OUTPUT_MASK;
    EXPECT_EQ(Call("setclipregion", {Nil{}}), uint32_t{ERR_WRONGUSAGE});
    display->outputMode = OUTPUT_DISPLAY;
    for (Value clear : {Value{Nil{}}, Value{0.0}}) {
        ASSERT_EQ(Call("setclipregion", {1.0}), 0u);
        ASSERT_EQ(Call("setclipregion", {clear}), 0u);
        EXPECT_EQ(display->output.clipRegion, nullptr);
        EXPECT_EQ(std::vector<int32_t>(display->output.clipWords, display->output.clipWords + 4),
                  (std::vector<int32_t>{0, 0, 63, 47}));
    }
}

TEST_F(GraphicsLibrary, FreedAndReplacedRegionsLeaveNoOutputPointingAtThem)
{
    ASSERT_EQ(Call("createclipregion", {1.0, 14.0, 0.0, 0.0, 8.0, 8.0}), 0u);
    ASSERT_EQ(Call("setclipregion", {1.0}), 0u);
    // A failed replacement keeps the old region and its place.
    EXPECT_EQ(Call("createclipregion", {1.0, 14.0, 0.0, 0.0, 0.0, 8.0}), uint32_t{ERR_WRONGUSAGE});
    EXPECT_EQ(display->output.clipRegion, Region(1));
    // A replacement frees the active one: the output has none afterwards.
    ASSERT_EQ(Call("createclipregion", {1.0, 14.0, 2.0, 2.0, 4.0, 4.0}), 0u);
    EXPECT_EQ(display->output.clipRegion, nullptr);
    EXPECT_EQ(Region(1)->x, 2);
    // Active on a display that is no longer current: freeing it still
    // clears that display's reference.
    ASSERT_EQ(Call("setclipregion", {1.0}), 0u);
    Display* second = MakeTestDisplay(vm, 2, 32, 32);
    ASSERT_NE(second, nullptr);
    CurrentDisplay = second;
    ASSERT_EQ(Call("freeclipregion", {1.0}), 0u);
    EXPECT_EQ(display->output.clipRegion, nullptr);
    EXPECT_EQ(display->output.clipWords[2], 63);
    EXPECT_EQ(Call("freeclipregion", {1.0}), uint32_t{ERR_FINDCLIPREGION});
}

uint32_t SourceColour(int32_t x, int32_t y) { return uint32_t(x * 8) << 16 | uint32_t(y * 8) << 8 | 0x40; }
bool InShape(int32_t x, int32_t y) { return (x - 8) * (x - 8) + (y - 8) * (y - 8) < 40; }

// Brush 2 at (4, 2) into the back buffer (flag 0x40), presented at once.
const std::string kBlitBrush2 = R"(
        GETGLOBAL r0, "testblit"
        LOADK r1, #2
        LOADK r2, #4
        LOADK r3, #2
        LOADK r4, #64
        CALL r0, 5, 1
        RETURN r0, 1
)";

TEST_F(GraphicsLibrary, AssembledScriptShapesABlitWithABrushMask)
{
    // Brush 1 gives the shape, brush 2 is drawn.
    BitMapHandle* shapeBitmap = Colour(16, 16, 0xFFFFFF);
    BitMapHandle* shape = Mask(shapeBitmap, 16, 16, InShape);
    Brush* brush;
    ASSERT_EQ(AddBrush(vm, MakeObjectId(1), false, shapeBitmap, shape, nullptr, 16, 16, &brush), 0u);
    BitMapHandle* picture = Colour(30, 30, 0);
    for (int32_t y = 0; y < 30; ++y)
        for (int32_t x = 0; x < 30; ++x) Put(picture, x, y, SourceColour(x, y));
    ASSERT_EQ(AddBrush(vm, MakeObjectId(2), false, picture, nullptr, nullptr, 30, 30, &brush), 0u);
    // Region 5 at (CENTER, 8) = (24, 8).
    ASSERT_EQ(RunAssembledScript(vm, std::string(R"(
        GETGLOBAL r0, "createclipregion"
        LOADK r1, #5
        LOADK r2, #28
        LOADK r3, #1
        LOADK r4, #-100000
        LOADK r5, #8
        CALL r0, 6, 1
        GETGLOBAL r0, "setclipregion"
        LOADK r1, #5
        CALL r0, 2, 1
    )") + kBlitBrush2), 0u);

    int mismatches = 0, shown = 0;
    for (int32_t y = 0; y < 48; ++y)
        for (int32_t x = 0; x < 64; ++x) {
            bool inBlit = x >= 4 && x < 34 && y >= 2 && y < 32;
            bool inRegion = x >= 24 && x < 40 && y >= 8 && y < 24 && InShape(x - 24, y - 8);
            uint32_t want = inBlit && inRegion ? SourceColour(x - 4, y - 2) : 0;
            shown += want != 0;
            uint32_t got = ReadFramebufferPixel(display, x, y);
            if (got != want && ++mismatches < 5)
                ADD_FAILURE() << x << "," << y << " got " << std::hex << got << " want " << want;
        }
    EXPECT_EQ(mismatches, 0);
    EXPECT_GT(shown, 40);
    // Freed while set: the next blit finds no region and draws everywhere.
    ASSERT_EQ(RunAssembledScript(vm, std::string(R"(
        GETGLOBAL r0, "freeclipregion"
        LOADK r1, #5
        CALL r0, 2, 1
    )") + kBlitBrush2), 0u);
    EXPECT_EQ(display->output.clipRegion, nullptr);
    EXPECT_EQ(ReadFramebufferPixel(display, 4, 2), SourceColour(0, 0));
    EXPECT_EQ(ReadFramebufferPixel(display, 33, 31), SourceColour(29, 29));
}

int g_unknownHandle;

TEST_F(GraphicsLibrary, CommandResultsAndArgumentErrors)
{
    Brush* brush;
    ASSERT_EQ(AddBrush(vm, MakeObjectId(1), false, Colour(8, 8, 0), nullptr, nullptr, 8, 8, &brush), 0u);
    struct Case {
        const char *name, *command;
        std::vector<Value> args;
        uint32_t error;
        std::vector<Value> results;
    };
    const std::vector<Case> cases = {
        {"red", "red", {double(0x123456)}, 0, {double(0x12)}},
        {"green of a negative colour", "green", {-1.0}, 0, {255.0}},
        {"RGB does not mask", "rgb", {256.0, 0.0, 0.0}, 0, {double(0x1000000)}},
        {"ARGB is unsigned", "argb", {255.0, double(0x102030)}, 0, {double(0xFF102030u)}},
        {"MixRGB default ratio", "mixrgb", {0.0, double(0xFFFFFF)}, 0, {double(0xFEFEFE)}},
        {"MixRGB ratio 0", "mixrgb", {double(0x123456), 0.0, 0.0}, 0, {double(0x123456)}},
        {"MixRGB ratio 256", "mixrgb", {0.0, 0.0, 256.0}, ERR_WRONGUSAGE, {}},
        {"pen without a palette", "getpen", {3.0}, 0, {4294967295.0}},
        {"intersection", "intersection", {0.0, 0.0, 10.0, 10.0, 5.0, 4.0, 10.0, 10.0}, 0, {5.0, 4.0, 5.0, 6.0}},
        {"touching rectangles", "intersection", {0.0, 0.0, 10.0, 10.0, 10.0, 0.0, 5.0, 5.0}, 0, {0.0, 0.0, 0.0, 0.0}},
        {"no video time without a timed refresh", "dumpvideotime", {}, 0, {-1.0}},
        {"too few arguments", "rgb", {1.0, 2.0}, ERR_MISSINGPARAMTR, {}},
        {"intersection short of a rectangle", "intersection", {0.0, 0.0, 1.0, 1.0, 0.0, 0.0, 1.0}, ERR_MISSINGPARAMTR, {}},
        {"default tags need a table", "setdrawtagsdefault", {3.0}, ERR_TABEXPECTED, {}},
        {"pointer of a missing brush", "createpointer", {1.0, 3.0, 9.0}, ERR_FINDBRUSH, {}},
        {"pointer of an unknown kind", "createpointer", {1.0, 36.0, 2.0}, ERR_WRONGUSAGE, {}},
        {"pointer of a sprite", "createpointer", {1.0, 32.0, 1.0}, ERR_FINDSPRITE, {}},
        {"set a missing pointer", "setpointer", {2.0}, ERR_FINDPOINTER, {}},
        {"free a missing handle", "freepointer", {Pointer{&g_unknownHandle}}, ERR_FINDARRAY, {}},
        {"clip region of an unknown type", "createclipregion", {1.0, 3.0, 0.0, 0.0, 5.0}, ERR_WRONGUSAGE, {}},
        {"clip region of a brush without a mask", "createclipregion", {1.0, 28.0, 1.0, 0.0, 0.0}, ERR_NOMASKBRUSH, {}},
        {"clip region of a missing brush", "createclipregion", {1.0, 28.0, 9.0, 0.0, 0.0}, ERR_FINDBRUSH, {}},
        {"clip box without its size", "createclipregion", {1.0, 14.0, 0.0, 0.0, 5.0}, ERR_MISSINGPARAMTR, {}},
        {"set an unknown clip region", "setclipregion", {4.0}, ERR_FINDCLIPREGION, {}},
        {"set an unknown handle", "setclipregion", {Pointer{&g_unknownHandle}}, ERR_FINDARRAY, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Value> results;
        EXPECT_EQ(Call(c.command, c.args, &results), c.error);
        if (!c.error) {
            EXPECT_EQ(results, c.results);
        }
    }
    EXPECT_EQ(ClipRegionList, nullptr);
}

TEST_F(GraphicsLibrary, PensComeFromTheOutputsPalette)
{
    std::vector<uint32_t> palette(256);
    for (uint32_t i = 0; i < 256; ++i) palette[i] = i * 0x010101;
    display->output.palette = palette.data();
    struct Pen { double n, want; };
    for (Pen p : {Pen{5, 0x050505}, Pen{-4, 0}, Pen{999, 0xFFFFFF}}) {
        std::vector<Value> results;
        ASSERT_EQ(Call("getpen", {p.n}, &results), 0u);
        EXPECT_EQ(results, std::vector<Value>{p.want}) << p.n;
    }
    display->output.palette = nullptr;
}

}  // namespace
