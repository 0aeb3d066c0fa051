// The inbuilt picture decoders against PIL and ImageMagick on pictures made
// here, the writers read back by PIL and by an independent ILBM reader, and
// hostile headers and cuts (arbitrary bytes: the fuzz targets).
#include <gtest/gtest.h>

#include <spng.h>
#include <zlib.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/io/byte_order.h"
#include "core/io/error_codes.h"
#include "core/vm/error_hooks.h"
#include "gfx/picture_test_helpers.h"
#include "media/gif_writer.h"
#include "media/image_codecs.h"
#include "media/image_files.h"
#include "platform/posix/os_memory.h"
#include "support/hand_gifs.h"
#include "support/picture_oracle.h"
#include "support/temp_dir.h"

namespace {

// Makes the pictures that the decoders must read, each beside a ".rgba"
// file of what PIL decodes from it (or, for the ILBM files that PIL cannot
// read, of what the file means, computed here in Python).
const char* kMakeInputs = R"PY(
import struct, subprocess, sys
from PIL import Image
d = sys.argv[1]
W, H = 37, 23
im = Image.new('RGBA', (W, H))
px = im.load()
for y in range(H):
    for x in range(W):
        px[x, y] = ((x * 7 + y * 3) % 256, (x * y) % 256, (x * 13 + y * 29) % 256, (x * 11 + y * 5) % 256)
rgb = im.convert('RGB')
pal = rgb.quantize(16)
def done(name):
    open(d + '/' + name + '.rgba', 'wb').write(Image.open(d + '/' + name).convert('RGBA').tobytes())
def magick(src, dst, *opts, kind=''):
    subprocess.check_call(['/usr/bin/convert', d + '/' + src] + list(opts) + [kind + d + '/' + dst])
im.save(d + '/rgba.png'); done('rgba.png')
rgb.save(d + '/rgb.png'); done('rgb.png')
rgb.convert('L').save(d + '/grey.png'); done('grey.png')
magick('rgb.png', 'deep16.png', '-depth', '16'); done('deep16.png')
magick('rgba.png', 'interlaced.png', '-interlace', 'PNG'); done('interlaced.png')
magick('rgb.png', 'interlaced_rgb.png', '-interlace', 'PNG'); done('interlaced_rgb.png')
rgb.save(d + '/trns.png', transparency=px[3, 4][:3]); done('trns.png')
pal.save(d + '/pal.png', transparency=3); done('pal.png')
rgb.save(d + '/q90.jpg', quality=90); done('q90.jpg')
rgb.save(d + '/progressive.jpg', quality=75, progressive=True); done('progressive.jpg')
rgb.convert('L').save(d + '/grey.jpg'); done('grey.jpg')
magick('rgb.png', 'cmyk.jpg', '-colorspace', 'CMYK'); done('cmyk.jpg')
rgb.save(d + '/rgb.bmp'); done('rgb.bmp')
rgb.quantize(200).save(d + '/pal8.bmp'); done('pal8.bmp')
rgb.convert('1').save(d + '/mono.bmp'); done('mono.bmp')
pal.convert('RGB').save(d + '/pal16.png')
magick('pal16.png', 'rle8.bmp', '-type', 'Palette', '-compress', 'RLE', kind='BMP3:')
magick('rgba.png', 'alpha.bmp', kind='BMP:')
magick('rgb.png', 'rgb565.bmp', '-define', 'bmp:subtype=RGB565', kind='BMP:')
for n in ('rle8.bmp', 'alpha.bmp', 'rgb565.bmp'): done(n)
pal.save(d + '/t.gif', transparency=3); done('t.gif')
magick('t.gif', 'interlaced.gif', '-interlace', 'GIF'); done('interlaced.gif')
rgb.quantize(256).save(d + '/full.gif'); done('full.gif')
# A top-down 24-bit BMP made by hand.
row = (W * 3 + 3) & ~3
body = b''.join(bytes(b for x in range(W) for b in px[x, y][2::-1]) + bytes(row - W * 3) for y in range(H))
hdr = struct.pack('<2sIHHI', b'BM', 54 + len(body), 0, 0, 54) + struct.pack('<IiiHHIIiiII', 40, W, -H, 1, 24, 0, len(body), 0, 0, 0, 0)
open(d + '/topdown.bmp', 'wb').write(hdr + body)
open(d + '/topdown.bmp.rgba', 'wb').write(rgb.convert('RGBA').tobytes())
# ILBM files: 4 planes through a colour map with ByteRun1, and 24 planes
# stored plainly, each with the RGBA it means.
def byterun1(data):
    out = bytearray(); i = 0
    while i < len(data):
        j = i
        while j < len(data) and j - i < 128 and data[j] == data[i]: j += 1
        if j - i >= 2:
            out += bytes([257 - (j - i), data[i]]); i = j
        else:
            k = i
            while k < len(data) and k - i < 128 and not (k + 1 < len(data) and data[k] == data[k + 1]): k += 1
            if k == i: k = i + 1
            out += bytes([k - i - 1]) + data[i:k]; i = k
    return bytes(out)
def chunk(cid, data):
    return cid + struct.pack('>I', len(data)) + data + (b'\0' if len(data) & 1 else b'')
def ilbm(name, planes, compress, values, cmap, masking=0, transparent=0):
    rb = ((W + 15) // 16) * 2
    body = bytearray()
    for y in range(H):
        for p in range(planes):
            line = bytearray(rb)
            for x in range(W):
                if (values[y * W + x] >> p) & 1: line[x >> 3] |= 0x80 >> (x & 7)
            body += byterun1(bytes(line)) if compress else line
    bmhd = struct.pack('>HHhhBBBBHBBhh', W, H, 0, 0, planes, masking, compress, 0, transparent, 10, 11, W, H)
    form = b'ILBM' + chunk(b'BMHD', bmhd) + (chunk(b'CMAP', cmap) if cmap else b'') + chunk(b'BODY', bytes(body))
    open(d + '/' + name, 'wb').write(b'FORM' + struct.pack('>I', len(form)) + form)
cmap = bytes(c for i in range(16) for c in ((i * 17) & 255, (255 - i * 16) & 255, (i * 40) & 255))
idx = [(x + y * 3) % 16 for y in range(H) for x in range(W)]
ilbm('pal4.iff', 4, 1, idx, cmap)
open(d + '/pal4.iff.rgba', 'wb').write(bytes(c for i in idx for c in tuple(cmap[i * 3:i * 3 + 3]) + (255,)))
ilbm('masked.iff', 4, 1, idx, cmap, 2, 5)
open(d + '/masked.iff.rgba', 'wb').write(bytes(c for i in idx for c in tuple(cmap[i * 3:i * 3 + 3]) + (0 if i == 5 else 255,)))
true = [px[x, y][0] | (px[x, y][1] << 8) | (px[x, y][2] << 16) for y in range(H) for x in range(W)]
ilbm('true.iff', 24, 0, true, None)
open(d + '/true.iff.rgba', 'wb').write(rgb.convert('RGBA').tobytes())
)PY";

// The transparency expected (-1 none, -2 alpha, 1 a transparent colour) and
// the largest channel difference allowed.
struct DecoderCase { const char* file; int32_t transparency; int tolerance; };

const DecoderCase kDecoderCases[] = {
    {"rgba.png", -2, 0},      {"rgb.png", -1, 0},         {"grey.png", -1, 0},     {"deep16.png", -1, 0},
    {"interlaced.png", -2, 0}, {"interlaced_rgb.png", -1, 0}, {"trns.png", -2, 0}, {"pal.png", -2, 0},        {"q90.jpg", -1, 1},      {"progressive.jpg", -1, 1},
    {"grey.jpg", -1, 1},      {"cmyk.jpg", -1, 2},        {"rgb.bmp", -1, 0},      {"pal8.bmp", -1, 0},
    {"mono.bmp", -1, 0},      {"rle8.bmp", -1, 0},        {"alpha.bmp", -2, 0},    {"rgb565.bmp", -1, 0},
    {"topdown.bmp", -1, 0},   {"t.gif", 1, 0},            {"interlaced.gif", 1, 0}, {"full.gif", -1, 0},
    {"pal4.iff", -1, 0},      {"masked.iff", 1, 0},       {"true.iff", -1, 0},
};

class PictureFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!HavePil() || !HaveConvert())
            return;
        folder = new TempDir;
        made = RunPython(folder->path(), kMakeInputs, folder->path());
    }
    static void TearDownTestSuite()
    {
        delete folder;
        folder = nullptr;
    }
    void SetUp() override
    {
        QM_SKIP_WITHOUT(HavePil() && HaveConvert()) << "PIL and ImageMagick are the oracles";
        ASSERT_TRUE(made);
    }
    static TempDir* folder;
    static bool made;
};
TempDir* PictureFiles::folder = nullptr;
bool PictureFiles::made = false;

