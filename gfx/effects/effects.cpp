// Front ends of the image effects. The pattern: lock (or take the caller's
// lock), cut the size to the bitmap, choose the kernel pair member by the
// pixel size, unlock only what was locked here. Script values reach these
// functions unchecked, so every rectangle, position, level, count and
// radius is brought into the range its kernel can take before any pixel
// is touched.
#include "gfx/effects/effects.h"

#include <cmath>
#include <cstring>

#include "core/io/error_codes.h"
#include "core/io/number_conv.h"
#include "core/vm/error_hooks.h"
#include "gfx/bitmaps/bitmap_ops.h"
#include "gfx/bitmaps/copy_bitmap.h"
#include "gfx/bitmaps/picture_bits.h"
#include "gfx/bitmaps/pixel_formats.h"
#include "gfx/blits/clip.h"
#include "gfx/blits/plane_ops.h"
#include "gfx/blits/soft_blit.h"
#include "gfx/effects/distort.h"
#include "gfx/effects/effect_lock.h"
#include "gfx/effects/filter_kernels.h"
#include "gfx/effects/pixel_kernels.h"
#include "gfx/effects/pixelate.h"
#include "gfx/effects/quantize.h"
#include "gfx/effects/work_buffer.h"

namespace {

inline bool PairMember(const BitMapLock* lock) { return lock->bytesPerPixel == 4 || lock->bytesPerPixel == 2; }

inline int32_t ClampInt(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : v > hi ? hi : v; }

inline uint32_t Luma(uint32_t c)
{
    return (((c >> 16) & 0xFF) * 299 + ((c >> 8) & 0xFF) * 587 + (c & 0xFF) * 114) / 1000;
}

// The step every in-place effect starts with: lock (or take the given
// lock), keep only 2- and 4-byte pixels, cut w x h to the bitmap.
// ERR_LOCKBMAP, or 0 with *go telling whether there is work to do.
uint32_t BeginEffect(EffectLock& lock, BitMapHandle* bitmap, BitMapLock* given, int32_t& w, int32_t& h, bool* go)
{
    *go = false;
    if (!lock.Acquire(bitmap, 0, given)) return ERR_LOCKBMAP;
    *go = PairMember(lock.get()) && CutToLock(lock.get(), w, h);
    return 0;
}

// Runs the pair member of a kernel that takes (pixels, w, h, row length,
// format, value).
template <typename Arg>
void RunPair(const BitMapLock* lock, int32_t w, int32_t h, Arg value,
             void (*k32)(uint32_t*, int32_t, int32_t, int32_t, uint32_t, Arg),
             void (*k16)(uint16_t*, int32_t, int32_t, int32_t, uint32_t, Arg))
{
    if (lock->bytesPerPixel == 4) k32(reinterpret_cast<uint32_t*>(lock->pixels), w, h, lock->rowLength, lock->format, value);
    else k16(reinterpret_cast<uint16_t*>(lock->pixels), w, h, lock->rowLength, lock->format, value);
}

// Points a parameter block at the locked pixels and runs the pair member of
// a kernel that takes the block.
template <typename Block>
void RunBlockPair(const BitMapLock* lock, Block* block, void (*k32)(const Block*), void (*k16)(const Block*))
{
    block->pixels = lock->pixels;
    block->rowLength = lock->rowLength;
    block->format = lock->format;
    if (lock->bytesPerPixel == 4) k32(block);
    else k16(block);
}

// Threshold kernels of the sepia and charcoal chains.
inline uint32_t LowCount(int32_t w, int32_t h) { return static_cast<uint32_t>(static_cast<double>(w) * h * 0.02); }
inline uint32_t HighCount(int32_t w, int32_t h) { return static_cast<uint32_t>(0.99 * w * static_cast<double>(h)); }

}  // namespace

