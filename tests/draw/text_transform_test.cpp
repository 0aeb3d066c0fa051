// The default text state with its built-in font, corner-point transforms
// checked against hand-computed rotations, and transformed picture planes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "core/io/error_codes.h"
#include "draw/text_state.h"
#include "draw/transform.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/effects/transform_bounds.h"
#include "gfx/picture_test_helpers.h"

namespace {

TEST(TextState, TheDefaultFontIsCurrentUntilFreed)
{
    FreeTextState();
    EXPECT_EQ(GetCurrentFont(), nullptr);
    ASSERT_EQ(InitTextState(), 0);
    FontObject* f = GetCurrentFont();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->lineHeight, f->ascender + f->descender);
    // Switching back from another font falls to the default, not to none.
    SetCurrentFont(nullptr);
    EXPECT_EQ(GetCurrentFont(), f);
    FreeTextState();
    FreeTextState();
    EXPECT_EQ(GetCurrentFont(), nullptr);
}

TEST(TextState, GlyphsStayInsideTheirCellAndOnlyDescendersUseTheLastRow)
{
    ASSERT_EQ(InitTextState(), 0);
    const FontObject* f = GetCurrentFont();
    const char* descenders = "gjpqy,;_";
    for (uint32_t c = 32; c <= 126; ++c) {
        const uint8_t* g = GetFontGlyph(f, c);
        ASSERT_NE(g, nullptr) << c;
        int lit = 0;
        for (int row = 0; row < 8; ++row) {
            EXPECT_EQ(g[row] & ~0x7C, 0) << "character " << c << " leaves its 5 columns";
            lit += __builtin_popcount(g[row]);
        }
        if (c == ' ') {
            EXPECT_EQ(lit, 0);
        } else {
            EXPECT_GT(lit, 0) << "character " << c << " is blank";
        }
        if (!std::strchr(descenders, static_cast<int>(c))) {
            EXPECT_EQ(g[7], 0) << "character " << static_cast<char>(c) << " below the baseline";
        }
    }
    // Distinct glyphs for characters that are easily confused.
    EXPECT_NE(std::memcmp(GetFontGlyph(f, 'O'), GetFontGlyph(f, '0'), 8), 0);
    EXPECT_NE(std::memcmp(GetFontGlyph(f, 'l'), GetFontGlyph(f, '1'), 8), 0);
    EXPECT_EQ(GetFontGlyph(f, 31), nullptr);
    EXPECT_EQ(GetFontGlyph(f, 127), nullptr);
    FreeTextState();
}

// A box as x, y, width and height.
std::array<int32_t, 4> Box(const PolygonBounds& b) { return {b.x, b.y, b.width, b.height}; }
std::array<int32_t, 4> Box(const ObjectPlanes& p) { return {p.x, p.y, p.width, p.height}; }

struct TransformCase { const char* name; double degrees, sx, sy; PolygonBounds expect; };

TEST(TransformPolygon, RectangleCornersAboutTheirCentre)
{
    // A 100 x 50 rectangle at (10, 20), turned about its centre (60, 45).
    const TransformCase cases[] = {
        {"identity", 0, 1, 1, {10, 20, 100, 50}},
        {"quarter turn", 90, 1, 1, {35, -5, 50, 100}},
        {"double size", 0, 2, 2, {-40, -5, 200, 100}},
        // Half extents 75 / sqrt(2) = 53.03 about (60, 45), rounded outwards.
        {"eighth turn", 45, 1, 1, {6, -9, 108, 108}},
    };
    for (const TransformCase& c : cases) {
        SCOPED_TRACE(c.name);
        PolygonPoint p[4] = {{10, 20}, {110, 20}, {110, 70}, {10, 70}};
        PolygonBounds b = TransformPolygon(p, 4, 60, 45, MakeRotateScaleMatrix(c.degrees, c.sx, c.sy));
        EXPECT_EQ(Box(b), Box(c.expect));
    }
}

