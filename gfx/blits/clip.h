// Clipping of rectangles against bitmap bounds, shared by every operation
// that takes coordinates from scripts.
#pragma once

#include <cstdint>

// Cuts the w x h rectangle at (x, y) to 0..width x 0..height. False when
// nothing is left.
bool ClipRect(int32_t& x, int32_t& y, int32_t& w, int32_t& h, int32_t width, int32_t height);

// Cuts a copy of w x h pixels from (ax, ay) in a plane of aw x ah to (bx, by)
// in one of bw x bh so that both rectangles stay inside; the two positions
// move together. False when nothing is left.
bool ClipRectPair(int32_t& ax, int32_t& ay, int32_t aw, int32_t ah, int32_t& bx, int32_t& by,
                  int32_t bw, int32_t bh, int32_t& w, int32_t& h);
