// The clipboard. With no desktop to share it with, it lives in the process:
// one text (any bytes, zeros included) or one picture (ARGB pixels, their
// size and whether their alpha bytes count) at a time, copied in when it is
// set, so that whatever it was taken from may go away afterwards.
#pragma once

#include <cstddef>
#include <cstdint>

// What the clipboard holds: the numbers of the scripts' CLIPBOARD_* constants.
enum : uint32_t { OSCLIPBOARD_EMPTY = 0, OSCLIPBOARD_TEXT = 1, OSCLIPBOARD_IMAGE = 2 };

struct OsClipboardRecord {
    const char* text;  // a text: textLength bytes
    size_t textLength;
    const uint32_t* pixels;  // a picture: width x height words 0xAARRGGBB, rows packed tight
    int32_t width;
    int32_t height;
    uint32_t alpha;  // non-zero: the alpha bytes are the picture's, else it is opaque
};

// Puts a copy of the record's text or picture on the clipboard in place of
// what it held. 0; ERR_CLIPFORMAT for another type; ERR_BADDIMENSIONS for a
// picture without pixels or below 1 x 1; ERR_MEM, the clipboard then keeping
// what it held.
uint32_t OsSetClipboard(uint32_t type, const OsClipboardRecord* record);

// What the clipboard holds: its type, and for a text or a picture the record
// pointing into the clipboard's own copy, which stays until the clipboard is
// next set or cleared (the caller copies it out before). Always 0: the
// process's own clipboard cannot fail to open.
uint32_t OsGetClipboard(OsClipboardRecord* out, uint32_t* type);
uint32_t OsPeekClipboard(uint32_t* type);

// Empties the clipboard and frees what it held. Always 0.
uint32_t OsClearClipboard();
