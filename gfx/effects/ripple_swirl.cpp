// Water ripple and swirl. Both are inverse maps evaluated per destination
// pixel with tables prepared once per call: sines (and cosines) at steps of
// 0.001 radian, accumulated by repeated addition as the transitions expect,
// and for the ripple the integer distance of every pixel from the centre.
// Source positions are cut to the picture, so every read stays inside it.
#include "gfx/effects/ripple_swirl.h"

#include <cmath>
#include <cstring>

#include "core/io/error_codes.h"
#include "gfx/bitmaps/picture_bits.h"
#include "gfx/bitmaps/pixel_formats.h"
#include "gfx/blits/blend_kernels.h"
#include "gfx/effects/effect_lock.h"
#include "gfx/effects/pixel_kernels.h"
#include "gfx/effects/work_buffer.h"

namespace {

constexpr double kTwoPi = 6.28318530717959;
constexpr double kStep = 0.001;

inline int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : v > hi ? hi : v; }

// Truncation toward zero of a value that may lie far outside int32.
inline int32_t TruncClamp(double v, int32_t hi)
{
    if (!(v > 0)) return 0;
    return v >= hi ? hi : static_cast<int32_t>(v);
}

// floor(sqrt(v)) of a 64-bit square: pictures up to 65536 pixels a side
// have squared distances beyond 32 bits.
int32_t IntegerSqrt64(int64_t v)
{
    if (v <= INT32_MAX) return IntegerSqrt(static_cast<int32_t>(v));
    auto r = static_cast<int64_t>(std::sqrt(static_cast<double>(v)));
    while (r * r > v) --r;
    while ((r + 1) * (r + 1) <= v) ++r;
    return static_cast<int32_t>(r);
}

void FillSines(double* sine, double* cosine)
{
    double arg = 0.0;
    for (int32_t k = 0; k < kRippleSineSteps; ++k) {
        sine[k] = std::sin(arg);
        if (cosine) cosine[k] = std::cos(arg);
        arg += kStep;
    }
}

// The source of a kernel: the block's own, or copies of the destination
// and its planes, freed when the kernel ends.
template <typename T, typename Block>
struct KernelSource {
    WorkBuffer<T> pixels;
    WorkBuffer<uint8_t> mask;
    WorkBuffer<uint8_t> alpha;
    const T* src = nullptr;
    int32_t rowLength = 0;
    const uint8_t* srcMask = nullptr;
    const uint8_t* srcAlpha = nullptr;
    int32_t maskBytesPerRow = 0;
    int32_t alphaBytesPerRow = 0;

    bool Open(const Block* b)
    {
        if (b->srcPixels) {
            src = static_cast<const T*>(b->srcPixels);
            rowLength = b->srcRowLength;
            srcMask = b->srcMask;
            srcAlpha = b->srcAlpha;
            maskBytesPerRow = b->srcMaskBytesPerRow;
            alphaBytesPerRow = b->srcAlphaBytesPerRow;
            return true;
        }
        size_t n = static_cast<size_t>(b->dstRowLength) * static_cast<size_t>(b->h);
        if (!pixels.Allocate(n)) return false;
        std::memcpy(pixels.get(), b->dstPixels, n * sizeof(T));
        src = pixels.get();
        rowLength = b->dstRowLength;
        if (b->dstMask) {
            size_t m = static_cast<size_t>(b->dstMaskBytesPerRow) * static_cast<size_t>(b->h);
            if (!mask.Allocate(m)) return false;
            std::memcpy(mask.get(), b->dstMask, m);
            srcMask = mask.get();
            maskBytesPerRow = b->dstMaskBytesPerRow;
        }
        if (b->dstAlpha) {
            size_t a = static_cast<size_t>(b->dstAlphaBytesPerRow) * static_cast<size_t>(b->h);
            if (!alpha.Allocate(a)) return false;
            std::memcpy(alpha.get(), b->dstAlpha, a);
            srcAlpha = alpha.get();
            alphaBytesPerRow = b->dstAlphaBytesPerRow;
        }
        return true;
    }
};

template <typename T, typename Block>
inline void TakePixel(const Block* b, const KernelSource<T, Block>& s, int32_t sx, int32_t sy, int32_t x, int32_t y,
                      T colour, int32_t fade)
{
    static_cast<T*>(b->dstPixels)[static_cast<size_t>(b->dstRowLength) * y + x] = colour;
    if (b->dstMask && s.srcMask)
        PutMaskBit(b->dstMask + static_cast<size_t>(b->dstMaskBytesPerRow) * y, x,
                   MaskBitAt(s.srcMask + static_cast<size_t>(s.maskBytesPerRow) * sy, sx));
    if (b->dstAlpha && (s.srcAlpha || fade >= 0)) {
        uint32_t a = s.srcAlpha ? s.srcAlpha[static_cast<size_t>(s.alphaBytesPerRow) * sy + sx] : 255;
        if (fade >= 0) a = a * static_cast<uint32_t>(fade) / 255;
        b->dstAlpha[static_cast<size_t>(b->dstAlphaBytesPerRow) * y + x] = static_cast<uint8_t>(a);
    }
}

