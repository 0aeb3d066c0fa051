// Transformed bounds. The extremes start from the first corner rather
// than from fixed limits, so pictures of any size get their true box.
#include "gfx/effects/transform_bounds.h"

#include "core/io/number_conv.h"

void TransformCorners(int32_t w, int32_t h, double anchorX, double anchorY, const double* m,
                      double* corners)
{
    double ax = w * anchorX, ay = h * anchorY;
    const double px[4] = {0, w - 1.0, w - 1.0, 0};
    const double py[4] = {0, 0, h - 1.0, h - 1.0};
    for (int i = 0; i < 4; ++i) {
        double dx = px[i] - ax, dy = py[i] - ay;
        corners[2 * i] = m[0] * dx + m[2] * dy + ax;
        corners[2 * i + 1] = m[1] * dx + m[3] * dy + ay;
    }
}

void ComputeTransformBounds(int32_t x, int32_t y, int32_t w, int32_t h, double anchorX,
                            double anchorY, const double* matrix, int32_t* outX, int32_t* outY,
                            int32_t* outW, int32_t* outH)
{
    double c[8];
    TransformCorners(w, h, anchorX, anchorY, matrix, c);
    double minX = c[0], maxX = c[0], minY = c[1], maxY = c[1];
    for (int i = 1; i < 4; ++i) {
        if (c[2 * i] < minX) minX = c[2 * i];
        if (c[2 * i] > maxX) maxX = c[2 * i];
        if (c[2 * i + 1] < minY) minY = c[2 * i + 1];
        if (c[2 * i + 1] > maxY) maxY = c[2 * i + 1];
    }
    *outX = DoubleToInt32(x + minX);
    *outY = DoubleToInt32(y + minY);
    *outW = DoubleToInt32(maxX - minX + 1);
    *outH = DoubleToInt32(maxY - minY + 1);
}
