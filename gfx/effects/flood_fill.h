// Flood fill of a locked picture: from a start pixel, every pixel reachable
// without crossing the border colour takes the fill colour. The area is the
// width x height rectangle at (left, top) of the pixels; coordinates are in
// the picture's own space.
#pragma once

#include <cstdint>

struct FloodFillContext {
    void* pixels;
    int32_t width;
    int32_t height;
    int32_t rowLength;
    uint32_t borderColour;  // compared with (pixel & compare mask)
    uint32_t fillColour;
    int32_t left;
    int32_t top;
};

// The 32-bit and 16-bit twins; a start outside the area fills nothing.
void FloodFillPixels32(const FloodFillContext* context, int32_t x, int32_t y, uint32_t compareMask);
void FloodFillPixels16(const FloodFillContext* context, int32_t x, int32_t y, uint32_t compareMask);
