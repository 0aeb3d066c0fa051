// Vector rows of the blend kernels, written once with the compilers' vector
// types and compiled twice: 16-byte vectors on the SSE2 baseline
// (blend_sse2.cpp) and 32-byte vectors with AVX2 (blend_avx2.cpp). Each
// includer defines QM_VBYTES, its own namespace QM_SIMD_NS and the name of
// its table QM_SIMD_TABLE. Nothing here has external linkage, so no copy
// compiled for AVX2 can stand in for the baseline one at link time; for the
// same reason inline functions and templates of other headers are not used
// here (rgb565_layouts.h keeps its own internal), only out-of-line ones.
//
// Every row gives the bytes of the scalar reference in blend_kernels.cpp:
// - d + floor((s - d) * a / 256) per channel is (d * (256 - a) + s * a) >> 8,
//   which fits 16-bit lanes for a up to 256;
// - x / 255 for x up to 65025 is (x + 1 + (x >> 8)) >> 8;
// - a * 256 / out (out in a..255) is exact through a float division: the
//   quotient is at most 256, so its rounding error stays below 2^-16 while
//   a quotient that is not whole lies at least 1/255 from the next integer.
// Rows end with a vector's worth of pixels copied through a small buffer, so
// the same vector code serves every width.
#include <cstdint>
#include <cstring>

#include <immintrin.h>

#include "gfx/bitmaps/rgb565_layouts.h"
#include "gfx/blits/blend_kernels.h"

#if !defined(QM_VBYTES) || !defined(QM_SIMD_NS) || !defined(QM_SIMD_TABLE)
#error "define QM_VBYTES, QM_SIMD_NS and QM_SIMD_TABLE before including this file"
#endif

// The wide vectors never cross a call boundary that another compiler's code
// could see; the note on their calling convention is of no concern here.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace QM_SIMD_NS {
namespace {

constexpr int kVB = QM_VBYTES;
constexpr int kP32 = kVB / 4;  // 32-bit pixels per vector
constexpr int kP16 = kVB / 2;  // 16-bit pixels per vector

typedef uint8_t U8 __attribute__((vector_size(kVB)));
typedef uint16_t U16 __attribute__((vector_size(kVB)));
typedef uint32_t U32 __attribute__((vector_size(kVB)));
typedef uint16_t U16W __attribute__((vector_size(2 * kVB)));  // the bytes of a U8, widened
typedef int32_t I32W __attribute__((vector_size(2 * kVB)));
typedef float F32W __attribute__((vector_size(2 * kVB)));

template <typename V>
inline V Load(const void* p)
{
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename V>
inline void Store(void* p, V v)
{
    std::memcpy(p, &v, sizeof v);
}

template <typename V, typename E>
inline V Splat(E e)
{
    V v = {};
    return v + e;
}

// The alpha bytes of a vector's pixels spread to one pixel each: each byte
// repeated over a 32-bit pixel's four bytes, or widened to a 16-bit lane.
// These two are written with the instruction sets' own unpacks: the
// compilers assemble the generic forms byte by byte.
#if QM_VBYTES == 16
inline U8 AlphaOfPixels32(const uint8_t* a)
{
    uint32_t w;
    std::memcpy(&w, a, 4);
    __m128i v = _mm_cvtsi32_si128(static_cast<int>(w));
    v = _mm_unpacklo_epi8(v, v);
    return (U8)_mm_unpacklo_epi16(v, v);
}

inline U16 AlphaOfPixels16(const uint8_t* a)
{
    __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(a));
    return (U16)_mm_unpacklo_epi8(v, _mm_setzero_si128());
}
#else
inline U8 AlphaOfPixels32(const uint8_t* a)
{
    __m256i v = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a)));
    const __m256i firstByte = _mm256_setr_epi8(0, 0, 0, 0, 4, 4, 4, 4, 8, 8, 8, 8, 12, 12, 12, 12,
                                               0, 0, 0, 0, 4, 4, 4, 4, 8, 8, 8, 8, 12, 12, 12, 12);
    return (U8)_mm256_shuffle_epi8(v, firstByte);
}

inline U16 AlphaOfPixels16(const uint8_t* a)
{
    return (U16)_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a)));
}
#endif