// Compares decoded ARGB with PIL's RGBA bytes; where the oracle is fully
// transparent only the alpha must agree.
void ExpectSamePixels(const ImageData& image, const std::vector<uint8_t>& rgba, int tolerance, const char* name)
{
    ASSERT_EQ(rgba.size(), static_cast<size_t>(image.width) * image.height * 4) << name;
    int worst = 0;
    for (size_t i = 0; i < rgba.size() / 4; ++i) {
        uint32_t p = image.pixels[i];
        const uint8_t* e = &rgba[i * 4];
        if (e[3] == 0 && image.transparentColour != -1) {
            ASSERT_EQ(p >> 24, 0u) << name << " pixel " << i;
            continue;
        }
        for (int c = 0; c < 4; ++c)
            worst = std::max(worst, std::abs(int(p >> (c == 3 ? 24 : 16 - 8 * c) & 255) - e[c]));
    }
    EXPECT_LE(worst, tolerance) << name;
}

TEST_F(PictureFiles, DecodersAgreeWithPil)
{
    for (const DecoderCase& c : kDecoderCases) {
        SCOPED_TRACE(c.file);
        std::string path = folder->file(c.file);
        ImageData* image = nullptr;
        HostImageInfo info{};
        ASSERT_EQ(LoadImageFile(path.c_str(), nullptr, 0, HOSTIMAGE_LOAD, &image, nullptr, &info), 0u);
        std::vector<uint8_t> rgba = ReadFileBytes(path + ".rgba");
        ExpectSamePixels(*image, rgba, c.tolerance, c.file);
        EXPECT_EQ(std::make_pair(info.width, info.height), std::make_pair(37, 23));
        EXPECT_TRUE(c.transparency >= 0 || info.transparentColour == c.transparency);
        // The transparent colour is unique in the picture.
        for (size_t i = 0; c.transparency >= 0 && i < rgba.size() / 4; ++i)
            ASSERT_EQ((image->pixels[i] & 0xFFFFFF) == uint32_t(info.transparentColour), rgba[i * 4 + 3] == 0) << i;
        EXPECT_EQ(info.hasAlpha, c.transparency == -2 ? 1u : 0u);
        FreeImageData(image);

        // A list that names the inbuilt decoders after another loader still
        // reaches them; a probe hands out no picture, whatever the pointer
        // held before.
        HostImageInfo probed{};
        ASSERT_EQ(LoadImageFile(path.c_str(), "native|inbuilt", 0, HOSTIMAGE_PROBE, &image, nullptr, &probed), 0u);
        EXPECT_EQ(image, nullptr);
        EXPECT_EQ(std::tie(probed.width, probed.transparentColour), std::make_tuple(37, info.transparentColour));
    }
}

