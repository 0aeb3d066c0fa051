// The separable Gaussian blur behind ConvolvePixels, in place: a vertical
// pass, then a horizontal one. Both run one kernel that sums, for each
// output byte, pairs of source bytes times pairs of weights, so every byte
// is an independent sum and vectorises without shuffles. Its sources are
// made per pass: the vertical pass pairs each row of a column strip with
// the row below it, the horizontal pass each byte of a row with the same
// byte of the next element; either way taps 2m and 2m + 1 of an output
// byte are one pair, and one multiply-add per pair and byte does the work.
// Scratch memory is one column strip and one row. Weights are 2.14 fixed
// point adding up to exactly 1 << 14, so a flat picture stays flat and its
// mean is kept up to rounding. Edges repeat the outermost row or element.
// The SSE2 and AVX2 members give the same bytes as the scalar reference
// (same integer sums).
#include <emmintrin.h>

#include <cmath>
#include <cstring>

#if defined(__x86_64__)
#define QM_BLUR_X86 1
#endif

#include "gfx/effects/blur.h"
#include "gfx/effects/filter_kernels.h"
#include "gfx/effects/work_buffer.h"

namespace {

constexpr int32_t kWeightBits = 14;
constexpr int32_t kWeightOne = 1 << kWeightBits;
// The widest kernel: wider ones would round most weights to 0.
constexpr int32_t kMaxBlurRadius = 2000;
// What the pairs one output row of a strip reads may take of the
// first-level cache.
constexpr size_t kStripCacheBytes = 24 * 1024;

}  // namespace

// The reference sum of bytes first..bytes-1; the vector members finish
// their rows with it.
void BlurPairsFrom(const uint32_t* const* pairs, const int32_t* weightPairs, int32_t count, uint8_t* out,
                   int32_t first, int32_t bytes)
{
    for (int32_t i = first; i < bytes; ++i) {
        int32_t acc = kWeightOne / 2;
        for (int32_t m = 0; m < count; ++m) {
            uint32_t p = pairs[m][i];
            auto w = static_cast<uint32_t>(weightPairs[m]);
            acc += static_cast<int16_t>(w & 0xFFFF) * static_cast<int32_t>(p & 0xFFFF) +
                   static_cast<int16_t>(w >> 16) * static_cast<int32_t>(p >> 16);
        }
        out[i] = static_cast<uint8_t>(acc >> kWeightBits);
    }
}

#ifdef QM_BLUR_X86
// blur_sse2.cpp and blur_avx2.cpp.
void BlurPairsSse2(const uint32_t* const* pairs, const int32_t* weightPairs, int32_t count, uint8_t* out,
                   int32_t bytes);
void BlurPairsAvx2(const uint32_t* const* pairs, const int32_t* weightPairs, int32_t count, uint8_t* out,
                   int32_t bytes);
#endif

namespace {

void BlurPairsScalar(const uint32_t* const* pairs, const int32_t* weightPairs, int32_t count, uint8_t* out,
                     int32_t bytes)
{
    BlurPairsFrom(pairs, weightPairs, count, out, 0, bytes);
}

uint32_t BestBlurPath()
{
#ifdef QM_BLUR_X86
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? BLURPATH_AVX2 : BLURPATH_SSE2;
#else
    return BLURPATH_SCALAR;
#endif
}

uint32_t g_blurPath = BestBlurPath();

// out[i] = a[i] | b[i] << 16: two bytes widened into one slot.
void PairBytes(const uint8_t* a, const uint8_t* b, uint32_t* out, size_t n)
{
    size_t i = 0;
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        __m128i xlo = _mm_unpacklo_epi8(x, zero), xhi = _mm_unpackhi_epi8(x, zero);
        __m128i ylo = _mm_unpacklo_epi8(y, zero), yhi = _mm_unpackhi_epi8(y, zero);
        auto* o = reinterpret_cast<__m128i*>(out + i);
        _mm_storeu_si128(o, _mm_unpacklo_epi16(xlo, ylo));
        _mm_storeu_si128(o + 1, _mm_unpackhi_epi16(xlo, ylo));
        _mm_storeu_si128(o + 2, _mm_unpacklo_epi16(xhi, yhi));
        _mm_storeu_si128(o + 3, _mm_unpackhi_epi16(xhi, yhi));
    }
    for (; i < n; ++i) out[i] = a[i] | static_cast<uint32_t>(b[i]) << 16;
}

