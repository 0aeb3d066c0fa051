#include "gfx/effects/flood_fill.h"

#include <cstddef>
#include <vector>

namespace {

struct Seed {
    int32_t x;
    int32_t y;
};

// Seeds go on an explicit stack, so areas of any size fill in bounded
// native stack depth.
template <typename T>
void FloodFill(const FloodFillContext* c, int32_t x, int32_t y, uint32_t m)
{
    if (c->width <= 0 || c->height <= 0) return;
    const int32_t left = c->left, right = c->left + c->width;  // right is exclusive
    const int32_t top = c->top, bottom = c->top + c->height - 1;
    if (x < left || x >= right || y < top || y > bottom) return;
    const T fill = static_cast<T>(c->fillColour);
    auto row = [c](int32_t yy) {
        return static_cast<T*>(c->pixels) + static_cast<ptrdiff_t>(c->rowLength) * yy;
    };
    auto isBorder = [c, m](T p) { return (p & m) == c->borderColour; };

    std::vector<Seed> stack;
    stack.push_back({x, y});
    bool start = true;
    while (!stack.empty()) {
        Seed s = stack.back();
        stack.pop_back();
        T* r = row(s.y);
        if (isBorder(r[s.x])) continue;
        // A seed that an earlier span already covered has nothing new.
        if (!start && r[s.x] == fill) continue;
        start = false;
        int32_t from = s.x;
        while (from >= left && !isBorder(r[from])) r[from--] = fill;
        ++from;
        int32_t to = s.x + 1;
        while (to < right && !isBorder(r[to])) r[to++] = fill;
        // The neighbour rows: a seed at the start of every run of pixels that
        // are neither border nor already filled.
        for (int32_t ny : {s.y - 1, s.y + 1}) {
            if (ny < top || ny > bottom) continue;
            const T* n = row(ny);
            bool previousStops = true;
            for (int32_t i = from; i < to; ++i) {
                T p = n[i];
                bool stops = isBorder(p) || p == fill;
                if (!stops && previousStops) stack.push_back({i, ny});
                previousStops = stops;
            }
        }
    }
}

}  // namespace

void FloodFillPixels32(const FloodFillContext* context, int32_t x, int32_t y, uint32_t compareMask)
{
    FloodFill<uint32_t>(context, x, y, compareMask);
}

void FloodFillPixels16(const FloodFillContext* context, int32_t x, int32_t y, uint32_t compareMask)
{
    FloodFill<uint16_t>(context, x, y, compareMask);
}
