// Scaling. Nearest-neighbour steps the way it always has (a 16.16 column
// step from a float ratio, a float row accumulator) so that pictures keep
// their exact pixels; positions are 64-bit and rows are clamped, because
// the float accumulator overshoots on tall up-scales and a 16.16 position
// overflows 32 bits past 32767 columns. Smooth scaling walks 16.16
// advance/fraction tables so that the inner loops divide nothing; the
// 32-bit member interpolates each source row across once, keeps the two
// rows it needs, and blends them down, in 16-bit lanes that give the same
// bytes as the plain per-pixel formula.
#include "gfx/effects/scale.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstring>

#include "core/io/error_codes.h"
#include "core/plugins/plugin_manager.h"
#include "gfx/bitmaps/copy_bitmap.h"
#include "gfx/bitmaps/picture_bits.h"
#include "gfx/bitmaps/pixel_rgb.h"
#include "platform/posix/os_memory.h"

ScaleTables EffectScaleTables;

namespace {

// ---------------------------------------------------------------------------
// Nearest neighbour

struct NearestSteps {
    int64_t xStep;  // 16.16
    float yStep;
};

NearestSteps NearestStepsOf(const ScaleParams* p)
{
    float sx = static_cast<float>(static_cast<double>(p->srcW) / p->dstW);
    float sy = static_cast<float>(static_cast<double>(p->srcH) / p->dstH);
    return {static_cast<int64_t>(static_cast<double>(sx) * 65536.0), sy};
}

// Calls row(j, source row) for each destination row.
template <typename RowFunc>
void ForEachNearestRow(const ScaleParams* p, float yStep, RowFunc row)
{
    float y = 0.0f;
    for (int32_t j = 0; j < p->dstH; ++j) {
        row(j, std::min(static_cast<int32_t>(y), p->srcH - 1));
        y = y + yStep;
    }
}

void ScaleMaskNearest(const ScaleParams* p, const NearestSteps& s)
{
    ForEachNearestRow(p, s.yStep, [&](int32_t j, int32_t row) {
        const uint8_t* src = p->srcMask + static_cast<ptrdiff_t>(p->srcMaskBytesPerRow) * row;
        uint8_t* dst = p->dstMask + static_cast<ptrdiff_t>(p->dstMaskBytesPerRow) * j;
        int64_t pos = 0;
        for (int32_t i = 0; i < p->dstW; ++i, pos += s.xStep)
            PutMaskBit(dst, i, MaskBitAt(src, p->srcX + static_cast<int32_t>(pos >> 16)));
    });
}

void ScaleAlphaNearest(const ScaleParams* p, const NearestSteps& s)
{
    ForEachNearestRow(p, s.yStep, [&](int32_t j, int32_t row) {
        const uint8_t* src = p->srcAlpha + static_cast<ptrdiff_t>(p->srcAlphaBytesPerRow) * row;
        uint8_t* dst = p->dstAlpha + static_cast<ptrdiff_t>(p->dstAlphaBytesPerRow) * j;
        int64_t pos = 0;
        for (int32_t i = 0; i < p->dstW; ++i, pos += s.xStep) dst[i] = src[pos >> 16];
    });
}

// Whole pixels of Bytes bytes, no conversion. A row that reads the same
// source row as the one before it is a copy of that destination row.
template <uint32_t Bytes>
void ScaleRowsNearest(const ScaleParams* p, const NearestSteps& s)
{
    size_t srcStride = static_cast<size_t>(p->srcRowLength) * Bytes;
    size_t dstStride = static_cast<size_t>(p->dstRowLength) * Bytes;
    int32_t previous = -1;
    ForEachNearestRow(p, s.yStep, [&](int32_t j, int32_t row) {
        uint8_t* dst = p->dstPixels + dstStride * j;
        if (row == previous) {
            std::memcpy(dst, dst - dstStride, static_cast<size_t>(p->dstW) * Bytes);
            return;
        }
        previous = row;
        const uint8_t* src = p->srcPixels + srcStride * row;
        int64_t pos = 0;
        if constexpr (Bytes == 4) {
            auto* d = reinterpret_cast<uint32_t*>(dst);
            auto* sp = reinterpret_cast<const uint32_t*>(src);
            for (int32_t i = 0; i < p->dstW; ++i, pos += s.xStep) d[i] = sp[pos >> 16];
        } else if constexpr (Bytes == 2) {
            auto* d = reinterpret_cast<uint16_t*>(dst);
            auto* sp = reinterpret_cast<const uint16_t*>(src);
            for (int32_t i = 0; i < p->dstW; ++i, pos += s.xStep) d[i] = sp[pos >> 16];
        } else {
            for (int32_t i = 0; i < p->dstW; ++i, pos += s.xStep)
                std::memcpy(dst + Bytes * i, src + Bytes * (pos >> 16), Bytes);
        }
    });
}

// ---------------------------------------------------------------------------
// Smooth

// The 16.16 step that maps the last destination pixel no further than the
// second-to-last source pixel.
int64_t SmoothStep(int32_t src, int32_t dst)
{
    return static_cast<int64_t>(static_cast<double>((static_cast<int64_t>(src) << 16) - 65536) / dst);
}

void FillAxisTable(int32_t* advance, int32_t* fraction, int32_t n, int64_t step)
{
    int64_t acc = 0;
    for (int32_t i = 0; i <= n; ++i) {
        advance[i] = static_cast<int32_t>(acc >> 16);
        fraction[i] = static_cast<int32_t>(acc & 0xFFFF);
        acc = (acc & 0xFFFF) + step;
    }
}

inline int32_t Lerp16(int32_t a, int32_t b, int32_t f) { return a + (((b - a) * f) >> 16); }

// Walks the destination rows: row(j, source row, row below, fy). The row
// below is the edge row when the source is one row high.
template <typename RowFunc>
void ForEachSmoothRow(const ScaleParams* p, RowFunc row)
{
    int32_t r = 0;
    for (int32_t j = 0; j < p->dstH; ++j) {
        r = std::min(r + p->yAdvance[j], p->srcH - 1);
        row(j, r, std::min(r + 1, p->srcH - 1), p->yFraction[j]);
    }
}

// Walks one row's columns: col(i, source column, column right, fx).
template <typename ColFunc>
inline void ForEachSmoothColumn(const ScaleParams* p, ColFunc col)
{
    int32_t c = 0;
    for (int32_t i = 0; i < p->dstW; ++i) {
        c = std::min(c + p->xAdvance[i], p->srcW - 1);
        col(i, c, std::min(c + 1, p->srcW - 1), p->xFraction[i]);
    }
}

template <uint32_t Format, uint32_t Bytes>
void SmoothPixelsScalar(const ScaleParams* p)
{
    size_t srcStride = static_cast<size_t>(p->srcRowLength) * Bytes;
    size_t dstStride = static_cast<size_t>(p->dstRowLength) * Bytes;
    ForEachSmoothRow(p, [&](int32_t j, int32_t r0, int32_t r1, int32_t fy) {
        const uint8_t* top = p->srcPixels + srcStride * r0;
        const uint8_t* bottom = p->srcPixels + srcStride * r1;
        uint8_t* dst = p->dstPixels + dstStride * j;
        ForEachSmoothColumn(p, [&](int32_t i, int32_t c0, int32_t c1, int32_t fx) {
            uint32_t c[4][3];
            const uint8_t* at[4] = {top + Bytes * c0, top + Bytes * c1, bottom + Bytes * c0,
                                    bottom + Bytes * c1};
            for (int k = 0; k < 4; ++k)
                UnpackPixelRgb(LoadPixelValue(at[k], Bytes), Format, &c[k][0], &c[k][1], &c[k][2]);
            uint32_t out[3];
            for (int ch = 0; ch < 3; ++ch) {
                int32_t t = Lerp16(static_cast<int32_t>(c[0][ch]), static_cast<int32_t>(c[1][ch]), fx);
                int32_t b = Lerp16(static_cast<int32_t>(c[2][ch]), static_cast<int32_t>(c[3][ch]), fx);
                out[ch] = static_cast<uint32_t>(Lerp16(t, b, fy));
            }
            StorePixelValue(dst + Bytes * i, Bytes, PackPixelRgb(out[0], out[1], out[2], Format));
        });
    });
}

typedef void (*SmoothKernel)(const ScaleParams*);

const SmoothKernel kSmoothScalar[PIXFMT_COUNT] = {
    SmoothPixelsScalar<0, 2>,  SmoothPixelsScalar<1, 2>,  SmoothPixelsScalar<2, 2>,
    SmoothPixelsScalar<3, 2>,  SmoothPixelsScalar<4, 2>,  SmoothPixelsScalar<5, 2>,
    SmoothPixelsScalar<6, 2>,  SmoothPixelsScalar<7, 2>,  SmoothPixelsScalar<8, 3>,
    SmoothPixelsScalar<9, 3>,  SmoothPixelsScalar<10, 4>, SmoothPixelsScalar<11, 4>,
    SmoothPixelsScalar<12, 4>, SmoothPixelsScalar<13, 4>,
};

// a + ((b - a) * f >> 16) in eight 16-bit lanes. mulhi takes f as signed,
// which for f >= 0x8000 is f - 65536: the product falls short by
// (b - a) * 65536, so (b - a) is added back there, exactly.
inline __m128i LerpLanes(__m128i a, __m128i b, __m128i f)
{
    __m128i d = _mm_sub_epi16(b, a);
    __m128i hi = _mm_mulhi_epi16(d, f);
    return _mm_add_epi16(_mm_add_epi16(a, hi), _mm_and_si128(d, _mm_srai_epi16(f, 15)));
}

uint32_t BestScalePath()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? SCALEPATH_AVX2 : SCALEPATH_SSE2;
}

