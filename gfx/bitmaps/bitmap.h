// Bitmap handles: every picture keeps its pixels behind one small handle,
// held by one of three stores: the display adapter's video bitmaps, the
// adapter's memory bitmaps (when it manages bitmaps), or our own stores (a
// platform colour bitmap, a BitMapPlane for alpha and mask planes).
#pragma once

#include <cstddef>
#include <cstdint>

#include "gfx/bitmaps/pixel_formats.h"

enum BitMapKind : uint32_t { BITMAP_COLOR = 0, BITMAP_ALPHA = 1, BITMAP_MASK = 2 };

// Which store made a handle's native record; it alone decides where the
// record goes back, whatever adapter is installed by then.
enum BitMapStore : uint32_t { BITMAPSTORE_OWN = 0, BITMAPSTORE_ADAPTER = 1, BITMAPSTORE_VIDEO = 2 };

struct BitMapHandle {
    uint32_t kind;  // BitMapKind
    void* native;   // the store's own record
    int32_t width;
    int32_t height;
    uint32_t hardware;  // 1 for an adapter video bitmap
    uint32_t aux;       // video bitmaps: 1 when they carry alpha
    uint32_t store;     // BitMapStore
};

struct BitMapPlane {
    uint32_t kind;  // BITMAP_ALPHA or BITMAP_MASK
    int32_t width;
    int32_t height;
    uint8_t* pixels;
    uint32_t bytesPerRow;
    uint32_t borrowed;  // the pixels are the caller's and never freed here
};

// The platform's colour bitmap record.
struct OsBitMap {
    uint32_t reserved;  // always 0
    int32_t width;      // the width asked for
    int32_t height;
    uint8_t* pixels;    // height + 1 rows
    uint32_t bytesPerRow;
    uint32_t bytesPerPixel;
    uint32_t format;
    int32_t rowLength;  // width rounded up to a multiple of 4 pixels
};

struct BitMapLock {
    uint8_t* pixels;
    uint32_t ok;
    uint32_t format;  // 0-13, 14 alpha plane, 15 mask plane
    uint32_t bytesPerPixel;
    int32_t rowLength;  // pixels for colour bitmaps, bytes for planes
    int32_t width;
    int32_t height;
    uint32_t plane;       // 1: an own plane, nothing to unlock
    uintptr_t adapterLock;  // what the adapter's LockBitMap answered; 0 for own stores
};

// LockBitMapPixels flags.
enum : uint32_t {
    LOCKBITMAP_READ = 0x1,
    LOCKBITMAP_NATIVE = 0x2,  // the argument is a store record, not a handle
};

// AllocColorBitMap flag: ask for a video bitmap of the adapter.
constexpr uint32_t ALLOCBITMAP_VIDEO = 0x8;
// AllocColorBitMap flag: a bitmap of the platform store starts as zero
// bytes, its pages mapped as they are first written, for a maker that may
// never write most of them (rather than all at once for one that writes
// them whole).
constexpr uint32_t ALLOCBITMAP_ZEROED = 0x100;

// Bits of the display adapter's flag word read by the bitmap layer.
enum : uint32_t {
    ADAPTERBITMAP_FALLBACK = 0x04,
    ADAPTERBITMAP_VIDEO = 0x10,
    ADAPTERBITMAP_MANAGES = 0x20,
    ADAPTERBITMAP_INVERTED_ALPHA = 0x80,
};

// The largest side and pixel count a bitmap may have: larger requests are
// refused before any size arithmetic can overflow.
constexpr int32_t kMaxBitMapSide = 1 << 16;
constexpr uint64_t kMaxBitMapPixels = uint64_t{1} << 28;

// Platform store.
OsBitMap* OsAllocBitMap(int32_t width, int32_t height, uint32_t flags);
void OsFreeBitMap(OsBitMap* record);
uint32_t OsBitMapNoop(BitMapHandle* handle, void* params, uint32_t* aux);
uint32_t OsGetBitMapInfo(const OsBitMap* record, BitMapLock* lock);
// The platform's display pixel format (10 unless set otherwise).
uint32_t OsGetDisplayPixelFormat();
void OsSetDisplayPixelFormat(uint32_t format);
// Bits per pixel of the desktop's pixel format (32 while it is unknown).
uint32_t OsGetDisplayDepth();

