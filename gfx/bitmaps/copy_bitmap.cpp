// Copies of pictures, and the steps that copying, scaling and transforming
// share. A video bitmap's pixels are the adapter's: software reads them
// into memory first, and every front end frees what it made on any
// failure, so a caller sees either all its handles or none.
#include "gfx/bitmaps/copy_bitmap.h"

#include <cstring>

#include "core/io/error_codes.h"
#include "gfx/bitmaps/adapter_calls.h"
#include "gfx/bitmaps/bitmap_ops.h"
#include "gfx/blits/plane_ops.h"
#include "platform/posix/os_memory.h"

namespace {

// Rows of w bytes from (x, y) of one alpha plane to (0, 0) of another.
bool CopyAlphaRect(BitMapHandle* src, int32_t x, int32_t y, BitMapHandle* dst, int32_t w, int32_t h)
{
    auto* from = reinterpret_cast<const uint8_t*>(QueryBitMapAttr(src, BMATTR_ALPHA_PIXELS));
    auto* to = reinterpret_cast<uint8_t*>(QueryBitMapAttr(dst, BMATTR_ALPHA_PIXELS));
    uintptr_t fromRow = QueryBitMapAttr(src, BMATTR_ALPHA_BYTESPERROW);
    uintptr_t toRow = QueryBitMapAttr(dst, BMATTR_ALPHA_BYTESPERROW);
    if (!from || !to) return false;
    for (int32_t j = 0; j < h; ++j)
        std::memcpy(to + toRow * j, from + fromRow * (y + j) + x, static_cast<size_t>(w));
    return true;
}

// The pixels of a plane handle at row y (and column x for alpha; a mask's
// x stays a bit offset), and its bytes per row; false without pixels.
bool PlanePixelsAt(BitMapHandle* plane, int32_t x, int32_t y, const uint8_t** pixels,
                   int32_t* bytesPerRow)
{
    bool mask = plane->kind == BITMAP_MASK;
    auto bpr = static_cast<int32_t>(
        QueryBitMapAttr(plane, mask ? BMATTR_MASK_BYTESPERROW : BMATTR_ALPHA_BYTESPERROW));
    auto* base = reinterpret_cast<const uint8_t*>(
        QueryBitMapAttr(plane, mask ? BMATTR_MASK_PIXELS : BMATTR_ALPHA_PIXELS));
    if (!base) return false;
    *pixels = base + static_cast<ptrdiff_t>(bpr) * y + (mask ? 0 : x);
    *bytesPerRow = bpr;
    return true;
}

bool PlanePixelsOut(BitMapHandle* plane, uint8_t** pixels, int32_t* bytesPerRow)
{
    const uint8_t* p = nullptr;
    if (!PlanePixelsAt(plane, 0, 0, &p, bytesPerRow)) return false;
    *pixels = const_cast<uint8_t*>(p);
    return true;
}

}  // namespace

void FreeMadeBitMaps(MadeBitMaps* made)
{
    if (made->bitmap) FreeColorBitMap(made->bitmap);
    if (made->mask) FreePlaneBitMap(made->mask);
    if (made->alpha) FreePlaneBitMap(made->alpha);
    *made = MadeBitMaps{};
}

void HandOutMadeBitMaps(MadeBitMaps* made, BitMapHandle** outBitMap, BitMapHandle** outMask,
                        BitMapHandle** outAlpha)
{
    BitMapHandle** outs[3] = {outBitMap, outMask, outAlpha};
    BitMapHandle** handles[3] = {&made->bitmap, &made->mask, &made->alpha};
    for (int k = 0; k < 3; ++k) {
        if (outs[k]) {
            *outs[k] = *handles[k];
            *handles[k] = nullptr;
        }
    }
    FreeMadeBitMaps(made);
}

uint32_t FinishMadeBitMaps(uint32_t error, MadeBitMaps* temp, MadeBitMaps* made,
                           BitMapHandle** outBitMap, BitMapHandle** outMask, BitMapHandle** outAlpha)
{
    if (temp) FreeMadeBitMaps(temp);
    if (error) FreeMadeBitMaps(made);
    else HandOutMadeBitMaps(made, outBitMap, outMask, outAlpha);
    return error;
}

