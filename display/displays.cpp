// Display records on the virtual monitor: creation, lookup, opening and
// closing, monitor geometry, pointer images and plugin callbacks. A display
// is headless, so opening one changes its state and makes its pixels (back
// buffers and the framebuffer that stands for its window); the
// window-system side of a real display is the display adapter's business.
#include "display/display.h"

#include <cstdio>
#include <cstring>

#include "core/io/error_codes.h"
#include "core/services/list_walks.h"
#include "display/adapters.h"
#include "display/display_picture.h"
#include "display/display_placement.h"
#include "display/framebuffer.h"
#include "display/object_list.h"
#include "display/refresh_rects.h"
#include "display/script_refs.h"
#include "gfx/library/async_draw.h"
#include "gfx/library/pointers.h"
#include "platform/posix/os_memory.h"

Display* DisplayList;
Display* CurrentDisplay;

namespace {

ObjectHeader** ListHead() { return reinterpret_cast<ObjectHeader**>(&DisplayList); }

void ClearHandlers(Display* d)
{
    for (auto& slot : d->handlers) slot = kNoEventHandler;
}

}  // namespace

uint32_t FindDisplay(ObjectId id, Display** out)
{
    ObjectHeader* record;
    uint32_t error = FindObjectOrError(reinterpret_cast<ObjectHeader*>(DisplayList), id, ERR_FINDDISPLAY, &record);
    *out = reinterpret_cast<Display*>(record);
    return error;
}

void InitDisplayOptions(DisplayOptions* options)
{
    std::memset(options, 0, sizeof *options);
    options->width = 640;
    options->height = 480;
    options->x = (kMonitorWidth - options->width) / 2;
    options->y = (kMonitorHeight - options->height) / 2;
    options->mode = DISPMODE_WINDOWED;
    options->monitor = 1;
    options->gradient.type = GRADIENT_LINEAR;
    options->gradient.centerX = options->gradient.centerY = options->gradient.conicalPosition = 0.5;
}

uint32_t CreateDisplayRecord(VmState* vm, ObjectId id, bool useHandle,
                             const DisplayOptions& options, Display** out)
{
    *out = nullptr;
    if (options.width < 1 || options.height < 1 || options.width > kMaxDisplaySize ||
        options.height > kMaxDisplaySize)
        return ERR_DISPLAYSIZE;
    if (!useHandle) {
        Display* old = reinterpret_cast<Display*>(FindObjectInList(reinterpret_cast<ObjectHeader*>(DisplayList), id));
        if (old) {
            if (old->state != DISPSTATE_CLOSED) return ERR_FREEADISPLAY;
            FreeDisplayRecord(vm, old);
        }
    }
    auto* d = static_cast<Display*>(OsAllocMem(sizeof(Display), 1));
    if (!d) return ERR_MEM;
    d->x = options.x;
    d->y = options.y;
    d->windowFlags = options.flags;
    d->mode = options.mode ? options.mode : DISPMODE_WINDOWED;
    d->fullScreen = d->mode == DISPMODE_FULLSCREEN || d->mode == DISPMODE_FAKEFULLSCREEN;
    d->autoScale = (options.flags & DISPFLAG_AUTOSCALE) != 0;
    d->layerScale = (options.flags & DISPFLAG_LAYERSCALE) != 0;
    d->smoothScale = (options.flags & DISPFLAG_SMOOTHSCALE) != 0;
    d->layersEnabled = (options.flags & DISPFLAG_LAYERS) != 0;
    d->hidden = (options.flags & DISPFLAG_HIDDEN) != 0;
    d->pointerHidden = (options.flags & DISPFLAG_HIDEPOINTER) != 0;
    if (options.scaleWidth > 0 && options.scaleHeight > 0) {
        d->scaleFlag = 1;
        d->scaledWidth = options.scaleWidth;
        d->scaledHeight = options.scaleHeight;
    }
    d->monitor = options.monitor > 0 ? options.monitor : 1;
    d->menu = options.menu;
    d->shownBGPicId = options.bgpic;
    d->backColor = options.color;
    d->fillStyle = options.fillStyle;
    d->textureBrush = options.textureBrush;
    d->textureX = options.textureX;
    d->textureY = options.textureY;
    d->gradient = options.gradient;
    d->backfillKind = options.backfillKind;
    d->backfillColor = options.backfillColor;
    d->backfillEndColor = options.backfillEndColor;
    d->backfillBrush = options.backfillBrush;
    d->outputMode = OUTPUT_DISPLAY;
    SetDisplaySize(d, options.width, options.height);
    // A picture loaded before the display gives it its size at once, so
    // that queries before the display opens answer what it will be; one
    // loaded later is looked up when the display opens.
    if (TakeDisplayPictureSize(d) == ERR_DISPLAYSIZE) {
        OsFreeMem(d);
        return ERR_DISPLAYSIZE;
    }
    d->xdpi = d->ydpi = 96.0;
    d->density = 1;
    std::snprintf(d->title, sizeof d->title, "%s", options.title);
    ClearHandlers(d);
    AppendObject(ListHead(), &d->header, OBJ_DISPLAY, id, useHandle);
    *out = d;
    return 0;
}