uint32_t TintBitMap(BitMapHandle* bitmap, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t argb,
                    int32_t level)
{
    EffectLock lock;
    if (!lock.Acquire(bitmap, 0)) return ERR_LOCKBMAP;
    if (!PairMember(lock.get()) || !ClipRect(x, y, w, h, lock->width, lock->height)) return 0;
    // The blend loops take levels up to 255 (255 itself fills).
    SoftRectFill(lock->pixels, x, y, w, h, argb, static_cast<uint32_t>(ClampInt(level, 0, 255)),
                 lock->rowLength, lock->format);
    return 0;
}

uint32_t MixBitMaps(BitMapHandle* dest, BitMapHandle* src, BitMapHandle* srcMask, int32_t dx,
                    int32_t dy, int32_t sx, int32_t sy, int32_t w, int32_t h, int32_t level,
                    BitMapHandle* alpha, int32_t alphaW, int32_t alphaH)
{
    level = ClampInt(level, 0, 255);
    if (alpha) {
        // The faded copy takes the given plane's own size: a size that
        // differs would leave rows unfilled or read past the plane.
        (void)alphaW;
        (void)alphaH;
        BitMapHandle* faded = AllocAlphaBitMap(alpha->width, alpha->height, 1, nullptr, 0);
        if (!faded) return ERR_ALLOCALPHA;
        CopyAlphaPlane(alpha, faded, alpha->height, static_cast<uint32_t>(level));
        BltBitMapMasked(src, sx, sy, dest, dx, dy, w, h, faded);
        FreePlaneBitMap(faded);
        return 0;
    }
    EffectLock d, s;
    if (!d.Acquire(dest, 0) || !s.Acquire(src, LOCKBITMAP_READ)) return ERR_LOCKBMAP;
    if (!PairMember(d.get())) return 0;
    if (d->format != s->format) return ERR_PIXELFORMAT;
    if (!ClipRectPair(sx, sy, s->width, s->height, dx, dy, d->width, d->height, w, h)) return 0;
    PlaneAccess mask;
    if (srcMask) {
        if (!mask.Open(srcMask)) return ERR_LOCKBMAP;
        if (!ClipRectPair(sx, sy, mask.width, mask.height, dx, dy, d->width, d->height, w, h)) return 0;
    }
    uint32_t bpp = d->bytesPerPixel;
    MixParams block{s->pixels + (static_cast<size_t>(s->rowLength) * sy + sx) * bpp,
                    d->pixels + (static_cast<size_t>(d->rowLength) * dy + dx) * bpp,
                    mask.pixels ? mask.pixels + static_cast<size_t>(mask.bytesPerRow) * sy : nullptr,
                    sx, w, h, static_cast<uint32_t>(level), d->format, s->rowLength, d->rowLength,
                    mask.bytesPerRow};
    if (bpp == 4) MixPixels32(&block);
    else MixPixels16(&block);
    return 0;
}

uint32_t GrayBitMap(BitMapHandle* bitmap, int32_t w, int32_t h, int threshold, BitMapLock* given)
{
    EffectLock lock;
    bool go;
    if (uint32_t err = BeginEffect(lock, bitmap, given, w, h, &go); err || !go) return err;
    if (lock->bytesPerPixel == 4)
        GrayPixels32(reinterpret_cast<uint32_t*>(lock->pixels), w, h, lock->format, lock->rowLength, threshold);
    else
        GrayPixels16(reinterpret_cast<uint16_t*>(lock->pixels), w, h, lock->format, lock->rowLength, threshold);
    return 0;
}

