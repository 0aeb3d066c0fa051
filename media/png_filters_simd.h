// The PNG row filters on vectors of V::kBytes bytes, written once for both
// vector paths: png_filters_sse2.cpp and png_filters_avx2.cpp give V its
// operations. The filters read the left neighbours at i - bpp, which the
// zero padding before each row makes safe for the first pixel; Paeth works
// on 16-bit lanes, where its distances fit. The bytes past the last whole
// vector go through the scalar rule.
#pragma once

#include "media/png_filters.h"

template <typename V>
inline typename V::T PngPaethVector(typename V::T a, typename V::T b, typename V::T c)
{
    using T = typename V::T;
    const T zero = V::Zero();
    T out[2];
    for (int half = 0; half < 2; ++half) {
        T a16 = V::Widen(a, zero, half), b16 = V::Widen(b, zero, half), c16 = V::Widen(c, zero, half);
        T bc = V::Sub16(b16, c16), ac = V::Sub16(a16, c16);
        T pa = V::Abs16(bc), pb = V::Abs16(ac), pc = V::Abs16(V::Add16(bc, ac));
        T notA = V::Or(V::Gt16(pa, pb), V::Gt16(pa, pc));
        T notB = V::Gt16(pb, pc);
        T bOrC = V::Select(notB, c16, b16);
        out[half] = V::Select(notA, bOrC, a16);
    }
    return V::Narrow(out[0], out[1]);
}

template <typename V>
void PngFilterRowVector(const uint8_t* row, const uint8_t* above, size_t n, size_t bpp, uint8_t* out,
                        uint8_t* scratch)
{
    using T = typename V::T;
    const size_t whole = n / V::kBytes * V::kBytes;
    T sums[5] = {V::Zero(), V::Zero(), V::Zero(), V::Zero(), V::Zero()};
    const T one = V::Ones();
    for (size_t i = 0; i < whole; i += V::kBytes) {
        T x = V::Load(row + i), a = V::Load(row - bpp + i), b = V::Load(above + i), c = V::Load(above - bpp + i);
        // The floor of (a + b) / 2: the rounded-up average less the bit
        // that rounding added.
        T avg = V::Sub8(V::Avg8(a, b), V::And(V::Xor(a, b), one));
        T f[4] = {V::Sub8(x, a), V::Sub8(x, b), V::Sub8(x, avg), V::Sub8(x, PngPaethVector<V>(a, b, c))};
        sums[0] = V::AddCost(sums[0], x);
        for (size_t k = 0; k < 4; ++k) {
            V::Store(scratch + k * n + i, f[k]);
            sums[k + 1] = V::AddCost(sums[k + 1], f[k]);
        }
    }
    uint32_t totals[5];
    for (size_t k = 0; k < 5; ++k)
        totals[k] = V::Total(sums[k]);
    PngFilterBytes(row, above, whole, n, bpp, scratch, totals);
    PngPickFilter(row, n, scratch, totals, out);
}
