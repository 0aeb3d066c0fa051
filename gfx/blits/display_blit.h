// The blit through which pictures reach a display or a drawing target:
// SafeBlt clips against the clip region, keeps on-screen sprites intact,
// mirrors into the display's back buffers, keeps the output target's mask
// and alpha planes up to date and presents through BltToDisplay.
#pragma once

#include <cstddef>
#include <cstdint>

struct BitMapHandle;
struct ClipRegion;
struct Display;
struct VmState;

// SafeBlt flags.
enum : uint32_t {
    SAFEBLT_NOCLIP = 0x1,
    SAFEBLT_NOSPRITES = 0x2,
    SAFEBLT_LAYERS = 0x4,       // blit into the first back buffer when layers are off
    SAFEBLT_LAYERREDRAW = 0x8,  // with layers on, redraw the layer stack instead
    SAFEBLT_NODISPLAY = 0x10,   // allowed without a display; target planes left alone
    SAFEBLT_NOREFRESH = 0x20,
    SAFEBLT_BACKBUFFER = 0x40,
    SAFEBLT_ADAPTER = 0x80,     // straight to an adapter that double-buffers
};

// The words of a SafeBlt call.
struct SafeBltWords {
    int32_t sx;
    int32_t sy;
    BitMapHandle* dst;  // null: the current display
    int32_t dx;
    int32_t dy;
    int32_t w;
    int32_t h;
    int32_t srcW;
    int32_t srcH;
    int32_t dstW;
    int32_t dstH;
    uint32_t flags;
    BitMapHandle* mask;   // source mask plane or null
    BitMapHandle* alpha;  // source alpha plane or null
    ClipRegion* clip;
};

// The display SafeBlt stands in with when none is current (flag 0x10 and a
// bitmap destination); made when the graphics library registers.
extern Display* FallbackDisplay;
uint32_t AllocFallbackDisplay();
void FreeFallbackDisplay();

void SafeBlt(VmState* vm, BitMapHandle* src, const SafeBltWords& words);

// Clips a blit in place: to the clip region's rectangle (and the
// destination's size) with useClip and a region, else to 0, 0, dstW, dstH;
// a destination left of or above the limits moves the source with it; the
// source size cuts the width and height. The result may be empty.
void ClipBlitRect(const ClipRegion* clip, int32_t* sx, int32_t* sy, int32_t* dx, int32_t* dy,
                  int32_t* w, int32_t* h, int32_t srcW, int32_t srcH, int32_t dstW, int32_t dstH,
                  bool useClip);

// BltToDisplay flags.
enum : uint32_t {
    PRESENT_SCALED = 0x1,  // the source is a back buffer of a scaled display
    PRESENT_NOW = 0x2,     // present even while a timed refresh collects
    PRESENT_TIMED = 0x4,   // the timed refresh presenting what it collected
    PRESENT_FORCE = 0x80,  // present even inside a refresh block
};
void BltToDisplay(BitMapHandle* src, int32_t sx, int32_t sy, Display* display, int32_t dx,
                  int32_t dy, int32_t w, int32_t h, uint32_t flags);

// Fills a plane laid out like the source (pixel (sx + i, sy + j) at row
// sy + j, column sx + i) with the clip region's shape over the destination
// rectangle: a mask bit (ANDed with srcMask when given), or with alphaOut
// an alpha byte (srcAlpha where the shape is set, else 0; 255 without
// srcAlpha).
void CopyMaskRect(const ClipRegion* clip, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w,
                  int32_t h, const uint8_t* srcMask, uintptr_t srcMaskBytesPerRow,
                  const uint8_t* srcAlpha, uintptr_t srcAlphaBytesPerRow, uint8_t* out,
                  uintptr_t outBytesPerRow, bool alphaOut);

// The scratch buffer that SafeBlt shapes clip masks in; it only grows.
// False when it cannot be made that large.
bool EnsureClipScratch(size_t bytes);
void FreeClipScratch();
