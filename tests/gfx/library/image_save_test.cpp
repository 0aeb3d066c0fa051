// Saving pictures, read back by PIL; the graphics cache.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/io/error_codes.h"
#include "core/plugins/image_loaders.h"
#include "core/plugins/plugin_manager.h"
#include "core/vm/library_glue.h"
#include "core/vm/vm.h"
#include "gfx/bitmaps/argb_exchange.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/library/gfx_cache.h"
#include "gfx/library/image_save.h"
#include "support/picture_oracle.h"
#include "support/temp_dir.h"

namespace {

// Checks the header fields and the bottom-up rows with struct, and that
// PIL reads the same pixels.
const char* kCheckBmp = R"PY(
import struct, sys
from PIL import Image
path, w, h = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
data = open(path, 'rb').read()
row = 3 * w + w % 4
magic, size, zero, offset, info, width, height, planes, bits = struct.unpack('<2sIIIIiiHH', data[:30])
rest = struct.unpack('<6I', data[30:54])
assert (magic, size, zero, offset, info, width, height, planes, bits) == (b'BM', row * h + 54, 0, 54, 40, w, h, 1, 24)
assert rest == (0,) * 6 and len(data) == size and row % 4 == 0
im = Image.open(path).convert('RGB')
for y in range(h):
    line = data[54 + (h - 1 - y) * row:54 + (h - y) * row]
    assert line[3 * w:] == bytes(row - 3 * w)
    for x in range(w):
        b, g, r = line[3 * x:3 * x + 3]
        assert im.getpixel((x, y)) == (r, g, b)
)PY";

const char* kDescribe = R"PY(
import sys
from PIL import Image
im = Image.open(sys.argv[1])
colours = len(set(im.convert('RGB').getdata()))
t = im.info.get('transparency', -1)
open(sys.argv[2], 'w').write('%s %s %d %d %d %s' % (im.format, im.mode, im.size[0], im.size[1], colours, t))
open(sys.argv[2] + '.rgba', 'wb').write(im.convert('RGBA').tobytes())
)PY";

class ImageSaving : public ::testing::Test {
protected:
    void SetUp() override { QM_SKIP_WITHOUT(HavePil()) << "PIL is the oracle"; }
    std::string Describe(const std::string& file, std::vector<uint8_t>* rgba = nullptr)
    {
        std::string out = dir.file("describe.txt");
        EXPECT_TRUE(RunPython(dir.path(), kDescribe, file + " " + out));
        std::vector<uint8_t> text = ReadFileBytes(out);
        if (rgba)
            *rgba = ReadFileBytes(out + ".rgba");
        return std::string(text.begin(), text.end());
    }
    TempDir dir;
};

TEST_F(ImageSaving, BmpRowsArePaddedBottomUpAndBgr)
{
    for (auto [w, h] : {std::pair{1, 1}, std::pair{4, 3}, std::pair{5, 2}, std::pair{7, 7}, std::pair{2, 9}}) {
        std::vector<uint32_t> argb = MakeTestPicture(w, h, true);
        std::string file = dir.file("out.bmp");
        ASSERT_EQ(SaveArgbImage(IMGFMT_BMP, argb.data(), w, h, file.c_str(), -1, true, 90, 256, 0), 0u);
        EXPECT_TRUE(RunPython(dir.path(), kCheckBmp, file + " " + std::to_string(w) + " " + std::to_string(h)))
            << w << "x" << h;
    }
}

TEST_F(ImageSaving, EveryInbuiltFormatReadsBack)
{
    const int32_t w = 48, h = 20;
    std::vector<uint32_t> argb = MakeTestPicture(w, h, true);
    std::vector<uint8_t> rgba;
    // PNG's modes and GIF's 16 colours are pinned by the applet tests of
    // SaveBrush; here quality 0, and the colour counts they do not ask for.
    ASSERT_EQ(SaveArgbImage(IMGFMT_JPEG, argb.data(), w, h, dir.file("c.jpg").c_str(), -1, true, 0, 256, 0), 0u);
    EXPECT_EQ(Describe(dir.file("c.jpg")).substr(0, 15), "JPEG RGB 48 20 ");
    // GIF: at most the colours asked for (clamped to 2..256), and the
    // transparent colour's pixels under the transparent index.
    struct GifCase { int32_t colors, dither; size_t most; };
    for (GifCase c : {GifCase{1, 0, 2}, GifCase{5000, 1, 256}, GifCase{7, 1, 7}}) {
        std::vector<uint32_t> picture = MakeTestPicture(w, h, false);
        picture[3] = picture[50] = 0xFF123456u;
        std::string file = dir.file("d.gif");
        ASSERT_EQ(SaveArgbImage(IMGFMT_GIF, picture.data(), w, h, file.c_str(), 0x123456, false, 90, c.colors, c.dither),
                  0u);
        std::string text = Describe(file, &rgba);
        unsigned colours = 0;
        int transparent = -2;
        ASSERT_EQ(std::sscanf(text.c_str(), "GIF P 48 20 %u %d", &colours, &transparent), 2) << text;
        EXPECT_LE(colours, c.most) << c.colors;
        EXPECT_GE(transparent, 0);
        EXPECT_EQ(rgba[3 * 4 + 3], 0);
        EXPECT_EQ(rgba[50 * 4 + 3], 0);
        EXPECT_EQ(rgba[4 * 4 + 3], 255);
    }
}

