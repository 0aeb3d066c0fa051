// The PNG row filters and the widening of RGB rows on 32-byte AVX2 vectors;
// this file alone is compiled for AVX2 and is only reached when the
// processor has it. Widening and narrowing both work within each 128-bit
// lane, so bytes keep their order.
#include <immintrin.h>

#include "media/png_filters_simd.h"

namespace {

struct Avx2 {
    using T = __m256i;
    static constexpr size_t kBytes = 32;
    static T Zero() { return _mm256_setzero_si256(); }
    static T Ones() { return _mm256_set1_epi8(1); }
    static T Load(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const T*>(p)); }
    static void Store(uint8_t* p, T v) { _mm256_storeu_si256(reinterpret_cast<T*>(p), v); }
    static T Sub8(T a, T b) { return _mm256_sub_epi8(a, b); }
    static T Avg8(T a, T b) { return _mm256_avg_epu8(a, b); }
    static T And(T a, T b) { return _mm256_and_si256(a, b); }
    static T Or(T a, T b) { return _mm256_or_si256(a, b); }
    static T Xor(T a, T b) { return _mm256_xor_si256(a, b); }
    static T Widen(T v, T zero, int half)
    {
        return half ? _mm256_unpackhi_epi8(v, zero) : _mm256_unpacklo_epi8(v, zero);
    }
    static T Narrow(T lo, T hi) { return _mm256_packus_epi16(lo, hi); }
    static T Add16(T a, T b) { return _mm256_add_epi16(a, b); }
    static T Sub16(T a, T b) { return _mm256_sub_epi16(a, b); }
    static T Abs16(T v) { return _mm256_abs_epi16(v); }
    static T Gt16(T a, T b) { return _mm256_cmpgt_epi16(a, b); }
    static T Select(T mask, T yes, T no) { return _mm256_blendv_epi8(no, yes, mask); }
    static T AddCost(T sum, T v)
    {
        T magnitude = _mm256_min_epu8(v, _mm256_sub_epi8(_mm256_setzero_si256(), v));
        return _mm256_add_epi64(sum, _mm256_sad_epu8(magnitude, _mm256_setzero_si256()));
    }
    static uint32_t Total(T sum)
    {
        __m128i half = _mm_add_epi64(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
        return static_cast<uint32_t>(_mm_cvtsi128_si64(half) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(half, half)));
    }
};

}  // namespace

void PngFilterRowAvx2(const uint8_t* row, const uint8_t* above, size_t n, size_t bpp, uint8_t* out, uint8_t* scratch)
{
    PngFilterRowVector<Avx2>(row, above, n, bpp, out, scratch);
}

// Eight pixels at a time: the 24 bytes are read as 16 from the first pixel
// and 16 from the fifth, so each 128-bit lane shuffles four pixels of its
// own, and the loop stops where the second read would pass the row.
void PngRgbRowAvx2(const uint8_t* rgb, uint32_t* argb, size_t count)
{
    const __m256i order = _mm256_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1,  //
                                           2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1);
    const __m256i alpha = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    size_t i = 0;
    for (; 3 * i + 28 <= 3 * count; i += 8) {
        __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgb + 3 * i));
        __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgb + 3 * i + 12));
        __m256i pixels = _mm256_shuffle_epi8(_mm256_set_m128i(high, low), order);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(argb + i), _mm256_or_si256(pixels, alpha));
    }
    for (; i < count; ++i)
        argb[i] = PngRgbPixel(rgb + 3 * i);
}
