// The blend kernels side by side with pixman in one run, in megapixels per
// second on 1920 x 1080 and 4096 x 4096 pictures: the alpha blit (mode 0)
// against OVER through an a8 mask, the composite over a destination alpha
// plane (mode 2) against OVER of a premultiplied source onto a8r8g8b8, the
// tint fill against OVER of a translucent solid colour, and plain copies
// and fills against memcpy and pixman_fill. Each of ours runs on the path
// named by its argument (0 scalar, 1 SSE2, 2 AVX2 when present).
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cstring>
#include <vector>

#include "bench/pixel_bench.h"
#include "gfx/blits/blend_kernels.h"
#include "gfx/blits/soft_blit.h"

namespace {

struct Frame {
    int32_t w, h;
    std::vector<uint32_t> src, dst, premultiplied;
    std::vector<uint8_t> alpha, dstAlpha;
};

uint32_t Next(uint32_t& s)
{
    s = s * 1664525u + 1013904223u;
    return s ^ (s >> 15);
}

// A quarter of the alpha clear, a quarter opaque, the rest in between, in
// runs of a few pixels as anti-aliased edges and sprites give them.
Frame MakeFrame(int32_t w, int32_t h)
{
    Frame f{w, h, {}, {}, {}, {}, {}};
    size_t n = static_cast<size_t>(w) * h;
    f.src.resize(n);
    f.dst.resize(n);
    f.premultiplied.resize(n);
    f.alpha.resize(n);
    f.dstAlpha.resize(n);
    uint32_t seed = 1;
    uint8_t a = 0;
    for (size_t i = 0; i < n; ++i) {
        if (i % 8 == 0) {
            uint32_t r = Next(seed) >> 24;
            a = static_cast<uint8_t>(r < 64 ? 0 : r < 128 ? 255 : r);
        }
        f.alpha[i] = a;
        f.dstAlpha[i] = static_cast<uint8_t>(Next(seed) >> 24);
        f.src[i] = (uint32_t{a} << 24) | (Next(seed) & 0xFFFFFF);
        f.dst[i] = Next(seed);
        uint32_t p = 0;
        for (int c = 0; c < 24; c += 8) p |= (((f.src[i] >> c) & 0xFF) * a / 255) << c;
        f.premultiplied[i] = p | (uint32_t{a} << 24);
    }
    return f;
}

Frame& FrameOf(int64_t size)
{
    static Frame hd = MakeFrame(1920, 1080);
    static Frame big = MakeFrame(4096, 4096);
    return size == 0 ? hd : big;
}

// Runs our kernel on the path of range(1), putting the old path back.
template <typename Body>
void OnPath(benchmark::State& state, Body body)
{
    uint32_t old = GetBlendPath();
    if (SetBlendPath(static_cast<uint32_t>(state.range(1))) != 0) {
        state.SkipWithError("path not available");
        return;
    }
    Frame& f = FrameOf(state.range(0));
    for (auto _ : state) {
        body(f);
        benchmark::ClobberMemory();
    }
    ReportMegapixels(state, int64_t{f.w} * f.h);
    SetBlendPath(old);
}

pixman_image_t* Wrap(pixman_format_code_t format, int32_t w, int32_t h, void* bits, int stride)
{
    return pixman_image_create_bits(format, w, h, static_cast<uint32_t*>(bits), stride);
}

void BM_Mode0(benchmark::State& state)
{
    OnPath(state, [](Frame& f) {
        SoftBltRectEx(f.src.data(), 0, 0, f.dst.data(), 0, 0, f.w, f.h, f.w, f.w, f.alpha.data(),
                      f.w, nullptr, 0, PIXFMT_ARGB, 4, BLEND_ALPHA);
    });
}

void BM_Mode2(benchmark::State& state)
{
    OnPath(state, [](Frame& f) {
        SoftBltRectEx(f.src.data(), 0, 0, f.dst.data(), 0, 0, f.w, f.h, f.w, f.w, f.alpha.data(),
                      f.w, f.dstAlpha.data(), f.w, PIXFMT_ARGB, 4, BLEND_COMPOSITE);
    });
}

void BM_Tint(benchmark::State& state)
{
    OnPath(state, [](Frame& f) {
        SoftRectFill(f.dst.data(), 0, 0, f.w, f.h, 0xFF3366CC, 100, f.w, PIXFMT_ARGB);
    });
}

void BM_Copy(benchmark::State& state)
{
    Frame& f = FrameOf(state.range(0));
    for (auto _ : state) {
        SoftBltRect(f.src.data(), 0, 0, f.dst.data(), 0, 0, f.w, f.h, f.w, f.w, 4);
        benchmark::ClobberMemory();
    }
    ReportMegapixels(state, int64_t{f.w} * f.h);
}

void BM_Fill(benchmark::State& state)
{
    Frame& f = FrameOf(state.range(0));
    for (auto _ : state) {
        SoftRectFill(f.dst.data(), 0, 0, f.w, f.h, 0xFF3366CC, 255, f.w, PIXFMT_ARGB);
        benchmark::ClobberMemory();
    }
    ReportMegapixels(state, int64_t{f.w} * f.h);
}

// The peers.

// OVER of src (through mask) onto dst, the images freed afterwards.
void PixmanOver(benchmark::State& state, Frame& f, pixman_image_t* src, pixman_image_t* mask,
                pixman_image_t* dst)
{
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_OVER, src, mask, dst, 0, 0, 0, 0, 0, 0, f.w, f.h);
        benchmark::ClobberMemory();
    }
    ReportMegapixels(state, int64_t{f.w} * f.h);
    for (pixman_image_t* image : {src, mask, dst})
        if (image) pixman_image_unref(image);
}

