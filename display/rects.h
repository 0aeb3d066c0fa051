// Rectangle tests shared by the blit, layer and refresh code. Corner forms
// are inclusive: (x1, y1) is the top-left pixel and (x2, y2) the
// bottom-right pixel of a rectangle.
#pragma once

#include <cstdint>

// True when the rectangles (x1, y1)-(x2, y2) and (x3, y3)-(x4, y4) share a
// pixel.
bool RectsIntersect(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t x3, int32_t y3,
                    int32_t x4, int32_t y4);
// The same for rectangles given by position and size; an empty rectangle
// overlaps nothing.
bool RectsOverlap(int32_t x, int32_t y, int32_t w, int32_t h, int32_t x2, int32_t y2, int32_t w2,
                  int32_t h2);
// The overlap of two rectangles given by position and size; false (and a
// zero size) when they do not overlap.
bool ClipRect(int32_t x, int32_t y, int32_t w, int32_t h, int32_t cx, int32_t cy, int32_t cw,
              int32_t ch, int32_t* outX, int32_t* outY, int32_t* outW, int32_t* outH);
