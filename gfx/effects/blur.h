// The Gaussian blur, in place on w x h elements of 1 byte (a plane) or 4
// (ARGB words) in rows `stride` bytes apart; bytes past each row's elements
// are left alone. sigma 0 takes radius / 3; radius 0 takes 3 sigma. False
// only when scratch memory ran out, before anything was written.
#pragma once

#include <cstddef>
#include <cstdint>

#include "gfx/effects/work_buffer.h"

bool GaussianBlurRows(uint8_t* rows, size_t stride, int32_t w, int32_t h, uint32_t elementBytes, double radius,
                      double sigma);
// The 2.14 fixed-point weights, 2r + 1 of them; returns r (0: nothing to
// do) or -1 when out of memory.
int32_t GaussianWeights(double radius, double sigma, WorkBuffer<int16_t>* weights);