void BM_PixmanOverA8Mask(benchmark::State& state)
{
    Frame& f = FrameOf(state.range(0));
    PixmanOver(state, f, Wrap(PIXMAN_a8r8g8b8, f.w, f.h, f.src.data(), f.w * 4),
               Wrap(PIXMAN_a8, f.w, f.h, f.alpha.data(), f.w),
               Wrap(PIXMAN_x8r8g8b8, f.w, f.h, f.dst.data(), f.w * 4));
}

void BM_PixmanOverPremultiplied(benchmark::State& state)
{
    Frame& f = FrameOf(state.range(0));
    PixmanOver(state, f, Wrap(PIXMAN_a8r8g8b8, f.w, f.h, f.premultiplied.data(), f.w * 4), nullptr,
               Wrap(PIXMAN_a8r8g8b8, f.w, f.h, f.dst.data(), f.w * 4));
}

void BM_PixmanOverSolid(benchmark::State& state)
{
    Frame& f = FrameOf(state.range(0));
    // 0x3366CC at opacity 100, premultiplied.
    pixman_color_t colour = {0x3333 * 100 / 255, 0x6666 * 100 / 255, 0xCCCC * 100 / 255,
                             0xFFFF * 100 / 255};
    PixmanOver(state, f, pixman_image_create_solid_fill(&colour), nullptr,
               Wrap(PIXMAN_x8r8g8b8, f.w, f.h, f.dst.data(), f.w * 4));
}

void BM_Memcpy(benchmark::State& state)
{
    Frame& f = FrameOf(state.range(0));
    for (auto _ : state) {
        std::memcpy(f.dst.data(), f.src.data(), f.dst.size() * 4);
        benchmark::ClobberMemory();
    }
    ReportMegapixels(state, int64_t{f.w} * f.h);
}

void BM_PixmanFill(benchmark::State& state)
{
    Frame& f = FrameOf(state.range(0));
    for (auto _ : state) {
        pixman_fill(f.dst.data(), f.w, 32, 0, 0, f.w, f.h, 0xFF3366CC);
        benchmark::ClobberMemory();
    }
    ReportMegapixels(state, int64_t{f.w} * f.h);
}

// range(0): 0 for 1920 x 1080, 1 for 4096 x 4096; range(1): the path.
void OurPaths(benchmark::internal::Benchmark* b)
{
    for (int64_t size : {0, 1})
        for (int64_t path : {0, 1, 2}) b->Args({size, path});
}

void Sizes(benchmark::internal::Benchmark* b) { b->Arg(0)->Arg(1); }

BENCHMARK(BM_Mode0)->Apply(OurPaths)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PixmanOverA8Mask)->Apply(Sizes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Mode2)->Apply(OurPaths)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PixmanOverPremultiplied)->Apply(Sizes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Tint)->Apply(OurPaths)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PixmanOverSolid)->Apply(Sizes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Copy)->Apply(Sizes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy)->Apply(Sizes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fill)->Apply(Sizes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PixmanFill)->Apply(Sizes)->Unit(benchmark::kMillisecond);

}  // namespace
