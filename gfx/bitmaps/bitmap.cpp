#include "gfx/bitmaps/bitmap.h"

#include <cstring>

#include "display/display.h"
#include "gfx/bitmaps/adapter_calls.h"
#include "gfx/bitmaps/picture_bits.h"
#include "gfx/bitmaps/video_bitmaps.h"
#include "platform/posix/os_memory.h"

namespace {

uint32_t g_platformFormat = PIXFMT_ARGB;

bool SizeAllowed(int32_t width, int32_t height)
{
    return width > 0 && height > 0 && width <= kMaxBitMapSide && height <= kMaxBitMapSide &&
           static_cast<uint64_t>(width) * static_cast<uint64_t>(height) <= kMaxBitMapPixels;
}

// A plane record with `bytesPerRow * height` bytes of its own.
BitMapPlane* NewPlane(uint32_t kind, int32_t width, int32_t height, uint32_t bytesPerRow,
                      int clear)
{
    if (!SizeAllowed(width, height)) return nullptr;
    auto* plane = static_cast<BitMapPlane*>(OsAllocMem(sizeof(BitMapPlane), 1));
    if (!plane) return nullptr;
    // A plane not cleared here is one its maker writes whole next.
    size_t bytes = static_cast<size_t>(bytesPerRow) * static_cast<size_t>(height);
    plane->pixels = static_cast<uint8_t*>(clear ? OsAllocMem(bytes, 1) : OsAllocFilledMem(bytes));
    if (!plane->pixels) {
        OsFreeMem(plane);
        return nullptr;
    }
    plane->kind = kind;
    plane->width = width;
    plane->height = height;
    plane->bytesPerRow = bytesPerRow;
    return plane;
}

BitMapHandle* NewHandle(uint32_t kind, int32_t width, int32_t height)
{
    auto* handle = static_cast<BitMapHandle*>(OsAllocMem(sizeof(BitMapHandle), 1));
    if (!handle) return nullptr;
    handle->kind = kind;
    handle->width = width;
    handle->height = height;
    return handle;
}

void FreeOwnPlane(BitMapPlane* plane)
{
    if (!plane) return;
    if (!plane->borrowed) OsFreeMem(plane->pixels);
    OsFreeMem(plane);
}

// The tag list {1 colour bitmap}, {2 pixels}, {3 bytes per row}, 0 of the
// adapter's plane allocation; absent entries are left out.
void BuildPlaneTags(QmTagItem* tags, void* colourNative, void* pixels, uint32_t bytesPerRow)
{
    int n = 0;
    if (colourNative) tags[n++] = {1, reinterpret_cast<uintptr_t>(colourNative)};
    if (pixels) {
        tags[n++] = {2, reinterpret_cast<uintptr_t>(pixels)};
        tags[n++] = {3, bytesPerRow};
    }
    tags[n] = {0, 0};
}

const BitMapPlane* OwnPlane(const BitMapHandle* handle)
{
    return static_cast<const BitMapPlane*>(handle->native);
}

}  // namespace

// ---------------------------------------------------------------------------
// Platform store

OsBitMap* OsAllocBitMap(int32_t width, int32_t height, uint32_t flags)
{
    if (!SizeAllowed(width, height)) return nullptr;
    auto* record = static_cast<OsBitMap*>(OsAllocMem(sizeof(OsBitMap), 1));
    if (!record) return nullptr;
    uint32_t format = g_platformFormat;
    uint32_t bpp = PixelFormatBytes(format);
    int32_t rowLength = (width + 3) & ~3;
    record->width = width;
    record->height = height;
    record->rowLength = rowLength;
    record->bytesPerPixel = bpp;
    record->bytesPerRow = static_cast<uint32_t>(rowLength) * bpp;
    record->format = format;
    // One spare row lets kernels that read a row ahead stay in bounds. Every
    // maker of a picture but one asking for zero bytes writes all of it next.
    size_t bytes = static_cast<size_t>(record->bytesPerRow) * (static_cast<size_t>(height) + 1);
    record->pixels = static_cast<uint8_t*>((flags & ALLOCBITMAP_ZEROED) ? OsAllocMem(bytes, 1)
                                                                          : OsAllocFilledMem(bytes));
    if (!record->pixels) {
        OsFreeMem(record);
        return nullptr;
    }
    return record;
}

