// The scalar reference of the PNG row filters and the choice of the path.
#include "media/png_filters.h"

#include <cstring>

namespace {

void FilterRowScalar(const uint8_t* row, const uint8_t* above, size_t n, size_t bpp, uint8_t* out, uint8_t* scratch)
{
    uint32_t sums[5] = {};
    PngFilterBytes(row, above, 0, n, bpp, scratch, sums);
    PngPickFilter(row, n, scratch, sums, out);
}

void RgbRowScalar(const uint8_t* rgb, uint32_t* argb, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        argb[i] = PngRgbPixel(rgb + 3 * i);
}

uint32_t ChoosePath()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? PNGFILTER_AVX2 : PNGFILTER_SSE2;
}

// Chosen before main runs, so encoders and decoders on any thread only
// read them.
const PngFilterRowFn g_chosen = GetPngFilterRow(ChoosePath());
const PngRgbRowFn g_chosenRgb = GetPngRgbRow(ChoosePath());

}  // namespace

void PngFilterRowSse2(const uint8_t* row, const uint8_t* above, size_t n, size_t bpp, uint8_t* out,
                      uint8_t* scratch);
void PngFilterRowAvx2(const uint8_t* row, const uint8_t* above, size_t n, size_t bpp, uint8_t* out,
                      uint8_t* scratch);
void PngRgbRowAvx2(const uint8_t* rgb, uint32_t* argb, size_t count);

void PngPickFilter(const uint8_t* row, size_t n, const uint8_t* scratch, const uint32_t sums[5], uint8_t* out)
{
    uint32_t best = 0;
    for (uint32_t k = 1; k < 5; ++k)
        if (sums[k] < sums[best])
            best = k;
    out[0] = static_cast<uint8_t>(best);
    std::memcpy(out + 1, best ? scratch + (best - 1) * n : row, n);
}

PngFilterRowFn GetPngFilterRow(uint32_t path)
{
    switch (path) {
    case PNGFILTER_SCALAR:
        return FilterRowScalar;
    case PNGFILTER_SSE2:
        return PngFilterRowSse2;
    case PNGFILTER_AVX2:
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") ? PngFilterRowAvx2 : nullptr;
    default:
        return nullptr;
    }
}

PngFilterRowFn ChosenPngFilterRow()
{
    return g_chosen;
}

PngRgbRowFn GetPngRgbRow(uint32_t path)
{
    switch (path) {
    case PNGFILTER_SCALAR:
    case PNGFILTER_SSE2:
        return RgbRowScalar;
    case PNGFILTER_AVX2:
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") ? PngRgbRowAvx2 : nullptr;
    default:
        return nullptr;
    }
}

PngRgbRowFn ChosenPngRgbRow()
{
    return g_chosenRgb;
}