// A source that hands out its bytes a few at a time, in steps that line up
// with nothing a decoder asks for, or one byte a call.
struct DribbleSource { const std::vector<uint8_t>* bytes; bool oneByte = false; size_t at = 0; size_t calls = 0; };

size_t ReadDribble(void* context, uint8_t* buffer, size_t count)
{
    auto* s = static_cast<DribbleSource*>(context);
    size_t n = std::min({count, s->bytes->size() - s->at, s->oneByte ? 1 : size_t{1} + s->calls++ % 7 * 1000});
    std::memcpy(buffer, s->bytes->data() + s->at, n);
    s->at += n;
    return n;
}

// A PNG or BMP decoded as it is read from a source must end as decoding it
// from memory does.
void ExpectSourceAsMemory(const std::vector<uint8_t>& file, bool png)
{
    ImageData memory{};
    memory.transparentColour = -1;
    uint32_t want = (png ? DecodePng : DecodeBmp)(file.data(), file.size(), false, &memory);
    DribbleSource state{&file, png};
    ImageByteSource source{ReadDribble, &state};
    ImageData streamed{};
    streamed.transparentColour = -1;
    ASSERT_EQ((png ? DecodePngSource : DecodeBmpSource)(&source, false, &streamed), want);
    if (!want) {
        ASSERT_EQ(std::tie(streamed.width, streamed.height), std::tie(memory.width, memory.height));
        EXPECT_EQ(streamed.transparentColour, memory.transparentColour);
        EXPECT_EQ(0, std::memcmp(streamed.pixels, memory.pixels, sizeof(uint32_t) * memory.width * memory.height));
    }
    FreeImagePixels(&streamed);
    FreeImagePixels(&memory);
}

// And the same loaded from its file, probed, and cut anywhere.
void ExpectStreamsAsInMemory(const std::vector<uint8_t>& file, const std::string& scratch, const std::string& name,
                             bool png = false)
{
    SCOPED_TRACE(name);
    ExpectSourceAsMemory(file, png);

    for (size_t cut = 0; cut <= file.size(); cut += 1 + file.size() / 53) {
        std::vector<uint8_t> part(file.begin(), file.begin() + static_cast<ptrdiff_t>(cut));
        WriteFileBytes(scratch, part);
        for (uint32_t mode : {uint32_t{HOSTIMAGE_LOAD}, uint32_t{HOSTIMAGE_PROBE}}) {
            ImageData inMemory{};
            uint32_t expected = DecodeImage(part.data(), part.size(), mode == HOSTIMAGE_PROBE, &inMemory);
            if (expected)
                expected = ERR_LOADPICTURE;
            ImageData* image = nullptr;
            HostImageInfo info{};
            ASSERT_EQ(LoadImageFile(scratch.c_str(), nullptr, 0, mode, &image, nullptr, &info), expected)
                << "cut at " << cut << " mode " << mode;
            if (!expected) {
                EXPECT_EQ(std::tie(info.width, info.transparentColour),
                          std::tie(inMemory.width, inMemory.transparentColour));
            }
            if (image && inMemory.pixels) {
                EXPECT_EQ(0, std::memcmp(image->pixels, inMemory.pixels,
                                         sizeof(uint32_t) * inMemory.width * inMemory.height))
                    << "cut at " << cut;
            }
            FreeImageData(image);
            FreeImagePixels(&inMemory);
        }
    }
}

// A BMP of w x h pixels: 8 bits through a full palette, 24 bits, or 32
// bits through bit-field masks (alpha in the top byte); its info header
// headerSize bytes long (40 or more) and `gap` bytes between the palette
// or masks and the rows, which start inside them when it is negative.
std::vector<uint8_t> MakeBmp(int32_t w, int32_t h, uint32_t bits, uint32_t headerSize, int64_t gap)
{
    size_t stride = (static_cast<size_t>(w) * bits + 31) / 32 * 4;
    size_t tables = bits == 8 ? 1024 : bits == 32 && headerSize == 40 ? 16 : 0;
    auto dataOffset = static_cast<size_t>(static_cast<int64_t>(14 + headerSize + tables) + gap);
    std::vector<uint8_t> file(std::max(dataOffset + stride * h, 14 + headerSize + tables));
    std::vector<uint8_t> noise = PatternBytes(file.size(), bits + headerSize);
    // The palette, then the rows over it where they overlap, then the
    // headers over both.
    for (size_t i = 14 + headerSize; bits == 8 && i < 14 + headerSize + 1024; ++i)
        file[i] = noise[i];
    for (size_t i = dataOffset; i < file.size(); ++i)
        file[i] = noise[i];
    file[0] = 'B', file[1] = 'M';
    StoreLE32(&file[2], static_cast<uint32_t>(file.size()));
    StoreLE32(&file[10], static_cast<uint32_t>(dataOffset));
    uint8_t* info = &file[14];
    StoreLE32(info, headerSize);
    StoreLE32(info + 4, static_cast<uint32_t>(w));
    StoreLE32(info + 8, static_cast<uint32_t>(h));
    StoreLE16(info + 12, 1);
    StoreLE16(info + 14, static_cast<uint16_t>(bits));
    StoreLE32(info + 16, bits == 32 ? 6 : 0);  // alpha bit fields
    const uint32_t masks[4] = {0xFF0000, 0xFF00, 0xFF, 0xFF000000u};
    for (int i = 0; bits == 32 && i < 4; ++i)
        StoreLE32(info + 40 + 4 * i, masks[i]);
    return file;
}

