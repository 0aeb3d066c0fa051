// Filter kernels of the image effects. Every kernel works on 8-bit channels
// of packed ARGB rows: format 10 in place, the other 32-bit formats and the
// 16-bit ones through their row converters (16-bit channels widen by
// shifting and keep their top bits on the way back). Point operations go
// through 256-entry tables; neighbourhood kernels read a packed copy of the
// rectangle so that results never feed back into their own input.
#include "gfx/effects/filter_kernels.h"

#include <cmath>
#include <cstring>

#include "gfx/bitmaps/pixel_formats.h"
#include "gfx/effects/blur.h"
#include "gfx/effects/work_buffer.h"

namespace {

inline uint32_t Clamp255(int32_t v) { return v < 0 ? 0u : v > 255 ? 255u : static_cast<uint32_t>(v); }
inline uint32_t Red(uint32_t c) { return (c >> 16) & 0xFF; }
inline uint32_t Green(uint32_t c) { return (c >> 8) & 0xFF; }
inline uint32_t Blue(uint32_t c) { return c & 0xFF; }
inline uint32_t Pack(uint32_t a, uint32_t r, uint32_t g, uint32_t b) { return (a & 0xFF000000) | (r << 16) | (g << 8) | b; }

// The intensity of sepia toning and oil paint: Rec. 709 luma, rounded
// (the gray kernels keep their own older weights).
inline uint32_t Intensity(uint32_t c)
{
    return static_cast<uint32_t>(0.212656 * Red(c) + 0.715158 * Green(c) + 0.072186 * Blue(c) + 0.5);
}

struct PixelRect {
    uint8_t* base;
    int32_t w;
    int32_t h;
    size_t stride;  // bytes
    const PixelRowKernels* rows;
    bool direct;  // format 10: rows are ARGB already
};

bool OpenRect(void* pixels, uint32_t bytesPerPixel, int32_t w, int32_t h, int32_t rowLength,
              uint32_t format, PixelRect* rect)
{
    if (!pixels || w <= 0 || h <= 0 || format >= PIXFMT_COUNT) return false;
    if (PixelFormatBytes(format) != bytesPerPixel || (bytesPerPixel != 2 && bytesPerPixel != 4)) return false;
    rect->base = static_cast<uint8_t*>(pixels);
    rect->w = w;
    rect->h = h;
    rect->stride = static_cast<size_t>(rowLength) * bytesPerPixel;
    rect->rows = GetPixelRowKernels(format);
    rect->direct = format == PIXFMT_ARGB;
    return true;
}

// Runs op(argb, count, y) on every row as packed ARGB words and writes the
// row back.
template <typename Op>
void ForEachArgbRow(void* pixels, uint32_t bytesPerPixel, int32_t w, int32_t h, int32_t rowLength,
                    uint32_t format, Op op)
{
    PixelRect rect;
    if (!OpenRect(pixels, bytesPerPixel, w, h, rowLength, format, &rect)) return;
    WorkBuffer<uint32_t> row;
    if (!rect.direct && !row.Allocate(static_cast<size_t>(w))) return;
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* p = rect.base + rect.stride * static_cast<size_t>(y);
        uint32_t* argb = rect.direct ? reinterpret_cast<uint32_t*>(p) : row.get();
        if (!rect.direct) rect.rows->toArgb(p, argb, w, 1);
        op(argb, w, y);
        if (!rect.direct) rect.rows->fromArgb(argb, p, w, 1);
    }
}

template <typename Map>
void ForEachArgb(void* pixels, uint32_t bytesPerPixel, int32_t w, int32_t h, int32_t rowLength,
                 uint32_t format, Map map)
{
    ForEachArgbRow(pixels, bytesPerPixel, w, h, rowLength, format, [&map](uint32_t* argb, int32_t n, int32_t) {
        for (int32_t i = 0; i < n; ++i) argb[i] = map(argb[i]);
    });
}

// Channel tables: red, green and blue each through its own table.
void ApplyTables(void* pixels, uint32_t bpp, int32_t w, int32_t h, int32_t rowLength, uint32_t format,
                 const uint8_t* red, const uint8_t* green, const uint8_t* blue)
{
    ForEachArgb(pixels, bpp, w, h, rowLength, format, [=](uint32_t c) {
        return Pack(c, red[Red(c)], green[Green(c)], blue[Blue(c)]);
    });
}