// Half h (0 or 1) of the 16-bit lanes, one 32-bit lane each; and 16-bit
// lanes narrowed to bytes and stored.
#if QM_VBYTES == 16
inline U32 HalfToPixels32(U16 v, int h)
{
    __m128i x = (__m128i)v;
    return (U32)(h ? _mm_unpackhi_epi16(x, _mm_setzero_si128()) : _mm_unpacklo_epi16(x, _mm_setzero_si128()));
}

inline void StoreLaneBytes(uint8_t* p, U16 v)
{
    __m128i x = _mm_packus_epi16((__m128i)v, (__m128i)v);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), x);
}
#else
inline U32 HalfToPixels32(U16 v, int h)
{
    __m256i x = (__m256i)v;
    return (U32)_mm256_cvtepu16_epi32(h ? _mm256_extracti128_si256(x, 1) : _mm256_castsi256_si128(x));
}

inline void StoreLaneBytes(uint8_t* p, U16 v)
{
    __m256i x = _mm256_permute4x64_epi64(_mm256_packus_epi16((__m256i)v, (__m256i)v), 0xD8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(x));
}
#endif

// 0 when the n alpha bytes are mixed, 1 when all are 0, 2 when all are 255.
template <int N>
inline int AlphaRun(const uint8_t* a)
{
    uint64_t any = 0, all = ~uint64_t{0};
    for (int k = 0; k < N; k += 4) {
        uint32_t w;
        std::memcpy(&w, a + k, 4);
        any |= w;
        all &= w;
    }
    if (any == 0) return 1;
    return (all & 0xFFFFFFFF) == 0xFFFFFFFF ? 2 : 0;
}

// Runs `body` over the row in steps of P pixels; the last, partial step
// goes through local buffers (alpha padded with 0, which every kernel
// reads as "leave the pixel").
template <int P, typename T, typename Body>
inline void ForRow(T* d, const T* s, const uint8_t* a, uint8_t* da, int32_t n, Body body)
{
    int32_t i = 0;
    for (; i + P <= n; i += P)
        body(d + i, s ? s + i : nullptr, a ? a + i : nullptr, da ? da + i : nullptr);
    int32_t rest = n - i;
    if (rest <= 0) return;
    T td[P] = {}, ts[P] = {};
    uint8_t ta[P] = {}, tda[P] = {};
    size_t bytes = sizeof(T) * static_cast<size_t>(rest);
    std::memcpy(td, d + i, bytes);
    if (s) std::memcpy(ts, s + i, bytes);
    if (a) std::memcpy(ta, a + i, static_cast<size_t>(rest));
    if (da) std::memcpy(tda, da + i, static_cast<size_t>(rest));
    body(td, s ? ts : nullptr, a ? ta : nullptr, da ? tda : nullptr);
    std::memcpy(d + i, td, bytes);
    if (da) std::memcpy(da + i, tda, static_cast<size_t>(rest));
}

// ---------------------------------------------------------------------------
// 32-bit formats. The four layouts are byte permutations of ARGB, and the
// blend works per byte, so it runs in place; the byte that is the alpha (or
// the dropped byte) of the layout is cleared afterwards.

template <uint32_t F>
constexpr uint32_t kKeep32 = (F == 11 || F == 12) ? 0xFFFFFF00u : 0x00FFFFFFu;

// Each pixel's 8-bit value repeated over its four bytes, widened.
inline U16W PerByte(U32 a)
{
    a |= a << 8;
    a |= a << 16;
    return __builtin_convertvector((U8)a, U16W);
}

template <uint32_t F>
inline U32 Mix32(U32 d, U32 s, U16W a)
{
    U16W dw = __builtin_convertvector((U8)d, U16W);
    U16W sw = __builtin_convertvector((U8)s, U16W);
    U16W r = (dw * (Splat<U16W>(uint16_t{256}) - a) + sw * a) >> 8;
    return (U32)__builtin_convertvector(r, U8) & kKeep32<F>;
}

