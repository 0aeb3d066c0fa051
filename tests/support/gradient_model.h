// Gradients the tests compare against: a two-colour description and the
// picture the gradient renderer draws from one.
#pragma once

#include <cstdint>
#include <vector>

#include "gfx/bitmaps/pixel_formats.h"
#include "gfx/effects/gradients.h"

inline GradientSpec TwoColours(uint32_t type, uint32_t c1, uint32_t c2, int32_t angle = 0)
{
    GradientSpec s{};
    s.type = type;
    s.color1 = c1;
    s.color2 = c2;
    s.angle = angle;
    s.centerX = s.centerY = 0.5;
    return s;
}

// The w x h picture of the whole gradient, native ARGB row by row.
inline std::vector<uint32_t> GradientPicture(const GradientSpec& spec, int32_t w, int32_t h)
{
    std::vector<uint32_t> argb(static_cast<size_t>(w) * h);
    GradientParams p{reinterpret_cast<uint8_t*>(argb.data()), 4, PIXFMT_ARGB, 0, 0, w, h, w, &spec, w, h};
    if (RenderGradient(p))
        argb.clear();
    return argb;
}
