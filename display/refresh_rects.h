// The refresh list of a display: rectangles of the display whose pixels
// changed behind its back (a layer's object was drawn into, a sprite lost
// its clip region) and must be redrawn from the layer stack and shown.
// Rectangles are collected first and redrawn together, so that an object
// shown by several layers is presented once per layer, not once per draw.
#pragma once

#include <cstdint>

struct Display;
struct VmState;

struct RefreshRect {
    int32_t x, y, width, height;
};

// More rectangles than this are merged into their union: past a few dozen
// separate redraws cost more than one large one.
constexpr uint32_t kMaxRefreshRects = 32;

struct RefreshRectList {
    uint32_t count;
    RefreshRect rects[kMaxRefreshRects];
};

// Adds a rectangle (empty ones are ignored), making the list on first use.
// 0 or ERR_MEM.
uint32_t AddRefreshRect(RefreshRectList** list, int32_t x, int32_t y, int32_t width, int32_t height);
// Redraws and presents every rectangle of the display's list, then empties it.
void FlushRefreshRects(VmState* vm, Display* display);
void FreeRefreshRects(Display* display);

// Redraws a rectangle of the display: the shown picture's layer stack when
// the display has layers (into the buffer it composes them in), the back
// buffer otherwise; then the sprites shown over it, and presents the result.
void RefreshDisplayRect(VmState* vm, Display* display, int32_t x, int32_t y, int32_t width, int32_t height);
