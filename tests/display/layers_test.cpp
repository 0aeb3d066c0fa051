// Layer stacks: Redraw against a pixel-by-pixel model, and layers outliving
// what they show (run under AddressSanitizer).
#include <algorithm>
#include <string>
#include <vector>

#include "core/io/error_codes.h"
#include "core/plugins/host_graphics.h"
#include "core/services/option_tables.h"
#include "display/anims.h"
#include "display/display_library.h"
#include "display/framebuffer.h"
#include "display/layers.h"
#include "display/object_list.h"
#include "display/pictures.h"
#include "display/refresh_rects.h"
#include "gfx/bitmaps/argb_exchange.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/bitmaps/bitmap_ops.h"
#include "gfx/bitmaps/picture_bits.h"
#include "gfx/blits/clip_regions.h"
#include "gfx/graphics_fixture.h"
#include "gfx/library/attribute_queries.h"
#include "libs/system/system_library.h"
#include "media/video.h"
#include "platform/posix/os_memory.h"
#include "support/picture_oracle.h"

namespace {

enum : int { BGPIC = 1, LAYER = 22 };

class Layers : public GraphicsFixture {
protected:
    void SetUp() override
    {
        GraphicsFixture::SetUp();
        Register(RegisterSystemLibrary);
        Register(RegisterBrushLibrary);
        background = MakeTestPicture(kW, kH, false);
        ASSERT_EQ(AddBGPic(vm, MakeObjectId(1), false, Picture(background, kW, kH), nullptr, nullptr, kW, kH,
                           &picture), 0u);
        display->shownBGPic = picture;
        display->layersEnabled = 1;
    }
    void TearDown() override
    {
        display->shownBGPic = nullptr;
        FreeAllBGPics(vm);
        FreeAllAnims(vm);
        FreeAllVideos();
        GraphicsFixture::TearDown();
    }
    static BitMapHandle* Picture(const std::vector<uint32_t>& argb, int32_t w, int32_t h)
    {
        BitMapHandle* b = nullptr;
        EXPECT_EQ(CreateBitMapFromArgb(argb.data(), kNoTransparentColour, w, h, w, 0, 0, nullptr, &b, nullptr,
                                       nullptr), 0u);
        return b;
    }
    // A brush of w x h solid colour; with a key, the pixels of the key
    // colour on the diagonal are masked out.
    Brush* SolidBrush(uint32_t id, int32_t w, int32_t h, uint32_t colour, bool masked)
    {
        std::vector<uint32_t> argb(static_cast<size_t>(w) * h, colour);
        for (int32_t i = 0; masked && i < w && i < h; ++i)
            argb[static_cast<size_t>(i) * w + i] = 0xFF00FF00u;
        BitMapHandle *b = nullptr, *m = nullptr;
        EXPECT_EQ(CreateBitMapFromArgb(argb.data(), masked ? 0x00FF00 : kNoTransparentColour, w, h, w, 0, 0,
                                       nullptr, &b, masked ? &m : nullptr, nullptr), 0u);
        Brush* brush = nullptr;
        EXPECT_EQ(AddBrush(vm, MakeObjectId(id), false, b, m, nullptr, w, h, &brush), 0u);
        return brush;
    }
    // A layer on top of the stack (or at `position`) showing the object.
    Layer* Insert(ObjectHeader* object, int32_t x = 0, int32_t y = 0, uint32_t type = LAYERTYPE_BRUSH,
                  uint32_t position = 0)
    {
        LayerDesc desc;
        desc.layerType = type, desc.object = object;
        desc.x = x, desc.y = y;
        Layer* layer = nullptr;
        EXPECT_EQ(InsertLayer(picture, position, desc, &layer), 0u);
        return layer;
    }
    std::vector<uint32_t> Drawn(int32_t x, int32_t y, int32_t w, int32_t h)
    {
        BitMapHandle* dst = AllocColorBitMap(kW, kH, 0, nullptr);
        FillBitMapRect(dst, 0, 0, kW, kH, 0xFF123456u);
        Redraw(vm, display, picture, dst, x, y, w, h, 0, 0);
        uint32_t* argb = ReadBitMapArgb(dst, 0, 0, kW, kH, 0);
        std::vector<uint32_t> out(argb, argb + kW * kH);
        OsFreeMem(argb);
        FreeColorBitMap(dst);
        for (uint32_t& p : out)
            p &= 0xFFFFFF;
        return out;
    }
    Value One(Value id, int attribute)
    {
        std::vector<Value> results;
        EXPECT_EQ(CallGlobal(vm, "getattribute", {double(LAYER), id, double(attribute)}, &results), 0u)
            << "attribute " << attribute;
        return results.size() == 1 ? results[0] : Value{Nil{}};
    }
    uint32_t Error(int type, Value id, int attribute)
    {
        return CallGlobal(vm, "getattribute", {double(type), id, double(attribute)});
    }
    static constexpr int32_t kW = 40, kH = 30;
    std::vector<uint32_t> background;
    BGPic* picture = nullptr;
};

// The model: the background, then each visible layer's pixels where its
// mask shows them, all cut to the redrawn rectangle.
struct ModelLayer { int32_t x, y, w, h; uint32_t colour; bool masked, hidden; };

std::vector<uint32_t> Compose(const std::vector<uint32_t>& background, int32_t W, int32_t H,
                              const std::vector<ModelLayer>& layers, int32_t rx, int32_t ry, int32_t rw, int32_t rh)
{
    std::vector<uint32_t> out(static_cast<size_t>(W) * H, 0x123456);
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x) {
            if (x < rx || y < ry || x >= rx + rw || y >= ry + rh)
                continue;
            uint32_t p = background[y * W + x] & 0xFFFFFF;
            for (const ModelLayer& l : layers) {
                int32_t lx = x - l.x, ly = y - l.y;
                if (l.hidden || lx < 0 || ly < 0 || lx >= l.w || ly >= l.h || (l.masked && lx == ly))
                    continue;
                p = l.colour & 0xFFFFFF;
            }
            out[y * W + x] = p;
        }
    return out;
}

