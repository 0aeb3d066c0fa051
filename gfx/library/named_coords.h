// Special coordinates: a position given as one of the band constants
// (CENTER, LEFT, RIGHT, LEFTOUT, RIGHTOUT for x; CENTER, TOP, BOTTOM,
// TOPOUT, BOTTOMOUT for y) plus an offset of up to 4999 either way, placed
// against an area.
#pragma once

#include <cstdint>

// x of an object w pixels wide in an area areaWidth wide; with areaWidth 0
// the area is the current output's active clip region or else the whole
// output. anchor moves the result by trunc(w * anchor). Any x outside the
// bands is returned unchanged.
int32_t ResolveSpecialX(int32_t x, int32_t w, int32_t areaWidth, double anchor);
int32_t ResolveSpecialY(int32_t y, int32_t h, int32_t areaHeight, double anchor);
