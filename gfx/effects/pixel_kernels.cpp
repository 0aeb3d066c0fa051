#include "gfx/effects/pixel_kernels.h"

#include <cstddef>
#include <cstring>
#include <utility>

#include "gfx/bitmaps/picture_bits.h"
#include "gfx/bitmaps/pixel_formats.h"
#include "gfx/blits/blend_kernels.h"

namespace {

template <typename T>
inline T* Row(T* pixels, int32_t rowLength, int32_t y)
{
    return pixels + static_cast<ptrdiff_t>(rowLength) * y;
}


// Applies `op` to every pixel of a 32-bit rectangle in the native ARGB
// layout; non-native formats are converted per pixel.
template <typename Op>
void ForEachArgb(uint32_t* pixels, int32_t w, int32_t h, int32_t rowLength, uint32_t format, Op op)
{
    bool native = format == PIXFMT_ARGB || format > PIXFMT_ABGR;
    for (int32_t j = 0; j < h; ++j) {
        uint32_t* p = Row(pixels, rowLength, j);
        if (native) {
            for (int32_t i = 0; i < w; ++i) p[i] = op(p[i]);
        } else {
            for (int32_t i = 0; i < w; ++i)
                p[i] = PixelToFormat32(format, op(PixelFromFormat32(format, p[i])));
        }
    }
}

template <typename Op>
void ForEach565(uint16_t* pixels, int32_t w, int32_t h, int32_t rowLength, uint32_t format, Op op)
{
    bool native = format == PIXFMT_RGB565 || format > PIXFMT_BGR565_SWAPPED;
    for (int32_t j = 0; j < h; ++j) {
        uint16_t* p = Row(pixels, rowLength, j);
        if (native) {
            for (int32_t i = 0; i < w; ++i) p[i] = static_cast<uint16_t>(op(p[i]));
        } else {
            for (int32_t i = 0; i < w; ++i)
                p[i] = static_cast<uint16_t>(
                    PixelToFormat16(format, op(PixelFromFormat16(format, p[i]))));
        }
    }
}

inline uint32_t GrayLevel(uint32_t r, uint32_t g, uint32_t b, int threshold)
{
    uint32_t gray = static_cast<uint32_t>(g * 0.587 + r * 0.299 + b * 0.114);
    if (threshold) gray = gray < 129 ? 0 : 255;
    return gray;
}

// floor(16 * sqrt(i)) equals floor(sqrt(256 * i)), which integers give
// exactly, so the table is fixed at compile time.
struct SqrtTable {
    int32_t entry[256];
    constexpr SqrtTable() : entry()
    {
        for (int32_t i = 0; i < 256; ++i) {
            int32_t r = 0;
            while ((r + 1) * (r + 1) <= 256 * i) ++r;
            entry[i] = r;
        }
    }
};
constexpr SqrtTable kSqrtTable;

}  // namespace

void BuildMaskFromColor32(const uint32_t* pixels, uint8_t* maskRow, int32_t w, int32_t h,
                          int32_t maskBytesPerRow, uint32_t colour, int32_t rowLength,
                          uint32_t compareMask)
{
    for (int32_t j = 0; j < h; ++j) {
        const uint32_t* p = Row(pixels, rowLength, j);
        uint8_t* m = maskRow + static_cast<ptrdiff_t>(maskBytesPerRow) * j;
        for (int32_t i = 0; i < w; ++i) PutMaskBit(m, i, (p[i] & compareMask) != colour);
    }
}

void BuildMaskFromColor16(const uint16_t* pixels, uint8_t* maskRow, int32_t w, int32_t h,
                          int32_t maskBytesPerRow, uint32_t colour, int32_t rowLength)
{
    for (int32_t j = 0; j < h; ++j) {
        const uint16_t* p = Row(pixels, rowLength, j);
        uint8_t* m = maskRow + static_cast<ptrdiff_t>(maskBytesPerRow) * j;
        for (int32_t i = 0; i < w; ++i) PutMaskBit(m, i, p[i] != colour);
    }
}

