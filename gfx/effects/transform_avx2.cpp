// The smooth inner loop of TransformPixels for 4-byte pixels without a mask,
// on 256-bit vectors. The source positions, the neighbours' indices and the
// fractions are the plain loop's, operation for operation (this file is
// compiled for AVX2 without FMA, so no multiply and add fuse and round
// once), and so are the bytes. Only reached when the processor has AVX2.
//
// Beside an alpha plane, four pixels at a time are blended in doubles, the
// four bytes of each pixel in one vector, as the plain loop does. Without
// one, eight pixels at a time go through single precision, each colour
// channel of the eight in one vector: twice the lanes and no unused fourth
// byte. Its errors are bounded: the single-precision sum lies within 3e-4
// of the doubles' before it is truncated (weights below 1, sums below 256,
// a handful of roundings of 2^-24 relative each), so wherever it is
// further than kNear from a whole number both truncate alike. A pixel with
// a channel nearer than that is blended again in doubles, which a few in
// a thousand are.
//
// A turned picture's rows read the source along slanted lines that the
// processor's own prefetching does not follow; each eight pixels ask for
// the lines that the row kAheadRows below will read at the same place.
#if defined(__x86_64__)
#include <immintrin.h>

#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "gfx/bitmaps/picture_bits.h"
#include "gfx/effects/transform_bitmap.h"

namespace {

inline __m256d Channels(uint32_t px) { return _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(static_cast<int32_t>(px)))); }

// clamp(i, 0, top), four at a time: the plain loop's clamp of a floor,
// which is a whole number from -1 to the source's size.
inline __m128i Clamp4(__m128i i, __m128i top)
{
    return _mm_min_epi32(_mm_max_epi32(i, _mm_setzero_si128()), top);
}

// One pixel in doubles from its four neighbours and its fractions.
inline uint32_t BlendDoubles(uint32_t tl, uint32_t tr, uint32_t bl, uint32_t br, const double* sx, const double* sy,
                             uint32_t keep)
{
    const __m256d one = _mm256_set1_pd(1.0), half = _mm256_set1_pd(0.5);
    __m256d gx1 = _mm256_broadcast_sd(sx), gy1 = _mm256_broadcast_sd(sy);
    __m256d gx0 = _mm256_sub_pd(one, gx1), gy0 = _mm256_sub_pd(one, gy1);
    __m256d t = _mm256_add_pd(_mm256_mul_pd(Channels(tl), gx0), _mm256_mul_pd(Channels(tr), gx1));
    __m256d d = _mm256_add_pd(_mm256_mul_pd(Channels(bl), gx0), _mm256_mul_pd(Channels(br), gx1));
    __m128i c = _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(t, gy0), _mm256_mul_pd(d, gy1)), half));
    c = _mm_packus_epi16(_mm_packs_epi32(c, c), c);
    return static_cast<uint32_t>(_mm_cvtsi128_si32(c)) & keep;
}

// How near a whole number a single-precision sum may come before the
// doubles decide: three times the largest error.
constexpr float kNear = 1.0f / 1024;
// How many rows ahead the source is asked for: far enough for memory to
// answer, near enough that the lines stay in the cache until they are read.
constexpr int32_t kAheadRows = 8;

// The positions of four pixels from x on, as the plain loop computes them:
// the floors (as integers) and the fractions.
struct Positions4 {
    __m128i u, v;
    __m256d fx, fy;
};

struct Mapping {
    __m256d a, b, e, f, cu, cv, half, low, width, height;
};

inline Positions4 Position4(const Mapping& m, int32_t x)
{
    __m256d centre = _mm256_add_pd(_mm256_set_pd(x + 3, x + 2, x + 1, x), m.half);
    __m256d u = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(m.a, centre), m.cu), m.e);
    __m256d v = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(m.b, centre), m.cv), m.f);
    __m256d us = _mm256_min_pd(_mm256_max_pd(_mm256_sub_pd(u, m.half), m.low), m.width);
    __m256d vs = _mm256_min_pd(_mm256_max_pd(_mm256_sub_pd(v, m.half), m.low), m.height);
    __m256d fu = _mm256_floor_pd(us), fv = _mm256_floor_pd(vs);
    return {_mm256_cvttpd_epi32(fu), _mm256_cvttpd_epi32(fv), _mm256_sub_pd(us, fu), _mm256_sub_pd(vs, fv)};
}