uint32_t MonochromeBitMap(BitMapHandle* bitmap, int32_t w, int32_t h, int dither)
{
    if (!dither) return GrayBitMap(bitmap, w, h, 1);
    EffectLock lock;
    bool go;
    if (uint32_t err = BeginEffect(lock, bitmap, nullptr, w, h, &go); err || !go) return err;
    WorkBuffer<uint8_t> indices(static_cast<size_t>(w) * static_cast<size_t>(h));
    if (!indices) return ERR_MEM;
    uint32_t palette[256];
    uint32_t count = 2;
    uint32_t err = BuildQuantizePalette(lock->pixels, lock->format, lock->bytesPerPixel, w, h, lock->rowLength,
                                        indices.get(), palette, &count, -1, 0, 1, nullptr);
    if (err) return err;
    // The two colours the quantiser found need not be black and white: the
    // brighter one becomes white. A one-colour picture goes by its luma.
    uint8_t white[2] = {0, 0};
    if (count >= 2) white[Luma(palette[1]) > Luma(palette[0]) ? 1 : 0] = 1;
    else white[0] = Luma(palette[0]) > 128;
    size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
    for (size_t i = 0; i < n; ++i) indices[i] = white[indices[i] & 1];
    if (lock->bytesPerPixel == 4)
        MonochromePixels32(reinterpret_cast<uint32_t*>(lock->pixels), w, h, lock->format, lock->rowLength, indices.get());
    else
        MonochromePixels16(reinterpret_cast<uint16_t*>(lock->pixels), w, h, lock->format, lock->rowLength, indices.get());
    return 0;
}

uint32_t FlipBitMap(BitMapHandle* bitmap, BitMapHandle* mask, BitMapHandle* alpha, int32_t w, int32_t h,
                    int horizontal)
{
    EffectLock lock;
    bool go;
    if (uint32_t err = BeginEffect(lock, bitmap, nullptr, w, h, &go); err || !go) return err;
    PlaneAccess m, a;
    if ((mask && !m.Open(mask)) || (alpha && !a.Open(alpha))) return ERR_LOCKBMAP;
    if (!m.Cut(w, h) || !a.Cut(w, h)) return 0;
    WorkBuffer<uint8_t> scratch;
    if (horizontal && m.pixels && !scratch.Allocate(static_cast<size_t>(m.bytesPerRow))) return ERR_MEM;
    FlipParams block{lock->pixels, w, h, lock->rowLength, m.pixels, m.bytesPerRow, a.pixels, a.bytesPerRow,
                     static_cast<uint32_t>(horizontal != 0), lock->bytesPerPixel, scratch.get()};
    FlipPixels(&block);
    return 0;
}

uint32_t InvertBitMap(BitMapHandle* bitmap, int32_t w, int32_t h, BitMapLock* given)
{
    EffectLock lock;
    bool go;
    if (uint32_t err = BeginEffect(lock, bitmap, given, w, h, &go); err || !go) return err;
    if (lock->bytesPerPixel == 4) InvertPixels32(reinterpret_cast<uint32_t*>(lock->pixels), w, h, lock->rowLength);
    else InvertPixels16(reinterpret_cast<uint16_t*>(lock->pixels), w, h, lock->rowLength);
    return 0;
}

BitMapHandle* SetBitMapTransparency(BitMapHandle* bitmap, int32_t w, int32_t h, uint32_t argb)
{
    EffectLock lock;
    if (!lock.Acquire(bitmap, LOCKBITMAP_READ)) return nullptr;
    if (!PairMember(lock.get()) || !CutToLock(lock.get(), w, h)) return nullptr;
    uint32_t colour = ArgbToPixel(argb, lock->format, 0);
    BitMapHandle* mask = AllocMaskBitMap(bitmap, w, h, 1, nullptr, 0);
    if (!mask) return nullptr;
    PlaneAccess m;
    if (!m.Open(mask)) {
        FreePlaneBitMap(mask);
        return nullptr;
    }
    if (lock->bytesPerPixel == 4) {
        BuildMaskFromColor32(reinterpret_cast<const uint32_t*>(lock->pixels), m.pixels, w, h, m.bytesPerRow,
                             colour, lock->rowLength, ColourBytes32(lock->format));
    } else {
        BuildMaskFromColor16(reinterpret_cast<const uint16_t*>(lock->pixels), m.pixels, w, h, m.bytesPerRow,
                             colour, lock->rowLength);
    }
    return mask;
}