// The PNGs are read one byte a call.
TEST_F(PictureFiles, PngAndBmpReadAsTheyGoMatchTheMemoryDecoder)
{
    for (const char* name : {"rgb.png", "rgba.png", "interlaced.png", "pal.png"})
        ExpectStreamsAsInMemory(ReadFileBytes(folder->file(name)), folder->file("cut.png"), name, true);
    std::string scratch = folder->file("cut.bmp");
    for (const char* name : {"rgb.bmp", "pal8.bmp", "mono.bmp", "rle8.bmp", "alpha.bmp", "rgb565.bmp", "topdown.bmp"})
        ExpectStreamsAsInMemory(ReadFileBytes(folder->file(name)), scratch, name);
    struct Case { const char* what; int32_t w, h; uint32_t bits, headerSize; int64_t gap; };
    const Case cases[] = {
        {"24 bits, rows over many blocks", 3001, 97, 24, 40, 0},
        {"8 bits, a gap before the rows", 301, 40, 8, 40, 700},
        {"8 bits, rows starting inside the palette", 301, 40, 8, 40, -600},
        {"32-bit fields in a version 5 header", 200, 50, 32, 124, 0},
        {"32-bit fields after a plain header", 200, 50, 32, 40, 3},
        {"an outsized header, read whole", 64, 9, 24, 70000, 0},
        {"rows far past the headers, read whole", 64, 9, 24, 40, 1100000},
        {"rows starting before the info header ends", 10, 10, 24, 40, -30},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> file = MakeBmp(c.w, c.h, c.bits, c.headerSize, c.gap);
        ImageData image{};
        ASSERT_EQ(DecodeBmp(file.data(), file.size(), false, &image), 0u) << c.what;
        FreeImagePixels(&image);
        ExpectStreamsAsInMemory(file, scratch, c.what);
    }
}

// Where a GIF's LZW data starts: after the header, the palettes, the
// extensions and the image descriptor with its code size.
size_t GifCodesStart(const std::vector<uint8_t>& gif)
{
    size_t at = 13 + ((gif[10] & 0x80) ? 3u * (2u << (gif[10] & 7)) : 0);
    while (gif.at(at) == 0x21) {
        at += 2;
        while (gif.at(at))
            at += 1 + gif[at];
        ++at;
    }
    EXPECT_EQ(gif.at(at), 0x2C);
    uint8_t packed = gif.at(at + 9);
    at += 10 + ((packed & 0x80) ? 3u * (2u << (packed & 7)) : 0);
    return at + 1;
}

// A GIF cut inside its LZW data is broken, wherever the cut falls, plain or
// interlaced; one that only lacks its block terminator and trailer still
// has all its pixels.
TEST_F(PictureFiles, GifCutInsideItsCodesIsAnError)
{
    for (const char* name : {"full.gif", "interlaced.gif", "t.gif"}) {
        SCOPED_TRACE(name);
        std::vector<uint8_t> gif = ReadFileBytes(folder->file(name));
        ASSERT_EQ(gif.back(), 0x3B);
        size_t start = GifCodesStart(gif);
        ASSERT_LT(start + 8, gif.size());
        ImageData whole{};
        ASSERT_EQ(DecodeImage(gif.data(), gif.size(), false, &whole), 0u);
        for (size_t cut : {start, start + 1, start + 2, (start + gif.size()) / 2, gif.size() - 8}) {
            ImageData image{};
            EXPECT_EQ(DecodeImage(gif.data(), cut, false, &image), uint32_t{ERR_LOADPICTURE}) << "cut at " << cut;
            EXPECT_EQ(image.pixels, nullptr);
        }
        ImageData unterminated{};
        ASSERT_EQ(DecodeImage(gif.data(), gif.size() - 2, false, &unterminated), 0u);
        EXPECT_EQ(std::memcmp(unterminated.pixels, whole.pixels, static_cast<size_t>(whole.width) * whole.height * 4), 0);
        FreeImagePixels(&unterminated);
        FreeImagePixels(&whole);
    }
}

