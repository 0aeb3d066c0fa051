#include "gfx/blits/clip.h"

namespace {

// Cuts one axis: the span [a, a + n) must stay in [0, limitA) and its twin
// [b, b + n) in [0, limitB). 64-bit sums keep huge script values from
// wrapping.
bool ClipAxis(int32_t& a, int32_t limitA, int32_t& b, int32_t limitB, int32_t& n)
{
    if (n <= 0 || limitA <= 0 || limitB <= 0) return false;
    int64_t lead = 0;
    if (a < 0) lead = -static_cast<int64_t>(a);
    if (b < 0 && -static_cast<int64_t>(b) > lead) lead = -static_cast<int64_t>(b);
    int64_t start = static_cast<int64_t>(a) + lead, twin = static_cast<int64_t>(b) + lead;
    int64_t len = static_cast<int64_t>(n) - lead;
    if (start + len > limitA) len = limitA - start;
    if (twin + len > limitB) len = limitB - twin;
    if (len <= 0) return false;
    a = static_cast<int32_t>(start);
    b = static_cast<int32_t>(twin);
    n = static_cast<int32_t>(len);
    return true;
}

}  // namespace

bool ClipRect(int32_t& x, int32_t& y, int32_t& w, int32_t& h, int32_t width, int32_t height)
{
    int32_t tx = x, ty = y;
    return ClipAxis(x, width, tx, width, w) && ClipAxis(y, height, ty, height, h);
}

bool ClipRectPair(int32_t& ax, int32_t& ay, int32_t aw, int32_t ah, int32_t& bx, int32_t& by,
                  int32_t bw, int32_t bh, int32_t& w, int32_t& h)
{
    return ClipAxis(ax, aw, bx, bw, w) && ClipAxis(ay, ah, by, bh, h);
}
