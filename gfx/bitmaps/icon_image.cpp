// Icon image bodies. The AND mask marks transparent pixels (alpha 0) with a
// set bit; its rows are padded to 32 bits as the icon format wants.
#include "gfx/bitmaps/icon_image.h"

#include <cstring>

#include "core/io/error_codes.h"
#include "core/io/stream.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/bitmaps/picture_bits.h"
#include "platform/posix/os_memory.h"

uint32_t IconMaskBytesPerRow(int32_t w)
{
    return ((static_cast<uint32_t>(w) + 31) >> 3) & ~3u;
}

size_t IconImageBodySize(int32_t w, int32_t h)
{
    if (w < 1 || h < 1 || w > kMaxBitMapSide || h > kMaxBitMapSide) return 0;
    return (static_cast<size_t>(w) * 4 + IconMaskBytesPerRow(w)) * static_cast<size_t>(h);
}

uint32_t WriteIconImage(const uint32_t* argb, int32_t w, int32_t h, int32_t rowLength,
                        uint8_t* buffer, StreamHandle* stream)
{
    size_t total = IconImageBodySize(w, h);
    if (!argb || !total || rowLength < w || (!buffer && !stream)) return ERR_WRITE;
    uint32_t maskRow = IconMaskBytesPerRow(w);
    size_t maskBytes = static_cast<size_t>(maskRow) * h;
    auto* mask = static_cast<uint8_t*>(OsAllocMem(maskBytes, 0));
    if (!mask) return ERR_MEM;
    std::memset(mask, 0xFF, maskBytes);
    for (int32_t j = 0; j < h; ++j) {
        const uint32_t* row = argb + static_cast<size_t>(j) * rowLength;
        uint8_t* bits = mask + static_cast<size_t>(maskRow) * j;
        for (int32_t i = 0; i < w; ++i)
            if (row[i] >> 24) PutMaskBit(bits, i, false);
    }
    size_t rowBytes = static_cast<size_t>(w) * 4;
    uint32_t error = 0;
    uint8_t* out = buffer ? buffer + 40 : nullptr;
    // Bottom row first, for the pixels and then for the mask.
    for (int32_t j = h - 1; j >= 0 && !error; --j) {
        const void* row = argb + static_cast<size_t>(j) * rowLength;
        if (out) {
            std::memcpy(out, row, rowBytes);
            out += rowBytes;
        } else if (StreamWrite(stream, row, rowBytes) != rowBytes) {
            error = ERR_WRITE;
        }
    }
    for (int32_t j = h - 1; j >= 0 && !error; --j) {
        const uint8_t* row = mask + static_cast<size_t>(maskRow) * j;
        if (out) {
            std::memcpy(out, row, maskRow);
            out += maskRow;
        } else if (StreamWrite(stream, row, maskRow) != maskRow) {
            error = ERR_WRITE;
        }
    }
    OsFreeMem(mask);
    return error;
}
