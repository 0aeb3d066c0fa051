// What the picture benchmarks share: their figure, megapixels per second,
// and colour bitmaps filled from ARGB arrays before the timed loop.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>

#include "gfx/bitmaps/argb_exchange.h"
#include "gfx/bitmaps/bitmap.h"

// Reports the pixels of every iteration as the rate "MPixel/s".
inline void ReportMegapixels(benchmark::State& state, int64_t pixelsPerIteration)
{
    state.counters["MPixel/s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * static_cast<double>(pixelsPerIteration) / 1e6,
        benchmark::Counter::kIsRate);
}

// A new w x h colour bitmap holding the array (rows of w pixels).
inline BitMapHandle* BitMapFromArgb(const uint32_t* argb, int32_t w, int32_t h)
{
    BitMapHandle* bitmap = AllocColorBitMap(w, h, 0, nullptr);
    WriteArgbToBitMap(argb, 0, 0, w * 4, bitmap, 0, 0, w, h);
    return bitmap;
}
