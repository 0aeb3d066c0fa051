// Coverage blits and alpha-plane combination. The coverage kernels work in
// the native layouts (ARGB, RGB565) and convert other formats on the way in
// and out; one kernel per (mode, pixel size) is chosen through a table.
//
// Coverage composed into a destination alpha plane goes "over" what is
// there: da + (255 - da) * a' / 255 with a' = a * factor / 255. An opaque
// destination therefore stays opaque; lowering it by the coverage would
// punch holes into the plane wherever an anti-aliased edge passes.
#include "gfx/blits/alpha_blits.h"

#include <algorithm>
#include <climits>

#include "core/io/utilities.h"
#include "core/plugins/plugin_manager.h"
#include "gfx/bitmaps/adapter_calls.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/bitmaps/pixel_formats.h"
#include "gfx/blits/blend_kernels.h"
#include "gfx/blits/clip.h"
#include "gfx/blits/display_blit.h"
#include "gfx/blits/plane_ops.h"

namespace {

struct CoverageBlock {
    uint8_t* dst;
    int32_t dstRowLength;
    const uint8_t* coverage;
    uintptr_t coverageBytesPerRow;
    const uint16_t* coverage16;
    int32_t coverage16RowLength;
    const uint8_t* src;  // source colour pixels or null
    int32_t srcRowLength;
    uint8_t* dstAlpha;
    uintptr_t dstAlphaBytesPerRow;
    int32_t sx, sy, dx, dy, w, h;
    uint32_t format;
    uint32_t colour;  // in the native layout
    uint32_t factor;
};

// The native layouts of the two pixel sizes.
struct Pixel32 {
    using Word = uint32_t;
    static constexpr uint32_t kNative = PIXFMT_ARGB;
    static uint32_t Load(Word p, uint32_t f) { return f == kNative ? p : PixelFromFormat32(f, p); }
    static Word Store(uint32_t n, uint32_t f) { return f == kNative ? n : PixelToFormat32(f, n); }
    static uint32_t Widen(uint32_t n) { return n; }
    static uint32_t Narrow(uint32_t argb) { return argb; }
};
struct Pixel16 {
    using Word = uint16_t;
    static constexpr uint32_t kNative = PIXFMT_RGB565;
    static uint32_t Load(Word p, uint32_t f) { return f == kNative ? p : PixelFromFormat16(f, p); }
    static Word Store(uint32_t n, uint32_t f)
    {
        return static_cast<Word>(f == kNative ? n : PixelToFormat16(f, n));
    }
    static uint32_t Widen(uint32_t n) { return Rgb565ToArgb(n); }
    static uint32_t Narrow(uint32_t argb) { return ArgbToRgb565(argb); }
};

inline uint8_t ComposeOver(uint32_t da, uint32_t a, uint32_t factor)
{
    uint32_t ap = std::min<uint32_t>(a * factor / 255, 255);
    return static_cast<uint8_t>(da + (255 - da) * ap / 255);
}

template <typename P, uint32_t Mode>
void CoverageKernel(const CoverageBlock& b)
{
    using Word = typename P::Word;
    for (int32_t j = 0; j < b.h; ++j) {
        Word* d = reinterpret_cast<Word*>(b.dst) + static_cast<size_t>(b.dstRowLength) * (b.dy + j) + b.dx;
        const uint8_t* cov = Mode == COVERAGE_ALPHA16
                                 ? nullptr
                                 : b.coverage + b.coverageBytesPerRow * (b.sy + j) + b.sx;
        const uint16_t* cov16 = Mode == COVERAGE_ALPHA16
                                    ? b.coverage16 + static_cast<size_t>(b.coverage16RowLength) * (b.sy + j) + b.sx
                                    : nullptr;
        const Word* s = b.src ? reinterpret_cast<const Word*>(b.src) +
                                    static_cast<size_t>(b.srcRowLength) * (b.sy + j) + b.sx
                              : nullptr;
        uint8_t* da = b.dstAlpha ? b.dstAlpha + b.dstAlphaBytesPerRow * (b.dy + j) + b.dx : nullptr;
        for (int32_t i = 0; i < b.w; ++i) {
            uint32_t cell = Mode == COVERAGE_ALPHA16 ? cov16[i] : cov[i];
            if (cell == 0) continue;
            uint32_t a = cell & 255;
            uint32_t c = s && Mode != COVERAGE_ALPHA16 ? P::Load(s[i], b.format) : b.colour;
            if (Mode == COVERAGE_SOLID) {
                d[i] = P::Store(c, b.format);
                continue;
            }
            if (Mode == COVERAGE_65LEVELS) {
                if (cell == 64) {
                    d[i] = P::Store(c, b.format);
                    continue;
                }
                a = (cell * 4) & 255;
                if (a == 0) continue;
            }
            if ((Mode == COVERAGE_ALPHA || Mode == COVERAGE_ALPHA16) && da) {
                if (da[i] == 0) {
                    d[i] = P::Store(c, b.format);
                    uint32_t v = cell * b.factor / 255;
                    da[i] = static_cast<uint8_t>(Mode == COVERAGE_ALPHA16 ? v : std::min<uint32_t>(v, 255));
                    continue;
                }
                da[i] = ComposeOver(da[i], a, b.factor);
            }
            if (a == 0) continue;
            if (a == 255) {
                d[i] = P::Store(c, b.format);
                continue;
            }
            uint32_t dn = P::Load(d[i], b.format);
            d[i] = P::Store(P::Narrow(BlendArgb(P::Widen(dn), P::Widen(c), a)), b.format);
        }
    }
}

typedef void (*CoverageKernelFunc)(const CoverageBlock& b);

// [mode][0 for 4-byte pixels, 1 for 2-byte pixels]
const CoverageKernelFunc kCoverageKernels[5][2] = {
    {CoverageKernel<Pixel32, 0>, CoverageKernel<Pixel16, 0>},
    {CoverageKernel<Pixel32, 1>, CoverageKernel<Pixel16, 1>},
    {CoverageKernel<Pixel32, 2>, CoverageKernel<Pixel16, 2>},
    {CoverageKernel<Pixel32, 3>, CoverageKernel<Pixel16, 3>},
    {CoverageKernel<Pixel32, 4>, CoverageKernel<Pixel16, 4>},
};

int32_t SideOr(const BitMapHandle* h, bool width)
{
    return h ? (width ? h->width : h->height) : INT32_MAX;
}

// The new destination byte of each BltAlphaPlane mode.
template <uint32_t Mode>
inline uint8_t AlphaPlaneByte(uint32_t s, uint32_t d, uint32_t v)
{
    switch (Mode) {
    case 0: return static_cast<uint8_t>(s);
    case 1: return static_cast<uint8_t>(s ? s : d);
    case 2: return static_cast<uint8_t>(s ? 255 - s : d);
    case 3: return static_cast<uint8_t>(s ? 255 : d);
    case 4: return static_cast<uint8_t>(s ? std::min<uint32_t>(s * v / 255, 255) : d);
    case 5: return static_cast<uint8_t>(s && d ? 255 - s : d);
    case 6: return static_cast<uint8_t>(s ? (v & 255) : d);
    case 7: return static_cast<uint8_t>(s && d ? s : 0);
    case 8: return static_cast<uint8_t>(s == 255 ? 255 : d);
    default:
        if (s == 255) return 255;
        if (s == 0) return static_cast<uint8_t>(d);
        return static_cast<uint8_t>(std::min<uint32_t>((s * 255 + (255 - s) * d + 127) / 255, 255));
    }
}

template <uint32_t Mode>
void AlphaPlaneRow(const uint8_t* s, uint8_t* d, int32_t w, uint32_t v)
{
    for (int32_t i = 0; i < w; ++i) d[i] = AlphaPlaneByte<Mode>(s[i], d[i], v);
}

typedef void (*AlphaPlaneRowFunc)(const uint8_t* s, uint8_t* d, int32_t w, uint32_t v);
const AlphaPlaneRowFunc kAlphaPlaneRows[10] = {
    AlphaPlaneRow<0>, AlphaPlaneRow<1>, AlphaPlaneRow<2>, AlphaPlaneRow<3>, AlphaPlaneRow<4>,
    AlphaPlaneRow<5>, AlphaPlaneRow<6>, AlphaPlaneRow<7>, AlphaPlaneRow<8>, AlphaPlaneRow<9>,
};

}  // namespace

