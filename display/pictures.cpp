// Brush and background-picture records. A record owns its three planes:
// whoever hands planes to AddBrush or AddBGPic gives them away, so every
// path out of the record (replacement, FreeBrush, shutdown) frees them in
// one place.
#include "display/pictures.h"

#include "core/io/error_codes.h"
#include "display/display.h"
#include "display/layers.h"
#include "display/object_list.h"
#include "display/script_refs.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/bitmaps/bitmap_ops.h"
#include "gfx/bitmaps/copy_bitmap.h"
#include "gfx/bitmaps/pixel_formats.h"
#include "gfx/blits/clip.h"
#include "platform/posix/os_memory.h"

Brush* BrushList;
BGPic* BGPicList;

namespace {

template <typename Record>
ObjectHeader** HeadOf(Record** list)
{
    return reinterpret_cast<ObjectHeader**>(list);
}

void FreePlanes(BitMapHandle* bitmap, BitMapHandle* mask, BitMapHandle* alpha)
{
    MadeBitMaps planes{bitmap, mask, alpha};
    FreeMadeBitMaps(&planes);
}

// AddBrush and AddBGPic: the record is complete before it replaces an old
// one of the same id; on failure the planes are freed and nothing else
// changes.
template <typename Record>
uint32_t AddPictureRecord(VmState* vm, Record** list, uint32_t type, ObjectId id, bool useHandle,
                          BitMapHandle* bitmap, BitMapHandle* mask, BitMapHandle* alpha,
                          int32_t width, int32_t height, void (*freeRecord)(VmState*, Record*),
                          Record** out)
{
    *out = nullptr;
    if (!bitmap || width < 1 || height < 1 || width > bitmap->width || height > bitmap->height) {
        FreePlanes(bitmap, mask, alpha);
        return ERR_BADDIMENSIONS;
    }
    auto* r = static_cast<Record*>(OsAllocMem(sizeof(Record), 1));
    if (!r) {
        FreePlanes(bitmap, mask, alpha);
        return ERR_MEM;
    }
    r->bitmap = bitmap;
    r->mask = mask;
    r->alpha = alpha;
    r->width = width;
    r->height = height;
    r->transparentColour = 0xFFFFFFFF;
    if (!useHandle) {
        if (auto* old = reinterpret_cast<Record*>(FindObjectInList(HeadOf(list)[0], id))) freeRecord(vm, old);
    }
    AppendObject(HeadOf(list), &r->header, type, id, useHandle);
    *out = r;
    return 0;
}

// A picture on a display that is open (or minimised) is what the display
// shows: its attributes, snapshots and redraws read it.
bool ShownOnDisplay(const BGPic* picture)
{
    for (Display* d = DisplayList; d; d = reinterpret_cast<Display*>(d->header.next))
        if (d->shownBGPic == picture && d->state != DISPSTATE_CLOSED) return true;
    return false;
}

// Frees a picture whatever shows it: a closed display forgets it (it looks
// its picture up by id again when it opens), as does every output record.
void DropBGPic(VmState* vm, BGPic* picture);

template <typename Record>
void FreePictureRecord(VmState* vm, Record** list, Record* r)
{
    UnlinkObject(HeadOf(list), &r->header);
    ReleaseObjectData(vm, &r->header);
    FreePlanes(r->bitmap, r->mask, r->alpha);
    OsFreeMem(r);
}

}  // namespace

uint32_t FindBrush(VmState* vm, ObjectId id, Brush** out, uint32_t options)
{
    ObjectHeader* r;
    uint32_t error = FindObjectOrError(HeadOf(&BrushList)[0], id, ERR_FINDBRUSH, &r);
    *out = reinterpret_cast<Brush*>(r);
    if (error || !(options & FINDPICTURE_MODIFY)) return error;
    if ((*out)->hardware) error = ERR_HWBRUSH;
    // Layers go on showing the brush as it is now.
    if (!error) error = DetachObjectFromLayers(vm, OBJ_BRUSH, r);
    if (error) *out = nullptr;
    return error;
}

uint32_t AddBrush(VmState* vm, ObjectId id, bool useHandle, BitMapHandle* bitmap,
                  BitMapHandle* mask, BitMapHandle* alpha, int32_t width, int32_t height,
                  Brush** out)
{
    return AddPictureRecord(vm, &BrushList, OBJ_BRUSH, id, useHandle, bitmap, mask, alpha, width,
                            height, FreeBrush, out);
}

void GetBrushPlanes(const Brush* brush, BitMapHandle** bitmap, BitMapHandle** mask,
                    BitMapHandle** alpha, int32_t* width, int32_t* height)
{
    bool software = brush && !brush->hardware;
    *bitmap = software ? brush->bitmap : nullptr;
    *mask = software ? brush->mask : nullptr;
    *alpha = software ? brush->alpha : nullptr;
    *width = software ? brush->width : 0;
    *height = software ? brush->height : 0;
}

void FreeBrush(VmState* vm, Brush* brush)
{
    if (!brush) return;
    ReleaseLayerObject(vm, OBJ_BRUSH, &brush->header);
    FreePictureRecord(vm, &BrushList, brush);
}

void ReplaceBrushPlanes(Brush* brush, BitMapHandle* bitmap, BitMapHandle* mask, BitMapHandle* alpha,
                        int32_t width, int32_t height)
{
    FreePlanes(brush->bitmap, brush->mask, brush->alpha);
    brush->bitmap = bitmap;
    brush->mask = mask;
    brush->alpha = alpha;
    brush->width = width;
    brush->height = height;
}