TEST_F(Layers, RedrawComposesTheStackLikeTheModel)
{
    const std::vector<ModelLayer> model = {
        {5, 4, 12, 10, 0xFFAA0000u, false, false},
        {10, 8, 9, 9, 0xFF00AAAAu, true, false},
        {-3, 20, 8, 20, 0xFF0000AAu, false, false},  // sticks out left and bottom
        {2, 2, 30, 20, 0xFFFFFFFFu, false, true},    // hidden
        {30, 1, 15, 6, 0xFF777700u, true, false},    // sticks out right
    };
    for (size_t i = 0; i < model.size(); ++i) {
        const ModelLayer& m = model[i];
        Brush* brush = SolidBrush(static_cast<uint32_t>(i + 1), m.w, m.h, m.colour, m.masked);
        Layer* layer = Insert(&brush->header, m.x, m.y);
        ASSERT_NE(layer, nullptr);
        layer->hidden = m.hidden;
    }
    EXPECT_EQ(CountLayers(picture), 5);
    struct Rect { int32_t x, y, w, h; };
    const Rect rects[] = {{0, 0, kW, kH}, {7, 6, 10, 9}, {-5, -5, 12, 12}, {35, 25, 20, 20}, {0, 0, 0, 0}};
    for (const Rect& r : rects)
        EXPECT_EQ(Drawn(r.x, r.y, r.w, r.h), Compose(background, kW, kH, model, r.x, r.y, r.w, r.h))
            << r.x << "," << r.y << " " << r.w << "x" << r.h;
    // Inserting at position 1 puts a layer at the bottom of the stack.
    Layer* layer = Insert(&SolidBrush(9, kW, kH, 0xFF010203u, false)->header, 0, 0, LAYERTYPE_BRUSH, 1);
    std::vector<uint32_t> flat(static_cast<size_t>(kW) * kH, 0xFF010203u);
    EXPECT_EQ(Drawn(0, 0, kW, kH), Compose(flat, kW, kH, model, 0, 0, kW, kH));
    EXPECT_EQ(GetLayerByPosition(picture, 1), layer);
    EXPECT_EQ(GetLayerByPosition(picture, 7), nullptr);
    EXPECT_EQ(GetLayerByPosition(picture, 0), nullptr);
}

