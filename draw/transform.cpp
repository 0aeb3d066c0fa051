// Corner-point transforms. The bounding box is rounded outwards so that a
// picture drawn into it is never clipped by a fraction of a pixel.
#include "draw/transform.h"

#include <cmath>
#include <limits>

#include "core/io/error_codes.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/effects/transform_bitmap.h"
#include "gfx/effects/transform_bounds.h"

Matrix2 MakeRotateScaleMatrix(double degrees, double sx, double sy)
{
    // Exact values at the right angles, so that a quarter turn maps a
    // rectangle onto whole pixels instead of 1e-16 off them.
    double c, s;
    double turns = std::fmod(degrees, 360.0);
    if (turns < 0) turns += 360.0;
    if (turns == 0.0) c = 1, s = 0;
    else if (turns == 90.0) c = 0, s = 1;
    else if (turns == 180.0) c = -1, s = 0;
    else if (turns == 270.0) c = 0, s = -1;
    else {
        double r = degrees * M_PI / 180.0;
        c = std::cos(r);
        s = std::sin(r);
    }
    // Screen rotation with y pointing down: (x, y) -> (x c + y s, -x s + y c),
    // followed by the scale.
    return Matrix2{c * sx, -s * sy, s * sx, c * sy};
}

PolygonBounds TransformPolygon(PolygonPoint* points, int count, double anchorX, double anchorY,
                               const Matrix2& m)
{
    if (count <= 0) {
        return PolygonBounds{static_cast<int>(std::floor(anchorX)),
                             static_cast<int>(std::floor(anchorY)), 0, 0};
    }
    double minX = std::numeric_limits<double>::infinity(), minY = minX;
    double maxX = -minX, maxY = -minX;
    for (int i = 0; i < count; ++i) {
        double dx = points[i].x - anchorX;
        double dy = points[i].y - anchorY;
        points[i].x = anchorX + m.m0 * dx + m.m2 * dy;
        points[i].y = anchorY + m.m1 * dx + m.m3 * dy;
        minX = std::fmin(minX, points[i].x);
        maxX = std::fmax(maxX, points[i].x);
        minY = std::fmin(minY, points[i].y);
        maxY = std::fmax(maxY, points[i].y);
    }
    double x0 = std::floor(minX), y0 = std::floor(minY);
    return PolygonBounds{static_cast<int>(x0), static_cast<int>(y0),
                         static_cast<int>(std::ceil(maxX) - x0),
                         static_cast<int>(std::ceil(maxY) - y0)};
}

uint32_t TransformObjectPlanes(const ObjectPlanes& planes, const double* matrix, double anchorX, double anchorY,
                               int smooth, ObjectPlanes* out)
{
    *out = ObjectPlanes{};
    if (!matrix || planes.width < 1 || planes.height < 1 || (!planes.bitmap && !planes.mask && !planes.alpha))
        return ERR_WRONGUSAGE;
    // A shape rides through the picture transformer on a blank canvas.
    BitMapHandle* canvas = nullptr;
    if (!planes.bitmap && !(canvas = AllocColorBitMap(planes.width, planes.height, 0, nullptr)))
        return ERR_BITMAP;
    ObjectPlanes made{};
    uint32_t error = TransformBitMap(planes.bitmap ? planes.bitmap : canvas, planes.mask, planes.alpha, 0, 0,
                                     planes.width, planes.height, matrix, smooth, nullptr, &made.bitmap,
                                     &made.mask, &made.alpha, &made.width, &made.height);
    if (canvas) {
        FreeColorBitMap(canvas);
        if (made.bitmap) FreeColorBitMap(made.bitmap);
        made.bitmap = nullptr;
    }
    if (error) {
        if (made.bitmap) FreeColorBitMap(made.bitmap);
        if (made.mask) FreePlaneBitMap(made.mask);
        if (made.alpha) FreePlaneBitMap(made.alpha);
        return error;
    }
    int32_t boxW = 0, boxH = 0;
    ComputeTransformBounds(planes.x, planes.y, planes.width, planes.height, anchorX, anchorY, matrix, &made.x,
                           &made.y, &boxW, &boxH);
    *out = made;
    return 0;
}