// Plane rounding.
uint32_t AlphaPlaneBytesPerRow(int32_t width);
uint32_t MaskPlaneBytesPerRow(int32_t width);

BitMapPlane* AllocAlphaPlane(int32_t width, int32_t height, int clear);
BitMapPlane* AllocMaskPlane(BitMapHandle* colourBitMap, int32_t width, int32_t height, int clear);
BitMapPlane* WrapPlanePixels(uint32_t kind, void* pixels, int32_t width, int32_t height,
                             uint32_t bytesPerRow);

// The format of colour bitmaps: the adapter's when it manages bitmaps.
uint32_t DisplayPixelFormat();

// Allocation; null when anything cannot be made (nothing half-made stays).
BitMapHandle* AllocColorBitMap(int32_t width, int32_t height, uint32_t flags, void* params);
BitMapHandle* AllocAlphaBitMap(int32_t width, int32_t height, int clear, void* pixels,
                               uint32_t bytesPerRow);
BitMapHandle* AllocMaskBitMap(BitMapHandle* colourBitMap, int32_t width, int32_t height,
                              int clear, void* pixels, uint32_t bytesPerRow);
void FreeColorBitMap(BitMapHandle* handle);
// A colour bitmap of the platform store that takes over ARGB pixels
// instead of copying them: OsAllocMem memory of height + 1 rows of exactly
// width pixels, freed with the bitmap. Possible (CanAdoptArgbPixels) when
// that store serves bitmaps in the ARGB format and rows of that width need
// no rounding; null when not possible or out of memory (nothing taken).
bool CanAdoptArgbPixels(int32_t width, int32_t height);
BitMapHandle* AdoptArgbPixels(uint32_t* pixels, int32_t width, int32_t height);
void FreePlaneBitMap(BitMapHandle* handle);
void* GetNativeBitMap(const BitMapHandle* handle);
int32_t GetPlaneDim(void* plane, uint32_t which);
void UpdateHardwareBitMap(BitMapHandle* handle);

// Pixel access. Returns the lock's ok word.
uint32_t LockBitMapPixels(void* bitmap, uint32_t flags, BitMapLock* lock);
void UnlockBitMapPixels(BitMapLock* lock);

// Attribute ids of QueryBitMapAttr.
enum : uint32_t {
    BMATTR_WIDTH = 0,
    BMATTR_ALPHA_BYTESPERROW = 1,
    BMATTR_MASK_BYTESPERROW = 2,
    BMATTR_ALPHA_PIXELS = 3,
    BMATTR_MASK_PIXELS = 4,
    BMATTR_DESKTOP_DEPTH = 5,
    BMATTR_ROWLENGTH = 13,
    BMATTR_HEIGHT = 14,
    BMATTR_PLATFORM_FLAG = 16,
    BMATTR_HARDWARE = 18,
    BMATTR_AUX = 19,
    BMATTR_NATIVE = 20,
    BMATTR_PIXELFORMAT = 21,
    BMATTR_HARDWARE_ORPHAN = 22,
};

// An attribute of a bitmap; pointer ids (3, 4, 20) answer whole pointers.
// For ids 6 and 7 the argument is a Display in place of a handle.
uintptr_t QueryBitMapAttr(const void* handle, uint32_t id);

uint32_t ReadLockedPixel(const BitMapLock* lock, int32_t x, int32_t y);
void WriteLockedPixel(const BitMapLock* lock, int32_t x, int32_t y, uint32_t argb);
uint32_t AdapterArgb(uint32_t argb);
uint32_t ReadBitMapPixel(BitMapHandle* handle, int32_t x, int32_t y, int maskFlag);
void WriteBitMapPixel(BitMapHandle* handle, int32_t x, int32_t y, uint32_t value, int planeFlag);