uint32_t ReplaceColors(BitMapHandle* bitmap, int32_t w, int32_t h, const uint32_t* pairs, int32_t count)
{
    if (!pairs || count <= 0) return 0;
    EffectLock lock;
    bool go;
    if (uint32_t err = BeginEffect(lock, bitmap, nullptr, w, h, &go); err || !go) return err;
    WorkBuffer<uint32_t> list(2 * static_cast<size_t>(count) + 1);
    if (!list) return ERR_MEM;
    for (int32_t i = 0; i < 2 * count; ++i) list[i] = ArgbToPixel(pairs[i], lock->format, 0);
    list[2 * static_cast<size_t>(count)] = 0xFFFFFFFF;
    if (lock->bytesPerPixel == 4) {
        ReplaceColorsPixels32(w, h, list.get(), reinterpret_cast<uint32_t*>(lock->pixels), lock->rowLength,
                              ColourBytes32(lock->format));
    } else {
        ReplaceColorsPixels16(w, h, list.get(), reinterpret_cast<uint16_t*>(lock->pixels), lock->rowLength);
    }
    return 0;
}

uint32_t ConvolveBitMap(uint32_t kind, BitMapHandle* bitmap, BitMapHandle* alpha, int32_t w, int32_t h,
                        double radius, double strength, BitMapLock* given)
{
    if (!(radius > 0)) radius = 0;
    if (radius == 0) strength = 1.0;
    PlaneAccess a;
    if (alpha && !a.Open(alpha)) return ERR_LOCKBMAP;
    ConvolveParams block{nullptr, w, h, 0, 0, 0, a.pixels, a.bytesPerRow, radius, strength, kind};
    EffectLock lock;
    if (bitmap) {
        if (!lock.Acquire(bitmap, 0, given)) return ERR_LOCKBMAP;
        if (!PairMember(lock.get()) || !CutToLock(lock.get(), block.w, block.h)) return 0;
        block.pixels = lock->pixels;
        block.rowLength = lock->rowLength;
        block.format = lock->format;
        block.bytesPerPixel = lock->bytesPerPixel;
    } else if (!a.pixels) {
        return 0;
    }
    if (!a.Cut(block.w, block.h)) return 0;
    ConvolvePixels(&block);
    return 0;
}

uint32_t SolarizeBitMap(BitMapHandle* bitmap, int32_t w, int32_t h, int32_t threshold)
{
    EffectLock lock;
    bool go;
    if (uint32_t err = BeginEffect(lock, bitmap, nullptr, w, h, &go); err || !go) return err;
    auto t = static_cast<uint32_t>(ClampInt(threshold, 0, 255));
    RunPair(lock.get(), w, h, t, SolarizePixels32, SolarizePixels16);
    return 0;
}

void BuildGammaTable(double gamma, uint8_t table[256])
{
    if (!(gamma > 0)) {
        std::memset(table, 0, 256);
        return;
    }
    // entry = pow(i / 255, 1 / gamma) * 255, rounded, within 0..255.
    for (int i = 0; i < 256; ++i) {
        double t = std::pow(i / 255.0, 1.0 / gamma) * 255.0;
        table[i] = t < 0 ? 0 : t > 255 ? 255 : static_cast<uint8_t>(t + 0.5);
    }
}

uint32_t GammaBitMap(BitMapHandle* bitmap, int32_t w, int32_t h, double red, double green, double blue)
{
    if (!(red >= 0)) red = 0;
    if (!(green >= 0)) green = 0;
    if (!(blue >= 0)) blue = 0;
    if (red == 1.0 && green == 1.0 && blue == 1.0) return 0;
    uint8_t tables[3][256];
    GammaParams block{};
    block.w = w;
    block.h = h;
    if (red != 1.0) {
        BuildGammaTable(red, tables[0]);
        block.red = tables[0];
        block.channels |= 1;
    }
    if (green != 1.0) {
        if (green == red) {
            block.green = tables[0];
        } else {
            BuildGammaTable(green, tables[1]);
            block.green = tables[1];
        }
        block.channels |= 2;
    }
    if (blue != 1.0) {
        if (blue == red) {
            block.blue = tables[0];
        } else if (blue == green) {
            block.blue = block.green;
        } else {
            BuildGammaTable(blue, tables[2]);
            block.blue = tables[2];
        }
        block.channels |= 4;
    }
    EffectLock lock;
    bool go;
    if (uint32_t err = BeginEffect(lock, bitmap, nullptr, block.w, block.h, &go); err || !go) return err;
    RunBlockPair(lock.get(), &block, GammaPixels32, GammaPixels16);
    return 0;
}