// Mode 0 and the coverage plot: 255 stores the source, 0 keeps.
template <uint32_t F>
inline void Blend32(uint32_t* d, U32 sv, const uint8_t* alpha)
{
    U8 a = AlphaOfPixels32(alpha);
    U32 dv = Load<U32>(d);
    U32 full = (U32)(a == 255), none = (U32)(a == 0);
    U16W aw = __builtin_convertvector(a, U16W);
    Store(d, (sv & full) | (dv & none) | (Mix32<F>(dv, sv, aw) & ~(full | none)));
}

template <uint32_t F>
void BlendRow32(void* dst, const void* src, const uint8_t* alpha, int32_t n)
{
    ForRow<kP32>(static_cast<uint32_t*>(dst), static_cast<const uint32_t*>(src), alpha, nullptr, n,
                 [](uint32_t* d, const uint32_t* s, const uint8_t* a, uint8_t*) {
                     int run = AlphaRun<kP32>(a);
                     if (run == 1) return;
                     if (run == 2) std::memcpy(d, s, sizeof(uint32_t) * kP32);
                     else Blend32<F>(d, Load<U32>(s), a);
                 });
}

template <uint32_t F>
void CoverRow32(void* dst, uint32_t value, const uint8_t* alpha, int32_t n)
{
    U32 sv = Splat<U32>(value);
    ForRow<kP32>(static_cast<uint32_t*>(dst), static_cast<const uint32_t*>(nullptr), alpha,
                 nullptr, n, [sv](uint32_t* d, const uint32_t*, const uint8_t* a, uint8_t*) {
                     int run = AlphaRun<kP32>(a);
                     if (run == 1) return;
                     if (run == 2) Store(d, sv);
                     else Blend32<F>(d, sv, a);
                 });
}

template <typename T>
struct Lanes;
template <>
struct Lanes<uint32_t> {
    typedef U32 V;
    static constexpr int kP = kP32;
};
template <>
struct Lanes<uint16_t> {
    typedef U16 V;
    static constexpr int kP = kP16;
};

template <typename T>
void CopyWhereRow(void* dst, const void* src, const uint8_t* alpha, int32_t n)
{
    typedef typename Lanes<T>::V V;
    constexpr int P = Lanes<T>::kP;
    ForRow<P>(static_cast<T*>(dst), static_cast<const T*>(src), alpha, nullptr, n,
              [](T* d, const T* s, const uint8_t* a, uint8_t*) {
                  int run = AlphaRun<P>(a);
                  if (run == 1) return;
                  V sv = Load<V>(s);
                  if (run == 2) {
                      Store(d, sv);
                      return;
                  }
                  V m;
                  if constexpr (sizeof(T) == 4) m = (V)(AlphaOfPixels32(a) != 0);
                  else m = (V)(AlphaOfPixels16(a) != 0);
                  Store(d, (sv & m) | (Load<V>(d) & ~m));
              });
}

// The composite's coverage in 16-bit lanes: what shows of the destination
// under the source, da * (255 - a) / 255, the combined coverage `out`, and
// the source's share of the colour, a * 256 / out, in 32-bit lanes (IV, FV)
// for the division.
template <typename UV, typename IV, typename FV>
inline void Coverage(UV a, UV da, UV* out, UV* share)
{
    UV x = da * (255 - a);
    UV under = (x + 1 + (x >> 8)) >> 8;
    *out = a + under;
    UV divisor = *out + ((UV)(*out == 0) & 1);
    FV q = __builtin_convertvector(__builtin_convertvector(a, IV) << 8, FV) /
           __builtin_convertvector(__builtin_convertvector(divisor, IV), FV);
    *share = __builtin_convertvector(__builtin_convertvector(q, IV), UV);
}

