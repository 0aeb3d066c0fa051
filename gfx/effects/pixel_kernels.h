// Per-pixel kernels behind the simple picture operations. They work on raw
// pixels, sizes and row lengths handed over by their front ends; they never
// lock, allocate or report errors. 32-bit members serve formats 10-13,
// 16-bit members formats 0-7; both work in the native layout (ARGB or
// RGB565) and convert other formats on the way in and out.
#pragma once

#include <cstdint>

struct TintParams {
    void* pixels;
    int32_t x;
    int32_t y;
    int32_t w;
    int32_t h;
    uint32_t colour;  // ARGB for the 32-bit member, RGB565 for the 16-bit one
    uint32_t level;   // 0..256 toward the colour
    int32_t rowLength;
    uint32_t format;
};

struct MixParams {
    const void* srcPixels;
    void* dstPixels;
    const uint8_t* srcMaskRow;  // null: every pixel mixes
    int32_t maskBitOffset;
    int32_t w;
    int32_t h;
    uint32_t level;
    uint32_t format;
    int32_t srcRowLength;
    int32_t dstRowLength;
    int32_t maskBytesPerRow;
};

struct FlipParams {
    void* pixels;
    int32_t w;
    int32_t h;
    int32_t rowLength;
    uint8_t* mask;
    int32_t maskBytesPerRow;
    uint8_t* alpha;
    int32_t alphaBytesPerRow;
    uint32_t horizontal;
    uint32_t bytesPerPixel;
    uint8_t* scratchRow;  // at least maskBytesPerRow bytes, or a pixel row for vertical flips
};

struct CopyMaskParams {
    const void* srcPixels;
    void* dstPixels;
    const uint8_t* srcMask;
    uint8_t* dstMask;
    const uint8_t* srcAlpha;
    uint8_t* dstAlpha;
    int32_t srcRowLength;
    int32_t dstRowLength;
    int32_t srcMaskBytesPerRow;
    int32_t dstMaskBytesPerRow;
    int32_t srcAlphaBytesPerRow;
    int32_t dstAlphaBytesPerRow;
    int32_t sx;
    int32_t sy;
    int32_t w;
    int32_t h;
    int32_t dx;
    int32_t dy;
    uint32_t bytesPerPixel;
};

struct DissolveParams {
    const uint8_t* srcPlane;  // mask bits, or bytes with byteOutput; may be null
    uint8_t* dstPlane;
    int32_t w;
    int32_t h;
    int32_t srcBytesPerRow;
    int32_t dstBytesPerRow;
    const uint8_t* bytePlane;  // w * h bytes, no row padding
    uint32_t byteOutput;
    uint32_t invert;
};

void BuildMaskFromColor32(const uint32_t* pixels, uint8_t* maskRow, int32_t w, int32_t h,
                          int32_t maskBytesPerRow, uint32_t colour, int32_t rowLength,
                          uint32_t compareMask);
void BuildMaskFromColor16(const uint16_t* pixels, uint8_t* maskRow, int32_t w, int32_t h,
                          int32_t maskBytesPerRow, uint32_t colour, int32_t rowLength);

// pairs: {from, to} words ended by a from word of 0xFFFFFFFF.
void ReplaceColorsPixels32(int32_t w, int32_t h, const uint32_t* pairs, uint32_t* pixels,
                           int32_t rowLength, uint32_t compareMask);
void ReplaceColorsPixels16(int32_t w, int32_t h, const uint32_t* pairs, uint16_t* pixels,
                           int32_t rowLength);

void GrayPixels32(uint32_t* pixels, int32_t w, int32_t h, uint32_t format, int32_t rowLength,
                  int threshold);
void GrayPixels16(uint16_t* pixels, int32_t w, int32_t h, uint32_t format, int32_t rowLength,
                  int threshold);

void InvertPixels32(uint32_t* pixels, int32_t w, int32_t h, int32_t rowLength);
void InvertPixels16(uint16_t* pixels, int32_t w, int32_t h, int32_t rowLength);
void InvertBytePlane(uint8_t* plane, int32_t rows, int32_t bytesPerRow);

void TintPixels32(const TintParams* block);
void TintPixels16(const TintParams* block);

void MixPixels32(const MixParams* block);
void MixPixels16(const MixParams* block);

void FlipPixels(const FlipParams* block);
void MirrorRowPixels32(uint32_t* pixels, int32_t w, int32_t h, int32_t rowLength);
void MirrorRowPixels16(uint16_t* pixels, int32_t w, int32_t h, int32_t rowLength);
void SwapPixelRows32(uint32_t* pixels, int32_t w, int32_t h, int32_t rowLength);
void SwapPixelRows16(uint16_t* pixels, int32_t w, int32_t h, int32_t rowLength);
void MirrorRowBytes(uint8_t* plane, int32_t w, int32_t h, int32_t bytesPerRow);
void SwapByteRows(uint8_t* plane, int32_t w, int32_t h, int32_t bytesPerRow);
void MirrorMaskRows(uint8_t* plane, int32_t w, int32_t h, int32_t bytesPerRow, uint8_t* scratch);
void SwapMaskRows(uint8_t* plane, int32_t h, int32_t bytesPerRow);

// Result 1.
uint32_t CopyPixelRectWithMask(const CopyMaskParams* block);

void BuildDissolveMask(const DissolveParams* block, uint32_t threshold);

// Fills the polygon into a 1-bit plane of `width` x `height` pixels;
// spans outside the plane are cut. work holds `count` ints.
void FillPolygonPlane(uint8_t* plane, int32_t bytesPerRow, int32_t width, int32_t height,
                      int32_t* work, const int32_t* points, int32_t count);

int32_t IntegerSqrt(int32_t x);