uint32_t ContrastBitMap(BitMapHandle* bitmap, int32_t w, int32_t h, int increase, int32_t steps, BitMapLock* given)
{
    if (steps < 1) return 0;
    // After a few dozen steps every value sits on 0 or 255; more only cost
    // time.
    constexpr int32_t kMaxSteps = 64;
    if (steps > kMaxSteps) steps = kMaxSteps;
    EffectLock lock;
    bool go;
    if (uint32_t err = BeginEffect(lock, bitmap, given, w, h, &go); err || !go) return err;
    int32_t direction = increase ? 1 : -1;
    for (int32_t i = 0; i < steps; ++i) {
        if (VmAbortFlag.load(std::memory_order_relaxed)) return ERR_USERABORT;
        RunPair(lock.get(), w, h, direction, ContrastPixels32, ContrastPixels16);
    }
    return 0;
}

uint32_t ModulateBitMap(BitMapHandle* bitmap, int32_t w, int32_t h, double brightness, double saturation, double hue)
{
    if (brightness == 1.0 && saturation == 1.0 && hue == 1.0) return 0;
    ModulateParams block{nullptr, w, h, 0, 0,
                         DoubleToInt32((brightness > 0 ? brightness : 0) * 100),
                         DoubleToInt32((saturation > 0 ? saturation : 0) * 100),
                         DoubleToInt32((hue > 0 ? hue : 0) * 100)};
    EffectLock lock;
    bool go;
    if (uint32_t err = BeginEffect(lock, bitmap, nullptr, block.w, block.h, &go); err || !go) return err;
    RunBlockPair(lock.get(), &block, ModulatePixels32, ModulatePixels16);
    return 0;
}

uint32_t NormalizeBitMap(BitMapHandle* bitmap, int32_t w, int32_t h, uint32_t lowCount, uint32_t highCount,
                         BitMapLock* given)
{
    EffectLock lock;
    bool go;
    if (uint32_t err = BeginEffect(lock, bitmap, given, w, h, &go); err || !go) return err;
    NormalizeParams block{lock->pixels, w, h, lock->rowLength, lowCount, highCount, lock->format};
    NormalizePixels(&block);
    return 0;
}

uint32_t SepiaBitMap(BitMapHandle* bitmap, int32_t w, int32_t h, int32_t level)
{
    EffectLock lock;
    bool go;
    if (uint32_t err = BeginEffect(lock, bitmap, nullptr, w, h, &go); err || !go) return err;
    auto t = static_cast<uint32_t>(ClampInt(level, 0, 255));
    RunPair(lock.get(), w, h, t, SepiaPixels32, SepiaPixels16);
    NormalizeBitMap(bitmap, w, h, LowCount(w, h), HighCount(w, h), lock.get());
    return ContrastBitMap(bitmap, w, h, 1, 1, lock.get());
}

