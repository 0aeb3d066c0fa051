#include "gfx/bitmaps/adapter_calls.h"

#include "core/plugins/plugin_loader.h"
#include "core/plugins/plugin_manager.h"

namespace {

// The entry of the callable adapter, cast to its signature, or null.
template <typename F>
F Entry(QmProc PluginInfo::*slot)
{
    PluginInfo* adapter = CallableDisplayAdapter();
    if (!adapter || !(adapter->*slot)) return nullptr;
    return reinterpret_cast<F>(adapter->*slot);
}

}  // namespace

PluginInfo* CallableDisplayAdapter()
{
    PluginInfo* adapter = DisplayAdapterPlugin;
    if (!adapter || IsForeignCallForm(adapter)) return nullptr;
    return adapter;
}

uint32_t AdapterBitMapFlags()
{
    return DisplayAdapterPlugin ? DisplayAdapterPlugin->adapterFlags[QM_ADAPTERFLAGS_DISPLAY] : 0;
}

uint32_t AdapterMemoryOps()
{
    return DisplayAdapterPlugin ? DisplayAdapterPlugin->adapterWords[0] : 0;
}

uint32_t AdapterPixelFormat()
{
    return DisplayAdapterPlugin ? DisplayAdapterPlugin->displayAdapterWord : 10;
}

void* AdapterAllocBitMap(uint32_t kind, int32_t width, int32_t height, uint32_t clear,
                         const QmTagItem* tags)
{
    auto f = Entry<AdapterAllocBitMapFunc>(&PluginInfo::AllocBitMap);
    return f ? f(kind, width, height, clear, tags) : nullptr;
}

void AdapterFreeBitMap(void* native)
{
    if (auto f = Entry<AdapterFreeBitMapFunc>(&PluginInfo::FreeBitMap)) f(native);
}

uintptr_t AdapterLockBitMap(void* native, uint32_t flags, AdapterBitMapInfo* info)
{
    auto f = Entry<AdapterLockBitMapFunc>(&PluginInfo::LockBitMap);
    return f ? f(native, flags, info, nullptr) : 0;
}

void AdapterUnLockBitMap(uintptr_t lock)
{
    if (auto f = Entry<AdapterUnLockBitMapFunc>(&PluginInfo::UnLockBitMap)) f(lock);
}

bool AdapterAnswersBitMapAttr() { return Entry<AdapterGetBitMapAttrFunc>(&PluginInfo::GetBitMapAttr) != nullptr; }

uint32_t AdapterGetBitMapAttr(void* native, uint32_t attr)
{
    auto f = Entry<AdapterGetBitMapAttrFunc>(&PluginInfo::GetBitMapAttr);
    return f ? f(native, attr, nullptr) : 0;
}

void* CallAdapterAllocVideoBitMap(int32_t width, int32_t height, uint32_t flags,
                                  const QmTagItem* tags)
{
    auto f = Entry<AdapterAllocVideoBitMapFunc>(&PluginInfo::AllocVideoBitMap);
    return f ? f(width, height, flags, tags) : nullptr;
}

void* CallAdapterReadVideoPixels(void* native, const QmTagItem* tags)
{
    auto f = Entry<AdapterReadVideoPixelsFunc>(&PluginInfo::ReadVideoPixels);
    return f ? f(native, tags) : nullptr;
}

void AdapterFreeVideoPixels(void* pixels)
{
    if (!pixels) return;
    if (auto f = Entry<AdapterFreeVideoPixelsFunc>(&PluginInfo::FreeVideoPixels)) f(pixels);
}

void AdapterFreeVideoBitMap(void* native)
{
    if (auto f = Entry<AdapterFreeVideoBitMapFunc>(&PluginInfo::FreeVideoBitMap)) f(native);
}

uint32_t AdapterDoVideoBitMapMethod(void* native, uint32_t method, uintptr_t arg)
{
    auto f = Entry<AdapterDoVideoBitMapMethodFunc>(&PluginInfo::DoVideoBitMapMethod);
    return f ? f(native, method, arg) : 0;
}

uint32_t AdapterBltBitMap(void* src, void* dst, AdapterBltParams* params, uint32_t mode)
{
    auto f = Entry<AdapterBltBitMapFunc>(&PluginInfo::BltBitMap);
    return f ? f(src, dst, params, mode, nullptr) : 0;
}

uint32_t AdapterRectFill(void* native, int32_t x, int32_t y, int32_t w, int32_t h,
                         uint32_t colour, uint32_t mode)
{
    auto f = Entry<AdapterRectFillFunc>(&PluginInfo::RectFill);
    return f ? f(native, x, y, w, h, colour, mode, nullptr) : 0;
}

uint32_t AdapterWritePixel(void* native, int32_t x, int32_t y, uint32_t colour, uint32_t mode)
{
    auto f = Entry<AdapterWritePixelFunc>(&PluginInfo::WritePixel);
    return f ? f(native, x, y, colour, mode, nullptr) : 0;
}

uint32_t AdapterLine(void* native, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                     uint32_t colour, uint32_t mode)
{
    auto f = Entry<AdapterLineFunc>(&PluginInfo::Line);
    return f ? f(native, x1, y1, x2, y2, colour, mode, nullptr) : 0;
}
