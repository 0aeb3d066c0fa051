// The separable Gaussian blur behind ConvolvePixels, in place. Both passes
// run one kernel that sums 2r + 1 byte arrays with one weight each, so every
// byte is an independent sum and vectorises without shuffles: the vertical
// pass gives it rows, the horizontal pass the same row shifted by whole
// elements. A pass costs one multiply-add per tap and byte (O(r) per
// pixel), and scratch memory of a column strip and one row; weights are 2.14 fixed point adding up
// to exactly 1 << 14, so a flat picture stays flat and its mean is kept up
// to rounding. Edges repeat the outermost row. The SSE2 and AVX2 members
// give the same bytes as the scalar reference (same integer sums).
#include <cmath>
#include <cstring>

#if defined(__x86_64__)
#define QM_BLUR_X86 1
#endif

#include "gfx/blur.h"
#include "gfx/filter_kernels.h"
#include "gfx/work_buffer.h"

namespace {

constexpr int32_t kWeightBits = 14;
constexpr int32_t kWeightOne = 1 << kWeightBits;
// The widest kernel: wider ones would round most weights to 0.
constexpr int32_t kMaxBlurRadius = 2000;
// What the rows of one column strip may take of the first-level cache.
constexpr size_t kStripCacheBytes = 24 * 1024;

}  // namespace

// The reference sum of bytes first..bytes-1; the vector members finish
// their rows with it.
void BlurColumnsFrom(const uint8_t* const* rows, const int16_t* weights, int32_t taps, uint8_t* out,
                     int32_t first, int32_t bytes)
{
    for (int32_t i = first; i < bytes; ++i) {
        int32_t acc = kWeightOne / 2;
        for (int32_t k = 0; k < taps; ++k) acc += weights[k] * rows[k][i];
        out[i] = static_cast<uint8_t>(acc >> kWeightBits);
    }
}

#ifdef QM_BLUR_X86
// blur_sse2.cpp and blur_avx2.cpp.
void BlurColumnsSse2(const uint8_t* const* rows, const int16_t* weights, int32_t taps, uint8_t* out, int32_t bytes);
void BlurColumnsAvx2(const uint8_t* const* rows, const int16_t* weights, int32_t taps, uint8_t* out, int32_t bytes);
#endif

namespace {

void BlurColumnsScalar(const uint8_t* const* rows, const int16_t* weights, int32_t taps,
                       uint8_t* out, int32_t bytes)
{
    BlurColumnsFrom(rows, weights, taps, out, 0, bytes);
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

// The vertical pass in strips of columns: each strip is copied out (so the
// sums read the unblurred rows while the result goes back in place), and
// the 2r + 1 strip rows one output row reads stay in the first-level cache
// however wide the picture is. Full-width rows of a wide picture would not:
// 61 taps of an 8000-pixel row are 2 MB.
size_t StripBytes(int32_t taps, size_t rowBytes)
{
    size_t strip = (kStripCacheBytes / static_cast<size_t>(taps)) & ~size_t{31};
    strip = strip < 64 ? 64 : strip;
    return strip < rowBytes ? strip : rowBytes;
}

// `copy` holds StripBytes() x rows bytes, `rowPtrs` 2r + 1 pointers.
void VerticalPass(uint8_t* base, size_t stride, size_t rowBytes, int32_t rows, const int16_t* weights,
                  int32_t radius, BlurColumnsFunc columns, uint8_t* copy, const uint8_t** rowPtrs)
{
    int32_t taps = 2 * radius + 1;
    size_t strip = StripBytes(taps, rowBytes);
    for (size_t x0 = 0; x0 < rowBytes; x0 += strip) {
        size_t n = rowBytes - x0 < strip ? rowBytes - x0 : strip;
        for (int32_t y = 0; y < rows; ++y)
            std::memcpy(copy + n * static_cast<size_t>(y), base + stride * static_cast<size_t>(y) + x0, n);
        for (int32_t y = 0; y < rows; ++y) {
            for (int32_t k = 0; k < taps; ++k) {
                int32_t sy = y - radius + k;
                sy = sy < 0 ? 0 : sy >= rows ? rows - 1 : sy;
                rowPtrs[k] = copy + n * static_cast<size_t>(sy);
            }
            columns(rowPtrs, weights, taps, base + stride * static_cast<size_t>(y) + x0,
                    static_cast<int32_t>(n));
        }
    }
}

// The horizontal pass is the same sum: tap k of output element x is element
// x - r + k of the row, so with the row copied between r repeats of its
// first and last elements, "row" k starts k elements into that copy.
// `padded` holds (w + 2r) elements.
void HorizontalPass(uint8_t* base, size_t stride, int32_t w, int32_t h, uint32_t elementBytes,
                    const int16_t* weights, int32_t radius, BlurColumnsFunc columns, uint8_t* padded,
                    const uint8_t** rowPtrs)
{
    int32_t taps = 2 * radius + 1;
    size_t rowBytes = static_cast<size_t>(w) * elementBytes;
    size_t edge = static_cast<size_t>(radius) * elementBytes;
    for (int32_t k = 0; k < taps; ++k) rowPtrs[k] = padded + static_cast<size_t>(k) * elementBytes;
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* row = base + stride * static_cast<size_t>(y);
        std::memcpy(padded + edge, row, rowBytes);
        for (size_t i = 0; i < edge; i += elementBytes) {
            std::memcpy(padded + i, row, elementBytes);
            std::memcpy(padded + edge + rowBytes + i, row + rowBytes - elementBytes, elementBytes);
        }
        columns(rowPtrs, weights, taps, row, static_cast<int32_t>(rowBytes));
    }
}

}  // namespace

BlurColumnsFunc GetBlurColumns(uint32_t path)
{
#ifdef QM_BLUR_X86
    if (path == BLURPATH_AVX2 && __builtin_cpu_supports("avx2")) return BlurColumnsAvx2;
    if (path != BLURPATH_SCALAR) return BlurColumnsSse2;
#else
    (void)path;
#endif
    return BlurColumnsScalar;
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
    WorkBuffer<const uint8_t*> rowPtrs(static_cast<size_t>(taps));
    WorkBuffer<uint8_t> strip(StripBytes(taps, rowBytes) * static_cast<size_t>(h));
    WorkBuffer<uint8_t> padded(rowBytes + 2 * static_cast<size_t>(r) * elementBytes);
    if (!rowPtrs || !strip || !padded) return false;
    BlurColumnsFunc columns = GetBlurColumns(g_blurPath);
    VerticalPass(rows, stride, rowBytes, h, weights.get(), r, columns, strip.get(), rowPtrs.get());
    HorizontalPass(rows, stride, w, h, elementBytes, weights.get(), r, columns, padded.get(), rowPtrs.get());
    return true;
}
