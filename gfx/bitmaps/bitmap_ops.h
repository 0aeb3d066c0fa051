// Bitmap-to-bitmap colour operations. Each goes to the display adapter when
// it holds the destination in video memory or offers the operation for
// memory bitmaps, and otherwise runs the software kernels on locked pixels
// (rectangles cut to both bitmaps first).
#pragma once

#include <cstdint>

#include "gfx/bitmaps/bitmap.h"

// Bits of the adapter's memory-bitmap operations word.
enum : uint32_t {
    MEMOP_BLTRECT = 1,
    MEMOP_BLTMASK = 2,
    MEMOP_BLTMASKED = 4,
    MEMOP_FILLRECT = 8,
    MEMOP_WRITEPIXEL = 16,
    MEMOP_LINE = 32,
};

// The output selection's state word, kept by the output layer: 1 asks the
// adapter to present blits into a display without double buffering at once
// (mode bit 8).
extern uint32_t OutputBlitState;

void BltBitMapRect(BitMapHandle* src, int32_t sx, int32_t sy, BitMapHandle* dst, int32_t dx,
                   int32_t dy, int32_t w, int32_t h);
void BltBitMapMask(BitMapHandle* src, int32_t sx, int32_t sy, BitMapHandle* dst, int32_t dx,
                   int32_t dy, int32_t w, int32_t h, BitMapHandle* mask);
void BltBitMapMasked(BitMapHandle* src, int32_t sx, int32_t sy, BitMapHandle* dst, int32_t dx,
                     int32_t dy, int32_t w, int32_t h, BitMapHandle* alpha);
void BltBitMapAlphaSoft(BitMapHandle* src, int32_t sx, int32_t sy, BitMapHandle* dst,
                        int32_t dx, int32_t dy, int32_t w, int32_t h, uint32_t blendMode,
                        BitMapHandle* srcAlpha, BitMapHandle* dstAlpha);
void FillBitMapRect(BitMapHandle* bitmap, int32_t x, int32_t y, int32_t w, int32_t h,
                    uint32_t argb);
// A one-pixel line, both ends included, cut to the bitmap.
void DrawBitMapLine(BitMapHandle* bitmap, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                    uint32_t argb);

// Covers the w x h rectangle at (x, y) of dst with copies of a tileW x
// tileH source, starting (offsetX, offsetY) into the tile. With rawBuffers,
// dst and src are 32-bit pixel buffers (the destination's row length is w);
// else they are BitMapHandles.
void TileCopyPixels(void* dst, int32_t x, int32_t y, int32_t w, int32_t h, void* src,
                    int32_t offsetX, int32_t offsetY, int32_t tileW, int32_t tileH,
                    int rawBuffers, int32_t srcRowLength);
