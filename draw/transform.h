// Corner-point transforms of rectangles: where a picture's corners land when
// it is rotated and scaled about an anchor, and the bounding box that the
// transformed picture needs; and transformed copies of a picture's planes.
#pragma once

#include <cstdint>

struct BitMapHandle;

struct PolygonPoint {
    double x;
    double y;
};

// The integer box that holds every transformed corner: x and y are the
// floors of the minima, width and height reach the ceilings of the maxima.
struct PolygonBounds {
    int x;
    int y;
    int width;
    int height;
};

// A 2 x 2 matrix {m0, m1, m2, m3}: x' = m0 * x + m2 * y, y' = m1 * x + m3 * y.
struct Matrix2 {
    double m0, m1, m2, m3;
};

// Rotation by `degrees` counter-clockwise as seen on screen (y grows
// downwards), then scaling by sx, sy.
Matrix2 MakeRotateScaleMatrix(double degrees, double sx, double sy);

// Transforms `count` points in place about (anchorX, anchorY) and returns
// their bounding box; a count of 0 gives an empty box at the anchor.
PolygonBounds TransformPolygon(PolygonPoint* points, int count, double anchorX, double anchorY,
                               const Matrix2& matrix);

// A picture as the object transforms take it: its planes, where it stands
// and its size. A shape that is only a mask (a clip region's) has no
// colour bitmap.
struct ObjectPlanes {
    BitMapHandle* bitmap;
    BitMapHandle* mask;
    BitMapHandle* alpha;
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
};

// Transformed copies of the planes under the 2 x 2 matrix (four doubles, as
// TransformBitMap takes them), placed where the picture's corners land when
// it turns about the anchor (fractions of its size). The copies are the
// caller's; a shape gets only its planes. 0 or the transformer's error
// (ERR_WRONGUSAGE for a picture without planes or size, ERR_BITMAP),
// with nothing made.
uint32_t TransformObjectPlanes(const ObjectPlanes& planes, const double* matrix, double anchorX, double anchorY,
                               int smooth, ObjectPlanes* out);