#if QM_VBYTES == 32
// With AVX2 the composite works on eight pixels in 32-bit lanes and widens
// their bytes with the in-lane unpacks, whose order the packs undo: the
// generic form's widening and narrowing cross the 128-bit halves and cost
// more than the arithmetic. The colour needs no case for the alpha ends
// (share 256 gives the source, 0 the destination, and the coverage comes
// out as 255 and da), only the layout's spare byte, which the scalar
// reference takes whole from the source at 255 and keeps at 0.
template <uint32_t F>
inline void Composite8(uint32_t* d, const uint32_t* s, const uint8_t* sa, uint8_t* da)
{
    const __m256i one = _mm256_set1_epi32(1), c255 = _mm256_set1_epi32(255);
    __m256i a = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(sa)));
    __m256i dav = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(da)));
    // da * (255 - a) stays below 2^16, so the 16-bit multiply is exact and
    // leaves the upper halves 0.
    __m256i x = _mm256_mullo_epi16(dav, _mm256_sub_epi32(c255, a));
    __m256i under = _mm256_srli_epi32(_mm256_add_epi32(_mm256_add_epi32(x, one), _mm256_srli_epi32(x, 8)), 8);
    __m256i out = _mm256_add_epi32(a, under);
    __m256 q = _mm256_div_ps(_mm256_cvtepi32_ps(_mm256_slli_epi32(a, 8)),
                             _mm256_cvtepi32_ps(_mm256_max_epi32(out, one)));
    __m256i share = _mm256_cvttps_epi32(q);
    share = _mm256_or_si256(share, _mm256_slli_epi32(share, 16));
    __m256i wlo = _mm256_unpacklo_epi32(share, share), whi = _mm256_unpackhi_epi32(share, share);
    const __m256i c256 = _mm256_set1_epi16(256), zero = _mm256_setzero_si256();
    __m256i dv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d));
    __m256i sv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
    __m256i lo = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpacklo_epi8(dv, zero), _mm256_sub_epi16(c256, wlo)),
                                  _mm256_mullo_epi16(_mm256_unpacklo_epi8(sv, zero), wlo));
    __m256i hi = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpackhi_epi8(dv, zero), _mm256_sub_epi16(c256, whi)),
                                  _mm256_mullo_epi16(_mm256_unpackhi_epi8(sv, zero), whi));
    __m256i mixed = _mm256_packus_epi16(_mm256_srli_epi16(lo, 8), _mm256_srli_epi16(hi, 8));
    const __m256i keep = _mm256_set1_epi32(static_cast<int>(kKeep32<F>));
    __m256i spare = _mm256_or_si256(_mm256_and_si256(_mm256_cmpeq_epi32(a, c255), sv),
                                    _mm256_and_si256(_mm256_cmpeq_epi32(a, zero), dv));
    mixed = _mm256_or_si256(_mm256_and_si256(mixed, keep), _mm256_andnot_si256(keep, spare));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), mixed);
    __m256i bytes = _mm256_packus_epi16(_mm256_packus_epi32(out, out), zero);
    uint32_t lowFour = static_cast<uint32_t>(_mm256_cvtsi256_si32(bytes));
    uint32_t highFour = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm256_extracti128_si256(bytes, 1)));
    uint64_t both = lowFour | (uint64_t{highFour} << 32);
    std::memcpy(da, &both, 8);
}

template <uint32_t F>
void CompositeRow32(void* dst, const void* src, const uint8_t* alpha, uint8_t* dstAlpha,
                    int32_t n)
{
    ForRow<8>(static_cast<uint32_t*>(dst), static_cast<const uint32_t*>(src), alpha, dstAlpha, n,
              [](uint32_t* d, const uint32_t* s, const uint8_t* sa, uint8_t* da) {
                  uint64_t run;
                  std::memcpy(&run, sa, 8);
                  if (run == 0) return;
                  if (run == ~uint64_t{0}) {
                      std::memcpy(d, s, sizeof(uint32_t) * 8);
                      std::memset(da, 255, 8);
                      return;
                  }
                  Composite8<F>(d, s, sa, da);
              });
}
#else
// Two vectors of pixels at a time, so that the coverage fills whole 16-bit
// vectors.
template <uint32_t F>
void CompositeRow32(void* dst, const void* src, const uint8_t* alpha, uint8_t* dstAlpha,
                    int32_t n)
{
    ForRow<kP16>(static_cast<uint32_t*>(dst), static_cast<const uint32_t*>(src), alpha, dstAlpha,
                 n, [](uint32_t* d, const uint32_t* s, const uint8_t* sa, uint8_t* da) {
                     int run = AlphaRun<kP16>(sa);
                     if (run == 1) return;
                     if (run == 2) {
                         std::memcpy(d, s, sizeof(uint32_t) * kP16);
                         std::memset(da, 255, kP16);
                         return;
                     }
                     U16 a = AlphaOfPixels16(sa), dav = AlphaOfPixels16(da);
                     U16 out, share;
                     Coverage<U16, I32W, F32W>(a, dav, &out, &share);
                     for (int h = 0; h < 2; ++h) {
                         U32 a32 = HalfToPixels32(a, h);
                         // share is 1..256 where it is used: repeat share - 1
                         // over the bytes and add the 1 back in the wide lanes.
                         U16W aw = PerByte(HalfToPixels32(share, h) - 1) + uint16_t{1};
                         U32 dv = Load<U32>(d + h * kP32), sv = Load<U32>(s + h * kP32);
                         U32 full = (U32)(a32 == 255), none = (U32)(a32 == 0);
                         Store(d + h * kP32, (sv & full) | (dv & none) |
                                                 (Mix32<F>(dv, sv, aw) & ~(full | none)));
                     }
                     U16 full = (U16)(a == 255), none = (U16)(a == 0);
                     StoreLaneBytes(da, (full & 255) | (dav & none) | (out & ~(full | none)));
                 });
}
#endif