uint32_t TryVideoBitMap(int32_t w, int32_t h, uint32_t flags, VideoBitMapParams* params,
                        BitMapHandle** out)
{
    *out = nullptr;
    if (!AdapterHasVideoBitMaps() || !CallableDisplayAdapter()) return 0;
    BitMapHandle* made = AllocColorBitMap(w, h, ALLOCBITMAP_VIDEO | flags, params);
    if (made) {
        *out = made;
        return 0;
    }
    return AdapterBitMapFlags() & ADAPTERBITMAP_FALLBACK ? 0u : uint32_t{ERR_BITMAP};
}

uint32_t SoftwareSource(BitMapHandle** src, BitMapHandle** srcAlpha, MadeBitMaps* temp)
{
    BitMapHandle* video = *src;
    if (!IsAdapterVideoBitMap(video)) return 0;
    temp->bitmap = AllocColorBitMap(video->width, video->height, 0, nullptr);
    if (!temp->bitmap) return ERR_BITMAP;
    if (uint32_t error = AdapterReadVideoBitMap(video, temp->bitmap, video->width, video->height, &temp->alpha)) {
        FreeMadeBitMaps(temp);
        return error;
    }
    *src = temp->bitmap;
    if (temp->alpha) *srcAlpha = temp->alpha;
    return 0;
}

uint32_t MakeBitMaps(MadeBitMaps* made, int32_t w, int32_t h, bool colour, bool mask, bool alpha,
                     int clearAlpha)
{
    if (colour && !(made->bitmap = AllocColorBitMap(w, h, 0, nullptr))) return ERR_BITMAP;
    if (mask && !(made->mask = AllocMaskBitMap(made->bitmap, w, h, 1, nullptr, 0))) return ERR_ALLOCMASK;
    if (alpha && !(made->alpha = AllocAlphaBitMap(w, h, clearAlpha, nullptr, 0))) return ERR_ALLOCALPHA;
    return 0;
}

uint32_t AimAtPlanes(PictureBlock* p, BitMapHandle* srcMask, BitMapHandle* srcAlpha, const MadeBitMaps& made)
{
    if (srcMask && !PlanePixelsAt(srcMask, p->srcX, p->srcY, &p->srcMask, &p->srcMaskBytesPerRow)) return ERR_ALLOCMASK;
    if (srcAlpha && !PlanePixelsAt(srcAlpha, p->srcX, p->srcY, &p->srcAlpha, &p->srcAlphaBytesPerRow))
        return ERR_ALLOCALPHA;
    if (made.mask && !PlanePixelsOut(made.mask, &p->dstMask, &p->dstMaskBytesPerRow)) return ERR_ALLOCMASK;
    if (made.alpha && !PlanePixelsOut(made.alpha, &p->dstAlpha, &p->dstAlphaBytesPerRow)) return ERR_ALLOCALPHA;
    return 0;
}

uint32_t LockSourceAndTarget(BitMapHandle* src, int32_t x, int32_t y, int32_t w, int32_t h,
                             BitMapHandle* target, int32_t tw, int32_t th, BitMapLock* s,
                             BitMapLock* d)
{
    LockBitMapPixels(src, LOCKBITMAP_READ, s);
    LockBitMapPixels(target, 0, d);
    if (!s->ok || !d->ok || s->format != d->format || s->bytesPerPixel != d->bytesPerPixel ||
        !RectInside(x, y, w, h, s->width, s->height) || d->width < tw || d->height < th)
        return ERR_LOCKBMAP;
    return 0;
}

