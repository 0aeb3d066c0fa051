#include "gfx/soft_blit.h"

#include <cstddef>
#include <cstring>

#include "gfx/pixel_formats.h"
#include "gfx/pixel_kernels.h"

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

// Alpha blend of one pixel pair in format F (blend mode 0): a = 255 keeps
// the source unchanged, 0 the destination; other values blend in the
// native layout with alpha 0.
template <uint32_t F>
inline uint32_t BlendPixel(uint32_t d, uint32_t s, uint32_t a)
{
    if constexpr (F >= 10) {
        uint32_t blended = BlendArgb(PixelFromFormat32(F, d), PixelFromFormat32(F, s), a);
        return F == 10 ? blended : PixelToFormat32(F, blended);
    } else {
        uint32_t dn = Rgb565ToArgb(F == 4 ? d : PixelFromFormat16(F, d));
        uint32_t sn = Rgb565ToArgb(F == 4 ? s : PixelFromFormat16(F, s));
        uint32_t v = ArgbToRgb565(BlendArgb(dn, sn, a));
        return F == 4 ? v : PixelToFormat16(F, v);
    }
}

template <typename T, uint32_t F>
void BlendRectAlpha(const void* src, int32_t sx, int32_t sy, void* dst, int32_t dx, int32_t dy,
                    int32_t w, int32_t h, int32_t srcRowLength, int32_t dstRowLength,
                    const uint8_t* alpha, int32_t alphaBytesPerRow)
{
    for (int32_t j = 0; j < h; ++j) {
        const T* s = RowAt<T>(src, srcRowLength, sx, sy + j);
        T* d = RowAt<T>(dst, dstRowLength, dx, dy + j);
        const uint8_t* a = PlaneRow(alpha, alphaBytesPerRow, sy + j) + sx;
        for (int32_t i = 0; i < w; ++i) {
            uint32_t ai = a[i];
            if (ai == 255) d[i] = s[i];
            else if (ai != 0) d[i] = static_cast<T>(BlendPixel<F>(d[i], s[i], ai));
        }
    }
}

template <typename T>
void CopyWhereAlpha(const void* src, int32_t sx, int32_t sy, void* dst, int32_t dx, int32_t dy,
                    int32_t w, int32_t h, int32_t srcRowLength, int32_t dstRowLength,
                    const uint8_t* alpha, int32_t alphaBytesPerRow)
{
    for (int32_t j = 0; j < h; ++j) {
        const T* s = RowAt<T>(src, srcRowLength, sx, sy + j);
        T* d = RowAt<T>(dst, dstRowLength, dx, dy + j);
        const uint8_t* a = PlaneRow(alpha, alphaBytesPerRow, sy + j) + sx;
        for (int32_t i = 0; i < w; ++i)
            if (a[i]) d[i] = s[i];
    }
}

// Source over a destination that carries its own coverage: the colours mix
// in proportion to the two alphas and the destination plane takes the
// combined coverage sa + da * (255 - sa) / 255.
template <typename T, uint32_t F>
void CompositeOverAlpha(const void* src, int32_t sx, int32_t sy, void* dst, int32_t dx,
                        int32_t dy, int32_t w, int32_t h, int32_t srcRowLength,
                        int32_t dstRowLength, const uint8_t* srcAlpha, int32_t srcAlphaBytesPerRow,
                        uint8_t* dstAlpha, int32_t dstAlphaBytesPerRow)
{
    for (int32_t j = 0; j < h; ++j) {
        const T* s = RowAt<T>(src, srcRowLength, sx, sy + j);
        T* d = RowAt<T>(dst, dstRowLength, dx, dy + j);
        const uint8_t* sa = PlaneRow(srcAlpha, srcAlphaBytesPerRow, sy + j) + sx;
        uint8_t* da = dstAlpha + static_cast<ptrdiff_t>(dstAlphaBytesPerRow) * (dy + j) + dx;
        for (int32_t i = 0; i < w; ++i) {
            uint32_t a = sa[i];
            if (a == 0) continue;
            if (a == 255) {
                d[i] = s[i];
                da[i] = 255;
                continue;
            }
            uint32_t under = da[i] * (255 - a) / 255;
            uint32_t out = a + under;
            // The share of the source in the result, out of 256: the plain
            // blend over an opaque destination, the whole source over a
            // transparent one.
            uint32_t share = a * 256 / out;
            d[i] = static_cast<T>(BlendPixel<F>(d[i], s[i], share));
            da[i] = static_cast<uint8_t>(out);
        }
    }
}