template <uint32_t F>
void TintRow32(void* dst, uint32_t colour, uint32_t level, int32_t n)
{
    if (level > 256) {
        kScalarBlendKernels[F]->tint(dst, colour, level, n);
        return;
    }
    U32 tv = Splat<U32>(F == 10 ? colour : PixelToFormat32(F, colour));
    U16W lv = Splat<U16W>(static_cast<uint16_t>(level));
    ForRow<kP32>(static_cast<uint32_t*>(dst), static_cast<const uint32_t*>(nullptr), nullptr,
                 nullptr, n, [tv, lv](uint32_t* d, const uint32_t*, const uint8_t*, uint8_t*) {
                     Store(d, Mix32<F>(Load<U32>(d), tv, lv));
                 });
}

// ---------------------------------------------------------------------------
// 16-bit formats: converted to RGB565 in the vector, blended on channels
// widened to 8 bits, truncated and converted back.

inline U16 Mix565(U16 d, U16 s, U16 a)
{
    U16 na = Splat<U16>(uint16_t{256}) - a;
    U16 r = (((d >> 8) & 0xF8) * na + ((s >> 8) & 0xF8) * a) >> 8;
    U16 g = (((d >> 3) & 0xFC) * na + ((s >> 3) & 0xFC) * a) >> 8;
    U16 b = (((d << 3) & 0xF8) * na + ((s << 3) & 0xF8) * a) >> 8;
    return ((r & 0xF8) << 8) | ((g & 0xFC) << 3) | (b >> 3);
}

template <uint32_t F>
inline void Blend16(uint16_t* d, U16 sv, const uint8_t* alpha)
{
    U16 a = AlphaOfPixels16(alpha);
    U16 dv = Load<U16>(d);
    U16 full = (U16)(a == 255), none = (U16)(a == 0);
    U16 mixed = From565<F>(Mix565(To565<F>(dv), To565<F>(sv), a));
    Store(d, (sv & full) | (dv & none) | (mixed & ~(full | none)));
}

template <uint32_t F>
void BlendRow16(void* dst, const void* src, const uint8_t* alpha, int32_t n)
{
    ForRow<kP16>(static_cast<uint16_t*>(dst), static_cast<const uint16_t*>(src), alpha, nullptr, n,
                 [](uint16_t* d, const uint16_t* s, const uint8_t* a, uint8_t*) {
                     int run = AlphaRun<kP16>(a);
                     if (run == 1) return;
                     if (run == 2) std::memcpy(d, s, sizeof(uint16_t) * kP16);
                     else Blend16<F>(d, Load<U16>(s), a);
                 });
}

template <uint32_t F>
void CoverRow16(void* dst, uint32_t value, const uint8_t* alpha, int32_t n)
{
    U16 sv = Splat<U16>(static_cast<uint16_t>(value));
    ForRow<kP16>(static_cast<uint16_t*>(dst), static_cast<const uint16_t*>(nullptr), alpha,
                 nullptr, n, [sv](uint16_t* d, const uint16_t*, const uint8_t* a, uint8_t*) {
                     int run = AlphaRun<kP16>(a);
                     if (run == 1) return;
                     if (run == 2) Store(d, sv);
                     else Blend16<F>(d, sv, a);
                 });
}

