// LoadAnim and LoadSprite on real files, against the pictures' writers and
// the GIF reader's own composition.
#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/plugins/plugin_manager.h"
#include "core/vm/error_hooks.h"
#include "core/services/option_tables.h"
#include "display/anims.h"
#include "display/display_library.h"
#include "display/framebuffer.h"
#include "display/sprites.h"
#include "gfx/bitmaps/argb_exchange.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/blits/clip_regions.h"
#include "gfx/blits/plane_ops.h"
#include "gfx/graphics_fixture.h"
#include "gfx/library/attribute_queries.h"
#include "gfx/library/gfx_cache.h"
#include "media/gif_anim.h"
#include "media/image_files.h"
#include "platform/posix/os_memory.h"
#include "support/anim_gif_oracle.h"
#include "support/picture_oracle.h"
#include "support/temp_dir.h"

namespace {

using testcalls::Options;

enum : int { ANIM = 4, SPRITE = 32 };

class AnimCommands : public GraphicsFixture {
protected:
    void SetUp() override
    {
        GraphicsFixture::SetUp();
        Register(RegisterAnimLibrary);
        Register(RegisterSpriteLibrary);
    }
    void TearDown() override
    {
        FreeAllSprites(vm);
        FreeAllAnims(vm);
        FreeAllPlugins();  // after the anims their frames came from
        GraphicsFixture::TearDown();
    }
    Value One(int type, Value id, int attribute, Value extra = Nil{})
    {
        std::vector<Value> results;
        EXPECT_EQ(Error(type, id, attribute, extra, &results), 0u) << "type " << type << " attribute " << attribute;
        return results.size() == 1 ? results[0] : Value{Nil{}};
    }
    uint32_t Error(int type, Value id, int attribute, Value extra = Nil{}, std::vector<Value>* results = nullptr)
    {
        std::vector<Value> args = {double(type), id, double(attribute)};
        if (!std::holds_alternative<Nil>(extra))
            args.push_back(extra);
        return CallGlobal(vm, "getattribute", args, results);
    }
    Anim* FoundAnim(uint32_t id)
    {
        Anim* a = nullptr;
        FindAnim(vm, MakeObjectId(id), &a, 0);
        return a;
    }
    // Frame `f`'s planes into bitmap, mask and alpha.
    uint32_t Planes(Anim* anim, uint32_t f) { return GetFrameSetPlanes(&anim->frames, f, &bitmap, &mask, &alpha); }
    // The colour words of the w x h box at (x0, y0) of a picture `stride` wide.
    static std::vector<uint32_t> Crop(const uint32_t* picture, int32_t stride, int32_t x0, int32_t y0, int32_t w,
                                      int32_t h)
    {
        std::vector<uint32_t> rgb;
        for (int32_t y = y0; y < y0 + h; ++y)
            for (int32_t x = x0; x < x0 + w; ++x)
                rgb.push_back(picture[static_cast<size_t>(y) * stride + x] & 0xFFFFFF);
        return rgb;
    }
    // The colour words of a frame's bitmap.
    static std::vector<uint32_t> FrameRgb(BitMapHandle* bitmap, int32_t w, int32_t h)
    {
        uint32_t* argb = ReadBitMapArgb(bitmap, 0, 0, w, h, 0);
        std::vector<uint32_t> rgb = Crop(argb, w, 0, 0, w, h);
        OsFreeMem(argb);
        return rgb;
    }
    TempDir dir;
    BitMapHandle *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
};

TEST_F(AnimCommands, AStripIsCutExactlyIntoItsFrames)
{
    // 23 x 11 with 5 frames, 3 a row: frames of 7 x 5, the odd pixels unused.
    std::string strip = dir / "strip.png";
    std::vector<uint32_t> picture = WriteTestPng(strip, 23, 11);
    ASSERT_FALSE(picture.empty());
    ASSERT_EQ(Call("loadanim", {1.0, strip, Options{{{"frames", 5}, {"fpr", 3}}}}), 0u);
    Anim* anim = FoundAnim(1);
    ASSERT_NE(anim, nullptr);
    EXPECT_EQ(One(ANIM, 1.0, ATTRWIDTH), Value{7.0});
    EXPECT_EQ(One(ANIM, 1.0, ATTRHEIGHT), Value{5.0});
    EXPECT_EQ(One(ANIM, 1.0, ATTRNUMFRAMES), Value{5.0});
    // Sprites cut their strips through the same frame sets.
    for (uint32_t f = 0; f < 5; ++f) {
        ASSERT_EQ(Planes(anim, f), 0u);
        EXPECT_EQ(FrameRgb(bitmap, 7, 5), Crop(picture.data(), 23, f % 3 * 7, f / 3 * 5, 7, 5)) << "frame " << f;
    }
    EXPECT_EQ(Planes(anim, 5), uint32_t{ERR_ANIMFRAME});
    // A strip of more frames than the picture has pixels cannot be cut.
    EXPECT_EQ(Call("loadanim", {3.0, strip, Options{{{"frames", 30}, {"fpr", 30}}}}), uint32_t{ERR_OPENANIM2});
    EXPECT_EQ(Call("loadanim", {3.0, strip, Options{{{"frames", -2}}}}), uint32_t{ERR_WRONGUSAGE});
    EXPECT_EQ(FoundAnim(3), nullptr);
}

// The frame size is the picture's (after any scaling) over fpr and over the
// rows the frames fill, rounded down; a frame that would have no pixels, or
// more than 65535 frames, cannot be cut.
TEST_F(AnimCommands, StripFramesFollowThePictureFramesAndFpr)
{
    std::string strip = dir / "strip.png";
    ASSERT_FALSE(WriteTestPng(strip, 23, 11).empty());
    const struct {
        Options options;
        uint32_t error;
        double width, height;
    } cases[] = {
        {Options{}, 0, 23, 11},  // no frames: the picture is one
        {Options{{{"frames", 3}}}, 0, 7, 11},  // all in one row
        {Options{{{"frames", 3}, {"fpr", 10}}}, 0, 7, 11},  // fpr above frames counts as frames
        {Options{{{"frames", 4}, {"fpr", 3}}}, 0, 7, 5},  // a last row that is not full
        {Options{{{"frames", 11}, {"fpr", 1}}}, 0, 23, 1},  // one pixel high
        {Options{{{"frames", 2}, {"width", 46}, {"height", 22}}}, 0, 23, 22},  // scaled, then cut
        {Options{{{"frames", 23}}}, 0, 1, 11},
        {Options{{{"frames", 24}}}, ERR_OPENANIM2, 0, 0},  // wider than the picture
        {Options{{{"frames", 12}, {"fpr", 1}}}, ERR_OPENANIM2, 0, 0},  // more rows than it is high
        {Options{{{"frames", 65536}, {"fpr", 1}}}, ERR_OPENANIM2, 0, 0},
    };
    double id = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(id);
        ASSERT_EQ(Call("loadanim", {id, strip, c.options}), c.error);
        if (!c.error) {
            EXPECT_EQ(One(ANIM, id, ATTRWIDTH), Value{c.width});
            EXPECT_EQ(One(ANIM, id, ATTRHEIGHT), Value{c.height});
            double frames = c.options.fields.empty() ? 1 : c.options.fields[0].second;
            EXPECT_EQ(One(ANIM, id, ATTRNUMFRAMES), Value{frames});
        }
        id++;
    }
}

