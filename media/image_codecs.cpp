// What the picture codecs share: the size limit, pixel buffers, format
// sniffing and the growing output buffer of the encoders.
#include "media/image_codecs.h"

#include <cstring>

#include "core/io/error_codes.h"
#include "gfx/bitmaps/bitmap.h"
#include "platform/posix/os_memory.h"

uint64_t ImageDecodePixelLimit = kMaxBitMapPixels;

uint32_t CheckImageSize(int64_t width, int64_t height)
{
    if (width <= 0 || height <= 0 || width > 65535 || height > 65535)
        return ERR_BADDIMENSIONS;
    if (static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > ImageDecodePixelLimit)
        return ERR_BADDIMENSIONS;
    return 0;
}

uint32_t AllocImagePixels(ImageData* image, int64_t width, int64_t height, bool clear)
{
    if (uint32_t error = CheckImageSize(width, height))
        return error;
    // One spare row: a bitmap can take the pixels over as they are (its
    // kernels may read a row ahead).
    size_t bytes = static_cast<size_t>(width) * (static_cast<size_t>(height) + 1) * 4;
    image->pixels = static_cast<uint32_t*>(OsAllocMem(bytes, clear ? 1 : 0));
    if (!image->pixels)
        return ERR_MEM;
    image->width = static_cast<int32_t>(width);
    image->height = static_cast<int32_t>(height);
    return 0;
}

void FreeImagePixels(ImageData* image)
{
    OsFreeMem(image->pixels);
    image->pixels = nullptr;
}

uint32_t SniffImageFormat(const uint8_t* data, size_t size)
{
    if (size >= 8 && std::memcmp(data, "\x89PNG\r\n\x1a\n", 8) == 0)
        return IMAGEFILE_PNG;
    if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF)
        return IMAGEFILE_JPEG;
    if (size >= 6 && (std::memcmp(data, "GIF87a", 6) == 0 || std::memcmp(data, "GIF89a", 6) == 0))
        return IMAGEFILE_GIF;
    if (size >= 12 && std::memcmp(data, "FORM", 4) == 0 &&
        (std::memcmp(data + 8, "ILBM", 4) == 0 || std::memcmp(data + 8, "PBM ", 4) == 0))
        return IMAGEFILE_ILBM;
    if (size >= 14 && data[0] == 'B' && data[1] == 'M')
        return IMAGEFILE_BMP;
    return IMAGEFILE_UNKNOWN;
}

uint32_t DecodeImage(const uint8_t* data, size_t size, bool probe, ImageData* out)
{
    using Decoder = uint32_t (*)(const uint8_t*, size_t, bool, ImageData*);
    static constexpr Decoder kDecoders[] = {nullptr, DecodeIlbm, DecodeJpeg, DecodePng, DecodeBmp, DecodeGif};
    uint32_t format = SniffImageFormat(data, size);
    if (format == IMAGEFILE_UNKNOWN)
        return ERR_LOADPICTURE;
    *out = ImageData{};
    out->transparentColour = -1;
    out->format = format;
    return kDecoders[format](data, size, probe, out);
}

bool AppendBytes(ByteBuffer* buffer, const void* bytes, size_t count)
{
    if (buffer->failed)
        return false;
    if (count > buffer->capacity - buffer->size) {
        size_t capacity = buffer->capacity ? buffer->capacity : 65536;
        while (capacity - buffer->size < count) {
            if (capacity > SIZE_MAX / 2) {
                buffer->failed = true;
                return false;
            }
            capacity *= 2;
        }
        auto* grown = static_cast<uint8_t*>(OsAllocMem(capacity, 0));
        if (!grown) {
            buffer->failed = true;
            return false;
        }
        if (buffer->size)
            std::memcpy(grown, buffer->data, buffer->size);
        OsFreeMem(buffer->data);
        buffer->data = grown;
        buffer->capacity = capacity;
    }
    if (count)
        std::memcpy(buffer->data + buffer->size, bytes, count);
    buffer->size += count;
    return true;
}

void FreeByteBuffer(ByteBuffer* buffer)
{
    OsFreeMem(buffer->data);
    *buffer = ByteBuffer{};
}

uint32_t UniqueTransparentColour(const uint32_t* palette, uint32_t entries, uint32_t index)
{
    uint32_t colour = palette[index] & 0xFFFFFF;
    for (uint32_t attempt = 0;; ++attempt) {
        bool taken = false;
        for (uint32_t i = 0; i < entries && !taken; ++i)
            taken = i != index && (palette[i] & 0xFFFFFF) == colour;
        if (!taken)
            return colour;
        colour = (0xFF00FF + attempt * 0x010101) & 0xFFFFFF;
    }
}
