// The PNG writer's row filters: each row is filtered with the five filters
// of the format and the one whose bytes have the smallest sum of magnitudes
// (taken as signed) is kept, the usual heuristic. Three paths do it: the
// scalar reference, SSE2 and AVX2; the fastest the processor runs is chosen
// once at start-up, and the vector paths give the reference's bytes. The
// reader's widening of 8-bit RGB rows into ARGB words goes the same way.
#pragma once

#include <cstddef>
#include <cstdint>

// Bytes of zeros that must precede every row handed to a filter: the
// left neighbours of the first pixel are read from there.
constexpr size_t kPngFilterPad = 32;

// Filters the n bytes of row (bpp bytes a pixel, 3 or 4) against above
// (all zeros for the first row) into out: the filter byte and n bytes.
// scratch holds 4 * n bytes. Both rows have kPngFilterPad zeros before them.
using PngFilterRowFn = void (*)(const uint8_t* row, const uint8_t* above, size_t n, size_t bpp, uint8_t* out,
                                uint8_t* scratch);

enum PngFilterPath : uint32_t {
    PNGFILTER_SCALAR = 0,
    PNGFILTER_SSE2 = 1,
    PNGFILTER_AVX2 = 2,
    PNGFILTER_PATHS = 3,
};

// The kernel of a path; null for a path the processor lacks.
PngFilterRowFn GetPngFilterRow(uint32_t path);

// The kernel chosen at start-up.
PngFilterRowFn ChosenPngFilterRow();

// Widens count pixels of red, green and blue bytes into ARGB words with
// alpha 255.
using PngRgbRowFn = void (*)(const uint8_t* rgb, uint32_t* argb, size_t count);

// The widening of a path (SSE2 has no byte shuffle and takes the
// reference's); null for a path the processor lacks.
PngRgbRowFn GetPngRgbRow(uint32_t path);

// The widening chosen at start-up.
PngRgbRowFn ChosenPngRgbRow();

// The per-byte rules the vector paths follow, shared with the scalar tail
// of each of them.
inline uint8_t PngPaeth(int a, int b, int c)
{
    int pa = b > c ? b - c : c - b, pb = a > c ? a - c : c - a;
    int pc = a + b - 2 * c;
    pc = pc < 0 ? -pc : pc;
    return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

inline uint32_t PngFilterCost(uint8_t v)
{
    return v < 128 ? v : 256u - v;
}

// Filters bytes [from, n) into the four rows of scratch (Sub, Up, Average,
// Paeth, n bytes each) and adds their costs, and the row's own, to sums.
inline void PngFilterBytes(const uint8_t* row, const uint8_t* above, size_t from, size_t n, size_t bpp,
                           uint8_t* scratch, uint32_t sums[5])
{
    const uint8_t *left = row - bpp, *upLeft = above - bpp;  // in the padding for the first pixel
    for (size_t i = from; i < n; ++i) {
        int x = row[i], a = left[i], b = above[i], c = upLeft[i];
        uint8_t f[4] = {static_cast<uint8_t>(x - a), static_cast<uint8_t>(x - b),
                        static_cast<uint8_t>(x - ((a + b) >> 1)), static_cast<uint8_t>(x - PngPaeth(a, b, c))};
        sums[0] += PngFilterCost(static_cast<uint8_t>(x));
        for (size_t k = 0; k < 4; ++k) {
            scratch[k * n + i] = f[k];
            sums[k + 1] += PngFilterCost(f[k]);
        }
    }
}

// One pixel of an 8-bit RGB row as an ARGB word with alpha 255.
inline uint32_t PngRgbPixel(const uint8_t* rgb)
{
    return 0xFF000000u | uint32_t{rgb[0]} << 16 | uint32_t{rgb[1]} << 8 | rgb[2];
}

// Keeps the cheapest filter (the lowest number on a tie) in out.
void PngPickFilter(const uint8_t* row, size_t n, const uint8_t* scratch, const uint32_t sums[5], uint8_t* out);
