// Full-display (1920 x 1080, 32-bit) gradients against pixman's gradients
// of the same geometry in one run: linear at 30 degrees (an axis that is
// neither horizontal nor vertical) and at 90 degrees, radial from the
// centre to the farthest corner, and conical about the centre, all with two
// colours. pixman renders with SRC into an x8r8g8b8 image. Figures are
// megapixels per second.
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cmath>
#include <vector>

#include "bench/pixel_bench.h"
#include "gfx/bitmaps/pixel_formats.h"
#include "gfx/effects/gradients.h"

namespace {

constexpr int32_t kW = 1920, kH = 1080;
constexpr uint32_t kFrom = 0x2040C0, kTo = 0xF0A010;

GradientSpec Spec(uint32_t type, int32_t angle)
{
    GradientSpec s{};
    s.type = type;
    s.color1 = kFrom;
    s.color2 = kTo;
    s.angle = angle;
    s.centerX = s.centerY = 0.5;
    s.conicalPosition = 0.5;
    return s;
}

void Ours(benchmark::State& state, uint32_t type, int32_t angle)
{
    std::vector<uint32_t> pixels(static_cast<size_t>(kW) * kH);
    GradientSpec spec = Spec(type, angle);
    GradientParams p{reinterpret_cast<uint8_t*>(pixels.data()), 4, PIXFMT_ARGB, 0, 0, kW, kH, kW, &spec, kW, kH};
    for (auto _ : state) {
        RenderGradient(p);
        benchmark::DoNotOptimize(pixels.data());
    }
    ReportMegapixels(state, int64_t{kW} * kH);
}

pixman_color_t Colour(uint32_t rgb)
{
    auto c = [](uint32_t v) { return static_cast<uint16_t>((v & 255) * 257); };
    return pixman_color_t{c(rgb >> 16), c(rgb >> 8), c(rgb), 0xFFFF};
}

void Pixman(benchmark::State& state, pixman_image_t* gradient)
{
    std::vector<uint32_t> pixels(static_cast<size_t>(kW) * kH);
    pixman_image_t* dst = pixman_image_create_bits(PIXMAN_x8r8g8b8, kW, kH, pixels.data(), kW * 4);
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_SRC, gradient, nullptr, dst, 0, 0, 0, 0, 0, 0, kW, kH);
        benchmark::DoNotOptimize(pixels.data());
    }
    pixman_image_unref(dst);
    pixman_image_unref(gradient);
    ReportMegapixels(state, int64_t{kW} * kH);
}

pixman_point_fixed_t Point(double x, double y)
{
    return pixman_point_fixed_t{pixman_double_to_fixed(x), pixman_double_to_fixed(y)};
}

void BM_LinearGradient30(benchmark::State& state) { Ours(state, GRADIENT_LINEAR, 30); }
void BM_LinearGradient90(benchmark::State& state) { Ours(state, GRADIENT_LINEAR, 90); }
void BM_RadialGradient(benchmark::State& state) { Ours(state, GRADIENT_RADIAL, 0); }
void BM_ConicalGradient(benchmark::State& state) { Ours(state, GRADIENT_CONICAL, 0); }

// The same axis our linear gradient takes: from (0, 0) along (sin a, cos a)
// to the projection of the far corner.
pixman_image_t* PixmanLinear(double degrees)
{
    pixman_gradient_stop_t stops[2] = {{0, Colour(kFrom)}, {pixman_int_to_fixed(1), Colour(kTo)}};
    double a = degrees * M_PI / 180, s = std::sin(a), c = std::cos(a);
    double k = kW * s + kH * c;
    pixman_point_fixed_t p1 = Point(0, 0), p2 = Point(k * s, k * c);
    pixman_image_t* image = pixman_image_create_linear_gradient(&p1, &p2, stops, 2);
    pixman_image_set_repeat(image, PIXMAN_REPEAT_PAD);
    return image;
}

void BM_PixmanLinearGradient30(benchmark::State& state) { Pixman(state, PixmanLinear(30)); }
void BM_PixmanLinearGradient90(benchmark::State& state) { Pixman(state, PixmanLinear(90)); }

void BM_PixmanRadialGradient(benchmark::State& state)
{
    pixman_gradient_stop_t stops[2] = {{0, Colour(kFrom)}, {pixman_int_to_fixed(1), Colour(kTo)}};
    pixman_point_fixed_t centre = Point(kW / 2.0, kH / 2.0);
    double radius = std::sqrt(double(kW) * kW + double(kH) * kH) / 2;
    pixman_image_t* image =
        pixman_image_create_radial_gradient(&centre, &centre, 0, pixman_double_to_fixed(radius), stops, 2);
    pixman_image_set_repeat(image, PIXMAN_REPEAT_PAD);
    Pixman(state, image);
}

void BM_PixmanConicalGradient(benchmark::State& state)
{
    pixman_gradient_stop_t stops[3] = {{0, Colour(kTo)},
                                       {pixman_double_to_fixed(0.5), Colour(kFrom)},
                                       {pixman_int_to_fixed(1), Colour(kTo)}};
    pixman_point_fixed_t centre = Point(kW / 2.0, kH / 2.0);
    Pixman(state, pixman_image_create_conical_gradient(&centre, 0, stops, 3));
}

BENCHMARK(BM_LinearGradient30)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PixmanLinearGradient30)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LinearGradient90)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PixmanLinearGradient90)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RadialGradient)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PixmanRadialGradient)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConicalGradient)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PixmanConicalGradient)->Unit(benchmark::kMillisecond);

}  // namespace
