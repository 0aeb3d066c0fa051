// The GIF writer: a file of pictures of palette indices, each with its own
// palette. The file appears under its name only when CloseGifWriter
// succeeds; until then it is written beside it.
#pragma once

#include <cstdint>

struct GifWriter;

// Starts the file: 0 or an error code (the writer is then null, or must
// still be closed when it is set).
uint32_t SaveGif(const char* file, int32_t width, int32_t height, GifWriter** outWriter);

// Writes one picture at the top left: indices one byte per pixel, a palette
// of ARGB colours (the count clamped to 2..256), a transparent index or -1.
// The arguments without a name here are reserved (pass 0).
uint32_t WriteAnimGifFrame(GifWriter* writer, const uint8_t* indices, int32_t width, int32_t height, int32_t,
                           const uint32_t* palette, int32_t colours, int32_t transparentIndex, int32_t, int32_t);

// Ends and closes the file and frees the writer: 0 or the first error of
// the writer's life; on error the old file under the name is left alone.
uint32_t CloseGifWriter(GifWriter* writer);