void OsFreeBitMap(OsBitMap* record)
{
    if (!record) return;
    OsFreeMem(record->pixels);
    OsFreeMem(record);
}

uint32_t OsBitMapNoop(BitMapHandle*, void*, uint32_t* aux)
{
    *aux = 0;
    return 1;
}

uint32_t OsGetBitMapInfo(const OsBitMap* record, BitMapLock* lock)
{
    if (!record) {
        lock->ok = 0;
        return 0;
    }
    lock->pixels = record->pixels;
    lock->ok = 1;
    lock->format = record->format;
    lock->bytesPerPixel = record->bytesPerPixel;
    lock->rowLength = static_cast<int32_t>(record->bytesPerRow / record->bytesPerPixel);
    lock->width = record->width;
    lock->height = record->height;
    return 1;
}

uint32_t OsGetDisplayPixelFormat() { return g_platformFormat; }

void OsSetDisplayPixelFormat(uint32_t format)
{
    if (format < PIXFMT_COUNT) g_platformFormat = format;
}

uint32_t OsGetDisplayDepth()
{
    uint32_t bytes = PixelFormatBytes(g_platformFormat);
    return bytes ? bytes * 8 : 32;
}

// ---------------------------------------------------------------------------
// Planes

uint32_t AlphaPlaneBytesPerRow(int32_t width)
{
    return (static_cast<uint32_t>(width) + 3) & ~3u;
}

uint32_t MaskPlaneBytesPerRow(int32_t width)
{
    return ((static_cast<uint32_t>(width) + 15) >> 3) & ~1u;
}

BitMapPlane* AllocAlphaPlane(int32_t width, int32_t height, int clear)
{
    return NewPlane(BITMAP_ALPHA, width, height, AlphaPlaneBytesPerRow(width), clear);
}

BitMapPlane* AllocMaskPlane(BitMapHandle* colourBitMap, int32_t width, int32_t height, int clear)
{
    int32_t n = width;
    if (colourBitMap) {
        auto rowLength = static_cast<int32_t>(QueryBitMapAttr(colourBitMap, BMATTR_ROWLENGTH));
        // Rows follow the colour bitmap's, but never fall short of the
        // mask's own width: narrower rows would let writes run past them.
        if (rowLength > n) n = rowLength;
    }
    if (!SizeAllowed(n, height)) return nullptr;
    BitMapPlane* plane = NewPlane(BITMAP_MASK, width, height, MaskPlaneBytesPerRow(n), clear);
    return plane;
}

BitMapPlane* WrapPlanePixels(uint32_t kind, void* pixels, int32_t width, int32_t height,
                             uint32_t bytesPerRow)
{
    auto* plane = static_cast<BitMapPlane*>(OsAllocMem(sizeof(BitMapPlane), 1));
    if (!plane) return nullptr;
    plane->kind = kind;
    if (kind == BITMAP_ALPHA) {
        plane->width = width;
        plane->height = height;
    }
    plane->pixels = static_cast<uint8_t*>(pixels);
    plane->bytesPerRow = bytesPerRow;
    plane->borrowed = 1;
    return plane;
}

// ---------------------------------------------------------------------------
// Handles

uint32_t DisplayPixelFormat()
{
    return AdapterManagesBitMaps() ? AdapterPixelFormat() : g_platformFormat;
}

