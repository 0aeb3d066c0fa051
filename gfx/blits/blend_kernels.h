// The blend kernels of the pixel engine, one row at a time: the alpha blit
// (mode 0), the copy where alpha is set (mode 1), the composite over a
// destination alpha plane (mode 2), the tint fill, the coverage plot and
// the plain fill.
// Each pixel format has its own row kernels, chosen through a table so the
// loops never test the format. Three tables exist: the scalar reference,
// SSE2 and AVX2; the fastest one the processor runs is chosen once, and the
// vector tables must give the same bytes as the reference.
#pragma once

#include <cstdint>

#include "gfx/bitmaps/pixel_formats.h"

// One pixel pair of format F blended by a/256 (a up to 256) in the native
// layout: ARGB for 32-bit formats, RGB565 widened by shifting for 16-bit
// ones; the alpha byte of the result is 0.
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

// The 16-bit kernels work on channels of 8 bits holding the top bits of
// RGB565 (red and blue 5, green 6) and mask results back to those bits.
inline uint32_t Tint565(uint32_t v, uint32_t t, uint32_t level)
{
    uint32_t r = (v >> 8) & 0xF8, g = (v >> 3) & 0xFC, b = (v << 3) & 0xFF;
    uint32_t tr = (t >> 8) & 0xF8, tg = (t >> 3) & 0xFC, tb = (t << 3) & 0xFF;
    r = BlendChannel(r, tr, level) & 0xF8;
    g = BlendChannel(g, tg, level) & 0xFC;
    b = BlendChannel(b, tb, level) & 0xFF;
    return (r << 8) | (g << 3) | (b >> 3);
}

// BlendPixel of a format chosen at run time (2- and 4-byte formats; others
// give d).
uint32_t BlendFormatPixel(uint32_t format, uint32_t d, uint32_t s, uint32_t a);

// Row kernels of one pixel format. Pointers are to the first pixel of the
// row; n pixels are processed.
struct BlendRowKernels {
    // Mode 0: alpha 0 keeps the destination, 255 stores the source as it
    // is, other values blend.
    void (*blend)(void* dst, const void* src, const uint8_t* alpha, int32_t n);
    // Mode 1: the source where its alpha is non-zero.
    void (*copyWhere)(void* dst, const void* src, const uint8_t* alpha, int32_t n);
    // Mode 2: over a destination with its own alpha plane, which takes the
    // combined coverage.
    void (*composite)(void* dst, const void* src, const uint8_t* alpha, uint8_t* dstAlpha,
                      int32_t n);
    // Mode 0 with one source pixel value for the whole row (the coverage
    // plot of a plain colour).
    void (*cover)(void* dst, uint32_t value, const uint8_t* alpha, int32_t n);
    // Every pixel blended toward the colour by level/256 (0..256), with no
    // special levels. The colour is ARGB for 32-bit formats and RGB565 for
    // 16-bit ones.
    void (*tint)(void* dst, uint32_t colour, uint32_t level, int32_t n);
    // Every pixel set to the pixel value.
    void (*fill)(void* dst, uint32_t value, int32_t n);
};

enum BlendPath : uint32_t { BLENDPATH_SCALAR = 0, BLENDPATH_SSE2 = 1, BLENDPATH_AVX2 = 2 };

// The kernels of a 2- or 4-byte format on the current path; null for other
// formats.
const BlendRowKernels* GetBlendRowKernels(uint32_t format);

// The path in use, and a way to force one (tests and benchmarks): 0, or 1
// when the processor cannot run it.
uint32_t GetBlendPath();
uint32_t SetBlendPath(uint32_t path);

// The per-path tables, indexed by pixel format (null entries for 24-bit
// formats); defined by the scalar, SSE2 and AVX2 modules.
extern const BlendRowKernels* const kScalarBlendKernels[PIXFMT_COUNT];
extern const BlendRowKernels* const kSse2BlendKernels[PIXFMT_COUNT];
extern const BlendRowKernels* const kAvx2BlendKernels[PIXFMT_COUNT];
