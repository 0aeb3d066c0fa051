// Single pixels and coverage maps through a plot context. The coverage map
// of a plain colour into a target without planes, texture or clip mask (the
// common case of text and shapes) goes through the coverage row kernel of
// the blend table; everything else goes pixel by pixel, with the same
// result.
#include "gfx/blits/plot_context.h"

#include <algorithm>
#include <cstddef>

#include "gfx/bitmaps/picture_bits.h"
#include "gfx/bitmaps/pixel_formats.h"
#include "gfx/blits/blend_kernels.h"
#include "gfx/blits/plane_ops.h"

namespace {

inline uint8_t* PixelAddress(uint8_t* pixels, int32_t rowLength, uint32_t bpp, int32_t x, int32_t y)
{
    return pixels + (static_cast<ptrdiff_t>(rowLength) * y + x) * static_cast<ptrdiff_t>(bpp);
}

inline uint32_t ReadPixel(const uint8_t* p, uint32_t bpp)
{
    return bpp == 4 ? *reinterpret_cast<const uint32_t*>(p) : *reinterpret_cast<const uint16_t*>(p);
}

inline void WritePixel(uint8_t* p, uint32_t bpp, uint32_t v)
{
    if (bpp == 4) *reinterpret_cast<uint32_t*>(p) = v;
    else *reinterpret_cast<uint16_t*>(p) = static_cast<uint16_t>(v);
}

inline uint32_t CoverageFactor(const PlotContext* c, uint32_t coverage)
{
    return c->opacity >= 255 ? coverage : coverage * c->opacity / 255;
}

// The map's columns [*first, *last) and rows that lie inside the clip
// rectangle; false when none do.
bool ClipMapArea(const PlotContext* c, int32_t x0, int32_t y0, int32_t width, int32_t height,
                 int32_t* col0, int32_t* col1, int32_t* row0, int32_t* row1)
{
    int64_t left = 0, right = width, top = 0, bottom = height;
    if (c->clipping) {
        left = std::max<int64_t>(left, int64_t{c->clipX} - x0);
        right = std::min<int64_t>(right, int64_t{c->clipX} + c->clipWidth - x0);
        top = std::max<int64_t>(top, int64_t{c->clipY} - y0);
        bottom = std::min<int64_t>(bottom, int64_t{c->clipY} + c->clipHeight - y0);
    }
    if (left >= right || top >= bottom) return false;
    *col0 = static_cast<int32_t>(left);
    *col1 = static_cast<int32_t>(right);
    *row0 = static_cast<int32_t>(top);
    *row1 = static_cast<int32_t>(bottom);
    return true;
}

}  // namespace

void PlotBlendedPixel(PlotContext* c, int32_t x, int32_t y)
{
    uint32_t bpp = c->bytesPerPixel;
    if (bpp != 2 && bpp != 4) return;
    if (c->clipping) {
        int64_t cx = int64_t{x} - c->clipX, cy = int64_t{y} - c->clipY;
        if (cx < 0 || cy < 0 || cx >= c->clipWidth || cy >= c->clipHeight) return;
        if (c->clipMask && !MaskBitAt(c->clipMask + static_cast<ptrdiff_t>(c->clipMaskBytesPerRow) * cy,
                                      static_cast<int32_t>(cx)))
            return;
    }
    uint32_t value = c->pixel;
    if (c->texture) {
        value = ReadPixel(PixelAddress(const_cast<uint8_t*>(c->texture), c->textureRowLength, bpp, x, y), bpp);
        uint32_t argb = PixelToArgb(value, c->format, 0);
        c->red = (argb >> 16) & 0xFF;
        c->green = (argb >> 8) & 0xFF;
        c->blue = argb & 0xFF;
    }
    uint8_t* p = PixelAddress(c->pixels, c->rowLength, bpp, x, y);
    // With an alpha target the colour goes in whole: the plane carries the
    // coverage.
    if (c->factor >= 255 || c->alphaPlane) WritePixel(p, bpp, value);
    else WritePixel(p, bpp, BlendFormatPixel(c->format, ReadPixel(p, bpp), value, c->factor));
    if (c->maskPlane)
        ApplyMaskOpToBit(c->maskPlane + static_cast<ptrdiff_t>(c->maskBytesPerRow) * y, x, c->maskOp);
    if (c->alphaPlane)
        c->alphaPlane[static_cast<ptrdiff_t>(c->alphaBytesPerRow) * y + x] =
            static_cast<uint8_t>(std::min<uint32_t>(c->factor, 255));
}

void PlotCoverage(PlotContext* c, int32_t x, int32_t y, uint32_t coverage)
{
    uint32_t factor = CoverageFactor(c, coverage);
    if (factor == 0) return;
    c->factor = factor;
    PlotBlendedPixel(c, x, y);
}

void PlotCoverageMap(const uint8_t* map, int32_t x0, int32_t y0, PlotContext* c, int32_t width,
                     int32_t height, int32_t mapRowStep, int solid)
{
    uint32_t bpp = c->bytesPerPixel;
    if (!map || (bpp != 2 && bpp != 4)) return;
    int32_t col0, col1, row0, row1;
    if (!ClipMapArea(c, x0, y0, width, height, &col0, &col1, &row0, &row1)) return;
    const BlendRowKernels* k = GetBlendRowKernels(c->format);
    if (!k || c->texture || c->maskPlane || c->alphaPlane || (c->clipping && c->clipMask)) {
        uint32_t factor = c->factor;
        for (int32_t j = row0; j < row1; ++j) {
            const uint8_t* m = map + static_cast<ptrdiff_t>(mapRowStep) * j;
            for (int32_t i = col0; i < col1; ++i) {
                if (!m[i]) continue;
                if (!solid) {
                    PlotCoverage(c, x0 + i, y0 + j, m[i]);
                } else if (factor != 0) {
                    c->factor = factor;
                    PlotBlendedPixel(c, x0 + i, y0 + j);
                }
            }
        }
        return;
    }
    // Coverage bytes become blend factors through a table; the row kernel
    // leaves factor 0 alone and stores the colour at 255, as the single
    // pixel does.
    uint8_t factors[256];
    for (uint32_t v = 0; v < 256; ++v)
        factors[v] = static_cast<uint8_t>(v == 0 ? 0 : solid ? std::min<uint32_t>(c->factor, 255)
                                                             : CoverageFactor(c, v));
    bool direct = !solid && c->opacity >= 255;
    uint8_t scratch[256];
    for (int32_t j = row0; j < row1; ++j) {
        const uint8_t* m = map + static_cast<ptrdiff_t>(mapRowStep) * j;
        for (int32_t i = col0; i < col1; i += 256) {
            int32_t n = std::min(col1 - i, 256);
            const uint8_t* a = m + i;
            if (!direct) {
                for (int32_t t = 0; t < n; ++t) scratch[t] = factors[a[t]];
                a = scratch;
            }
            k->cover(PixelAddress(c->pixels, c->rowLength, bpp, x0 + i, y0 + j), c->pixel, a, n);
        }
    }
}
