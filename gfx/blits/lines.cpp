// Lines through a plot context: the anti-aliased one-pixel line, the thick
// Bresenham line of spans, and SoftLine, the plain line into a memory
// bitmap. Coordinates are 32-bit and the walks use 64-bit arithmetic (the
// 16.16 positions and the error terms would wrap in 32 bits). With clipping
// on, a walk starts where the line enters the clip rectangle, its state
// there computed in closed form, and ends where it leaves; so does each
// span across the line.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "core/io/number_conv.h"
#include "gfx/bitmaps/pixel_formats.h"
#include "gfx/blits/plot_context.h"

namespace {

// The steps k in [0, last] whose position start + k lies in the clip range
// [low, low + size); false when none do. Without clipping, all of them.
bool ClipSteps(const PlotContext* c, int64_t start, int64_t last, int64_t low, int64_t size,
               int64_t* first, int64_t* end)
{
    *first = 0;
    *end = last;
    if (!c->clipping) return true;
    *first = std::max<int64_t>(0, low - start);
    *end = std::min<int64_t>(last, low + size - 1 - start);
    return *first <= *end;
}

// The part [from, to] of a span that lies in the clip range on its axis.
void ClipSpan(const PlotContext* c, int64_t low, int64_t size, int64_t* from, int64_t* to)
{
    if (!c->clipping) return;
    *from = std::max(*from, low);
    *to = std::min(*to, low + size - 1);
}

}  // namespace

void DrawAntialiasedLine(PlotContext* c, int32_t x1, int32_t y1, int32_t x2, int32_t y2)
{
    if (x1 == x2 && y1 == y2) {
        PlotCoverage(c, x1, y1, 255);
        return;
    }
    int64_t dx = int64_t{x2} - x1, dy = int64_t{y2} - y1;
    bool walkY = std::llabs(dx) <= std::llabs(dy);
    // Walk from the upper (or left) end.
    if ((walkY && dy < 0) || (!walkY && dx < 0)) {
        std::swap(x1, x2);
        std::swap(y1, y2);
        dx = -dx;
        dy = -dy;
    }
    int64_t major = walkY ? dy : dx;
    int64_t start = walkY ? y1 : x1;
    int64_t minorStart = walkY ? x1 : y1;
    int64_t step = (walkY ? dx : dy) * 65536 / major;
    int64_t first, last;
    if (!ClipSteps(c, start, major, walkY ? c->clipY : c->clipX,
                   walkY ? c->clipHeight : c->clipWidth, &first, &last))
        return;
    int64_t pos = minorStart * 65536 + first * step;
    for (int64_t k = first; k <= last; ++k, pos += step) {
        int32_t along = static_cast<int32_t>(start + k);
        int32_t across = static_cast<int32_t>(pos >> 16);
        int32_t next = static_cast<int32_t>((pos >> 16) + 1);
        uint32_t f = static_cast<uint32_t>(pos >> 8) & 255;
        if (walkY) {
            PlotCoverage(c, across, along, 255 - f);
            PlotCoverage(c, next, along, f);
        } else {
            PlotCoverage(c, along, across, 255 - f);
            PlotCoverage(c, along, next, f);
        }
    }
}

void DrawThickLine(PlotContext* c, int32_t x1, int32_t y1, int32_t x2, int32_t y2)
{
    int64_t adx = std::llabs(int64_t{x2} - x1), ady = std::llabs(int64_t{y2} - y1);
    bool steep = ady > adx;
    // Spans run across the line: horizontal for steep lines, vertical for
    // the others, as wide as the thickness measured across.
    int64_t width = 1;
    if (c->thickness > 0 && (adx != 0 || ady != 0)) {
        double angle = std::atan2(static_cast<double>(ady), static_cast<double>(adx));
        double across = steep ? std::sin(angle) : std::cos(angle);
        if (across != 0) width = DoubleToInt32(c->thickness / across);
        if (width < 1) width = 1;
    }
    if (steep ? y1 > y2 : x1 > x2) {
        std::swap(x1, x2);
        std::swap(y1, y2);
    }
    int64_t major = steep ? ady : adx, minor = steep ? adx : ady;
    int64_t start = steep ? y1 : x1;
    int64_t minorStart = steep ? x1 : y1;
    int64_t minorStep = (steep ? x2 >= x1 : y2 >= y1) ? 1 : -1;
    int64_t first, last;
    if (!ClipSteps(c, start, major, steep ? c->clipY : c->clipX,
                   steep ? c->clipHeight : c->clipWidth, &first, &last))
        return;
    // After k steps the error term 2 * minor - major has taken n minor steps,
    // n = floor((2 * k * minor + major - 1) / (2 * major)); 128-bit because
    // k * minor may pass 2^63.
    typedef __int128 Wide;
    Wide taken = major > 0 ? (Wide{2} * first * minor + major - 1) / (Wide{2} * major) : 0;
    int64_t m = minorStart + minorStep * static_cast<int64_t>(taken);
    int64_t error = static_cast<int64_t>(Wide{2} * minor * (first + 1) - major - Wide{2} * major * taken);
    int64_t clipLow = steep ? c->clipX : c->clipY;
    int64_t clipSize = steep ? c->clipWidth : c->clipHeight;
    for (int64_t k = first; k <= last; ++k) {
        int64_t from = m - width / 2, to = from + width - 1;
        ClipSpan(c, clipLow, clipSize, &from, &to);
        int32_t along = static_cast<int32_t>(start + k);
        for (int64_t p = from; p <= to; ++p) {
            if (steep) PlotBlendedPixel(c, static_cast<int32_t>(p), along);
            else PlotBlendedPixel(c, along, static_cast<int32_t>(p));
        }
        if (error > 0) {
            m += minorStep;
            error -= 2 * major;
        }
        error += 2 * minor;
    }
}

void SoftLine(void* pixels, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t argb,
              uint32_t opacity, uint32_t format, int32_t rowLength, int32_t width, int32_t height)
{
    uint32_t bpp = PixelFormatBytes(format);
    if (!pixels || (bpp != 2 && bpp != 4)) return;
    PlotContext c{};
    c.pixels = static_cast<uint8_t*>(pixels);
    c.rowLength = rowLength;
    c.bytesPerPixel = bpp;
    c.thickness = 1;
    c.format = format;
    c.colour = argb;
    c.pixel = ArgbToPixel(argb, format, 0);
    c.red = (argb >> 16) & 0xFF;
    c.green = (argb >> 8) & 0xFF;
    c.blue = argb & 0xFF;
    c.factor = std::min<uint32_t>(opacity, 255);
    c.opacity = 255;
    // The line is cut to the picture it draws into.
    c.clipping = 1;
    c.clipWidth = width;
    c.clipHeight = height;
    DrawThickLine(&c, x1, y1, x2, y2);
}