// The whole rectangle as packed ARGB, and back.
bool LoadRect(const PixelRect& rect, WorkBuffer<uint32_t>* argb)
{
    size_t w = static_cast<size_t>(rect.w);
    if (!argb->Allocate(w * static_cast<size_t>(rect.h))) return false;
    for (int32_t y = 0; y < rect.h; ++y) {
        const uint8_t* p = rect.base + rect.stride * static_cast<size_t>(y);
        uint32_t* out = argb->get() + w * static_cast<size_t>(y);
        if (rect.direct) std::memcpy(out, p, w * 4);
        else rect.rows->toArgb(p, out, rect.w, 1);
    }
    return true;
}

void StoreRect(const PixelRect& rect, const uint32_t* argb)
{
    size_t w = static_cast<size_t>(rect.w);
    for (int32_t y = 0; y < rect.h; ++y) {
        uint8_t* p = rect.base + rect.stride * static_cast<size_t>(y);
        const uint32_t* in = argb + w * static_cast<size_t>(y);
        if (rect.direct) std::memcpy(p, in, w * 4);
        else rect.rows->fromArgb(in, p, rect.w, 1);
    }
}

// ---------------------------------------------------------------------------
// 3 x 3 kernels. With c the centre, n(dx, dy) a neighbour (edges repeat)
// and s the strength:
//   emboss   c + s * (n(1,0) + n(0,1) + n(1,1) - n(-1,0) - n(0,-1) - n(-1,-1))
//   edge     s * (8c - the eight neighbours)
//   sharpen  c + s * (4c - n(0,-1) - n(-1,0) - n(1,0) - n(0,1))
// Each channel is rounded and clamped to 0..255; the alpha byte of a colour
// pixel is the centre's.

template <uint32_t Kind>
inline int32_t Kernel3x3(const int32_t n[9], double s)
{
    // n is row-major from (-1,-1) to (1,1); n[4] is the centre.
    double v;
    if constexpr (Kind == CONVOLVE_EMBOSS)
        v = n[4] + s * (n[5] + n[7] + n[8] - n[3] - n[1] - n[0]);
    else if constexpr (Kind == CONVOLVE_EDGE)
        v = s * (8 * n[4] - n[0] - n[1] - n[2] - n[3] - n[5] - n[6] - n[7] - n[8]);
    else
        v = n[4] + s * (4 * n[4] - n[1] - n[3] - n[5] - n[7]);
    return static_cast<int32_t>(std::lround(v));
}

template <uint32_t Kind, typename T, int Channels>
void Convolve3x3(const T* src, T* dst, int32_t w, int32_t h, double s)
{
    for (int32_t y = 0; y < h; ++y) {
        const T* rows[3];
        for (int32_t k = 0; k < 3; ++k) {
            int32_t sy = y + k - 1;
            sy = sy < 0 ? 0 : sy >= h ? h - 1 : sy;
            rows[k] = src + static_cast<size_t>(sy) * w;
        }
        for (int32_t x = 0; x < w; ++x) {
            int32_t xs[3] = {x > 0 ? x - 1 : 0, x, x + 1 < w ? x + 1 : w - 1};
            T centre = rows[1][x];
            T out = Channels == 1 ? 0 : static_cast<T>(centre & 0xFF000000u);
            for (int c = 0; c < Channels; ++c) {
                int shift = 8 * c;
                int32_t n[9];
                for (int32_t j = 0; j < 3; ++j)
                    for (int32_t i = 0; i < 3; ++i)
                        n[3 * j + i] = static_cast<int32_t>((rows[j][xs[i]] >> shift) & 0xFF);
                out = static_cast<T>(out | (Clamp255(Kernel3x3<Kind>(n, s)) << shift));
            }
            dst[static_cast<size_t>(y) * w + x] = out;
        }
    }
}

template <typename T, int Channels>
bool Convolve3x3Any(uint32_t kind, T* data, int32_t w, int32_t h, double s)
{
    WorkBuffer<T> copy(static_cast<size_t>(w) * static_cast<size_t>(h));
    if (!copy) return false;
    std::memcpy(copy.get(), data, sizeof(T) * static_cast<size_t>(w) * static_cast<size_t>(h));
    if (kind == CONVOLVE_EMBOSS) Convolve3x3<CONVOLVE_EMBOSS, T, Channels>(copy.get(), data, w, h, s);
    else if (kind == CONVOLVE_EDGE) Convolve3x3<CONVOLVE_EDGE, T, Channels>(copy.get(), data, w, h, s);
    else Convolve3x3<CONVOLVE_SHARPEN, T, Channels>(copy.get(), data, w, h, s);
    return true;
}

