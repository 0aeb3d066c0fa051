// A fake display adapter that manages bitmaps in ARGB buffers of its own and records its calls.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <vector>

#include "core/plugins/plugin_manager.h"
#include "display/adapters.h"
#include "gfx/bitmaps/adapter_calls.h"
#include "gfx/bitmaps/video_bitmaps.h"

namespace fakeadapter {

struct FakeBitMap { uint32_t kind; int32_t width, height; std::vector<uint32_t> pixels; };

inline int g_allocs, g_frees, g_locks, g_unlocks, g_blits, g_videoFrees, g_methods, g_reads, g_pixelFrees;
inline uint32_t g_lastMode, g_videoFlags;
inline uintptr_t g_tagPixels;
inline std::map<uintptr_t, uintptr_t> g_videoTags;
inline bool g_refuseVideo;

// The counters and records start again from nothing.
inline void ResetFakeAdapter()
{
    g_allocs = g_frees = g_locks = g_unlocks = g_blits = g_videoFrees = g_methods = g_reads = g_pixelFrees = 0;
    g_lastMode = g_videoFlags = 0;
    g_videoTags.clear();
    g_refuseVideo = false;
}

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
    info->rowLength = info->width = static_cast<uint32_t>(bm->width);
    info->height = static_cast<uint32_t>(bm->height);
    return 7;
}
inline void FakeUnlock(uintptr_t word) { if (word == 7) ++g_unlocks; }
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
// Holds a copy of the source the tags name: the caller's ARGB, or another
// video bitmap's pixels.
inline void* FakeAllocVideo(int32_t w, int32_t h, uint32_t flags, const QmTagItem* tags)
{
    g_videoFlags = flags;
    g_videoTags.clear();
    for (const QmTagItem* t = tags; t && t->tag; ++t) g_videoTags[t->tag] = t->value;
    if (g_refuseVideo) return nullptr;
    auto* v = new FakeBitMap{0, w, h, std::vector<uint32_t>(static_cast<size_t>(w) * h)};
    auto source = g_videoTags.find(VIDEOTAG_SOURCE);
    if (source != g_videoTags.end() && (flags & VIDEOBITMAP_FROMVIDEO))
        v->pixels = reinterpret_cast<FakeBitMap*>(source->second)->pixels;
    else if (source != g_videoTags.end())
        v->pixels.assign(reinterpret_cast<const uint32_t*>(source->second),
                         reinterpret_cast<const uint32_t*>(source->second) + v->pixels.size());
    return v;
}
inline void FakeFreeVideo(void* native)
{
    ++g_videoFrees;
    delete static_cast<FakeBitMap*>(native);
}
// Hands back an ARGB copy of the pixels, without alpha.
inline void* FakeReadVideo(void* native, const QmTagItem* tags)
{
    ++g_reads;
    auto& pixels = static_cast<FakeBitMap*>(native)->pixels;
    auto* out = new uint32_t[pixels.size()];
    std::copy(pixels.begin(), pixels.end(), out);
    for (const QmTagItem* t = tags; t->tag; ++t) {
        if (t->tag == READVIDEOTAG_HASALPHA) *reinterpret_cast<uint32_t*>(t->value) = 0;
        if (t->tag == READVIDEOTAG_FORMAT) *reinterpret_cast<uint32_t*>(t->value) = PIXFMT_ARGB;
    }
    return out;
}
inline void FakeFreePixels(void* pixels)
{
    ++g_pixelFrees;
    delete[] static_cast<uint32_t*>(pixels);
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
    ResetFakeAdapter();
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
    info.ReadVideoPixels = reinterpret_cast<QmProc>(FakeReadVideo);
    info.FreeVideoPixels = reinterpret_cast<QmProc>(FakeFreePixels);
    return info;
}

}  // namespace fakeadapter
