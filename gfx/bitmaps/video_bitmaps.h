// Video bitmaps of the display adapter: building the tag list its
// AllocVideoBitMap entry takes (with the source's pixels merged with their
// mask or alpha into one ARGB array), making one straight from ARGB, and
// reading one back into a memory bitmap.
#pragma once

#include <cstdint>

#include "gfx/bitmaps/bitmap.h"

// What AllocColorBitMap with ALLOCBITMAP_VIDEO hands on to the adapter.
struct VideoBitMapParams {
    void* source;           // a BitMapHandle, or ARGB pixels with pixelsGiven
    BitMapHandle* mask;
    BitMapHandle* alpha;
    uint32_t pixelsGiven;
    int32_t targetWidth;
    int32_t targetHeight;
    uint32_t scaleMode;     // 1 smooth
    double matrix[4];
    uint32_t transformFlag;
    uint32_t scaleFlag;
    void* display;
    // Where a memory source's picture starts; its size is the allocation's.
    int32_t srcX;
    int32_t srcY;
};

// Flag bits of the adapter's AllocVideoBitMap besides ALLOCBITMAP_VIDEO.
enum : uint32_t {
    VIDEOBITMAP_HASALPHA = 0x1,
    VIDEOBITMAP_FROMVIDEO = 0x4,  // tag 1 is another video bitmap
};

// Tags of the adapter's AllocVideoBitMap and ReadVideoPixels.
enum : uintptr_t {
    VIDEOTAG_SOURCE = 1,
    VIDEOTAG_WIDTH = 2,
    VIDEOTAG_HEIGHT = 3,
    VIDEOTAG_SCALEMODE = 4,
    VIDEOTAG_MATRIX = 5,
    VIDEOTAG_WINDOW = 6,
    READVIDEOTAG_HASALPHA = 1,
    READVIDEOTAG_FORMAT = 2,
};

// The adapter's video bitmap for AllocColorBitMap, or null; aux becomes 1
// when the pixels handed over carry alpha.
void* AdapterAllocVideoBitMap(int32_t w, int32_t h, uint32_t flags, uint32_t* aux,
                              const VideoBitMapParams* params);

// alphaMode 0 merges a key colour or the alpha bitmap in *alphaInOut (which
// is freed and cleared once the video bitmap exists); 1 hands the pixels
// over without alpha, others with it. A refused request sets *fallBack when
// the adapter allows a memory bitmap instead (answer 0, no bitmap), else
// ERR_BITMAP; ERR_MEM when the merged array cannot be made.
uint32_t AdapterVideoBitMapFromArgb(const uint32_t* argb, int64_t transparentColour, int32_t w,
                                    int32_t h, int32_t rowLength, uint32_t alphaMode,
                                    void* display, BitMapHandle** bitmap,
                                    BitMapHandle** alphaInOut, uint32_t* fallBack);

// Reads a w x h video bitmap into the colour bitmap dest and, when the
// adapter says its pixels carry alpha, into a new alpha plane.
uint32_t AdapterReadVideoBitMap(BitMapHandle* video, BitMapHandle* dest, int32_t w, int32_t h,
                                BitMapHandle** alpha);

// True for a video bitmap whose adapter is still there to read it.
bool IsAdapterVideoBitMap(const BitMapHandle* bitmap);