BitMapHandle* AllocColorBitMap(int32_t width, int32_t height, uint32_t flags, void* params)
{
    if (!SizeAllowed(width, height)) return nullptr;
    BitMapHandle* handle = NewHandle(BITMAP_COLOR, width, height);
    if (!handle) return nullptr;
    uint32_t adapterFlags = AdapterBitMapFlags();
    if ((flags & ALLOCBITMAP_VIDEO) && (adapterFlags & ADAPTERBITMAP_VIDEO)) {
        handle->native = AdapterAllocVideoBitMap(width, height, flags, &handle->aux,
                                                 static_cast<const VideoBitMapParams*>(params));
        handle->hardware = 1;
        handle->store = BITMAPSTORE_VIDEO;
    } else if (adapterFlags & ADAPTERBITMAP_MANAGES) {
        // A video request the adapter cannot hold is served as one of its
        // memory bitmaps, so no platform record ever reaches its entries.
        handle->native = AdapterAllocBitMap(BITMAP_COLOR, width, height, 0, nullptr);
        handle->store = BITMAPSTORE_ADAPTER;
    } else {
        OsBitMap* record = OsAllocBitMap(width, height, flags);
        handle->native = record;
        if (record && !OsBitMapNoop(handle, params, &handle->aux)) {
            OsFreeBitMap(record);
            handle->native = nullptr;
        }
    }
    if (!handle->native) {
        OsFreeMem(handle);
        return nullptr;
    }
    return handle;
}

bool CanAdoptArgbPixels(int32_t width, int32_t height)
{
    return SizeAllowed(width, height) && width % 4 == 0 && g_platformFormat == PIXFMT_ARGB &&
           !(AdapterBitMapFlags() & ADAPTERBITMAP_MANAGES);
}

BitMapHandle* AdoptArgbPixels(uint32_t* pixels, int32_t width, int32_t height)
{
    if (!pixels || !CanAdoptArgbPixels(width, height)) return nullptr;
    BitMapHandle* handle = NewHandle(BITMAP_COLOR, width, height);
    auto* record = handle ? static_cast<OsBitMap*>(OsAllocMem(sizeof(OsBitMap), 1)) : nullptr;
    if (!record) {
        OsFreeMem(handle);
        return nullptr;
    }
    record->width = width;
    record->height = height;
    record->rowLength = width;
    record->bytesPerPixel = 4;
    record->bytesPerRow = static_cast<uint32_t>(width) * 4;
    record->format = PIXFMT_ARGB;
    record->pixels = reinterpret_cast<uint8_t*>(pixels);
    handle->native = record;
    OsBitMapNoop(handle, nullptr, &handle->aux);
    return handle;
}

BitMapHandle* AllocAlphaBitMap(int32_t width, int32_t height, int clear, void* pixels,
                               uint32_t bytesPerRow)
{
    if (!SizeAllowed(width, height)) return nullptr;
    BitMapHandle* handle = NewHandle(BITMAP_ALPHA, width, height);
    if (!handle) return nullptr;
    if (AdapterManagesBitMaps()) {
        QmTagItem tags[4];
        BuildPlaneTags(tags, nullptr, pixels, bytesPerRow);
        handle->native = AdapterAllocBitMap(BITMAP_ALPHA, width, height, clear != 0, tags);
        handle->store = BITMAPSTORE_ADAPTER;
    } else if (pixels) {
        handle->native = WrapPlanePixels(BITMAP_ALPHA, pixels, width, height, bytesPerRow);
    } else {
        handle->native = AllocAlphaPlane(width, height, clear);
    }
    if (!handle->native) {
        OsFreeMem(handle);
        return nullptr;
    }
    return handle;
}

BitMapHandle* AllocMaskBitMap(BitMapHandle* colourBitMap, int32_t width, int32_t height,
                              int clear, void* pixels, uint32_t bytesPerRow)
{
    if (!SizeAllowed(width, height)) return nullptr;
    BitMapHandle* handle = NewHandle(BITMAP_MASK, width, height);
    if (!handle) return nullptr;
    if (AdapterManagesBitMaps()) {
        QmTagItem tags[4];
        BuildPlaneTags(tags, colourBitMap ? colourBitMap->native : nullptr, pixels, bytesPerRow);
        handle->native = AdapterAllocBitMap(BITMAP_MASK, width, height, clear != 0, tags);
        handle->store = BITMAPSTORE_ADAPTER;
    } else if (pixels) {
        handle->native = WrapPlanePixels(BITMAP_MASK, pixels, width, height, bytesPerRow);
    } else {
        handle->native = AllocMaskPlane(colourBitMap, width, height, clear);
    }
    if (!handle->native) {
        OsFreeMem(handle);
        return nullptr;
    }
    return handle;
}