TEST_F(Layers, AFreedPictureLeavesItsLayersACopyNotADanglingPointer)
{
    Brush* brush = SolidBrush(1, 6, 5, 0xFF00AA00u, true);
    Layer* layer = Insert(&brush->header, 3, 2);
    std::vector<uint32_t> before = Drawn(0, 0, kW, kH);
    EXPECT_TRUE(FindLayerUsingObject(OBJ_BRUSH, brush));
    FreeBrush(vm, brush);  // AddressSanitizer watches every later read
    EXPECT_EQ(layer->object, nullptr);
    EXPECT_FALSE(FindLayerUsingObject(OBJ_BRUSH, brush));
    EXPECT_EQ(Drawn(0, 0, kW, kH), before);
    EXPECT_EQ(One(1.0, ATTRWIDTH), Value{6.0});
    // A background picture shown as a layer of another one, likewise.
    BGPic* other = nullptr;
    ASSERT_EQ(AddBGPic(vm, MakeObjectId(2), false, AllocColorBitMap(4, 4, 0, nullptr), nullptr, nullptr, 4, 4,
                       &other), 0u);
    FillBitMapRect(other->bitmap, 0, 0, 4, 4, 0xFF445566u);
    Insert(&other->header, 0, 0, LAYERTYPE_BGPIC);
    before = Drawn(0, 0, kW, kH);
    BGPic* replacement = nullptr;  // replacing the picture frees the one the layer shows
    ASSERT_EQ(AddBGPic(vm, MakeObjectId(2), false, AllocColorBitMap(2, 2, 0, nullptr), nullptr, nullptr, 2, 2,
                       &replacement), 0u);
    EXPECT_EQ(Drawn(0, 0, kW, kH), before);
}

TEST_F(Layers, AVideoLayerShowsTheFirstFrameAndKeepsItWhenTheVideoGoes)
{
    auto* video = static_cast<Video*>(OsAllocMem(sizeof(Video), 1));
    video->header.type = OBJ_VIDEO;
    video->header.id = 3;
    video->width = 7;
    video->height = 5;
    std::vector<uint32_t> frame = MakeTestPicture(7, 5, false);
    video->frame = Picture(frame, 7, 5);
    VideoList = video;
    Layer* layer = Insert(&video->header, 4, 6, LAYERTYPE_VIDEO);
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(layer->width, 7);
    std::vector<uint32_t> expected = background;
    for (int32_t y = 0; y < 5; ++y)
        for (int32_t x = 0; x < 7; ++x)
            expected[(y + 6) * kW + x + 4] = frame[y * 7 + x];
    for (uint32_t& p : expected)
        p &= 0xFFFFFF;
    EXPECT_EQ(Drawn(0, 0, kW, kH), expected);
    // A brush is no video.
    LayerDesc desc;
    desc.layerType = LAYERTYPE_VIDEO;
    desc.object = &SolidBrush(1, 2, 2, 0xFF00AA00u, false)->header;
    EXPECT_EQ(InsertLayer(picture, 0, desc, &layer), uint32_t{ERR_WRONGUSAGE});
    FreeAllVideos();  // AddressSanitizer watches the layer's later reads
    EXPECT_EQ(GetLayerByPosition(picture, 1)->object, nullptr);
    EXPECT_EQ(Drawn(0, 0, kW, kH), expected);
}

TEST_F(Layers, ABlurredBrushLeavesItsLayerTheOldPixels)
{
    const std::vector<uint32_t> pixels = MakeTestPicture(12, 10, false);
    Brush *blurred = nullptr, *locked = nullptr;
    ASSERT_EQ(AddBrush(vm, MakeObjectId(1), false, Picture(pixels, 12, 10), nullptr, nullptr, 12, 10, &blurred), 0u);
    ASSERT_EQ(AddBrush(vm, MakeObjectId(2), false, Picture(pixels, 12, 10), nullptr, nullptr, 12, 10, &locked), 0u);
    Layer *first = Insert(&blurred->header, 4, 3), *second = Insert(&blurred->header, 20, 15),
          *third = Insert(&locked->header, 25, 1);
    ASSERT_TRUE(first && second && third);
    std::vector<uint32_t> shown = Drawn(0, 0, kW, kH);

    ASSERT_EQ(CallGlobal(vm, "blurbrush", {1.0, 2.0}), 0u);
    uint32_t* now = ReadBitMapArgb(blurred->bitmap, 0, 0, 12, 10, 0);
    size_t changed = 0;
    for (size_t i = 0; i < pixels.size(); ++i)
        changed += (now[i] & 0xFFFFFF) != (pixels[i] & 0xFFFFFF);
    OsFreeMem(now);
    EXPECT_GT(changed, pixels.size() / 2);
    EXPECT_EQ(Drawn(0, 0, kW, kH), shown);
    EXPECT_EQ(first->object, nullptr);
    EXPECT_EQ(second->object, nullptr);
    EXPECT_EQ(third->object, &locked->header);
    // The layer no longer names the brush.
    EXPECT_EQ(One(1.0, ATTRID), Value{-1.0});
    // A plugin that locks a brush for writing changes it for the script alone.
    QmBrushLock record{};
    void* held = HostLockBrush(2, nullptr, &record);
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(third->object, nullptr);
    for (uintptr_t y = 0; y < record.height; ++y)
        std::fill_n(static_cast<uint32_t*>(record.pixels) + y * record.rowLength, record.width, 0xFF00FF00u);
    HostUnLockBitMap(held);
    EXPECT_EQ(Drawn(0, 0, kW, kH), shown);
    // A read lock leaves a new layer on the brush.
    third = Insert(&locked->header, 25, 1);
    const QmTagItem readOnly[] = {{1, 1}, {0, 0}};
    held = HostLockBrush(2, readOnly, &record);
    ASSERT_NE(held, nullptr);
    HostUnLockBitMap(held);
    EXPECT_EQ(third->object, &locked->header);
}

