// Layer lists of background pictures and the services the picture, clip
// and attribute code call on them. Layers hold their object by pointer; the
// records that layers can show call ReleaseLayerObject before they free
// themselves, so a layer either owns a private copy of the planes or shows
// nothing: it never reaches freed memory.
#include "display/layers.h"

#include <algorithm>
#include <cstring>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/utilities.h"
#include "core/vm/library_glue.h"
#include "core/vm/vm.h"
#include "display/anims.h"
#include "display/display.h"
#include "display/pictures.h"
#include "display/refresh_rects.h"
#include "display/script_refs.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/bitmaps/bitmap_ops.h"
#include "gfx/blits/clip_regions.h"
#include "media/video.h"
#include "platform/posix/os_memory.h"

namespace {

Layer* Next(const Layer* layer) { return reinterpret_cast<Layer*>(layer->header.next); }

void CopyName(char* out, size_t size, const char* text)
{
    out[0] = 0;
    if (text)
        std::strncat(out, text, size - 1);
}

// The planes a layer draws now and their size; false when it draws none.
bool LayerPlanes(Layer* layer, BitMapHandle** bitmap, BitMapHandle** mask, BitMapHandle** alpha, int32_t* w,
                 int32_t* h)
{
    *bitmap = *mask = *alpha = nullptr;
    *w = *h = 0;
    if (!layer->object) {
        *bitmap = layer->privateCopy.bitmap;
        *mask = layer->privateCopy.mask;
        *alpha = layer->privateCopy.alpha;
        *w = layer->rawWidth;
        *h = layer->rawHeight;
        return *bitmap != nullptr;
    }
    switch (layer->layerType) {
    case LAYERTYPE_BRUSH:
        GetBrushPlanes(reinterpret_cast<Brush*>(layer->object), bitmap, mask, alpha, w, h);
        break;
    case LAYERTYPE_BGPIC: {
        auto* p = reinterpret_cast<BGPic*>(layer->object);
        *bitmap = p->bitmap;
        *mask = p->mask;
        *alpha = p->alpha;
        *w = p->width;
        *h = p->height;
        break;
    }
    case LAYERTYPE_ANIM: {
        auto* a = reinterpret_cast<Anim*>(layer->object);
        if (GetFrameSetPlanes(&a->frames, layer->frame, bitmap, mask, alpha))
            return false;
        *w = a->frames.width;
        *h = a->frames.height;
        break;
    }
    case LAYERTYPE_VIDEO: {
        // Without playback a video shows its first frame.
        auto* v = reinterpret_cast<Video*>(layer->object);
        *bitmap = v->frame;
        *w = v->width;
        *h = v->height;
        break;
    }
    default: return false;  // text layers have no picture of their own here
    }
    return *bitmap != nullptr;
}

bool ShowsObject(const Layer* layer, uint32_t type, const void* object)
{
    if (type == OBJ_CLIPREGION)
        return layer->clipRegion == object;
    return layer->object == object && layer->object->type == type;
}

template <typename Visit>
void ForEachLayer(Visit visit)
{
    for (BGPic* p = BGPicList; p; p = reinterpret_cast<BGPic*>(p->header.next))
        for (Layer* l = p->layers; l; l = Next(l))
            visit(l);
}

// The size of the object a layer shows, into the layer.
void TakeObjectSize(Layer* layer)
{
    BitMapHandle *bitmap, *mask, *alpha;
    int32_t w, h;
    if (LayerPlanes(layer, &bitmap, &mask, &alpha, &w, &h) || layer->object) {
        layer->rawWidth = layer->width = w;
        layer->rawHeight = layer->height = h;
    }
}

}  // namespace