// ---------------------------------------------------------------------------
// RGB <-> HSV with h in 0..1, s and v in 0..1.

void RgbToHsv(double r, double g, double b, double* h, double* s, double* v)
{
    double max = r > g ? (r > b ? r : b) : (g > b ? g : b);
    double min = r < g ? (r < b ? r : b) : (g < b ? g : b);
    double delta = max - min;
    *v = max;
    *s = max > 0 ? delta / max : 0;
    if (delta <= 0) {
        *h = 0;
        return;
    }
    double hue;
    if (max == r) hue = (g - b) / delta;
    else if (max == g) hue = 2 + (b - r) / delta;
    else hue = 4 + (r - g) / delta;
    hue /= 6;
    *h = hue < 0 ? hue + 1 : hue;
}

void HsvToRgb(double h, double s, double v, double* r, double* g, double* b)
{
    double sector = (h - std::floor(h)) * 6;
    int32_t i = static_cast<int32_t>(sector);
    double f = sector - i;
    double p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
    switch (i % 6) {
    case 0: *r = v; *g = t; *b = p; break;
    case 1: *r = q; *g = v; *b = p; break;
    case 2: *r = p; *g = v; *b = t; break;
    case 3: *r = p; *g = q; *b = v; break;
    case 4: *r = t; *g = p; *b = v; break;
    default: *r = v; *g = p; *b = q; break;
    }
}

inline uint32_t Unit255(double x) { return Clamp255(static_cast<int32_t>(std::lround(x * 255.0))); }

// ---------------------------------------------------------------------------

void Solarize(void* pixels, uint32_t bpp, int32_t w, int32_t h, int32_t rowLength, uint32_t format,
              uint32_t threshold)
{
    // Channels above the threshold are negated.
    uint8_t table[256];
    for (uint32_t i = 0; i < 256; ++i) table[i] = static_cast<uint8_t>(i > threshold ? 255 - i : i);
    ApplyTables(pixels, bpp, w, h, rowLength, format, table, table, table);
}

void Gamma(const GammaParams* b, uint32_t bpp)
{
    uint8_t identity[256];
    for (uint32_t i = 0; i < 256; ++i) identity[i] = static_cast<uint8_t>(i);
    const uint8_t* red = (b->channels & 1) && b->red ? b->red : identity;
    const uint8_t* green = (b->channels & 2) && b->green ? b->green : identity;
    const uint8_t* blue = (b->channels & 4) && b->blue ? b->blue : identity;
    ApplyTables(b->pixels, bpp, b->w, b->h, b->rowLength, b->format, red, green, blue);
}

void Contrast(void* pixels, uint32_t bpp, int32_t w, int32_t h, int32_t rowLength, uint32_t format,
              int32_t direction)
{
    // One step moves the HSV value v (0..1) half-way toward the sine curve
    // 0.5 * (sin(pi * (v - 0.5)) + 1), or away from it for a decrease; the
    // channels are scaled together, which keeps hue and saturation.
    double dir = direction < 0 ? -1.0 : 1.0;
    uint32_t value[256];
    for (uint32_t i = 0; i < 256; ++i) {
        double v = i / 255.0;
        v += 0.5 * dir * (0.5 * (std::sin(M_PI * (v - 0.5)) + 1.0) - v);
        value[i] = Unit255(v < 0 ? 0 : v > 1 ? 1 : v);
    }
    ForEachArgb(pixels, bpp, w, h, rowLength, format, [&value](uint32_t c) {
        uint32_t r = Red(c), g = Green(c), b = Blue(c);
        uint32_t v = r > g ? (r > b ? r : b) : (g > b ? g : b);
        if (v == 0) return c;
        uint32_t nv = value[v];
        return Pack(c, (2 * r * nv + v) / (2 * v), (2 * g * nv + v) / (2 * v), (2 * b * nv + v) / (2 * v));
    });
}

