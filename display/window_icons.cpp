// Window icons. A broken or wrongly sized icon stops the run as it would
// on a desktop. A headless window has nowhere to show its icons, but it
// registers them as a desktop window does, as icon resources built from
// the loaded pictures, and keeps them with the window.
#include "display/window_icons.h"

#include <cstdio>

#include "core/io/byte_order.h"
#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/plugins/image_loaders.h"
#include "core/startup/applet.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/bitmaps/icon_image.h"
#include "gfx/effects/work_buffer.h"
#include "platform/posix/os_memory.h"

namespace {

struct LoadedIcon {
    ImageHandle* handle;
    int32_t width;
    int32_t height;
    int32_t rowLength;
    bool hasAlpha;
};
LoadedIcon loadedIcons[ICON_TABLE_SIZE];

constexpr size_t kIconHeaderSize = 40;

// One icon resource. A picture without alpha is opaque: its pixels' top
// bytes mean nothing and would mark every pixel transparent.
uint32_t MakeIconResource(const LoadedIcon& icon, WindowIcon* out)
{
    int32_t w = icon.width, h = icon.height;
    const uint32_t* argb = GetImageHandleData(icon.handle);
    size_t body = IconImageBodySize(w, h);
    if (!argb || !body) return ERR_MEM;
    int32_t rowLength = icon.rowLength;
    WorkBuffer<uint32_t> opaque;
    if (!icon.hasAlpha) {
        if (!opaque.Allocate(static_cast<size_t>(w) * h)) return ERR_MEM;
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                opaque[static_cast<size_t>(y) * w + x] = argb[static_cast<size_t>(y) * rowLength + x] | 0xFF000000u;
        argb = opaque.get();
        rowLength = w;
    }
    auto* data = static_cast<uint8_t*>(OsAllocMem(kIconHeaderSize + body, 1));
    if (!data) return ERR_MEM;
    StoreLE32(data, kIconHeaderSize);
    StoreLE32(data + 4, static_cast<uint32_t>(w));
    StoreLE32(data + 8, static_cast<uint32_t>(h) * 2);
    StoreLE16(data + 12, 1);   // planes
    StoreLE16(data + 14, 32);  // bits per pixel
    StoreLE32(data + 20, static_cast<uint32_t>(body));
    if (uint32_t error = WriteIconImage(argb, w, h, rowLength, data, nullptr)) {
        OsFreeMem(data);
        return error;
    }
    *out = WindowIcon{w, h, data, kIconHeaderSize + body};
    return 0;
}

uint32_t CountLoadedIcons()
{
    uint32_t count = 0;
    for (const LoadedIcon& icon : loadedIcons)
        count += icon.handle != nullptr;
    return count;
}

}  // namespace

uint32_t LoadWindowIcons(bool notApplet)
{
    if (notApplet)
        return 0;
    for (uint32_t i = 0; i < ICON_TABLE_SIZE; ++i) {
        const IconRecord& icon = IconTable[i];
        if (!icon.data || loadedIcons[i].handle)
            continue;
        ImageLoadRequest request;
        request.file = icon.data;
        request.alphaMode = IMAGEALPHA_OPTIONAL;
        ImageLoadResult loaded;
        if (uint32_t error = LoadImageViaLoaders(request, &loaded))
            return error;
        if (loaded.alpha)
            FreePlaneBitMap(loaded.alpha);
        if (loaded.width != icon.width || loaded.height != icon.height) {
            char size[32];
            std::snprintf(size, sizeof size, "%dx%d", loaded.width, loaded.height);
            ReleaseImageHandle(loaded.handle);
            SetErrorText(size);
            return ERR_ICONDIMS;
        }
        loadedIcons[i] = LoadedIcon{loaded.handle, loaded.width, loaded.height, loaded.rowLength, loaded.hasAlpha != 0};
    }
    return 0;
}

void FreeWindowIcons()
{
    for (LoadedIcon& icon : loadedIcons) {
        ReleaseImageHandle(icon.handle);
        icon = LoadedIcon{};
    }
}

uint32_t MakeWindowIcons(WindowIcon** out, uint32_t* count)
{
    *out = nullptr;
    *count = 0;
    uint32_t n = CountLoadedIcons();
    if (!n) return 0;
    auto* icons = static_cast<WindowIcon*>(OsAllocMem(sizeof(WindowIcon) * n, 1));
    if (!icons) return ERR_MEM;
    uint32_t made = 0;
    for (const LoadedIcon& icon : loadedIcons) {
        if (!icon.handle) continue;
        if (uint32_t error = MakeIconResource(icon, &icons[made])) {
            FreeWindowIconList(icons, made);
            return error;
        }
        ++made;
    }
    *out = icons;
    *count = made;
    return 0;
}

void FreeWindowIconList(WindowIcon* icons, uint32_t count)
{
    for (uint32_t i = 0; icons && i < count; ++i) OsFreeMem(icons[i].data);
    OsFreeMem(icons);
}

uint32_t HostGetIconList(QmIconList** list)
{
    if (!list) return ERR_WRONGUSAGE;
    *list = nullptr;
    WindowIcon* icons = nullptr;
    uint32_t count = 0;
    if (uint32_t error = MakeWindowIcons(&icons, &count)) return error;
    if (!count) return 0;
    auto* made = static_cast<QmIconList*>(OsAllocMem(sizeof(QmIconList), 1));
    auto* entries = static_cast<QmIcon*>(OsAllocMem(sizeof(QmIcon) * count, 1));
    if (!made || !entries) {
        OsFreeMem(made);
        OsFreeMem(entries);
        FreeWindowIconList(icons, count);
        return ERR_MEM;
    }
    // The resources move into the plugin's list; only the array is left.
    for (uint32_t i = 0; i < count; ++i)
        entries[i] = QmIcon{icons[i].width, icons[i].height, icons[i].data, icons[i].size};
    OsFreeMem(icons);
    made->count = count;
    made->icons = entries;
    *list = made;
    return 0;
}

void FreeIconList(QmIconList* list)
{
    if (!list) return;
    for (uint32_t i = 0; list->icons && i < list->count; ++i)
        OsFreeMem(const_cast<uint8_t*>(list->icons[i].data));
    OsFreeMem(list->icons);
    OsFreeMem(list);
}
