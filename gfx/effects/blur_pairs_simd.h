// One pass of the Gaussian blur on vectors, written once and compiled
// twice: 16-byte SSE2 vectors (blur_sse2.cpp, the baseline) and 32-byte AVX2
// vectors (blur_avx2.cpp, compiled for AVX2 and reached only when the
// processor has it). Each includer defines QM_BLUR_BYTES and the name of its
// entry point QM_BLUR_ENTRY; everything else here has internal linkage, so
// no AVX2 copy can stand in for a baseline one at link time.
//
// The sources come as pairs of bytes already widened to two 16-bit halves
// of a 32-bit slot, so each pair of taps is one load and one multiply-add
// per four output bytes with nothing to unpack. The sums are the scalar
// reference's (same integers), and so are the bytes.
#include <immintrin.h>

#include <cstdint>

#if !defined(QM_BLUR_BYTES) || !defined(QM_BLUR_ENTRY)
#error "define QM_BLUR_BYTES and QM_BLUR_ENTRY before including this file"
#endif

// The reference sum of bytes first..bytes-1 (blur_kernels.cpp).
void BlurPairsFrom(const uint32_t* const* pairs, const int32_t* weightPairs, int32_t count, uint8_t* out,
                   int32_t first, int32_t bytes);

namespace {

#if QM_BLUR_BYTES == 32
typedef __m256i V;
inline V Splat(int32_t x) { return _mm256_set1_epi32(x); }
inline V Load(const uint32_t* p) { return _mm256_loadu_si256(reinterpret_cast<const V*>(p)); }
inline void Store(uint8_t* p, V v) { _mm256_storeu_si256(reinterpret_cast<V*>(p), v); }
inline V MulAdd(V acc, V pairs, V w) { return _mm256_add_epi32(acc, _mm256_madd_epi16(pairs, w)); }
inline V Shift(V v, int n) { return _mm256_srai_epi32(v, n); }
// Packing works within 128-bit lanes: the 4-byte groups come out as
// 0 2 4 6 | 1 3 5 7 and are put back in order.
inline V Pack(V a, V b, V c, V d)
{
    V bytes = _mm256_packus_epi16(_mm256_packs_epi32(a, b), _mm256_packs_epi32(c, d));
    return _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
}
#else
typedef __m128i V;
inline V Splat(int32_t x) { return _mm_set1_epi32(x); }
inline V Load(const uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const V*>(p)); }
inline void Store(uint8_t* p, V v) { _mm_storeu_si128(reinterpret_cast<V*>(p), v); }
inline V MulAdd(V acc, V pairs, V w) { return _mm_add_epi32(acc, _mm_madd_epi16(pairs, w)); }
inline V Shift(V v, int n) { return _mm_srai_epi32(v, n); }
inline V Pack(V a, V b, V c, V d) { return _mm_packus_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(c, d)); }
#endif

constexpr int kBits = 14;
constexpr int32_t kSlots = QM_BLUR_BYTES / 4;  // 32-bit slots in a vector

}  // namespace

void QM_BLUR_ENTRY(const uint32_t* const* pairs, const int32_t* weightPairs, int32_t count, uint8_t* out,
                   int32_t bytes)
{
    const V half = Splat(1 << (kBits - 1));
    int32_t i = 0;
    for (; i + QM_BLUR_BYTES <= bytes; i += QM_BLUR_BYTES) {
        V acc0 = half, acc1 = half, acc2 = half, acc3 = half;
        for (int32_t m = 0; m < count; ++m) {
            const uint32_t* p = pairs[m] + i;
            V w = Splat(weightPairs[m]);
            acc0 = MulAdd(acc0, Load(p), w);
            acc1 = MulAdd(acc1, Load(p + kSlots), w);
            acc2 = MulAdd(acc2, Load(p + 2 * kSlots), w);
            acc3 = MulAdd(acc3, Load(p + 3 * kSlots), w);
        }
        Store(out + i, Pack(Shift(acc0, kBits), Shift(acc1, kBits), Shift(acc2, kBits), Shift(acc3, kBits)));
    }
    BlurPairsFrom(pairs, weightPairs, count, out, i, bytes);
}
