// The scalar reference of the blend kernels, one pixel at a time, and the
// choice of the path. The vector paths are checked against these loops.
#include "gfx/blits/blend_kernels.h"

#include <type_traits>

namespace {

template <uint32_t F>
using PixelOf = std::conditional_t<(F >= 10), uint32_t, uint16_t>;

template <uint32_t F>
void BlendRow(void* dst, const void* src, const uint8_t* alpha, int32_t n)
{
    using T = PixelOf<F>;
    T* d = static_cast<T*>(dst);
    const T* s = static_cast<const T*>(src);
    for (int32_t i = 0; i < n; ++i) {
        uint32_t a = alpha[i];
        if (a == 255) d[i] = s[i];
        else if (a != 0) d[i] = static_cast<T>(BlendPixel<F>(d[i], s[i], a));
    }
}

template <uint32_t F>
void CopyWhereRow(void* dst, const void* src, const uint8_t* alpha, int32_t n)
{
    using T = PixelOf<F>;
    T* d = static_cast<T*>(dst);
    const T* s = static_cast<const T*>(src);
    for (int32_t i = 0; i < n; ++i)
        if (alpha[i]) d[i] = s[i];
}

// The colours mix in proportion to the two alphas and the destination plane
// takes the combined coverage sa + da * (255 - sa) / 255.
template <uint32_t F>
void CompositeRow(void* dst, const void* src, const uint8_t* alpha, uint8_t* dstAlpha, int32_t n)
{
    using T = PixelOf<F>;
    T* d = static_cast<T*>(dst);
    const T* s = static_cast<const T*>(src);
    for (int32_t i = 0; i < n; ++i) {
        uint32_t a = alpha[i];
        if (a == 0) continue;
        if (a == 255) {
            d[i] = s[i];
            dstAlpha[i] = 255;
            continue;
        }
        uint32_t under = dstAlpha[i] * (255 - a) / 255;
        uint32_t out = a + under;
        // The share of the source in the result, out of 256: the plain
        // blend over an opaque destination, the whole source over a
        // transparent one.
        uint32_t share = a * 256 / out;
        d[i] = static_cast<T>(BlendPixel<F>(d[i], s[i], share));
        dstAlpha[i] = static_cast<uint8_t>(out);
    }
}

template <uint32_t F>
void CoverRow(void* dst, uint32_t value, const uint8_t* alpha, int32_t n)
{
    using T = PixelOf<F>;
    T* d = static_cast<T*>(dst);
    for (int32_t i = 0; i < n; ++i) {
        uint32_t a = alpha[i];
        if (a == 255) d[i] = static_cast<T>(value);
        else if (a != 0) d[i] = static_cast<T>(BlendPixel<F>(d[i], value, a));
    }
}

// The tint works on the native layout like every kernel of the brush
// operations: convert, blend toward the colour, convert back.
template <uint32_t F>
void TintRow(void* dst, uint32_t colour, uint32_t level, int32_t n)
{
    using T = PixelOf<F>;
    T* d = static_cast<T*>(dst);
    for (int32_t i = 0; i < n; ++i) {
        if constexpr (F >= 10) {
            uint32_t c = F == 10 ? d[i] : PixelFromFormat32(F, d[i]);
            uint32_t v = BlendArgb(c, colour, level);
            d[i] = F == 10 ? v : PixelToFormat32(F, v);
        } else {
            uint32_t v = Tint565(F == 4 ? d[i] : PixelFromFormat16(F, d[i]), colour, level);
            d[i] = static_cast<T>(F == 4 ? v : PixelToFormat16(F, v));
        }
    }
}

template <uint32_t F>
void FillRow(void* dst, uint32_t value, int32_t n)
{
    using T = PixelOf<F>;
    T* d = static_cast<T*>(dst);
    for (int32_t i = 0; i < n; ++i) d[i] = static_cast<T>(value);
}

template <uint32_t F>
constexpr BlendRowKernels kRows = {BlendRow<F>, CopyWhereRow<F>, CompositeRow<F>, CoverRow<F>,
                                   TintRow<F>, FillRow<F>};

uint32_t ChooseBlendPath()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? BLENDPATH_AVX2 : BLENDPATH_SSE2;
}

// Chosen before main runs, so the script thread only ever reads it.
uint32_t g_blendPath = ChooseBlendPath();

}  // namespace

const BlendRowKernels* const kScalarBlendKernels[PIXFMT_COUNT] = {
    &kRows<0>, &kRows<1>, &kRows<2>,  &kRows<3>,  &kRows<4>,  &kRows<5>,  &kRows<6>,
    &kRows<7>, nullptr,   nullptr,    &kRows<10>, &kRows<11>, &kRows<12>, &kRows<13>,
};

namespace {

uint32_t KeepPixel(uint32_t d, uint32_t, uint32_t) { return d; }

uint32_t (*const kBlendPixel[PIXFMT_COUNT])(uint32_t, uint32_t, uint32_t) = {
    BlendPixel<0>, BlendPixel<1>, BlendPixel<2>,  BlendPixel<3>,  BlendPixel<4>,
    BlendPixel<5>, BlendPixel<6>, BlendPixel<7>,  KeepPixel,      KeepPixel,
    BlendPixel<10>, BlendPixel<11>, BlendPixel<12>, BlendPixel<13>,
};

}  // namespace

uint32_t BlendFormatPixel(uint32_t format, uint32_t d, uint32_t s, uint32_t a)
{
    return format < PIXFMT_COUNT ? kBlendPixel[format](d, s, a) : d;
}

const BlendRowKernels* GetBlendRowKernels(uint32_t format)
{
    if (format >= PIXFMT_COUNT) return nullptr;
    const BlendRowKernels* const* table = g_blendPath == BLENDPATH_AVX2   ? kAvx2BlendKernels
                                          : g_blendPath == BLENDPATH_SSE2 ? kSse2BlendKernels
                                                                          : kScalarBlendKernels;
    return table[format];
}

uint32_t GetBlendPath() { return g_blendPath; }

uint32_t SetBlendPath(uint32_t path)
{
    if (path > BLENDPATH_AVX2) return 1;
    if (path == BLENDPATH_AVX2 && ChooseBlendPath() != BLENDPATH_AVX2) return 1;
    g_blendPath = path;
    return 0;
}