void FreeColorBitMap(BitMapHandle* handle)
{
    if (!handle) return;
    // A video bitmap whose adapter can no longer take it back is left to
    // the adapter rather than handed to the wrong allocator.
    if (handle->store == BITMAPSTORE_VIDEO) {
        if (AdapterHasVideoBitMaps()) AdapterFreeVideoBitMap(handle->native);
    } else if (handle->store == BITMAPSTORE_ADAPTER) {
        AdapterFreeBitMap(handle->native);
    } else {
        OsFreeBitMap(static_cast<OsBitMap*>(handle->native));
    }
    OsFreeMem(handle);
}

void FreePlaneBitMap(BitMapHandle* handle)
{
    if (!handle) return;
    if (handle->store == BITMAPSTORE_ADAPTER)
        AdapterFreeBitMap(handle->native);
    else
        FreeOwnPlane(static_cast<BitMapPlane*>(handle->native));
    OsFreeMem(handle);
}

void* GetNativeBitMap(const BitMapHandle* handle) { return handle ? handle->native : nullptr; }

int32_t GetPlaneDim(void* plane, uint32_t which)
{
    if (AdapterManagesBitMaps()) return static_cast<int32_t>(AdapterGetBitMapAttr(plane, which));
    if (!plane) return 0;
    auto* p = static_cast<BitMapPlane*>(plane);
    return which == 0 ? p->width : which == 1 ? p->height : 0;
}

void UpdateHardwareBitMap(BitMapHandle* handle)
{
    if (!handle || !handle->hardware || handle->aux) return;
    if (AdapterHasVideoBitMaps()) AdapterDoVideoBitMapMethod(handle->native, 1, 1);
    handle->aux = 1;
}

// ---------------------------------------------------------------------------
// Locks

uint32_t LockBitMapPixels(void* bitmap, uint32_t flags, BitMapLock* lock)
{
    lock->ok = 0;
    lock->plane = 0;
    lock->adapterLock = 0;
    if (!bitmap) return 0;
    const BitMapHandle* handle =
        (flags & LOCKBITMAP_NATIVE) ? nullptr : static_cast<const BitMapHandle*>(bitmap);
    bool adapterRecord = handle ? handle->store != BITMAPSTORE_OWN : AdapterManagesBitMaps();
    if (adapterRecord) {
        // Video bitmaps are read through the adapter's own methods; only an
        // adapter that manages bitmaps can lock them.
        if (!AdapterManagesBitMaps()) return 0;
        void* native = handle ? handle->native : bitmap;
        AdapterBitMapInfo info{};
        uintptr_t word = AdapterLockBitMap(native, flags & LOCKBITMAP_READ, &info);
        if (!word) return 0;
        lock->adapterLock = word;
        lock->pixels = static_cast<uint8_t*>(info.pixels);
        lock->rowLength = static_cast<int32_t>(info.rowLength);
        lock->width = static_cast<int32_t>(info.width);
        lock->height = static_cast<int32_t>(info.height);
        lock->format = AdapterPixelFormat();
        lock->bytesPerPixel = PixelFormatBytes(lock->format);
        lock->ok = 1;
        return 1;
    }
    if (flags & LOCKBITMAP_NATIVE) {
        // Every own record starts with its kind: 0 platform colour bitmap,
        // 1 and 2 planes.
        uint32_t kind = *static_cast<const uint32_t*>(bitmap);
        if (kind == BITMAP_ALPHA || kind == BITMAP_MASK) {
            auto* plane = static_cast<const BitMapPlane*>(bitmap);
            lock->pixels = plane->pixels;
            lock->rowLength = static_cast<int32_t>(plane->bytesPerRow);
            lock->width = plane->width;
            lock->height = plane->height;
            lock->bytesPerPixel = 1;
            lock->format = kind == BITMAP_ALPHA ? PIXFMT_ALPHAPLANE : PIXFMT_MASKPLANE;
            lock->plane = 1;
            lock->ok = 1;
            return 1;
        }
        if (kind == BITMAP_COLOR) return OsGetBitMapInfo(static_cast<const OsBitMap*>(bitmap), lock);
        return 0;
    }
    if (handle->kind == BITMAP_ALPHA || handle->kind == BITMAP_MASK) {
        bool alpha = handle->kind == BITMAP_ALPHA;
        lock->pixels = reinterpret_cast<uint8_t*>(
            QueryBitMapAttr(handle, alpha ? BMATTR_ALPHA_PIXELS : BMATTR_MASK_PIXELS));
        lock->rowLength = static_cast<int32_t>(
            QueryBitMapAttr(handle, alpha ? BMATTR_ALPHA_BYTESPERROW : BMATTR_MASK_BYTESPERROW));
        lock->plane = 1;
        lock->ok = 1;
        return 1;
    }
    return OsGetBitMapInfo(static_cast<const OsBitMap*>(handle->native), lock);
}

