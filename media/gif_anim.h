// Animated GIF: every frame of a GIF file composed onto the logical screen
// the way a viewer shows it, one frame at a time. Opening scans the blocks
// (frame rectangles, disposal methods, delays, transparency) without
// decoding; a frame is decoded when asked for, from the one before it, so
// that frames can be kept or decoded on demand alike.
#pragma once

#include <cstddef>
#include <cstdint>

struct GifAnimDecoder;

struct GifAnimInfo {
    int32_t width;   // the logical screen
    int32_t height;
    uint32_t frameCount;
    // The colour of transparent pixels (0xRRGGBB) when a frame has a
    // transparent index, else -1. Transparent pixels carry alpha 0 as well,
    // so frames with differing palettes are told apart from it.
    int32_t transparentColour;
};

// Files with more frames are refused.
constexpr uint32_t kMaxGifAnimFrames = 65535;

// Takes data over (OsAllocMem memory, freed with the decoder, also when
// opening fails). 0, ERR_LOADPICTURE (not a GIF, or its blocks are broken),
// ERR_BADDIMENSIONS (a screen or frame too large, or frames that lie so far
// off the screen that decoding them would cost more than a picture of the
// largest size) or ERR_MEM.
uint32_t OpenGifAnim(uint8_t* data, size_t size, GifAnimDecoder** out, GifAnimInfo* info);

// The delay of a 0-based frame in milliseconds (0 outside the frames).
int32_t GetGifAnimFrameDelay(const GifAnimDecoder* decoder, uint32_t frame);

// Composes a 0-based frame: width x height ARGB pixels (opaque, or alpha 0
// where nothing is shown), owned by the decoder and valid until the next
// call. Going back restarts from the first frame. 0, ERR_LOADPICTURE for a
// broken frame, ERR_MEM, ERR_USERABORT when the run is being aborted, or
// ERR_ANIMFRAME for a frame past the end.
uint32_t DecodeGifAnimFrame(GifAnimDecoder* decoder, uint32_t frame, const uint32_t** outPixels);

// Hands the pixels of the last decoded frame over (OsAllocMem memory of
// height + 1 rows, the caller's to free); the next frame decoded starts
// again from the first.
uint32_t* TakeGifAnimCanvas(GifAnimDecoder* decoder);

void CloseGifAnim(GifAnimDecoder* decoder);
