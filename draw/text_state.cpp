// The default text state. The default font is a static record over the
// built-in glyph table; fonts opened later by the text library replace it as
// the current font, and shutdown falls back to no font at all.
#include "draw/text_state.h"

#include <cstring>

namespace {

FontObject g_topaz;
FontObject* g_defaultFont;
FontObject* g_currentFont;

}  // namespace

int InitTextState()
{
    if (!g_defaultFont) {
        g_topaz = FontObject{};
        std::strcpy(g_topaz.name, "topaz");
        g_topaz.size = 8;
        g_topaz.lineHeight = 8;
        g_topaz.ascender = 7;
        g_topaz.descender = 1;
        g_topaz.glyphs = TopazGlyphs;
        g_topaz.firstChar = 32;
        g_topaz.lastChar = 126;
        g_topaz.cellWidth = 8;
        g_topaz.cellHeight = 8;
        g_defaultFont = &g_topaz;
    }
    if (!g_currentFont) g_currentFont = g_defaultFont;
    return 0;
}

FontObject* GetCurrentFont() { return g_currentFont; }

void SetCurrentFont(FontObject* font) { g_currentFont = font ? font : g_defaultFont; }

FontObject* GetDefaultFont() { return g_defaultFont; }

const uint8_t* GetFontGlyph(const FontObject* font, uint32_t character)
{
    if (!font || !font->glyphs || character < font->firstChar || character > font->lastChar)
        return nullptr;
    return font->glyphs + (character - font->firstChar) * font->cellHeight;
}

void FreeTextState()
{
    g_currentFont = nullptr;
    g_defaultFont = nullptr;
}