TEST(PictureDecoders, HostileHeadersAreRefusedBeforeAllocating)
{
    struct HostileCase { const char* what; std::vector<uint8_t> bytes; uint32_t error; };
    std::vector<HostileCase> cases;
    // BMP claiming 60000 x 60000 pixels in 60 bytes.
    std::vector<uint8_t> bmp = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0,
                                0x60, 0xEA, 0, 0, 0x60, 0xEA, 0, 0, 1, 0, 24, 0};
    bmp.resize(60);
    cases.push_back({"bmp larger than its data", bmp, ERR_BADDIMENSIONS});
    std::vector<uint8_t> small = bmp;
    small[18] = 2, small[19] = 0, small[22] = 2, small[23] = 0;
    cases.push_back({"bmp rows missing", small, ERR_LOADPICTURE});
    std::vector<uint8_t> rle = small;
    rle[28] = 8, rle[30] = 1;  // RLE8 whose runs pass the row's end
    rle.resize(54);
    rle.insert(rle.end(), {200, 1, 200, 1, 0, 2, 255, 255, 0, 5, 1, 2});
    cases.push_back({"bmp runs past the picture", rle, 0});
    // GIF whose first code after a clear refers to an empty table entry.
    std::vector<uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a', 4, 0, 4, 0, 0x80, 0, 0, 0, 0, 0, 255, 255, 255,
                                0x2C, 0, 0, 0, 0, 4, 0, 4, 0, 0, 2, 2, 0x3F, 0x3F, 0};
    cases.push_back({"gif code past its table", gif, ERR_LOADPICTURE});
    std::vector<uint8_t> wide = gif;
    wide[24] = 0xFF, wide[25] = 0xFF, wide[26] = 0xFF, wide[27] = 0xFF;
    cases.push_back({"gif of 65535 x 65535", wide, ERR_BADDIMENSIONS});
    std::vector<uint8_t> wideCode = gif;
    wideCode[29] = 12;
    cases.push_back({"gif code size 12", wideCode, ERR_LOADPICTURE});
    // PNG whose header claims 2^31 x 1 pixels.
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                                0x7F, 0xFF, 0xFF, 0xFF, 0, 0, 0, 1, 8, 2, 0, 0, 0, 0, 0, 0, 0};
    cases.push_back({"png too wide", png, ERR_LOADPICTURE});
    // ILBM with a huge BMHD and a BODY of one byte.
    std::vector<uint8_t> iff = {'F', 'O', 'R', 'M', 0, 0, 0, 40, 'I', 'L', 'B', 'M', 'B', 'M', 'H', 'D', 0, 0, 0, 20,
                                0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 8, 0, 1, 0, 0, 0, 1, 1, 0, 0, 0, 0,
                                'B', 'O', 'D', 'Y', 0, 0, 0, 1, 0x81, 0};
    cases.push_back({"ilbm too large", iff, ERR_BADDIMENSIONS});
    std::vector<uint8_t> planes = iff;
    planes[20] = 0, planes[21] = 3, planes[22] = 0, planes[23] = 2, planes[28] = 12;
    cases.push_back({"ilbm of 12 planes", planes, ERR_LOADPICTURE});
    std::vector<uint8_t> runs = planes;
    runs[28] = 8;
    cases.push_back({"ilbm with a body too short", runs, 0});
    for (const HostileCase& c : cases) {
        ImageData image{};
        uint32_t error = DecodeImage(c.bytes.data(), c.bytes.size(), false, &image);
        EXPECT_EQ(error, c.error) << c.what;
        EXPECT_TRUE(error == 0 || image.pixels == nullptr) << c.what;
        FreeImagePixels(&image);
    }
}

// The logical screen is the picture: what of a frame lies outside it is
// neither shown nor decoded (the data of this frame of 60000 rows ends
// after the two rows on the screen); only a file without a screen takes
// the frame's extent. The largest frames on one pixel: tests/e2e
// HostileFiles.
TEST(PictureDecoders, GifPictureIsItsLogicalScreen)
{
    const uint32_t red = 0xFFFF0000u, blue = 0xFF0000FFu;
    struct Case {
        const char* what;
        std::vector<uint8_t> gif;
        int32_t width, height;
        uint32_t error;
        std::vector<int> blue;  // the pixels of index 1
    };
    const Case cases[] = {
        {"rows below the screen", LiteralGif(4, 2, {{0, 0, 4, 60000, false, 8, false}}), 4, 2, 0,
         {0, 1, 2, 3, 4, 5, 6, 7}},
        {"interlaced rows below the screen", LiteralGif(4, 2, {{0, 0, 4, 60000, true, 8, false}}), 4, 2,
         ERR_LOADPICTURE, {}},
        {"sticking out right and below", LiteralGif(8, 8, {{6, 6, 4, 4, false, 16, true}}), 8, 8, 0, {54, 55, 62, 63}},
        {"wholly outside", LiteralGif(8, 8, {{9, 0, 4, 4, false, 16, true}}), 8, 8, 0, {}},
        {"no screen", LiteralGif(0, 0, {{2, 1, 3, 2, false, 6, true}}), 5, 3, 0, {7, 8, 9, 12, 13, 14}},
    };
    for (const Case& c : cases) {
        ImageData probed{};
        ASSERT_EQ(DecodeGif(c.gif.data(), c.gif.size(), true, &probed), 0u) << c.what;
        EXPECT_EQ(std::tie(probed.width, probed.height), std::tie(c.width, c.height)) << c.what;
        ImageData image{};
        ASSERT_EQ(DecodeGif(c.gif.data(), c.gif.size(), false, &image), c.error) << c.what;
        if (c.error) {
            EXPECT_EQ(image.pixels, nullptr);
            continue;
        }
        for (int i = 0; i < c.width * c.height; ++i) {
            bool isBlue = std::find(c.blue.begin(), c.blue.end(), i) != c.blue.end();
            ASSERT_EQ(image.pixels[i], isBlue ? blue : red) << c.what << " pixel " << i;
        }
        FreeImagePixels(&image);
    }
}

