#include "gfx/effects/pixelate.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "gfx/bitmaps/picture_bits.h"

namespace {

inline void PutBits(uint8_t* row, int32_t x, int32_t count, bool on)
{
    for (int32_t i = x; i < x + count; ++i) PutMaskBit(row, i, on);
}

template <typename T>
void Pixelate(const PixelateParams* b)
{
    if (b->cell < 2 || !b->pixels || !b->copyPixels) return;
    for (int32_t cy = 0; cy < b->h; cy += b->cell) {
        int32_t ch = std::min(b->cell, b->h - cy);
        const T* corners = static_cast<const T*>(b->copyPixels) + static_cast<ptrdiff_t>(b->copyRowLength) * cy;
        for (int32_t cx = 0; cx < b->w; cx += b->cell) {
            int32_t cw = std::min(b->cell, b->w - cx);
            bool visible = !b->copyMask && !b->copyAlpha;
            if (b->copyMask && MaskBitAt(b->copyMask + static_cast<ptrdiff_t>(b->copyMaskBytesPerRow) * cy, cx))
                visible = true;
            uint8_t a = 0;
            if (b->copyAlpha) {
                a = b->copyAlpha[static_cast<ptrdiff_t>(b->copyAlphaBytesPerRow) * cy + cx];
                if (a) visible = true;
            }
            T colour = corners[cx];
            for (int32_t j = cy; j < cy + ch; ++j) {
                if (visible) {
                    T* row = static_cast<T*>(b->pixels) + static_cast<ptrdiff_t>(b->rowLength) * j;
                    std::fill(row + cx, row + cx + cw, colour);
                }
                if (b->mask) PutBits(b->mask + static_cast<ptrdiff_t>(b->maskBytesPerRow) * j, cx, cw, visible);
                if (b->alpha)
                    std::memset(b->alpha + static_cast<ptrdiff_t>(b->alphaBytesPerRow) * j + cx,
                                visible ? a : 0, static_cast<size_t>(cw));
            }
        }
    }
}

}  // namespace

void PixelatePixels32(const PixelateParams* block) { Pixelate<uint32_t>(block); }
void PixelatePixels16(const PixelateParams* block) { Pixelate<uint16_t>(block); }