TEST_F(AnimCommands, GifFramesAreTheReadersCompositionKeptOrOnDemand)
{
    QM_SKIP_WITHOUT(HavePil()) << "PIL missing";
    ASSERT_TRUE(RunPython(dir.path(), kMakeAnimGif, dir.path()));
    std::string gif = dir / "anim.gif";
    ASSERT_EQ(Call("loadanim", {1.0, gif}), 0u);
    ASSERT_EQ(Call("loadanim", {2.0, gif, Options{{{"fromdisk", 1}, {"loadtransparency", 1}}}}), 0u);
    std::vector<Value> handle;
    ASSERT_EQ(Call("loadsprite", {Nil{}, gif, Options{{{"loadtransparency", 1}}}}, &handle), 0u);
    ASSERT_EQ(handle.size(), 1u);

    std::vector<uint8_t> bytes = ReadFileBytes(gif);
    auto* data = static_cast<uint8_t*>(OsAllocMem(bytes.size(), 0));
    std::memcpy(data, bytes.data(), bytes.size());
    GifAnimDecoder* decoder = nullptr;
    GifAnimInfo info{};
    ASSERT_EQ(OpenGifAnim(data, bytes.size(), &decoder, &info), 0u);
    Anim* kept = FoundAnim(1);
    Anim* onDisk = FoundAnim(2);
    ASSERT_TRUE(kept && onDisk);
    EXPECT_EQ(onDisk->frames.frames[3].bitmap, nullptr);  // nothing decoded yet
    // Backwards as well, so the reader restarts.
    for (uint32_t f : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 2u, 0u}) {
        const uint32_t* pixels = nullptr;
        ASSERT_EQ(DecodeGifAnimFrame(decoder, f, &pixels), 0u);
        std::vector<uint32_t> expected = Crop(pixels, info.width, 0, 0, info.width, info.height);
        for (Anim* anim : {kept, onDisk}) {
            ASSERT_EQ(Planes(anim, f), 0u);
            EXPECT_EQ(FrameRgb(bitmap, info.width, info.height), expected) << "frame " << f;
            EXPECT_EQ(mask != nullptr, anim == onDisk);
            if (!mask)
                continue;
            // The mask hides exactly what the reader shows nothing at.
            for (int32_t i = 0; i < info.width * info.height; ++i)
                EXPECT_EQ(ReadBitMapPixel(mask, i % info.width, i / info.width, 1) != 0, (pixels[i] >> 24) != 0)
                    << "frame " << f << " pixel " << i;
        }
        // Only one frame of an anim on disk is held at a time.
        uint32_t held = 0;
        for (uint32_t i = 0; i < onDisk->frames.frameCount; ++i)
            held += onDisk->frames.frames[i].bitmap != nullptr;
        EXPECT_EQ(held, 1u);
    }
    CloseGifAnim(decoder);

    EXPECT_EQ(One(ANIM, 1.0, ATTRHASMASK), Value{0.0});
    EXPECT_EQ(One(ANIM, 2.0, ATTRHASMASK), Value{1.0});
    EXPECT_EQ(One(ANIM, 2.0, ATTRTRANSPARENTCOLOR), Value{double(info.transparentColour)});
    EXPECT_EQ(One(SPRITE, handle[0], ATTRHASMASK), Value{1.0});
    // Flushing the caches lets the anim on disk decode again when asked.
    FlushObjectCaches(vm, 2);
    EXPECT_EQ(Planes(onDisk, 4), 0u);
}