void UnlockBitMapPixels(BitMapLock* lock)
{
    if (!lock->ok) return;
    if (lock->adapterLock) AdapterUnLockBitMap(lock->adapterLock);
    // Own planes and platform bitmaps need nothing more.
    lock->ok = 0;
}

// ---------------------------------------------------------------------------
// Attributes

uintptr_t QueryBitMapAttr(const void* object, uint32_t id)
{
    auto* handle = static_cast<const BitMapHandle*>(object);
    bool manages = handle && handle->store != BITMAPSTORE_OWN;
    switch (id) {
    case BMATTR_WIDTH: return handle ? static_cast<uint32_t>(handle->width) : 0;
    case BMATTR_HEIGHT: return handle ? static_cast<uint32_t>(handle->height) : 0;
    case BMATTR_HARDWARE: return handle ? handle->hardware : 0;
    case BMATTR_AUX: return handle ? handle->aux : 0;
    case BMATTR_NATIVE: return handle ? reinterpret_cast<uintptr_t>(handle->native) : 0;
    case BMATTR_HARDWARE_ORPHAN:
        return handle && handle->hardware && !AdapterHasVideoBitMaps() ? 1 : 0;
    case BMATTR_ALPHA_BYTESPERROW:
    case BMATTR_MASK_BYTESPERROW:
        if (!handle || !handle->native) return 0;
        if (manages) return AdapterGetBitMapAttr(handle->native, 2);
        return OwnPlane(handle)->bytesPerRow;
    case BMATTR_ALPHA_PIXELS:
    case BMATTR_MASK_PIXELS: {
        if (!handle || !handle->native) return 0;
        if (!manages) return reinterpret_cast<uintptr_t>(OwnPlane(handle)->pixels);
        AdapterBitMapInfo info{};
        uintptr_t word = AdapterLockBitMap(handle->native, 0, &info);
        if (!word) return 0;
        AdapterUnLockBitMap(word);
        return reinterpret_cast<uintptr_t>(info.pixels);
    }
    case BMATTR_ROWLENGTH: {
        if (!handle || !handle->native) return 0;
        if (manages) {
            uint32_t bpp = PixelFormatBytes(AdapterPixelFormat());
            return bpp ? AdapterGetBitMapAttr(handle->native, 2) / bpp : 0;
        }
        if (handle->kind != BITMAP_COLOR || handle->hardware) return 0;
        auto* record = static_cast<const OsBitMap*>(handle->native);
        return record->bytesPerRow / record->bytesPerPixel;
    }
    case BMATTR_PIXELFORMAT:
        if (!handle || !handle->native) return 0;
        if (manages) return AdapterPixelFormat();
        if (handle->kind != BITMAP_COLOR || handle->hardware) return 0;
        return static_cast<const OsBitMap*>(handle->native)->format;
    case BMATTR_DESKTOP_DEPTH: return OsGetDisplayDepth();
    case 6:
    case 7: {
        if (!object) return 0;
        auto* display = static_cast<const Display*>(object);
        return static_cast<uint32_t>(id == 6 ? display->mouseX : display->mouseY);
    }
    case BMATTR_PLATFORM_FLAG:
        // An adapter that answers attributes speaks for its platform.
        return AdapterAnswersBitMapAttr() ? AdapterGetBitMapAttr(nullptr, BMATTR_PLATFORM_FLAG) : 1;
    default: return 0;
    }
}

