// Small pictures for the blit tests, on top of the shared picture helpers:
// colour bitmaps of one colour, single pixels, filled planes and masks
// drawn from a predicate.
#pragma once

#include <cstdint>
#include <vector>

#include "gfx/bitmap.h"
#include "picture_test_helpers.h"

namespace testpictures {

using picture_test::MaskAt;
using picture_test::Owned;
using picture_test::SetMaskAt;

inline BitMapHandle* Colour(int32_t w, int32_t h, uint32_t fill)
{
    return picture_test::BitMapOf(std::vector<uint32_t>(static_cast<size_t>(w) * h, fill), w, h);
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

inline uint8_t* AlphaRow(BitMapHandle* a, int32_t y) { return &picture_test::AlphaAt(a, 0, y); }

inline BitMapHandle* Alpha(int32_t w, int32_t h, uint8_t fill)
{
    BitMapHandle* a = AllocAlphaBitMap(w, h, 1, nullptr, 0);
    for (int32_t y = 0; a && y < h; ++y)
        for (int32_t x = 0; x < w; ++x) AlphaRow(a, y)[x] = fill;
    return a;
}

// A mask whose bit (x, y) is shape(x, y).
template <typename Shape>
BitMapHandle* Mask(BitMapHandle* colour, int32_t w, int32_t h, Shape shape)
{
    BitMapHandle* m = AllocMaskBitMap(colour, w, h, 1, nullptr, 0);
    for (int32_t y = 0; m && y < h; ++y)
        for (int32_t x = 0; x < w; ++x) SetMaskAt(m, x, y, shape(x, y));
    return m;
}

}  // namespace testpictures
