// Pointers through the script commands.
#include <string>
#include <vector>

#include "core/io/error_codes.h"
#include "display/output.h"
#include "display/pictures.h"
#include "display/sprites.h"
#include "gfx/graphics_fixture.h"
#include "gfx/library/pointers.h"
#include "gfx/picture_test_helpers.h"
#include "media/image_files.h"
#include "support/temp_dir.h"

namespace {

using namespace picture_test;

class Pointers : public GraphicsFixture {
protected:
    void SetUp() override
    {
        GraphicsFixture::SetUp();
        Register(RegisterSpriteLibrary);
        // Brush 1: 8 x 6, red, visible only in its left half.
        BitMapHandle* bitmap = Colour(8, 6, 0xFF0000);
        BitMapHandle* mask = Mask(bitmap, 8, 6, [](int32_t x, int32_t) { return x < 4; });
        Brush* brush;
        ASSERT_EQ(AddBrush(vm, MakeObjectId(1), false, bitmap, mask, nullptr, 8, 6, &brush), 0u);
    }
    void TearDown() override
    {
        FreeAllDisplays(vm);
        FreeGraphicsResources(vm);
        FreeAllSprites(vm);
        EXPECT_EQ(PointerList, nullptr);
        GraphicsFixture::TearDown();
    }
    PointerNode* Find(uint32_t id)
    {
        PointerNode* node = nullptr;
        FindPointer(MakeObjectId(id), &node);
        return node;
    }
    size_t ListLength()
    {
        size_t n = 0;
        for (PointerNode* p = PointerList; p; p = reinterpret_cast<PointerNode*>(p->header.next)) ++n;
        return n;
    }
};

TEST_F(Pointers, BrushImagesKeepTheirHotSpotOnTheImage)
{
    struct Case { const char* name; std::vector<Value> args; int32_t hotX, hotY; };
    const std::vector<Case> cases = {
        {"default is the middle", {1.0, 3.0, 1.0}, 4, 3},
        {"given", {1.0, 3.0, 1.0, 2.0, 5.0}, 2, 5},
        {"cut to the last pixel", {1.0, 3.0, 1.0, 50.0, 6.0}, 7, 5},
        {"negative is pulled to 0", {1.0, 3.0, 1.0, -3.0, -1.0}, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(Call("createpointer", c.args), 0u);
        PointerNode* node = Find(1);
        ASSERT_NE(node, nullptr);
        ASSERT_NE(node->native, nullptr);
        EXPECT_EQ(node->native->hotX, c.hotX);
        EXPECT_EQ(node->native->hotY, c.hotY);
        // Opaque red where the mask is set, transparent elsewhere.
        EXPECT_EQ(node->native->argb[2], 0xFFFF0000u);
        EXPECT_EQ(node->native->argb[6] >> 24, 0u);
    }
    // Replacing by id never left more than one.
    EXPECT_EQ(ListLength(), 1u);
}

TEST_F(Pointers, SpriteFramesBecomeImagesWithTheirMasks)
{
    // A strip of two 5 x 4 frames: the first green, the second blue with a
    // black (masked) left column.
    std::vector<uint32_t> strip(10 * 4);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 10; ++x)
            strip[y * 10 + x] = x < 5 ? 0xFF00FF00 : x == 5 ? 0xFF000000 : 0xFF0000FF;
    TempDir dir;
    std::string file = dir / "strip.png";
    SavePngBlock save{file.c_str(), strip.data(), 10 * 4, 10, 4, 0, 0};
    SavePng(&save);
    ASSERT_EQ(save.result, 0u);
    ASSERT_EQ(Call("loadsprite", {7.0, file, testcalls::Options{{{"frames", 2}, {"transparency", 0}}}}), 0u);

    ASSERT_EQ(Call("createpointer", {1.0, 32.0, 7.0}), 0u);
    PointerNode* node = Find(1);
    ASSERT_NE(node, nullptr);
    ASSERT_NE(node->native, nullptr);
    EXPECT_EQ(node->width, 5);
    EXPECT_EQ(node->height, 4);
    EXPECT_EQ(node->native->hotX, 2);
    EXPECT_EQ(node->native->hotY, 2);
    EXPECT_EQ(node->native->argb[0], 0xFF00FF00u);

    ASSERT_EQ(Call("createpointer", {1.0, 32.0, 7.0, 2.0, 9.0, 1.0}), 0u);
    node = Find(1);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->native->hotX, 4);
    EXPECT_EQ(node->native->hotY, 1);
    EXPECT_EQ(node->native->argb[0] >> 24, 0u);
    EXPECT_EQ(node->native->argb[1], 0xFF0000FFu);

