// Tables of the graphics library: the 177 script constants, the 246
// twelve-bit colours (0xRGB) of GetRandomColor, and 1024 cos k and
// 1024 sin k for k = 0..359 degrees, truncated toward zero.
#pragma once

#include <cstdint>

#include "core/vm/library_glue.h"

constexpr int kGraphicsConstantCount = 179;
extern const ConstantTableEntry kGraphicsConstants[kGraphicsConstantCount + 1];

constexpr int kRandomColorCount = 246;
extern const uint16_t kRandomColors[kRandomColorCount];

extern const int16_t kCos1024[360];
extern const int16_t kSin1024[360];