uint32_t CharcoalBitMap(BitMapHandle* bitmap, BitMapHandle* alpha, int32_t w, int32_t h, double radius,
                        double strength)
{
    if (!(radius > 0)) radius = 0;
    EffectLock lock;
    bool go;
    if (uint32_t err = BeginEffect(lock, bitmap, nullptr, w, h, &go); err || !go) return err;
    uint32_t err = GrayBitMap(bitmap, w, h, 0, lock.get());
    // The edge pass leaves the alpha plane alone: the edges of an even
    // plane are 0 everywhere and would hide the whole picture.
    if (!err) err = ConvolveBitMap(CONVOLVE_EDGE, bitmap, nullptr, w, h, radius, 0.0, lock.get());
    if (!err) err = ConvolveBitMap(CONVOLVE_BLUR, bitmap, alpha, w, h, radius, strength, lock.get());
    if (!err) err = NormalizeBitMap(bitmap, w, h, LowCount(w, h), HighCount(w, h), lock.get());
    if (!err) err = InvertBitMap(bitmap, w, h, lock.get());
    if (!err) err = GrayBitMap(bitmap, w, h, 0, lock.get());
    return err;
}

uint32_t PixelateBitMap(BitMapHandle* bitmap, BitMapHandle* mask, BitMapHandle* alpha, int32_t w, int32_t h,
                        int32_t cell)
{
    if (cell < 2) return 0;
    EffectLock lock;
    bool go;
    if (uint32_t err = BeginEffect(lock, bitmap, nullptr, w, h, &go); err || !go) return err;
    PlaneAccess m, a;
    if ((mask && !m.Open(mask)) || (alpha && !a.Open(alpha))) return ERR_LOCKBMAP;
    if (!m.Cut(w, h) || !a.Cut(w, h)) return 0;
    // Cells read an untouched copy: the picture changes under them.
    MadeBitMaps copy{};
    if (uint32_t err = CopyBitMap(bitmap, mask, alpha, 0, 0, w, h, 0, nullptr, nullptr, &copy.bitmap,
                                  mask ? &copy.mask : nullptr, alpha ? &copy.alpha : nullptr))
        return err;
    uint32_t err = 0;
    {
        EffectLock c;
        PlaneAccess cm, ca;
        if (!c.Acquire(copy.bitmap, LOCKBITMAP_READ) || (copy.mask && !cm.Open(copy.mask)) ||
            (copy.alpha && !ca.Open(copy.alpha))) {
            err = ERR_LOCKBMAP;
        } else if (c->format != lock->format) {
            err = ERR_PIXELFORMAT;
        } else {
            int32_t side = cell < w ? cell : w;
            if (side > h) side = h;
            PixelateParams block{lock->pixels, lock->rowLength, m.pixels, m.bytesPerRow, a.pixels, a.bytesPerRow,
                                 c->pixels, c->rowLength, cm.pixels, cm.bytesPerRow, ca.pixels, ca.bytesPerRow,
                                 w, h, side};
            if (lock->bytesPerPixel == 4) PixelatePixels32(&block);
            else PixelatePixels16(&block);
        }
    }
    FreeMadeBitMaps(&copy);
    return err;
}

