// Corner-point transforms of rectangles: where a picture's corners land when
// it is rotated and scaled about an anchor, and the bounding box that the
// transformed picture needs.
#pragma once

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
