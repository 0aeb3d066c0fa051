// Layers: the retained scene of a background picture. Each picture owns a
// list of layer records, drawn in list order over the picture by Redraw; a
// layer's id is its 1-based position. A layer shows an object (brush, anim
// frame, background picture, text, video) by reference; when that object
// goes, the layer keeps a private copy of its planes (or nothing), never a
// pointer to freed memory.
#pragma once

#include <cstdint>

#include "core/services/object_registry.h"
#include "gfx/bitmaps/copy_bitmap.h"

struct BGPic;
struct BitMapHandle;
struct ClipRegion;
struct Display;
struct VmState;

// Layer types: the object-type constants of what a layer shows (a picture
// shown on another one is a picture part).
enum : uint32_t {
    LAYERTYPE_BGPIC = 13,
    LAYERTYPE_BRUSH = 3,
    LAYERTYPE_ANIM = 4,
    LAYERTYPE_TEXT = 9,
    LAYERTYPE_VIDEO = 50,
};

struct Layer {
    ObjectHeader header;  // type LAYER; dataList holds the layer's object data; next the layer above
    uint32_t layerType;
    ObjectHeader* object;  // the object shown, null once it is gone
    MadeBitMaps privateCopy;  // the planes kept when the object was detached
    int32_t x, y, width, height;              // as drawn
    int32_t rawX, rawY, rawWidth, rawHeight;  // before transformation
    uint32_t hidden;
    uint32_t frame;  // anim layers: the 0-based frame shown
    char name[64];
    char group[64];
    char* text;  // text layers (owned)
    ClipRegion* clipRegion;  // the region the layer is clipped to, or null
};

// What a new layer shows and where.
struct LayerDesc {
    uint32_t layerType = LAYERTYPE_BRUSH;
    ObjectHeader* object = nullptr;
    int32_t x = 0, y = 0;
    const char* name = nullptr;
    const char* group = nullptr;
    const char* text = nullptr;
    uint32_t hidden = 0;
};

// Inserts a layer at a 1-based position (0 or past the end: on top). Its
// size is the object's. 0, ERR_MEM, or ERR_WRONGUSAGE for an object the
// type cannot show.
uint32_t InsertLayer(BGPic* picture, uint32_t position, const LayerDesc& desc, Layer** out);
// Unlinks and frees a layer with its object data.
void RemoveLayer(VmState* vm, BGPic* picture, Layer* layer);
// Frees every layer of a picture (the picture is being freed).
void FreeLayerList(VmState* vm, BGPic* picture);

// The layer at a 1-based position, or null.
Layer* GetLayerByPosition(const BGPic* picture, int32_t position);
int32_t CountLayers(const BGPic* picture);
int32_t CountAllLayers();
// The picture whose layers the current output addresses: the display's
// shown picture while the output is a brush, mask or alpha channel (it must
// have layers), else the output picture of a display with layers enabled
// (null, an empty stack, when the display shows none). 0 or ERR_NOLAYERS.
uint32_t GetCurrentLayerOwner(BGPic** out);
// The layer position at the argument: a number, or a name among the
// owner's layers. Raises ERR_FINDLAYER with the name, or the VM's type error.
int32_t GetLayerIdArg(VmState* vm, int index, const BGPic* owner);
// The same for a field of the options table at index: a number or a name
// among the current picture's layers (ERR_FINDLAYER with the name), any
// other type ERR_WRONGUSAGE; both raised. False when the field is absent.
bool GetTableLayerRef(VmState* vm, int table, const char* key, int32_t* out);
// The layer an object-data command addresses (argument at index): 0,
// ERR_NOLAYERS or ERR_LAYERRANGE.
uint32_t FindLayerArg(VmState* vm, int index, Layer** out);

// Gives every layer that shows the object a private copy of the planes it
// draws now and unlinks it from the object, so that what the object becomes
// is no longer the layer's; the layers clipped by a clip region move to one
// temporary copy of it. 0 or an error code: a layer whose copy failed stays
// on the object (and a failed region copy leaves the layers on the region),
// so a caller about to change the object must not.
uint32_t DetachObjectFromLayers(VmState* vm, uint32_t type, ObjectHeader* object);
// Non-zero when a layer shows the object (a clip region: is clipped by it).
int FindLayerUsingObject(uint32_t type, const void* object);
// Non-zero when a layer uses the object: shows it (and takes its size
// again) or, for a clip region, is clipped by it.
int RelinkLayerSources(uint32_t type, uint32_t unused, ObjectHeader* object);
// Removes a freed object from the layers' object slots.
void ClearLayerObjectLinks(const void* object);
// What the picture records call before they free themselves: layers that
// show the object keep a private copy, then forget the object.
void ReleaseLayerObject(VmState* vm, uint32_t type, ObjectHeader* object);

// Adds to the display's refresh list where the object shows on it: the
// rectangle of the given layer, or without one of every visible layer of
// the shown picture that shows the object, or the whole picture when the
// object is the picture itself. 0 or ERR_MEM.
uint32_t MarkLayerDirty(VmState* vm, Display* display, const void* object, const Layer* layer);

// Draws the part of w x h planes placed at (px, py) that lies in the
// rectangle [left, right) x [top, bottom) into dst, shifted by (-originX,
// -originY): through the alpha plane, else the mask, else opaque.
void DrawPlanesCut(BitMapHandle* bitmap, BitMapHandle* mask, BitMapHandle* alpha, int32_t w, int32_t h,
                   int32_t px, int32_t py, BitMapHandle* dst, int32_t originX, int32_t originY, int64_t left,
                   int64_t top, int64_t right, int64_t bottom);

// Draws the layer stack of the rectangle (x, y, w, h) into dst (at the same
// place): the picture, then every visible layer cut to the rectangle.
void DrawLayerStack(VmState* vm, BGPic* picture, BitMapHandle* dst, int32_t x, int32_t y, int32_t w, int32_t h);