BitMapHandle* MakeShadowBitMap(BitMapHandle* srcAlpha, BitMapHandle* srcMask, int32_t x, int32_t y, int32_t w,
                               int32_t h, double radius, double strength, uint32_t value, int hard, int soften)
{
    if (!(radius > 0)) radius = 0;
    int32_t r = DoubleToInt32(radius);
    if (w <= 0 || h <= 0 || r > kMaxBitMapSide) return nullptr;
    int64_t W = static_cast<int64_t>(w) + 2 * static_cast<int64_t>(r);
    int64_t H = static_cast<int64_t>(h) + 2 * static_cast<int64_t>(r);
    if (W > kMaxBitMapSide || H > kMaxBitMapSide) return nullptr;
    BitMapHandle* plane = AllocAlphaBitMap(static_cast<int32_t>(W), static_cast<int32_t>(H), 1, nullptr, 0);
    if (!plane) return nullptr;
    {
        PlaneAccess d;
        if (!d.Open(plane)) {
            FreePlaneBitMap(plane);
            return nullptr;
        }
        auto byte = static_cast<uint8_t>(value);
        if (srcAlpha) {
            PlaneAccess s;
            int32_t sx = x, sy = y, dx = r, dy = r, cw = w, ch = h;
            if (s.Open(srcAlpha) && ClipRectPair(sx, sy, s.width, s.height, dx, dy, d.width, d.height, cw, ch)) {
                for (int32_t j = 0; j < ch; ++j) {
                    const uint8_t* from = s.pixels + static_cast<size_t>(s.bytesPerRow) * (sy + j) + sx;
                    uint8_t* to = d.pixels + static_cast<size_t>(d.bytesPerRow) * (dy + j) + dx;
                    for (int32_t i = 0; i < cw; ++i)
                        if (from[i]) to[i] = byte;
                }
            }
        } else if (srcMask) {
            MaskToAlpha(srcMask, x, y, plane, r, r, w, h, value);
        } else {
            FillAlphaPlane(plane, r, r, w, h, value);
        }
    }
    ConvolveBitMap(CONVOLVE_BLUR, nullptr, plane, plane->width, plane->height, radius, strength);
    if (hard) {
        PlaneAccess d;
        if (d.Open(plane))
            for (int32_t j = 0; j < d.height; ++j) {
                uint8_t* row = d.pixels + static_cast<size_t>(d.bytesPerRow) * j;
                for (int32_t i = 0; i < d.width; ++i)
                    if (row[i]) row[i] = 255;
            }
    }
    if (soften && srcAlpha)
        ConvolveBitMap(CONVOLVE_BLUR, nullptr, plane, plane->width, plane->height, radius * 0.5, radius * 0.5 / 3);
    return plane;
}

uint32_t OilPaintBitMap(BitMapHandle* bitmap, int32_t w, int32_t h, double radius, BitMapLock* given)
{
    if (!(radius > 0)) radius = 0;
    EffectLock lock;
    bool go;
    if (uint32_t err = BeginEffect(lock, bitmap, given, w, h, &go); err || !go) return err;
    OilPaintParams block{lock->pixels, w, h, lock->rowLength, lock->format, radius};
    if (lock->bytesPerPixel == 4) OilPaintPixels32(&block);
    else OilPaintPixels16(&block);
    return 0;
}

