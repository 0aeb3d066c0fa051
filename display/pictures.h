// Brushes and background pictures: object-registry records (types 3 and 1)
// that hold a picture as three bitmap handles (colour, mask, alpha), the
// way the blits take them. The loaders that fill them belong to the picture
// commands; what is here makes, finds, draws from and frees them.
#pragma once

#include <cstdint>

#include "core/plugins/image_loaders.h"
#include "core/services/object_registry.h"
#include "display/output.h"

struct BitMapHandle;
struct Display;
struct VmState;

// Plane flags of a hardware brush.
enum : uint32_t { BRUSHPLANE_MASK = 0x1, BRUSHPLANE_ALPHA = 0x2 };

// FindBrush / FindBGPic option bits.
enum : uint32_t { FINDPICTURE_MODIFY = 0x1 };

struct Brush {
    ObjectHeader header;
    BitMapHandle* bitmap;
    BitMapHandle* mask;   // null: every pixel visible
    BitMapHandle* alpha;  // null: opaque
    int32_t width;
    int32_t height;
    uint32_t transparentColour;  // 0xFFFFFFFF: none
    uint32_t hardware;
    uint32_t planeFlags;  // BRUSHPLANE_* of a hardware brush
    uint32_t imageType;   // 0 raster, 1 vector
    char loader[kLoaderNameSize];  // of a loaded picture; "" for the runtime's own
    Display* boundDisplay;
};

struct BGPic {
    ObjectHeader header;
    BitMapHandle* bitmap;
    BitMapHandle* mask;
    BitMapHandle* alpha;
    int32_t width;
    int32_t height;
    uint32_t transparentColour;
    uint32_t imageType;
    char loader[kLoaderNameSize];
    // Its output record while it is selected as output or shown.
    OutputRecord output;
    struct Layer* layers;  // its layer stack, bottom first (display/layers.cpp)
};

extern Brush* BrushList;
extern BGPic* BGPicList;

// 0, ERR_FINDBRUSH (numeric id) or ERR_FINDARRAY (handle id). With
// FINDPICTURE_MODIFY a hardware brush is refused with ERR_HWBRUSH, and the
// layers that show the brush first get a private copy of it (that copy's
// error, the brush unchanged, when one cannot be made).
uint32_t FindBrush(VmState* vm, ObjectId id, Brush** out, uint32_t options);
// Takes the planes over (they are freed with the brush, also when the
// record cannot be made). An existing brush of the numeric id is replaced;
// with useHandle the record's address becomes its id. 0, ERR_MEM, or
// ERR_BADDIMENSIONS when the bitmap is missing or its size is below 1.
uint32_t AddBrush(VmState* vm, ObjectId id, bool useHandle, BitMapHandle* bitmap,
                  BitMapHandle* mask, BitMapHandle* alpha, int32_t width, int32_t height,
                  Brush** out);
// The planes of a software brush (all null for a hardware one).
void GetBrushPlanes(const Brush* brush, BitMapHandle** bitmap, BitMapHandle** mask,
                    BitMapHandle** alpha, int32_t* width, int32_t* height);
void FreeBrush(VmState* vm, Brush* brush);
// Gives a brush new planes (taken over) and size; the old planes are freed.
void ReplaceBrushPlanes(Brush* brush, BitMapHandle* bitmap, BitMapHandle* mask, BitMapHandle* alpha,
                        int32_t width, int32_t height);

// 0, ERR_FINDBGPIC or ERR_FINDARRAY. No command changes a background
// picture in place, so no option is defined for it yet: pass 0.
uint32_t FindBGPic(VmState* vm, ObjectId id, BGPic** out, uint32_t options);
// As AddBrush, for background pictures; a picture that an open display
// shows is not replaced (ERR_FREEABGPIC, the new planes freed).
uint32_t AddBGPic(VmState* vm, ObjectId id, bool useHandle, BitMapHandle* bitmap,
                  BitMapHandle* mask, BitMapHandle* alpha, int32_t width, int32_t height,
                  BGPic** out);

// A w x h bitmap holding the picture from (x, y): the picture's own bitmap
// when that is exactly it (made 0), else a new copy (made 1, the caller
// frees it). 0, ERR_BITMAP or ERR_BADDIMENSIONS.
uint32_t AcquireBGPicBitmap(VmState* vm, BGPic* picture, int32_t x, int32_t y, int32_t w,
                            int32_t h, BitMapHandle** out, uint32_t* made);
// Renders width x height ARGB pixels into new planes: the colour bitmap,
// and with alphaFlag an alpha plane of the pixels' alpha bytes (mask none).
// 0, ERR_BITMAP or ERR_ALLOCALPHA; nothing is left allocated on failure.
uint32_t RenderBGPicSource(const uint32_t* pixels, int32_t width, int32_t height,
                           uint32_t alphaFlag, BitMapHandle** outBitmap, BitMapHandle** outMask,
                           BitMapHandle** outAlpha);

// Redraws the rectangle (x, y, w, h) of a picture's stack (the picture and
// its visible layers) into dst at the same position: modes 0 (plain
// redraw) and 1 (before a blit under sprites) draw it, mode 2 (sprites back
// on top) has nothing to draw, as no command shows sprites.
void Redraw(VmState* vm, Display* display, BGPic* picture, BitMapHandle* dst, int32_t x,
            int32_t y, int32_t w, int32_t h, uint32_t unused, uint32_t mode);
