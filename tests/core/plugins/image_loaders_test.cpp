// The image loader chain: plugins before the inbuilt decoders as the loader
// list allows, scalable pictures, alpha planes, transparent pens, probing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/io/error_codes.h"
#include "core/plugins/image_loaders.h"
#include "core/plugins/plugin_fixture.h"
#include "gfx/bitmaps/bitmap.h"
#include "media/image_files.h"
#include "support/picture_oracle.h"

namespace {

// The picture the test plugins draw: see tests/plugins_src/image_plugin.c.
uint32_t ProcPixel(int32_t x, int32_t y, int32_t w)
{
    return (static_cast<uint32_t>((x + y) & 255) << 24) | (static_cast<uint32_t>(x * 255 / w) << 16) |
           (static_cast<uint32_t>(y & 255) << 8) | static_cast<uint32_t>((x ^ y) & 255);
}

// Every pixel of the loaded picture is the plugins' picture at its width.
void ExpectProcPicture(const ImageLoadResult& r)
{
    const uint32_t* pixels = GetImageHandleData(r.handle);
    for (int32_t y = 0; y < r.height; ++y)
        for (int32_t x = 0; x < r.width; ++x)
            ASSERT_EQ(pixels[y * r.width + x], ProcPixel(x, y, r.width)) << x << "," << y;
}

class ImageLoaderChain : public PluginTest {
protected:
    void SetUp() override
    {
        PluginTest::SetUp();
        std::vector<uint32_t> pixels(200 * 100, 0xFF336699u);
        png = scratch.file("plain.png");
        SavePngBlock block{png.c_str(), pixels.data(), 800, 200, 100, 0, 0};
        SavePng(&block);
        ASSERT_EQ(block.result, 0u);
        gif = scratch.file("pen.gif");
        ASSERT_TRUE(WritePenGif(gif, 16, 8, 5));
    }
    uint32_t LoadImagePlugin(const std::string& name) { return Load("images/" + name); }

    static void Free(ImageLoadResult* r)
    {
        if (r->alpha)
            FreePlaneBitMap(r->alpha);
        ReleaseImageHandle(r->handle);
        *r = ImageLoadResult{};
    }