void ReplaceColorsPixels32(int32_t w, int32_t h, const uint32_t* pairs, uint32_t* pixels,
                           int32_t rowLength, uint32_t compareMask)
{
    for (int32_t j = 0; j < h; ++j) {
        uint32_t* p = Row(pixels, rowLength, j);
        for (int32_t i = 0; i < w; ++i) {
            uint32_t v = p[i];
            for (const uint32_t* pair = pairs; pair[0] != 0xFFFFFFFF; pair += 2)
                if ((v & compareMask) == pair[0]) v = pair[1];
            p[i] = v;
        }
    }
}

void ReplaceColorsPixels16(int32_t w, int32_t h, const uint32_t* pairs, uint16_t* pixels,
                           int32_t rowLength)
{
    for (int32_t j = 0; j < h; ++j) {
        uint16_t* p = Row(pixels, rowLength, j);
        for (int32_t i = 0; i < w; ++i) {
            uint32_t v = p[i];
            for (const uint32_t* pair = pairs; pair[0] != 0xFFFFFFFF; pair += 2)
                if (v == (pair[0] & 0xFFFF)) v = pair[1] & 0xFFFF;
            p[i] = static_cast<uint16_t>(v);
        }
    }
}

void GrayPixels32(uint32_t* pixels, int32_t w, int32_t h, uint32_t format, int32_t rowLength,
                  int threshold)
{
    ForEachArgb(pixels, w, h, rowLength, format, [threshold](uint32_t c) {
        uint32_t g = GrayLevel((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF, threshold);
        return (g << 16) | (g << 8) | g;
    });
}

void GrayPixels16(uint16_t* pixels, int32_t w, int32_t h, uint32_t format, int32_t rowLength,
                  int threshold)
{
    ForEach565(pixels, w, h, rowLength, format, [threshold](uint32_t v) {
        uint32_t g = GrayLevel((v >> 8) & 0xF8, (v >> 3) & 0xFC, (v & 31) << 3, threshold);
        return ((g & 0xF8) << 8) | ((g & 0xFC) << 3) | (g >> 3);
    });
}

void InvertPixels32(uint32_t* pixels, int32_t w, int32_t h, int32_t rowLength)
{
    for (int32_t j = 0; j < h; ++j) {
        uint32_t* p = Row(pixels, rowLength, j);
        for (int32_t i = 0; i < w; ++i) p[i] = ~p[i];
    }
}

void InvertPixels16(uint16_t* pixels, int32_t w, int32_t h, int32_t rowLength)
{
    for (int32_t j = 0; j < h; ++j) {
        uint16_t* p = Row(pixels, rowLength, j);
        for (int32_t i = 0; i < w; ++i) p[i] = static_cast<uint16_t>(~p[i]);
    }
}

void InvertBytePlane(uint8_t* plane, int32_t rows, int32_t bytesPerRow)
{
    size_t n = static_cast<size_t>(rows) * static_cast<size_t>(bytesPerRow);
    for (size_t i = 0; i < n; ++i) plane[i] = static_cast<uint8_t>(~plane[i]);
}

// Formats outside the pair's range pass the per-pixel conversions
// unchanged, so they take the native layout's row kernel.
static void TintRows(const TintParams* b, uint32_t format, uint32_t bytesPerPixel)
{
    const BlendRowKernels* k = GetBlendRowKernels(format);
    uint8_t* origin = static_cast<uint8_t*>(b->pixels) +
                      (static_cast<ptrdiff_t>(b->rowLength) * b->y + b->x) * bytesPerPixel;
    for (int32_t j = 0; j < b->h; ++j)
        k->tint(origin + static_cast<ptrdiff_t>(b->rowLength) * bytesPerPixel * j, b->colour,
                b->level, b->w);
}

void TintPixels32(const TintParams* b)
{
    bool known = b->format >= PIXFMT_ARGB && b->format <= PIXFMT_ABGR;
    TintRows(b, known ? b->format : PIXFMT_ARGB, 4);
}

void TintPixels16(const TintParams* b)
{
    TintRows(b, b->format <= PIXFMT_BGR565_SWAPPED ? b->format : PIXFMT_RGB565, 2);
}

void MixPixels32(const MixParams* b)
{
    uint32_t keep = 255 - b->level;
    for (int32_t j = 0; j < b->h; ++j) {
        const uint32_t* s = Row(static_cast<const uint32_t*>(b->srcPixels), b->srcRowLength, j);
        uint32_t* d = Row(static_cast<uint32_t*>(b->dstPixels), b->dstRowLength, j);
        const uint8_t* m = b->srcMaskRow ? b->srcMaskRow + static_cast<ptrdiff_t>(b->maskBytesPerRow) * j
                                         : nullptr;
        for (int32_t i = 0; i < b->w; ++i) {
            if (m && !MaskBitAt(m, b->maskBitOffset + i)) continue;
            uint32_t sn = PixelFromFormat32(b->format, s[i]);
            uint32_t dn = PixelFromFormat32(b->format, d[i]);
            d[i] = PixelToFormat32(b->format, BlendArgb(sn, dn, keep));
        }
    }
}

void MixPixels16(const MixParams* b)
{
    uint32_t keep = 255 - b->level;
    for (int32_t j = 0; j < b->h; ++j) {
        const uint16_t* s = Row(static_cast<const uint16_t*>(b->srcPixels), b->srcRowLength, j);
        uint16_t* d = Row(static_cast<uint16_t*>(b->dstPixels), b->dstRowLength, j);
        const uint8_t* m = b->srcMaskRow ? b->srcMaskRow + static_cast<ptrdiff_t>(b->maskBytesPerRow) * j
                                         : nullptr;
        for (int32_t i = 0; i < b->w; ++i) {
            if (m && !MaskBitAt(m, b->maskBitOffset + i)) continue;
            uint32_t sn = PixelFromFormat16(b->format, s[i]);
            uint32_t dn = PixelFromFormat16(b->format, d[i]);
            d[i] = static_cast<uint16_t>(PixelToFormat16(b->format, Tint565(sn, dn, keep)));
        }
    }
}

// ---------------------------------------------------------------------------
// Flips

template <typename T>
static void MirrorRows(T* pixels, int32_t w, int32_t h, int32_t rowLength)
{
    for (int32_t j = 0; j < h; ++j) {
        T* p = Row(pixels, rowLength, j);
        for (int32_t i = 0; i < w / 2; ++i) std::swap(p[i], p[w - 1 - i]);
    }
}

template <typename T>
static void SwapRows(T* pixels, int32_t count, int32_t h, int32_t rowLength)
{
    for (int32_t j = 0; j < h / 2; ++j) {
        T* a = Row(pixels, rowLength, j);
        T* b = Row(pixels, rowLength, h - 1 - j);
        for (int32_t i = 0; i < count; ++i) std::swap(a[i], b[i]);
    }
}

void MirrorRowPixels32(uint32_t* pixels, int32_t w, int32_t h, int32_t rowLength) { MirrorRows(pixels, w, h, rowLength); }
void MirrorRowPixels16(uint16_t* pixels, int32_t w, int32_t h, int32_t rowLength) { MirrorRows(pixels, w, h, rowLength); }
void SwapPixelRows32(uint32_t* pixels, int32_t w, int32_t h, int32_t rowLength) { SwapRows(pixels, w, h, rowLength); }
void SwapPixelRows16(uint16_t* pixels, int32_t w, int32_t h, int32_t rowLength) { SwapRows(pixels, w, h, rowLength); }
void MirrorRowBytes(uint8_t* plane, int32_t w, int32_t h, int32_t bytesPerRow) { MirrorRows(plane, w, h, bytesPerRow); }
void SwapByteRows(uint8_t* plane, int32_t w, int32_t h, int32_t bytesPerRow) { SwapRows(plane, w, h, bytesPerRow); }
void SwapMaskRows(uint8_t* plane, int32_t h, int32_t bytesPerRow) { SwapRows(plane, bytesPerRow, h, bytesPerRow); }

void MirrorMaskRows(uint8_t* plane, int32_t w, int32_t h, int32_t bytesPerRow, uint8_t* scratch)
{
    for (int32_t j = 0; j < h; ++j) {
        uint8_t* row = plane + static_cast<ptrdiff_t>(bytesPerRow) * j;
        std::memcpy(scratch, row, static_cast<size_t>(bytesPerRow));
        for (int32_t i = 0; i < w; ++i) PutMaskBit(row, i, MaskBitAt(scratch, w - 1 - i));
    }
}

void FlipPixels(const FlipParams* b)
{
    if (b->horizontal) {
        if (b->bytesPerPixel == 4) MirrorRowPixels32(static_cast<uint32_t*>(b->pixels), b->w, b->h, b->rowLength);
        else if (b->bytesPerPixel == 2) MirrorRowPixels16(static_cast<uint16_t*>(b->pixels), b->w, b->h, b->rowLength);
        if (b->mask) MirrorMaskRows(b->mask, b->w, b->h, b->maskBytesPerRow, b->scratchRow);
        if (b->alpha) MirrorRowBytes(b->alpha, b->w, b->h, b->alphaBytesPerRow);
    } else {
        if (b->bytesPerPixel == 4) SwapPixelRows32(static_cast<uint32_t*>(b->pixels), b->w, b->h, b->rowLength);
        else if (b->bytesPerPixel == 2) SwapPixelRows16(static_cast<uint16_t*>(b->pixels), b->w, b->h, b->rowLength);
        if (b->mask) SwapMaskRows(b->mask, b->h, b->maskBytesPerRow);
        if (b->alpha) SwapByteRows(b->alpha, b->w, b->h, b->alphaBytesPerRow);
    }
}

// ---------------------------------------------------------------------------

template <typename T>
static void CopyWithMask(const CopyMaskParams* b)
{
    for (int32_t j = 0; j < b->h; ++j) {
        const T* s = static_cast<const T*>(b->srcPixels) +
                     static_cast<ptrdiff_t>(b->srcRowLength) * (b->sy + j) + b->sx;
        T* d = static_cast<T*>(b->dstPixels) + static_cast<ptrdiff_t>(b->dstRowLength) * (b->dy + j) + b->dx;
        if (b->srcMask) {
            const uint8_t* sm = b->srcMask + static_cast<ptrdiff_t>(b->srcMaskBytesPerRow) * (b->sy + j);
            uint8_t* dm = b->dstMask ? b->dstMask + static_cast<ptrdiff_t>(b->dstMaskBytesPerRow) * (b->dy + j)
                                     : nullptr;
            for (int32_t i = 0; i < b->w; ++i) {
                bool on = MaskBitAt(sm, b->sx + i);
                if (on) d[i] = s[i];
                if (dm) PutMaskBit(dm, b->dx + i, on);
            }
        } else if (b->srcAlpha) {
            const uint8_t* sa = b->srcAlpha + static_cast<ptrdiff_t>(b->srcAlphaBytesPerRow) * (b->sy + j) + b->sx;
            uint8_t* da = b->dstAlpha ? b->dstAlpha + static_cast<ptrdiff_t>(b->dstAlphaBytesPerRow) * (b->dy + j) + b->dx
                                      : nullptr;
            for (int32_t i = 0; i < b->w; ++i) {
                if (sa[i]) d[i] = s[i];
                if (da) da[i] = sa[i];
            }
        } else {
            std::memcpy(d, s, sizeof(T) * static_cast<size_t>(b->w));
        }
    }
}

uint32_t CopyPixelRectWithMask(const CopyMaskParams* block)
{
    if (block->bytesPerPixel == 4) CopyWithMask<uint32_t>(block);
    else if (block->bytesPerPixel == 2) CopyWithMask<uint16_t>(block);
    return 1;
}

void BuildDissolveMask(const DissolveParams* b, uint32_t threshold)
{
    for (int32_t j = 0; j < b->h; ++j) {
        const uint8_t* bytes = b->bytePlane + static_cast<ptrdiff_t>(b->w) * j;
        const uint8_t* src = b->srcPlane ? b->srcPlane + static_cast<ptrdiff_t>(b->srcBytesPerRow) * j : nullptr;
        uint8_t* dst = b->dstPlane + static_cast<ptrdiff_t>(b->dstBytesPerRow) * j;
        for (int32_t i = 0; i < b->w; ++i) {
            bool kept = (bytes[i] < threshold) != (b->invert != 0);
            if (b->byteOutput) {
                dst[i] = kept && src ? src[i] : 0;
            } else {
                PutMaskBit(dst, i, kept && (!src || MaskBitAt(src, i)));
            }
        }
    }
}

void FillPolygonPlane(uint8_t* plane, int32_t bytesPerRow, int32_t width, int32_t height,
                      int32_t* work, const int32_t* points, int32_t count)
{
    if (count < 2) return;
    int32_t minY = points[1], maxY = points[1];
    for (int32_t i = 1; i < count; ++i) {
        if (points[2 * i + 1] < minY) minY = points[2 * i + 1];
        if (points[2 * i + 1] > maxY) maxY = points[2 * i + 1];
    }
    // Rows outside the plane have nothing to fill.
    int32_t firstY = minY < 0 ? 0 : minY;
    int32_t lastY = maxY >= height ? height - 1 : maxY;
    for (int32_t y = firstY; y <= lastY; ++y) {
        int32_t n = 0;
        for (int32_t i = 0; i < count; ++i) {
            int32_t p = i == 0 ? count - 1 : i - 1;
            int64_t xa = points[2 * p], ya = points[2 * p + 1];
            int64_t xb = points[2 * i], yb = points[2 * i + 1];
            if (ya == yb) continue;
            if (ya > yb) {
                std::swap(xa, xb);
                std::swap(ya, yb);
            }
            if ((ya <= y && y < yb) || (y == maxY && ya < y && y <= yb)) {
                double x = static_cast<double>(xb - xa) * static_cast<double>(y - ya) /
                               static_cast<double>(yb - ya) + 0.5 + static_cast<double>(xa);
                int32_t v = static_cast<int32_t>(x);
                int32_t k = n++;
                while (k > 0 && work[k - 1] > v) {
                    work[k] = work[k - 1];
                    --k;
                }
                work[k] = v;
            }
        }
        uint8_t* row = plane + static_cast<ptrdiff_t>(bytesPerRow) * y;
        for (int32_t k = 0; k + 1 < n; k += 2) {
            int32_t x0 = work[k] < 0 ? 0 : work[k];
            int32_t x1 = work[k + 1] >= width ? width - 1 : work[k + 1];
            for (int32_t x = x0; x <= x1; ++x) PutMaskBit(row, x, true);
        }
    }
}

int32_t IntegerSqrt(int32_t x)
{
    const int32_t* T = kSqrtTable.entry;
    if (x < 0) return -1;
    if (x < 256) return T[x] >> 4;
    int32_t g;
    if (x < 65536) {
        if (x >= 16384) g = T[x >> 8];
        else if (x >= 4096) g = T[x >> 6] >> 1;
        else if (x >= 1024) g = T[x >> 4] >> 2;
        else g = T[x >> 2] >> 3;
        g += 1;
        return g * g > x ? g - 1 : g;
    }
    if (x < (1 << 24)) {
        if (x >= (1 << 22)) g = T[x >> 16] << 4;
        else if (x >= (1 << 20)) g = T[x >> 14] << 3;
        else if (x >= (1 << 18)) g = T[x >> 12] << 2;
        else g = T[x >> 10] << 1;
        g = (x / g + g + 1) >> 1;
    } else {
        if (x >= (1 << 30)) g = T[x >> 24] << 8;
        else if (x >= (1 << 28)) g = T[x >> 22] << 7;
        else if (x >= (1 << 26)) g = T[x >> 20] << 6;
        else g = T[x >> 18] << 5;
        g = (x / g + g + 1) >> 1;
        g = (x / g + g + 1) >> 1;
    }
    return static_cast<int64_t>(g) * g > x ? g - 1 : g;
}
