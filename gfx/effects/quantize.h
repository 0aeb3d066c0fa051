// Colour reduction: a palette of at most 256 colours for a picture and one
// palette index per pixel, by median cut over a 15-bit colour histogram,
// mapped with or without Floyd-Steinberg error diffusion. Used by the
// effects (QuantizeBitMap, the dithered MonochromeBitMap) and by the GIF
// writer of the image savers.
#pragma once

#include <cstdint>

struct QuantizeParams {
    const void* pixels;
    uint32_t format;         // any colour format 0-13
    uint32_t bytesPerPixel;  // must be the format's
    int32_t w;
    int32_t h;
    int32_t rowLength;  // in pixels
    uint8_t* indices;   // w * h bytes, rows without padding
    uint32_t* palette;  // 256 words, 0x00RRGGBB; entries past the count are 0
    uint32_t count;     // in: colours wanted (clamped to 2..256); out: palette entries made
    int32_t transparent;       // RGB colour whose pixels get an entry of their own; -1 none
    uint32_t flags;            // no flags are defined yet
    uint32_t dither;           // non-zero: Floyd-Steinberg error diffusion
    int32_t transparentIndex;  // out: the transparent colour's index, -1 when none
};

// 0, ERR_PIXELFORMAT for a format/size mismatch, ERR_ARGS for a bad size or
// missing buffer, ERR_MEM when the work tables cannot be had.
uint32_t QuantizeImage(QuantizeParams* block);

// The effects' entry: packs its arguments for QuantizeImage. *count is the
// colours wanted on entry and the entries made on return; *extra (optional)
// receives the transparent colour's index or -1.
uint32_t BuildQuantizePalette(const void* pixels, uint32_t format, uint32_t bytesPerPixel,
                              int32_t w, int32_t h, int32_t rowLength, uint8_t* indices,
                              uint32_t* palette, uint32_t* count, int32_t transparent,
                              uint32_t flags, uint32_t dither, int32_t* extra);
