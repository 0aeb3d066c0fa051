// Gradient rendering. Every pixel is sampled at its centre and its place
// along the gradient is a 16.16 position; a segment cursor remembers the
// pair of stops around the last position, so a row that stays inside one
// segment costs one compare per pixel. Positions always count from the
// gradient's own rectangle: clipping to the target only narrows the loops.
#include "gfx/effects/gradients.h"

#include <cmath>
#include <cstring>

#include "core/io/error_codes.h"
#include "core/io/utilities.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/bitmaps/pixel_formats.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;
constexpr int64_t kMinPosition = INT32_MIN;
constexpr int64_t kMaxPosition = INT32_MAX;

// Truncation of a position to a 16.16 integer; values beyond the 32-bit
// range (far outside any stop) saturate.
inline int32_t ToPosition(double v)
{
    if (!(v > -2147483648.0)) return v != v ? 0 : INT32_MIN;
    if (v >= 2147483647.0) return INT32_MAX;
    return static_cast<int32_t>(v);
}

double Clamp01(double v) { return v > 0 ? (v < 1 ? v : 1) : 0; }

GradientStopEntry StopEntry(int32_t position, uint32_t argb)
{
    return GradientStopEntry{position, static_cast<uint16_t>(((argb >> 16) & 255) * 257),
                             static_cast<uint16_t>(((argb >> 8) & 255) * 257),
                             static_cast<uint16_t>((argb & 255) * 257)};
}

// An end of a segment: its position and packed colour.
struct SegmentEnd {
    int64_t position;
    uint32_t rb;
    uint32_t g;
};

SegmentEnd EndOf(const GradientStopEntry& e, int64_t shift)
{
    return SegmentEnd{e.position + shift, uint32_t(e.red >> 8) << 16 | uint32_t(e.blue >> 8),
                      uint32_t(e.green >> 8)};
}

void SetSegment(GradientSegment* s, const SegmentEnd& a, const SegmentEnd& b)
{
    s->start = a.position;
    s->end = b.position;
    s->rb0 = a.rb;
    s->g0 = a.g;
    s->rb1 = b.rb;
    s->g1 = b.g;
    int64_t d = b.position - a.position;
    s->step = (a.rb == b.rb && a.g == b.g) || d <= 0 ? 0 : (d / 2 + 0x1000000) / d;
    s->needsSeek = 0;
}

// The first entry whose position lies beyond p.
uint32_t FirstAbove(const GradientStopEntry* stops, uint32_t count, int64_t p)
{
    uint32_t k = 0;
    while (k < count && stops[k].position <= p) ++k;
    return k;
}

void SeekPad(GradientSegment* s, int64_t p, bool black)
{
    const GradientStopEntry* t = s->stops;
    uint32_t n = s->count;
    uint32_t k = FirstAbove(t, n, p);
    const SegmentEnd none{0, 0, 0};
    if (k == 0) {
        SegmentEnd a = black ? none : EndOf(t[0], 0);
        a.position = kMinPosition;
        SegmentEnd b = black ? none : EndOf(t[0], 0);
        b.position = t[0].position;
        SetSegment(s, a, b);
    } else if (k == n) {
        SegmentEnd a = black ? none : EndOf(t[n - 1], 0);
        a.position = t[n - 1].position;
        SegmentEnd b = a;
        b.position = kMaxPosition + 1;
        SetSegment(s, a, b);
    } else {
        SetSegment(s, EndOf(t[k - 1], 0), EndOf(t[k], 0));
    }
}

void SeekRepeat(GradientSegment* s, int64_t p)
{
    const GradientStopEntry* t = s->stops;
    uint32_t n = s->count;
    int64_t q = p & 0xFFFF, base = p - q;
    uint32_t k = FirstAbove(t, n, q);
    SegmentEnd a = k == 0 ? EndOf(t[n - 1], base - 0x10000) : EndOf(t[k - 1], base);
    SegmentEnd b = k == n ? EndOf(t[0], base + 0x10000) : EndOf(t[k], base);
    SetSegment(s, a, b);
}