TEST_F(Layers, APictureAnOpenDisplayShowsIsNeitherFreedNorReplaced)
{
    // A minimised display shows it too (the open one: the applet tests).
    BGPic* replacement = nullptr;
    BGPic* found = nullptr;
    display->state = DISPSTATE_MINIMIZED;
    EXPECT_EQ(AddBGPic(vm, MakeObjectId(1), false, AllocColorBitMap(5, 5, 0, nullptr), nullptr, nullptr, 5, 5,
                       &replacement), uint32_t{ERR_FREEABGPIC});
    EXPECT_EQ(replacement, nullptr);
    ASSERT_EQ(FindBGPic(vm, MakeObjectId(1), &found, 0), 0u);
    EXPECT_EQ(found, picture);

    display->state = DISPSTATE_CLOSED;
    ASSERT_EQ(AddBGPic(vm, MakeObjectId(1), false, AllocColorBitMap(5, 5, 0, nullptr), nullptr, nullptr, 5, 5,
                       &replacement), 0u);
    EXPECT_EQ(display->shownBGPic, nullptr);
    picture = replacement;
    display->state = DISPSTATE_OPEN;
}

TEST_F(Layers, ARegionFreedWhileALayerUsesItLivesOnDetached)
{
    ClipRegion* region = nullptr;
    ASSERT_EQ(CreateClipRegion(vm, MakeObjectId(5), false, 1, 1, 5, 5, nullptr, &region), 0u);
    Layer* layer = Insert(&SolidBrush(1, 4, 4, 0xFF00AA00u, false)->header);
    ASSERT_NE(layer, nullptr);
    layer->clipRegion = region;
    FreeClipRegion(vm, region);
    ClipRegion* found = nullptr;
    EXPECT_EQ(FindClipRegion(MakeObjectId(5), &found, 0), uint32_t{ERR_FINDCLIPREGION});
    EXPECT_EQ(region->temporary, 1u);
    EXPECT_EQ(layer->clipRegion, region);
    // The layer uses the region; that gives the layer no size of the region's.
    EXPECT_TRUE(RelinkLayerSources(OBJ_CLIPREGION, 0, &region->header));
    EXPECT_EQ(layer->width, 4);
    FreeTemporaryClipRegions(vm);
    EXPECT_EQ(ClipRegionList, region);
    // The last layer that uses it takes it along.
    RemoveLayer(vm, picture, layer);
    EXPECT_EQ(ClipRegionList, nullptr);
}

