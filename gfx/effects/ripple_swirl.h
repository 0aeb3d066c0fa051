// Two in-place displacement effects on a picture with its mask or alpha
// plane: a water ripple (concentric sine waves around a centre) and a swirl
// (a rotation that grows toward the picture's centre). Each destination
// pixel takes the colour, mask bit and alpha byte of one source pixel, read
// from a copy of the picture unless the block brings its own source. The
// kernels also serve the transitions, which pass a frame number (ripple: a
// second image to blend toward; swirl: a fade plane).
#pragma once

#include <cstdint>

#include "gfx/bitmaps/bitmap.h"

constexpr int32_t kRippleSineSteps = 6300;  // sin(k * 0.001), k = 0..6299

struct RippleParams {
    const void* srcPixels;  // null: the kernel copies the destination first
    const void* secondPixels;  // transitions: the image blended toward; else null
    void* dstPixels;
    int32_t srcRowLength;
    int32_t secondRowLength;
    int32_t dstRowLength;
    const int32_t* distances;  // w * h entries, rows without padding
    const double* sine;        // kRippleSineSteps entries
    double wavelength;         // at least 1
    double amplitude;
    double baseAmplitude;  // transitions: amplitude per frame
    int32_t halfPeriod;    // transitions: frames up to the strongest wave
    int32_t w;
    int32_t h;
    uint32_t format;
    uint8_t* dstMask;  // optional planes of the destination
    int32_t dstMaskBytesPerRow;
    uint8_t* dstAlpha;
    int32_t dstAlphaBytesPerRow;
    const uint8_t* srcMask;  // the source's planes (the copies when the kernel makes them)
    int32_t srcMaskBytesPerRow;
    const uint8_t* srcAlpha;
    int32_t srcAlphaBytesPerRow;
    int32_t cx;
    int32_t cy;
    int32_t cursor;  // the next distance-table entry
    int32_t radius;
    int32_t sampledX;
    int32_t sampledY;
    int32_t phase;
};

enum : uint32_t { SWIRL_EFFECT = 0, SWIRL_FADE_IN = 1, SWIRL_FADE_OUT = 2 };

struct SwirlParams {
    const void* srcPixels;  // null: the kernel copies the destination first
    void* dstPixels;
    int32_t srcRowLength;
    int32_t dstRowLength;
    const double* sine;  // kRippleSineSteps entries each
    const double* cosine;
    uint32_t format;
    int32_t w;
    int32_t h;
    uint8_t* dstMask;
    int32_t dstMaskBytesPerRow;
    uint8_t* dstAlpha;  // with a transition flag: the fade plane
    int32_t dstAlphaBytesPerRow;
    const uint8_t* srcMask;
    int32_t srcMaskBytesPerRow;
    const uint8_t* srcAlpha;
    int32_t srcAlphaBytesPerRow;
    uint32_t transition;  // SWIRL_EFFECT, SWIRL_FADE_IN or SWIRL_FADE_OUT
};

// wavelength, amplitude and phase (radians) are whole numbers; the centre
// is given as fractions of the width and height. 0, ERR_MEM or
// ERR_LOCKBMAP.
uint32_t WaterRippleBitMap(BitMapHandle* bitmap, BitMapHandle* mask, BitMapHandle* alpha, int32_t w,
                           int32_t h, int32_t wavelength, int32_t amplitude, int32_t phase,
                           double centreX, double centreY);
// degrees are cut to -359..359. 0, ERR_MEM or ERR_LOCKBMAP.
uint32_t SwirlBitMap(BitMapHandle* bitmap, BitMapHandle* mask, BitMapHandle* alpha, int32_t w,
                     int32_t h, int32_t degrees);

// Fills the sine table and the distance of every pixel from (cx, cy).
void PrepareWaterRipple(RippleParams* block, int32_t* distances, double* sine);
void PrepareSwirlTables(double* sine, double* cosine);

// frame -1: the effect with the block's amplitude and phase; frame >= 0:
// the transition's frame. A copy that cannot be made leaves the picture.
void WaterRipplePixels32(RippleParams* block, int32_t frame);
void WaterRipplePixels16(RippleParams* block, int32_t frame);
// The source position of pixel (x, y) into the block's sampled x and y;
// advances the distance cursor.
void WaterRippleSample(RippleParams* block, int32_t phase, int32_t x, int32_t y);
// angle: degrees for the effect; for the transitions the frame, where 360
// and more count back down (720 - angle).
void SwirlPixels32(SwirlParams* block, int32_t angle);
void SwirlPixels16(SwirlParams* block, int32_t angle);
