// SaveSnapshot and IsPicture. On the headless platform the screen is each
// display's framebuffer: the window is grabbed from it, and the monitor is
// the framebuffer placed at the window's position on a black desktop.
#include "gfx/library/snapshot.h"

#include <algorithm>
#include <string>

#include "core/io/error_codes.h"
#include "core/io/linked_files.h"
#include "core/plugins/image_loaders.h"
#include "core/services/check_args.h"
#include "core/services/option_tables.h"
#include "core/vm/library_glue.h"
#include "core/vm/vm.h"
#include "display/display.h"
#include "display/framebuffer.h"
#include "display/pictures.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/bitmaps/bitmap_ops.h"
#include "gfx/bitmaps/copy_bitmap.h"
#include "gfx/effects/gradients.h"
#include "gfx/library/image_save.h"

namespace {

// The bitmap a snapshot saves: made (to be freed) or borrowed.
struct SnapshotBitmap {
    BitMapHandle* bitmap = nullptr;
    bool made = false;
    ~SnapshotBitmap()
    {
        if (made && bitmap)
            FreeColorBitMap(bitmap);
    }
};

// Around a full-screen display the screen shows its backfill: a colour, a
// gradient from the start colour at the top to the end colour at the
// bottom, a brush tiled, or a brush in the middle. The display's own
// rectangle is left as grabbed.
void PaintBackfill(const Display* display, BitMapHandle* desktop, int32_t dx, int32_t dy)
{
    BitMapHandle* window = nullptr;
    if (CopyBitMap(desktop, nullptr, nullptr, std::max(dx, 0), std::max(dy, 0),
                   std::min(display->width, desktop->width - std::max(dx, 0)),
                   std::min(display->height, desktop->height - std::max(dy, 0)), 0, nullptr, nullptr, &window,
                   nullptr, nullptr))
        return;
    FillBitMapRect(desktop, 0, 0, desktop->width, desktop->height, 0xFF000000u | display->backfillColor);
    if (display->backfillKind == 2) {
        GradientSpec spec{};
        spec.type = GRADIENT_LINEAR;
        spec.color1 = display->backfillColor;
        spec.color2 = display->backfillEndColor;
        DrawGradient(desktop, 0, 0, desktop->width, desktop->height, &spec);
    }
    Brush* brush = nullptr;
    if (display->backfillKind >= 3 && !FindBrush(nullptr, MakeObjectId(display->backfillBrush), &brush, 0) &&
        brush->bitmap) {
        if (display->backfillKind == 3)
            TileCopyPixels(desktop, 0, 0, desktop->width, desktop->height, brush->bitmap, 0, 0, brush->width,
                           brush->height, 0, 0);
        else
            BltBitMapRect(brush->bitmap, 0, 0, desktop, (desktop->width - brush->width) / 2,
                          (desktop->height - brush->height) / 2, brush->width, brush->height);
    }
    BltBitMapRect(window, 0, 0, desktop, std::max(dx, 0), std::max(dy, 0), window->width, window->height);
    FreeColorBitMap(window);
}

uint32_t TakeSnapshot(VmState* vm, Display* display, int32_t type, SnapshotBitmap* out)
{
    switch (type) {
    case SNAPWINDOW:
        if (display->state != DISPSTATE_OPEN)
            return ERR_CLOSEDDISPLAY;
        out->made = true;
        return GrabDisplayToBitmap(display, -display->borderLeft, -display->borderTop,
                                   display->width + display->borderWidth, display->height + display->borderHeight, 0,
                                   0, &out->bitmap);
    case SNAPDISPLAY: {
        if (display->adapterDoubleBuffer)
            return ERR_WRONGUSAGE;
        if (display->doubleBuffer) {
            out->bitmap = static_cast<BitMapHandle*>(display->backBuffers[2]);
            return out->bitmap ? 0u : uint32_t{ERR_CLOSEDDISPLAY};
        }
        if (display->shownBGPic) {
            uint32_t made = 0;
            uint32_t error = AcquireBGPicBitmap(vm, static_cast<BGPic*>(display->shownBGPic), 0, 0, display->width,
                                                display->height, &out->bitmap, &made);
            out->made = made != 0;
            return error;
        }
        // A display without a picture of its own shows its back buffer.
        out->bitmap = static_cast<BitMapHandle*>(display->backBuffers[0]);
        return out->bitmap ? 0u : uint32_t{ERR_CLOSEDDISPLAY};
    }
    case SNAPDESKTOP: {
        int32_t x = 0, y = 0, w = 0, h = 0;
        if (uint32_t error = GetDisplayMonitorRect(display, &x, &y, &w, &h))
            return error;
        out->made = true;
        if (uint32_t error = GrabDisplayToBitmap(display, x - display->x, y - display->y, w, h, 0, 0, &out->bitmap))
            return error;
        if (display->fullScreen && display->backfillKind)
            PaintBackfill(display, out->bitmap, display->x - x, display->y - y);
        return 0;
    }
    default:
        return ERR_WRONGUSAGE;
    }
}

}  // namespace

uint32_t CmdSaveSnapshot(VmState* vm)
{
    CheckArgs(vm, 1, 4, 0, 0);
    const char* file = VmCheckString(vm, 1, nullptr);
    int32_t type = VmOptInteger(vm, 2, SNAPWINDOW);
    auto format = static_cast<uint32_t>(VmOptInteger(vm, 3, IMGFMT_BMP));
    int32_t quality = kDefaultSaveQuality, colors = kDefaultSaveColors, dither = 0;
    GetSaveOptions(vm, 4, &quality, &colors, &dither);
    Display* display = CurrentDisplay;
    if (!display)
        return ERR_CLOSEDDISPLAY;
    SnapshotBitmap snapshot;
    if (uint32_t error = TakeSnapshot(vm, display, type, &snapshot))
        return error;
    return SaveBitMapImage(format, snapshot.bitmap, snapshot.bitmap->width, snapshot.bitmap->height, file, nullptr,
                           -1, nullptr, quality, colors, dither, false);
}

uint32_t CmdIsPicture(VmState* vm)
{
    CheckArgs(vm, 1, 2, 0, 0);
    const std::string file = GetFileNameArg(vm, 1);
    char loader[1024] = "";
    const char* loaderList = nullptr;
    if (VmType(vm, 2) == VM_TTABLE && GetTableString(vm, 2, "loader", loader, sizeof loader))
        loaderList = loader;
    ImageProbe probe{};
    int ok = ProbeImageLoaders(file.c_str(), loaderList, 0, &probe);
    VmPushNumber(vm, ok);
    VmNewTable(vm);
    if (ok) {
        SetTableNumber(vm, -1, "width", probe.width);
        SetTableNumber(vm, -1, "height", probe.height);
        SetTableNumber(vm, -1, "alpha", probe.hasAlpha);
        SetTableNumber(vm, -1, "vector", probe.vector);
        SetTableNumber(vm, -1, "transparency", probe.transparency);
    }
    return 2;
}

