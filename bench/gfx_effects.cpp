// The blur and the colour quantiser of the image effects next to
// ImageMagick in the same run. ImageMagick runs as /usr/bin/convert on a
// binary PPM (one thread for the blur); its time includes reading and
// writing that file, so a plain copy through convert is timed too and the
// ratios are given against both the whole run and the run less the copy.
//   blur: 2000 x 2000, sigma 10 (ours with kernel radius 40, trimmed where
//         its 14-bit weights reach 0), against "-blur 0x10"
//   quantiser: 2000 x 2000 to 256 colours with dithering, against
//         "-colors 256" (ImageMagick dithers by default)
#include <benchmark/benchmark.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "bench/pixel_bench.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/effects/blur.h"
#include "gfx/effects/effects.h"
#include "gfx/effects/filter_kernels.h"

namespace {

constexpr int32_t kSide = 2000;

std::vector<uint32_t> Picture()
{
    std::vector<uint32_t> p(static_cast<size_t>(kSide) * kSide);
    uint32_t seed = 7;
    for (int32_t y = 0; y < kSide; ++y)
        for (int32_t x = 0; x < kSide; ++x) {
            seed = seed * 1664525u + 1013904223u;
            double ring = 0.5 + 0.5 * std::sin(std::hypot(x - 700.0, y - 1200.0) / 25.0);
            auto r = static_cast<uint32_t>(255.0 * x / kSide * ring);
            auto g = static_cast<uint32_t>(255.0 * y / kSide) ^ (seed >> 28);
            uint32_t b = (x / 64 + y / 64) % 2 ? 200 : static_cast<uint32_t>(255 * ring);
            p[static_cast<size_t>(y) * kSide + x] = (r << 16) | ((g & 0xFF) << 8) | b;
        }
    return p;
}

const std::string& PpmFile()
{
    static std::string path;
    if (!path.empty()) return path;
    char dir[] = "/tmp/qm-bench-XXXXXX";
    if (!mkdtemp(dir)) return path;
    path = std::string(dir) + "/in.ppm";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fprintf(f, "P6\n%d %d\n255\n", kSide, kSide);
    std::vector<uint8_t> row(static_cast<size_t>(kSide) * 3);
    std::vector<uint32_t> p = Picture();
    for (int32_t y = 0; y < kSide; ++y) {
        for (int32_t x = 0; x < kSide; ++x) {
            uint32_t c = p[static_cast<size_t>(y) * kSide + x];
            row[3 * x] = static_cast<uint8_t>(c >> 16);
            row[3 * x + 1] = static_cast<uint8_t>(c >> 8);
            row[3 * x + 2] = static_cast<uint8_t>(c);
        }
        std::fwrite(row.data(), 1, row.size(), f);
    }
    std::fclose(f);
    return path;
}

void Ours(benchmark::State& state, uint32_t (*effect)(BitMapHandle*))
{
    std::vector<uint32_t> argb = Picture();
    for (auto _ : state) {
        state.PauseTiming();
        BitMapHandle* bm = BitMapFromArgb(argb.data(), kSide, kSide);
        state.ResumeTiming();
        benchmark::DoNotOptimize(effect(bm));
        state.PauseTiming();
        FreeColorBitMap(bm);
        state.ResumeTiming();
    }
    ReportMegapixels(state, int64_t{kSide} * kSide);
}

void Peer(benchmark::State& state, const char* arguments)
{
    if (access("/usr/bin/convert", X_OK) != 0) {
        state.SkipWithError("no /usr/bin/convert");
        return;
    }
    const std::string& in = PpmFile();
    std::string out = in.substr(0, in.size() - 6) + "out.ppm";
    std::string command = "/usr/bin/convert -limit thread 1 '" + in + "' " + arguments + " 'ppm:" + out + "' 2>/dev/null";
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        int status = std::system(command.c_str());
        auto end = std::chrono::steady_clock::now();
        if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("convert failed");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
}

uint32_t BlurSigma10(BitMapHandle* bm) { return ConvolveBitMap(CONVOLVE_BLUR, bm, nullptr, kSide, kSide, 40, 10); }
uint32_t Quantize256(BitMapHandle* bm) { return QuantizeBitMap(bm, kSide, kSide, 256, 1); }

void BM_Blur(benchmark::State& state)
{
    uint32_t old = SelectBlurPath(static_cast<uint32_t>(state.range(0)));
    Ours(state, BlurSigma10);
    SelectBlurPath(old);
}
BENCHMARK(BM_Blur)->Arg(BLURPATH_AVX2)->Arg(BLURPATH_SSE2)->Arg(BLURPATH_SCALAR)->Unit(benchmark::kMillisecond);

void BM_Quantize(benchmark::State& state) { Ours(state, Quantize256); }
BENCHMARK(BM_Quantize)->Unit(benchmark::kMillisecond);

void BM_ImageMagickBlur(benchmark::State& state) { Peer(state, "-blur 0x10"); }
BENCHMARK(BM_ImageMagickBlur)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_ImageMagickColors(benchmark::State& state) { Peer(state, "-colors 256"); }
BENCHMARK(BM_ImageMagickColors)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_ImageMagickCopy(benchmark::State& state) { Peer(state, ""); }
BENCHMARK(BM_ImageMagickCopy)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// Collects each benchmark's time per iteration for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> seconds;
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            if (!run.error_occurred)
                seconds[run.benchmark_name()] = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& s = reporter.seconds;
    auto ratio = [&s](const char* ours, const char* peer, const char* copy) {
        if (!s.count(ours) || !s.count(peer)) return;
        double whole = s[peer] / s[ours];
        double net = s.count(copy) ? (s[peer] - s[copy]) / s[ours] : whole;
        std::printf("%-22s %8.1f ms   peer %8.1f ms (less file copy %8.1f ms)   peer/ours %.2f (net %.2f)\n", ours,
                    s[ours] * 1e3, s[peer] * 1e3, (s[peer] - (s.count(copy) ? s[copy] : 0)) * 1e3, whole, net);
    };
    ratio("BM_Blur/2", "BM_ImageMagickBlur/iterations:3/manual_time", "BM_ImageMagickCopy/iterations:3/manual_time");
    ratio("BM_Blur/1", "BM_ImageMagickBlur/iterations:3/manual_time", "BM_ImageMagickCopy/iterations:3/manual_time");
    ratio("BM_Blur/0", "BM_ImageMagickBlur/iterations:3/manual_time", "BM_ImageMagickCopy/iterations:3/manual_time");
    ratio("BM_Quantize", "BM_ImageMagickColors/iterations:3/manual_time", "BM_ImageMagickCopy/iterations:3/manual_time");
    benchmark::Shutdown();
    return 0;
}
