// Clip regions (object type 35): a rectangle, or a rectangle shaped by a
// private copy of a brush mask, that limits where drawing reaches on the
// output it is active in. An output record points at its active region; a
// region is never freed while any output still points at it.
#pragma once

#include <cstdint>

#include "core/services/object_registry.h"

struct BitMapHandle;
struct VmState;

struct ClipRegion {
    ObjectHeader header;
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
    BitMapHandle* mask;  // the shape over width x height from (x, y); null: a rectangle
    uintptr_t maskBytesPerRow;
    uint32_t temporary;  // detached from its id, freed once nothing uses it
    uint32_t locked;
    uint32_t transformedCopy;
};

extern ClipRegion* ClipRegionList;

// CreateClipRegion types.
enum : uint32_t { CLIPREGION_BOX = 14, CLIPREGION_MASK = 28 };

// FindClipRegion options.
enum : uint32_t {
    FINDCLIP_MODIFY = 0x1,
    FINDCLIP_TEMPORARY = 0x2,  // temporary regions count as well
    FINDCLIP_NOCOPY = 0x4,
};

// 0, ERR_LOCKEDOBJ (modify), ERR_FINDARRAY (handle) or ERR_FINDCLIPREGION.
// With FINDCLIP_MODIFY (and without FINDCLIP_NOCOPY) the layers clipped by
// the region move to a temporary copy of it first (its errors returned).
uint32_t FindClipRegion(ObjectId id, ClipRegion** out, uint32_t options);

// Appends a temporary copy of a region (its rectangle and a copy of its
// shape), reached only by its handle and freed once no layer uses it.
// 0, ERR_ALLOCMASK or ERR_MEM.
uint32_t CopyClipRegion(const ClipRegion* region, ClipRegion** out);

// Makes a region and appends it; x and y are plain coordinates. A shape
// mask is copied (cropped to the visible part), never taken over. With
// useHandle the node's address is its id, else an existing region of the
// id is replaced once the new one is complete. 0, ERR_WRONGUSAGE for an
// empty or invisible rectangle, ERR_ALLOCMASK or ERR_MEM.
uint32_t CreateClipRegion(VmState* vm, ObjectId id, bool useHandle, int32_t x, int32_t y,
                          int32_t width, int32_t height, BitMapHandle* shape, ClipRegion** out);

// Fills a region's rectangle and shape (taken over) with its row size.
void SetClipRegionShape(ClipRegion* region, int32_t x, int32_t y, int32_t width, int32_t height,
                        BitMapHandle* mask);

// Makes the region active in the current output (null clears it). 0,
// ERR_WRONGUSAGE without an output or while it is a mask or alpha channel,
// ERR_WRONGCLIPREG when the region does not fit into the output.
uint32_t SetClipRegion(ClipRegion* region);

// Drops every output's reference, then frees the region.
void FreeClipRegion(VmState* vm, ClipRegion* region);
// Frees a region's mask and object data without unlinking it.
void FreeClipRegionData(VmState* vm, ClipRegion* region);
void FreeTemporaryClipRegions(VmState* vm);
void FreeAllClipRegions(VmState* vm);

// Crops a shape to non-negative coordinates: a negative x shrinks the width
// and moves x to 0 (likewise y). The mask follows: with copy a new mask of
// the cropped size always replaces *mask (the caller's stays theirs); else
// a new one replaces it only when something was cropped, and freeOld frees
// the old. 0 or ERR_ALLOCMASK.
uint32_t CropShapeToVisible(int32_t* h, int32_t* y, int32_t* x, int32_t* w, BitMapHandle** mask,
                            int copy, int freeOld);

// A transformed copy of a region (not on the list) for a picture scaled or
// rotated by the 2 x 2 matrix (four doubles, as TransformBitMap takes them)
// about the anchor (fractions of its size): a shape is transformed with
// it; a plain rectangle is scaled, or turned into a shape when the matrix
// rotates. withMask without fromDisplay places the copy at the transformed
// position times the current display's scale factors. Null on failure or
// when nothing of it is visible.
ClipRegion* RenderClipRegionMask(const ClipRegion* region, double anchorX, double anchorY,
                                 const double* matrix, int withMask, int fromDisplay);
void FreeTransformedClipRegion(VmState* vm, ClipRegion* copy);

// Commands.
uint32_t CmdCreateClipRegion(VmState* vm);
uint32_t CmdSetClipRegion(VmState* vm);
uint32_t CmdFreeClipRegion(VmState* vm);
