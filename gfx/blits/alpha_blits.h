// Drawing a colour through a coverage plane (anti-aliased text and shapes)
// and combining 8-bit alpha planes.
#pragma once

#include <cstdint>

struct BitMapHandle;

// BltAlphaChannel coverage modes.
enum : uint32_t {
    COVERAGE_SOLID = 0,      // non-zero coverage writes the colour
    COVERAGE_BLEND = 1,      // blend by the coverage byte
    COVERAGE_ALPHA = 2,      // blend, and compose the coverage into dstAlpha
    COVERAGE_ALPHA16 = 3,    // as 2 from a 16-bit coverage plane, colour only
    COVERAGE_65LEVELS = 4,   // coverage 0..64
};

// Draws colour (or, with srcColour, that bitmap's pixels at the coverage
// position) into dst through the coverage bytes at (sx + i, sy + j) of
// alpha; non-zero alphaPixels / alphaBytesPerRow replace the plane's. The
// rectangle is cut to the bitmaps and planes it reads and writes. A null
// dst prints a line on the debug output and draws nothing.
void BltAlphaChannel(BitMapHandle* alpha, int32_t sx, int32_t sy, BitMapHandle* dst, int32_t dx,
                     int32_t dy, int32_t w, int32_t h, uint32_t colour, uint32_t mode,
                     BitMapHandle* dstAlpha, uint32_t factor, const uint16_t* coverage16,
                     int32_t coverage16RowLength, BitMapHandle* srcColour,
                     const uint8_t* alphaPixels, uint32_t alphaBytesPerRow);
// Clips like ClipBlitRect without a region first; negative source
// positions draw nothing.
void ClipBltAlphaChannel(BitMapHandle* alpha, int32_t sx, int32_t sy, BitMapHandle* dst,
                         int32_t dx, int32_t dy, int32_t w, int32_t h, int32_t srcW, int32_t srcH,
                         int32_t dstW, int32_t dstH, uint32_t colour, uint32_t mode,
                         BitMapHandle* dstAlpha, uint32_t factor, const uint16_t* coverage16,
                         int32_t coverage16RowLength, BitMapHandle* srcColour);

// Combines srcAlpha into dstAlpha by one of ten modes (0-9); the rectangle
// is cut to both planes.
void BltAlphaPlane(BitMapHandle* srcAlpha, int32_t sx, int32_t sy, BitMapHandle* dstAlpha,
                   int32_t dx, int32_t dy, int32_t w, int32_t h, uint32_t mode, uint32_t value);
void ClipBltAlphaPlane(BitMapHandle* srcAlpha, int32_t sx, int32_t sy, BitMapHandle* dstAlpha,
                       int32_t dx, int32_t dy, int32_t w, int32_t h, int32_t srcW, int32_t srcH,
                       int32_t dstW, int32_t dstH, uint32_t mode, uint32_t value);