TEST_F(Layers, ARegionAboutToChangeLeavesItsLayersACopy)
{
    std::vector<uint32_t> shape(36, 0xFF000000u);
    for (int i = 0; i < 6; ++i)
        shape[i * 6 + i] = 0xFF00FF00u;
    BitMapHandle *b = nullptr, *m = nullptr;
    ASSERT_EQ(CreateBitMapFromArgb(shape.data(), 0x00FF00, 6, 6, 6, 0, 0, nullptr, &b, &m, nullptr), 0u);
    ClipRegion* region = nullptr;
    ASSERT_EQ(CreateClipRegion(vm, MakeObjectId(5), false, 2, 3, 6, 6, m, &region), 0u);
    FreePlaneBitMap(m);
    FreeColorBitMap(b);
    Brush* brush = SolidBrush(1, 4, 4, 0xFF00AA00u, false);
    Layer *first = Insert(&brush->header), *second = Insert(&brush->header);
    ASSERT_TRUE(first && second);
    first->clipRegion = second->clipRegion = region;
    // Looking it up without changing it, or with the copy refused, moves nothing.
    ClipRegion* found = nullptr;
    ASSERT_EQ(FindClipRegion(MakeObjectId(5), &found, 0), 0u);
    ASSERT_EQ(FindClipRegion(MakeObjectId(5), &found, FINDCLIP_MODIFY | FINDCLIP_NOCOPY), 0u);
    EXPECT_EQ(first->clipRegion, region);
    region->locked = 1;
    EXPECT_EQ(FindClipRegion(MakeObjectId(5), &found, FINDCLIP_MODIFY), uint32_t{ERR_LOCKEDOBJ});
    EXPECT_EQ(first->clipRegion, region);
    region->locked = 0;

    ASSERT_EQ(FindClipRegion(MakeObjectId(5), &found, FINDCLIP_MODIFY), 0u);
    EXPECT_EQ(found, region);
    ClipRegion* copy = first->clipRegion;
    ASSERT_NE(copy, region);
    EXPECT_EQ(second->clipRegion, copy);
    EXPECT_EQ(copy->temporary, 1u);
    EXPECT_EQ(copy->header.handle, reinterpret_cast<uintptr_t>(copy));
    EXPECT_EQ((std::vector<int32_t>{copy->x, copy->y, copy->width, copy->height}), (std::vector<int32_t>{2, 3, 6, 6}));
    ASSERT_NE(copy->mask, nullptr);
    EXPECT_NE(copy->mask, region->mask);
    for (int32_t y = 0; y < 6; ++y)
        for (int32_t x = 0; x < 6; ++x)
            EXPECT_EQ(ReadBitMapPixel(copy->mask, x, y, 1), ReadBitMapPixel(region->mask, x, y, 1)) << x << "," << y;
    // The region is the script's again: freeing it frees it at once, and
    // the copy goes with the last layer that uses it.
    EXPECT_FALSE(FindLayerUsingObject(OBJ_CLIPREGION, region));
    FreeClipRegion(vm, region);
    EXPECT_EQ(ClipRegionList, copy);
    RemoveLayer(vm, picture, first);
    EXPECT_EQ(ClipRegionList, copy);
    RemoveLayer(vm, picture, second);
    EXPECT_EQ(ClipRegionList, nullptr);
}

TEST_F(Layers, MarkedLayersAreRedrawnFromTheStackAndPresented)
{
    Brush* brush = SolidBrush(1, 6, 5, 0xFF00AA00u, false);
    Insert(&brush->header, 5, 4);
    Layer* hidden = Insert(&brush->header, 20, 4);
    ASSERT_NE(hidden, nullptr);
    hidden->hidden = 1;
    Framebuffer* fb = display->framebuffer;
    std::fill(fb->pixels, fb->pixels + static_cast<size_t>(fb->width) * fb->height, 0xABCDEFu);
    // Something drew into the brush behind the display's back.
    FillBitMapRect(brush->bitmap, 0, 0, 6, 5, 0xFF3300CCu);
    ASSERT_EQ(MarkLayerDirty(vm, display, brush, nullptr), 0u);
    ASSERT_NE(display->refreshRects, nullptr);
    ASSERT_EQ(display->refreshRects->count, 1u);  // the hidden layer shows nothing
    FlushRefreshRects(vm, display);
    EXPECT_EQ(display->refreshRects->count, 0u);
    for (int32_t y = 0; y < kH; ++y)
        for (int32_t x = 0; x < kW; ++x) {
            bool inside = x >= 5 && x < 11 && y >= 4 && y < 9;
            EXPECT_EQ(ReadFramebufferPixel(display, x, y), inside ? 0x3300CCu : 0xABCDEFu) << x << "," << y;
        }
    // The picture itself is marked whole; an object nothing shows, not at all.
    ASSERT_EQ(MarkLayerDirty(vm, display, picture, nullptr), 0u);
    int other = 0;
    ASSERT_EQ(MarkLayerDirty(vm, display, &other, nullptr), 0u);
    ASSERT_EQ(display->refreshRects->count, 1u);
    FlushRefreshRects(vm, display);
    EXPECT_EQ(ReadFramebufferPixel(display, 0, 0), background[0] & 0xFFFFFF);
    EXPECT_EQ(ReadFramebufferPixel(display, kW - 1, kH - 1), background[kW * kH - 1] & 0xFFFFFF);
    // A long list folds into its union rather than growing.
    for (int32_t i = 0; i < 100; ++i)
        ASSERT_EQ(AddRefreshRect(&display->refreshRects, i % 30, i / 30, 1, 1), 0u);
    EXPECT_LE(display->refreshRects->count, kMaxRefreshRects);
    FlushRefreshRects(vm, display);
}

