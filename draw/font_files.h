// Fonts opened by scripts and by resource preloading: the built-in "topaz"
// by name, every other font from a file (or a font linked into the applet)
// through FreeType. The text library keeps them as FontNode records.
#pragma once

#include <cstdint>

struct FontObject;
struct VmState;

// OpenFont(id, font[, size][, options]): opens a font and records it under
// the id (Nil: a new handle, returned). The size is in pixels, 8 when not
// given; the options table ("engine", "cache") is accepted as resource
// preloading passes it.
uint32_t CmdOpenFont(VmState* vm);

// Frees a font record with its face and file bytes (the built-in default
// record is left alone); null is allowed.
void FreeFontObject(FontObject* font);
// Closes the font engine once no font needs it (shutdown).
void CloseFontEngine();