uint32_t g_scalePath = BestScalePath();

}  // namespace

// scale_avx2.cpp: spreads all but the last n % 4 pixels, returns how many it did.
int32_t SpreadRow32Avx2(const int32_t* column, const int16_t* fraction, int32_t n, const uint32_t* src,
                        int16_t* out);

uint32_t SelectScalePath(uint32_t path)
{
    uint32_t previous = g_scalePath;
    g_scalePath = path == SCALEPATH_AVX2 ? BestScalePath() : SCALEPATH_SSE2;
    return previous;
}

namespace {

// Where each destination column reads, worked out once for all rows: the
// left source column and the fraction, splatted over the pixel's four lanes.
struct ColumnSteps {
    int32_t* column;
    int16_t* fraction;  // four per destination pixel
};

void FillColumnSteps(const ScaleParams* p, ColumnSteps* steps)
{
    int32_t c = 0;
    for (int32_t i = 0; i < p->dstW; ++i) {
        c += p->xAdvance[i];
        steps->column[i] = c;
        for (int k = 0; k < 4; ++k) steps->fraction[4 * static_cast<size_t>(i) + k] = static_cast<int16_t>(p->xFraction[i]);
    }
}

// One source row interpolated across: four 16-bit lanes per destination
// pixel, in the pixel's byte order.
void SpreadRow32(const ScaleParams* p, const ColumnSteps& steps, const uint32_t* src, int16_t* out)
{
    const __m128i zero = _mm_setzero_si128();
    int32_t n = p->dstW, i = 0;
    if (p->srcW == 1) {
        __m128i v = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int32_t>(src[0])), zero);
        for (; i < n; ++i) _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 4 * i), v);
        return;
    }
    if (g_scalePath == SCALEPATH_AVX2) i = SpreadRow32Avx2(steps.column, steps.fraction, n, src, out);
    // With two or more source columns every column read stays below the
    // last, so the right neighbour is always inside the row.
    for (; i + 1 < n; i += 2) {
        // A shrinking row reads most of its source: a kilobyte ahead keeps
        // the loads from waiting on memory at every new page.
        _mm_prefetch(reinterpret_cast<const char*>(src + steps.column[i]) + 1024, _MM_HINT_T0);
        __m128i p0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + steps.column[i]));
        __m128i p1 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + steps.column[i + 1]));
        __m128i both = _mm_unpacklo_epi32(p0, p1);  // left0 left1 right0 right1
        __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(steps.fraction + 4 * i));
        __m128i v = LerpLanes(_mm_unpacklo_epi8(both, zero), _mm_unpackhi_epi8(both, zero), f);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i), v);
    }
    for (; i < n; ++i) {
        __m128i pair = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + steps.column[i]));
        __m128i v = LerpLanes(_mm_unpacklo_epi8(pair, zero), _mm_unpacklo_epi8(_mm_srli_si128(pair, 4), zero),
                              _mm_loadl_epi64(reinterpret_cast<const __m128i*>(steps.fraction + 4 * i)));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 4 * i), v);
    }
}

