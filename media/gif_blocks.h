// The pieces of the GIF decoder (media/gif_codec.cpp) that the animated-GIF
// reader (media/gif_anim.cpp) shares, so that both read blocks and codes
// with the same bounds.
#pragma once

#include <cstddef>
#include <cstdint>

struct ByteBuffer;

// Joins the data sub-blocks at *position into out (null: skips them) and
// moves *position past the terminator. 0, ERR_LOADPICTURE when the data ends
// first (*position then lies at the end), or ERR_MEM.
uint32_t GifReadSubBlocks(const uint8_t* data, size_t size, size_t* position, ByteBuffer* out);

// Decodes LZW codes into count indices; stops at the end code or a full
// picture (indices not reached keep their value). 0, ERR_MEM, or
// ERR_LOADPICTURE for an impossible code or data that ends before either.
uint32_t GifDecodeLzw(const uint8_t* data, size_t size, uint32_t minimumBits, uint8_t* indices, size_t count);

// Reads entries RGB triples as opaque ARGB words. 0 or ERR_LOADPICTURE.
uint32_t GifReadPalette(const uint8_t* data, size_t size, size_t* position, uint32_t entries, uint32_t* palette);
