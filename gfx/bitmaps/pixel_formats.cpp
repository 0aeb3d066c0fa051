#include "gfx/bitmaps/pixel_formats.h"

#include <cstring>

#include "gfx/bitmaps/rgb565_layouts.h"

namespace {

// ARGB <-> the 32-bit formats; alpha travels only with keepAlpha.
template <uint32_t F>
inline uint32_t FromArgb32(uint32_t c, uint32_t alphaMask)
{
    uint32_t a = c >> 24 & alphaMask, r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
    if constexpr (F == 10) return (a << 24) | (r << 16) | (g << 8) | b;
    else if constexpr (F == 11) return (b << 24) | (g << 16) | (r << 8) | a;
    else if constexpr (F == 12) return (r << 24) | (g << 16) | (b << 8) | a;
    else return (a << 24) | (b << 16) | (g << 8) | r;
}

template <uint32_t F>
inline uint32_t ToArgb32(uint32_t p, uint32_t alphaMask)
{
    uint32_t a, r, g, b;
    if constexpr (F == 10) {
        return p & ((alphaMask << 24) | 0xFFFFFF);
    } else if constexpr (F == 11) {
        b = p >> 24; g = (p >> 16) & 0xFF; r = (p >> 8) & 0xFF; a = p & 0xFF;
    } else if constexpr (F == 12) {
        r = p >> 24; g = (p >> 16) & 0xFF; b = (p >> 8) & 0xFF; a = p & 0xFF;
    } else {
        a = p >> 24; b = (p >> 16) & 0xFF; g = (p >> 8) & 0xFF; r = p & 0xFF;
    }
    return ((a & alphaMask) << 24) | (r << 16) | (g << 8) | b;
}

inline uint32_t AlphaMask(int keepAlpha) { return keepAlpha ? 0xFF : 0; }

template <uint32_t F>
void Row16ToArgb(const uint8_t* src, uint32_t* argb, int32_t count, int)
{
    for (int32_t i = 0; i < count; ++i) {
        uint16_t p;
        std::memcpy(&p, src + 2 * i, 2);
        argb[i] = Rgb565ToArgb(To565<F>(uint32_t{p}));
    }
}

template <uint32_t F>
void Row16FromArgb(const uint32_t* argb, uint8_t* dst, int32_t count, int)
{
    for (int32_t i = 0; i < count; ++i) {
        uint16_t p = static_cast<uint16_t>(From565<F>(ArgbToRgb565(argb[i])));
        std::memcpy(dst + 2 * i, &p, 2);
    }
}

// 24-bit pixels are three bytes in memory: format 8 red first, 9 blue first.
template <uint32_t F>
void Row24ToArgb(const uint8_t* src, uint32_t* argb, int32_t count, int)
{
    constexpr int kR = F == 8 ? 0 : 2, kB = F == 8 ? 2 : 0;
    for (int32_t i = 0; i < count; ++i, src += 3)
        argb[i] = (uint32_t{src[kR]} << 16) | (uint32_t{src[1]} << 8) | src[kB];
}

template <uint32_t F>
void Row24FromArgb(const uint32_t* argb, uint8_t* dst, int32_t count, int)
{
    constexpr int kR = F == 8 ? 0 : 2, kB = F == 8 ? 2 : 0;
    for (int32_t i = 0; i < count; ++i, dst += 3) {
        dst[kR] = static_cast<uint8_t>(argb[i] >> 16);
        dst[1] = static_cast<uint8_t>(argb[i] >> 8);
        dst[kB] = static_cast<uint8_t>(argb[i]);
    }
}

template <uint32_t F>
void Row32ToArgb(const uint8_t* src, uint32_t* argb, int32_t count, int keepAlpha)
{
    uint32_t alphaMask = AlphaMask(keepAlpha);
    for (int32_t i = 0; i < count; ++i) {
        uint32_t p;
        std::memcpy(&p, src + 4 * i, 4);
        argb[i] = ToArgb32<F>(p, alphaMask);
    }
}

template <uint32_t F>
void Row32FromArgb(const uint32_t* argb, uint8_t* dst, int32_t count, int keepAlpha)
{
    uint32_t alphaMask = AlphaMask(keepAlpha);
    for (int32_t i = 0; i < count; ++i) {
        uint32_t p = FromArgb32<F>(argb[i], alphaMask);
        std::memcpy(dst + 4 * i, &p, 4);
    }
}

const PixelRowKernels kRowKernels[PIXFMT_COUNT] = {
    {Row16ToArgb<0>, Row16FromArgb<0>}, {Row16ToArgb<1>, Row16FromArgb<1>},
    {Row16ToArgb<2>, Row16FromArgb<2>}, {Row16ToArgb<3>, Row16FromArgb<3>},
    {Row16ToArgb<4>, Row16FromArgb<4>}, {Row16ToArgb<5>, Row16FromArgb<5>},
    {Row16ToArgb<6>, Row16FromArgb<6>}, {Row16ToArgb<7>, Row16FromArgb<7>},
    {Row24ToArgb<8>, Row24FromArgb<8>}, {Row24ToArgb<9>, Row24FromArgb<9>},
    {Row32ToArgb<10>, Row32FromArgb<10>}, {Row32ToArgb<11>, Row32FromArgb<11>},
    {Row32ToArgb<12>, Row32FromArgb<12>}, {Row32ToArgb<13>, Row32FromArgb<13>},
};

typedef uint32_t (*PixelConvertFunc)(uint32_t);

template <uint32_t F>
uint32_t From565Entry(uint32_t v) { return From565<F>(v & 0xFFFF); }
template <uint32_t F>
uint32_t To565Entry(uint32_t p) { return To565<F>(p & 0xFFFF); }

const PixelConvertFunc kFrom565[8] = {From565Entry<0>, From565Entry<1>, From565Entry<2>,
                                      From565Entry<3>, From565Entry<4>, From565Entry<5>,
                                      From565Entry<6>, From565Entry<7>};
const PixelConvertFunc kTo565[8] = {To565Entry<0>, To565Entry<1>, To565Entry<2>, To565Entry<3>,
                                    To565Entry<4>, To565Entry<5>, To565Entry<6>, To565Entry<7>};

}  // namespace