void BltAlphaChannel(BitMapHandle* alpha, int32_t sx, int32_t sy, BitMapHandle* dst, int32_t dx,
                     int32_t dy, int32_t w, int32_t h, uint32_t colour, uint32_t mode,
                     BitMapHandle* dstAlpha, uint32_t factor, const uint16_t* coverage16,
                     int32_t coverage16RowLength, BitMapHandle* srcColour,
                     const uint8_t* alphaPixels, uint32_t alphaBytesPerRow)
{
    if (!dst) {
        DebugPrintf("ERROR! BLTALPHACHANNEL() CALLED WITH DST=NULL!\n");
        return;
    }
    // An adapter that draws such text itself is left to it.
    if (mode == COVERAGE_BLEND && !dstAlpha && !coverage16 && !srcColour && DisplayAdapterPlugin &&
        (DisplayAdapterPlugin->displayAdapterCaps & 1))
        return;
    if (mode > COVERAGE_65LEVELS) return;
    CoverageBlock b{};
    if (mode == COVERAGE_ALPHA16) {
        if (!coverage16 || coverage16RowLength < 1) return;
        b.coverage16 = coverage16;
        b.coverage16RowLength = coverage16RowLength;
    } else {
        PlaneView cov{};
        ViewPlane(alpha, BITMAP_ALPHA, &cov);
        b.coverage = alphaPixels ? alphaPixels : cov.pixels;
        b.coverageBytesPerRow = alphaBytesPerRow ? alphaBytesPerRow : cov.bytesPerRow;
        if (!b.coverage) return;
    }
    PlaneView da{};
    ViewPlane(dstAlpha, BITMAP_ALPHA, &da);
    b.dstAlpha = da.pixels;
    b.dstAlphaBytesPerRow = da.bytesPerRow;
    // Cut to everything that is read or written at either position; a
    // plane given only as raw pixels is the caller's to size.
    bool planeSized = mode != COVERAGE_ALPHA16 && !alphaPixels;
    int32_t srcLimitW = std::min(planeSized ? SideOr(alpha, true) : INT32_MAX, SideOr(srcColour, true));
    int32_t srcLimitH = std::min(planeSized ? SideOr(alpha, false) : INT32_MAX, SideOr(srcColour, false));
    int32_t dstLimitW = std::min(dst->width, b.dstAlpha ? dstAlpha->width : INT32_MAX);
    int32_t dstLimitH = std::min(dst->height, b.dstAlpha ? dstAlpha->height : INT32_MAX);
    if (!ClipRectPair(sx, sy, srcLimitW, srcLimitH, dx, dy, dstLimitW, dstLimitH, w, h)) return;

    BitMapLock d{}, s{};
    if (!LockBitMapPixels(dst, 0, &d)) return;
    bool sourceOk = !srcColour || LockBitMapPixels(srcColour, LOCKBITMAP_READ, &s);
    uint32_t size = d.bytesPerPixel == 4 ? 0 : d.bytesPerPixel == 2 ? 1 : 2;
    if (sourceOk && size < 2 && (!srcColour || s.bytesPerPixel == d.bytesPerPixel) &&
        w <= d.width - dx && h <= d.height - dy) {
        b.dst = d.pixels;
        b.dstRowLength = d.rowLength;
        b.src = srcColour ? s.pixels : nullptr;
        b.srcRowLength = s.rowLength;
        b.sx = sx;
        b.sy = sy;
        b.dx = dx;
        b.dy = dy;
        b.w = w;
        b.h = h;
        b.format = d.format;
        uint32_t pixel = ArgbToPixel(colour, d.format, 0);
        b.colour = size == 0 ? Pixel32::Load(pixel, d.format) : Pixel16::Load(pixel, d.format);
        b.factor = factor;
        const BlendRowKernels* rows = GetBlendRowKernels(d.format);
        if (mode == COVERAGE_BLEND && !b.src && rows) {
            // A plain colour through coverage is the blend kernels' cover row.
            for (int32_t j = 0; j < h; ++j)
                rows->cover(d.pixels + (static_cast<size_t>(d.rowLength) * (dy + j) + dx) * d.bytesPerPixel,
                            pixel, b.coverage + b.coverageBytesPerRow * (sy + j) + sx, w);
        } else {
            kCoverageKernels[mode][size](b);
        }
    }
    if (srcColour) UnlockBitMapPixels(&s);
    UnlockBitMapPixels(&d);
}

