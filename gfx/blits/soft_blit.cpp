#include "gfx/blits/soft_blit.h"

#include <cstddef>
#include <cstring>

#include "gfx/bitmaps/pixel_formats.h"
#include "gfx/blits/blend_kernels.h"
#include "gfx/effects/pixel_kernels.h"

namespace {

template <typename T>
inline T* RowAt(void* pixels, int32_t rowLength, int32_t x, int32_t y)
{
    return static_cast<T*>(pixels) + static_cast<ptrdiff_t>(rowLength) * y + x;
}

template <typename T>
inline const T* RowAt(const void* pixels, int32_t rowLength, int32_t x, int32_t y)
{
    return static_cast<const T*>(pixels) + static_cast<ptrdiff_t>(rowLength) * y + x;
}

inline const uint8_t* PlaneRow(const uint8_t* plane, int32_t bytesPerRow, int32_t y)
{
    return plane + static_cast<ptrdiff_t>(bytesPerRow) * y;
}

template <typename T>
void CopyRect(const void* src, int32_t sx, int32_t sy, void* dst, int32_t dx, int32_t dy,
              int32_t w, int32_t h, int32_t srcRowLength, int32_t dstRowLength)
{
    for (int32_t j = 0; j < h; ++j)
        std::memmove(RowAt<T>(dst, dstRowLength, dx, dy + j),
                     RowAt<T>(src, srcRowLength, sx, sy + j), sizeof(T) * w);
}

template <typename T>
void CopyRectMask(const void* src, int32_t sx, int32_t sy, void* dst, int32_t dx, int32_t dy,
                  int32_t w, int32_t h, int32_t srcRowLength, int32_t dstRowLength,
                  const uint8_t* mask, int32_t maskBytesPerRow)
{
    for (int32_t j = 0; j < h; ++j) {
        const T* s = RowAt<T>(src, srcRowLength, sx, sy + j);
        T* d = RowAt<T>(dst, dstRowLength, dx, dy + j);
        const uint8_t* m = PlaneRow(mask, maskBytesPerRow, sy + j);
        for (int32_t i = 0; i < w; ++i) {
            int32_t bit = sx + i;
            if (m[bit >> 3] & (0x80 >> (bit & 7))) d[i] = s[i];
        }
    }
}

}  // namespace

void SoftBltRect(const void* srcPixels, int32_t sx, int32_t sy, void* dstPixels, int32_t dx,
                 int32_t dy, int32_t w, int32_t h, int32_t srcRowLength, int32_t dstRowLength,
                 uint32_t bytesPerPixel)
{
    if (bytesPerPixel == 4)
        CopyRect<uint32_t>(srcPixels, sx, sy, dstPixels, dx, dy, w, h, srcRowLength, dstRowLength);
    else if (bytesPerPixel == 2)
        CopyRect<uint16_t>(srcPixels, sx, sy, dstPixels, dx, dy, w, h, srcRowLength, dstRowLength);
}

void SoftBltRectMask(const void* srcPixels, int32_t sx, int32_t sy, void* dstPixels, int32_t dx,
                     int32_t dy, int32_t w, int32_t h, int32_t srcRowLength,
                     int32_t dstRowLength, const uint8_t* maskPixels, int32_t maskBytesPerRow,
                     uint32_t bytesPerPixel)
{
    if (!maskPixels) {
        SoftBltRect(srcPixels, sx, sy, dstPixels, dx, dy, w, h, srcRowLength, dstRowLength,
                    bytesPerPixel);
    } else if (bytesPerPixel == 4) {
        CopyRectMask<uint32_t>(srcPixels, sx, sy, dstPixels, dx, dy, w, h, srcRowLength,
                               dstRowLength, maskPixels, maskBytesPerRow);
    } else if (bytesPerPixel == 2) {
        CopyRectMask<uint16_t>(srcPixels, sx, sy, dstPixels, dx, dy, w, h, srcRowLength,
                               dstRowLength, maskPixels, maskBytesPerRow);
    }
}

void SoftBltRectEx(const void* srcPixels, int32_t sx, int32_t sy, void* dstPixels, int32_t dx,
                   int32_t dy, int32_t w, int32_t h, int32_t srcRowLength, int32_t dstRowLength,
                   const uint8_t* srcAlphaPixels, int32_t srcAlphaBytesPerRow,
                   uint8_t* dstAlphaPixels, int32_t dstAlphaBytesPerRow, uint32_t srcFormat,
                   uint32_t bytesPerPixel, uint32_t blendMode)
{
    if (srcFormat >= PIXFMT_COUNT || PixelFormatBytes(srcFormat) != bytesPerPixel) return;
    if (bytesPerPixel != 2 && bytesPerPixel != 4) return;
    // Without a source alpha plane every pixel counts as opaque.
    if (!srcAlphaPixels) {
        if (blendMode <= BLEND_COMPOSITE)
            SoftBltRect(srcPixels, sx, sy, dstPixels, dx, dy, w, h, srcRowLength, dstRowLength,
                        bytesPerPixel);
        return;
    }
    const BlendRowKernels* k = GetBlendRowKernels(srcFormat);
    int32_t bpp = static_cast<int32_t>(bytesPerPixel);
    // Mode 2 without a destination plane has no coverage to combine with:
    // the plain blend.
    if (blendMode == BLEND_COMPOSITE && !dstAlphaPixels) blendMode = BLEND_ALPHA;
    for (int32_t j = 0; j < h; ++j) {
        const uint8_t* s = RowAt<uint8_t>(srcPixels, srcRowLength * bpp, sx * bpp, sy + j);
        uint8_t* d = RowAt<uint8_t>(dstPixels, dstRowLength * bpp, dx * bpp, dy + j);
        const uint8_t* a = PlaneRow(srcAlphaPixels, srcAlphaBytesPerRow, sy + j) + sx;
        switch (blendMode) {
        case BLEND_ALPHA: k->blend(d, s, a, w); break;
        case BLEND_COPY_WHERE: k->copyWhere(d, s, a, w); break;
        case BLEND_COMPOSITE:
            k->composite(d, s, a, dstAlphaPixels + static_cast<ptrdiff_t>(dstAlphaBytesPerRow) * (dy + j) + dx, w);
            break;
        default: return;
        }
    }
}

void SoftRectFill(void* pixels, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t argb,
                  uint32_t opacity, int32_t rowLength, uint32_t format)
{
    uint32_t bpp = PixelFormatBytes(format);
    if (bpp != 2 && bpp != 4) return;
    if (opacity != 255) {
        TintParams block{pixels, x, y, w, h, argb, opacity, rowLength, format};
        if (bpp == 4) {
            TintPixels32(&block);
        } else {
            block.colour = ArgbToRgb565(argb);
            TintPixels16(&block);
        }
        return;
    }
    uint32_t value = ArgbToPixel(argb, format, 0);
    const BlendRowKernels* k = GetBlendRowKernels(format);
    int32_t bytes = static_cast<int32_t>(bpp);
    for (int32_t j = 0; j < h; ++j) k->fill(RowAt<uint8_t>(pixels, rowLength * bytes, x * bytes, y + j), value, w);
}

void CopyPixelRect32(int32_t sy, int32_t dstRowLength, int32_t dy, const uint32_t* src,
                     int32_t sx, uint32_t* dst, int32_t dx, int32_t w, int32_t h,
                     int32_t srcRowLength)
{
    CopyRect<uint32_t>(src, sx, sy, dst, dx, dy, w, h, srcRowLength, dstRowLength);
}