// Blends two spread rows down by fy into packed pixels.
void BlendRows32(const int16_t* top, const int16_t* bottom, int32_t n, int32_t fy, uint32_t keep,
                 uint32_t* dst)
{
    __m128i f = _mm_set1_epi16(static_cast<int16_t>(fy));
    __m128i keepMask = _mm_set1_epi32(static_cast<int32_t>(keep));
    int32_t i = 0;
    for (; i + 4 <= n; i += 4) {
        __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + 4 * i));
        __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + 4 * i + 8));
        __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + 4 * i));
        __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + 4 * i + 8));
        __m128i v = _mm_packus_epi16(LerpLanes(a0, b0, f), LerpLanes(a1, b1, f));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_and_si128(v, keepMask));
    }
    for (; i < n; ++i) {
        __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(top + 4 * i));
        __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(bottom + 4 * i));
        __m128i v = _mm_packus_epi16(LerpLanes(a, b, f), a);
        dst[i] = static_cast<uint32_t>(_mm_cvtsi128_si32(v)) & keep;
    }
}

void SmoothPixels32(const ScaleParams* p)
{
    // Two spread rows, the fractions (as long as one) and the columns.
    size_t lanes = 4 * static_cast<size_t>(p->dstW);
    auto* spread = static_cast<int16_t*>(OsAllocMem(3 * lanes * sizeof(int16_t) + lanes, 0));
    if (!spread) {
        kSmoothScalar[p->format](p);
        return;
    }
    int16_t* rows[2] = {spread, spread + lanes};
    ColumnSteps steps{reinterpret_cast<int32_t*>(spread + 3 * lanes), spread + 2 * lanes};
    FillColumnSteps(p, &steps);
    int32_t held[2] = {-1, -1};  // the source row each buffer holds
    uint32_t keep = ColourBytes32(p->format);
    auto source = [p](int32_t r) {
        return reinterpret_cast<const uint32_t*>(p->srcPixels) + static_cast<size_t>(p->srcRowLength) * r;
    };
    ForEachSmoothRow(p, [&](int32_t j, int32_t r0, int32_t r1, int32_t fy) {
        if (held[0] != r0) {
            if (held[1] == r0) {
                std::swap(rows[0], rows[1]);
                std::swap(held[0], held[1]);
            } else {
                SpreadRow32(p, steps, source(r0), rows[0]);
                held[0] = r0;
            }
        }
        if (held[1] != r1) {
            SpreadRow32(p, steps, source(r1), rows[1]);
            held[1] = r1;
        }
        BlendRows32(rows[0], rows[1], p->dstW, fy,  keep,
                    reinterpret_cast<uint32_t*>(p->dstPixels) + static_cast<size_t>(p->dstRowLength) * j);
    });
    OsFreeMem(spread);
}

