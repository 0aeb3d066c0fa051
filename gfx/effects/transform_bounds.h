// The box a w x h picture at (x, y) needs once its corners are moved by a
// 2 x 2 matrix about an anchor.
#pragma once

#include <cstdint>

// matrix holds four doubles: (x, y) goes to (m0 x + m2 y, m1 x + m3 y). The
// corners (0, 0), (w - 1, 0), (w - 1, h - 1), (0, h - 1) move about the
// anchor (w * anchorX, h * anchorY): p' = M (p - a) + a. outX = trunc(x +
// min x), outW = trunc(max x - min x + 1), likewise for y.
void ComputeTransformBounds(int32_t x, int32_t y, int32_t w, int32_t h, double anchorX,
                            double anchorY, const double* matrix, int32_t* outX, int32_t* outY,
                            int32_t* outW, int32_t* outH);
// The corners in that order, moved, as four (x, y) pairs.
void TransformCorners(int32_t w, int32_t h, double anchorX, double anchorY, const double* matrix,
                      double* corners);