// Grey and palette PNGs of 1 to 8 bits, with and without tRNS (also ones
// that match nothing, or that libspng ignores), palettes shorter than the
// indices reach, widths that end inside a byte: DecodePng gives exactly
// what libspng's own expansion to RGBA gives.
std::vector<uint8_t> MakePng(uint32_t w, uint32_t h, uint8_t depth, uint8_t colourType, bool interlaced,
                             const std::vector<uint8_t>& plte, const std::vector<uint8_t>& trns, uint32_t* seed)
{
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    auto chunk = [](std::vector<uint8_t>* out, const char* type, const std::vector<uint8_t>& data) {
        uint8_t word[4];
        StoreBE32(word, static_cast<uint32_t>(data.size()));
        out->insert(out->end(), word, word + 4);
        size_t start = out->size();
        out->insert(out->end(), type, type + 4);
        out->insert(out->end(), data.begin(), data.end());
        StoreBE32(word, static_cast<uint32_t>(crc32(0, out->data() + start, static_cast<uInt>(out->size() - start))));
        out->insert(out->end(), word, word + 4);
    };
    std::vector<uint8_t> ihdr(13);
    StoreBE32(ihdr.data(), w);
    StoreBE32(ihdr.data() + 4, h);
    ihdr[8] = depth, ihdr[9] = colourType, ihdr[12] = interlaced ? 1 : 0;
    chunk(&png, "IHDR", ihdr);
    if (!plte.empty())
        chunk(&png, "PLTE", plte);
    if (!trns.empty())
        chunk(&png, "tRNS", trns);
    // Rows of random bytes under filter 0; an interlaced picture's seven
    // passes are rows of their own widths.
    std::vector<std::pair<uint32_t, uint32_t>> passes;  // width, height
    if (!interlaced)
        passes.push_back({w, h});
    static const uint32_t kX0[7] = {0, 4, 0, 2, 0, 1, 0}, kY0[7] = {0, 0, 4, 0, 2, 0, 1};
    static const uint32_t kDx[7] = {8, 8, 4, 4, 2, 2, 1}, kDy[7] = {8, 8, 8, 4, 4, 2, 2};
    for (int p = 0; interlaced && p < 7; ++p)
        if (w > kX0[p] && h > kY0[p])
            passes.push_back({(w - kX0[p] + kDx[p] - 1) / kDx[p], (h - kY0[p] + kDy[p] - 1) / kDy[p]});
    std::vector<uint8_t> raw;
    for (auto [pw, ph] : passes)
        for (uint32_t y = 0; y < ph; ++y) {
            raw.push_back(0);
            for (size_t i = 0; i < (size_t{pw} * depth + 7) / 8; ++i) {
                *seed = *seed * 1103515245u + 12345u;
                raw.push_back(static_cast<uint8_t>(*seed >> 16));
            }
        }
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    std::vector<uint8_t> idat(size);
    compress(idat.data(), &size, raw.data(), static_cast<uLong>(raw.size()));
    idat.resize(size);
    chunk(&png, "IDAT", idat);
    chunk(&png, "IEND", {});
    return png;
}

// libspng's own RGBA expansion of the whole picture, as ARGB words.
std::vector<uint32_t> LibspngArgb(const std::vector<uint8_t>& png)
{
    spng_ctx* ctx = spng_ctx_new(0);
    spng_set_png_buffer(ctx, png.data(), png.size());
    size_t size = 0;
    std::vector<uint32_t> argb;
    if (spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size) == 0) {
        std::vector<uint8_t> rgba(size);
        if (spng_decode_image(ctx, rgba.data(), size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) == 0)
            for (size_t i = 0; i < size; i += 4)
                argb.push_back(uint32_t{rgba[i + 3]} << 24 | uint32_t{rgba[i]} << 16 | uint32_t{rgba[i + 1]} << 8 |
                               rgba[i + 2]);
    }
    spng_ctx_free(ctx);
    return argb;
}

