// Saving ARGB pictures in the five inbuilt formats and through image-saver
// plugins. Indexed formats (GIF, and savers that take no true colour) go
// through the colour quantiser first.
#include "gfx/library/image_save.h"


#include "core/io/byte_order.h"
#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/stream.h"
#include "core/io/whole_file.h"
#include "core/plugins/plugin_loader.h"
#include "core/plugins/plugin_manager.h"
#include "core/services/option_tables.h"
#include "core/vm/library_glue.h"
#include "core/vm/vm.h"
#include "gfx/bitmaps/argb_exchange.h"
#include "gfx/bitmaps/copy_bitmap.h"
#include "gfx/bitmaps/pixel_formats.h"
#include "gfx/effects/quantize.h"
#include "media/gif_writer.h"
#include "media/image_files.h"
#include "platform/posix/os_memory.h"

namespace {

int32_t Clamp(int32_t value, int32_t low, int32_t high)
{
    return value < low ? low : value > high ? high : value;
}

// A picture reduced to a palette: one byte per pixel.
struct IndexedPicture {
    uint8_t* indices = nullptr;
    uint32_t palette[256] = {};
    uint32_t count = 0;
    int32_t transparentIndex = -1;
    ~IndexedPicture() { OsFreeMem(indices); }
};

uint32_t Quantize(const uint32_t* argb, int32_t width, int32_t height, int32_t colors, int32_t transparentColour,
                  int32_t dither, IndexedPicture* out)
{
    out->indices = static_cast<uint8_t*>(OsAllocMem(static_cast<size_t>(width) * height, 0));
    if (!out->indices)
        return ERR_MEM;
    QuantizeParams q{};
    q.pixels = argb;
    q.format = PIXFMT_ARGB;
    q.bytesPerPixel = 4;
    q.w = width;
    q.h = height;
    q.rowLength = width;
    q.indices = out->indices;
    q.palette = out->palette;
    q.count = static_cast<uint32_t>(Clamp(colors, 2, 256));
    q.transparent = transparentColour < 0 ? -1 : transparentColour & 0xFFFFFF;
    q.dither = dither ? 1 : 0;
    if (QuantizeImage(&q))
        return ERR_MEM;
    out->count = q.count;
    out->transparentIndex = q.transparentIndex;
    return 0;
}

uint32_t SaveGifImage(const char* file, const uint32_t* argb, int32_t width, int32_t height, int32_t transparentColour,
                      int32_t colors, int32_t dither)
{
    IndexedPicture picture;
    if (uint32_t error = Quantize(argb, width, height, colors, transparentColour, dither, &picture))
        return error;
    GifWriter* writer = nullptr;
    uint32_t error = SaveGif(file, width, height, &writer);
    if (!error)
        error = WriteAnimGifFrame(writer, picture.indices, width, height, 0, picture.palette,
                                  static_cast<int32_t>(picture.count), picture.transparentIndex, 0, 0);
    uint32_t closed = CloseGifWriter(writer);
    return error ? error : closed;
}

uint32_t SaveJpegImage(const uint32_t* argb, int32_t width, int32_t height, int32_t quality, const char* file)
{
    SaveJpegBlock block{argb, static_cast<size_t>(width) * 4, width, height, quality, 0, nullptr, 0, 0};
    SaveJpeg(&block);
    if (block.error)
        return block.error;
    WholeFileWriter writer;
    uint32_t error = BeginWholeFile(file, 0, &writer);
    if (!error && StreamWrite(writer.stream, block.memory, block.size) != block.size)
        error = ERR_WRITE;
    if (!error)
        error = CommitWholeFile(&writer);
    OsFreeMem(block.memory);
    return error;
}

const QmSaverFormat* FindSaverFormat(uint32_t format, PluginInfo** outInfo)
{
    for (PluginRecord* record = PluginList; record; record = record->next) {
        if (!record->node)
            continue;
        PluginInfo* info = record->node->info;
        if (info->disabled || !(info->capabilities & PLUGINCAPS_SAVEIMAGE))
            continue;
        for (const QmSaverFormat* hook = info->imageSaverFormats; hook && hook->formatId; ++hook) {
            if (hook->formatId == format) {
                *outInfo = info;
                return hook;
            }
        }
    }
    return nullptr;
}

uint32_t SaveThroughPlugin(uint32_t format, const uint32_t* argb, int32_t width, int32_t height, const char* file,
                           int32_t transparentColour, bool hasAlpha, int32_t quality, int32_t colors, int32_t dither)
{
    PluginInfo* info = nullptr;
    const QmSaverFormat* hook = FindSaverFormat(format, &info);
    if (!hook)
        return ERR_UNKNOWNIMGOUT;
    bool trueColour = hook->flags & QM_SAVERFORMAT_TRUECOLOR;
    IndexedPicture picture;
    if (!trueColour) {
        if (Quantize(argb, width, height, colors, transparentColour, dither, &picture))
            return ERR_MEM;
    }
    QmSaveImageBlock block{};
    block.width = width;
    block.height = height;
    block.quality = quality;
    block.formatId = format;
    if (trueColour) {
        block.pixels = argb;
        block.bytesPerRow = width * 4;
        if (hasAlpha && (hook->flags & QM_SAVERFORMAT_ALPHA))
            block.flags |= QM_SAVEIMAGE_ALPHA;
    } else {
        block.pixels = picture.indices;
        block.palette = picture.palette;
        block.bytesPerRow = width;
        block.indexed = 1;
        block.colors = static_cast<int32_t>(picture.count);
        if (transparentColour >= 0 && picture.transparentIndex >= 0) {
            block.flags |= QM_SAVEIMAGE_TRANSPARENT;
            block.transparentIndex = picture.transparentIndex;
        }
    }
    if (IsForeignCallForm(info) || !reinterpret_cast<QmSaveImageFunc>(info->SaveImage)(file, &block))
        return ERR_SAVEIMAGE;
    return 0;
}

}  // namespace