uint32_t ReadBitMapPixels(BitMapHandle* bitmap, int32_t x, int32_t y, int32_t w, int32_t h,
                          uint32_t** outPixels, uint32_t* outHasAlpha)
{
    *outPixels = nullptr;
    if (outHasAlpha) *outHasAlpha = 0;
    if (!RectInsideBitMap(bitmap, x, y, w, h)) return ERR_COORDSRANGE;
    auto* argb = static_cast<uint32_t*>(OsAllocMem(static_cast<size_t>(w) * h * 4, 0));
    if (!argb) return ERR_MEM;
    if (IsAdapterVideoBitMap(bitmap)) {
        uint32_t hasAlpha = 0, format = PIXFMT_COUNT;
        QmTagItem tags[] = {{READVIDEOTAG_HASALPHA, reinterpret_cast<uintptr_t>(&hasAlpha)},
                            {READVIDEOTAG_FORMAT, reinterpret_cast<uintptr_t>(&format)},
                            {0, 0}};
        auto* buffer = static_cast<const uint8_t*>(CallAdapterReadVideoPixels(bitmap->native, tags));
        const PixelRowKernels* k = GetPixelRowKernels(format);
        if (!buffer || !k) {
            AdapterFreeVideoPixels(const_cast<uint8_t*>(buffer));
            OsFreeMem(argb);
            return ERR_READVIDEOPIXELS;
        }
        // The adapter's copy is the whole picture, rows packed tight.
        size_t bytes = PixelFormatBytes(format), stride = static_cast<size_t>(bitmap->width) * bytes;
        for (int32_t j = 0; j < h; ++j)
            k->toArgb(buffer + stride * (y + j) + bytes * x, argb + static_cast<size_t>(w) * j, w, 1);
        AdapterFreeVideoPixels(const_cast<uint8_t*>(buffer));
        if (outHasAlpha) *outHasAlpha = hasAlpha;
    } else {
        BitMapLock lock{};
        LockBitMapPixels(bitmap, LOCKBITMAP_READ, &lock);
        const PixelRowKernels* k = GetPixelRowKernels(lock.format);
        if (!lock.ok || !k || !RectInside(x, y, w, h, lock.width, lock.height)) {
            UnlockBitMapPixels(&lock);
            OsFreeMem(argb);
            return ERR_LOCKBMAP;
        }
        size_t stride = static_cast<size_t>(lock.rowLength) * lock.bytesPerPixel;
        int keepAlpha = lock.bytesPerPixel == 4;
        for (int32_t j = 0; j < h; ++j)
            k->toArgb(lock.pixels + stride * (y + j) + static_cast<size_t>(lock.bytesPerPixel) * x,
                      argb + static_cast<size_t>(w) * j, w, keepAlpha);
        UnlockBitMapPixels(&lock);
    }
    *outPixels = argb;
    return 0;
}

uint32_t CopyBitMap(BitMapHandle* src, BitMapHandle* srcMask, BitMapHandle* srcAlpha, int32_t x,
                    int32_t y, int32_t w, int32_t h, int hardware, void* hwA, void* hwB,
                    BitMapHandle** outBitMap, BitMapHandle** outMask, BitMapHandle** outAlpha)
{
    if (outBitMap) *outBitMap = nullptr;
    if (outMask) *outMask = nullptr;
    if (outAlpha) *outAlpha = nullptr;
    if (!src && !srcMask && !srcAlpha) return ERR_WRONGUSAGE;
    if (!RectInsideSources(src, srcMask, srcAlpha, x, y, w, h)) return ERR_COORDSRANGE;

    if (hardware && src && AdapterHasVideoBitMaps()) {
        VideoBitMapParams params{};
        params.source = src;
        params.mask = srcMask;
        params.alpha = srcAlpha;
        params.srcX = x;
        params.srcY = y;
        params.display = hwA;
        uint32_t flags = 0;
        uint32_t* pixels = nullptr;
        // The adapter copies a video bitmap whole; a part of one, or one that
        // belongs to another display, goes over as pixels.
        bool whole = x == 0 && y == 0 && w == src->width && h == src->height;
        if (src->hardware && ((hwB && hwB != hwA) || !whole)) {
            uint32_t hasAlpha = 0;
            if (uint32_t error = ReadBitMapPixels(src, x, y, w, h, &pixels, &hasAlpha)) return error;
            params.source = pixels;
            params.pixelsGiven = 1;
            flags = VIDEOBITMAP_HASALPHA;
        }
        BitMapHandle* video = nullptr;
        uint32_t error = TryVideoBitMap(w, h, flags, &params, &video);
        OsFreeMem(pixels);
        if (error) return error;
        if (video) {
            if (outBitMap) *outBitMap = video;
            else FreeColorBitMap(video);
            return 0;
        }
    }

    MadeBitMaps temp{}, made{};
    if (uint32_t error = SoftwareSource(&src, &srcAlpha, &temp)) return error;
    uint32_t error = MakeBitMaps(&made, w, h, src, srcMask, srcAlpha, 0);
    if (!error && made.alpha && !CopyAlphaRect(srcAlpha, x, y, made.alpha, w, h)) error = ERR_ALLOCALPHA;
    if (!error) {
        if (made.mask) BltMaskPlane(srcMask, x, y, made.mask, 0, 0, w, h, MASKVANILLACOPY, nullptr, 0);
        if (made.bitmap) BltBitMapRect(src, x, y, made.bitmap, 0, 0, w, h);
    }
    return FinishMadeBitMaps(error, &temp, &made, outBitMap, outMask, outAlpha);
}
