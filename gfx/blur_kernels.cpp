// The separable Gaussian blur behind ConvolvePixels. Both passes run as a
// vertical pass, the only direction in which every byte of a row is an
// independent sum and so vectorises without shuffles: vertical pass,
// transpose, vertical pass, transpose back. A pass costs one multiply-add
// per tap and byte (O(r) per pixel); weights are 2.14 fixed point adding up
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

// Transposes a packed w x h array of T into an h x w array, in tiles that stay in the cache.
template <typename T>
void Transpose(const T* src, int32_t w, int32_t h, T* dst)
{
    constexpr int32_t kTile = 16;
    for (int32_t y0 = 0; y0 < h; y0 += kTile)
        for (int32_t x0 = 0; x0 < w; x0 += kTile) {
            int32_t y1 = y0 + kTile < h ? y0 + kTile : h, x1 = x0 + kTile < w ? x0 + kTile : w;
            for (int32_t y = y0; y < y1; ++y)
                for (int32_t x = x0; x < x1; ++x)
                    dst[static_cast<size_t>(x) * h + y] = src[static_cast<size_t>(y) * w + x];
        }
}

// One vertical pass over rows of `rowBytes` bytes.
bool VerticalPass(const uint8_t* src, uint8_t* dst, size_t rowBytes, int32_t rows,
                  const int16_t* weights, int32_t radius, BlurColumnsFunc columns)
{
    int32_t taps = 2 * radius + 1;
    WorkBuffer<const uint8_t*> rowPtrs(static_cast<size_t>(taps));
    if (!rowPtrs) return false;
    for (int32_t y = 0; y < rows; ++y) {
        for (int32_t k = 0; k < taps; ++k) {
            int32_t sy = y - radius + k;
            sy = sy < 0 ? 0 : sy >= rows ? rows - 1 : sy;
            rowPtrs[k] = src + rowBytes * static_cast<size_t>(sy);
        }
        columns(rowPtrs.get(), weights, taps, dst + rowBytes * static_cast<size_t>(y),
                static_cast<int32_t>(rowBytes));
    }
    return true;
}

template <typename T>
bool BlurElements(T* data, int32_t w, int32_t h, const int16_t* weights, int32_t radius)
{
    size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
    WorkBuffer<T> work(n);
    if (!work) return false;
    BlurColumnsFunc columns = GetBlurColumns(g_blurPath);
    auto* bytes = reinterpret_cast<uint8_t*>(data);
    auto* workBytes = reinterpret_cast<uint8_t*>(work.get());
    if (!VerticalPass(bytes, workBytes, sizeof(T) * static_cast<size_t>(w), h, weights, radius, columns))
        return false;
    Transpose(work.get(), w, h, data);
    if (!VerticalPass(bytes, workBytes, sizeof(T) * static_cast<size_t>(h), w, weights, radius, columns))
        return false;
    Transpose(work.get(), h, w, data);
    return true;
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

bool GaussianBlurArgb(uint32_t* argb, int32_t w, int32_t h, double radius, double sigma)
{
    WorkBuffer<int16_t> weights;
    int32_t r = GaussianWeights(radius, sigma, &weights);
    if (r <= 0) return r == 0;
    return BlurElements(argb, w, h, weights.get(), r);
}

bool GaussianBlurBytes(uint8_t* plane, int32_t w, int32_t h, double radius, double sigma)
{
    WorkBuffer<int16_t> weights;
    int32_t r = GaussianWeights(radius, sigma, &weights);
    if (r <= 0) return r == 0;
    return BlurElements(plane, w, h, weights.get(), r);
}
