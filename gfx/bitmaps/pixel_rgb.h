// The R, G, B triple that the smooth scaler and the transform sampler work
// in, and its conversions from and to the pixel value of each format.
// 16-bit channels keep their top bits only (no low-bit fill), and the alpha
// byte of a 32-bit pixel packs as 0. 24-bit values (formats 8, 9) and
// unknown formats read as format 10; every channel is handled alike, so a
// 24-bit value packed the same way comes back in its own layout.
#pragma once

#include <cstdint>

inline uint32_t SwapPixelBytes16(uint32_t p) { return ((p & 0xFF) << 8) | ((p >> 8) & 0xFF); }

inline void UnpackPixelRgb(uint32_t p, uint32_t format, uint32_t* r, uint32_t* g, uint32_t* b)
{
    if (format == 2 || format == 3 || format == 6 || format == 7) {
        p = SwapPixelBytes16(p);
        format -= 2;
    }
    switch (format) {
    case 0: *r = (p >> 7) & 0xF8; *g = (p >> 2) & 0xF8; *b = (p << 3) & 0xFF; break;
    case 1: *b = (p >> 7) & 0xF8; *g = (p >> 2) & 0xF8; *r = (p << 3) & 0xFF; break;
    case 4: *r = (p >> 8) & 0xF8; *g = (p >> 3) & 0xFC; *b = (p << 3) & 0xFF; break;
    case 5: *b = (p >> 8) & 0xF8; *g = (p >> 3) & 0xFC; *r = (p << 3) & 0xFF; break;
    case 11: *b = p >> 24; *g = (p >> 16) & 0xFF; *r = (p >> 8) & 0xFF; break;
    case 12: *r = p >> 24; *g = (p >> 16) & 0xFF; *b = (p >> 8) & 0xFF; break;
    case 13: *b = (p >> 16) & 0xFF; *g = (p >> 8) & 0xFF; *r = p & 0xFF; break;
    default: *r = (p >> 16) & 0xFF; *g = (p >> 8) & 0xFF; *b = p & 0xFF; break;
    }
}

inline uint32_t PackPixelRgb(uint32_t r, uint32_t g, uint32_t b, uint32_t format)
{
    switch (format) {
    case 0: return ((r >> 3) << 10) | ((g & 0xF8) << 2) | (b >> 3);
    case 1: return ((b >> 3) << 10) | ((g & 0xF8) << 2) | (r >> 3);
    case 2: return SwapPixelBytes16(PackPixelRgb(r, g, b, 0));
    case 3: return SwapPixelBytes16(PackPixelRgb(r, g, b, 1));
    case 4: return ((r >> 3) << 11) | ((g & 0xFC) << 3) | (b >> 3);
    case 5: return ((b >> 3) << 11) | ((g & 0xFC) << 3) | (r >> 3);
    case 6: return SwapPixelBytes16(PackPixelRgb(r, g, b, 4));
    case 7: return SwapPixelBytes16(PackPixelRgb(r, g, b, 5));
    case 11: return (b << 24) | (g << 16) | (r << 8);
    case 12: return (r << 24) | (g << 16) | (b << 8);
    case 13: return (b << 16) | (g << 8) | r;
    default: return (r << 16) | (g << 8) | b;
    }
}

// Pixel values of 2, 3 or 4 bytes in memory.
inline uint32_t LoadPixelValue(const uint8_t* p, uint32_t bytesPerPixel)
{
    if (bytesPerPixel == 2) return p[0] | (uint32_t{p[1]} << 8);
    if (bytesPerPixel == 3) return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16);
    return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

inline void StorePixelValue(uint8_t* p, uint32_t bytesPerPixel, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    if (bytesPerPixel >= 3) p[2] = static_cast<uint8_t>(v >> 16);
    if (bytesPerPixel == 4) p[3] = static_cast<uint8_t>(v >> 24);
}
