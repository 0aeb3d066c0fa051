// Calls into the display adapter's bitmap and drawing entries. Each wrapper
// answers 0 (or null) when there is no adapter, the entry is missing, or the
// plugin's call form is one the host cannot make.
#pragma once

#include <cstdint>

#include "quillmere/plugin_abi.h"

// What an adapter's LockBitMap fills in.
struct AdapterBitMapInfo {
    void* pixels;
    uint32_t rowLength;  // pixels
    uint32_t unused[2];
    uint32_t width;
    uint32_t height;
};

// The block handed to the adapter's BltBitMap entry (zeroed before use).
struct AdapterBltParams {
    int32_t srcX;
    int32_t srcY;
    int32_t dstX;
    int32_t dstY;
    int32_t width;
    int32_t height;
    uint32_t reserved[3];
    void* mask;   // native mask bitmap
    void* alpha;  // native alpha bitmap
};

// The entry signatures the host calls the adapter with.
typedef void* (*AdapterAllocBitMapFunc)(uint32_t kind, int32_t width, int32_t height,
                                        uint32_t clear, const QmTagItem* tags);
typedef void (*AdapterFreeBitMapFunc)(void* native);
typedef uintptr_t (*AdapterLockBitMapFunc)(void* native, uint32_t flags, AdapterBitMapInfo* info,
                                           const QmTagItem* tags);
typedef void (*AdapterUnLockBitMapFunc)(uintptr_t lock);
typedef uint32_t (*AdapterGetBitMapAttrFunc)(void* native, uint32_t attr, const QmTagItem* tags);
typedef void* (*AdapterAllocVideoBitMapFunc)(int32_t width, int32_t height, uint32_t flags,
                                             const QmTagItem* tags);
typedef void* (*AdapterReadVideoPixelsFunc)(void* native, const QmTagItem* tags);
typedef void (*AdapterFreeVideoPixelsFunc)(void* pixels);
typedef void (*AdapterFreeVideoBitMapFunc)(void* native);
typedef uint32_t (*AdapterDoVideoBitMapMethodFunc)(void* native, uint32_t method, uintptr_t arg);
typedef uint32_t (*AdapterBltBitMapFunc)(void* src, void* dst, AdapterBltParams* params,
                                         uint32_t mode, const QmTagItem* tags);
typedef uint32_t (*AdapterRectFillFunc)(void* native, int32_t x, int32_t y, int32_t w, int32_t h,
                                        uint32_t colour, uint32_t mode, const QmTagItem* tags);
typedef uint32_t (*AdapterWritePixelFunc)(void* native, int32_t x, int32_t y, uint32_t colour,
                                          uint32_t mode, const QmTagItem* tags);
typedef uint32_t (*AdapterLineFunc)(void* native, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                                    uint32_t colour, uint32_t mode, const QmTagItem* tags);

// The installed display adapter whose entries may be called, else null.
PluginInfo* CallableDisplayAdapter();
// The adapter's flag word (0 without an adapter), its memory-bitmap
// operations word and its pixel-format word.
uint32_t AdapterBitMapFlags();
uint32_t AdapterMemoryOps();
uint32_t AdapterPixelFormat();
inline bool AdapterManagesBitMaps() { return (AdapterBitMapFlags() & 0x20) != 0; }
inline bool AdapterHasVideoBitMaps() { return (AdapterBitMapFlags() & 0x10) != 0; }

void* AdapterAllocBitMap(uint32_t kind, int32_t width, int32_t height, uint32_t clear,
                         const QmTagItem* tags);
void AdapterFreeBitMap(void* native);
uintptr_t AdapterLockBitMap(void* native, uint32_t flags, AdapterBitMapInfo* info);
void AdapterUnLockBitMap(uintptr_t lock);
uint32_t AdapterGetBitMapAttr(void* native, uint32_t attr);
// True when the adapter has a GetBitMapAttr entry to ask.
bool AdapterAnswersBitMapAttr();
// The adapter's own AllocVideoBitMap entry; AdapterAllocVideoBitMap
// (video_bitmaps.h) builds its tags.
void* CallAdapterAllocVideoBitMap(int32_t width, int32_t height, uint32_t flags,
                                  const QmTagItem* tags);
// A tightly packed copy of a video bitmap's pixels, or null; goes back
// through AdapterFreeVideoPixels.
void* CallAdapterReadVideoPixels(void* native, const QmTagItem* tags);
void AdapterFreeVideoPixels(void* pixels);
void AdapterFreeVideoBitMap(void* native);
uint32_t AdapterDoVideoBitMapMethod(void* native, uint32_t method, uintptr_t arg);
uint32_t AdapterBltBitMap(void* src, void* dst, AdapterBltParams* params, uint32_t mode);
uint32_t AdapterRectFill(void* native, int32_t x, int32_t y, int32_t w, int32_t h,
                         uint32_t colour, uint32_t mode);
uint32_t AdapterWritePixel(void* native, int32_t x, int32_t y, uint32_t colour, uint32_t mode);
uint32_t AdapterLine(void* native, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                     uint32_t colour, uint32_t mode);
