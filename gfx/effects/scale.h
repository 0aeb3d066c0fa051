// Resized pictures: ScaleBitMap (nearest or smooth, with the mask and
// alpha planes) and the kernels and tables behind it, which the image
// loader and the video player also call directly.
#pragma once

#include <cstdint>

#include "gfx/bitmaps/bitmap.h"
#include "gfx/bitmaps/copy_bitmap.h"

// The block ScalePixels takes; without source pixels only the mask plane
// is scaled.
struct ScaleParams : PictureBlock {
    int32_t* xFraction;  // dstW + 1 entries
    int32_t* yFraction;  // dstH + 1 entries
    int32_t* xAdvance;
    int32_t* yAdvance;
};

// The process-wide tables of the smooth scaler: n + 1 entries for a
// destination size n; one user at a time.
struct ScaleTables {
    int32_t capX;
    int32_t capY;
    int32_t* xAdvance;
    int32_t* xFraction;
    int32_t* yAdvance;
    int32_t* yFraction;
};
extern ScaleTables EffectScaleTables;

// Grows the tables to hold sizes dstW and dstH; ERR_MEM when they cannot.
uint32_t EnsureScaleTables(int32_t dstW, int32_t dstH, ScaleTables* tables);
// Frees the tables (shutdown).
void FreeEffectCaches();

// Hands the four tables of EffectScaleTables to the block.
void UseScaleTables(ScaleParams* params, const ScaleTables* tables);

void ScalePixels(const ScaleParams* params);
// The plain C++ member of the smooth 32-bit kernel, against which the
// vectorised one is checked.
void ScalePixelsReference(const ScaleParams* params);
// The vectorised smooth kernel's members: SSE2 (every x86-64 processor) and
// AVX2. ScalePixels takes the best the processor has unless a test forces
// SSE2 (asking for AVX2 on a processor without it gives SSE2); returns the
// path in use before.
enum : uint32_t { SCALEPATH_SSE2 = 1, SCALEPATH_AVX2 = 2 };
uint32_t SelectScalePath(uint32_t path);

// Scales the srcW x srcH rectangle at (srcX, srcY) to dstW x dstH: into
// dest when one is given (colour only), else into new handles. A video
// source is scaled by the adapter when it can (hwWord is the display the
// new video bitmap is for), else read into memory first. Smooth scaling of
// a source with a mask makes no alpha plane.
uint32_t ScaleBitMap(BitMapHandle* src, BitMapHandle* srcMask, BitMapHandle* srcAlpha,
                     int32_t srcX, int32_t srcY, BitMapHandle* dest, int32_t srcW, int32_t srcH,
                     int32_t dstW, int32_t dstH, int smooth, void* hwWord,
                     BitMapHandle** outBitMap, BitMapHandle** outMask, BitMapHandle** outAlpha);
