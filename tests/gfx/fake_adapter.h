// A fake display adapter that manages bitmaps: it keeps ARGB buffers of its
// own and counts its calls.
#pragma once

#include <cstdint>
#include <vector>

#include "core/plugins/plugin_manager.h"
#include "display/adapters.h"
#include "gfx/bitmaps/adapter_calls.h"

namespace fakeadapter {

struct FakeBitMap {
    uint32_t kind;
    int32_t width;
    int32_t height;
    std::vector<uint32_t> pixels;
};

inline int g_allocs, g_frees, g_locks, g_unlocks, g_blits, g_videoFrees, g_methods;
inline uint32_t g_lastMode;
inline uintptr_t g_tagPixels;

inline void* FakeAlloc(uint32_t kind, int32_t w, int32_t h, uint32_t, const QmTagItem* tags)
{
    ++g_allocs;
    g_tagPixels = 0;
    for (const QmTagItem* t = tags; t && t->tag; ++t)
        if (t->tag == 2) g_tagPixels = t->value;
    return new FakeBitMap{kind, w, h, std::vector<uint32_t>(static_cast<size_t>(w) * h)};
}
inline void FakeFree(void* native)
{
    ++g_frees;
    delete static_cast<FakeBitMap*>(native);
}
inline uintptr_t FakeLock(void* native, uint32_t, AdapterBitMapInfo* info, const QmTagItem*)
{
    ++g_locks;
    auto* bm = static_cast<FakeBitMap*>(native);
    info->pixels = bm->pixels.data();
    info->rowLength = static_cast<uint32_t>(bm->width);
    info->width = static_cast<uint32_t>(bm->width);
    info->height = static_cast<uint32_t>(bm->height);
    return 7;
}
inline void FakeUnlock(uintptr_t word)
{
    if (word == 7) ++g_unlocks;
}
inline uint32_t FakeAttr(void* native, uint32_t attr, const QmTagItem*)
{
    auto* bm = static_cast<FakeBitMap*>(native);
    return attr == 0 ? bm->width : attr == 1 ? bm->height : attr == 2 ? bm->width * 4 : 0;
}
inline uint32_t FakeBlt(void*, void*, AdapterBltParams*, uint32_t mode, const QmTagItem*)
{
    ++g_blits;
    g_lastMode = mode;
    return 1;
}
inline void* FakeAllocVideo(int32_t w, int32_t h, uint32_t, const QmTagItem*)
{
    return new FakeBitMap{0, w, h, std::vector<uint32_t>(static_cast<size_t>(w) * h)};
}
inline void FakeFreeVideo(void* native)
{
    ++g_videoFrees;
    delete static_cast<FakeBitMap*>(native);
}
inline uint32_t FakeMethod(void*, uint32_t, uintptr_t)
{
    ++g_methods;
    return 1;
}

// The adapter's information block with every entry point bound, managing
// memory bitmaps; the counters start again from 0.
inline PluginInfo FakeBitMapAdapter()
{
    g_allocs = g_frees = g_locks = g_unlocks = g_blits = g_videoFrees = g_methods = 0;
    PluginInfo info{};
    info.adapterFlags[QM_ADAPTERFLAGS_DISPLAY] = ADAPTERBITMAP_MANAGES;
    info.displayAdapterWord = 10;
    info.AllocBitMap = reinterpret_cast<QmProc>(FakeAlloc);
    info.FreeBitMap = reinterpret_cast<QmProc>(FakeFree);
    info.LockBitMap = reinterpret_cast<QmProc>(FakeLock);
    info.UnLockBitMap = reinterpret_cast<QmProc>(FakeUnlock);
    info.GetBitMapAttr = reinterpret_cast<QmProc>(FakeAttr);
    info.BltBitMap = reinterpret_cast<QmProc>(FakeBlt);
    info.AllocVideoBitMap = reinterpret_cast<QmProc>(FakeAllocVideo);
    info.FreeVideoBitMap = reinterpret_cast<QmProc>(FakeFreeVideo);
    info.DoVideoBitMapMethod = reinterpret_cast<QmProc>(FakeMethod);
    return info;
}

}  // namespace fakeadapter