TEST_F(AnimCommands, BrokenAnimsAndAnimsThatDoNotFitNameTheFile)
{
    std::vector<uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a', 4, 0, 4, 0, 0, 0, 0, 0x2C, 0, 0};
    std::string broken = dir / "broken.gif";
    WriteFileBytes(broken, gif);
    EXPECT_EQ(Call("loadanim", {1.0, broken}), uint32_t{ERR_OPENANIM2});
    EXPECT_EQ(Call("loadsprite", {1.0, broken}), uint32_t{ERR_OPENANIM2});
    EXPECT_EQ(Call("loadanim", {1.0, dir / "missing.gif"}), uint32_t{ERR_READFILE});
    // A strip smaller than its frames (frames past the decode limits: the
    // player's hostile-file tests).
    std::string strip = dir / "small strip.png";
    ASSERT_FALSE(WriteTestPng(strip, 4, 4).empty());
    SetErrorText("");
    EXPECT_EQ(Call("loadsprite", {1.0, strip, Options{{{"frames", 5}}}}), uint32_t{ERR_OPENANIM2});
    char text[2048];
    GetErrorText(ERR_OPENANIM2, text, sizeof text);
    EXPECT_EQ(std::string(text), "Cannot open anim small strip.png!");
    EXPECT_EQ(AnimList, nullptr);
    EXPECT_EQ(SpriteList, nullptr);
}