uint32_t InsertLayer(BGPic* picture, uint32_t position, const LayerDesc& desc, Layer** out)
{
    *out = nullptr;
    uint32_t objectType = desc.layerType == LAYERTYPE_BRUSH  ? uint32_t{OBJ_BRUSH}
                          : desc.layerType == LAYERTYPE_BGPIC ? OBJ_BGPIC
                          : desc.layerType == LAYERTYPE_ANIM  ? OBJ_ANIM
                          : desc.layerType == LAYERTYPE_VIDEO ? OBJ_VIDEO
                                                              : 0u;
    if (!picture || (objectType && (!desc.object || desc.object->type != objectType)))
        return ERR_WRONGUSAGE;
    auto* layer = static_cast<Layer*>(OsAllocMem(sizeof(Layer), 1));
    if (!layer)
        return ERR_MEM;
    if (desc.text) {
        size_t n = std::strlen(desc.text);
        layer->text = static_cast<char*>(OsAllocMem(n + 1, 0));
        if (!layer->text) {
            OsFreeMem(layer);
            return ERR_MEM;
        }
        std::memcpy(layer->text, desc.text, n + 1);
    }
    layer->header.type = OBJ_LAYER;
    layer->layerType = desc.layerType;
    layer->object = desc.object;
    layer->rawX = layer->x = desc.x;
    layer->rawY = layer->y = desc.y;
    layer->hidden = desc.hidden;
    CopyName(layer->name, sizeof layer->name, desc.name);
    CopyName(layer->group, sizeof layer->group, desc.group);
    TakeObjectSize(layer);
    ObjectHeader** link = reinterpret_cast<ObjectHeader**>(&picture->layers);
    for (uint32_t i = 1; *link && (position == 0 || i < position); ++i)
        link = &(*link)->next;
    layer->header.next = *link;
    *link = &layer->header;
    *out = layer;
    return 0;
}

void RemoveLayer(VmState* vm, BGPic* picture, Layer* layer)
{
    ObjectHeader** link = reinterpret_cast<ObjectHeader**>(&picture->layers);
    while (*link && *link != &layer->header)
        link = &(*link)->next;
    if (!*link)
        return;
    *link = layer->header.next;
    ReleaseObjectData(vm, &layer->header);
    FreeMadeBitMaps(&layer->privateCopy);
    ClipRegion* region = layer->clipRegion;
    OsFreeMem(layer->text);
    OsFreeMem(layer);
    // A region freed by the script lived on only for this layer.
    if (region && region->temporary && !FindLayerUsingObject(OBJ_CLIPREGION, region))
        FreeClipRegion(vm, region);
}

void FreeLayerList(VmState* vm, BGPic* picture)
{
    while (picture->layers)
        RemoveLayer(vm, picture, picture->layers);
}

Layer* GetLayerByPosition(const BGPic* picture, int32_t position)
{
    if (!picture || position < 1)
        return nullptr;
    Layer* l = picture->layers;
    for (int32_t i = 1; l && i < position; ++i)
        l = Next(l);
    return l;
}

int32_t CountLayers(const BGPic* picture)
{
    int32_t n = 0;
    for (Layer* l = picture ? picture->layers : nullptr; l; l = Next(l))
        ++n;
    return n;
}

int32_t CountAllLayers()
{
    int32_t n = 0;
    for (BGPic* p = BGPicList; p; p = reinterpret_cast<BGPic*>(p->header.next))
        n += CountLayers(p);
    return n;
}

uint32_t GetCurrentLayerOwner(BGPic** out)
{
    *out = nullptr;
    Display* d = CurrentDisplay;
    if (!d)
        return ERR_NOLAYERS;
    auto* shown = static_cast<BGPic*>(d->shownBGPic);
    if (d->outputMode == OUTPUT_BRUSH || d->outputMode == OUTPUT_MASK || d->outputMode == OUTPUT_ALPHACHANNEL) {
        if (!shown || !shown->layers)
            return ERR_NOLAYERS;
        *out = shown;
        return 0;
    }
    if (!d->layersEnabled)
        return ERR_NOLAYERS;
    BGPic* picture = shown;
    if (d->outputMode == OUTPUT_BGPIC)
        for (BGPic* p = BGPicList; p; p = reinterpret_cast<BGPic*>(p->header.next))
            if (d->selectedOutput == &p->output)
                picture = p;
    // A display that shows no picture has an empty stack.
    *out = picture;
    return 0;
}

