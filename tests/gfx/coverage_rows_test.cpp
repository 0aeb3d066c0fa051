// The vector member of the coverage blend row against the scalar reference
// on random rows of every width from 1 to 67 and random offsets, with
// coverage that mixes runs of 0 and 255 with edges.
#include <gtest/gtest.h>

#include <vector>

#include "gfx/coverage_rows.h"

namespace {

uint32_t Next(uint32_t& s)
{
    s = s * 1664525u + 1013904223u;
    return s;
}

TEST(CoverageBlendRow, VectorMemberMatchesTheScalarReference)
{
    uint32_t seed = 12345;
    for (int32_t w = 1; w <= 67; ++w) {
        for (int round = 0; round < 8; ++round) {
            int32_t offset = static_cast<int32_t>(Next(seed) % 5);
            std::vector<uint32_t> pixels(static_cast<size_t>(w + offset));
            std::vector<uint8_t> coverage(static_cast<size_t>(w + offset));
            for (auto& p : pixels) p = Next(seed);
            for (auto& c : coverage) {
                uint32_t r = Next(seed) >> 24;
                c = static_cast<uint8_t>(r < 90 ? 0 : r < 180 ? 255 : Next(seed) >> 24);
            }
            uint32_t colour = Next(seed);
            std::vector<uint32_t> want = pixels, got = pixels;
            CoverageBlendRow32Scalar(want.data() + offset, coverage.data() + offset, w, colour);
            CoverageBlendRow32Sse2(got.data() + offset, coverage.data() + offset, w, colour);
            ASSERT_EQ(got, want) << "width " << w << " offset " << offset;
        }
    }
}

TEST(CoverageBlendRow, EdgesOfTheRule)
{
    // White over black at 128 floors 127.5; 255 writes the colour without
    // its alpha; 0 keeps even the destination's alpha byte.
    std::vector<uint32_t> row = {0xFF000000, 0, 0x12345678, 0, 0};
    const uint8_t coverage[5] = {128, 255, 0, 1, 254};
    CoverageBlendRow32(row.data(), coverage, 5, 0xFFFFFFFF);
    EXPECT_EQ(row, (std::vector<uint32_t>{0x007F7F7F, 0x00FFFFFF, 0x12345678, 0x00000000, 0x00FDFDFD}));
}

}  // namespace