TEST_F(AnimCommands, SpritesAnswerWhereTheyAreShownOnlyWhenShown)
{
    std::string strip = dir / "strip.png";
    std::vector<uint32_t> picture = WriteTestPng(strip, 12, 4);
    ASSERT_EQ(Call("loadsprite", {1.0, strip, Options{{{"frames", 3}}}}), 0u);
    EXPECT_EQ(Error(SPRITE, 2.0, ATTRONSCREEN), uint32_t{ERR_FINDSPRITE});
    // The display code shows a sprite through an instance of its output.
    Sprite* sprite = nullptr;
    ASSERT_EQ(FindSprite(MakeObjectId(1), &sprite), 0u);
    auto* shown = static_cast<SpriteInstance*>(OsAllocMem(sizeof(SpriteInstance), 1));
    shown->instance = OnScreenInstance{nullptr, OBJ_SPRITE, 30, 12, 4, 4, nullptr};
    shown->sprite = sprite;
    shown->frame = 2;
    display->output.instances = &shown->instance;
    EXPECT_EQ(One(SPRITE, 1.0, ATTRONSCREEN), Value{1.0});
    EXPECT_EQ(One(SPRITE, 1.0, ATTRXPOS), Value{30.0});
    EXPECT_EQ(One(SPRITE, 1.0, ATTRYPOS), Value{12.0});
    EXPECT_EQ(One(SPRITE, 1.0, ATTRCURFRAME), Value{3.0});
    // A sprite drawn through a clip region is shown whole again when the
    // region goes: its union is redrawn and presented, nothing else.
    ClipRegion* region = nullptr;
    ASSERT_EQ(CreateClipRegion(vm, MakeObjectId(3), false, 30, 12, 2, 2, nullptr, &region), 0u);
    shown->instance.taggedObject = region;
    Framebuffer* fb = display->framebuffer;
    std::fill(fb->pixels, fb->pixels + static_cast<size_t>(fb->width) * fb->height, 0xABCDEFu);
    FreeClipRegion(vm, region);
    EXPECT_EQ(shown->instance.taggedObject, nullptr);
    std::vector<uint32_t> redrawn;
    for (int32_t y = 12; y < 16; ++y)
        for (int32_t x = 30; x < 34; ++x)
            redrawn.push_back(ReadFramebufferPixel(display, x, y));
    EXPECT_EQ(redrawn, Crop(picture.data(), 12, 8, 0, 4, 4));
    EXPECT_EQ(ReadFramebufferPixel(display, 29, 12), 0xABCDEFu);
    EXPECT_EQ(ReadFramebufferPixel(display, 34, 15), 0xABCDEFu);
    // Freeing the sprite takes its instance off the display.
    FreeSprite(vm, sprite);
    EXPECT_EQ(display->output.instances, nullptr);
}

TEST_F(AnimCommands, DeclarationsSharingAFileReadItOnce)
{
    ASSERT_TRUE(RunPython(dir.path(), kMakeAnimGif, dir.path()));
    std::string gif = dir / "anim.gif";
    ASSERT_EQ(Call("loadanim", {1.0, gif, Options{{{"cache", 1}, {"loadtransparency", 1}}}}), 0u);
    std::filesystem::remove(gif);
    ASSERT_EQ(Call("loadsprite", {2.0, gif, Options{{{"cachedload", 1}, {"loadtransparency", 1}}}}), 0u);  // gone
    Anim* anim = FoundAnim(1);
    Sprite* sprite = nullptr;
    ASSERT_EQ(FindSprite(MakeObjectId(2), &sprite), 0u);
    ASSERT_EQ(sprite->frames.frameCount, anim->frames.frameCount);
    const int32_t w = anim->frames.width, h = anim->frames.height;
    for (uint32_t f = 0; f < anim->frames.frameCount; ++f) {
        BitMapHandle *b, *bm, *ba;
        ASSERT_EQ(Planes(anim, f), 0u);
        ASSERT_EQ(GetSpriteFramePlanes(sprite, f, &b, &bm, &ba), 0u);
        EXPECT_NE(bitmap, b);
        EXPECT_EQ(FrameRgb(b, w, h), FrameRgb(bitmap, w, h)) << "frame " << f;
        ASSERT_EQ(mask != nullptr, bm != nullptr);
        EXPECT_EQ(LookupAnimFrameDelay(anim, f), sprite->frames.frames[f].delay);
    }
    // Other options, or the shared set freed: the file is read again.
    EXPECT_EQ(Call("loadanim", {3.0, gif, Options{{{"cachedload", 1}}}}), uint32_t{ERR_READFILE});
    FreeAnim(vm, anim);
    EXPECT_EQ(Call("loadanim", {3.0, gif, Options{{{"cachedload", 1}, {"loadtransparency", 1}}}}),
              uint32_t{ERR_READFILE});

    // A strip is shared as a picture, whatever frames each declaration cuts.
    std::string strip = dir / "strip.png";
    std::vector<uint32_t> picture = WriteTestPng(strip, 12, 4);
    ASSERT_EQ(Call("loadanim", {4.0, strip, Options{{{"frames", 3}, {"cache", 1}}}}), 0u);
    std::filesystem::remove(strip);
    ASSERT_EQ(Call("loadsprite", {5.0, strip, Options{{{"frames", 2}, {"cachedload", 1}}}}), 0u);
    ASSERT_EQ(FindSprite(MakeObjectId(5), &sprite), 0u);
    ASSERT_EQ(GetSpriteFramePlanes(sprite, 1, &bitmap, &mask, &alpha), 0u);
    EXPECT_EQ(FrameRgb(bitmap, 6, 4), Crop(picture.data(), 12, 6, 0, 6, 4));
    FreeGfxCache();
}