// Odd periods run backwards: q is mirrored into the stop domain, and the
// segment found there is mapped back into p's period with its ends
// exchanged.
void SeekReflect(GradientSegment* s, int64_t p)
{
    const GradientStopEntry* t = s->stops;
    uint32_t n = s->count;
    int64_t r = p & 0xFFFF, base = p - r;
    bool mirrored = (p & 0x10000) != 0;
    int64_t q = mirrored ? 0x10000 - r : r;
    // The stops with a virtual one mirrored before the first and after the
    // last, indexed 0 .. n + 1.
    auto entry = [&](uint32_t i) {
        if (i == 0) return EndOf(t[0], -2 * int64_t{t[0].position});
        if (i == n + 1) return EndOf(t[n - 1], 0x20000 - 2 * int64_t{t[n - 1].position});
        return EndOf(t[i - 1], 0);
    };
    uint32_t k = 1;
    while (k < n + 1 && entry(k).position <= q) ++k;
    SegmentEnd lo = entry(k - 1), hi = entry(k);
    if (mirrored) {
        SegmentEnd a = hi, b = lo;
        a.position = base + 0x10000 - hi.position;
        b.position = base + 0x10000 - lo.position;
        SetSegment(s, a, b);
    } else {
        lo.position += base;
        hi.position += base;
        SetSegment(s, lo, hi);
    }
}

inline void Weigh(int32_t p, GradientSegment* s, uint32_t* rb, uint32_t* g)
{
    if (s->needsSeek || p < s->start || p >= s->end) GradientSeek(s, p);
    int64_t t = ((int64_t{p} - s->start) * s->step) >> 16;
    if (t < 0) t = 0;
    if (t > 256) t = 256;
    uint32_t w = static_cast<uint32_t>(t);
    *rb = s->rb0 * (256 - w) + s->rb1 * w;
    *g = s->g1 * w + s->g0 * (256 - w);
}

inline uint32_t Color32(int32_t p, GradientSegment* s)
{
    uint32_t rb, g;
    Weigh(p, s, &rb, &g);
    return ((rb >> 8) & 0x00FF00FF) | (g & 0x0000FF00);
}

inline uint32_t Color16(int32_t p, GradientSegment* s)
{
    uint32_t rb, g;
    Weigh(p, s, &rb, &g);
    uint32_t red = (rb >> 24) & 0xF8, green = (g >> 8) & 0xFC, blue = (rb >> 8) & 0xFF;
    return ((((red << 5) | green) << 3) | (blue >> 3)) & 0xFFFF;
}

// What a row renderer needs: the positions of a row come from `position`
// for each column i of the gradient's rectangle; the row pointer stands at
// column `first`.
struct RowJob {
    const GradientStopEntry* stops;
    uint32_t count;
    uint32_t spread;
    uint32_t format;
    uint32_t bytesPerPixel;
    int32_t first;  // first column inside the target
    int32_t last;   // one past the last
};

// The geometry of each type, set up once per call.
struct Geometry {
    // Linear: position = base(y) + i * step.
    double linStep;
    double linX1, linY1, linDX, linDY, linScale;
    // Radial and conical: the centre in pixels.
    double cx, cy;
    double radiusScale;  // 65536 / R
    double startAngle;
};

template <typename Position>
void StoreRow(const RowJob& job, uint8_t* row, Position position)
{
    GradientSegment segment;
    InitGradientSegment(&segment, job.stops, job.count, job.spread);
    if (job.bytesPerPixel == 4) {
        auto* d = reinterpret_cast<uint32_t*>(row);
        if (job.format == PIXFMT_ARGB) {
            for (int32_t i = job.first; i < job.last; ++i) *d++ = Color32(position(i), &segment);
        } else {
            for (int32_t i = job.first; i < job.last; ++i)
                *d++ = PixelToFormat32(job.format, Color32(position(i), &segment));
        }
    } else if (job.bytesPerPixel == 2) {
        auto* d = reinterpret_cast<uint16_t*>(row);
        for (int32_t i = job.first; i < job.last; ++i) {
            uint32_t c = Color16(position(i), &segment);
            *d++ = static_cast<uint16_t>(job.format == PIXFMT_RGB565 ? c : PixelToFormat16(job.format, c));
        }
    }
}

void RenderLinearRow(int32_t y, uint8_t* row, const RowJob& job, const Geometry& g)
{
    double base = ((0.5 - g.linX1) * g.linDX + (y + 0.5 - g.linY1) * g.linDY) * g.linScale;
    double step = g.linStep;
    StoreRow(job, row, [=](int32_t i) { return ToPosition(base + i * step); });
}

void RenderRadialRow(int32_t y, uint8_t* row, const RowJob& job, const Geometry& g)
{
    double dy = y + 0.5 - g.cy, dy2 = dy * dy, dx0 = 0.5 - g.cx, scale = g.radiusScale;
    StoreRow(job, row, [=](int32_t i) {
        double dx = dx0 + i;
        return ToPosition(std::sqrt(dx * dx + dy2) * scale);
    });
}

