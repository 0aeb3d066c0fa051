// The pixelate kernels behind PixelateBitMap: the picture cut into square
// cells from its top-left corner, each cell taking the colour and
// visibility of its top-left pixel in an untouched copy of the picture.
#pragma once

#include <cstdint>

struct PixelateParams {
    void* pixels;  // the picture, w x h
    int32_t rowLength;
    uint8_t* mask;  // its mask plane, or null
    int32_t maskBytesPerRow;
    uint8_t* alpha;  // its alpha plane, or null
    int32_t alphaBytesPerRow;
    const void* copyPixels;  // the copy read from, same format and size
    int32_t copyRowLength;
    const uint8_t* copyMask;  // the copy's planes, null where the picture has none
    int32_t copyMaskBytesPerRow;
    const uint8_t* copyAlpha;
    int32_t copyAlphaBytesPerRow;
    int32_t w;
    int32_t h;
    int32_t cell;  // side of a cell; below 2 nothing is done
};

// A visible corner (mask bit set, alpha non-zero, or neither plane) fills
// its cell with its colour and makes the cell visible with its alpha; an
// invisible one clears the cell's mask bits or alpha and leaves its colours.
void PixelatePixels32(const PixelateParams* block);
void PixelatePixels16(const PixelateParams* block);
