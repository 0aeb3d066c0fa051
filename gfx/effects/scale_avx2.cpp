// The smooth scaler's horizontal pass on 256-bit vectors: four destination
// pixels at a time, each the lerp of its two source pixels in four 16-bit
// lanes, by the same integer steps as the SSE2 member in scale.cpp (and so
// the same lanes). This file alone is compiled for AVX2 and is only reached
// when the processor has it.
#if defined(__x86_64__)
#include <immintrin.h>

#include <cstdint>

// Spreads destination pixels 0..n-1 but for the last n % 4 and returns how
// many it did. column[i] is the left source pixel of destination pixel i,
// fraction[4i..4i+3] its 16-bit fraction.
int32_t SpreadRow32Avx2(const int32_t* column, const int16_t* fraction, int32_t n, const uint32_t* src,
                        int16_t* out)
{
    const __m256i zero = _mm256_setzero_si256();
    int32_t i = 0;
    for (; i + 4 <= n; i += 4) {
        // A shrinking row reads most of its source: a kilobyte ahead keeps
        // the loads from waiting on memory at every new page.
        _mm_prefetch(reinterpret_cast<const char*>(src + column[i]) + 1024, _MM_HINT_T0);
        auto pair = [&](int32_t k) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + column[i + k])); };
        // Per 128-bit lane: left0 left1 right0 right1 of two pixels.
        __m256i both = _mm256_set_m128i(_mm_unpacklo_epi32(pair(2), pair(3)), _mm_unpacklo_epi32(pair(0), pair(1)));
        __m256i a = _mm256_unpacklo_epi8(both, zero), b = _mm256_unpackhi_epi8(both, zero);
        __m256i f = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(fraction + 4 * i));
        // a + ((b - a) * f >> 16), with f >= 0x8000 taken as f - 65536 by
        // mulhi and (b - a) added back.
        __m256i d = _mm256_sub_epi16(b, a);
        __m256i v = _mm256_add_epi16(_mm256_add_epi16(a, _mm256_mulhi_epi16(d, f)),
                                     _mm256_and_si256(d, _mm256_srai_epi16(f, 15)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * i), v);
    }
    return i;
}
#endif