uint32_t PixelFormatBits(uint32_t format)
{
    if (format <= 3) return 15;
    if (format <= 7) return 16;
    if (format <= 9) return 24;
    if (format <= 13) return 32;
    return 0;
}

uint32_t PixelFormatBytes(uint32_t format)
{
    if (format <= 7) return 2;
    if (format <= 9) return 3;
    if (format <= 13) return 4;
    return 0;
}

uint32_t ArgbToPixel(uint32_t argb, uint32_t format, int keepAlpha)
{
    uint32_t alphaMask = AlphaMask(keepAlpha);
    switch (format) {
    case 0: case 1: case 2: case 3: case 4: case 5: case 6: case 7:
        return kFrom565[format](ArgbToRgb565(argb));
    case 8: return argb & 0xFFFFFF;
    case 9: return ((argb & 0xFF) << 16) | (argb & 0xFF00) | ((argb >> 16) & 0xFF);
    case 10: return FromArgb32<10>(argb, alphaMask);
    case 11: return FromArgb32<11>(argb, alphaMask);
    case 12: return FromArgb32<12>(argb, alphaMask);
    case 13: return FromArgb32<13>(argb, alphaMask);
    default: return 0;
    }
}

uint32_t PixelToArgb(uint32_t pixel, uint32_t format, int keepAlpha)
{
    uint32_t alphaMask = AlphaMask(keepAlpha);
    switch (format) {
    case 0: case 1: case 2: case 3: case 4: case 5: case 6: case 7:
        return Rgb565ToArgb(kTo565[format](pixel));
    case 10: return ToArgb32<10>(pixel, alphaMask);
    case 11: return ToArgb32<11>(pixel, alphaMask);
    case 12: return ToArgb32<12>(pixel, alphaMask);
    case 13: return ToArgb32<13>(pixel, alphaMask);
    default: return 0;
    }
}

uint32_t PixelToFormat32(uint32_t format, uint32_t pixel)
{
    switch (format) {
    case 11: return FromArgb32<11>(pixel, 0);
    case 12: return FromArgb32<12>(pixel, 0);
    case 13: return FromArgb32<13>(pixel, 0);
    default: return pixel;
    }
}

uint32_t PixelFromFormat32(uint32_t format, uint32_t pixel)
{
    switch (format) {
    case 11: return ToArgb32<11>(pixel, 0);
    case 12: return ToArgb32<12>(pixel, 0);
    case 13: return ToArgb32<13>(pixel, 0);
    default: return pixel;
    }
}

uint32_t PixelToFormat16(uint32_t format, uint32_t pixel)
{
    return format <= 7 ? kFrom565[format](pixel) : pixel;
}

uint32_t PixelFromFormat16(uint32_t format, uint32_t pixel)
{
    return format <= 7 ? kTo565[format](pixel) : pixel;
}

const PixelRowKernels* GetPixelRowKernels(uint32_t format)
{
    return format < PIXFMT_COUNT ? &kRowKernels[format] : nullptr;
}

void ConvertRectToArgb(const void* pixels, uint32_t* argb, int32_t x, int32_t y, int32_t w,
                       int32_t h, int32_t rowLength, uint32_t bytesPerPixel, uint32_t format)
{
    if (format != 4 && (format < 10 || format > 13)) return;
    if (w <= 0 || h <= 0) return;
    // Format 10 is copied with its alpha; 11 keeps its own alpha byte while
    // 12 and 13 give alpha 0.
    const PixelRowKernels& k = kRowKernels[format];
    int keepAlpha = format == 10 || format == 11;
    const uint8_t* base = static_cast<const uint8_t*>(pixels);
    size_t stride = static_cast<size_t>(rowLength) * bytesPerPixel;
    for (int32_t j = 0; j < h; ++j) {
        const uint8_t* row = base + static_cast<size_t>(y + j) * stride +
                             static_cast<size_t>(x) * bytesPerPixel;
        k.toArgb(row, argb + static_cast<size_t>(j) * w, w, keepAlpha);
    }
}

void ExtractAlphaBytes(const uint32_t* argb, int32_t w, int32_t h, int32_t rowLength,
                       uint8_t* alpha, int32_t alphaBytesPerRow)
{
    for (int32_t j = 0; j < h; ++j) {
        const uint32_t* src = argb + static_cast<size_t>(j) * rowLength;
        uint8_t* dst = alpha + static_cast<size_t>(j) * alphaBytesPerRow;
        for (int32_t i = 0; i < w; ++i) dst[i] = static_cast<uint8_t>(src[i] >> 24);
    }
}
