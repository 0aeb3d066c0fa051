// The text state: the font record every text operation reads and the font
// currently selected for text output. The default font is the built-in
// bitmap font "topaz" at size 8, which needs no file and no font engine, so
// that text works from the first display on.
#pragma once

#include <cstdint>

// The font record. GetAttribute reads the name, size, line height,
// ascender, scalable and anti-alias fields.
struct FontObject {
    char name[256];
    int32_t size;
    int32_t lineHeight;
    int32_t ascender;
    int32_t descender;
    uint32_t scalable;
    uint32_t antiAlias;
    // Bitmap fonts: one row byte per glyph row, cellHeight rows per glyph,
    // for the characters firstChar..lastChar.
    const uint8_t* glyphs;
    uint32_t firstChar;
    uint32_t lastChar;
    uint32_t cellWidth;
    uint32_t cellHeight;
    // Fonts opened from a file: the font engine's face and the file's
    // bytes, which the face reads from (both null for the built-in font).
    void* face;
    uint8_t* fileData;
};

extern const uint8_t TopazGlyphs[95 * 8];

// Opens the default font and makes it current; 0 or an error code.
// Calling it again keeps the state it built the first time.
int InitTextState();
// The font selected for text output; the default font once InitTextState
// has run, null before.
FontObject* GetCurrentFont();
void SetCurrentFont(FontObject* font);
// The built-in default font record (valid after InitTextState).
FontObject* GetDefaultFont();
// The glyph rows of a character, or null when the font has none for it.
const uint8_t* GetFontGlyph(const FontObject* font, uint32_t character);
// Forgets the current font and the default font record (shutdown).
void FreeTextState();
