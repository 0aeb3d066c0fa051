// The smooth inner loop of TransformPixels for 4-byte pixels without a mask,
// on 256-bit vectors: the source positions of four destination pixels at a
// time, and the four bytes of each pixel in one vector of doubles. The
// arithmetic is the plain loop's, operation for operation (this file is
// compiled for AVX2 without FMA, so no multiply and add fuse and round
// once), and so are the bytes. Only reached when the processor has AVX2.
#if defined(__x86_64__)
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "gfx/bitmaps/picture_bits.h"
#include "gfx/effects/transform_bitmap.h"

namespace {

inline __m256d Channels(uint32_t px) { return _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(static_cast<int32_t>(px)))); }

// (int) clamp(c, 0, top), four at a time.
inline __m128i ClampIndex4(__m256d c, __m256d top)
{
    return _mm256_cvttpd_epi32(_mm256_min_pd(_mm256_max_pd(c, _mm256_setzero_pd()), top));
}

}  // namespace

// Fills xs..xe of the row but for the last (xe - xs + 1) % 4 pixels, and
// returns the first x it left.
int32_t SampleSpan32Avx2(const TransformParams* p, const InverseMatrix& inv, int32_t y, int32_t xs, int32_t xe,
                         uint8_t* dstRow, uint8_t* alphaRow)
{
    const __m256d one = _mm256_set1_pd(1.0), half = _mm256_set1_pd(0.5);
    const __m256d low = _mm256_set1_pd(-1.0), width = _mm256_set1_pd(static_cast<double>(p->srcW)),
                  height = _mm256_set1_pd(static_cast<double>(p->srcH));
    const __m256d lastColumn = _mm256_set1_pd(static_cast<double>(p->srcW - 1)),
                  lastRow = _mm256_set1_pd(static_cast<double>(p->srcH - 1));
    const __m256d a = _mm256_set1_pd(inv.a), b = _mm256_set1_pd(inv.b), e = _mm256_set1_pd(inv.e),
                  f = _mm256_set1_pd(inv.f);
    const __m256d cu = _mm256_set1_pd(inv.c * (y + 0.5)), cv = _mm256_set1_pd(inv.d * (y + 0.5));
    const uint32_t keep = ColourBytes32(p->format);
    const auto* src = reinterpret_cast<const uint32_t*>(p->srcPixels);
    const size_t rowLength = static_cast<size_t>(p->srcRowLength);
    auto* out = reinterpret_cast<uint32_t*>(dstRow);
    int32_t x = xs;
    for (; x + 3 <= xe; x += 4) {
        __m256d centre = _mm256_add_pd(_mm256_set_pd(x + 3, x + 2, x + 1, x), half);
        __m256d u = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(a, centre), cu), e);
        __m256d v = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(b, centre), cv), f);
        __m256d us = _mm256_min_pd(_mm256_max_pd(_mm256_sub_pd(u, half), low), width);
        __m256d vs = _mm256_min_pd(_mm256_max_pd(_mm256_sub_pd(v, half), low), height);
        __m256d fu = _mm256_floor_pd(us), fv = _mm256_floor_pd(vs);
        alignas(32) double fx[4], fy[4];
        alignas(16) int32_t ui[4], ui1[4], vi[4], vi1[4];
        _mm256_store_pd(fx, _mm256_sub_pd(us, fu));
        _mm256_store_pd(fy, _mm256_sub_pd(vs, fv));
        _mm_store_si128(reinterpret_cast<__m128i*>(ui), ClampIndex4(fu, lastColumn));
        _mm_store_si128(reinterpret_cast<__m128i*>(ui1), ClampIndex4(_mm256_add_pd(fu, one), lastColumn));
        _mm_store_si128(reinterpret_cast<__m128i*>(vi), ClampIndex4(fv, lastRow));
        _mm_store_si128(reinterpret_cast<__m128i*>(vi1), ClampIndex4(_mm256_add_pd(fv, one), lastRow));
        for (int k = 0; k < 4; ++k) {
            const uint32_t* top = src + rowLength * static_cast<size_t>(vi[k]);
            const uint32_t* bottom = src + rowLength * static_cast<size_t>(vi1[k]);
            __m256d gx1 = _mm256_broadcast_sd(&fx[k]), gy1 = _mm256_broadcast_sd(&fy[k]);
            __m256d gx0 = _mm256_sub_pd(one, gx1), gy0 = _mm256_sub_pd(one, gy1);
            __m256d t = _mm256_add_pd(_mm256_mul_pd(Channels(top[ui[k]]), gx0), _mm256_mul_pd(Channels(top[ui1[k]]), gx1));
            __m256d d = _mm256_add_pd(_mm256_mul_pd(Channels(bottom[ui[k]]), gx0),
                                      _mm256_mul_pd(Channels(bottom[ui1[k]]), gx1));
            __m128i c = _mm256_cvttpd_epi32(
                _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(t, gy0), _mm256_mul_pd(d, gy1)), half));
            c = _mm_packus_epi16(_mm_packs_epi32(c, c), c);
            out[x + k] = static_cast<uint32_t>(_mm_cvtsi128_si32(c)) & keep;
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
