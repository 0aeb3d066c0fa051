// The vector paths of the PNG row filters against the scalar reference:
// the same filter byte and the same filtered bytes for every row width
// around the vector sizes, both pixel sizes, and rows made to hit the
// filters' edge cases (equal neighbours for Paeth's ties, 0 and 255 for
// wrapping, noise for everything else).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "media/png_filters.h"

namespace {

struct PaddedRow {
    std::vector<uint8_t> bytes;
    explicit PaddedRow(size_t n) : bytes(kPngFilterPad + n) {}
    uint8_t* data() { return bytes.data() + kPngFilterPad; }
};

std::vector<uint8_t> Filter(PngFilterRowFn filter, PaddedRow& row, PaddedRow& above, size_t n, size_t bpp)
{
    std::vector<uint8_t> out(n + 1, 0xCD), scratch(4 * n + 1, 0xCD);
    filter(row.data(), above.data(), n, bpp, out.data(), scratch.data());
    return out;
}

TEST(PngFilters, VectorPathsGiveTheReferenceBytes)
{
    PngFilterRowFn reference = GetPngFilterRow(PNGFILTER_SCALAR);
    ASSERT_NE(reference, nullptr);
    ASSERT_NE(ChosenPngFilterRow(), nullptr);
    std::mt19937 random(7);
    int paths = 0, picked[5] = {};
    for (uint32_t path = PNGFILTER_SSE2; path < PNGFILTER_PATHS; ++path) {
        PngFilterRowFn filter = GetPngFilterRow(path);
        if (!filter)
            continue;  // the processor lacks it
        ++paths;
        for (size_t bpp : {3u, 4u})
            for (size_t n = bpp; n <= 200; n += bpp)
                for (int kind = 0; kind < 6; ++kind) {
                    PaddedRow row(n), above(n);
                    for (size_t i = 0; i < n; ++i) {
                        uint32_t r = random();
                        switch (kind) {
                        case 0: row.data()[i] = r; above.data()[i] = r >> 8; break;       // noise
                        case 1: row.data()[i] = (r & 1) * 255; above.data()[i] = (r & 2) ? 255 : 0; break;
                        case 2: row.data()[i] = above.data()[i] = r & 3; break;           // ties
                        case 3: row.data()[i] = 100 + (r & 7); above.data()[i] = 100 + (r >> 3 & 7); break;
                        case 4: row.data()[i] = static_cast<uint8_t>(i * 5); above.data()[i] = static_cast<uint8_t>(i * 5); break;
                        default: row.data()[i] = static_cast<uint8_t>(i); break;         // the first row
                        }
                    }
                    std::vector<uint8_t> want = Filter(reference, row, above, n, bpp);
                    ASSERT_EQ(Filter(filter, row, above, n, bpp), want) << "path " << path << " n " << n << " bpp "
                                                                         << bpp << " kind " << kind;
                    ++picked[want[0]];
                }
    }
    EXPECT_GE(paths, 1);
    // Every filter won somewhere, so every vector filter was compared.
    for (int count : picked)
        EXPECT_GT(count, 0);
}

// The reference against the format's own definitions on one pixel row,
// computed here the long way for each filter.
TEST(PngFilters, ReferenceFollowsTheFormat)
{
    const size_t bpp = 3, n = 9;
    PaddedRow row(n), above(n);
    const uint8_t x[n] = {10, 200, 30, 250, 0, 35, 9, 100, 255};
    const uint8_t b[n] = {12, 190, 33, 240, 10, 30, 0, 128, 255};
    std::memcpy(row.data(), x, n);
    std::memcpy(above.data(), b, n);
    std::vector<uint8_t> out(n + 1), scratch(4 * n);
    GetPngFilterRow(PNGFILTER_SCALAR)(row.data(), above.data(), n, bpp, out.data(), scratch.data());
    for (size_t i = 0; i < n; ++i) {
        int a = i >= bpp ? x[i - bpp] : 0, c = i >= bpp ? b[i - bpp] : 0;
        int p = a + b[i] - c, pa = std::abs(p - a), pb = std::abs(p - b[i]), pc = std::abs(p - c);
        int paeth = pa <= pb && pa <= pc ? a : pb <= pc ? b[i] : c;
        EXPECT_EQ(scratch[i], static_cast<uint8_t>(x[i] - a));
        EXPECT_EQ(scratch[n + i], static_cast<uint8_t>(x[i] - b[i]));
        EXPECT_EQ(scratch[2 * n + i], static_cast<uint8_t>(x[i] - (a + b[i]) / 2));
        EXPECT_EQ(scratch[3 * n + i], static_cast<uint8_t>(x[i] - paeth));
    }
    EXPECT_EQ(out[0], 2);  // Up: the rows are close
    EXPECT_EQ(0, std::memcmp(out.data() + 1, scratch.data() + n, n));
}

}  // namespace

// The widening of RGB rows: every path gives the reference's words for
// every length around the vector sizes, from every alignment, and writes
// nothing past the row; the reference puts red high and alpha at 255.
TEST(PngFilters, RgbRowsWidenAsTheReference)
{
    PngRgbRowFn reference = GetPngRgbRow(PNGFILTER_SCALAR);
    ASSERT_NE(reference, nullptr);
    ASSERT_NE(ChosenPngRgbRow(), nullptr);
    const uint8_t pixel[3] = {0x12, 0x34, 0x56};
    uint32_t word = 0;
    reference(pixel, &word, 1);
    EXPECT_EQ(word, 0xFF123456u);
    std::mt19937 random(11);
    for (uint32_t path = PNGFILTER_SCALAR; path < PNGFILTER_PATHS; ++path) {
        PngRgbRowFn widen = GetPngRgbRow(path);
        if (!widen)
            continue;  // the processor lacks it
        for (size_t count = 0; count <= 70; ++count)
            for (size_t skew = 0; skew < 4; ++skew) {
                // The row ends the buffer, so a read past it is the sanitizer's to catch.
                std::vector<uint8_t> rgb(skew + 3 * count);
                for (uint8_t& b : rgb)
                    b = static_cast<uint8_t>(random());
                std::vector<uint32_t> want(count + 1, 0xDEADBEEF), got(count + 1, 0xDEADBEEF);
                reference(rgb.data() + skew, want.data(), count);
                widen(rgb.data() + skew, got.data(), count);
                ASSERT_EQ(got, want) << "path " << path << " count " << count << " skew " << skew;
                EXPECT_EQ(got[count], 0xDEADBEEFu);
            }
    }
}
