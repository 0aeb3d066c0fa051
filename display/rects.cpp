// Rectangle tests. Sizes are widened to 64 bits so that rectangles near the
// ends of the 32-bit range neither wrap nor overlap by accident.
#include "display/rects.h"

#include <algorithm>

bool RectsIntersect(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t x3, int32_t y3,
                    int32_t x4, int32_t y4)
{
    return x1 <= x4 && x3 <= x2 && y1 <= y4 && y3 <= y2;
}

bool RectsOverlap(int32_t x, int32_t y, int32_t w, int32_t h, int32_t x2, int32_t y2, int32_t w2,
                  int32_t h2)
{
    int32_t ox, oy, ow, oh;
    return ClipRect(x, y, w, h, x2, y2, w2, h2, &ox, &oy, &ow, &oh);
}

bool ClipRect(int32_t x, int32_t y, int32_t w, int32_t h, int32_t cx, int32_t cy, int32_t cw,
              int32_t ch, int32_t* outX, int32_t* outY, int32_t* outW, int32_t* outH)
{
    int64_t left = std::max<int64_t>(x, cx);
    int64_t top = std::max<int64_t>(y, cy);
    int64_t right = std::min<int64_t>(int64_t{x} + w, int64_t{cx} + cw);
    int64_t bottom = std::min<int64_t>(int64_t{y} + h, int64_t{cy} + ch);
    bool overlap = w > 0 && h > 0 && cw > 0 && ch > 0 && right > left && bottom > top;
    *outX = static_cast<int32_t>(left);
    *outY = static_cast<int32_t>(top);
    *outW = overlap ? static_cast<int32_t>(right - left) : 0;
    *outH = overlap ? static_cast<int32_t>(bottom - top) : 0;
    return overlap;
}
