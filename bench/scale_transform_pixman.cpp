// Scaling and rotation against pixman doing the same transform in the same
// run: 1920 x 1080 to 3840 x 2160 nearest and bilinear, and a 30-degree
// rotation of a 2000 x 2000 picture, in output megapixels per second.
// Both sides write into pictures made once, outside the timed loop.
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cmath>
#include <vector>

#include "bench/pixel_bench.h"
#include "bench/pixman_peer.h"
#include "draw/transform.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/effects/scale.h"
#include "gfx/effects/transform_bitmap.h"

namespace {

constexpr int32_t kSrcW = 1920, kSrcH = 1080, kDstW = 3840, kDstH = 2160;
constexpr int32_t kRotSide = 2000;
constexpr double kDegrees = 30.0;

std::vector<uint32_t> Noise(size_t n)
{
    std::vector<uint32_t> v(n);
    uint32_t s = 12345;
    for (auto& x : v) {
        s = s * 1664525u + 1013904223u;
        x = s | 0xFF000000u;
    }
    return v;
}

void BM_Scale(benchmark::State& state)
{
    int smooth = static_cast<int>(state.range(0));
    BitMapHandle* src = BitMapFromArgb(Noise(size_t(kSrcW) * kSrcH).data(), kSrcW, kSrcH);
    BitMapHandle* dst = AllocColorBitMap(kDstW, kDstH, 0, nullptr);
    for (auto _ : state) {
        ScaleBitMap(src, nullptr, nullptr, 0, 0, dst, kSrcW, kSrcH, kDstW, kDstH, smooth, nullptr, nullptr,
                    nullptr, nullptr);
        benchmark::ClobberMemory();
    }
    ReportMegapixels(state, int64_t{kDstW} * kDstH);
    FreeColorBitMap(dst);
    FreeColorBitMap(src);
}
BENCHMARK(BM_Scale)->Arg(0)->Arg(1)->ArgName("smooth")->Unit(benchmark::kMillisecond);

// The kernel behind TransformBitMap, into a bitmap and mask made once.
void BM_Rotate(benchmark::State& state)
{
    int smooth = static_cast<int>(state.range(0));
    BitMapHandle* src = BitMapFromArgb(Noise(size_t(kRotSide) * kRotSide).data(), kRotSide, kRotSide);
    Matrix2 m2 = MakeRotateScaleMatrix(kDegrees, 1, 1);
    double m4[4] = {m2.m0, m2.m1, m2.m2, m2.m3};
    int32_t w = 0, h = 0;
    double minX = 0, minY = 0;
    TransformedBounds(m4, kRotSide, kRotSide, &w, &h, &minX, &minY);
    double m[6] = {m2.m0, m2.m1, m2.m2, m2.m3, -minX, -minY};
    BitMapHandle* dst = AllocColorBitMap(w, h, 0, nullptr);
    BitMapHandle* mask = AllocMaskBitMap(dst, w, h, 1, nullptr, 0);
    BitMapLock s{}, d{};
    LockBitMapPixels(src, LOCKBITMAP_READ, &s);
    LockBitMapPixels(dst, 0, &d);
    TransformParams p{};
    p.srcPixels = s.pixels;
    p.dstPixels = d.pixels;
    p.dstMask = reinterpret_cast<uint8_t*>(QueryBitMapAttr(mask, BMATTR_MASK_PIXELS));
    p.dstMaskBytesPerRow = static_cast<int32_t>(QueryBitMapAttr(mask, BMATTR_MASK_BYTESPERROW));
    p.srcW = p.srcH = kRotSide;
    p.srcRowLength = s.rowLength;
    p.dstW = w, p.dstH = h, p.dstRowLength = d.rowLength;
    p.matrix = m;
    p.smooth = smooth;
    p.format = s.format, p.bytesPerPixel = s.bytesPerPixel;
    for (auto _ : state) {
        TransformPixels(&p);
        benchmark::ClobberMemory();
    }
    ReportMegapixels(state, int64_t{w} * h);
    UnlockBitMapPixels(&d);
    UnlockBitMapPixels(&s);
    FreePlaneBitMap(mask);
    FreeColorBitMap(dst);
    FreeColorBitMap(src);
}
BENCHMARK(BM_Rotate)->Arg(0)->Arg(1)->ArgName("smooth")->Unit(benchmark::kMillisecond);

pixman_image_t* PixmanOf(std::vector<uint32_t>& argb, int32_t w, int32_t h)
{
    return pixman_image_create_bits(PIXMAN_a8r8g8b8, w, h, argb.data(), w * 4);
}

// The filter of range(0): 0 nearest, 1 bilinear.
pixman_filter_t FilterOf(benchmark::State& state)
{
    return state.range(0) ? PIXMAN_FILTER_BILINEAR : PIXMAN_FILTER_NEAREST;
}

void BM_PixmanScale(benchmark::State& state)
{
    std::vector<uint32_t> in = Noise(size_t(kSrcW) * kSrcH), out(size_t(kDstW) * kDstH);
    pixman_image_t* src = PixmanOf(in, kSrcW, kSrcH);
    pixman_image_t* dst = PixmanOf(out, kDstW, kDstH);
    pixman_transform_t t;
    pixman_transform_init_scale(&t, pixman_double_to_fixed(double(kSrcW) / kDstW),
                                pixman_double_to_fixed(double(kSrcH) / kDstH));
    RunPixmanTransform(state, src, t, FilterOf(state), dst, kDstW, kDstH);
}
BENCHMARK(BM_PixmanScale)->Arg(0)->Arg(1)->ArgName("smooth")->Unit(benchmark::kMillisecond);

void BM_PixmanRotate(benchmark::State& state)
{
    Matrix2 m2 = MakeRotateScaleMatrix(kDegrees, 1, 1);
    double m4[4] = {m2.m0, m2.m1, m2.m2, m2.m3};
    int32_t w = 0, h = 0;
    double minX = 0, minY = 0;
    TransformedBounds(m4, kRotSide, kRotSide, &w, &h, &minX, &minY);
    std::vector<uint32_t> in = Noise(size_t(kRotSide) * kRotSide), out(size_t(w) * h);
    pixman_image_t* src = PixmanOf(in, kRotSide, kRotSide);
    pixman_image_t* dst = PixmanOf(out, w, h);
    // pixman maps destination to source: the inverse of the rotation after
    // the shift by the bounding box's corner.
    double det = m2.m0 * m2.m3 - m2.m2 * m2.m1;
    double a = m2.m3 / det, b = -m2.m1 / det, c = -m2.m2 / det, d = m2.m0 / det;
    pixman_f_transform_t f;
    pixman_f_transform_init_identity(&f);
    f.m[0][0] = a, f.m[0][1] = c, f.m[0][2] = a * minX + c * minY;
    f.m[1][0] = b, f.m[1][1] = d, f.m[1][2] = b * minX + d * minY;
    pixman_transform_t t;
    pixman_transform_from_pixman_f_transform(&t, &f);
    RunPixmanTransform(state, src, t, FilterOf(state), dst, w, h);
}
BENCHMARK(BM_PixmanRotate)->Arg(0)->Arg(1)->ArgName("smooth")->Unit(benchmark::kMillisecond);

}  // namespace