inline int32_t WeightPair(int16_t first, int16_t second)
{
    return static_cast<int32_t>((static_cast<uint32_t>(static_cast<uint16_t>(second)) << 16) |
                                static_cast<uint16_t>(first));
}

// The strip width in bytes for r + 1 pairs: a multiple of 32 whose pairs
// fit the cache share, at least 32, at most the row.
size_t StripBytes(int32_t radius, size_t rowBytes)
{
    size_t strip = (kStripCacheBytes / (4 * (static_cast<size_t>(radius) + 1))) & ~size_t{31};
    strip = strip < 32 ? 32 : strip;
    return strip < rowBytes ? strip : rowBytes;
}

struct PassScratch {
    WorkBuffer<const uint32_t*> pairs;  // r + 1 pointers
    WorkBuffer<int32_t> weightPairs;    // r + 1
    WorkBuffer<uint32_t> strip;         // (rows + 2r) x strip width
    WorkBuffer<uint8_t> padded;         // one row, r elements before it and r + 1 after
    WorkBuffer<uint32_t> rowPairs;      // one row and r elements either side
};

// The vertical pass in strips of columns: pair slot j of a strip holds rows
// j - r and j - r + 1 (clamped to the picture), so output row y reads the
// r + 1 slots from y on, and those stay in the cache however wide the
// picture is. The strip's pairs are made before its rows are written.
void VerticalPass(uint8_t* base, size_t stride, size_t rowBytes, int32_t rows, int32_t radius,
                  BlurPairsFunc sum, PassScratch* s)
{
    size_t strip = StripBytes(radius, rowBytes);
    auto row = [&](int32_t y) { return base + stride * static_cast<size_t>(y < 0 ? 0 : y >= rows ? rows - 1 : y); };
    for (size_t x0 = 0; x0 < rowBytes; x0 += strip) {
        size_t n = rowBytes - x0 < strip ? rowBytes - x0 : strip;
        for (int32_t j = 0; j < rows + 2 * radius; ++j)
            PairBytes(row(j - radius) + x0, row(j - radius + 1) + x0, s->strip.get() + n * static_cast<size_t>(j), n);
        for (int32_t y = 0; y < rows; ++y) {
            for (int32_t m = 0; m <= radius; ++m) s->pairs[m] = s->strip.get() + n * static_cast<size_t>(y + 2 * m);
            sum(s->pairs.get(), s->weightPairs.get(), radius + 1, base + stride * static_cast<size_t>(y) + x0,
                static_cast<int32_t>(n));
        }
    }
}

// The horizontal pass: each row copied between r repeats of its first
// element and r + 1 of its last, and slot b pairing byte b of that copy with
// byte b of the next element; pair m of output byte i is slot i + 2m
// elements (the last pair's second half, beyond the r repeats, weighs 0).
void HorizontalPass(uint8_t* base, size_t stride, int32_t w, int32_t h, uint32_t elementBytes, int32_t radius,
                    BlurPairsFunc sum, PassScratch* s)
{
    size_t rowBytes = static_cast<size_t>(w) * elementBytes;
    size_t edge = static_cast<size_t>(radius) * elementBytes;
    size_t slots = rowBytes + 2 * edge;
    for (int32_t m = 0; m <= radius; ++m) s->pairs[m] = s->rowPairs.get() + 2 * static_cast<size_t>(m) * elementBytes;
    uint8_t* padded = s->padded.get();
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* row = base + stride * static_cast<size_t>(y);
        std::memcpy(padded + edge, row, rowBytes);
        for (size_t i = 0; i < edge; i += elementBytes) std::memcpy(padded + i, row, elementBytes);
        for (size_t i = 0; i <= edge; i += elementBytes)
            std::memcpy(padded + edge + rowBytes + i, row + rowBytes - elementBytes, elementBytes);
        PairBytes(padded, padded + elementBytes, s->rowPairs.get(), slots);
        sum(s->pairs.get(), s->weightPairs.get(), radius + 1, row, static_cast<int32_t>(rowBytes));
    }
}

}  // namespace