TEST(PictureDecoders, PackedPngRowsMatchLibspngExactly)
{
    uint32_t seed = 7;
    for (uint8_t depth : {1, 2, 4, 8}) {
        const uint32_t levels = 1u << depth;
        std::vector<std::pair<std::vector<uint8_t>, std::vector<uint8_t>>> variants;  // PLTE, tRNS
        // Grey: no tRNS, a level that occurs, a value past the levels.
        variants.push_back({{}, {}});
        variants.push_back({{}, {0, static_cast<uint8_t>(levels - 1)}});
        variants.push_back({{}, {1, 0}});
        // Palettes: one entry, half, all; tRNS shorter than the palette,
        // as long, and longer (which libspng ignores).
        for (uint32_t entries : {1u, levels / 2 + 1, levels}) {
            std::vector<uint8_t> plte;
            for (uint32_t i = 0; i < entries * 3; ++i)
                plte.push_back(static_cast<uint8_t>(i * 37 + depth));
            for (uint32_t alphas : {0u, (entries + 1) / 2, entries, entries + 1}) {
                std::vector<uint8_t> trns;
                for (uint32_t i = 0; i < alphas; ++i)
                    trns.push_back(static_cast<uint8_t>(i * 53));
                variants.push_back({plte, trns});
            }
        }
        for (const auto& [plte, trns] : variants) {
            uint8_t colourType = plte.empty() ? 0 : 3;
            for (uint32_t w : {1u, 3u, 7u, 8u, 9u, 13u, 33u}) {
                for (bool interlaced : {false, true}) {
                    std::vector<uint8_t> png = MakePng(w, 5, depth, colourType, interlaced, plte, trns, &seed);
                    std::vector<uint32_t> expected = LibspngArgb(png);
                    ASSERT_EQ(expected.size(), size_t{w} * 5) << int(depth) << " " << w;
                    ImageData image{};
                    ASSERT_EQ(DecodePng(png.data(), png.size(), false, &image), 0u);
                    std::vector<uint32_t> ours(image.pixels, image.pixels + expected.size());
                    EXPECT_EQ(ours, expected) << "depth " << int(depth) << " width " << w << " plte " << plte.size()
                                              << " trns " << trns.size() << " interlaced " << interlaced;
                    FreeImagePixels(&image);
                    // Cut inside the pixels, the picture is broken.
                    std::vector<uint8_t> cut(png.begin(), png.end() - 20);
                    EXPECT_EQ(DecodePng(cut.data(), cut.size(), false, &image), uint32_t{ERR_LOADPICTURE});
                    EXPECT_EQ(image.pixels, nullptr);
                }
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Writers

const char* kReadBack = R"PY(
import sys
from PIL import Image
im = Image.open(sys.argv[1])
open(sys.argv[2] + '.mode', 'w').write(im.mode + ' ' + im.format + ' ' + str(im.info.get('transparency', -1)))
open(sys.argv[2], 'wb').write(im.convert('RGBA').tobytes())
if im.mode == 'P':
    open(sys.argv[2] + '.idx', 'wb').write(im.tobytes())
    open(sys.argv[2] + '.pal', 'wb').write(bytes(im.getpalette()[:768]))
)PY";

class PictureWriters : public ::testing::Test {
protected:
    void SetUp() override { QM_SKIP_WITHOUT(HavePil()) << "PIL is the oracle"; }
    std::vector<uint8_t> ReadBack(const std::string& file, std::string* mode)
    {
        std::string out = dir.file("back.rgba");
        EXPECT_TRUE(RunPython(dir.path(), kReadBack, file + " " + out));
        std::vector<uint8_t> modeText = ReadFileBytes(out + ".mode");
        mode->assign(modeText.begin(), modeText.end());
        return ReadFileBytes(out);
    }
    TempDir dir;
};

// PNG, JPEG, GIF and ILBM files as SaveBrush writes them are read back by
// PIL and the independent ILBM reader in tests/e2e SaveBrush; these reach
// what a brush cannot: memory output, clamped qualities, whole palettes.
TEST_F(PictureWriters, JpegInMemoryKeepsThePictureAtQuality90)
{
    // Smooth gradients: hard chroma edges would measure the subsampling
    // rather than the codec.
    const int32_t w = 64, h = 48;
    std::vector<uint32_t> argb(static_cast<size_t>(w) * h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            argb[static_cast<size_t>(y) * w + x] = 0xFF000000u | (x * 4u << 16) | (y * 5u << 8) | ((x + y) * 2u);
    size_t sizes[3];
    const int32_t qualities[3] = {90, -5, 400};
    for (int i = 0; i < 3; ++i) {
        SaveJpegBlock block{argb.data(), static_cast<size_t>(w) * 4, w, h, qualities[i], 0, nullptr, 0, 99};
        SaveJpeg(&block);
        ASSERT_EQ(block.error, 0u);
        sizes[i] = block.size;
        std::string file = dir.file("q" + std::to_string(i) + ".jpg");
        WriteFileBytes(file, std::vector<uint8_t>(block.memory, block.memory + block.size));
        OsFreeMem(block.memory);
        std::string mode;
        std::vector<uint8_t> rgba = ReadBack(file, &mode);
        EXPECT_EQ(mode, "RGB JPEG -1");
        std::vector<uint32_t> back(argb.size());
        for (size_t k = 0; k < back.size(); ++k)
            back[k] = (uint32_t{rgba[k * 4]} << 16) | (uint32_t{rgba[k * 4 + 1]} << 8) | rgba[k * 4 + 2];
        EXPECT_TRUE(i > 0 || picture_test::Psnr(argb, back) > 30.0);
    }
    // Out-of-range qualities are clamped to 1 and 100.
    EXPECT_LT(sizes[1], sizes[0]);
    EXPECT_GT(sizes[2], sizes[0]);
}

TEST_F(PictureWriters, GifKeepsIndicesPaletteAndTransparentIndex)
{
    struct Case { int32_t w, h, colours, transparent; };
    // 300 x 200 of 256 noisy colours fills the code table many times.
    for (Case c : {Case{7, 5, 5, 2}, Case{300, 200, 256, -1}, Case{16, 16, 1, 0}, Case{40, 3, 600, 255}}) {
        int32_t used = c.colours < 2 ? 2 : c.colours > 256 ? 256 : c.colours;
        std::vector<uint8_t> indices(static_cast<size_t>(c.w) * c.h);
        std::vector<uint8_t> noise = PatternBytes(indices.size(), 3);
        for (size_t i = 0; i < indices.size(); ++i)
            indices[i] = static_cast<uint8_t>((i % 3 == 0 ? noise[i] : i / 7) % used);
        std::vector<uint32_t> palette(256);
        for (int32_t i = 0; i < 256; ++i)
            palette[i] = 0xFF000000u | static_cast<uint32_t>(i * 0x010305 + 0x102030);
        std::string file = dir.file("out.gif");
        GifWriter* writer = nullptr;
        ASSERT_EQ(SaveGif(file.c_str(), c.w, c.h, &writer), 0u);
        ASSERT_EQ(WriteAnimGifFrame(writer, indices.data(), c.w, c.h, 0, palette.data(), c.colours, c.transparent, 0, 0),
                  0u);
        ASSERT_EQ(CloseGifWriter(writer), 0u);
        std::string mode;
        ReadBack(file, &mode);
        EXPECT_EQ(mode, "P GIF " + std::to_string(c.transparent));
        EXPECT_EQ(ReadFileBytes(dir.file("back.rgba.idx")), indices) << c.w;
        std::vector<uint8_t> pal = ReadFileBytes(dir.file("back.rgba.pal"));
        ASSERT_GE(pal.size(), static_cast<size_t>(used) * 3);
        for (int32_t i = 0; i < used; ++i)
            ASSERT_EQ((pal[i * 3] << 16) | (pal[i * 3 + 1] << 8) | pal[i * 3 + 2], palette[i] & 0xFFFFFF);
    }
}

TEST_F(PictureWriters, IlbmReadsBackThroughAnIndependentReader)
{
    for (int32_t w : {1, 16, 45}) {
        const int32_t h = 9;
        std::vector<uint32_t> argb = MakeTestPicture(w, h, true);
        std::string file = dir.file("out.iff");
        ASSERT_EQ(SaveIlbm(file.c_str(), argb.data(), w, h), 0u);
        ASSERT_TRUE(RunPython(dir.path(), kIlbmReader, file + " " + dir.file("ilbm.txt")));
        std::vector<uint8_t> text = ReadFileBytes(dir.file("ilbm.txt"));
        EXPECT_EQ(std::string(text.begin(), text.end()), std::to_string(w) + " 9 24 0 1");
        std::vector<uint8_t> rgb = ReadFileBytes(dir.file("ilbm.txt.rgb"));
        ASSERT_EQ(rgb.size(), argb.size() * 3);
        for (size_t i = 0; i < argb.size(); ++i)
            ASSERT_EQ((rgb[i * 3] << 16) | (rgb[i * 3 + 1] << 8) | rgb[i * 3 + 2], argb[i] & 0xFFFFFF) << i;
    }
}

TEST_F(PictureWriters, FailedSaveLeavesTheOldFileAlone)
{
    std::string file = dir.file("keep.png");
    WriteFileBytes(file, {'o', 'l', 'd'});
    std::vector<uint32_t> argb = MakeTestPicture(4, 4, false);
    SavePngBlock bad{file.c_str(), argb.data(), 4, 4, 4, 0, 0};  // rows shorter than the width
    SavePng(&bad);
    EXPECT_NE(bad.result, 0u);
    EXPECT_EQ(ReadFileBytes(file), (std::vector<uint8_t>{'o', 'l', 'd'}));
    // A folder that does not exist cannot take the file.
    std::string missing = dir.file("no/such.iff");
    EXPECT_EQ(SaveIlbm(missing.c_str(), argb.data(), 4, 4), uint32_t{ERR_WRITEFILE});
    // A GIF writer that is closed after a failed frame leaves nothing.
    GifWriter* writer = nullptr;
    ASSERT_EQ(SaveGif(file.c_str(), 4, 4, &writer), 0u);
    uint8_t indices[16] = {};
    EXPECT_EQ(WriteAnimGifFrame(writer, indices, 5, 4, 0, argb.data(), 2, -1, 0, 0), uint32_t{ERR_BADDIMENSIONS});
    EXPECT_EQ(CloseGifWriter(writer), uint32_t{ERR_BADDIMENSIONS});
    EXPECT_EQ(ReadFileBytes(file), (std::vector<uint8_t>{'o', 'l', 'd'}));
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

}  // namespace

// A run being aborted stops the decoders between rows: the decode fails and
// holds nothing.
TEST(PictureDecoders, AbortStopsTheDecodeAndFreesThePicture)
{
    std::vector<uint32_t> argb(64 * 64, 0xFF336699u);
    ByteBuffer png;
    ASSERT_EQ(EncodePng(argb.data(), 64 * 4, 64, 64, false, &png), 0u);
    std::vector<uint8_t> gif = LiteralGif(64, 64, {{0, 0, 64, 64, false, 64 * 64, true}});
    std::vector<uint8_t> bmp = MakeBmp(64, 64, 24, 40, 0);

    const std::function<uint32_t(ImageData*)> decoders[] = {
        [&](ImageData* image) { return DecodePng(png.data, png.size, false, image); },
        [&](ImageData* image) { return DecodeGif(gif.data(), gif.size(), false, image); },
        [&](ImageData* image) { return DecodeBmp(bmp.data(), bmp.size(), false, image); },
        [&](ImageData* image) {
            DribbleSource state{&bmp};
            ImageByteSource source{ReadDribble, &state};
            return DecodeBmpSource(&source, false, image);
        },
    };
    for (uint32_t abort : {0u, 1u}) {
        VmAbortFlag = abort;
        for (const auto& decode : decoders) {
            ImageData image{};
            EXPECT_EQ(decode(&image), abort ? uint32_t{ERR_USERABORT} : 0u);
            EXPECT_EQ(image.pixels != nullptr, abort == 0);
            FreeImagePixels(&image);
        }
    }
    VmAbortFlag = 0;
    FreeByteBuffer(&png);
}
