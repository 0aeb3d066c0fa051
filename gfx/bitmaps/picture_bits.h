// Bit-level rules the picture kernels share: the bits of a mask plane row
// (most significant bit leftmost, set where the picture shows) and the
// bytes of a 32-bit pixel that carry colour.
#pragma once

#include <cstdint>

#include "gfx/bitmaps/pixel_formats.h"

inline bool MaskBitAt(const uint8_t* row, int32_t x) { return row[x >> 3] & (0x80 >> (x & 7)); }

inline void PutMaskBit(uint8_t* row, int32_t x, bool on)
{
    uint8_t m = static_cast<uint8_t>(0x80 >> (x & 7));
    row[x >> 3] = static_cast<uint8_t>(on ? row[x >> 3] | m : row[x >> 3] & ~m);
}

// The bytes of a 32-bit pixel that hold colour: all but the alpha byte,
// which sits low in BGRA and RGBA and high in the others.
inline uint32_t ColourBytes32(uint32_t format)
{
    return format == PIXFMT_BGRA || format == PIXFMT_RGBA ? 0xFFFFFF00u : 0x00FFFFFFu;
}