template <typename T>
void RippleKernel(RippleParams* b, int32_t frame)
{
    if (b->w <= 0 || b->h <= 0 || !b->dstPixels || !b->distances || !b->sine) return;
    KernelSource<T, RippleParams> s;
    if (!s.Open(b)) return;
    int32_t phase = b->phase;
    bool blend = false;
    uint32_t k = 0;
    if (frame >= 0) {
        int32_t p = b->halfPeriod > 0 ? b->halfPeriod : 1;
        b->amplitude = (frame < p ? frame : 2 * p - frame) * b->baseAmplitude;
        phase = frame;
        if (b->secondPixels) {
            blend = true;
            int64_t level = static_cast<int64_t>(frame) * 255 / (2 * static_cast<int64_t>(p));
            k = static_cast<uint32_t>(level > 255 ? 255 : level);
        }
    }
    auto* second = static_cast<const T*>(b->secondPixels);
    b->cursor = 0;
    for (int32_t y = 0; y < b->h; ++y)
        for (int32_t x = 0; x < b->w; ++x) {
            WaterRippleSample(b, phase, x, y);
            int32_t sx = b->sampledX, sy = b->sampledY;
            T colour = s.src[static_cast<size_t>(s.rowLength) * sy + sx];
            // Per channel toward the displaced pixel by k/256 from the second image's.
            if (blend)
                colour = static_cast<T>(
                    BlendFormatPixel(b->format, second[static_cast<size_t>(b->secondRowLength) * sy + sx], colour, k));
            TakePixel(b, s, sx, sy, x, y, colour, -1);
        }
}

template <typename T>
void SwirlKernel(SwirlParams* b, int32_t angle)
{
    if (b->w <= 0 || b->h <= 0 || !b->dstPixels || !b->sine || !b->cosine) return;
    KernelSource<T, SwirlParams> s;
    if (!s.Open(b)) return;
    double cx = b->w * 0.5, cy = b->h * 0.5, r = cx > cy ? cx : cy;
    double kx = 1.0, ky = 1.0;
    if (b->w > b->h) ky = static_cast<double>(b->w) / b->h;
    else kx = static_cast<double>(b->h) / b->w;
    if (angle >= 360) angle = 720 - angle;
    double a = angle * 0.017453292519943295;
    int32_t fade = -1;
    if (b->transition != SWIRL_EFFECT) {
        int32_t m = static_cast<int32_t>(static_cast<int64_t>(angle < 0 ? -angle : angle) * 255 / 360);
        fade = Clamp(b->transition == SWIRL_FADE_IN ? m : 255 - m, 0, 255);
    }
    for (int32_t y = 0; y < b->h; ++y)
        for (int32_t x = 0; x < b->w; ++x) {
            double dx = (x - cx) * kx, dy = (y - cy) * ky;
            double d2 = dx * dx + dy * dy;
            int32_t sx = x, sy = y;
            if (d2 < r * r) {
                // d2 < r^2 <= 2^30 here, so the square fits the 32-bit root.
                double d = IntegerSqrt(static_cast<int32_t>(d2));
                double f = 1 - d / r, theta = a * f * f, sn, cs;
                if (angle < 0) {
                    sn = std::sin(theta);
                    cs = std::cos(theta);
                } else {
                    int32_t i = TruncClamp(theta / kStep, kRippleSineSteps - 1);
                    sn = b->sine[i];
                    cs = b->cosine[i];
                }
                sx = TruncClamp((cs * dx - sn * dy) / kx + cx, b->w - 1);
                sy = TruncClamp((sn * dx + cs * dy) / ky + cy, b->h - 1);
            }
            TakePixel(b, s, sx, sy, x, y, s.src[static_cast<size_t>(s.rowLength) * sy + sx], fade);
        }
}

struct PictureAccess {
    EffectLock lock;
    PlaneAccess mask;
    PlaneAccess alpha;
};

// Locks the picture and its planes and cuts w x h to all of them; the
// result is 0 with *go false when there is nothing to do.
uint32_t OpenPicture(BitMapHandle* bitmap, BitMapHandle* mask, BitMapHandle* alpha, int32_t& w, int32_t& h,
                     PictureAccess* p, bool* go)
{
    *go = false;
    if (!p->lock.Acquire(bitmap, 0)) return ERR_LOCKBMAP;
    if ((mask && !p->mask.Open(mask)) || (alpha && !p->alpha.Open(alpha))) return ERR_LOCKBMAP;
    uint32_t bpp = p->lock->bytesPerPixel;
    if (bpp != 2 && bpp != 4) return 0;
    *go = CutToLock(p->lock.get(), w, h) && p->mask.Cut(w, h) && p->alpha.Cut(w, h);
    return 0;
}

}  // namespace

void PrepareWaterRipple(RippleParams* b, int32_t* distances, double* sine)
{
    FillSines(sine, nullptr);
    for (int32_t y = 0; y < b->h; ++y)
        for (int32_t x = 0; x < b->w; ++x) {
            int64_t dx = x - b->cx, dy = y - b->cy;
            distances[static_cast<size_t>(y) * b->w + x] = IntegerSqrt64(dx * dx + dy * dy);
        }
    b->distances = distances;
    b->sine = sine;
    b->cursor = 0;
}

