// Transformed bounds against boxes worked out by hand.
#include <gtest/gtest.h>

#include "gfx/effects/transform_bounds.h"

namespace {

TEST(ComputeTransformBounds, BoxesOfMovedCorners)
{
    struct Case { const char* name; int32_t x, y, w, h; double ax, ay; double m[4]; int32_t want[4]; };
    const Case cases[] = {
        {"identity", 10, 20, 4, 3, 0.5, 0.5, {1, 0, 0, 1}, {10, 20, 4, 3}},
        // x' = -y, y' = x about the centre (2, 1) of a 4 x 2 picture.
        {"quarter turn", 0, 0, 4, 2, 0.5, 0.5, {0, 1, -1, 0}, {2, -1, 2, 4}},
        {"double size from the corner", 5, 5, 10, 10, 0, 0, {2, 0, 0, 2}, {5, 5, 19, 19}},
        // Every corner far left of -100000: the box still starts from them.
        {"far away", 0, 0, 2, 2, 100000, 0, {2, 0, 0, 1}, {-200000, 0, 3, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int32_t got[4];
        ComputeTransformBounds(c.x, c.y, c.w, c.h, c.ax, c.ay, c.m, &got[0], &got[1], &got[2], &got[3]);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(got[i], c.want[i]) << i;
    }
}

}  // namespace
