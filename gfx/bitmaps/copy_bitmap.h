// Copies of pictures into new handles, and what the three front ends that
// make new pictures (copy, scale, transform) share: the video-bitmap
// request through the adapter, reading a video source into memory, and
// handing out or freeing what was made.
#pragma once

#include <cstddef>
#include <cstdint>

#include "gfx/bitmaps/bitmap.h"
#include "gfx/bitmaps/video_bitmaps.h"

// Copies the w x h rectangle at (x, y) into new handles; hardware asks for
// a video bitmap. hwA is the display the copy is for, hwB the source's:
// a video source on another display is read into memory first.
uint32_t CopyBitMap(BitMapHandle* src, BitMapHandle* srcMask, BitMapHandle* srcAlpha, int32_t x,
                    int32_t y, int32_t w, int32_t h, int hardware, void* hwA, void* hwB,
                    BitMapHandle** outBitMap, BitMapHandle** outMask, BitMapHandle** outAlpha);

// A new buffer of the w x h ARGB pixels at (x, y), rows packed tight, read
// through the adapter for a video bitmap; *outHasAlpha tells whether the
// alpha bytes are the picture's.
uint32_t ReadBitMapPixels(BitMapHandle* bitmap, int32_t x, int32_t y, int32_t w, int32_t h,
                          uint32_t** outPixels, uint32_t* outHasAlpha);

// The handles a front end made; all null at the start.
struct MadeBitMaps {
    BitMapHandle* bitmap;
    BitMapHandle* mask;
    BitMapHandle* alpha;
};
void FreeMadeBitMaps(MadeBitMaps* made);
// Gives each handle to its out argument, or frees it when none is given.
void HandOutMadeBitMaps(MadeBitMaps* made, BitMapHandle** outBitMap, BitMapHandle** outMask,
                        BitMapHandle** outAlpha);
// A front end's last step: frees the copies of a video source (temp may be
// null), then hands out what was made, or after an error frees it as well.
// Returns the error.
uint32_t FinishMadeBitMaps(uint32_t error, MadeBitMaps* temp, MadeBitMaps* made,
                           BitMapHandle** outBitMap, BitMapHandle** outMask, BitMapHandle** outAlpha);

// Asks the adapter for a w x h video bitmap. 0 with *out set on success;
// 0 with *out null when the work goes on in software; ERR_BITMAP when the
// adapter refused and allows no software fallback.
uint32_t TryVideoBitMap(int32_t w, int32_t h, uint32_t flags, VideoBitMapParams* params,
                        BitMapHandle** out);

// When *src is a video bitmap of the adapter, reads it whole into temp (a
// memory bitmap, and an alpha plane when the adapter has alpha) and makes
// *src (and *srcAlpha, when the adapter gave alpha) point at the copies.
uint32_t SoftwareSource(BitMapHandle** src, BitMapHandle** srcAlpha, MadeBitMaps* temp);

// Makes the handles asked for, w x h (the mask following the bitmap's
// rows, cleared; the alpha cleared with clearAlpha): 0, ERR_BITMAP,
// ERR_ALLOCMASK or ERR_ALLOCALPHA. What was made stays in made.
uint32_t MakeBitMaps(MadeBitMaps* made, int32_t w, int32_t h, bool colour, bool mask, bool alpha,
                     int clearAlpha);

// Locks the source for reading and the target for writing. ERR_LOCKBMAP
// when a lock fails, the two differ in layout (pixels move unconverted), or
// the locked sizes do not hold the rectangles; unlock both in any case.
uint32_t LockSourceAndTarget(BitMapHandle* src, int32_t x, int32_t y, int32_t w, int32_t h,
                             BitMapHandle* target, int32_t tw, int32_t th, BitMapLock* s,
                             BitMapLock* d);
// What a scaler's or transformer's block holds besides its own tables: the
// pixels and planes it works between. Source pointers are offset to the
// rectangle's top-left (a mask's x stays a bit offset, srcX); row lengths
// are in pixels.
struct PictureBlock {
    const uint8_t* srcPixels;
    uint8_t* dstPixels;
    const uint8_t* srcMask;
    uint8_t* dstMask;
    const uint8_t* srcAlpha;
    uint8_t* dstAlpha;
    int32_t srcX;
    int32_t srcY;
    int32_t srcW;
    int32_t srcH;
    int32_t dstW;
    int32_t dstH;
    int32_t srcRowLength;
    int32_t dstRowLength;
    int32_t srcMaskBytesPerRow;
    int32_t dstMaskBytesPerRow;
    int32_t srcAlphaBytesPerRow;
    int32_t dstAlphaBytesPerRow;
    uint32_t smooth;
    uint32_t format;
    uint32_t bytesPerPixel;
};

// Points a block at the planes: the source mask and alpha at the block's
// (srcX, srcY), the made mask and alpha whole. ERR_ALLOCMASK or
// ERR_ALLOCALPHA when a plane given has no pixels.
uint32_t AimAtPlanes(PictureBlock* p, BitMapHandle* srcMask, BitMapHandle* srcAlpha, const MadeBitMaps& made);

// Points a block at the locked pixels: the source offset to (x, y), the
// target whole.
inline void AimAtLockedPixels(PictureBlock* p, const BitMapLock& s, const BitMapLock& d, int32_t x, int32_t y)
{
    p->srcPixels = s.pixels + (static_cast<size_t>(s.rowLength) * y + x) * s.bytesPerPixel;
    p->dstPixels = d.pixels;
    p->srcRowLength = s.rowLength;
    p->dstRowLength = d.rowLength;
    p->format = s.format;
    p->bytesPerPixel = s.bytesPerPixel;
}

// True when the w x h rectangle at (x, y) is not empty and lies inside
// width x height; written so that no sum can overflow.
inline bool RectInside(int32_t x, int32_t y, int32_t w, int32_t h, int32_t width, int32_t height)
{
    return x >= 0 && y >= 0 && w > 0 && h > 0 && x <= width - w && y <= height - h;
}
inline bool RectInsideBitMap(const BitMapHandle* handle, int32_t x, int32_t y, int32_t w, int32_t h)
{
    return handle && RectInside(x, y, w, h, handle->width, handle->height);
}
// The rectangle inside each of the handles given (null ones pass).
inline bool RectInsideSources(const BitMapHandle* src, const BitMapHandle* mask,
                              const BitMapHandle* alpha, int32_t x, int32_t y, int32_t w, int32_t h)
{
    return (!src || RectInsideBitMap(src, x, y, w, h)) && (!mask || RectInsideBitMap(mask, x, y, w, h)) &&
           (!alpha || RectInsideBitMap(alpha, x, y, w, h));
}
