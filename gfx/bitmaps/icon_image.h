// The image body of an icon file, written from an ARGB picture: the pixel
// rows bottom row first, then the AND mask rows (a set bit is transparent).
#pragma once

#include <cstddef>
#include <cstdint>

struct StreamHandle;

// Bytes of the body: w * 4 per pixel row and IconMaskBytesPerRow per mask
// row; 0 when the size is out of range.
uint32_t IconMaskBytesPerRow(int32_t w);
size_t IconImageBodySize(int32_t w, int32_t h);

// With a buffer, the body goes in after its first 40 bytes (the caller's
// header), which must leave room for IconImageBodySize bytes; otherwise it
// is written to the stream. 0, ERR_MEM or ERR_WRITE.
uint32_t WriteIconImage(const uint32_t* argb, int32_t w, int32_t h, int32_t rowLength,
                        uint8_t* buffer, StreamHandle* stream);