TEST_F(ImageSaving, BitMapsSaveWithTheirMaskAsTransparentColour)
{
    const int32_t w = 6, h = 4;
    std::vector<uint32_t> argb = MakeTestPicture(w, h, false);
    BitMapHandle* bitmap = nullptr;
    BitMapHandle* mask = nullptr;
    BitMapHandle* alpha = nullptr;
    // Black pixels become the mask's holes.
    argb[7] = 0xFF000000u;
    ASSERT_EQ(CreateBitMapFromArgb(argb.data(), 0x000000, w, h, w, 0, 0, nullptr, &bitmap, &mask, &alpha), 0u);
    ASSERT_NE(mask, nullptr);
    std::string file = dir.file("masked.png");
    ASSERT_EQ(SaveBitMapImage(IMGFMT_PNG, bitmap, w, h, file.c_str(), mask, 0x00FF00, nullptr, 90, 256, 0, false), 0u);
    std::vector<uint8_t> rgba;
    Describe(file, &rgba);
    EXPECT_EQ(rgba[7 * 4 + 1], 255);  // the transparent colour stands where the mask is clear
    EXPECT_EQ(rgba[8 * 4], (argb[8] >> 16) & 255);
    ASSERT_EQ(SaveBitMapImage(IMGFMT_BMP, bitmap, w, h, file.c_str(), nullptr, -1, nullptr, 90, 256, 0, true), 0u);
    EXPECT_EQ(Describe(file).substr(0, 12), "BMP RGB 6 4 ");
    EXPECT_EQ(SaveBitMapImage(IMGFMT_BMP, bitmap, w + 1, h, file.c_str(), nullptr, -1, nullptr, 90, 256, 0, true),
              uint32_t{ERR_BADDIMENSIONS});
    FreeColorBitMap(bitmap);
    FreePlaneBitMap(mask);
}

// An unknown format, the alpha saver's block and the indexed saver are
// pinned by the applet tests of SaveBrush; here a picture saved without
// alpha and a disabled saver.
TEST(ImageSavers, SaverPluginsWithoutAlphaAndDisabled)
{
    TempDir dir;
    std::vector<uint32_t> argb = MakeTestPicture(5, 3, true);
    std::string file = dir.file("out.bin");

    VmState* vm = VmOpenState();
    PluginRecord* record = nullptr;
    std::string plugin = std::filesystem::read_symlink("/proc/self/exe").parent_path().string() +
                         "/plugins_src/images/procimage.qmp";
    ASSERT_EQ(LoadPluginFile(plugin.c_str(), true, &record), 0u);
    ASSERT_EQ(ActivatePlugin(vm, record), 0u);
    // Words: width, height, bytes per row, indexed, quality, colors, flags,
    // transparent index, format.
    const int32_t words[9] = {5, 3, 20, 0, 75, 0, 0, 0, 100};
    ASSERT_EQ(SaveArgbImage(100, argb.data(), 5, 3, file.c_str(), -1, false, 75, 4, 0), 0u);
    std::vector<uint8_t> bytes = ReadFileBytes(file);
    ASSERT_GE(bytes.size(), 40u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "QMSV");
    std::vector<int32_t> got(9);
    std::memcpy(got.data(), &bytes[4], 9 * 4);
    EXPECT_EQ(got, std::vector<int32_t>(words, words + 9));
    record->node->info->disabled = 1;
    EXPECT_EQ(SaveArgbImage(100, argb.data(), 5, 3, file.c_str(), -1, true, 90, 256, 0), uint32_t{ERR_UNKNOWNIMGOUT});
    FreeAllPlugins();
    VmCloseState(vm);
}

TEST(GraphicsCache, EntriesAreFoundByNameWithoutRegardToCase)
{
    ImageHandle* image = CreateImageHandle(4, 4);
    BitMapHandle* alpha = AllocAlphaBitMap(4, 4, 1, nullptr, 0);
    ASSERT_NE(alpha, nullptr);
    ASSERT_EQ(AddGfxCacheEntry("Pics/Logo.PNG", 4, 4, 7, image, alpha, 2), 0u);
    ASSERT_EQ(AddGfxCacheEntry("plain.png", 8, 2, 0, image, nullptr, 0), 0u);
    FreePlaneBitMap(alpha);
    ReleaseImageHandle(image);  // the cache holds its own references

    int32_t w = 0, h = 0;
    uint32_t user = 0, flags = 0;
    ImageHandle* found = nullptr;
    BitMapHandle* copy = nullptr;
    ASSERT_EQ(FindGfxCacheEntry("pics/logo.png", true, &w, &h, &user, &found, &copy, &flags), 0u);
    EXPECT_EQ(found, image);
    EXPECT_EQ(w, 4);
    EXPECT_EQ(user, 7u);
    EXPECT_EQ(flags, 2u);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->width, 4);
    FreePlaneBitMap(copy);
    ReleaseImageHandle(found);
    EXPECT_EQ(FindGfxCacheEntry("PLAIN.PNG", true, &w, &h, &user, &found, &copy, &flags), uint32_t{ERR_CACHEERROR});
    ASSERT_EQ(FindGfxCacheEntry("PLAIN.PNG", false, &w, &h, &user, &found, nullptr, &flags), 0u);
    EXPECT_EQ(w, 8);
    ReleaseImageHandle(found);
    EXPECT_EQ(FindGfxCacheEntry("other.png", false, &w, &h, &user, &found, nullptr, &flags), uint32_t{ERR_CACHEERROR});
    std::string longName(1024, 'x');
    EXPECT_EQ(AddGfxCacheEntry(longName.c_str(), 1, 1, 0, nullptr, nullptr, 0), uint32_t{ERR_CACHEERROR});
    FreeGfxCache();
    EXPECT_EQ(FindGfxCacheEntry("plain.png", false, &w, &h, &user, &found, nullptr, &flags), uint32_t{ERR_CACHEERROR});
}

}  // namespace
