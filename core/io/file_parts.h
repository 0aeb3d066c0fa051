// File parts of names as messages show them. A ":::chunk" name stands for a
// file linked into the applet; a message names it by the file it came from
// (the text between its first '*' and the following '?').
#pragma once

#include <cstddef>

// Writes the file part of name to out (cut to fit, always terminated when
// outSize > 0): for a chunk name, of its embedded name. A text of two or more
// characters gives the part after its last '/' or '\', failing that the part
// after its first ':', failing that the whole text; the runtime's other
// ":::" names (memory names) are kept whole. out may be name itself.
// Answers the length written.
size_t ChunkNameToFileName(const char* name, char* out, size_t outSize);
