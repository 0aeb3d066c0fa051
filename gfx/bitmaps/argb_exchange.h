// Pictures enter and leave the bitmap layer as plain ARGB arrays: this
// converts between bitmap triples (colour, mask, alpha) and such arrays.
// Arrays are w x h words 0xAARRGGBB with rows of rowLength pixels.
#pragma once

#include <cstdint>

#include "gfx/bitmaps/bitmap.h"

// No transparent colour.
constexpr int64_t kNoTransparentColour = -1;

// The pixels and bytes per row of a mask (mask true) or alpha plane when it
// covers the w x h rectangle at (x, y), else null.
const uint8_t* PlaneCovering(BitMapHandle* plane, bool mask, int32_t x, int32_t y, int32_t w,
                             int32_t h, uintptr_t* bytesPerRow);

// A new w x h array (row length w) of the rectangle, or null. The alpha
// byte is the pixel's own for formats 10 and 11, else 0.
uint32_t* ReadBitMapArgb(BitMapHandle* bitmap, int32_t x, int32_t y, int32_t w, int32_t h,
                         uint32_t lockFlags);

// ReadBitMapArgb with the mask and alpha planes (aligned with the bitmap)
// folded into the alpha bytes, or pixels outside the mask set to the
// transparent colour. Free the result with OsFreeMem.
uint32_t* BitMapToArgbMasked(BitMapHandle* bitmap, int32_t x, int32_t y, int32_t w, int32_t h,
                             BitMapHandle* mask, BitMapHandle* alpha, int64_t transparentColour,
                             int maskToAlpha, uint32_t lockFlags);

// Copies w x h ARGB pixels from (sx, sy) of the array into the colour
// bitmap at (dx, dy); the rectangle is cut to the bitmap.
void WriteArgbToBitMap(const uint32_t* argb, int32_t sx, int32_t sy, int32_t srcRowBytes,
                       BitMapHandle* bitmap, int32_t dx, int32_t dy, int32_t w, int32_t h);

// ARGB into locked pixels: 32-bit formats (10 keeps the alpha byte, 11-13
// get 0) and 16-bit formats (channels truncated).
void CopyPixelRectFromFormat32(const uint32_t* argb, int32_t srcRowLength, void* pixels,
                               int32_t dstRowLength, uint32_t format, int32_t w, int32_t h);
void CopyPixelRectFromFormat16(const uint32_t* argb, int32_t srcRowLength, void* pixels,
                               int32_t dstRowLength, uint32_t format, int32_t w, int32_t h);

// A new alpha bitmap of the array's alpha bytes, or null.
BitMapHandle* AllocAlphaBitMapFrom(const uint32_t* argb, int32_t w, int32_t h, int32_t rowLength);

// Makes the bitmap (a video bitmap when asked and the adapter takes it),
// a mask from the transparent colour when one is given and asked for, and
// with a video request that fell back and alphaMode 2, an alpha bitmap.
// For a video request with alphaMode 0, *alpha may hand in an alpha
// bitmap that the video bitmap takes over.
uint32_t CreateBitMapFromArgb(const uint32_t* argb, int64_t transparentColour, int32_t w,
                              int32_t h, int32_t rowLength, int video, uint32_t alphaMode,
                              void* display, BitMapHandle** bitmap, BitMapHandle** mask,
                              BitMapHandle** alpha);

// A memory bitmap that takes over the pixels (see AdoptArgbPixels; the
// caller checked CanAdoptArgbPixels) instead of copying them, with a mask
// from the transparent colour when one is given and asked for. The pixels
// are the bitmap's from then on, also when this fails.
uint32_t CreateBitMapTakingArgb(uint32_t* argb, int64_t transparentColour, int32_t w, int32_t h,
                                BitMapHandle** bitmap, BitMapHandle** mask);
