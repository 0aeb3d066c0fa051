// Geometry and colour helpers shared by the drawing and display code:
// colour mixing, sizes that keep an aspect ratio, polygon clipping against
// one edge, ellipse points from the 1024-scaled tables, the identity
// matrix, and polygons filled into mask planes.
#pragma once

#include <cstdint>

struct BitMapHandle;

// Each of the three channels c1 + floor((c2 - c1) * ratio / 256); the
// result's alpha byte is 0.
uint32_t MixArgb(uint32_t c1, uint32_t c2, uint32_t ratio);

// The KEEPASPRAT value of a requested width or height.
constexpr int32_t kKeepAspectRatio = 100000;

// Replaces a KEEPASPRAT width or height by the size that keeps srcW : srcH
// (rounded half up; never below 1). ERR_BADDIMENSIONS for a requested size
// or a source size below 1, ERR_WRONGUSAGE when both are KEEPASPRAT.
uint32_t ResolveKeepAspect(int32_t srcW, int32_t srcH, int32_t* w, int32_t* h);

// Polygon edges of ClipPolygon: 0 keeps x >= limit, 1 y >= limit, 2 x <=
// limit, 3 y <= limit.
enum : int32_t { CLIPEDGE_LEFT = 0, CLIPEDGE_TOP = 1, CLIPEDGE_RIGHT = 2, CLIPEDGE_BOTTOM = 3 };

// Clips n points (x, y pairs) against one edge into out, which needs room
// for 2 * n points. Answers the number of points written.
int32_t ClipPolygon(int32_t n, const int32_t* in, int32_t* out, int32_t limit, int32_t edge);

// The points (x, y pairs) of an ellipse in a (2rx + 1) x (2ry + 1) box
// centred at (rx, ry), from startAngle to endAngle in whole degrees; a pie
// is closed through the centre unless the range is 0..360. out needs room
// for (endAngle - startAngle + 3) points. Answers the number of points.
int32_t ComputeEllipsePoints(int32_t* out, int32_t rx, int32_t ry, int32_t startAngle, int32_t endAngle);

// (1, 0, 0, 1).
void SetIdentityMatrix(double* matrix);

// Fills the polygon of count points (x, y pairs) into a mask plane.
// 0 or ERR_MEM.
uint32_t FillMaskPolygon(BitMapHandle* mask, const int32_t* points, int32_t count);