// The anim loader plugin of tests/plugins_src/anim_plugin.c, reached
// through LoadAnim's loader chain.
class AnimPlugin : public AnimCommands {
protected:
    void SetUp() override
    {
        AnimCommands::SetUp();
        path = (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "plugins_src" / "anims" /
                "procanim.qmp")
                   .string();
        PluginRecord* record = nullptr;
        ASSERT_EQ(LoadPluginFile(path.c_str(), false, &record), 0u);
        void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
        ASSERT_NE(module, nullptr);
        outstanding = reinterpret_cast<int (*)()>(dlsym(module, "ProcAnimOutstanding"));
        lastFlags = reinterpret_cast<uint32_t (*)()>(dlsym(module, "ProcAnimLastFlags"));
        opens = reinterpret_cast<int (*)()>(dlsym(module, "ProcAnimOpens"));
        dlclose(module);  // the plugin manager keeps its own reference
        ASSERT_NE(outstanding, nullptr);
        ASSERT_NE(opens, nullptr);
    }
    uint32_t Load(double id, const char* file, const char* loader, int fromDisk)
    {
        VmSetTop(vm, 0);
        VmPushString(vm, "loadanim");
        VmGetTable(vm, VM_GLOBALSINDEX);
        VmPushNumber(vm, id);
        VmPushString(vm, file);
        VmNewTable(vm);
        if (loader)
            SetTableString(vm, 4, "loader", loader);
        SetTableInt(vm, 4, "fromdisk", fromDisk);
        uint32_t code = VmPCall(vm, 3, 0, 0);
        VmSetTop(vm, 0);
        return code;
    }
    static std::vector<uint32_t> Expected(int32_t w, int32_t h, uint32_t n)
    {
        std::vector<uint32_t> rgb;
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                rgb.push_back(((static_cast<uint32_t>(x) * 7 + n * 31) & 255) << 16 |
                              ((static_cast<uint32_t>(y) * 13) & 255) << 8 | (n & 255));
        return rgb;
    }
    std::string path;
    int (*outstanding)() = nullptr;
    uint32_t (*lastFlags)() = nullptr;
    int (*opens)() = nullptr;
};

TEST_F(AnimPlugin, FramesAndDelaysComeFromThePlugin)
{
    ASSERT_EQ(Load(1, "frames:9:6:4", nullptr, 0), 0u);
    Anim* anim = FoundAnim(1);
    ASSERT_NE(anim, nullptr);
    EXPECT_EQ(One(ANIM, 1.0, ATTRWIDTH), Value{9.0});
    EXPECT_EQ(One(ANIM, 1.0, ATTRHEIGHT), Value{6.0});
    EXPECT_EQ(One(ANIM, 1.0, ATTRNUMFRAMES), Value{4.0});
    for (uint32_t f = 0; f < 4; ++f) {
        EXPECT_EQ(One(ANIM, 1.0, ATTRFRAMEDELAY, double(f + 1)), Value{double(f + 1) * 10});
        ASSERT_EQ(Planes(anim, f), 0u);
        EXPECT_EQ(mask, nullptr);
        EXPECT_EQ(alpha, nullptr);
        EXPECT_EQ(FrameRgb(bitmap, 9, 6), Expected(9, 6, f)) << "frame " << f;
    }
    // Every frame was handed back and the anim closed once all were taken.
    EXPECT_EQ(outstanding(), 0);
    EXPECT_EQ(lastFlags(), 0u);
}