void Modulate(const ModulateParams* p, uint32_t bpp)
{
    // HSV: v and s scaled by their percentages, the hue turned by
    // (hue - 100) / 200 of a full circle. Values past 1 are not cut before
    // the conversion back but each channel after it, so a saturation boost
    // keeps pushing the weak channels down instead of stopping at grey 0.
    double kb = p->brightness / 100.0, ks = p->saturation / 100.0, turn = (p->hue - 100) / 200.0;
    ForEachArgb(p->pixels, bpp, p->w, p->h, p->rowLength, p->format, [=](uint32_t c) {
        double h, s, v, r, g, b;
        RgbToHsv(Red(c) / 255.0, Green(c) / 255.0, Blue(c) / 255.0, &h, &s, &v);
        v *= kb;
        s *= ks;
        h += turn;
        HsvToRgb(h - std::floor(h), s, v, &r, &g, &b);
        return Pack(c, Unit255(r), Unit255(g), Unit255(b));
    });
}

void Sepia(void* pixels, uint32_t bpp, int32_t w, int32_t h, int32_t rowLength, uint32_t format,
           uint32_t level)
{
    // From the intensity i and the threshold t (the level):
    //   red   = 255 when i > t, else i + 255 - t
    //   green = 255 when i > 7t/6, else i + 255 - 7t/6
    //   blue  = 0 when i < t/6, else i - t/6
    // with green and blue at least t/7.
    double t = level;
    uint32_t table[256];  // red, green, blue of each intensity
    for (uint32_t i = 0; i < 256; ++i) {
        double r = i > t ? 255 : i + 255 - t;
        double g = i > 7 * t / 6 ? 255 : i + 255 - 7 * t / 6;
        double b = i < t / 6 ? 0 : i - t / 6;
        if (g < t / 7) g = t / 7;
        if (b < t / 7) b = t / 7;
        table[i] = Pack(0, Clamp255(static_cast<int32_t>(std::lround(r))),
                        Clamp255(static_cast<int32_t>(std::lround(g))), Clamp255(static_cast<int32_t>(std::lround(b))));
    }
    ForEachArgb(pixels, bpp, w, h, rowLength, format,
                [&table](uint32_t c) { return (c & 0xFF000000) | table[Intensity(c)]; });
}

void Monochrome(void* pixels, uint32_t bpp, int32_t w, int32_t h, uint32_t format, int32_t rowLength,
                const uint8_t* indices)
{
    if (!indices) return;
    ForEachArgbRow(pixels, bpp, w, h, rowLength, format, [=](uint32_t* argb, int32_t n, int32_t y) {
        const uint8_t* idx = indices + static_cast<size_t>(w) * static_cast<size_t>(y);
        for (int32_t i = 0; i < n; ++i) argb[i] = (argb[i] & 0xFF000000) | (idx[i] ? 0xFFFFFFu : 0u);
    });
}

// The stretch of one channel: low..high to 0..255; a channel whose levels
// give no range (a flat channel, or counts that cross) stays as it is.
void StretchTable(const uint64_t hist[256], uint64_t total, uint64_t lowCount, uint64_t highCount,
                  uint8_t table[256])
{
    for (uint32_t i = 0; i < 256; ++i) table[i] = static_cast<uint8_t>(i);
    int32_t low = -1, high = -1;
    uint64_t running = 0;
    for (int32_t i = 0; i < 256 && low < 0; ++i) {
        running += hist[i];
        if (running > lowCount) low = i;
    }
    // The top level is where the count from 255 down passes total - highCount.
    uint64_t above = highCount >= total ? 0 : total - highCount;
    running = 0;
    for (int32_t i = 255; i >= 0 && high < 0; --i) {
        running += hist[i];
        if (running > above) high = i;
    }
    if (low < 0 || high < 0 || high <= low) return;
    uint32_t range = static_cast<uint32_t>(high - low);
    for (int32_t i = 0; i < 256; ++i) {
        if (i <= low) table[i] = 0;
        else if (i >= high) table[i] = 255;
        else table[i] = static_cast<uint8_t>((static_cast<uint32_t>(i - low) * 255 + range / 2) / range);
    }
}

