// Colour gradients: linear, radial and conical fills of a rectangle of
// locked pixels, with two colours or up to 64 colour stops. The colour
// along a gradient is looked up in a stop table of 16.16 positions and
// blended with an 8-bit weight in packed form (red and blue in one word).
//
// RenderGradient is the one renderer: DrawGradient (a bitmap handle), the
// display's gradient fills and the gradient backfills all go through it.
#pragma once

#include <cstdint>

struct BitMapHandle;

// Gradient types (the script constants LINEAR, RADIAL, CONICAL).
enum : uint32_t { GRADIENT_LINEAR = 2, GRADIENT_RADIAL = 3, GRADIENT_CONICAL = 4 };

// Spread modes of a segment cursor.
enum : uint32_t { GRADIENT_REPEAT = 1, GRADIENT_PAD = 2, GRADIENT_REFLECT = 3 };

constexpr uint32_t kGradientMaxStops = 64;

struct GradientStop {
    uint32_t color;   // ARGB
    double position;  // 0.0 .. 1.0
};

// What callers fill. With stopCount 0 the two colours make the gradient.
struct GradientSpec {
    uint32_t type;  // GRADIENT_*
    uint32_t color1;
    uint32_t color2;
    uint32_t stopCount;
    int32_t angle;  // whole degrees
    GradientStop stops[kGradientMaxStops];
    double centerX;  // fractions of the width and height
    double centerY;
    double conicalPosition;  // fraction of a turn where the first colour stands
    double radial;           // 0 reaches the farthest corner; 1.0 counts as 0.99
};

// The rectangle (x, y, w, h) is the gradient's; pixels outside the target
// (targetWidth x targetHeight from `pixels`) are skipped without moving
// the gradient, so a rectangle partly off the target shows the part of the
// same gradient that falls on it.
struct GradientParams {
    uint8_t* pixels;
    uint32_t bytesPerPixel;
    uint32_t format;
    int32_t x;
    int32_t y;
    int32_t w;
    int32_t h;
    int32_t rowLength;  // in pixels
    const GradientSpec* spec;
    int32_t targetWidth;
    int32_t targetHeight;
};

// One entry of the stop table: a 16.16 position (0x10000 = the end) and the
// channels widened to 16 bits (value * 257).
struct GradientStopEntry {
    int32_t position;
    uint16_t red;
    uint16_t green;
    uint16_t blue;
};

// The cursor over the segment a position falls in. Ends are 64-bit so that
// periods shifted far out by repeat and reflect cannot overflow.
struct GradientSegment {
    int64_t start;
    int64_t end;
    uint32_t rb0, rb1;  // (R << 16) | B of the two ends
    uint32_t g0, g1;
    int64_t step;  // weight per position unit, 16.16
    uint32_t needsSeek;
    const GradientStopEntry* stops;
    uint32_t count;
    uint32_t spread;  // GRADIENT_REPEAT, _PAD, _REFLECT; others pad with black
};

// Builds the stop table of a gradient description (at most kGradientMaxStops + 1 entries):
// the stops clamped to 0..1 and kept in order, or the two-colour defaults.
// Answers the entry count, 0 when the description holds more than 64 stops.
uint32_t BuildGradientStops(const GradientSpec* spec, GradientStopEntry* table);

// A fresh cursor over a stop table.
void InitGradientSegment(GradientSegment* segment, const GradientStopEntry* stops, uint32_t count,
                         uint32_t spread);
// Points the cursor at the pair of stops around a 16.16 position.
void GradientSeek(GradientSegment* segment, int64_t position);
// The colour at a position: native ARGB with alpha 0, or RGB565.
uint32_t GradientColor32(int32_t position, GradientSegment* segment);
uint32_t GradientColor16(int32_t position, GradientSegment* segment);

// Fills the rectangle. 0; ERR_WRONGUSAGE for more than 64 stops. Unknown
// types and 24-bit pixels write nothing.
uint32_t RenderGradient(const GradientParams& params);

// Locks dst and renders into it. A null dst prints one line on the debug
// output and does nothing. 0, ERR_LOCKBITMAP or RenderGradient's error.
uint32_t DrawGradient(BitMapHandle* dst, int32_t x, int32_t y, int32_t w, int32_t h,
                      const GradientSpec* spec);