TEST_F(AnimPlugin, FramesOnDiskAreAskedForWhenShown)
{
    ASSERT_EQ(Load(1, "frames:5:3:6", nullptr, 1), 0u);
    EXPECT_EQ(lastFlags(), uint32_t{QM_ANIM_FROMDISK});
    Anim* anim = FoundAnim(1);
    ASSERT_NE(anim, nullptr);
    EXPECT_EQ(outstanding(), 1);  // the open anim, no frame
    for (uint32_t f : {4u, 1u, 5u}) {
        ASSERT_EQ(Planes(anim, f), 0u);
        EXPECT_EQ(FrameRgb(bitmap, 5, 3), Expected(5, 3, f)) << "frame " << f;
        EXPECT_EQ(outstanding(), 1);
    }
    EXPECT_EQ(LookupAnimFrameDelay(anim, 5), 60);
    FreeAnim(vm, anim);
    EXPECT_EQ(outstanding(), 0);
}

TEST_F(AnimPlugin, TheLoaderListPicksOrPassesThePluginAndABrokenFrameFails)
{
    ASSERT_EQ(Load(1, "frames:4:4:2", "procanim", 0), 0u);
    // Without the plugin nothing reads the name.
    EXPECT_NE(Load(2, "frames:4:4:2", "inbuilt", 0), 0u);
    EXPECT_EQ(FoundAnim(2), nullptr);
    EXPECT_EQ(Load(3, "frames:4:4:5:3", nullptr, 0), uint32_t{ERR_LOADFRAME});
    EXPECT_EQ(FoundAnim(3), nullptr);
    EXPECT_EQ(outstanding(), 0);
    // The same frame asked for on disk fails when it is shown, not before.
    ASSERT_EQ(Load(4, "frames:4:4:5:3", nullptr, 1), 0u);
    EXPECT_EQ(Planes(FoundAnim(4), 3), uint32_t{ERR_LOADFRAME});
    EXPECT_EQ(Planes(FoundAnim(4), 2), 0u);
}

// Frames are made, and copied from a shared set, a band of rows at a time:
// frames of more rows than a band and not a multiple of it, nor of 4 pixels
// wide, come whole, each band in its own rows of every plane.
TEST_F(AnimPlugin, FramesOfManyBandsAreMadeAndCopiedWhole)
{
    const int32_t w = 67, h = 130;
    const uint32_t key = 0x071400;  // frame 0's pixel (1, 100) alone
    std::string strip = dir / "strip.png";
    std::vector<uint32_t> picture = WriteTestPng(strip, 2 * w, h, true);
    ASSERT_FALSE(picture.empty());
    ASSERT_EQ(Call("loadanim", {1.0, "frames:67:130:2", Options{{{"cache", 1}, {"transparency", key}}}}), 0u);
    ASSERT_EQ(Call("loadanim", {2.0, "alphaframes:67:130:2", Options{{{"cache", 1}, {"loadalpha", 1}}}}), 0u);
    ASSERT_EQ(opens(), 2);
    ASSERT_EQ(Call("loadanim", {3.0, "frames:67:130:2", Options{{{"cachedload", 1}, {"transparency", key}}}}), 0u);
    ASSERT_EQ(Call("loadanim", {4.0, "alphaframes:67:130:2", Options{{{"cachedload", 1}, {"loadalpha", 1}}}}), 0u);
    EXPECT_EQ(opens(), 2);  // copies of the shared sets
    ASSERT_EQ(Call("loadanim", {5.0, strip, Options{{{"frames", 2}, {"loadalpha", 1}}}}), 0u);
    for (uint32_t id = 1; id <= 5; ++id) {
        Anim* anim = FoundAnim(id);
        ASSERT_NE(anim, nullptr);
        for (uint32_t f = 0; f < 2; ++f) {
            SCOPED_TRACE("anim " + std::to_string(id) + " frame " + std::to_string(f));
            ASSERT_EQ(Planes(anim, f), 0u);
            std::vector<uint32_t> expected = id == 5 ? Crop(picture.data(), 2 * w, f * w, 0, w, h) : Expected(w, h, f);
            EXPECT_EQ(FrameRgb(bitmap, w, h), expected);
            bool keyed = id == 1 || id == 3, withAlpha = !keyed;
            ASSERT_EQ(mask != nullptr, keyed);
            ASSERT_EQ(alpha != nullptr, withAlpha);
            size_t wrong = 0;
            PlaneView plane{};
            ASSERT_TRUE(!withAlpha || ViewPlane(alpha, BITMAP_ALPHA, &plane));
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x) {
                    size_t i = static_cast<size_t>(y) * w + x;
                    uint32_t stripAlpha = picture[static_cast<size_t>(y) * 2 * w + f * w + x] >> 24;
                    if (keyed)
                        wrong += (ReadBitMapPixel(mask, x, y, 1) != 0) != (expected[i] != key);
                    else
                        wrong += plane.pixels[y * plane.bytesPerRow + x] != (id == 5 ? stripAlpha : (x + y * 3) & 255);
                }
            EXPECT_EQ(wrong, 0u);
        }
    }
    EXPECT_EQ(ReadBitMapPixel(FoundAnim(3)->frames.frames[0].mask, 1, 100, 1), 0u);
    FreeGfxCache();
}