    EXPECT_EQ(Call("createpointer", {2.0, 32.0, 7.0, 3.0}), uint32_t{ERR_ANIMFRAME});
    EXPECT_EQ(Call("createpointer", {2.0, 32.0, 7.0, 0.0}), uint32_t{ERR_ANIMFRAME});
    EXPECT_EQ(Call("createpointer", {2.0, 32.0, 8.0}), uint32_t{ERR_FINDSPRITE});
    EXPECT_EQ(ListLength(), 1u);
}

TEST_F(Pointers, AShownPointerIsDetachedAndFreedWhenNothingShowsIt)
{
    ASSERT_EQ(Call("createpointer", {1.0, 3.0, 1.0}), 0u);
    PointerNode* first = Find(1);
    ASSERT_EQ(Call("setpointer", {1.0}), 0u);
    EXPECT_EQ(display->pointer, first->native);
    // Freed while shown: gone for the script (as the applet tests see), kept
    // for the display.
    ASSERT_EQ(Call("freepointer", {1.0}), 0u);
    EXPECT_EQ(ListLength(), 1u);
    EXPECT_EQ(first->temporary, 1u);
    // Another pointer takes its place: the detached one goes.
    ASSERT_EQ(Call("createpointer", {2.0, 36.0, 0.0}), 0u);
    ASSERT_EQ(Call("setpointer", {2.0}), 0u);
    EXPECT_EQ(ListLength(), 1u);
    // Replaced by id while shown on a second display, then that display is freed.
    Display* second = MakeTestDisplay(vm, 2, 32, 32);
    ASSERT_EQ(Call("createpointer", {3.0, 3.0, 1.0}), 0u);
    CurrentDisplay = second;
    ASSERT_EQ(Call("setpointer", {3.0}), 0u);
    ASSERT_EQ(Call("createpointer", {3.0, 36.0, 0.0}), 0u);
    EXPECT_EQ(ListLength(), 3u);
    FreeDisplayRecord(vm, second);
    CurrentDisplay = display;
    EXPECT_EQ(ListLength(), 2u);
}

TEST_F(Pointers, MovePointerPlacesTheImageOnScaledDisplays)
{
    ASSERT_EQ(Call("createpointer", {1.0, 3.0, 1.0}), 0u);
    ASSERT_EQ(Call("setpointer", {1.0}), 0u);
    // CENTER for an 8 x 6 image in 64 x 48: (28, 21).
    ASSERT_EQ(Call("movepointer", {-100000.0, -100000.0}), 0u);
    EXPECT_EQ(display->mouseX, 28);
    EXPECT_EQ(display->mouseY, 21);
    ASSERT_EQ(Call("movepointer", {-40000.0 - 2, 5.0}), 0u);
    EXPECT_EQ(display->mouseX, 62);
    EXPECT_EQ(display->mouseY, 5);
    // A display scaled to 3 / 2 of its size moves by its scale factors.
    Display* scaled = MakeTestDisplay(vm, 2, 64, 48, true, 96, 72);
    CurrentDisplay = scaled;
    ASSERT_EQ(Call("movepointer", {10.0, 11.0}), 0u);
    EXPECT_EQ(scaled->mouseX, 15);
    EXPECT_EQ(scaled->mouseY, 16);
    // Nor does one whose pointer the timed refresh draws, or a closed one.
    TimedRefreshBlock block{};
    TimedRefresh = &block;
    ASSERT_EQ(Call("movepointer", {1.0, 1.0}), 0u);
    TimedRefresh = nullptr;
    EXPECT_EQ(scaled->mouseX, 15);
    CloseDisplayRecord(scaled);
    ASSERT_EQ(Call("movepointer", {1.0, 1.0}), 0u);
    EXPECT_EQ(scaled->mouseX, 15);
    EXPECT_NE(Call("movepointer", {std::string("left"), 1.0}), 0u);
}

}  // namespace
