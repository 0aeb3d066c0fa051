// The pieces of the GIF decoder (media/gif_codec.cpp) that the animated-GIF
// reader (media/gif_anim.cpp) shares, so that both read blocks and codes
// with the same bounds and cut frames to the picture the same way.
#pragma once

#include <cstddef>
#include <cstdint>

struct ByteBuffer;

// Joins the data sub-blocks at *position into out (null: skips them) and
// moves *position past the terminator. 0, ERR_LOADPICTURE when the data ends
// first (*position then lies at the end), or ERR_MEM.
uint32_t GifReadSubBlocks(const uint8_t* data, size_t size, size_t* position, ByteBuffer* out);

// Takes the indices one row at a time and hands each finished row on, so
// that no frame-sized buffer of indices exists.
struct GifIndexRows {
    uint8_t* row;  // one row of indices
    uint32_t width;
    uint32_t column;
    uint32_t delivered;  // rows handed on so far
    bool (*put)(GifIndexRows*);  // false stops the decoding: the run is being aborted
};

// Decodes LZW codes into count indices, row by row; stops at the end code
// or after count indices (a partial last row stays in rows->row, from
// column 0 to rows->column). 0, ERR_MEM, ERR_USERABORT, or ERR_LOADPICTURE
// for an impossible code or data that ends before either.
uint32_t GifDecodeLzw(const uint8_t* data, size_t size, uint32_t minimumBits, GifIndexRows* rows, size_t count);

// Reads entries RGB triples as opaque ARGB words. 0 or ERR_LOADPICTURE.
uint32_t GifReadPalette(const uint8_t* data, size_t size, size_t* position, uint32_t entries, uint32_t* palette);

// The picture row of the n-th row in file order (interlaced pictures come
// in four passes).
uint32_t GifPictureRow(uint32_t sourceRow, uint32_t height, bool interlaced);

// How many rows in file order must be decoded for the first `shown` rows of
// a picture of `height` rows to be complete: the rows after the last shown
// one are never decoded. 0 when shown is 0.
uint32_t GifRowsToDecode(uint32_t height, uint32_t shown, bool interlaced);