uint32_t DistortBitMap(BitMapHandle* bitmap, BitMapHandle* mask, BitMapHandle* alpha, uint32_t method,
                       uint32_t count, int32_t w, int32_t h, const double* coefficients, uint32_t flags,
                       BitMapHandle** outBitMap, BitMapHandle** outMask, BitMapHandle** outAlpha,
                       int32_t* outWidth, int32_t* outHeight)
{
    if (outBitMap) *outBitMap = nullptr;
    if (outMask) *outMask = nullptr;
    if (outAlpha) *outAlpha = nullptr;
    if (!bitmap) return ERR_ARGS;
    if (w > bitmap->width) w = bitmap->width;
    if (h > bitmap->height) h = bitmap->height;
    DistortParams block{};
    block.method = method;
    block.coefficients = coefficients;
    block.coefficientCount = count;
    block.srcW = w;
    block.srcH = h;
    if (uint32_t err = DistortBitMapBounds(&block)) return err;

    MadeBitMaps made{};
    bool makeMask = mask || (!alpha && flags == 0);
    uint32_t err = MakeBitMaps(&made, block.outW, block.outH, true, makeMask, !makeMask, 1);
    if (!err) {
        EffectLock s, d;
        PlaneAccess sm, sa, dm, da;
        if (!s.Acquire(bitmap, LOCKBITMAP_READ) || !d.Acquire(made.bitmap, 0) || (mask && !sm.Open(mask)) ||
            (alpha && !mask && !sa.Open(alpha)) || (made.mask && !dm.Open(made.mask)) ||
            (made.alpha && !da.Open(made.alpha)))
            err = ERR_LOCKBMAP;
        if (!err && ((sm.pixels && (sm.width < w || sm.height < h)) || (sa.pixels && (sa.width < w || sa.height < h))))
            err = ERR_ARGS;
        block.srcPixels = s->pixels;
        block.srcRowLength = s->rowLength;
        block.bytesPerPixel = s->bytesPerPixel;
        // A source in another layout than new bitmaps get is first converted
        // to theirs, so that rendering copies whole pixels.
        WorkBuffer<uint8_t> converted;
        if (!err && s->format != d->format) {
            const PixelRowKernels* from = GetPixelRowKernels(s->format);
            const PixelRowKernels* to = GetPixelRowKernels(d->format);
            WorkBuffer<uint32_t> row(static_cast<size_t>(w));
            if (!from || !to) err = ERR_PIXELFORMAT;
            else if (!row || !converted.Allocate(static_cast<size_t>(w) * static_cast<size_t>(h) * d->bytesPerPixel))
                err = ERR_MEM;
            for (int32_t y = 0; !err && y < h; ++y) {
                from->toArgb(s->pixels + static_cast<size_t>(s->rowLength) * s->bytesPerPixel * y, row.get(), w, 1);
                to->fromArgb(row.get(), converted.get() + static_cast<size_t>(w) * d->bytesPerPixel * y, w, 1);
            }
            block.srcPixels = converted.get();
            block.srcRowLength = w;
            block.bytesPerPixel = d->bytesPerPixel;
        }
        if (!err) {
            block.srcMask = sm.pixels;
            block.srcMaskBytesPerRow = sm.bytesPerRow;
            block.srcAlpha = sa.pixels;
            block.srcAlphaBytesPerRow = sa.bytesPerRow;
            block.dstPixels = d->pixels;
            block.dstRowLength = d->rowLength;
            block.dstMask = dm.pixels;
            block.dstMaskBytesPerRow = dm.bytesPerRow;
            block.dstAlpha = da.pixels;
            block.dstAlphaBytesPerRow = da.bytesPerRow;
            err = RenderDistortedBitMap(&block);
        }
    }
    if (FinishMadeBitMaps(err, nullptr, &made, outBitMap, outMask, outAlpha)) return err;
    if (outWidth) *outWidth = block.outW;
    if (outHeight) *outHeight = block.outH;
    return 0;
}

uint32_t QuantizeBitMap(BitMapHandle* bitmap, int32_t w, int32_t h, int32_t colours, int dither)
{
    EffectLock lock;
    if (!lock.Acquire(bitmap, 0)) return ERR_LOCKBMAP;
    uint32_t bpp = lock->bytesPerPixel;
    if (bpp < 2 || bpp > 4 || !CutToLock(lock.get(), w, h)) return 0;
    WorkBuffer<uint8_t> indices(static_cast<size_t>(w) * static_cast<size_t>(h));
    if (!indices) return ERR_MEM;
    uint32_t palette[256];
    auto count = static_cast<uint32_t>(ClampInt(colours, 2, 256));
    uint32_t err = BuildQuantizePalette(lock->pixels, lock->format, bpp, w, h, lock->rowLength, indices.get(),
                                        palette, &count, -1, 0, dither ? 1 : 0, nullptr);
    if (err) return err;
    for (uint32_t i = 0; i < count; ++i) palette[i] = ArgbToPixel(palette[i], lock->format, 0);
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* row = lock->pixels + static_cast<size_t>(lock->rowLength) * bpp * y;
        const uint8_t* idx = indices.get() + static_cast<size_t>(w) * y;
        for (int32_t x = 0; x < w; ++x) {
            uint32_t v = palette[idx[x]];
            uint8_t* p = row + static_cast<size_t>(x) * bpp;
            if (bpp == 4) {
                std::memcpy(p, &v, 4);
            } else if (bpp == 2) {
                auto s = static_cast<uint16_t>(v);
                std::memcpy(p, &s, 2);
            } else {
                p[0] = static_cast<uint8_t>(v >> 16);
                p[1] = static_cast<uint8_t>(v >> 8);
                p[2] = static_cast<uint8_t>(v);
            }
        }
    }
    return 0;
}
