// The pixels of a headless display: three back buffers (bitmap handles of
// the pixel engine, in the display pixel format, the display's size) and a
// framebuffer that stands for the window: what a window would show, at the
// scaled size when the display is scaled. Presenting copies back-buffer
// pixels into the framebuffer; tests and snapshots read it back.
#pragma once

#include <cstdint>

struct BitMapHandle;
struct Display;
struct VmState;
struct WindowIcon;

struct Framebuffer {
    int32_t width;
    int32_t height;
    uint32_t* pixels;   // width * height words xxRRGGBB (the top byte means nothing)
    uint32_t presents;  // AdapterBlitToDisplay calls that reached it
    WindowIcon* icons;  // the applet's icons as the window registered them
    uint32_t iconCount;
};

// Makes the back buffers (cleared to black) and the framebuffer of a
// display that has none yet; the window registers the applet's icons. 0, ERR_BITMAP or ERR_MEM; on failure nothing
// stays allocated.
uint32_t AllocDisplayBuffers(Display* display);
void FreeDisplayBuffers(Display* display);
// Whether a back buffer fresh from AllocDisplayBuffers shows argb already:
// the platform holds it as zero bytes, and argb is zero bytes in its
// format. Its pages then stay unmapped until something is drawn there.
bool FreshBufferShows(const BitMapHandle* buffer, uint32_t argb);

// Presents the w x h rectangle at (sx, sy) of src at (dx, dy) of the
// display (display coordinates: on a scaled display the rectangle lands
// scaled). A non-zero scaled size presents the whole bitmap scaled to that
// size instead. With a mask only the set pixels are presented, with an
// alpha plane the pixels are blended over the window (both aligned with
// the source). Flags are the caller's present flags.
void AdapterBlitToDisplay(BitMapHandle* src, int32_t sx, int32_t sy, Display* display, int32_t dx,
                          int32_t dy, int32_t w, int32_t h, int32_t scaledW, int32_t scaledH,
                          uint32_t flags, BitMapHandle* mask, BitMapHandle* alpha);

// A new colour bitmap of w x h with the window's pixels from (x, y); parts
// outside the window are black. 0 or ERR_GRABSCREEN.
uint32_t GrabDisplayToBitmap(Display* display, int32_t x, int32_t y, int32_t w, int32_t h,
                             uint32_t unused1, uint32_t unused2, BitMapHandle** out);

// Presents the whole back buffer (the mirror of a scaled display).
void RefreshDisplay(VmState* vm, Display* display, uint32_t unused);

// The window's pixel at (x, y) as 0x00RRGGBB; 0 outside it.
uint32_t ReadFramebufferPixel(const Display* display, int32_t x, int32_t y);
