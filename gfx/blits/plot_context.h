// The plot context: where and how the drawing engine sets pixels (target
// pixels, colour or texture, opacity, clipping, the target's mask and alpha
// planes), and the routines that plot through it: one blended pixel, an
// anti-aliased one-pixel line, a thick line and a coverage map. Lines into
// memory bitmaps (SoftLine) draw through a context too.
//
// With clipping off the routines trust the caller to keep every pixel inside
// the target; with clipping on nothing outside the clip rectangle is read or
// written, and lines are cut to it before they are walked, so coordinates
// anywhere in the 32-bit range cost no more than the visible part.
#pragma once

#include <cstdint>

// Thirty words, zeroed before use; the words without a name here belong to
// the draw engine.
struct PlotContext {
    uint8_t* pixels;
    int32_t rowLength;  // pixels
    uint32_t bytesPerPixel;  // 2 or 4; others plot nothing
    const uint8_t* texture;  // same format as the target, or null
    int32_t textureRowLength;
    uint8_t* maskPlane;  // the target's mask plane, or null
    int32_t maskBytesPerRow;
    uint8_t* alphaPlane;  // the target's alpha plane, or null
    int32_t alphaBytesPerRow;
    uint32_t drawWords[4];
    int32_t thickness;  // pixels
    uint32_t format;
    uint32_t colour;  // ARGB
    uint32_t pixel;   // the colour as a pixel value of the format
    uint32_t factor;  // current blend factor 0..255, set per pixel by the routines
    uint32_t opacity;  // 0..255
    uint32_t red;  // channels of the colour, or of the texture pixel being blended
    uint32_t green;
    uint32_t blue;
    uint32_t clipping;
    int32_t clipX;
    int32_t clipY;
    int32_t clipWidth;
    int32_t clipHeight;
    const uint8_t* clipMask;  // 1 bit per pixel, relative to the clip rectangle, or null
    int32_t clipMaskBytesPerRow;
    uint32_t maskOp;  // mask operation for the target's mask plane
};

// Plots (x, y) with the context's current factor.
void PlotBlendedPixel(PlotContext* context, int32_t x, int32_t y);

// Plots (x, y) with the factor of a coverage 0..255 at the context's
// opacity. Coverage that comes to a factor of 0 plots nothing: an alpha
// target would otherwise take the colour with alpha 0 beside every edge.
void PlotCoverage(PlotContext* context, int32_t x, int32_t y, uint32_t coverage);

// Both ends included; coverage 255 - f on the pixel the line crosses and f
// on its neighbour, in 16.16 fixed point.
void DrawAntialiasedLine(PlotContext* context, int32_t x1, int32_t y1, int32_t x2, int32_t y2);

// A Bresenham line of spans as wide as the context's thickness across the
// line, every pixel with the context's current factor.
void DrawThickLine(PlotContext* context, int32_t x1, int32_t y1, int32_t x2, int32_t y2);

// Every non-zero byte of the width x height map (rows mapRowStep apart)
// plots (x0 + column, y0 + row): with the byte as coverage, or with solid
// set with the context's current factor.
void PlotCoverageMap(const uint8_t* map, int32_t x0, int32_t y0, PlotContext* context,
                     int32_t width, int32_t height, int32_t mapRowStep, int solid);

// A one-pixel line of the colour at the opacity into pixels of the format,
// cut to the width x height picture.
void SoftLine(void* pixels, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t argb,
              uint32_t opacity, uint32_t format, int32_t rowLength, int32_t width,
              int32_t height);
