// The vertical pass of the Gaussian blur on vectors, written once and
// compiled twice: 16-byte SSE2 vectors (blur_sse2.cpp, the baseline) and
// 32-byte AVX2 vectors (blur_avx2.cpp, compiled for AVX2 and reached only
// when the processor has it). Each includer defines QM_BLUR_BYTES and the
// name of its entry point QM_BLUR_ENTRY; everything else here has internal
// linkage, so no AVX2 copy can stand in for a baseline one at link time.
//
// Two taps at a time: the bytes of two rows interleaved as 16-bit pairs meet
// a pair of weights in one multiply-add. Unpacking and packing both work
// within 128-bit lanes, so the bytes come back in their own order. The sums
// are the scalar reference's (same integers), and so are the bytes.
#include <immintrin.h>

#include <cstdint>

#if !defined(QM_BLUR_BYTES) || !defined(QM_BLUR_ENTRY)
#error "define QM_BLUR_BYTES and QM_BLUR_ENTRY before including this file"
#endif

// The reference sum of bytes first..bytes-1 (blur_kernels.cpp).
void BlurColumnsFrom(const uint8_t* const* rows, const int16_t* weights, int32_t taps, uint8_t* out,
                     int32_t first, int32_t bytes);

namespace {

#if QM_BLUR_BYTES == 32
typedef __m256i V;
inline V Zero() { return _mm256_setzero_si256(); }
inline V Splat(int32_t x) { return _mm256_set1_epi32(x); }
inline V Load(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const V*>(p)); }
inline void Store(uint8_t* p, V v) { _mm256_storeu_si256(reinterpret_cast<V*>(p), v); }
inline V Lo8(V a, V b) { return _mm256_unpacklo_epi8(a, b); }
inline V Hi8(V a, V b) { return _mm256_unpackhi_epi8(a, b); }
inline V Lo16(V a, V b) { return _mm256_unpacklo_epi16(a, b); }
inline V Hi16(V a, V b) { return _mm256_unpackhi_epi16(a, b); }
inline V MulAdd(V acc, V pairs, V w) { return _mm256_add_epi32(acc, _mm256_madd_epi16(pairs, w)); }
inline V Shift(V v, int n) { return _mm256_srai_epi32(v, n); }
inline V Pack(V a, V b, V c, V d) { return _mm256_packus_epi16(_mm256_packs_epi32(a, b), _mm256_packs_epi32(c, d)); }
#else
typedef __m128i V;
inline V Zero() { return _mm_setzero_si128(); }
inline V Splat(int32_t x) { return _mm_set1_epi32(x); }
inline V Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const V*>(p)); }
inline void Store(uint8_t* p, V v) { _mm_storeu_si128(reinterpret_cast<V*>(p), v); }
inline V Lo8(V a, V b) { return _mm_unpacklo_epi8(a, b); }
inline V Hi8(V a, V b) { return _mm_unpackhi_epi8(a, b); }
inline V Lo16(V a, V b) { return _mm_unpacklo_epi16(a, b); }
inline V Hi16(V a, V b) { return _mm_unpackhi_epi16(a, b); }
inline V MulAdd(V acc, V pairs, V w) { return _mm_add_epi32(acc, _mm_madd_epi16(pairs, w)); }
inline V Shift(V v, int n) { return _mm_srai_epi32(v, n); }
inline V Pack(V a, V b, V c, V d) { return _mm_packus_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(c, d)); }
#endif

constexpr int kBits = 14;

inline int32_t WeightPair(int16_t first, int16_t second)
{
    return static_cast<int32_t>((static_cast<uint32_t>(static_cast<uint16_t>(second)) << 16) |
                                static_cast<uint16_t>(first));
}

}  // namespace

void QM_BLUR_ENTRY(const uint8_t* const* rows, const int16_t* weights, int32_t taps, uint8_t* out, int32_t bytes)
{
    const V zero = Zero(), half = Splat(1 << (kBits - 1));
    int32_t i = 0;
    for (; i + QM_BLUR_BYTES <= bytes; i += QM_BLUR_BYTES) {
        V acc0 = half, acc1 = half, acc2 = half, acc3 = half;
        for (int32_t k = 0; k < taps; k += 2) {
            // An odd last tap pairs with zero bytes.
            bool pair = k + 1 < taps;
            V a = Load(rows[k] + i), b = pair ? Load(rows[k + 1] + i) : zero;
            V w = Splat(WeightPair(weights[k], pair ? weights[k + 1] : 0));
            V alo = Lo8(a, zero), ahi = Hi8(a, zero), blo = Lo8(b, zero), bhi = Hi8(b, zero);
            acc0 = MulAdd(acc0, Lo16(alo, blo), w);
            acc1 = MulAdd(acc1, Hi16(alo, blo), w);
            acc2 = MulAdd(acc2, Lo16(ahi, bhi), w);
            acc3 = MulAdd(acc3, Hi16(ahi, bhi), w);
        }
        Store(out + i, Pack(Shift(acc0, kBits), Shift(acc1, kBits), Shift(acc2, kBits), Shift(acc3, kBits)));
    }
    BlurColumnsFrom(rows, weights, taps, out, i, bytes);
}