TEST(TransformPolygon, CounterClockwiseOnScreen)
{
    // A point right of the anchor goes up (smaller y) for +90 degrees.
    PolygonPoint p{10, 0};
    TransformPolygon(&p, 1, 0, 0, MakeRotateScaleMatrix(90, 1, 1));
    EXPECT_DOUBLE_EQ(p.x, 0);
    EXPECT_DOUBLE_EQ(p.y, -10);
    PolygonBounds empty = TransformPolygon(nullptr, 0, 3.5, -2.5, MakeRotateScaleMatrix(0, 1, 1));
    EXPECT_EQ(Box(empty), (std::array<int32_t, 4>{3, -3, 0, 0}));
}

// A picture turned a quarter keeps its kinds of plane, takes the turned
// size and stands where its corners land; a shape alone comes back as a
// shape; a picture without planes or size is refused.
TEST(TransformObjectPlanes, CopiesThePlanesAndPlacesThemWhereTheCornersLand)
{
    const double quarter[4] = {0, 1, -1, 0}, flat[4] = {1, 0, 0, 0};
    picture_test::Owned own;
    BitMapHandle* colour = own(AllocColorBitMap(6, 2, 0, nullptr));
    BitMapHandle* alpha = own(AllocAlphaBitMap(6, 2, 1, nullptr, 0));
    BitMapHandle* mask = own(AllocMaskBitMap(nullptr, 6, 2, 1, nullptr, 0));
    ASSERT_TRUE(colour && alpha && mask);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 6; ++x) WriteBitMapPixel(colour, x, y, 0xFF102030u + x, 0);
    int32_t x = 0, y = 0, w = 0, h = 0;
    ComputeTransformBounds(10, 20, 6, 2, 0.5, 0.5, quarter, &x, &y, &w, &h);

    ObjectPlanes out;
    auto turn = [&](ObjectPlanes in, const double* m) { return TransformObjectPlanes(in, m, 0.5, 0.5, 0, &out); };
    ASSERT_EQ(turn(ObjectPlanes{colour, nullptr, alpha, 10, 20, 6, 2}, quarter), 0u);
    EXPECT_NE(out.bitmap, nullptr);
    EXPECT_NE(out.alpha, nullptr);
    EXPECT_EQ(out.mask, nullptr);
    EXPECT_EQ(Box(out), (std::array<int32_t, 4>{x, y, 2, 6}));
    // The row of the picture becomes a column: its first and last pixels
    // end at opposite ends of it.
    uint32_t ends[2] = {ReadBitMapPixel(out.bitmap, 0, 0, 0) & 0xFFFFFF, ReadBitMapPixel(out.bitmap, 0, 5, 0) & 0xFFFFFF};
    std::sort(ends, ends + 2);
    EXPECT_EQ(ends[0], 0x102030u);
    EXPECT_EQ(ends[1], 0x102035u);
    own(out.bitmap), own(out.alpha);

    ASSERT_EQ(turn(ObjectPlanes{nullptr, mask, nullptr, 10, 20, 6, 2}, quarter), 0u);
    EXPECT_EQ(out.bitmap, nullptr);
    ASSERT_NE(out.mask, nullptr);
    EXPECT_EQ(Box(out), (std::array<int32_t, 4>{x, y, 2, 6}));
    own(out.mask);

    EXPECT_EQ(turn(ObjectPlanes{nullptr, nullptr, nullptr, 0, 0, 6, 2}, quarter), uint32_t{ERR_WRONGUSAGE});
    EXPECT_EQ(turn(ObjectPlanes{colour, nullptr, nullptr, 0, 0, 0, 2}, quarter), uint32_t{ERR_WRONGUSAGE});
    EXPECT_NE(turn(ObjectPlanes{colour, nullptr, nullptr, 0, 0, 6, 2}, flat), 0u);
    EXPECT_EQ(out.bitmap, nullptr);
}

}  // namespace