// Eight pixels from x on through single precision, as above; returns the
// pixels whose doubles must decide, one bit each.
inline uint32_t Sample8(const Mapping& m, const uint32_t* src, int32_t x, __m256i lastColumn, __m256i lastRow,
                        __m256i rows, intptr_t ahead, const __m256i pick[3], const __m128i shift[3], uint32_t* out,
                        int32_t at[4][8], double sx[8], double sy[8])
{
    const __m256i zero = _mm256_setzero_si256(), one = _mm256_set1_epi32(1);
    Positions4 p0 = Position4(m, x), p1 = Position4(m, x + 4);
    __m256i u = _mm256_set_m128i(p1.u, p0.u), v = _mm256_set_m128i(p1.v, p0.v);
    // Clamped as the plain loop clamps fu and fu + 1.
    __m256i ui = _mm256_min_epi32(_mm256_max_epi32(u, zero), lastColumn);
    __m256i ui1 = _mm256_min_epi32(_mm256_max_epi32(_mm256_add_epi32(u, one), zero), lastColumn);
    __m256i top = _mm256_mullo_epi32(_mm256_min_epi32(_mm256_max_epi32(v, zero), lastRow), rows);
    __m256i bottom =
        _mm256_mullo_epi32(_mm256_min_epi32(_mm256_max_epi32(_mm256_add_epi32(v, one), zero), lastRow), rows);
    const __m256i offset[4] = {_mm256_add_epi32(top, ui), _mm256_add_epi32(top, ui1), _mm256_add_epi32(bottom, ui),
                               _mm256_add_epi32(bottom, ui1)};
    __m256i corner[4];
    for (int k = 0; k < 4; ++k) {
        __m128i lo = _mm256_castsi256_si128(offset[k]), hi = _mm256_extracti128_si256(offset[k], 1);
        auto q0 = static_cast<uint64_t>(_mm_cvtsi128_si64(lo)), q1 = static_cast<uint64_t>(_mm_extract_epi64(lo, 1));
        auto q2 = static_cast<uint64_t>(_mm_cvtsi128_si64(hi)), q3 = static_cast<uint64_t>(_mm_extract_epi64(hi, 1));
        if (k == 0) {
            auto base = reinterpret_cast<uintptr_t>(src) + static_cast<uintptr_t>(ahead);
            _mm_prefetch(reinterpret_cast<const char*>(base + 4 * static_cast<uint32_t>(q0)), _MM_HINT_T0);
            _mm_prefetch(reinterpret_cast<const char*>(base + 4 * static_cast<uint32_t>(q1)), _MM_HINT_T0);
            _mm_prefetch(reinterpret_cast<const char*>(base + 4 * static_cast<uint32_t>(q2)), _MM_HINT_T0);
            _mm_prefetch(reinterpret_cast<const char*>(base + 4 * static_cast<uint32_t>(q3)), _MM_HINT_T0);
        }
        corner[k] = _mm256_setr_epi32(
            static_cast<int32_t>(src[static_cast<uint32_t>(q0)]), static_cast<int32_t>(src[q0 >> 32]),
            static_cast<int32_t>(src[static_cast<uint32_t>(q1)]), static_cast<int32_t>(src[q1 >> 32]),
            static_cast<int32_t>(src[static_cast<uint32_t>(q2)]), static_cast<int32_t>(src[q2 >> 32]),
            static_cast<int32_t>(src[static_cast<uint32_t>(q3)]), static_cast<int32_t>(src[q3 >> 32]));
    }
    const __m256 onef = _mm256_set1_ps(1.0f), halff = _mm256_set1_ps(0.5f);
    const __m256 nearLow = _mm256_set1_ps(kNear), nearHigh = _mm256_set1_ps(1.0f - kNear);
    __m256 fx = _mm256_set_m128(_mm256_cvtpd_ps(p1.fx), _mm256_cvtpd_ps(p0.fx));
    __m256 fy = _mm256_set_m128(_mm256_cvtpd_ps(p1.fy), _mm256_cvtpd_ps(p0.fy));
    __m256 gx = _mm256_sub_ps(onef, fx), gy = _mm256_sub_ps(onef, fy);
    __m256i pixels = zero;
    __m256 near = _mm256_setzero_ps();
    for (int c = 0; c < 3; ++c) {
        __m256 tl = _mm256_cvtepi32_ps(_mm256_shuffle_epi8(corner[0], pick[c]));
        __m256 tr = _mm256_cvtepi32_ps(_mm256_shuffle_epi8(corner[1], pick[c]));
        __m256 bl = _mm256_cvtepi32_ps(_mm256_shuffle_epi8(corner[2], pick[c]));
        __m256 br = _mm256_cvtepi32_ps(_mm256_shuffle_epi8(corner[3], pick[c]));
        __m256 t = _mm256_add_ps(_mm256_mul_ps(tl, gx), _mm256_mul_ps(tr, fx));
        __m256 d = _mm256_add_ps(_mm256_mul_ps(bl, gx), _mm256_mul_ps(br, fx));
        __m256 r = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(t, gy), _mm256_mul_ps(d, fy)), halff);
        __m256 fraction = _mm256_sub_ps(r, _mm256_floor_ps(r));
        near = _mm256_or_ps(near, _mm256_or_ps(_mm256_cmp_ps(fraction, nearLow, _CMP_LT_OQ),
                                               _mm256_cmp_ps(fraction, nearHigh, _CMP_GT_OQ)));
        pixels = _mm256_or_si256(pixels, _mm256_sll_epi32(_mm256_cvttps_epi32(r), shift[c]));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), pixels);
    auto redo = static_cast<uint32_t>(_mm256_movemask_ps(near));
    if (redo) {
        for (int k = 0; k < 4; ++k) _mm256_store_si256(reinterpret_cast<__m256i*>(at[k]), offset[k]);
        _mm256_storeu_pd(sx, p0.fx);
        _mm256_storeu_pd(sx + 4, p1.fx);
        _mm256_storeu_pd(sy, p0.fy);
        _mm256_storeu_pd(sy + 4, p1.fy);
    }
    return redo;
}

}  // namespace