void PrepareSwirlTables(double* sine, double* cosine) { FillSines(sine, cosine); }

void WaterRippleSample(RippleParams* b, int32_t phase, int32_t x, int32_t y)
{
    int32_t dx = x - b->cx, dy = y - b->cy;
    int32_t d = b->distances[b->cursor++];
    // The phase is reduced with fmod: counting down a large phase by 2 pi
    // at a time could take minutes.
    double t = std::fmod((d / b->wavelength) * kTwoPi - phase, kTwoPi);
    if (t < 0) t += kTwoPi;
    double s = b->sine[TruncClamp(t / kStep, kRippleSineSteps - 1)] * b->amplitude;
    double k = 0;
    if (b->radius > 0) {
        k = s * (b->radius - d) / b->radius;
        if (d != 0) k = k * b->wavelength / d;
    }
    b->sampledX = TruncClamp(dx * k + x, b->w - 1);
    b->sampledY = TruncClamp(k * dy + y, b->h - 1);
}

void WaterRipplePixels32(RippleParams* block, int32_t frame) { RippleKernel<uint32_t>(block, frame); }
void WaterRipplePixels16(RippleParams* block, int32_t frame) { RippleKernel<uint16_t>(block, frame); }
void SwirlPixels32(SwirlParams* block, int32_t angle) { SwirlKernel<uint32_t>(block, angle); }
void SwirlPixels16(SwirlParams* block, int32_t angle) { SwirlKernel<uint16_t>(block, angle); }

uint32_t WaterRippleBitMap(BitMapHandle* bitmap, BitMapHandle* mask, BitMapHandle* alpha, int32_t w, int32_t h,
                           int32_t wavelength, int32_t amplitude, int32_t phase, double centreX, double centreY)
{
    if (wavelength < 1) wavelength = 1;
    centreX = centreX > 0 ? (centreX < 1 ? centreX : 1) : 0;
    centreY = centreY > 0 ? (centreY < 1 ? centreY : 1) : 0;
    PictureAccess p;
    bool go;
    if (uint32_t err = OpenPicture(bitmap, mask, alpha, w, h, &p, &go)) return err;
    if (!go) return 0;
    RippleParams block{};
    block.cx = static_cast<int32_t>(w * centreX);
    block.cy = static_cast<int32_t>(h * centreY);
    block.radius = block.cx > block.cy ? block.cx : block.cy;
    // Without a radius every displacement would divide by zero: the
    // picture stays as it is.
    if (block.radius == 0) return 0;
    WorkBuffer<int32_t> distances(static_cast<size_t>(w) * static_cast<size_t>(h));
    WorkBuffer<double> sine(kRippleSineSteps);
    if (!distances || !sine) return ERR_MEM;
    block.w = w;
    block.h = h;
    block.wavelength = wavelength;
    block.amplitude = amplitude;
    block.halfPeriod = 1;
    block.phase = phase;
    block.dstPixels = p.lock->pixels;
    block.dstRowLength = p.lock->rowLength;
    block.format = p.lock->format;
    block.dstMask = p.mask.pixels;
    block.dstMaskBytesPerRow = p.mask.bytesPerRow;
    block.dstAlpha = p.alpha.pixels;
    block.dstAlphaBytesPerRow = p.alpha.bytesPerRow;
    PrepareWaterRipple(&block, distances.get(), sine.get());
    if (p.lock->bytesPerPixel == 4) WaterRipplePixels32(&block, -1);
    else WaterRipplePixels16(&block, -1);
    return 0;
}

uint32_t SwirlBitMap(BitMapHandle* bitmap, BitMapHandle* mask, BitMapHandle* alpha, int32_t w, int32_t h,
                     int32_t degrees)
{
    degrees = Clamp(degrees, -359, 359);
    PictureAccess p;
    bool go;
    if (uint32_t err = OpenPicture(bitmap, mask, alpha, w, h, &p, &go)) return err;
    if (!go) return 0;
    WorkBuffer<double> sine(kRippleSineSteps), cosine(kRippleSineSteps);
    if (!sine || !cosine) return ERR_MEM;
    PrepareSwirlTables(sine.get(), cosine.get());
    SwirlParams block{};
    block.dstPixels = p.lock->pixels;
    block.dstRowLength = p.lock->rowLength;
    block.sine = sine.get();
    block.cosine = cosine.get();
    block.format = p.lock->format;
    block.w = w;
    block.h = h;
    block.dstMask = p.mask.pixels;
    block.dstMaskBytesPerRow = p.mask.bytesPerRow;
    block.dstAlpha = p.alpha.pixels;
    block.dstAlphaBytesPerRow = p.alpha.bytesPerRow;
    if (p.lock->bytesPerPixel == 4) SwirlPixels32(&block, degrees);
    else SwirlPixels16(&block, degrees);
    return 0;
}