BlurPairsFunc GetBlurPairs(uint32_t path)
{
#ifdef QM_BLUR_X86
    if (path == BLURPATH_AVX2 && __builtin_cpu_supports("avx2")) return BlurPairsAvx2;
    if (path != BLURPATH_SCALAR) return BlurPairsSse2;
#else
    (void)path;
#endif
    return BlurPairsScalar;
}

uint32_t SelectBlurPath(uint32_t path)
{
    uint32_t previous = g_blurPath;
    g_blurPath = path;
    return previous;
}

int32_t GaussianWeights(double radius, double sigma, WorkBuffer<int16_t>* weights)
{
    if (!(sigma > 0) && radius > 0) sigma = radius / 3.0;
    if (!(sigma > 0)) return 0;
    // g(k) = exp(-k^2 / (2 sigma^2)), k = -r..r, r = ceil(radius) or 3 sigma.
    double span = radius > 0 ? std::ceil(radius) : std::ceil(3.0 * sigma);
    int32_t r = span > kMaxBlurRadius ? kMaxBlurRadius : static_cast<int32_t>(span);
    if (r < 1) return 0;
    WorkBuffer<double> g(static_cast<size_t>(r) + 1);
    if (!g) return -1;
    double total = 0;
    for (int32_t k = 0; k <= r; ++k) {
        g[k] = std::exp(-static_cast<double>(k) * k / (2.0 * sigma * sigma));
        total += k ? 2 * g[k] : g[k];
    }
    // Outer weights that round to 0 only cost time.
    while (r > 0 && std::lround(kWeightOne * g[r] / total) == 0) --r;
    if (r == 0) return 0;
    if (!weights->Allocate(2 * static_cast<size_t>(r) + 1)) return -1;
    int32_t sum = 0;
    for (int32_t k = -r; k <= r; ++k) {
        auto v = static_cast<int16_t>(std::lround(kWeightOne * g[k < 0 ? -k : k] / total));
        (*weights)[static_cast<size_t>(k + r)] = v;
        sum += v;
    }
    (*weights)[static_cast<size_t>(r)] = static_cast<int16_t>((*weights)[static_cast<size_t>(r)] + kWeightOne - sum);
    return r;
}

bool GaussianBlurRows(uint8_t* rows, size_t stride, int32_t w, int32_t h, uint32_t elementBytes, double radius,
                      double sigma)
{
    if (w <= 0 || h <= 0) return true;
    WorkBuffer<int16_t> weights;
    int32_t r = GaussianWeights(radius, sigma, &weights);
    if (r <= 0) return r == 0;
    int32_t taps = 2 * r + 1;
    size_t rowBytes = static_cast<size_t>(w) * elementBytes;
    size_t paddedBytes = rowBytes + 2 * static_cast<size_t>(r) * elementBytes;
    PassScratch s;
    if (!s.pairs.Allocate(static_cast<size_t>(r) + 1) || !s.weightPairs.Allocate(static_cast<size_t>(r) + 1) ||
        !s.strip.Allocate(StripBytes(r, rowBytes) * (static_cast<size_t>(h) + 2 * static_cast<size_t>(r))) ||
        !s.padded.Allocate(paddedBytes + elementBytes) || !s.rowPairs.Allocate(paddedBytes))
        return false;
    // Taps 2m and 2m + 1; the last tap pairs with a weight of 0.
    for (int32_t m = 0; m <= r; ++m)
        s.weightPairs[m] = WeightPair(weights[2 * static_cast<size_t>(m)],
                                      2 * m + 1 < taps ? weights[2 * static_cast<size_t>(m) + 1] : 0);
    BlurPairsFunc sum = GetBlurPairs(g_blurPath);
    VerticalPass(rows, stride, rowBytes, h, r, sum, &s);
    HorizontalPass(rows, stride, w, h, elementBytes, r, sum, &s);
    return true;
}
