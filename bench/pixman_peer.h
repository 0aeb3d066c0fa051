// The pixman peer of the transform benchmarks: pixman's SRC composite of a
// transformed source, timed as our own kernels are, in output megapixels
// per second.
#pragma once

#include <benchmark/benchmark.h>
#include <pixman.h>

#include "bench/pixel_bench.h"

// Composites src, transformed by t (destination to source) through the
// filter, into the w x h dst; both images are freed afterwards.
inline void RunPixmanTransform(benchmark::State& state, pixman_image_t* src, const pixman_transform_t& t,
                               pixman_filter_t filter, pixman_image_t* dst, int32_t w, int32_t h)
{
    pixman_image_set_transform(src, &t);
    pixman_image_set_filter(src, filter, nullptr, 0);
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_SRC, src, nullptr, dst, 0, 0, 0, 0, 0, 0, w, h);
        benchmark::ClobberMemory();
    }
    ReportMegapixels(state, int64_t{w} * h);
    pixman_image_unref(dst);
    pixman_image_unref(src);
}