void RenderConicalRow(int32_t y, uint8_t* row, const RowJob& job, const Geometry& g)
{
    double dy = y + 0.5 - g.cy, dx0 = 0.5 - g.cx, start = g.startAngle;
    StoreRow(job, row, [=](int32_t i) {
        // theta + 2 pi + start lies in [pi, 5 pi): two subtractions at most
        // stand in for the remainder.
        double v = std::atan2(dy, dx0 + i) + kTwoPi + start;
        if (v >= kTwoPi) v -= kTwoPi;
        if (v >= kTwoPi) v -= kTwoPi;
        return ToPosition((1 - v / kTwoPi) * 65536);
    });
}

using RowRenderer = void (*)(int32_t y, uint8_t* row, const RowJob& job, const Geometry& g);

// The axis of a linear gradient: from the corner farthest back along the
// direction (sin a, cos a) to the projection of the opposite corner.
void LinearAxis(int32_t angle, int32_t w, int32_t h, double* x1, double* y1, double* x2, double* y2)
{
    int32_t a = angle % 360;
    if (a < 0) a += 360;
    double fw = w, fh = h;
    switch (a) {
    case 0: *x1 = 0, *y1 = 0, *x2 = 0, *y2 = fh; return;
    case 90: *x1 = 0, *y1 = 0, *x2 = fw, *y2 = 0; return;
    case 180: *x1 = 0, *y1 = fh, *x2 = 0, *y2 = 0; return;
    case 270: *x1 = fw, *y1 = 0, *x2 = 0, *y2 = 0; return;
    default: break;
    }
    double sx = a < 180 ? 0 : fw;
    double sy = a < 90 ? 0 : a < 270 ? fh : 0;
    double ox = fw - sx, oy = fh - sy;
    // Projection of (O - S) onto (sin a, cos a), through tan a: with t =
    // tan a, (sin a, cos a) (sin a, cos a)^T = (t, 1) (t, 1)^T / (1 + t^2).
    double t = std::tan(a * kPi / 180);
    double k = ((ox - sx) * t + (oy - sy)) / (1 + t * t);
    *x1 = sx;
    *y1 = sy;
    *x2 = sx + k * t;
    *y2 = sy + k;
}

double Fixed(double v) { return ToPosition(v * 65536) / 65536.0; }

}  // namespace

uint32_t BuildGradientStops(const GradientSpec* spec, GradientStopEntry* table)
{
    if (spec->stopCount > kGradientMaxStops) return 0;
    if (spec->stopCount == 0) {
        if (spec->type == GRADIENT_CONICAL) {
            double at = Clamp01(spec->conicalPosition);
            table[0] = StopEntry(0, spec->color2);
            table[1] = StopEntry(ToPosition(at * 65536), spec->color1);
            table[2] = StopEntry(0x10000, spec->color2);
            return 3;
        }
        table[0] = StopEntry(0, spec->color1);
        table[1] = StopEntry(0x10000, spec->color2);
        return 2;
    }
    // Stops out of range or out of order would make segments run backwards.
    int32_t previous = 0;
    for (uint32_t i = 0; i < spec->stopCount; ++i) {
        int32_t p = ToPosition(Clamp01(spec->stops[i].position) * 65536);
        if (p < previous) p = previous;
        table[i] = StopEntry(p, spec->stops[i].color);
        previous = p;
    }
    return spec->stopCount;
}

void InitGradientSegment(GradientSegment* segment, const GradientStopEntry* stops, uint32_t count,
                         uint32_t spread)
{
    std::memset(segment, 0, sizeof *segment);
    segment->start = 0;
    segment->end = 0x10000;
    segment->needsSeek = 1;
    segment->stops = stops;
    segment->count = count;
    segment->spread = spread;
}

void GradientSeek(GradientSegment* segment, int64_t position)
{
    if (segment->count == 0) {
        SetSegment(segment, SegmentEnd{kMinPosition, 0, 0}, SegmentEnd{kMaxPosition + 1, 0, 0});
        return;
    }
    switch (segment->spread) {
    case GRADIENT_REPEAT: SeekRepeat(segment, position); break;
    case GRADIENT_PAD: SeekPad(segment, position, false); break;
    case GRADIENT_REFLECT: SeekReflect(segment, position); break;
    default: SeekPad(segment, position, true); break;
    }
}

uint32_t GradientColor32(int32_t position, GradientSegment* segment) { return Color32(position, segment); }

uint32_t GradientColor16(int32_t position, GradientSegment* segment) { return Color16(position, segment); }