// Mask bits nearest at the smooth positions; alpha blended like a channel.
void SmoothPlanes(const ScaleParams* p)
{
    ForEachSmoothRow(p, [&](int32_t j, int32_t r0, int32_t r1, int32_t fy) {
        if (p->srcMask && p->dstMask) {
            const uint8_t* src = p->srcMask + static_cast<ptrdiff_t>(p->srcMaskBytesPerRow) * r0;
            uint8_t* dst = p->dstMask + static_cast<ptrdiff_t>(p->dstMaskBytesPerRow) * j;
            ForEachSmoothColumn(p, [&](int32_t i, int32_t c0, int32_t, int32_t) {
                PutMaskBit(dst, i, MaskBitAt(src, p->srcX + c0));
            });
            return;
        }
        if (!p->srcAlpha || !p->dstAlpha) return;
        const uint8_t* top = p->srcAlpha + static_cast<ptrdiff_t>(p->srcAlphaBytesPerRow) * r0;
        const uint8_t* bottom = p->srcAlpha + static_cast<ptrdiff_t>(p->srcAlphaBytesPerRow) * r1;
        uint8_t* dst = p->dstAlpha + static_cast<ptrdiff_t>(p->dstAlphaBytesPerRow) * j;
        ForEachSmoothColumn(p, [&](int32_t i, int32_t c0, int32_t c1, int32_t fx) {
            int32_t t = Lerp16(top[c0], top[c1], fx);
            int32_t b = Lerp16(bottom[c0], bottom[c1], fx);
            dst[i] = static_cast<uint8_t>(Lerp16(t & 255, b & 255, fy));
        });
    });
}

