// The default text state with its built-in font, and corner-point
// transforms checked against hand-computed rotations.
#include <gtest/gtest.h>

#include <cstring>

#include "draw/text_state.h"
#include "draw/transform.h"

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

struct TransformCase {
    const char* name;
    double degrees, sx, sy;
    PolygonBounds expect;
};

TEST(TransformPolygon, RectangleCornersAboutTheirCentre)
{
    // A 100 x 50 rectangle at (10, 20), turned about its centre (60, 45).
    const TransformCase cases[] = {
        {"identity", 0, 1, 1, {10, 20, 100, 50}},
        {"quarter turn", 90, 1, 1, {35, -5, 50, 100}},
        {"half turn", 180, 1, 1, {10, 20, 100, 50}},
        {"negative quarter", -90, 1, 1, {35, -5, 50, 100}},
        {"double size", 0, 2, 2, {-40, -5, 200, 100}},
        {"mirror", 0, -1, 1, {10, 20, 100, 50}},
        // Half extents 75 / sqrt(2) = 53.03 about (60, 45), rounded outwards.
        {"eighth turn", 45, 1, 1, {6, -9, 108, 108}},
    };
    for (const TransformCase& c : cases) {
        SCOPED_TRACE(c.name);
        PolygonPoint p[4] = {{10, 20}, {110, 20}, {110, 70}, {10, 70}};
        PolygonBounds b = TransformPolygon(p, 4, 60, 45, MakeRotateScaleMatrix(c.degrees, c.sx, c.sy));
        EXPECT_EQ(b.x, c.expect.x);
        EXPECT_EQ(b.y, c.expect.y);
        EXPECT_EQ(b.width, c.expect.width);
        EXPECT_EQ(b.height, c.expect.height);
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
    EXPECT_EQ(empty.x, 3);
    EXPECT_EQ(empty.y, -3);
    EXPECT_EQ(empty.width, 0);
}

}  // namespace
