// Coverage blend rows. Text coverage is mostly runs of 0 and 255, so the
// vector member looks at four coverage bytes at a time and only blends
// groups that hold edges.
#include "gfx/coverage_rows.h"

#include <cstring>

#include "gfx/pixel_formats.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

void CoverageBlendRow32Scalar(uint32_t* dst, const uint8_t* coverage, int32_t w, uint32_t colour)
{
    colour &= 0xFFFFFF;
    for (int32_t i = 0; i < w; ++i) {
        uint32_t a = coverage[i];
        if (a == 0) continue;
        dst[i] = a == 255 ? colour : BlendArgb(dst[i], colour, a);
    }
}

#if defined(__SSE2__)
void CoverageBlendRow32Sse2(uint32_t* dst, const uint8_t* coverage, int32_t w, uint32_t colour)
{
    colour &= 0xFFFFFF;
    const __m128i zero = _mm_setzero_si128();
    const __m128i ones = _mm_set1_epi32(-1);
    const __m128i c = _mm_set1_epi32(static_cast<int>(colour));
    const __m128i c16 = _mm_unpacklo_epi8(c, zero);
    const __m128i k256 = _mm_set1_epi16(256);
    const __m128i rgb = _mm_set1_epi32(0x00FFFFFF);
    int32_t i = 0;
    for (; i + 4 <= w; i += 4) {
        uint32_t group;
        std::memcpy(&group, coverage + i, 4);
        if (group == 0) continue;
        auto* p = reinterpret_cast<__m128i*>(dst + i);
        if (group == 0xFFFFFFFF) {
            _mm_storeu_si128(p, c);
            continue;
        }
        __m128i d = _mm_loadu_si128(p);
        // Each pixel's coverage over its four bytes.
        __m128i a = _mm_cvtsi32_si128(static_cast<int>(group));
        a = _mm_unpacklo_epi8(a, a);
        a = _mm_unpacklo_epi16(a, a);
        __m128i aLo = _mm_unpacklo_epi8(a, zero), aHi = _mm_unpackhi_epi8(a, zero);
        __m128i dLo = _mm_unpacklo_epi8(d, zero), dHi = _mm_unpackhi_epi8(d, zero);
        // d * (256 - a) + c * a stays below 65536 for every a.
        __m128i lo = _mm_add_epi16(_mm_mullo_epi16(dLo, _mm_sub_epi16(k256, aLo)), _mm_mullo_epi16(c16, aLo));
        __m128i hi = _mm_add_epi16(_mm_mullo_epi16(dHi, _mm_sub_epi16(k256, aHi)), _mm_mullo_epi16(c16, aHi));
        __m128i blended = _mm_and_si128(
            _mm_packus_epi16(_mm_srli_epi16(lo, 8), _mm_srli_epi16(hi, 8)), rgb);
        __m128i opaque = _mm_cmpeq_epi32(a, ones);
        __m128i clear = _mm_cmpeq_epi32(a, zero);
        __m128i between = _mm_andnot_si128(_mm_or_si128(opaque, clear), blended);
        __m128i out = _mm_or_si128(between, _mm_or_si128(_mm_and_si128(opaque, c), _mm_and_si128(clear, d)));
        _mm_storeu_si128(p, out);
    }
    CoverageBlendRow32Scalar(dst + i, coverage + i, w - i, colour);
}

void (*const CoverageBlendRow32)(uint32_t*, const uint8_t*, int32_t, uint32_t) = CoverageBlendRow32Sse2;
#else
void CoverageBlendRow32Sse2(uint32_t* dst, const uint8_t* coverage, int32_t w, uint32_t colour)
{
    CoverageBlendRow32Scalar(dst, coverage, w, colour);
}

void (*const CoverageBlendRow32)(uint32_t*, const uint8_t*, int32_t, uint32_t) = CoverageBlendRow32Scalar;
#endif
