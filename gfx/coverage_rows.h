// Row kernels of the coverage blend (mode 1) on native ARGB pixels, the
// case that anti-aliased text takes: coverage 0 leaves the pixel, 255
// writes the colour, anything between blends each channel to
// (d * (256 - a) + c * a) >> 8 with alpha 0. The scalar member is the
// reference; the SSE2 member must give the same bytes.
#pragma once

#include <cstdint>

void CoverageBlendRow32Scalar(uint32_t* dst, const uint8_t* coverage, int32_t w, uint32_t colour);
void CoverageBlendRow32Sse2(uint32_t* dst, const uint8_t* coverage, int32_t w, uint32_t colour);
// The member this machine runs.
extern void (*const CoverageBlendRow32)(uint32_t* dst, const uint8_t* coverage, int32_t w,
                                        uint32_t colour);
