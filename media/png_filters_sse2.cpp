// The PNG row filters on 16-byte SSE2 vectors (every x86-64 processor).
#include <emmintrin.h>

#include "media/png_filters_simd.h"

namespace {

struct Sse2 {
    using T = __m128i;
    static constexpr size_t kBytes = 16;
    static T Zero() { return _mm_setzero_si128(); }
    static T Ones() { return _mm_set1_epi8(1); }
    static T Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const T*>(p)); }
    static void Store(uint8_t* p, T v) { _mm_storeu_si128(reinterpret_cast<T*>(p), v); }
    static T Sub8(T a, T b) { return _mm_sub_epi8(a, b); }
    static T Avg8(T a, T b) { return _mm_avg_epu8(a, b); }
    static T And(T a, T b) { return _mm_and_si128(a, b); }
    static T Or(T a, T b) { return _mm_or_si128(a, b); }
    static T Xor(T a, T b) { return _mm_xor_si128(a, b); }
    static T Widen(T v, T zero, int half) { return half ? _mm_unpackhi_epi8(v, zero) : _mm_unpacklo_epi8(v, zero); }
    static T Narrow(T lo, T hi) { return _mm_packus_epi16(lo, hi); }
    static T Add16(T a, T b) { return _mm_add_epi16(a, b); }
    static T Sub16(T a, T b) { return _mm_sub_epi16(a, b); }
    static T Abs16(T v) { return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v)); }
    static T Gt16(T a, T b) { return _mm_cmpgt_epi16(a, b); }
    static T Select(T mask, T yes, T no) { return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no)); }
    // min(v, 256 - v) is the magnitude of v taken as signed; psadbw sums
    // eight of them into each 64-bit half.
    static T AddCost(T sum, T v)
    {
        T magnitude = _mm_min_epu8(v, _mm_sub_epi8(_mm_setzero_si128(), v));
        return _mm_add_epi64(sum, _mm_sad_epu8(magnitude, _mm_setzero_si128()));
    }
    static uint32_t Total(T sum)
    {
        return static_cast<uint32_t>(_mm_cvtsi128_si64(sum) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(sum, sum)));
    }
};

}  // namespace

void PngFilterRowSse2(const uint8_t* row, const uint8_t* above, size_t n, size_t bpp, uint8_t* out, uint8_t* scratch)
{
    PngFilterRowVector<Sse2>(row, above, n, bpp, out, scratch);
}