void OilPaint(const OilPaintParams* p, uint32_t bpp)
{
    // Each pixel takes the colour of the pixel around it whose intensity
    // (256 buckets) is the most frequent among the (2r + 1)^2 pixels of its
    // window, r = ceil(radius); of several, the one whose bucket reached the
    // count first in row order. Edges repeat their pixels.
    PixelRect rect;
    if (!OpenRect(p->pixels, bpp, p->w, p->h, p->rowLength, p->format, &rect)) return;
    if (!(p->radius > 0)) return;
    // The window costs (2r + 1)^2 per pixel: wider brushes add nothing a
    // picture could show but time.
    constexpr int32_t kMaxRadius = 25;
    int32_t r = p->radius > kMaxRadius ? kMaxRadius : static_cast<int32_t>(std::ceil(p->radius));
    int32_t w = p->w, h = p->h;
    size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
    WorkBuffer<uint32_t> src, out(n);
    WorkBuffer<uint8_t> level(n);
    WorkBuffer<int32_t> cols(2 * static_cast<size_t>(r) + 1);
    if (!out || !level || !cols || !LoadRect(rect, &src)) return;
    for (size_t i = 0; i < n; ++i) level[i] = static_cast<uint8_t>(Intensity(src[i]));
    uint32_t count[256] = {};
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            for (int32_t k = -r; k <= r; ++k) cols[k + r] = x + k < 0 ? 0 : x + k >= w ? w - 1 : x + k;
            size_t pick = 0;
            uint32_t best = 0;
            for (int32_t dy = -r; dy <= r; ++dy) {
                int32_t sy = y + dy < 0 ? 0 : y + dy >= h ? h - 1 : y + dy;
                size_t row = static_cast<size_t>(sy) * w;
                for (int32_t k = 0; k <= 2 * r; ++k) {
                    size_t at = row + static_cast<size_t>(cols[k]);
                    if (++count[level[at]] > best) {
                        best = count[level[at]];
                        pick = at;
                    }
                }
            }
            for (int32_t dy = -r; dy <= r; ++dy) {
                int32_t sy = y + dy < 0 ? 0 : y + dy >= h ? h - 1 : y + dy;
                size_t row = static_cast<size_t>(sy) * w;
                for (int32_t k = 0; k <= 2 * r; ++k) count[level[row + static_cast<size_t>(cols[k])]] = 0;
            }
            size_t at = static_cast<size_t>(y) * w + static_cast<size_t>(x);
            out[at] = (src[at] & 0xFF000000) | (src[pick] & 0xFFFFFF);
        }
    }
    StoreRect(rect, out.get());
}

// The alpha plane rectangle: blurred where it lies, the 3 x 3 kernels on a
// packed copy.
void ConvolveAlpha(const ConvolveParams* b, double strength)
{
    size_t w = static_cast<size_t>(b->w);
    size_t stride = static_cast<size_t>(b->alphaBytesPerRow);
    if (b->kind == CONVOLVE_BLUR) {
        GaussianBlurRows(b->alpha, stride, b->w, b->h, 1, b->radius, strength);
        return;
    }
    WorkBuffer<uint8_t> plane(w * static_cast<size_t>(b->h));
    if (!plane) return;
    for (int32_t y = 0; y < b->h; ++y) std::memcpy(plane.get() + w * y, b->alpha + stride * y, w);
    if (!Convolve3x3Any<uint8_t, 1>(b->kind, plane.get(), b->w, b->h, strength)) return;
    for (int32_t y = 0; y < b->h; ++y) std::memcpy(b->alpha + stride * y, plane.get() + w * y, w);
}

}  // namespace

void ConvolvePixels(const ConvolveParams* b)
{
    if (b->w <= 0 || b->h <= 0) return;
    uint32_t kind = b->kind;
    if (kind != CONVOLVE_BLUR && kind != CONVOLVE_EMBOSS && kind != CONVOLVE_EDGE && kind != CONVOLVE_SHARPEN)
        return;
    double radius = b->radius > 0 ? b->radius : 0;
    double strength = b->strength;
    // The 3 x 3 kernels take a strength of 0 as the plain kernel: charcoal
    // asks for its edges that way. Past 1000 every channel saturates anyway,
    // and the sums stay far inside what rounding to an integer can take.
    if (kind != CONVOLVE_BLUR) strength = !(strength > 0) ? 1.0 : std::fmin(strength, 1000.0);
    if (kind == CONVOLVE_BLUR && radius == 0 && !(strength > 0)) return;
    ConvolveParams block = *b;
    block.radius = radius;
    PixelRect rect;
    if (b->pixels && OpenRect(b->pixels, b->bytesPerPixel, b->w, b->h, b->rowLength, b->format, &rect)) {
        if (kind == CONVOLVE_BLUR && rect.direct) {
            // ARGB rows are blurred where they lie: a copy would double the
            // memory a large picture takes.
            GaussianBlurRows(rect.base, rect.stride, b->w, b->h, 4, radius, strength);
        } else {
            WorkBuffer<uint32_t> argb;
            if (LoadRect(rect, &argb)) {
                auto* bytes = reinterpret_cast<uint8_t*>(argb.get());
                bool ok = kind == CONVOLVE_BLUR
                              ? GaussianBlurRows(bytes, 4 * static_cast<size_t>(b->w), b->w, b->h, 4, radius, strength)
                              : Convolve3x3Any<uint32_t, 3>(kind, argb.get(), b->w, b->h, strength);
                if (ok) StoreRect(rect, argb.get());
            }
        }
    }
    if (b->alpha && b->alphaBytesPerRow >= b->w) ConvolveAlpha(&block, strength);
}