TEST_F(Layers, AttributesAndObjectDataAddressLayersByPositionOrName)
{
    Brush* brush = SolidBrush(1, 6, 5, 0xFF00AA00u, false);
    LayerDesc desc;
    desc.object = &brush->header;
    desc.x = 7, desc.y = -2;
    desc.name = "sky", desc.group = "far";
    Layer* layer;
    ASSERT_EQ(InsertLayer(picture, 0, desc, &layer), 0u);
    LayerDesc text;
    text.layerType = LAYERTYPE_TEXT;
    text.text = "hello";
    text.hidden = 1;
    ASSERT_EQ(InsertLayer(picture, 0, text, &layer), 0u);

    EXPECT_EQ(One(1.0, ATTRXPOS), Value{7.0});
    EXPECT_EQ(One(std::string("SKY"), ATTRYPOS), Value{-2.0});
    EXPECT_EQ(One(1.0, ATTRWIDTH), Value{6.0});
    EXPECT_EQ(One(1.0, ATTRTYPE), Value{3.0});
    EXPECT_EQ(One(1.0, ATTRGROUP), Value{std::string("far")});
    EXPECT_EQ(One(1.0, ATTRID), Value{1.0});
    EXPECT_EQ(One(2.0, ATTRZPOS), Value{2.0});
    EXPECT_EQ(One(2.0, ATTRVISIBLE), Value{0.0});
    EXPECT_EQ(One(2.0, ATTRTEXT), Value{std::string("hello")});
    EXPECT_EQ(One(1.0, ATTRLAYERS), Value{2.0});
    EXPECT_EQ(Error(LAYER, 1.0, ATTRTEXT), uint32_t{ERR_NOTXTLAYER});
    EXPECT_EQ(Error(LAYER, 1.0, ATTRCURFRAME), uint32_t{ERR_NOANMLAYER});
    EXPECT_EQ(Error(LAYER, 2.0, ATTRID), uint32_t{ERR_BADLAYERTYPE});
    EXPECT_EQ(Error(LAYER, 2.0, ATTRNUMFRAMES), uint32_t{ERR_BADLAYERTYPE});
    std::vector<Value> results;
    ASSERT_EQ(Call("getattribute", {double(BGPIC), 1.0, double(ATTRLAYERS)}, &results), 0u);
    EXPECT_EQ(results, std::vector<Value>{2.0});
    // Object data lives in the layer record and goes with it.
    ASSERT_EQ(Call("setobjectdata", {double(LAYER), std::string("sky"), std::string("k"), 42.0}), 0u);
    ASSERT_EQ(Call("getobjectdata", {double(LAYER), 1.0, std::string("k")}, &results), 0u);
    EXPECT_EQ(results, std::vector<Value>{42.0});
    EXPECT_EQ(Call("getobjectdata", {double(LAYER), 2.0, std::string("k")}), uint32_t{ERR_FINDOBJECTDATA});
    EXPECT_EQ(Call("setobjectdata", {double(LAYER), 5.0, std::string("k"), 1.0}), uint32_t{ERR_LAYERRANGE});
    // Layer references in option tables: a number, or a name of the
    // current picture's layers.
    VmNewTable(vm);
    SetTableString(vm, 1, "insert", "sky");
    SetTableInt(vm, 1, "above", 2);
    int32_t position = 0;
    EXPECT_TRUE(GetTableLayerRef(vm, 1, "insert", &position));
    EXPECT_EQ(position, 1);
    EXPECT_TRUE(GetTableLayerRef(vm, 1, "above", &position));
    EXPECT_EQ(position, 2);
    EXPECT_FALSE(GetTableLayerRef(vm, 1, "missing", &position));
    VmSetTop(vm, 0);
    // Without layers on the display nothing addresses them.
    display->layersEnabled = 0;
    EXPECT_EQ(Call("setobjectdata", {double(LAYER), 1.0, std::string("k"), 1.0}), uint32_t{ERR_NOLAYERS});
    display->layersEnabled = 1;
    RemoveLayer(vm, picture, GetLayerByPosition(picture, 1));
    EXPECT_EQ(CountAllLayers(), 1);
}

}  // namespace
