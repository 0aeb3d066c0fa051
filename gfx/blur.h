// The Gaussian blur of packed buffers (no row padding), shared by the
// convolution kernel and the shadow planes. sigma 0 takes radius / 3; radius
// 0 takes 3 sigma. False only when scratch memory ran out (the buffer is
// then unchanged or fully blurred in one direction: callers work on copies).
#pragma once

#include <cstdint>

#include "gfx/work_buffer.h"

bool GaussianBlurArgb(uint32_t* argb, int32_t w, int32_t h, double radius, double sigma);
bool GaussianBlurBytes(uint8_t* plane, int32_t w, int32_t h, double radius, double sigma);
// The 2.14 fixed-point weights, 2r + 1 of them; returns r (0: nothing to
// do) or -1 when out of memory.
int32_t GaussianWeights(double radius, double sigma, WorkBuffer<int16_t>* weights);