    std::string png, gif;
};

TEST_F(ImageLoaderChain, PluginServesItsPictureInTightRowsWhenTheLoaderListAllows)
{
    ASSERT_EQ(LoadImagePlugin("procimage"), 0u);
    ImageLoadRequest request;
    request.file = "proc:40:30";
    ImageLoadResult r;
    ASSERT_EQ(LoadImageViaLoaders(request, &r), 0u);
    ASSERT_NE(r.producer, nullptr);
    EXPECT_STREQ(GetLoaderName(r.producer), "procimage");
    EXPECT_EQ(r.width, 40);
    EXPECT_EQ(r.height, 30);
    EXPECT_EQ(r.hasAlpha, 1u);
    EXPECT_EQ(r.scalable, 0u);
    ExpectProcPicture(r);
    // Unasked, a plugin's alpha stays in the pixels.
    EXPECT_EQ(r.alpha, nullptr);
    Free(&r);
    request.alphaMode = IMAGEALPHA_OPTIONAL;
    ASSERT_EQ(LoadImageViaLoaders(request, &r), 0u);
    ASSERT_NE(r.alpha, nullptr);
    BitMapLock lock{};
    ASSERT_TRUE(LockBitMapPixels(r.alpha, LOCKBITMAP_READ, &lock));
    EXPECT_EQ(lock.pixels[3 * lock.rowLength + 7], 10u);
    UnlockBitMapPixels(&lock);
    Free(&r);

    // A plugin may hand its rows over wider than the picture; the handle then
    // holds rows exactly as wide as the picture, which is all the graphics
    // cache and the copies made from it know of.
    request.file = "proc:40:30:7";
    request.alphaMode = IMAGEALPHA_OFF;
    ASSERT_EQ(LoadImageViaLoaders(request, &r), 0u);
    EXPECT_EQ(r.width, 40);
    EXPECT_EQ(r.rowLength, 40);
    ExpectProcPicture(r);
    Free(&r);

    struct Case {
        const char* list;
        uint32_t error;
    };
    // An empty item allows no plugin; "plugin" and a prefix of the name do.
    for (Case c : {Case{"inbuilt", ERR_READFILE}, Case{"inbuilt|", ERR_READFILE}, Case{"|", ERR_LOADPICTURE},
                   Case{"plugin", 0}, Case{"proc", 0}, Case{"default", 0}, Case{"native|procimage", 0},
                   Case{"vecimage", ERR_LOADPICTURE}, Case{"procimage|inbuilt", 0}}) {
        ImageLoadRequest request;
        request.file = "proc:4:4";
        request.loaderList = c.list;
        ImageLoadResult r;
        EXPECT_EQ(LoadImageViaLoaders(request, &r), c.error) << c.list;
        Free(&r);
    }
}

TEST_F(ImageLoaderChain, PluginWithoutPixelsCountsAsFailing)
{
    ASSERT_EQ(LoadImagePlugin("nopixels"), 0u);
    ImageLoadRequest request;
    request.file = "proc:4:4";
    ImageLoadResult r;
    EXPECT_EQ(LoadImageViaLoaders(request, &r), uint32_t{ERR_READFILE});
    request.file = png.c_str();
    ASSERT_EQ(LoadImageViaLoaders(request, &r), 0u);
    EXPECT_EQ(r.producer, nullptr);
    EXPECT_STREQ(GetLoaderName(r.producer), "inbuilt");
    EXPECT_EQ(r.width, 200);
    Free(&r);
}

TEST_F(ImageLoaderChain, PicturesRenderAndScaleToTheirSizeAndProbingAsksPluginsFirst)
{
    ASSERT_EQ(LoadImagePlugin("vecimage"), 0u);
    struct Case {
        int32_t width, height, expectWidth, expectHeight;
    };
    for (Case c : {Case{400, 200, 400, 200}, Case{-50, 0, 100, 100}, Case{-1, -1, 2, 1}, Case{0, 0, 200, 100}}) {
        ImageLoadRequest request;
        request.file = "proc:200:100";
        request.width = c.width;
        request.height = c.height;
        ImageLoadResult r;
        ASSERT_EQ(LoadImageViaLoaders(request, &r), 0u);
        EXPECT_EQ(r.scalable, 1u);
        ASSERT_EQ(r.width, c.expectWidth);
        ASSERT_EQ(r.height, c.expectHeight);
        int32_t sw = 0, sh = 0;
        GetImageHandleSize(r.handle, &sw, &sh);
        EXPECT_EQ(sw, 200);
        EXPECT_EQ(sh, 100);
        ExpectProcPicture(r);
        Free(&r);
    }

    ImageLoadRequest request;
    request.file = png.c_str();
    request.alphaMode = IMAGEALPHA_OPTIONAL;
    ImageLoadResult r;
    ASSERT_EQ(LoadImageViaLoaders(request, &r), 0u);
    EXPECT_EQ(r.alpha, nullptr);
    Free(&r);
    request.file = gif.c_str();
    request.alphaMode = IMAGEALPHA_OFF;
    request.wantTransparentPen = true;
    ASSERT_EQ(LoadImageViaLoaders(request, &r), 0u);
    EXPECT_EQ(r.transparentColour, 0x00FF00);
    Free(&r);

    // Host pictures are scaled in software (the sizes and smoothing through
    // LoadBrush are the picture tests'); a percentage that gives no pixel
    // gives one, and nearest neighbour doubles each pixel.
    for (int32_t size : {-1, 32}) {
        request = ImageLoadRequest{};
        request.file = gif.c_str();
        request.width = size;
        request.height = size < 0 ? size : size / 2;
        ASSERT_EQ(LoadImageViaLoaders(request, &r), 0u);
        EXPECT_EQ(r.width, size < 0 ? 1 : 32);
        EXPECT_EQ(r.height, size < 0 ? 1 : 16);
        EXPECT_EQ(r.rowLength, r.width);
        const uint32_t* pixels = GetImageHandleData(r.handle);
        if (size > 0) {
            // (5, 0) is the odd one.
            EXPECT_EQ(pixels[10] & 0xFFFFFF, pixels[11] & 0xFFFFFF);
            EXPECT_NE(pixels[10] & 0xFFFFFF, pixels[12] & 0xFFFFFF);
            EXPECT_EQ(pixels[32 + 10] & 0xFFFFFF, pixels[10] & 0xFFFFFF);
        }
        Free(&r);
    }

    ImageProbe probe{};
    EXPECT_EQ(ProbeImageLoaders("proc:12:34", nullptr, 0, &probe), 1);
    EXPECT_EQ(probe.width, 12);
    EXPECT_EQ(probe.height, 34);
    EXPECT_EQ(probe.vector, 1u);
    EXPECT_EQ(probe.hasAlpha, 1u);
    EXPECT_EQ(ProbeImageLoaders("proc:12:34", "inbuilt", 0, &probe), 0);
    EXPECT_EQ(ProbeImageLoaders(gif.c_str(), nullptr, 0, &probe), 1);
    EXPECT_EQ(probe.width, 16);
    EXPECT_EQ(probe.vector, 0u);
    EXPECT_EQ(probe.transparency, 1u);
    WriteFileBytes(scratch.file("text.txt"), {'n', 'o'});
    EXPECT_EQ(ProbeImageLoaders(scratch.file("text.txt").c_str(), nullptr, 0, &probe), 0);
}

// An old "svgimage" plugin is handed a name of its own for a file inside
// an applet, and the host opens the name the caller gave when it asks.
TEST_F(ImageLoaderChain, OldSvgPluginsGetTheirOwnChunkNamesAndPluginsReachTheHostDecoders)
{
    ASSERT_EQ(LoadImagePlugin("svgimage"), 0u);
    std::string container = scratch.file("app.qma");
    WriteFileBytes(container, {'x', 'x', 'p', 'r', 'o', 'c', ':', '3', ':', '2', 'y'});
    std::string chunk = ":::chunk2:8*pics/logo.svg?" + container;
    ImageLoadRequest request;
    request.file = chunk.c_str();
    ImageLoadResult r;
    ASSERT_EQ(LoadImageViaLoaders(request, &r), 0u);
    EXPECT_STREQ(GetLoaderName(r.producer), "svgimage");
    EXPECT_EQ(r.width, 3);
    EXPECT_EQ(r.height, 2);
    EXPECT_EQ(ImageLoaderCallerFileName, nullptr);
    Free(&r);

    const QmGraphicsTable* table = GetPluginHostApi()->graphics;
    auto open = reinterpret_cast<QmOpenImageFileFunc>(table->slot[QM_GFX_OPENIMAGEFILE]);
    auto pixelsOf = reinterpret_cast<uint32_t* (*)(void*)>(table->slot[QM_GFX_GETIMAGEPIXELS]);
    auto release = reinterpret_cast<void (*)(void*)>(table->slot[QM_GFX_FREEIMAGEDATA]);
    auto loadArgb = reinterpret_cast<QmLoadImageArgbFunc>(table->slot[QM_GFX_LOADIMAGEARGB]);
    auto freeMem = reinterpret_cast<void (*)(void*)>(table->slot[QM_GFX_HOSTFREEMEM]);
    void* image = nullptr;
    int32_t w = 0, h = 0, alpha = -1;
    ASSERT_EQ(open(png.c_str(), &image, &w, &h, &alpha), 1);
    EXPECT_EQ(w, 200);
    EXPECT_EQ(alpha, 0);
    EXPECT_EQ(pixelsOf(image)[0], 0xFF336699u);
    release(image);
    EXPECT_EQ(open(scratch.file("none.png").c_str(), &image, &w, &h, &alpha), 0);
    // ABGR unless tag 1 asks for ARGB as it is.
    uint32_t* abgr = loadArgb(png.c_str(), nullptr, &w, &h, &alpha);
    ASSERT_NE(abgr, nullptr);
    EXPECT_EQ(abgr[5], 0xFF996633u);
    freeMem(abgr);
    QmTagItem keep[] = {{1, 1}, {0, 0}};
    uint32_t* argb = loadArgb(png.c_str(), keep, &w, &h, &alpha);
    ASSERT_NE(argb, nullptr);
    EXPECT_EQ(argb[5], 0xFF336699u);
    freeMem(argb);
}

TEST(ImageHandles, CreatedAndWrappedHandlesFreeTheirSources)
{
    ImageHandle* made = CreateImageHandle(3, 2);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(GetImageHandleData(made)[5], 0u);
    ReleaseImageHandle(made);
    EXPECT_EQ(CreateImageHandle(0, 2), nullptr);

    static int freed;
    static uint32_t pixels[4] = {1, 2, 3, 4};
    freed = 0;
    ImageHandle* wrapped = WrapImageHandle(
        pixels, [](void* s) { return static_cast<uint32_t*>(s); }, [](void*) { ++freed; }, nullptr, 0);
    ASSERT_NE(wrapped, nullptr);
    EXPECT_EQ(GetImageHandleData(wrapped)[2], 3u);
    uint32_t* out = nullptr;
    uint32_t alpha = 0;
    EXPECT_EQ(RunPluginImageLoader(wrapped, QmImageTransform{}, 2, 2, &out, &alpha), uint32_t{ERR_TFIMAGE});
    RetainImageHandle(wrapped);
    ReleaseImageHandle(wrapped);
    EXPECT_EQ(freed, 0);
    ReleaseImageHandle(wrapped);
    EXPECT_EQ(freed, 1);
}

}  // namespace