int32_t GetLayerIdArg(VmState* vm, int index, const BGPic* owner)
{
    if (VmType(vm, index) != VM_TSTRING)
        return VmCheckInteger(vm, index);
    const char* name = VmCheckString(vm, index, nullptr);
    int32_t position = 1;
    for (Layer* l = owner ? owner->layers : nullptr; l; l = Next(l), ++position)
        if (StrCaseCmp(l->name, name) == 0)
            return position;
    SetErrorText(name);
    VmRaiseError(vm, ERR_FINDLAYER);
}

bool GetTableLayerRef(VmState* vm, int table, const char* key, int32_t* out)
{
    VmPushString(vm, key);
    VmGetTable(vm, table < 0 && table > VM_REGISTRYINDEX ? table - 1 : table);
    int type = VmType(vm, -1);
    if (type == VM_TNIL) {
        VmPop(vm, 1);
        return false;
    }
    if (type == VM_TNUMBER) {
        *out = VmCheckInteger(vm, -1);
        VmPop(vm, 1);
        return true;
    }
    if (type != VM_TSTRING)
        VmRaiseError(vm, ERR_WRONGUSAGE);
    BGPic* owner = nullptr;
    GetCurrentLayerOwner(&owner);
    *out = GetLayerIdArg(vm, VmGetTop(vm), owner);
    VmPop(vm, 1);
    return true;
}

uint32_t FindLayerArg(VmState* vm, int index, Layer** out)
{
    *out = nullptr;
    BGPic* owner;
    if (uint32_t error = GetCurrentLayerOwner(&owner))
        return error;
    *out = GetLayerByPosition(owner, GetLayerIdArg(vm, index, owner));
    return *out ? 0u : uint32_t{ERR_LAYERRANGE};
}

uint32_t DetachObjectFromLayers(VmState*, uint32_t type, ObjectHeader* object)
{
    if (type == OBJ_CLIPREGION) {
        // One copy serves every layer clipped by the region.
        auto* region = reinterpret_cast<ClipRegion*>(object);
        if (!region || !FindLayerUsingObject(OBJ_CLIPREGION, region))
            return 0;
        ClipRegion* copy;
        if (uint32_t error = CopyClipRegion(region, &copy))
            return error;
        ForEachLayer([&](Layer* l) {
            if (l->clipRegion == region)
                l->clipRegion = copy;
        });
        return 0;
    }
    uint32_t result = 0;
    ForEachLayer([&](Layer* l) {
        if (!object || !ShowsObject(l, type, object))
            return;
        BitMapHandle *bitmap, *mask, *alpha;
        int32_t w, h;
        FreeMadeBitMaps(&l->privateCopy);
        MadeBitMaps copy{};
        if (LayerPlanes(l, &bitmap, &mask, &alpha, &w, &h)) {
            uint32_t error = CopyBitMap(bitmap, mask, alpha, 0, 0, w, h, 0, nullptr, nullptr, &copy.bitmap,
                                        mask ? &copy.mask : nullptr, alpha ? &copy.alpha : nullptr);
            if (error) {
                // The layer goes on showing the object; the caller must
                // not change it.
                FreeMadeBitMaps(&copy);
                result = error;
                return;
            }
            l->rawWidth = l->width = w;
            l->rawHeight = l->height = h;
        }
        // A layer that drew nothing of the object goes on drawing nothing.
        l->privateCopy = copy;
        l->object = nullptr;
    });
    return result;
}

int FindLayerUsingObject(uint32_t type, const void* object)
{
    int found = 0;
    ForEachLayer([&](Layer* l) { found |= object && ShowsObject(l, type, object); });
    return found;
}

int RelinkLayerSources(uint32_t type, uint32_t, ObjectHeader* object)
{
    int used = 0;
    ForEachLayer([&](Layer* l) {
        if (!object || !ShowsObject(l, type, object))
            return;
        // A region clips the layer wherever it lies; only a shown object
        // gives the layer its size.
        if (type != OBJ_CLIPREGION)
            TakeObjectSize(l);
        used = 1;
    });
    return used;
}