// ---------------------------------------------------------------------------
// Single pixels

uint32_t ReadLockedPixel(const BitMapLock* lock, int32_t x, int32_t y)
{
    const uint8_t* p = lock->pixels + (static_cast<size_t>(lock->rowLength) * y + x) *
                                          lock->bytesPerPixel;
    switch (lock->bytesPerPixel) {
    case 2: {
        uint16_t v;
        std::memcpy(&v, p, 2);
        return PixelToArgb(v, lock->format, 0);
    }
    case 3:
        if (lock->format == PIXFMT_BGR24) return (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
        return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
    case 4: {
        uint32_t v;
        std::memcpy(&v, p, 4);
        uint32_t format = lock->format;
        if (format == PIXFMT_ARGB || format == PIXFMT_RGBA || format == PIXFMT_ABGR)
            return PixelToArgb(v, format, 0);
        return PixelToArgb(v, PIXFMT_BGRA, 0);
    }
    default:
        // Plane locks have one byte per pixel: there is no colour to read.
        return 0;
    }
}

void WriteLockedPixel(const BitMapLock* lock, int32_t x, int32_t y, uint32_t argb)
{
    uint8_t* p = lock->pixels + (static_cast<size_t>(lock->rowLength) * y + x) *
                                    lock->bytesPerPixel;
    uint32_t v = ArgbToPixel(argb, lock->format, 0);
    switch (lock->bytesPerPixel) {
    case 2: {
        uint16_t w = static_cast<uint16_t>(v);
        std::memcpy(p, &w, 2);
        break;
    }
    case 3:
        p[0] = static_cast<uint8_t>(v >> 16);
        p[1] = static_cast<uint8_t>(v >> 8);
        p[2] = static_cast<uint8_t>(v);
        break;
    case 4: std::memcpy(p, &v, 4); break;
    default: break;
    }
}

uint32_t AdapterArgb(uint32_t argb)
{
    if (!(AdapterBitMapFlags() & ADAPTERBITMAP_INVERTED_ALPHA)) return argb;
    uint32_t a = argb >> 24;
    return ((a == 0 ? 255 : 255 - a) << 24) | (argb & 0xFFFFFF);
}

uint32_t ReadBitMapPixel(BitMapHandle* handle, int32_t x, int32_t y, int maskFlag)
{
    if (!handle || x < 0 || y < 0 || x >= handle->width || y >= handle->height) return 0;
    if (maskFlag) {
        auto* bits = reinterpret_cast<const uint8_t*>(QueryBitMapAttr(handle, BMATTR_MASK_PIXELS));
        uintptr_t bpr = QueryBitMapAttr(handle, BMATTR_MASK_BYTESPERROW);
        if (!bits) return 0;
        return MaskBitAt(bits + bpr * y, x) ? 1 : 0;
    }
    BitMapLock lock{};
    if (!LockBitMapPixels(handle, LOCKBITMAP_READ, &lock)) return 0;
    uint32_t argb = 0;
    if (x < lock.width && y < lock.height) argb = ReadLockedPixel(&lock, x, y);
    UnlockBitMapPixels(&lock);
    return argb;
}