void SetDisplaySize(Display* display, int32_t width, int32_t height)
{
    display->width = width;
    display->height = height;
    display->output.width = width;
    display->output.height = height;
    ResetClipWords(&display->output);
    if (DisplayIsScaled(display)) {
        display->scaleFactorX = static_cast<double>(display->scaledWidth) / width;
        display->scaleFactorY = static_cast<double>(display->scaledHeight) / height;
    } else {
        display->scaleFactorX = display->scaleFactorY = 1.0;
    }
}

uint32_t OpenDisplayRecord(Display* display)
{
    if (display->state == DISPSTATE_OPEN) return 0;
    // The picture may have been loaded anew since the display was made:
    // its buffers take the size of the picture it shows now.
    if (uint32_t error = TakeDisplayPictureSize(display)) return error;
    bool fresh = !display->framebuffer;
    if (uint32_t error = AllocDisplayBuffers(display)) return error;
    if (uint32_t error = PaintDisplayPicture(display, fresh)) return error;
    display->state = DISPSTATE_OPEN;
    display->active = !display->hidden;
    display->lastFrameMicros = 0;
    if (!CurrentDisplay) CurrentDisplay = display;
    return 0;
}

void CloseDisplayRecord(Display* display)
{
    display->state = DISPSTATE_CLOSED;
    display->active = 0;
    ResetDisplayInputState(display);
}

void FreeDisplayRecord(VmState* vm, Display* display)
{
    if (!display) return;
    if (display->state == DISPSTATE_OPEN) WriteDisplayPlacement(vm, display);
    CloseDisplayRecord(display);
    UnlinkObject(ListHead(), &display->header);
    if (CurrentDisplay == display) CurrentDisplay = DisplayList;
    ReleaseEventHandlers(vm, display->handlers, kDisplayEventCount);
    ReleaseObjectData(vm, &display->header);
    for (DisplayCallback* c = display->callbacks; c;) {
        DisplayCallback* next = c->next;
        FreeListRecord(c);
        c = next;
    }
    // The pointer and the async draw objects are the graphics library's.
    ReleaseDisplayPointer(vm, display);
    FreeDisplayAsyncDrawObjects(vm, display);
    FreeDisplayBuffers(display);
    FreeRefreshRects(display);
    OsFreeMem(display);
}

void FreeAllDisplays(VmState* vm)
{
    while (DisplayList) FreeDisplayRecord(vm, DisplayList);
    CurrentDisplay = nullptr;
}

uint32_t GetDisplayMonitorRect(Display*, int32_t* x, int32_t* y, int32_t* width, int32_t* height)
{
    *x = 0;
    *y = 0;
    *width = kMonitorWidth;
    *height = kMonitorHeight;
    return 0;
}

uint32_t CountMonitors(Display*) { return 1; }

void ResetDisplayInputState(Display* display)
{
    if (!display) return;
    display->mouseButtons = 0;
    std::memset(display->keyStates, 0, sizeof display->keyStates);
}

const char* GetDisplayModeName(uint32_t mode)
{
    switch (mode) {
    case 1: return "windowed";
    case 2: return "fullscreen";
    case 3: return "ask";
    case 4: return "moderequester";
    case 6: return "fakefullscreen";
    default: return "(not found)";
    }
}