template <uint32_t F>
void CompositeRow16(void* dst, const void* src, const uint8_t* alpha, uint8_t* dstAlpha,
                    int32_t n)
{
    ForRow<kP16>(static_cast<uint16_t*>(dst), static_cast<const uint16_t*>(src), alpha, dstAlpha,
                 n, [](uint16_t* d, const uint16_t* s, const uint8_t* sa, uint8_t* da) {
                     int run = AlphaRun<kP16>(sa);
                     if (run == 1) return;
                     if (run == 2) {
                         std::memcpy(d, s, sizeof(uint16_t) * kP16);
                         std::memset(da, 255, kP16);
                         return;
                     }
                     U16 a = AlphaOfPixels16(sa), dav = AlphaOfPixels16(da);
                     U16 out, share;
                     Coverage<U16, I32W, F32W>(a, dav, &out, &share);
                     U16 dv = Load<U16>(d), sv = Load<U16>(s);
                     U16 full = (U16)(a == 255), none = (U16)(a == 0), part = ~(full | none);
                     U16 mixed = From565<F>(Mix565(To565<F>(dv), To565<F>(sv), share));
                     Store(d, (sv & full) | (dv & none) | (mixed & part));
                     StoreLaneBytes(da, (full & 255) | (dav & none) | (out & part));
                 });
}

template <uint32_t F>
void TintRow16(void* dst, uint32_t colour, uint32_t level, int32_t n)
{
    if (level > 256) {
        kScalarBlendKernels[F]->tint(dst, colour, level, n);
        return;
    }
    U16 tv = Splat<U16>(static_cast<uint16_t>(colour));
    U16 lv = Splat<U16>(static_cast<uint16_t>(level));
    ForRow<kP16>(static_cast<uint16_t*>(dst), static_cast<const uint16_t*>(nullptr), nullptr,
                 nullptr, n, [tv, lv](uint16_t* d, const uint16_t*, const uint8_t*, uint8_t*) {
                     Store(d, From565<F>(Mix565(To565<F>(Load<U16>(d)), tv, lv)));
                 });
}

template <typename T>
void FillRow(void* dst, uint32_t value, int32_t n)
{
    typedef typename Lanes<T>::V V;
    constexpr int P = Lanes<T>::kP;
    T* d = static_cast<T*>(dst);
    V v = Splat<V>(static_cast<T>(value));
    int32_t i = 0;
    for (; i + 4 * P <= n; i += 4 * P) {
        Store(d + i, v);
        Store(d + i + P, v);
        Store(d + i + 2 * P, v);
        Store(d + i + 3 * P, v);
    }
    for (; i + P <= n; i += P) Store(d + i, v);
    for (; i < n; ++i) d[i] = static_cast<T>(value);
}

template <uint32_t F>
constexpr BlendRowKernels kRows32 = {BlendRow32<F>,  CopyWhereRow<uint32_t>, CompositeRow32<F>,
                                     CoverRow32<F>,  TintRow32<F>,           FillRow<uint32_t>};
template <uint32_t F>
constexpr BlendRowKernels kRows16 = {BlendRow16<F>,  CopyWhereRow<uint16_t>, CompositeRow16<F>,
                                     CoverRow16<F>,  TintRow16<F>,           FillRow<uint16_t>};

}  // namespace
}  // namespace QM_SIMD_NS

const BlendRowKernels* const QM_SIMD_TABLE[PIXFMT_COUNT] = {
    &QM_SIMD_NS::kRows16<0>,  &QM_SIMD_NS::kRows16<1>,  &QM_SIMD_NS::kRows16<2>,
    &QM_SIMD_NS::kRows16<3>,  &QM_SIMD_NS::kRows16<4>,  &QM_SIMD_NS::kRows16<5>,
    &QM_SIMD_NS::kRows16<6>,  &QM_SIMD_NS::kRows16<7>,  nullptr,
    nullptr,                  &QM_SIMD_NS::kRows32<10>, &QM_SIMD_NS::kRows32<11>,
    &QM_SIMD_NS::kRows32<12>, &QM_SIMD_NS::kRows32<13>,
};