void FreeAllBrushes(VmState* vm)
{
    while (BrushList) FreeBrush(vm, BrushList);
}

uint32_t FindBGPic(VmState*, ObjectId id, BGPic** out, uint32_t)
{
    ObjectHeader* r;
    uint32_t error = FindObjectOrError(HeadOf(&BGPicList)[0], id, ERR_FINDBGPIC, &r);
    *out = reinterpret_cast<BGPic*>(r);
    return error;
}

uint32_t AddBGPic(VmState* vm, ObjectId id, bool useHandle, BitMapHandle* bitmap,
                  BitMapHandle* mask, BitMapHandle* alpha, int32_t width, int32_t height,
                  BGPic** out)
{
    *out = nullptr;
    auto* old = useHandle ? nullptr : reinterpret_cast<BGPic*>(FindObjectInList(HeadOf(&BGPicList)[0], id));
    if (old && ShownOnDisplay(old)) {
        FreePlanes(bitmap, mask, alpha);
        return ERR_FREEABGPIC;
    }
    uint32_t error = AddPictureRecord(vm, &BGPicList, OBJ_BGPIC, id, useHandle, bitmap, mask, alpha,
                                      width, height, DropBGPic, out);
    if (!error) {
        (*out)->output.width = width;
        (*out)->output.height = height;
        ResetClipWords(&(*out)->output);
    }
    return error;
}

namespace {

void DropBGPic(VmState* vm, BGPic* picture)
{
    for (Display* d = DisplayList; d; d = reinterpret_cast<Display*>(d->header.next)) {
        if (d->shownBGPic == picture) d->shownBGPic = nullptr;
        if (d->selectedOutput == &picture->output) {
            d->selectedOutput = nullptr;
            d->outputMode = OUTPUT_DISPLAY;
        }
    }
    FreeLayerList(vm, picture);
    ReleaseLayerObject(vm, OBJ_BGPIC, &picture->header);
    FreePictureRecord(vm, &BGPicList, picture);
}

}  // namespace

void FreeAllBGPics(VmState* vm)
{
    while (BGPicList) DropBGPic(vm, BGPicList);
}

uint32_t AcquireBGPicBitmap(VmState*, BGPic* picture, int32_t x, int32_t y, int32_t w, int32_t h,
                            BitMapHandle** out, uint32_t* made)
{
    *out = nullptr;
    *made = 0;
    if (!picture || !picture->bitmap || w < 1 || h < 1) return ERR_BADDIMENSIONS;
    if (x == 0 && y == 0 && w == picture->width && h == picture->height) {
        *out = picture->bitmap;
        return 0;
    }
    BitMapHandle* copy = AllocColorBitMap(w, h, 0, nullptr);
    if (!copy) return ERR_BITMAP;
    // Whatever of the rectangle lies outside the picture is black.
    FillBitMapRect(copy, 0, 0, w, h, 0);
    int32_t sx = x, sy = y, dx = 0, dy = 0, cw = w, ch = h;
    if (ClipRectPair(sx, sy, picture->width, picture->height, dx, dy, w, h, cw, ch))
        BltBitMapRect(picture->bitmap, sx, sy, copy, dx, dy, cw, ch);
    *out = copy;
    *made = 1;
    return 0;
}

uint32_t RenderBGPicSource(const uint32_t* pixels, int32_t width, int32_t height,
                           uint32_t alphaFlag, BitMapHandle** outBitmap, BitMapHandle** outMask,
                           BitMapHandle** outAlpha)
{
    *outBitmap = *outMask = *outAlpha = nullptr;
    if (!pixels || width < 1 || height < 1) return ERR_BADDIMENSIONS;
    BitMapHandle* bitmap = AllocColorBitMap(width, height, 0, nullptr);
    if (!bitmap) return ERR_BITMAP;
    BitMapHandle* alpha = nullptr;
    if (alphaFlag) {
        alpha = AllocAlphaBitMap(width, height, 0, nullptr, 0);
        if (!alpha) {
            FreeColorBitMap(bitmap);
            return ERR_ALLOCALPHA;
        }
    }
    BitMapLock lock{};
    if (LockBitMapPixels(bitmap, 0, &lock)) {
        const PixelRowKernels* rows = GetPixelRowKernels(lock.format);
        for (int32_t y = 0; rows != nullptr && y < height; ++y)
            rows->fromArgb(pixels + static_cast<size_t>(width) * y,
                           lock.pixels + static_cast<size_t>(lock.rowLength) * y * lock.bytesPerPixel,
                           width, 0);
        UnlockBitMapPixels(&lock);
    }
    if (alpha) {
        auto* plane = reinterpret_cast<uint8_t*>(QueryBitMapAttr(alpha, BMATTR_ALPHA_PIXELS));
        auto bpr = static_cast<int32_t>(QueryBitMapAttr(alpha, BMATTR_ALPHA_BYTESPERROW));
        if (plane) ExtractAlphaBytes(pixels, width, height, width, plane, bpr);
    }
    *outBitmap = bitmap;
    *outAlpha = alpha;
    return 0;
}

void Redraw(VmState* vm, Display*, BGPic* picture, BitMapHandle* dst, int32_t x, int32_t y,
            int32_t w, int32_t h, uint32_t, uint32_t mode)
{
    if (!picture || !picture->bitmap || !dst || mode == 2) return;
    DrawLayerStack(vm, picture, dst, x, y, w, h);
}