uint32_t SaveBmpImage(const char* file, const uint32_t* argb, int32_t width, int32_t height)
{
    const uint64_t rowBytes = 3 * static_cast<uint64_t>(width) + static_cast<uint64_t>(width) % 4;
    const uint64_t fileSize = rowBytes * static_cast<uint64_t>(height) + 54;
    if (width <= 0 || height <= 0 || fileSize > 0xFFFFFFFFu)
        return ERR_BADDIMENSIONS;
    auto* row = static_cast<uint8_t*>(OsAllocMem(static_cast<size_t>(rowBytes), 1));
    if (!row)
        return ERR_MEM;
    WholeFileWriter writer;
    uint32_t error = BeginWholeFile(file, 0, &writer);
    if (!error) {
        uint8_t header[54] = {'B', 'M'};
        StoreLE32(header + 2, static_cast<uint32_t>(fileSize));
        StoreLE32(header + 10, 54);
        StoreLE32(header + 14, 40);
        StoreLE32(header + 18, static_cast<uint32_t>(width));
        StoreLE32(header + 22, static_cast<uint32_t>(height));
        StoreLE16(header + 26, 1);
        StoreLE16(header + 28, 24);
        if (StreamWrite(writer.stream, header, sizeof header) != sizeof header)
            error = ERR_WRITE;
    }
    // Rows bottom-up, each pixel blue, green, red; the padding stays 0.
    for (int32_t y = height - 1; !error && y >= 0; --y) {
        const uint32_t* source = argb + static_cast<size_t>(y) * width;
        for (int32_t x = 0; x < width; ++x) {
            row[x * 3] = static_cast<uint8_t>(source[x]);
            row[x * 3 + 1] = static_cast<uint8_t>(source[x] >> 8);
            row[x * 3 + 2] = static_cast<uint8_t>(source[x] >> 16);
        }
        if (StreamWrite(writer.stream, row, static_cast<size_t>(rowBytes)) != rowBytes)
            error = ERR_WRITE;
    }
    OsFreeMem(row);
    if (!error)
        error = CommitWholeFile(&writer);
    return error;
}

uint32_t SaveArgbImage(uint32_t format, const uint32_t* argb, int32_t width, int32_t height, const char* file,
                       int32_t transparentColour, bool hasAlpha, int32_t quality, int32_t colors, int32_t dither)
{
    quality = Clamp(quality, 1, 100);
    colors = Clamp(colors, 2, 256);
    switch (format) {
    case IMGFMT_BMP:
        return SaveBmpImage(file, argb, width, height);
    case IMGFMT_PNG: {
        SavePngBlock block{file, argb, static_cast<size_t>(width) * 4, width, height, hasAlpha ? 1u : 0u, 0};
        SavePng(&block);
        return block.result;
    }
    case IMGFMT_JPEG:
        return SaveJpegImage(argb, width, height, quality, file);
    case IMGFMT_GIF:
        return SaveGifImage(file, argb, width, height, transparentColour, colors, dither);
    case IMGFMT_ILBM:
        return SaveIlbm(file, argb, width, height);
    default:
        return SaveThroughPlugin(format, argb, width, height, file, transparentColour, hasAlpha, quality, colors,
                                 dither);
    }
}

uint32_t SaveBitMapImage(uint32_t format, BitMapHandle* bitmap, int32_t width, int32_t height, const char* file,
                         BitMapHandle* mask, int32_t transparentColour, BitMapHandle* alpha, int32_t quality,
                         int32_t colors, int32_t dither, bool readPixels)
{
    uint32_t* argb = nullptr;
    bool hasAlpha = alpha != nullptr;
    if (!bitmap || width <= 0 || height <= 0 || width > bitmap->width || height > bitmap->height)
        return ERR_BADDIMENSIONS;
    if (readPixels) {
        uint32_t pixelsHaveAlpha = 0;
        if (uint32_t error = ReadBitMapPixels(bitmap, 0, 0, width, height, &argb, &pixelsHaveAlpha))
            return error;
    } else {
        argb = BitMapToArgbMasked(bitmap, 0, 0, width, height, mask, alpha, transparentColour, 0, LOCKBITMAP_READ);
    }
    if (!argb)
        return ERR_MEM;
    uint32_t error = SaveArgbImage(format, argb, width, height, file, transparentColour, hasAlpha, quality, colors,
                                   dither);
    OsFreeMem(argb);
    return error;
}

void GetSaveOptions(VmState* vm, int index, int32_t* quality, int32_t* colors, int32_t* dither)
{
    int type = VmType(vm, index);
    if (type == VM_TNONE || type == VM_TNIL)
        return;
    if (type == VM_TTABLE) {
        GetTableInt(vm, index, "quality", quality);
        GetTableInt(vm, index, "colors", colors);
        GetTableInt(vm, index, "dither", dither);
        return;
    }
    *quality = VmCheckInteger(vm, index);
}
