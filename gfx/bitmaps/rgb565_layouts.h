// The 16-bit layouts against RGB565, written once for single pixels and for
// vectors of 16-bit lanes (V is an unsigned integer or a vector of them; F
// is the pixel format, 0-7). The templates have internal linkage so that
// the copies compiled for different instruction sets stay apart.
#pragma once

#include <cstdint>

namespace {

template <typename V>
inline V Swap16(V v)
{
    return ((v & 0xFF) << 8) | ((v >> 8) & 0xFF);
}

template <uint32_t F, typename V>
inline V From565(V v)
{
    V r5 = v >> 11, g6 = (v >> 5) & 63, b5 = v & 31;
    if constexpr (F == 0) return (r5 << 10) | ((g6 >> 1) << 5) | b5;
    else if constexpr (F == 1) return (b5 << 10) | ((g6 >> 1) << 5) | r5;
    else if constexpr (F == 2) return Swap16(From565<0>(v));
    else if constexpr (F == 3) return Swap16(From565<1>(v));
    else if constexpr (F == 4) return v;
    else if constexpr (F == 5) return (b5 << 11) | (g6 << 5) | r5;
    else if constexpr (F == 6) return Swap16(v);
    else return Swap16(From565<5>(v));
}

template <uint32_t F, typename V>
inline V To565(V p)
{
    if constexpr (F == 0) return (((p >> 10) & 31) << 11) | (((p >> 5) & 31) << 6) | (p & 31);
    else if constexpr (F == 1) return ((p & 31) << 11) | (((p >> 5) & 31) << 6) | ((p >> 10) & 31);
    else if constexpr (F == 2) return To565<0>(Swap16(p));
    else if constexpr (F == 3) return To565<1>(Swap16(p));
    else if constexpr (F == 4) return p;
    else if constexpr (F == 5) return ((p & 31) << 11) | (p & 0x07E0) | (p >> 11);
    else if constexpr (F == 6) return Swap16(p);
    else return To565<5>(Swap16(p));
}

}  // namespace