void ClearLayerObjectLinks(const void* object)
{
    ForEachLayer([&](Layer* l) {
        if (object && l->object == object)
            l->object = nullptr;
        if (object && l->clipRegion == object)
            l->clipRegion = nullptr;
    });
}

void ReleaseLayerObject(VmState* vm, uint32_t type, ObjectHeader* object)
{
    if (!FindLayerUsingObject(type, object))
        return;
    // A layer whose copy failed shows nothing; that is still no dangling pointer.
    DetachObjectFromLayers(vm, type, object);
    ClearLayerObjectLinks(object);
}

void DrawLayerStack(VmState*, BGPic* picture, BitMapHandle* dst, int32_t x, int32_t y, int32_t w, int32_t h)
{
    // The rectangle cut to the destination and the picture.
    int32_t left = x < 0 ? 0 : x, top = y < 0 ? 0 : y;
    int64_t right = int64_t{x} + w, bottom = int64_t{y} + h;
    right = right < dst->width ? right : dst->width;
    bottom = bottom < dst->height ? bottom : dst->height;
    right = right < picture->width ? right : picture->width;
    bottom = bottom < picture->height ? bottom : picture->height;
    if (right <= left || bottom <= top)
        return;
    BltBitMapRect(picture->bitmap, left, top, dst, left, top, static_cast<int32_t>(right - left),
                  static_cast<int32_t>(bottom - top));
    for (Layer* l = picture->layers; l; l = Next(l)) {
        BitMapHandle *bitmap, *mask, *alpha;
        int32_t lw, lh;
        if (!l->hidden && LayerPlanes(l, &bitmap, &mask, &alpha, &lw, &lh))
            DrawPlanesCut(bitmap, mask, alpha, lw, lh, l->x, l->y, dst, 0, 0, left, top, right, bottom);
    }
}

void DrawPlanesCut(BitMapHandle* bitmap, BitMapHandle* mask, BitMapHandle* alpha, int32_t w, int32_t h,
                   int32_t px, int32_t py, BitMapHandle* dst, int32_t originX, int32_t originY, int64_t left,
                   int64_t top, int64_t right, int64_t bottom)
{
    int64_t l0 = std::max<int64_t>(px, left), t0 = std::max<int64_t>(py, top);
    int64_t r0 = std::min(int64_t{px} + w, right), b0 = std::min(int64_t{py} + h, bottom);
    if (r0 <= l0 || b0 <= t0)
        return;
    auto sx = static_cast<int32_t>(l0 - px), sy = static_cast<int32_t>(t0 - py);
    auto dx = static_cast<int32_t>(l0 - originX), dy = static_cast<int32_t>(t0 - originY);
    auto cw = static_cast<int32_t>(r0 - l0), ch = static_cast<int32_t>(b0 - t0);
    if (alpha)
        BltBitMapMasked(bitmap, sx, sy, dst, dx, dy, cw, ch, alpha);
    else if (mask)
        BltBitMapMask(bitmap, sx, sy, dst, dx, dy, cw, ch, mask);
    else
        BltBitMapRect(bitmap, sx, sy, dst, dx, dy, cw, ch);
}

uint32_t MarkLayerDirty(VmState*, Display* display, const void* object, const Layer* layer)
{
    auto* picture = display ? static_cast<BGPic*>(display->shownBGPic) : nullptr;
    if (!picture || !object)
        return 0;
    if (object == picture)
        return AddRefreshRect(&display->refreshRects, 0, 0, picture->width, picture->height);
    for (Layer* l = picture->layers; l; l = Next(l)) {
        if (l->hidden || (layer ? l != layer : l->object != object))
            continue;
        if (uint32_t error = AddRefreshRect(&display->refreshRects, l->x, l->y, l->width, l->height))
            return error;
    }
    return 0;
}
