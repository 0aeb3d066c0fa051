// Display blits against their peers in one run: a full-frame present of a
// 1920 x 1080 back buffer into the headless window against memcpy of the
// same bytes, the present of a half-size display scaled up to that frame
// against pixman's nearest scaling, and a text-sized coverage blit (mode 1,
// a 256 x 32 line of anti-aliased text) against pixman's OVER of a solid
// colour through an a8 mask. Figures are megapixels per second.
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cstring>
#include <vector>

#include "bench/pixel_bench.h"
#include "bench/pixman_peer.h"
#include "display/display.h"
#include "display/framebuffer.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/bitmaps/bitmap_ops.h"
#include "gfx/blits/alpha_blits.h"

namespace {

constexpr int32_t kFrameW = 1920, kFrameH = 1080;
constexpr int32_t kTextW = 256, kTextH = 32;

// Glyph-like coverage: runs of clear and opaque bytes with edges between.
std::vector<uint8_t> TextCoverage(int32_t w, int32_t h, int32_t stride)
{
    std::vector<uint8_t> c(static_cast<size_t>(stride) * h);
    uint32_t seed = 7;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            uint32_t r = seed >> 24;
            c[static_cast<size_t>(y) * stride + x] = r < 150 ? 0 : r < 200 ? 255 : static_cast<uint8_t>(r);
        }
    return c;
}

// Presents of a display filled with one colour into a 1920 x 1080 window:
// a display of that size, or a half-size one scaled up (whose presents
// come from its mirror, the second back buffer).
void PresentFrames(benchmark::State& state, bool scaled)
{
    DisplayOptions options;
    InitDisplayOptions(&options);
    options.width = scaled ? kFrameW / 2 : kFrameW;
    options.height = scaled ? kFrameH / 2 : kFrameH;
    if (scaled) {
        options.scaleWidth = kFrameW;
        options.scaleHeight = kFrameH;
    }
    Display* d = nullptr;
    CreateDisplayRecord(nullptr, MakeObjectId(1), false, options, &d);
    OpenDisplayRecord(d);
    FillBitMapRect(static_cast<BitMapHandle*>(d->backBuffers[scaled ? 1 : 0]), 0, 0, options.width,
                   options.height, 0x336699);
    for (auto _ : state) {
        RefreshDisplay(nullptr, d, 0);
        benchmark::DoNotOptimize(d->framebuffer->pixels);
    }
    ReportMegapixels(state, int64_t{kFrameW} * kFrameH);
    FreeAllDisplays(nullptr);
}

void BM_PresentFullFrame(benchmark::State& state) { PresentFrames(state, false); }
BENCHMARK(BM_PresentFullFrame)->Unit(benchmark::kMillisecond);

void BM_MemcpyFullFrame(benchmark::State& state)
{
    std::vector<uint32_t> src(static_cast<size_t>(kFrameW) * kFrameH, 0x336699), dst(src.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size() * 4);
        benchmark::DoNotOptimize(dst.data());
    }
    ReportMegapixels(state, int64_t{kFrameW} * kFrameH);
}
BENCHMARK(BM_MemcpyFullFrame)->Unit(benchmark::kMillisecond);

// Every present scales the back buffer up, against pixman's nearest scaling
// of the same pixels (both sample pixel x at x / 2).
void BM_PresentScaledFrame(benchmark::State& state) { PresentFrames(state, true); }
BENCHMARK(BM_PresentScaledFrame)->Unit(benchmark::kMillisecond);

void BM_PixmanScaleFrame(benchmark::State& state)
{
    std::vector<uint32_t> half(static_cast<size_t>(kFrameW / 2) * (kFrameH / 2), 0x336699),
        frame(static_cast<size_t>(kFrameW) * kFrameH);
    pixman_image_t* src =
        pixman_image_create_bits(PIXMAN_x8r8g8b8, kFrameW / 2, kFrameH / 2, half.data(), kFrameW / 2 * 4);
    pixman_image_t* dst = pixman_image_create_bits(PIXMAN_x8r8g8b8, kFrameW, kFrameH, frame.data(), kFrameW * 4);
    pixman_transform_t t;
    pixman_transform_init_scale(&t, pixman_double_to_fixed(0.5), pixman_double_to_fixed(0.5));
    RunPixmanTransform(state, src, t, PIXMAN_FILTER_NEAREST, dst, kFrameW, kFrameH);
}
BENCHMARK(BM_PixmanScaleFrame)->Unit(benchmark::kMillisecond);

void BM_CoverageTextBlit(benchmark::State& state)
{
    BitMapHandle* dst = AllocColorBitMap(kFrameW, kFrameH, 0, nullptr);
    FillBitMapRect(dst, 0, 0, kFrameW, kFrameH, 0x336699);
    BitMapHandle* coverage = AllocAlphaBitMap(kTextW, kTextH, 1, nullptr, 0);
    auto stride = static_cast<int32_t>(QueryBitMapAttr(coverage, BMATTR_ALPHA_BYTESPERROW));
    std::vector<uint8_t> bytes = TextCoverage(kTextW, kTextH, stride);
    std::memcpy(reinterpret_cast<uint8_t*>(QueryBitMapAttr(coverage, BMATTR_ALPHA_PIXELS)), bytes.data(),
                bytes.size());
    for (auto _ : state) {
        BltAlphaChannel(coverage, 0, 0, dst, 100, 100, kTextW, kTextH, 0xFFEE10, COVERAGE_BLEND,
                        nullptr, 255, nullptr, 0, nullptr, nullptr, 0);
        benchmark::ClobberMemory();
    }
    ReportMegapixels(state, int64_t{kTextW} * kTextH);
    FreePlaneBitMap(coverage);
    FreeColorBitMap(dst);
}
BENCHMARK(BM_CoverageTextBlit);

void BM_PixmanOverText(benchmark::State& state)
{
    std::vector<uint32_t> frame(static_cast<size_t>(kFrameW) * kFrameH, 0x336699);
    pixman_image_t* dst = pixman_image_create_bits(PIXMAN_x8r8g8b8, kFrameW, kFrameH, frame.data(),
                                                   kFrameW * 4);
    int32_t stride = (kTextW + 3) & ~3;
    std::vector<uint8_t> bytes = TextCoverage(kTextW, kTextH, stride);
    pixman_image_t* mask = pixman_image_create_bits(PIXMAN_a8, kTextW, kTextH,
                                                    reinterpret_cast<uint32_t*>(bytes.data()), stride);
    pixman_color_t colour{0xFFFF, 0xEEEE, 0x1010, 0xFFFF};
    pixman_image_t* solid = pixman_image_create_solid_fill(&colour);
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_OVER, solid, mask, dst, 0, 0, 0, 0, 100, 100, kTextW, kTextH);
        benchmark::ClobberMemory();
    }
    ReportMegapixels(state, int64_t{kTextW} * kTextH);
    pixman_image_unref(solid);
    pixman_image_unref(mask);
    pixman_image_unref(dst);
}
BENCHMARK(BM_PixmanOverText);

}  // namespace
