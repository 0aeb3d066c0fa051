// Software kernels behind the bitmap-to-bitmap operations: rectangle copies
// (plain, through a mask, through alpha planes) and fills on locked pixels
// of 2 or 4 bytes. They do no clipping: callers clip.
#pragma once

#include <cstdint>

// Blend modes of SoftBltRectEx.
enum : uint32_t {
    BLEND_ALPHA = 0,        // blend by the source alpha plane
    BLEND_COPY_WHERE = 1,   // copy where the source alpha is non-zero
    BLEND_COMPOSITE = 2,    // over a destination with its own alpha plane
};

void SoftBltRect(const void* srcPixels, int32_t sx, int32_t sy, void* dstPixels, int32_t dx,
                 int32_t dy, int32_t w, int32_t h, int32_t srcRowLength, int32_t dstRowLength,
                 uint32_t bytesPerPixel);

void SoftBltRectMask(const void* srcPixels, int32_t sx, int32_t sy, void* dstPixels, int32_t dx,
                     int32_t dy, int32_t w, int32_t h, int32_t srcRowLength,
                     int32_t dstRowLength, const uint8_t* maskPixels, int32_t maskBytesPerRow,
                     uint32_t bytesPerPixel);

void SoftBltRectEx(const void* srcPixels, int32_t sx, int32_t sy, void* dstPixels, int32_t dx,
                   int32_t dy, int32_t w, int32_t h, int32_t srcRowLength, int32_t dstRowLength,
                   const uint8_t* srcAlphaPixels, int32_t srcAlphaBytesPerRow,
                   uint8_t* dstAlphaPixels, int32_t dstAlphaBytesPerRow, uint32_t srcFormat,
                   uint32_t bytesPerPixel, uint32_t blendMode);

// Opacity 255 stores the colour; other opacities tint toward it.
void SoftRectFill(void* pixels, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t argb,
                  uint32_t opacity, int32_t rowLength, uint32_t format);

// Plain copy between two 32-bit pixel buffers.
void CopyPixelRect32(int32_t sy, int32_t dstRowLength, int32_t dy, const uint32_t* src,
                     int32_t sx, uint32_t* dst, int32_t dx, int32_t w, int32_t h,
                     int32_t srcRowLength);
