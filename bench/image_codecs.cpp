// Picture codecs against Python's PIL (python3-pil, the same libpng, zlib
// and libjpeg-turbo underneath) in the same run: decoding and encoding a
// 4000 x 3000 PNG and JPEG (quality 90). Both sides read and write real
// files; PIL times only the operation itself, without interpreter start-up.
// The ratio of our time to PIL's is the overhead of our glue.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/python_peer.h"
#include "gfx/library/image_save.h"
#include "media/image_codecs.h"
#include "media/image_files.h"

namespace {

constexpr int32_t kWidth = 4000, kHeight = 3000;

// A photograph-like picture: smooth gradients with fine noise, which
// neither compresses away nor explodes.
const std::vector<uint32_t>& Picture()
{
    static std::vector<uint32_t> argb = [] {
        std::vector<uint32_t> p(static_cast<size_t>(kWidth) * kHeight);
        uint32_t seed = 12345;
        for (int32_t y = 0; y < kHeight; ++y)
            for (int32_t x = 0; x < kWidth; ++x) {
                seed = seed * 1103515245u + 12345u;
                uint32_t noise = (seed >> 16) & 7;
                uint32_t r = static_cast<uint32_t>(128 + 100 * std::sin(x * 0.003)) + noise;
                uint32_t g = static_cast<uint32_t>(128 + 100 * std::cos(y * 0.004)) + noise;
                uint32_t b = static_cast<uint32_t>((x + y) / 28) & 255;
                p[static_cast<size_t>(y) * kWidth + x] = 0xFF000000u | (r << 16) | (g << 8) | b;
            }
        return p;
    }();
    return argb;
}

// The input files of the decoders, written once by our own encoders.
struct InputFiles {
    std::string png, jpeg;
    ~InputFiles()
    {
        std::remove(png.c_str());
        std::remove(jpeg.c_str());
    }
};

const std::string& InputFile(uint32_t format)
{
    static InputFiles files;
    std::string& file = format == IMGFMT_PNG ? files.png : files.jpeg;
    if (file.empty()) {
        file = ScratchPath(format == IMGFMT_PNG ? "in.png" : "in.jpg");
        SaveArgbImage(format, Picture().data(), kWidth, kHeight, file.c_str(), -1, false, 90, 256, 0);
    }
    return file;
}

void Decode(benchmark::State& state, uint32_t format)
{
    const std::string& file = InputFile(format);
    for (auto _ : state) {
        ImageData* image = nullptr;
        if (LoadImageFile(file.c_str(), nullptr, 0, HOSTIMAGE_LOAD, &image, nullptr, nullptr)) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::DoNotOptimize(image->pixels[0]);
        FreeImageData(image);
    }
}

void Encode(benchmark::State& state, uint32_t format)
{
    std::string file = ScratchPath(format == IMGFMT_PNG ? "out.png" : "out.jpg");
    const std::vector<uint32_t>& argb = Picture();
    for (auto _ : state) {
        if (SaveArgbImage(format, argb.data(), kWidth, kHeight, file.c_str(), -1, false, 90, 256, 0)) {
            state.SkipWithError("encode failed");
            break;
        }
    }
    std::remove(file.c_str());
}

// PIL does one operation on the same input, its clock started after the
// source picture is in memory. Its encoders get the picture ours get: the
// lossless PNG's pixels, not the JPEG's.
void RunPil(benchmark::State& state, uint32_t format, bool decode)
{
    const std::string& input = InputFile(format);
    std::string output = ScratchPath(format == IMGFMT_PNG ? "pil.png" : "pil.jpg");
    std::string program = "from PIL import Image\n"
                          "src = Image.open('" + InputFile(IMGFMT_PNG) + "'); src.load()\n"
                          "t0 = time.perf_counter()\n";
    if (decode)
        program += "im = Image.open('" + input + "'); im.load()\n";
    else if (format == IMGFMT_PNG)
        program += "src.save('" + output + "', 'PNG')\n";
    else
        program += "src.save('" + output + "', 'JPEG', quality=90)\n";
    RunPython(state, program.c_str(), "/usr/bin/python3");
    std::remove(output.c_str());
}

void BM_PngDecode_Ours(benchmark::State& s) { Decode(s, IMGFMT_PNG); }
void BM_PngDecode_Pil(benchmark::State& s) { RunPil(s, IMGFMT_PNG, true); }
void BM_PngEncode_Ours(benchmark::State& s) { Encode(s, IMGFMT_PNG); }
void BM_PngEncode_Pil(benchmark::State& s) { RunPil(s, IMGFMT_PNG, false); }
void BM_JpegDecode_Ours(benchmark::State& s) { Decode(s, IMGFMT_JPEG); }
void BM_JpegDecode_Pil(benchmark::State& s) { RunPil(s, IMGFMT_JPEG, true); }
void BM_JpegEncode_Ours(benchmark::State& s) { Encode(s, IMGFMT_JPEG); }
void BM_JpegEncode_Pil(benchmark::State& s) { RunPil(s, IMGFMT_JPEG, false); }

BENCHMARK(BM_PngDecode_Ours)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_PngDecode_Pil)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
BENCHMARK(BM_PngEncode_Ours)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PngEncode_Pil)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
BENCHMARK(BM_JpegDecode_Ours)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_JpegDecode_Pil)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
BENCHMARK(BM_JpegEncode_Ours)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_JpegEncode_Pil)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

}  // namespace