void ScalePixelsWith(const ScaleParams* p, bool vectorised)
{
    if (p->dstW < 1 || p->dstH < 1 || p->srcW < 1 || p->srcH < 1) return;
    if (!p->srcPixels || !p->smooth) {
        NearestSteps s = NearestStepsOf(p);
        if (p->srcMask && p->dstMask) ScaleMaskNearest(p, s);
        if (!p->srcPixels) return;
        if (p->srcAlpha && p->dstAlpha) ScaleAlphaNearest(p, s);
        switch (p->bytesPerPixel) {
        case 2: ScaleRowsNearest<2>(p, s); break;
        case 3: ScaleRowsNearest<3>(p, s); break;
        case 4: ScaleRowsNearest<4>(p, s); break;
        default: break;
        }
        return;
    }
    if (p->format >= PIXFMT_COUNT || PixelFormatBytes(p->format) != p->bytesPerPixel) return;
    FillAxisTable(p->xAdvance, p->xFraction, p->dstW, SmoothStep(p->srcW, p->dstW));
    FillAxisTable(p->yAdvance, p->yFraction, p->dstH, SmoothStep(p->srcH, p->dstH));
    SmoothPlanes(p);
    if (vectorised && p->bytesPerPixel == 4) SmoothPixels32(p);
    else kSmoothScalar[p->format](p);
}

}  // namespace

namespace {

// Both arrays of one axis, regrown (contents not kept) for n + 1 entries.
uint32_t GrowAxis(int32_t n, int32_t* capacity, int32_t** advance, int32_t** fraction)
{
    if (n <= *capacity) return 0;
    OsFreeMem(*advance);
    OsFreeMem(*fraction);
    *capacity = 0;
    size_t bytes = (static_cast<size_t>(n) + 1) * sizeof(int32_t);
    *advance = static_cast<int32_t*>(OsAllocMem(bytes, 0));
    *fraction = static_cast<int32_t*>(OsAllocMem(bytes, 0));
    if (!*advance || !*fraction) return ERR_MEM;
    *capacity = n;
    return 0;
}

}  // namespace

uint32_t EnsureScaleTables(int32_t dstW, int32_t dstH, ScaleTables* t)
{
    if (uint32_t error = GrowAxis(dstW, &t->capX, &t->xAdvance, &t->xFraction)) return error;
    return GrowAxis(dstH, &t->capY, &t->yAdvance, &t->yFraction);
}