void ClipBltAlphaChannel(BitMapHandle* alpha, int32_t sx, int32_t sy, BitMapHandle* dst,
                         int32_t dx, int32_t dy, int32_t w, int32_t h, int32_t srcW, int32_t srcH,
                         int32_t dstW, int32_t dstH, uint32_t colour, uint32_t mode,
                         BitMapHandle* dstAlpha, uint32_t factor, const uint16_t* coverage16,
                         int32_t coverage16RowLength, BitMapHandle* srcColour)
{
    if (sx < 0 || sy < 0) return;
    ClipBlitRect(nullptr, &sx, &sy, &dx, &dy, &w, &h, srcW, srcH, dstW, dstH, false);
    if (w < 1 || h < 1) return;
    BltAlphaChannel(alpha, sx, sy, dst, dx, dy, w, h, colour, mode, dstAlpha, factor, coverage16,
                    coverage16RowLength, srcColour, nullptr, 0);
}

void BltAlphaPlane(BitMapHandle* srcAlpha, int32_t sx, int32_t sy, BitMapHandle* dstAlpha,
                   int32_t dx, int32_t dy, int32_t w, int32_t h, uint32_t mode, uint32_t value)
{
    if (mode > 9) return;
    PlaneView s{}, d{};
    if (!ViewPlane(srcAlpha, BITMAP_ALPHA, &s) || !ViewPlane(dstAlpha, BITMAP_ALPHA, &d)) return;
    if (!ClipRectPair(sx, sy, s.width, s.height, dx, dy, d.width, d.height, w, h)) return;
    for (int32_t j = 0; j < h; ++j)
        kAlphaPlaneRows[mode](s.pixels + s.bytesPerRow * (sy + j) + sx,
                              d.pixels + d.bytesPerRow * (dy + j) + dx, w, value);
}

void ClipBltAlphaPlane(BitMapHandle* srcAlpha, int32_t sx, int32_t sy, BitMapHandle* dstAlpha,
                       int32_t dx, int32_t dy, int32_t w, int32_t h, int32_t srcW, int32_t srcH,
                       int32_t dstW, int32_t dstH, uint32_t mode, uint32_t value)
{
    if (sx < 0 || sy < 0) return;
    ClipBlitRect(nullptr, &sx, &sy, &dx, &dy, &w, &h, srcW, srcH, dstW, dstH, false);
    if (w < 1 || h < 1) return;
    BltAlphaPlane(srcAlpha, sx, sy, dstAlpha, dx, dy, w, h, mode, value);
}
