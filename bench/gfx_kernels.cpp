// Throughput of the pixel kernels: row conversions between each format and
// ARGB, alpha blends, copies and fills, in pixels per second.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/pixel_bench.h"
#include "gfx/bitmaps/pixel_formats.h"
#include "gfx/blits/soft_blit.h"

namespace {

constexpr int32_t kW = 640, kH = 480;

std::vector<uint32_t> Noise(size_t n, uint32_t seed)
{
    std::vector<uint32_t> v(n);
    for (auto& x : v) {
        seed = seed * 1664525u + 1013904223u;
        x = seed;
    }
    return v;
}

void BM_ToArgb(benchmark::State& state)
{
    uint32_t format = static_cast<uint32_t>(state.range(0));
    const PixelRowKernels* k = GetPixelRowKernels(format);
    std::vector<uint32_t> argb = Noise(kW * kH, 1);
    std::vector<uint8_t> pixels(static_cast<size_t>(kW) * kH * PixelFormatBytes(format));
    k->fromArgb(argb.data(), pixels.data(), kW * kH, 1);
    for (auto _ : state) {
        k->toArgb(pixels.data(), argb.data(), kW * kH, 1);
        benchmark::DoNotOptimize(argb.data());
    }
    ReportMegapixels(state, kW * kH);
}
BENCHMARK(BM_ToArgb)->DenseRange(0, 13);

void BM_FromArgb(benchmark::State& state)
{
    uint32_t format = static_cast<uint32_t>(state.range(0));
    const PixelRowKernels* k = GetPixelRowKernels(format);
    std::vector<uint32_t> argb = Noise(kW * kH, 2);
    std::vector<uint8_t> pixels(static_cast<size_t>(kW) * kH * PixelFormatBytes(format));
    for (auto _ : state) {
        k->fromArgb(argb.data(), pixels.data(), kW * kH, 1);
        benchmark::DoNotOptimize(pixels.data());
    }
    ReportMegapixels(state, kW * kH);
}
BENCHMARK(BM_FromArgb)->DenseRange(0, 13);

// Alpha blit with a random alpha plane (a quarter opaque, a quarter clear).
void BM_AlphaBlend(benchmark::State& state)
{
    uint32_t format = static_cast<uint32_t>(state.range(0));
    uint32_t bpp = PixelFormatBytes(format);
    std::vector<uint32_t> src = Noise(kW * kH, 3), dst = Noise(kW * kH, 4);
    std::vector<uint32_t> noise = Noise(kW * kH, 5);
    std::vector<uint8_t> alpha(kW * kH);
    for (size_t i = 0; i < alpha.size(); ++i) {
        uint32_t r = noise[i] >> 24;
        alpha[i] = static_cast<uint8_t>(r < 64 ? 0 : r < 128 ? 255 : r);
    }
    for (auto _ : state) {
        SoftBltRectEx(src.data(), 0, 0, dst.data(), 0, 0, kW, kH, kW, kW, alpha.data(), kW,
                      nullptr, 0, format, bpp, BLEND_ALPHA);
        benchmark::DoNotOptimize(dst.data());
    }
    ReportMegapixels(state, kW * kH);
}
BENCHMARK(BM_AlphaBlend)->Arg(10)->Arg(11)->Arg(4)->Arg(5);

void BM_Copy32(benchmark::State& state)
{
    std::vector<uint32_t> src = Noise(kW * kH, 6), dst(kW * kH);
    for (auto _ : state) {
        SoftBltRect(src.data(), 0, 0, dst.data(), 0, 0, kW, kH, kW, kW, 4);
        benchmark::DoNotOptimize(dst.data());
    }
    ReportMegapixels(state, kW * kH);
}
BENCHMARK(BM_Copy32);

void BM_Fill(benchmark::State& state)
{
    uint32_t opacity = static_cast<uint32_t>(state.range(0));
    std::vector<uint32_t> dst = Noise(kW * kH, 7);
    for (auto _ : state) {
        SoftRectFill(dst.data(), 0, 0, kW, kH, 0xFF336699, opacity, kW, 10);
        benchmark::DoNotOptimize(dst.data());
    }
    ReportMegapixels(state, kW * kH);
}
BENCHMARK(BM_Fill)->Arg(255)->Arg(128);

}  // namespace