// Fills xs..xe of the row but for the last (xe - xs + 1) % 4 pixels, and
// returns the first x it left.
int32_t SampleSpan32Avx2(const TransformParams* p, const InverseMatrix& inv, int32_t y, int32_t xs, int32_t xe,
                         uint8_t* dstRow, uint8_t* alphaRow)
{
    const Mapping m{_mm256_set1_pd(inv.a),
                    _mm256_set1_pd(inv.b),
                    _mm256_set1_pd(inv.e),
                    _mm256_set1_pd(inv.f),
                    _mm256_set1_pd(inv.c * (y + 0.5)),
                    _mm256_set1_pd(inv.d * (y + 0.5)),
                    _mm256_set1_pd(0.5),
                    _mm256_set1_pd(-1.0),
                    _mm256_set1_pd(static_cast<double>(p->srcW)),
                    _mm256_set1_pd(static_cast<double>(p->srcH))};
    const __m128i lastColumn = _mm_set1_epi32(p->srcW - 1), lastRow = _mm_set1_epi32(p->srcH - 1);
    const uint32_t keep = ColourBytes32(p->format);
    const auto* src = reinterpret_cast<const uint32_t*>(p->srcPixels);
    const size_t rowLength = static_cast<size_t>(p->srcRowLength);
    auto* out = reinterpret_cast<uint32_t*>(dstRow);
    int32_t x = xs;
    // The single-precision loop finds pixels by 32-bit offsets.
    if (!alphaRow && rowLength * static_cast<size_t>(p->srcH) <= static_cast<size_t>(INT_MAX)) {
        const __m256i lastColumnI = _mm256_set_m128i(lastColumn, lastColumn), lastRowI = _mm256_set_m128i(lastRow, lastRow);
        const __m256i rows = _mm256_set1_epi32(static_cast<int32_t>(rowLength));
        // The colour bytes of each pixel, each to a 32-bit lane of its own.
        const int32_t first = (keep & 0xFF) ? 0 : 1;
        __m256i pick[3];
        __m128i shift[3];
        for (int32_t c = 0; c < 3; ++c) {
            const int32_t byte = first + c, none = static_cast<int32_t>(0x80808000u);
            pick[c] = _mm256_setr_epi32(none | byte, none | (4 + byte), none | (8 + byte), none | (12 + byte),
                                        none | byte, none | (4 + byte), none | (8 + byte), none | (12 + byte));
            shift[c] = _mm_cvtsi32_si128(8 * byte);
        }
        alignas(32) int32_t at[4][8];
        // Where the pixels of the row kAheadRows below read, in bytes. A
        // nearly flat matrix from a script may put that row anywhere: the
        // distance is taken in doubles, and one past any picture asks for
        // nothing.
        const double aheadBytes =
            4 * (std::round(kAheadRows * inv.d) * static_cast<double>(rowLength) + std::round(kAheadRows * inv.c));
        const intptr_t ahead = std::fabs(aheadBytes) < 0x1p40 ? static_cast<intptr_t>(aheadBytes) : 0;
        double sx[8], sy[8];
        for (; x + 7 <= xe; x += 8) {
            uint32_t redo = Sample8(m, src, x, lastColumnI, lastRowI, rows, ahead, pick, shift, out, at, sx, sy);
            for (; redo; redo &= redo - 1) {
                int i = __builtin_ctz(redo);
                out[x + i] = BlendDoubles(src[at[0][i]], src[at[1][i]], src[at[2][i]], src[at[3][i]], sx + i, sy + i,
                                          keep);
            }
        }
    }
    for (; x + 3 <= xe; x += 4) {
        Positions4 q = Position4(m, x);
        alignas(32) double fx[4], fy[4];
        alignas(16) int32_t ui[4], ui1[4], vi[4], vi1[4];
        _mm256_store_pd(fx, q.fx);
        _mm256_store_pd(fy, q.fy);
        _mm_store_si128(reinterpret_cast<__m128i*>(ui), Clamp4(q.u, lastColumn));
        _mm_store_si128(reinterpret_cast<__m128i*>(ui1), Clamp4(_mm_add_epi32(q.u, _mm_set1_epi32(1)), lastColumn));
        _mm_store_si128(reinterpret_cast<__m128i*>(vi), Clamp4(q.v, lastRow));
        _mm_store_si128(reinterpret_cast<__m128i*>(vi1), Clamp4(_mm_add_epi32(q.v, _mm_set1_epi32(1)), lastRow));
        for (int k = 0; k < 4; ++k) {
            const uint32_t* top = src + rowLength * static_cast<size_t>(vi[k]);
            const uint32_t* bottom = src + rowLength * static_cast<size_t>(vi1[k]);
            out[x + k] = BlendDoubles(top[ui[k]], top[ui1[k]], bottom[ui[k]], bottom[ui1[k]], fx + k, fy + k, keep);
            if (alphaRow) {
                auto alphaAt = [p](int32_t row, int32_t column) {
                    return static_cast<double>(p->srcAlpha[static_cast<ptrdiff_t>(p->srcAlphaBytesPerRow) * row + column]);
                };
                double a0 = alphaAt(vi[k], ui[k]), a1 = alphaAt(vi[k], ui1[k]), a2 = alphaAt(vi1[k], ui[k]),
                       a3 = alphaAt(vi1[k], ui1[k]);
                double sx = fx[k], sy = fy[k];
                alphaRow[x + k] = static_cast<uint8_t>(
                    static_cast<int32_t>((a0 * (1 - sx) + a1 * sx) * (1 - sy) + (a2 * (1 - sx) + a3 * sx) * sy + 0.5));
            }
        }
    }
    return x;
}
#endif