void SolarizePixels32(uint32_t* pixels, int32_t w, int32_t h, int32_t rowLength, uint32_t format, uint32_t threshold)
{
    Solarize(pixels, 4, w, h, rowLength, format, threshold);
}
void SolarizePixels16(uint16_t* pixels, int32_t w, int32_t h, int32_t rowLength, uint32_t format, uint32_t threshold)
{
    Solarize(pixels, 2, w, h, rowLength, format, threshold);
}

void GammaPixels32(const GammaParams* block) { Gamma(block, 4); }
void GammaPixels16(const GammaParams* block) { Gamma(block, 2); }

void ContrastPixels32(uint32_t* pixels, int32_t w, int32_t h, int32_t rowLength, uint32_t format, int32_t direction)
{
    Contrast(pixels, 4, w, h, rowLength, format, direction);
}
void ContrastPixels16(uint16_t* pixels, int32_t w, int32_t h, int32_t rowLength, uint32_t format, int32_t direction)
{
    Contrast(pixels, 2, w, h, rowLength, format, direction);
}

void ModulatePixels32(const ModulateParams* block) { Modulate(block, 4); }
void ModulatePixels16(const ModulateParams* block) { Modulate(block, 2); }

void SepiaPixels32(uint32_t* pixels, int32_t w, int32_t h, int32_t rowLength, uint32_t format, uint32_t level)
{
    Sepia(pixels, 4, w, h, rowLength, format, level);
}
void SepiaPixels16(uint16_t* pixels, int32_t w, int32_t h, int32_t rowLength, uint32_t format, uint32_t level)
{
    Sepia(pixels, 2, w, h, rowLength, format, level);
}

void MonochromePixels32(uint32_t* pixels, int32_t w, int32_t h, uint32_t format, int32_t rowLength, const uint8_t* indices)
{
    Monochrome(pixels, 4, w, h, format, rowLength, indices);
}
void MonochromePixels16(uint16_t* pixels, int32_t w, int32_t h, uint32_t format, int32_t rowLength, const uint8_t* indices)
{
    Monochrome(pixels, 2, w, h, format, rowLength, indices);
}

void NormalizePixels(const NormalizeParams* b)
{
    if (b->format >= PIXFMT_COUNT) return;
    uint32_t bpp = PixelFormatBytes(b->format);
    uint64_t hist[3][256] = {};
    ForEachArgbRow(b->pixels, bpp, b->w, b->h, b->rowLength, b->format, [&hist](uint32_t* argb, int32_t n, int32_t) {
        for (int32_t i = 0; i < n; ++i) {
            hist[0][Red(argb[i])]++;
            hist[1][Green(argb[i])]++;
            hist[2][Blue(argb[i])]++;
        }
    });
    uint64_t total = static_cast<uint64_t>(b->w > 0 ? b->w : 0) * static_cast<uint64_t>(b->h > 0 ? b->h : 0);
    uint8_t table[3][256];
    for (int c = 0; c < 3; ++c) StretchTable(hist[c], total, b->lowCount, b->highCount, table[c]);
    ApplyTables(b->pixels, bpp, b->w, b->h, b->rowLength, b->format, table[0], table[1], table[2]);
}

void OilPaintPixels32(const OilPaintParams* block) { OilPaint(block, 4); }
void OilPaintPixels16(const OilPaintParams* block) { OilPaint(block, 2); }
