// The display's refresh list and the redraw of a rectangle of a display.
// The redraw composes in a bitmap of the rectangle's size, so that the
// sprites drawn over the scene never reach the buffers that hold the scene
// without them.
#include "display/refresh_rects.h"

#include <algorithm>

#include "core/io/error_codes.h"
#include "display/display.h"
#include "display/layers.h"
#include "display/pictures.h"
#include "display/sprites.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/bitmaps/bitmap_ops.h"
#include "gfx/blits/display_blit.h"
#include "platform/posix/os_memory.h"

namespace {

RefreshRect Union(const RefreshRect& a, const RefreshRect& b)
{
    int64_t left = std::min(a.x, b.x), top = std::min(a.y, b.y);
    int64_t right = std::max(int64_t{a.x} + a.width, int64_t{b.x} + b.width);
    int64_t bottom = std::max(int64_t{a.y} + a.height, int64_t{b.y} + b.height);
    auto clamp = [](int64_t v) { return static_cast<int32_t>(std::min<int64_t>(v, INT32_MAX)); };
    return RefreshRect{static_cast<int32_t>(left), static_cast<int32_t>(top), clamp(right - left),
                       clamp(bottom - top)};
}

}  // namespace

uint32_t AddRefreshRect(RefreshRectList** list, int32_t x, int32_t y, int32_t width, int32_t height)
{
    if (width < 1 || height < 1)
        return 0;
    if (!*list) {
        *list = static_cast<RefreshRectList*>(OsAllocMem(sizeof(RefreshRectList), 1));
        if (!*list)
            return ERR_MEM;
    }
    RefreshRectList* l = *list;
    RefreshRect rect{x, y, width, height};
    if (l->count < kMaxRefreshRects) {
        l->rects[l->count++] = rect;
        return 0;
    }
    RefreshRect all = rect;
    for (uint32_t i = 0; i < l->count; ++i)
        all = Union(all, l->rects[i]);
    l->rects[0] = all;
    l->count = 1;
    return 0;
}

void FlushRefreshRects(VmState* vm, Display* display)
{
    RefreshRectList* l = display ? display->refreshRects : nullptr;
    if (!l)
        return;
    // The list is emptied first: a redraw may add to it again.
    RefreshRect rects[kMaxRefreshRects];
    uint32_t count = l->count;
    std::copy(l->rects, l->rects + count, rects);
    l->count = 0;
    for (uint32_t i = 0; i < count; ++i)
        RefreshDisplayRect(vm, display, rects[i].x, rects[i].y, rects[i].width, rects[i].height);
}

void FreeRefreshRects(Display* display)
{
    OsFreeMem(display->refreshRects);
    display->refreshRects = nullptr;
}

void RefreshDisplayRect(VmState* vm, Display* display, int32_t x, int32_t y, int32_t width, int32_t height)
{
    auto* scene = static_cast<BitMapHandle*>(display->backBuffers[0]);
    auto* picture = static_cast<BGPic*>(display->shownBGPic);
    if (!scene)
        return;
    int64_t left = std::max(x, 0), top = std::max(y, 0);
    int64_t right = std::min<int64_t>(int64_t{x} + width, scene->width);
    int64_t bottom = std::min<int64_t>(int64_t{y} + height, scene->height);
    if (right <= left || bottom <= top)
        return;
    auto rx = static_cast<int32_t>(left), ry = static_cast<int32_t>(top);
    auto rw = static_cast<int32_t>(right - left), rh = static_cast<int32_t>(bottom - top);
    if (display->layersEnabled && picture && display->backBuffers[1]) {
        // The composed stack lives in the second buffer, as the blits keep it.
        scene = static_cast<BitMapHandle*>(display->backBuffers[1]);
        Redraw(vm, display, picture, scene, rx, ry, rw, rh, 0, 0);
    }
    BitMapHandle* shown = AllocColorBitMap(rw, rh, 0, nullptr);
    if (!shown)
        return;
    BltBitMapRect(scene, rx, ry, shown, 0, 0, rw, rh);
    DrawSpriteInstances(display, shown, rx, ry);
    BltToDisplay(shown, 0, 0, display, rx, ry, rw, rh, 0);
    FreeColorBitMap(shown);
}
