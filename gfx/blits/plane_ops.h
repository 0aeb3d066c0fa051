// Operations on 1-bit mask planes and 8-bit alpha planes held by bitmap
// handles. Rectangles are clipped to the planes' own sizes.
#pragma once

#include <cstdint>

#include "gfx/bitmaps/bitmap.h"

// Mask operations of the brush commands.
enum : uint32_t {
    MASKVISIBLE = 0,
    MASKINVISIBLE = 1,
    MASKVANILLACOPY = 2,
    MASKXOR = 3,
    MASKAND = 4,
    MASKOR = 5,
};

// The pixels, row size and size of a mask or alpha plane.
struct PlaneView {
    uint8_t* pixels;
    uintptr_t bytesPerRow;
    int32_t width;
    int32_t height;
};

// Fills *view from a plane of the kind asked for (BITMAP_MASK or
// BITMAP_ALPHA); false, with *view untouched, for a null handle or another
// kind, and false when the plane has no pixels.
bool ViewPlane(BitMapHandle* handle, uint32_t kind, PlaneView* view);

// Applies a mask operation with a set source bit to bit x of a mask row:
// visible, vanilla copy and or set it, invisible clears, xor inverts, and
// leaves it.
inline void ApplyMaskOpToBit(uint8_t* row, int32_t x, uint32_t op)
{
    uint8_t& byte = row[x >> 3];
    uint8_t m = static_cast<uint8_t>(0x80 >> (x & 7));
    switch (op) {
    case MASKVISIBLE: case MASKVANILLACOPY: case MASKOR: byte |= m; break;
    case MASKINVISIBLE: byte &= static_cast<uint8_t>(~m); break;
    case MASKXOR: byte ^= m; break;
    default: break;
    }
}

// Combines source mask bits into destination bits. Non-zero srcPixels or
// srcBytesPerRow replace the source plane's own.
void BltMaskPlane(BitMapHandle* srcMask, int32_t sx, int32_t sy, BitMapHandle* dstMask, int32_t dx,
                  int32_t dy, int32_t w, int32_t h, uint32_t op, const uint8_t* srcPixels,
                  uint32_t srcBytesPerRow);
void FillMaskPlane(BitMapHandle* mask, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t op);
void FillMaskedColor(BitMapHandle* mask, int32_t mx, int32_t my, BitMapHandle* dst, int32_t dx,
                     int32_t dy, int32_t w, int32_t h, uint32_t argb, const uint8_t* maskPixels,
                     uint32_t maskBytesPerRow);
void CombineAlphaWithMask(BitMapHandle* alpha, int32_t ax, int32_t ay, BitMapHandle* mask,
                          int32_t mx, int32_t my, int32_t w, int32_t h, uint32_t op);
void MaskToAlpha(BitMapHandle* mask, int32_t mx, int32_t my, BitMapHandle* alpha, int32_t ax,
                 int32_t ay, int32_t w, int32_t h, uint32_t value);
void SetAlphaThroughMask(BitMapHandle* mask, int32_t mx, int32_t my, BitMapHandle* alpha,
                         int32_t ax, int32_t ay, int32_t w, int32_t h, uint32_t value);
void FillAlphaPlane(BitMapHandle* alpha, int32_t x, int32_t y, int32_t w, int32_t h,
                    uint32_t value);
// dst = src * factor / 255 over the whole plane; the two may be the same.
void CopyAlphaPlane(BitMapHandle* srcAlpha, BitMapHandle* dstAlpha, int32_t height,
                    uint32_t factor);
// A shared plane record over the given pixels with rows fitting the colour
// bitmap; valid until the next call.
BitMapPlane* BorrowMaskPlane(BitMapHandle* colourBitMap, uint8_t* pixels);