const char* GetBackfillTypeName(uint32_t kind)
{
    switch (kind) {
    case 1: return "color";
    case 2: return "gradient";
    case 3: return "texture";
    case 4: return "picture";
    default: return "(not found)";
    }
}

uint32_t AdapterCreatePointerImage(const uint32_t* argb, int32_t width, int32_t height,
                                   int32_t hotX, int32_t hotY, PointerImage** outNative,
                                   int32_t* outWidth, int32_t* outHeight)
{
    *outNative = nullptr;
    if (!argb || width < 1 || height < 1 || width > 1024 || height > 1024) return ERR_POINTERIMG;
    auto* p = static_cast<PointerImage*>(OsAllocMem(sizeof(PointerImage), 1));
    size_t bytes = static_cast<size_t>(width) * height * 4;
    if (p) p->argb = static_cast<uint32_t*>(OsAllocMem(bytes, 0));
    if (!p || !p->argb) {
        OsFreeMem(p);
        return ERR_MEM;
    }
    std::memcpy(p->argb, argb, bytes);
    p->width = width;
    p->height = height;
    // A hot spot outside the image is pulled onto its nearest edge pixel.
    p->hotX = hotX < 0 ? 0 : hotX >= width ? width - 1 : hotX;
    p->hotY = hotY < 0 ? 0 : hotY >= height ? height - 1 : hotY;
    *outNative = p;
    if (outWidth) *outWidth = width;
    if (outHeight) *outHeight = height;
    return 0;
}

void AdapterSetDisplayPointer(Display* display, PointerImage* native, uint32_t kind)
{
    if (!display) return;
    display->pointer = native;
    display->pointerKind = kind;
}

void AdapterShowHidePointer(Display* display, bool show)
{
    if (display) display->pointerHidden = !show;
}

void AdapterMovePointer(Display* display, int32_t x, int32_t y)
{
    if (!display) return;
    display->mouseX = x;
    display->mouseY = y;
}

void AdapterFreePointer(PointerImage* native)
{
    if (!native) return;
    OsFreeMem(native->argb);
    OsFreeMem(native);
}

uint32_t AddDisplayCallback(Display* display,
                            int (*function)(void* display, uint32_t message, void* userData),
                            void* userData, DisplayCallback** out)
{
    auto* c = static_cast<DisplayCallback*>(OsAllocMem(sizeof(DisplayCallback), 1));
    if (!c) return ERR_MEM;
    c->function = function;
    c->userData = userData;
    DisplayCallback** link = &display->callbacks;
    while (*link) link = &(*link)->next;
    *link = c;
    if (out) *out = c;
    return 0;
}

void RemoveDisplayCallback(Display* display, DisplayCallback* callback)
{
    if (!display) return;
    for (DisplayCallback** link = &display->callbacks; *link; link = &(*link)->next) {
        if (*link == callback) {
            *link = callback->next;
            FreeListRecord(callback);
            return;
        }
    }
}

void SignalDisplayCallback(Display* display, uint32_t message)
{
    if (!display) return;
    // A callback may remove callbacks, add them, or free the display (and
    // with it every callback): the display is not read again.
    auto next = [](DisplayCallback* c) { return c->next; };
    WalkList(display->callbacks, next, [&](DisplayCallback* c) -> uint32_t {
        if (c->function) c->function(display, message, c->userData);
        return 0;
    });
}

uint32_t OpenFirstDisplay(VmState* vm, AppletInfo*, CoreContext*)
{
    // Preloading normally declares display 1; a runtime driven without it
    // still gets one with the defaults.
    Display* first = nullptr;
    if (FindDisplay(MakeObjectId(1), &first)) {
        DisplayOptions options;
        InitDisplayOptions(&options);
        uint32_t error = CreateDisplayRecord(vm, MakeObjectId(1), false, options, &first);
        if (error) return error;
    }
    // From here on the display belongs to whoever serves it: adapters can no
    // longer change hands.
    SetAdapterSetupOpen(false);
    uint32_t error = OpenDisplayRecord(first);
    if (!error) CurrentDisplay = first;
    return error;
}
