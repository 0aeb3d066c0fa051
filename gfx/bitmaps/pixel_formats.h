// Pixel formats: the fourteen layouts a colour bitmap can hold, single-pixel
// conversions to and from ARGB, and per-format row converters chosen once
// through a table so that inner loops never branch on the format.
#pragma once

#include <cstdint>

enum PixelFormat : uint32_t {
    PIXFMT_RGB555 = 0,
    PIXFMT_BGR555 = 1,
    PIXFMT_RGB555_SWAPPED = 2,
    PIXFMT_BGR555_SWAPPED = 3,
    PIXFMT_RGB565 = 4,  // the native 16-bit layout
    PIXFMT_BGR565 = 5,
    PIXFMT_RGB565_SWAPPED = 6,
    PIXFMT_BGR565_SWAPPED = 7,
    PIXFMT_RGB24 = 8,
    PIXFMT_BGR24 = 9,
    PIXFMT_ARGB = 10,  // the native 32-bit layout
    PIXFMT_BGRA = 11,
    PIXFMT_RGBA = 12,
    PIXFMT_ABGR = 13,
    PIXFMT_ALPHAPLANE = 14,  // only in a BitMapLock
    PIXFMT_MASKPLANE = 15,   // only in a BitMapLock
    PIXFMT_COUNT = 14
};

uint32_t PixelFormatBits(uint32_t format);
uint32_t PixelFormatBytes(uint32_t format);

// The pixel value of an ARGB colour; channels keep their top bits; the alpha
// byte is the colour's only with keepAlpha; unknown formats give 0.
uint32_t ArgbToPixel(uint32_t argb, uint32_t format, int keepAlpha);
// The ARGB colour of a pixel value. 16-bit channels are widened by shifting
// alone; formats 8, 9 and unknown formats give 0.
uint32_t PixelToArgb(uint32_t pixel, uint32_t format, int keepAlpha);

// Kernel conversions between a format and the native layouts. The 32-bit
// pair drops alpha for formats 11-13; both pass unknown formats unchanged.
uint32_t PixelToFormat32(uint32_t format, uint32_t pixel);
uint32_t PixelFromFormat32(uint32_t format, uint32_t pixel);
uint32_t PixelToFormat16(uint32_t format, uint32_t pixel);
uint32_t PixelFromFormat16(uint32_t format, uint32_t pixel);

inline uint32_t ArgbToRgb565(uint32_t argb)
{
    return ((argb >> 8) & 0xF800) | ((argb >> 5) & 0x07E0) | ((argb >> 3) & 0x001F);
}

inline uint32_t Rgb565ToArgb(uint32_t v)
{
    return ((v & 0xF800) << 8) | ((v & 0x07E0) << 5) | ((v & 0x001F) << 3);
}

// One 8-bit channel blended toward s by a/256: d + floor((s - d) * a / 256).
// The right shift of a negative int is arithmetic on every compiler we
// build with, which gives the floor.
inline uint32_t BlendChannel(uint32_t d, uint32_t s, uint32_t a)
{
    return static_cast<uint32_t>(static_cast<int32_t>(d) +
                                 ((static_cast<int32_t>(s) - static_cast<int32_t>(d)) *
                                  static_cast<int32_t>(a) >> 8));
}

// Blends the three colour channels of two ARGB values; the alpha byte of
// the result is 0. d + floor((s - d) * a / 256) equals
// (d * (256 - a) + s * a) >> 8, whose operands are never negative, so red
// and blue share one multiply in separate 16-bit lanes.
inline uint32_t BlendArgb(uint32_t d, uint32_t s, uint32_t a)
{
    uint32_t na = 256 - a;
    uint32_t rb = (((d & 0xFF00FF) * na + (s & 0xFF00FF) * a) >> 8) & 0xFF00FF;
    uint32_t g = (((d & 0xFF00) * na + (s & 0xFF00) * a) >> 8) & 0xFF00;
    return rb | g;
}

// Row converters of one format: `count` pixels between the format's bytes
// and packed ARGB words, with the same channel rules as ArgbToPixel and
// PixelToArgb.
struct PixelRowKernels {
    void (*toArgb)(const uint8_t* src, uint32_t* argb, int32_t count, int keepAlpha);
    void (*fromArgb)(const uint32_t* argb, uint8_t* dst, int32_t count, int keepAlpha);
};

// The converters of a colour format, or null for 14 and above.
const PixelRowKernels* GetPixelRowKernels(uint32_t format);

// Writes the rectangle {x, y, w, h} of the pixels as a tightly packed ARGB
// array; only formats 4 and 10-13 are converted, others write nothing.
void ConvertRectToArgb(const void* pixels, uint32_t* argb, int32_t x, int32_t y, int32_t w,
                       int32_t h, int32_t rowLength, uint32_t bytesPerPixel, uint32_t format);

// Copies the alpha byte of every ARGB pixel into an 8-bit plane.
void ExtractAlphaBytes(const uint32_t* argb, int32_t w, int32_t h, int32_t rowLength,
                       uint8_t* alpha, int32_t alphaBytesPerRow);
