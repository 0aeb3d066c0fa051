// Small pictures for the blit tests: colour bitmaps filled from a list of
// ARGB values, planes filled byte by byte or bit by bit, and readers that
// go through the bitmap layer's own pixel access.
#pragma once

#include <cstdint>
#include <vector>

#include "gfx/bitmap.h"

namespace testpictures {

inline BitMapHandle* Colour(int32_t w, int32_t h, uint32_t fill)
{
    BitMapHandle* b = AllocColorBitMap(w, h, 0, nullptr);
    BitMapLock lock{};
    if (b && LockBitMapPixels(b, 0, &lock)) {
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) WriteLockedPixel(&lock, x, y, fill);
        UnlockBitMapPixels(&lock);
    }
    return b;
}

inline void Put(BitMapHandle* b, int32_t x, int32_t y, uint32_t argb)
{
    BitMapLock lock{};
    if (LockBitMapPixels(b, 0, &lock)) {
        WriteLockedPixel(&lock, x, y, argb);
        UnlockBitMapPixels(&lock);
    }
}

// The pixel as 0x00RRGGBB.
inline uint32_t Get(BitMapHandle* b, int32_t x, int32_t y) { return ReadBitMapPixel(b, x, y, 0); }

inline uint8_t* AlphaRow(BitMapHandle* a, int32_t y)
{
    return reinterpret_cast<uint8_t*>(QueryBitMapAttr(a, BMATTR_ALPHA_PIXELS)) +
           QueryBitMapAttr(a, BMATTR_ALPHA_BYTESPERROW) * y;
}

inline BitMapHandle* Alpha(int32_t w, int32_t h, uint8_t fill)
{
    BitMapHandle* a = AllocAlphaBitMap(w, h, 1, nullptr, 0);
    for (int32_t y = 0; a && y < h; ++y)
        for (int32_t x = 0; x < w; ++x) AlphaRow(a, y)[x] = fill;
    return a;
}

inline void SetMaskBit(BitMapHandle* m, int32_t x, int32_t y, bool on)
{
    auto* row = reinterpret_cast<uint8_t*>(QueryBitMapAttr(m, BMATTR_MASK_PIXELS)) +
                QueryBitMapAttr(m, BMATTR_MASK_BYTESPERROW) * y;
    uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
    row[x >> 3] = on ? (row[x >> 3] | bit) : (row[x >> 3] & ~bit);
}

inline bool MaskBitAt(BitMapHandle* m, int32_t x, int32_t y)
{
    auto* row = reinterpret_cast<uint8_t*>(QueryBitMapAttr(m, BMATTR_MASK_PIXELS)) +
                QueryBitMapAttr(m, BMATTR_MASK_BYTESPERROW) * y;
    return row[x >> 3] & (0x80 >> (x & 7));
}

// A mask whose bit (x, y) is shape(x, y).
template <typename Shape>
BitMapHandle* Mask(BitMapHandle* colour, int32_t w, int32_t h, Shape shape)
{
    BitMapHandle* m = AllocMaskBitMap(colour, w, h, 1, nullptr, 0);
    for (int32_t y = 0; m && y < h; ++y)
        for (int32_t x = 0; x < w; ++x) SetMaskBit(m, x, y, shape(x, y));
    return m;
}

}  // namespace testpictures