struct AlphaKernels {
    void (*blend)(const void*, int32_t, int32_t, void*, int32_t, int32_t, int32_t, int32_t,
                  int32_t, int32_t, const uint8_t*, int32_t);
    void (*composite)(const void*, int32_t, int32_t, void*, int32_t, int32_t, int32_t, int32_t,
                      int32_t, int32_t, const uint8_t*, int32_t, uint8_t*, int32_t);
};

template <typename T, uint32_t F>
constexpr AlphaKernels MakeAlphaKernels()
{
    return {BlendRectAlpha<T, F>, CompositeOverAlpha<T, F>};
}

// Indexed by pixel format; 24-bit formats have no kernels.
const AlphaKernels kAlphaKernels[PIXFMT_COUNT] = {
    MakeAlphaKernels<uint16_t, 0>(),  MakeAlphaKernels<uint16_t, 1>(),
    MakeAlphaKernels<uint16_t, 2>(),  MakeAlphaKernels<uint16_t, 3>(),
    MakeAlphaKernels<uint16_t, 4>(),  MakeAlphaKernels<uint16_t, 5>(),
    MakeAlphaKernels<uint16_t, 6>(),  MakeAlphaKernels<uint16_t, 7>(),
    {nullptr, nullptr},               {nullptr, nullptr},
    MakeAlphaKernels<uint32_t, 10>(), MakeAlphaKernels<uint32_t, 11>(),
    MakeAlphaKernels<uint32_t, 12>(), MakeAlphaKernels<uint32_t, 13>(),
};

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
    const AlphaKernels& k = kAlphaKernels[srcFormat];
    switch (blendMode) {
    case BLEND_ALPHA:
        k.blend(srcPixels, sx, sy, dstPixels, dx, dy, w, h, srcRowLength, dstRowLength,
                srcAlphaPixels, srcAlphaBytesPerRow);
        break;
    case BLEND_COPY_WHERE:
        if (bytesPerPixel == 4)
            CopyWhereAlpha<uint32_t>(srcPixels, sx, sy, dstPixels, dx, dy, w, h, srcRowLength,
                                     dstRowLength, srcAlphaPixels, srcAlphaBytesPerRow);
        else
            CopyWhereAlpha<uint16_t>(srcPixels, sx, sy, dstPixels, dx, dy, w, h, srcRowLength,
                                     dstRowLength, srcAlphaPixels, srcAlphaBytesPerRow);
        break;
    case BLEND_COMPOSITE:
        if (dstAlphaPixels)
            k.composite(srcPixels, sx, sy, dstPixels, dx, dy, w, h, srcRowLength, dstRowLength,
                        srcAlphaPixels, srcAlphaBytesPerRow, dstAlphaPixels, dstAlphaBytesPerRow);
        else
            k.blend(srcPixels, sx, sy, dstPixels, dx, dy, w, h, srcRowLength, dstRowLength,
                    srcAlphaPixels, srcAlphaBytesPerRow);
        break;
    default: break;
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
    for (int32_t j = 0; j < h; ++j) {
        if (bpp == 4) {
            uint32_t* row = RowAt<uint32_t>(pixels, rowLength, x, y + j);
            for (int32_t i = 0; i < w; ++i) row[i] = value;
        } else {
            uint16_t* row = RowAt<uint16_t>(pixels, rowLength, x, y + j);
            for (int32_t i = 0; i < w; ++i) row[i] = static_cast<uint16_t>(value);
        }
    }
}

void CopyPixelRect32(int32_t sy, int32_t dstRowLength, int32_t dy, const uint32_t* src,
                     int32_t sx, uint32_t* dst, int32_t dx, int32_t w, int32_t h,
                     int32_t srcRowLength)
{
    CopyRect<uint32_t>(src, sx, sy, dst, dx, dy, w, h, srcRowLength, dstRowLength);
}