uint32_t RenderGradient(const GradientParams& p)
{
    const GradientSpec* spec = p.spec;
    if (!spec || !p.pixels) return 0;
    GradientStopEntry stops[kGradientMaxStops + 1];
    uint32_t count = BuildGradientStops(spec, stops);
    if (!count) return ERR_WRONGUSAGE;
    if (p.bytesPerPixel != 2 && p.bytesPerPixel != 4) return 0;
    if (p.w < 1 || p.h < 1) return 0;

    // Rows and columns of the rectangle that fall on the target.
    int64_t x0 = p.x, y0 = p.y;
    int64_t firstCol = x0 < 0 ? -x0 : 0, lastCol = p.w;
    if (x0 + lastCol > p.targetWidth) lastCol = p.targetWidth - x0;
    int64_t firstRow = y0 < 0 ? -y0 : 0, lastRow = p.h;
    if (y0 + lastRow > p.targetHeight) lastRow = p.targetHeight - y0;
    if (firstCol >= lastCol || firstRow >= lastRow) return 0;

    RowJob job{stops, count, GRADIENT_PAD, p.format, p.bytesPerPixel,
               static_cast<int32_t>(firstCol), static_cast<int32_t>(lastCol)};
    Geometry g{};
    RowRenderer render = nullptr;
    double w = p.w, h = p.h;
    switch (spec->type) {
    case GRADIENT_LINEAR: {
        double x1, y1, x2, y2;
        LinearAxis(spec->angle, p.w, p.h, &x1, &y1, &x2, &y2);
        g.linX1 = Fixed(x1);
        g.linY1 = Fixed(y1);
        g.linDX = Fixed(x2) - g.linX1;
        g.linDY = Fixed(y2) - g.linY1;
        double length2 = g.linDX * g.linDX + g.linDY * g.linDY;
        g.linScale = length2 > 0 ? 65536 / length2 : 0;
        g.linStep = g.linDX * g.linScale;
        render = RenderLinearRow;
        break;
    }
    case GRADIENT_RADIAL:
    case GRADIENT_CONICAL: {
        g.cx = Fixed(w * spec->centerX);
        g.cy = Fixed(h * spec->centerY);
        if (spec->type == GRADIENT_CONICAL) {
            job.spread = GRADIENT_REFLECT;
            int32_t a = spec->angle % 360;
            g.startAngle = (a < 0 ? a + 360 : a) * kPi / 180;
            render = RenderConicalRow;
            break;
        }
        double m = std::fmax(std::fabs(0.5 - spec->centerX), std::fabs(0.5 - spec->centerY));
        if (!(m <= 1e6)) m = 1e6;
        double v = spec->radial >= 0.99 ? 0.99 : spec->radial > 0 ? spec->radial : 0;
        double radius = Fixed(std::sqrt(w * w + h * h) * (0.5 + m) * (1 - v));
        if (radius < 1.0 / 65536) radius = 1.0 / 65536;
        g.radiusScale = 65536 / radius;
        render = RenderRadialRow;
        break;
    }
    default: return 0;
    }

    size_t pitch = static_cast<size_t>(p.rowLength) * p.bytesPerPixel;
    uint8_t* row = p.pixels + static_cast<size_t>(y0 + firstRow) * pitch +
                   static_cast<size_t>(x0 + firstCol) * p.bytesPerPixel;
    for (int64_t r = firstRow; r < lastRow; ++r, row += pitch) {
        // A horizontal axis gives every row the same pixels.
        if (spec->type == GRADIENT_LINEAR && g.linDY == 0 && r > firstRow) {
            std::memcpy(row, row - pitch, static_cast<size_t>(lastCol - firstCol) * p.bytesPerPixel);
            continue;
        }
        render(static_cast<int32_t>(r), row, job, g);
    }
    return 0;
}

uint32_t DrawGradient(BitMapHandle* dst, int32_t x, int32_t y, int32_t w, int32_t h,
                      const GradientSpec* spec)
{
    if (!dst) {
        DebugPrintf("ERROR! DRAWGRADIENT() CALLED WITH DST=NULL!\n");
        return 0;
    }
    BitMapLock lock;
    if (!LockBitMapPixels(dst, 0, &lock)) return ERR_BITMAP;
    GradientParams params{lock.pixels, lock.bytesPerPixel, lock.format, x, y, w, h,
                          lock.rowLength, spec, lock.width, lock.height};
    uint32_t error = RenderGradient(params);
    UnlockBitMapPixels(&lock);
    return error;
}
