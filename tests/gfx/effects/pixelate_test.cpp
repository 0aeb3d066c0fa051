// Pixelation against a reference that looks up each pixel's cell corner.
#include <gtest/gtest.h>

#include <vector>

#include "gfx/effects/pixelate.h"
#include "gfx/picture_test_helpers.h"

namespace {

using picture_test::BitAt;
using picture_test::Lcg;

TEST(Pixelate, CellsTakeTheirCornerOrTurnInvisible)
{
    uint32_t seed = 4;
    const int32_t w = 11, h = 7, rowLength = 13, maskBpr = 2, alphaBpr = 12;
    for (uint32_t bpp : {4u, 2u})
        for (int planes = 0; planes < 4; ++planes)
            for (int32_t cell : {1, 2, 3, 4, 11}) {
                std::vector<uint32_t> pixels(static_cast<size_t>(rowLength) * h);
                std::vector<uint8_t> mask(static_cast<size_t>(maskBpr) * h), alpha(static_cast<size_t>(alphaBpr) * h);
                for (auto& p : pixels) p = Lcg(seed);
                for (auto& b : mask) b = static_cast<uint8_t>(Lcg(seed));
                for (auto& b : alpha) b = static_cast<uint8_t>(Lcg(seed) % 3 == 0 ? 0 : Lcg(seed));
                bool hasMask = planes & 1, hasAlpha = planes & 2;
                // 16-bit rows are read as twice as many 16-bit pixels.
                int32_t rl = bpp == 4 ? rowLength : 2 * rowLength;
                std::vector<uint32_t> copy = pixels;
                std::vector<uint8_t> copyMask = mask, copyAlpha = alpha;
                PixelateParams b{pixels.data(), rl, hasMask ? mask.data() : nullptr, maskBpr,
                                 hasAlpha ? alpha.data() : nullptr, alphaBpr, copy.data(), rl,
                                 hasMask ? copyMask.data() : nullptr, maskBpr,
                                 hasAlpha ? copyAlpha.data() : nullptr, alphaBpr, w, h, cell};
                if (bpp == 4) PixelatePixels32(&b);
                else PixelatePixels16(&b);
                auto pixel = [&](const std::vector<uint32_t>& v, int32_t x, int32_t y) -> uint32_t {
                    if (bpp == 4) return v[static_cast<size_t>(rl) * y + x];
                    return reinterpret_cast<const uint16_t*>(v.data())[static_cast<size_t>(rl) * y + x];
                };
                SCOPED_TRACE(testing::Message() << bpp << " planes " << planes << " cell " << cell);
                for (int32_t y = 0; y < h; ++y)
                    for (int32_t x = 0; x < w; ++x) {
                        if (cell < 2) {
                            ASSERT_EQ(pixel(pixels, x, y), pixel(copy, x, y)) << x << "," << y;
                            continue;
                        }
                        int32_t cx = x / cell * cell, cy = y / cell * cell;
                        uint8_t a = copyAlpha[static_cast<size_t>(alphaBpr) * cy + cx];
                        bool visible = (!hasMask && !hasAlpha) || (hasMask && BitAt(&copyMask[maskBpr * cy], cx)) ||
                                       (hasAlpha && a != 0);
                        ASSERT_EQ(pixel(pixels, x, y), visible ? pixel(copy, cx, cy) : pixel(copy, x, y)) << x << "," << y;
                        if (hasMask) {
                            ASSERT_EQ(BitAt(&mask[maskBpr * y], x), visible) << x << "," << y;
                        }
                        if (hasAlpha) {
                            ASSERT_EQ(alpha[static_cast<size_t>(alphaBpr) * y + x], visible ? a : 0) << x << "," << y;
                        }
                    }
                for (int32_t y = 0; y < h; ++y)
                    for (int32_t x = w; x < rl; ++x) ASSERT_EQ(pixel(pixels, x, y), pixel(copy, x, y));
            }
}

}  // namespace