void FreeEffectCaches()
{
    ScaleTables& t = EffectScaleTables;
    OsFreeMem(t.xAdvance);
    OsFreeMem(t.xFraction);
    OsFreeMem(t.yAdvance);
    OsFreeMem(t.yFraction);
    t = ScaleTables{};
}

void UseScaleTables(ScaleParams* params, const ScaleTables* tables)
{
    params->xAdvance = tables->xAdvance;
    params->xFraction = tables->xFraction;
    params->yAdvance = tables->yAdvance;
    params->yFraction = tables->yFraction;
}

void ScalePixels(const ScaleParams* params) { ScalePixelsWith(params, true); }
void ScalePixelsReference(const ScaleParams* params) { ScalePixelsWith(params, false); }

uint32_t ScaleBitMap(BitMapHandle* src, BitMapHandle* srcMask, BitMapHandle* srcAlpha,
                     int32_t srcX, int32_t srcY, BitMapHandle* dest, int32_t srcW, int32_t srcH,
                     int32_t dstW, int32_t dstH, int smooth, void* hwWord,
                     BitMapHandle** outBitMap, BitMapHandle** outMask, BitMapHandle** outAlpha)
{
    if (outBitMap) *outBitMap = nullptr;
    if (outMask) *outMask = nullptr;
    if (outAlpha) *outAlpha = nullptr;
    if (dstW < 1 || dstH < 1) return 0;
    if (!src && !srcMask) return ERR_WRONGUSAGE;
    if (dest) srcMask = srcAlpha = nullptr;
    if (!RectInsideSources(src, srcMask, srcAlpha, srcX, srcY, srcW, srcH)) return ERR_COORDSRANGE;
    if (dest && (!src || dest->kind != BITMAP_COLOR || dest->width < dstW || dest->height < dstH))
        return ERR_COORDSRANGE;

    if (!dest && src && src->hardware && QueryAdapterCaps(0x4)) {
        VideoBitMapParams params{};
        params.source = src;
        params.targetWidth = dstW;
        params.targetHeight = dstH;
        params.scaleMode = smooth ? 1 : 0;
        params.scaleFlag = 1;
        params.display = hwWord;
        BitMapHandle* video = nullptr;
        if (uint32_t error = TryVideoBitMap(dstW, dstH, 0, &params, &video)) return error;
        if (video) {
            MadeBitMaps made{video, nullptr, nullptr};
            HandOutMadeBitMaps(&made, outBitMap, outMask, outAlpha);
            return 0;
        }
    }
    if (uint32_t error = EnsureScaleTables(dstW, dstH, &EffectScaleTables)) return error;

    MadeBitMaps temp{}, made{};
    if (uint32_t error = SoftwareSource(&src, &srcAlpha, &temp)) return error;
    // Smooth scaling blends no alpha beside a mask, and a mask alone scales
    // without pixels: an alpha plane that nothing would fill is not made.
    if ((smooth && srcMask) || !src) srcAlpha = nullptr;
    uint32_t error = 0;
    BitMapHandle* target = dest;
    if (!dest) {
        error = MakeBitMaps(&made, dstW, dstH, src, srcMask, srcAlpha, 0);
        target = made.bitmap;
    }
    ScaleParams p{};
    p.srcX = srcX;
    p.srcY = srcY;
    p.srcW = srcW;
    p.srcH = srcH;
    p.dstW = dstW;
    p.dstH = dstH;
    p.smooth = smooth ? 1 : 0;
    UseScaleTables(&p, &EffectScaleTables);
    if (!error) error = AimAtPlanes(&p, srcMask, srcAlpha, made);
    BitMapLock s{}, d{};
    if (!error && src) error = LockSourceAndTarget(src, srcX, srcY, srcW, srcH, target, dstW, dstH, &s, &d);
    if (!error && src) AimAtLockedPixels(&p, s, d, srcX, srcY);
    if (!error) ScalePixels(&p);
    UnlockBitMapPixels(&d);
    UnlockBitMapPixels(&s);
    return FinishMadeBitMaps(error, &temp, &made, outBitMap, outMask, outAlpha);
}
