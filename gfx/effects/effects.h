// Image effects: the front ends that change a picture in place (or make
// new planes from it). Each locks its bitmap, chooses the 32-bit or 16-bit
// kernel by the pixel size and unlocks; a 24-bit bitmap is left as it is
// with result 0 (colour reduction and distortion excepted, which copy whole
// pixels of any size). Rectangles start at the top-left pixel and are cut
// to the bitmap; where a front end takes a ready lock as its last argument
// it neither locks nor unlocks. Results are 0 or an ERR_* code unless said.
// The brush library's commands and the layer effects call these; the
// distortions of water ripple and swirl are in ripple_swirl.h.
#pragma once

#include <cstdint>

#include "gfx/bitmaps/bitmap.h"

// Tint level and mix level run 0..255.
uint32_t TintBitMap(BitMapHandle* bitmap, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t argb,
                    int32_t level);
uint32_t MixBitMaps(BitMapHandle* dest, BitMapHandle* src, BitMapHandle* srcMask, int32_t dx,
                    int32_t dy, int32_t sx, int32_t sy, int32_t w, int32_t h, int32_t level,
                    BitMapHandle* alpha, int32_t alphaW, int32_t alphaH);
uint32_t GrayBitMap(BitMapHandle* bitmap, int32_t w, int32_t h, int threshold,
                    BitMapLock* lock = nullptr);
uint32_t MonochromeBitMap(BitMapHandle* bitmap, int32_t w, int32_t h, int dither);
uint32_t FlipBitMap(BitMapHandle* bitmap, BitMapHandle* mask, BitMapHandle* alpha, int32_t w,
                    int32_t h, int horizontal);
uint32_t InvertBitMap(BitMapHandle* bitmap, int32_t w, int32_t h, BitMapLock* lock = nullptr);
// A new mask plane, clear where the pixel has the colour (alpha ignored);
// null on failure or for a 24-bit bitmap.
BitMapHandle* SetBitMapTransparency(BitMapHandle* bitmap, int32_t w, int32_t h, uint32_t argb);
// pairs: `count` {from, to} ARGB pairs, tried in order (chains apply).
uint32_t ReplaceColors(BitMapHandle* bitmap, int32_t w, int32_t h, const uint32_t* pairs,
                       int32_t count);
// kind: CONVOLVE_BLUR, _EMBOSS, _EDGE or _SHARPEN; bitmap may be null to
// filter the alpha plane alone.
uint32_t ConvolveBitMap(uint32_t kind, BitMapHandle* bitmap, BitMapHandle* alpha, int32_t w,
                        int32_t h, double radius, double strength, BitMapLock* lock = nullptr);
uint32_t SolarizeBitMap(BitMapHandle* bitmap, int32_t w, int32_t h, int32_t threshold);
uint32_t GammaBitMap(BitMapHandle* bitmap, int32_t w, int32_t h, double red, double green,
                     double blue);
void BuildGammaTable(double gamma, uint8_t table[256]);
uint32_t ContrastBitMap(BitMapHandle* bitmap, int32_t w, int32_t h, int increase, int32_t steps,
                        BitMapLock* lock = nullptr);
uint32_t ModulateBitMap(BitMapHandle* bitmap, int32_t w, int32_t h, double brightness,
                        double saturation, double hue);
uint32_t NormalizeBitMap(BitMapHandle* bitmap, int32_t w, int32_t h, uint32_t lowCount,
                         uint32_t highCount, BitMapLock* lock = nullptr);
uint32_t SepiaBitMap(BitMapHandle* bitmap, int32_t w, int32_t h, int32_t level);
uint32_t CharcoalBitMap(BitMapHandle* bitmap, BitMapHandle* alpha, int32_t w, int32_t h,
                        double radius, double strength);
uint32_t PixelateBitMap(BitMapHandle* bitmap, BitMapHandle* mask, BitMapHandle* alpha, int32_t w,
                        int32_t h, int32_t cell);
// A new alpha plane of (w + 2r) x (h + 2r), r = truncate(radius): the
// source's shape at (r, r) with the value, blurred; null on failure.
BitMapHandle* MakeShadowBitMap(BitMapHandle* srcAlpha, BitMapHandle* srcMask, int32_t x, int32_t y,
                               int32_t w, int32_t h, double radius, double strength,
                               uint32_t value, int hard, int soften);
uint32_t OilPaintBitMap(BitMapHandle* bitmap, int32_t w, int32_t h, double radius,
                        BitMapLock* lock = nullptr);
// method and count: the distortion method and the number of coefficients
// (see distort.h). flags 0 gives a picture without planes a mask, anything
// else an alpha plane. The new handles and size go to the out arguments.
uint32_t DistortBitMap(BitMapHandle* bitmap, BitMapHandle* mask, BitMapHandle* alpha,
                       uint32_t method, uint32_t count, int32_t w, int32_t h,
                       const double* coefficients, uint32_t flags, BitMapHandle** outBitMap,
                       BitMapHandle** outMask, BitMapHandle** outAlpha, int32_t* outWidth,
                       int32_t* outHeight);
// colours is clamped to 2..256.
uint32_t QuantizeBitMap(BitMapHandle* bitmap, int32_t w, int32_t h, int32_t colours, int dither);