// An abort raised while frames are made or copied is answered at once on
// every route, and leaves nothing made: no set, no planes, every frame
// handed back to the plugin. Nothing else on these routes looks at the flag
// before the frames' planes, so it is raised before the load.
TEST_F(AnimPlugin, AnAbortStopsTheFramesOnEveryRoute)
{
    std::string strip = dir / "strip.png";
    ASSERT_FALSE(WriteTestPng(strip, 134, 130, true).empty());
    // What the cached routes copy from, and an anim whose frames wait on disk.
    ASSERT_EQ(Call("loadanim", {1.0, "frames:67:130:2", Options{{{"cache", 1}, {"transparency", 0x123456}}}}), 0u);
    ASSERT_EQ(Call("loadanim", {2.0, strip, Options{{{"frames", 2}, {"cache", 1}, {"loadalpha", 1}}}}), 0u);
    ASSERT_EQ(Call("loadanim", {3.0, "frames:67:130:2", Options{{{"fromdisk", 1}}}}), 0u);
    auto request = [](const char* file, int64_t transparency, bool loadAlpha, bool cachedLoad, int32_t frames) {
        FrameSetRequest r;
        r.file = file;
        r.transparency = transparency;
        r.loadAlpha = loadAlpha;
        r.cachedLoad = cachedLoad;
        r.frames = frames;
        return r;
    };
    const char* plugin = "frames:67:130:2";
    const struct {
        const char* what;
        FrameSetRequest request;
        bool copied;  // from anim 1, the plugin not asked
    } cases[] = {
        {"plugin frames", request(plugin, -1, false, false, 0), false},
        {"keyed plugin frames", request(plugin, 0x123456, false, false, 0), false},
        {"plugin frames with alpha", request("alphaframes:67:130:2", -1, true, false, 0), false},
        {"copy of a shared set", request(plugin, 0x123456, false, true, 0), true},
        {"strip from the graphics cache", request(strip.c_str(), -1, true, true, 2), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        int opened = opens();
        FrameSet set{};
        VmAbortFlag.store(1);
        uint32_t error = LoadFrameSet(c.request, &set);
        VmAbortFlag.store(0);
        EXPECT_EQ(error, uint32_t{ERR_USERABORT});
        EXPECT_EQ(set.frames, nullptr);
        EXPECT_EQ(outstanding(), 1);  // anim 3's source
        EXPECT_TRUE(!c.copied || opens() == opened);
        FreeFrameSet(&set);
    }
    // A frame on disk is decoded again when next asked.
    Anim* onDisk = FoundAnim(3);
    ASSERT_NE(onDisk, nullptr);
    VmAbortFlag.store(1);
    uint32_t error = Planes(onDisk, 1);
    VmAbortFlag.store(0);
    EXPECT_EQ(error, uint32_t{ERR_USERABORT});
    EXPECT_EQ(onDisk->frames.frames[1].bitmap, nullptr);
    EXPECT_EQ(outstanding(), 1);
    ASSERT_EQ(Planes(onDisk, 1), 0u);
    EXPECT_EQ(FrameRgb(bitmap, 67, 130), Expected(67, 130, 1));
    FreeGfxCache();
}

}  // namespace
