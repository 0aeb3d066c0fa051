// The host interface's graphics, audio and requester wrappers: brushes and
// bitmaps locked for plugins, software drawing into a plugin's own pixels,
// sample data, repainting displays, and the requesters.
#include "core/plugins/host_graphics.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "core/io/error_codes.h"
#include "core/plugins/host_runtime.h"
#include "core/services/object_registry.h"
#include "core/services/path_helpers.h"
#include "display/adapters.h"
#include "display/display.h"
#include "display/framebuffer.h"
#include "display/pictures.h"
#include "display/requesters.h"
#include "gfx/bitmaps/argb_exchange.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/bitmaps/pixel_formats.h"
#include "gfx/blits/plot_context.h"
#include "gfx/blits/soft_blit.h"
#include "media/sound.h"
#include "platform/posix/os_memory.h"

namespace {

// Where a software drawing call draws: tag 1 the format, tag 2 the row
// length in pixels. Only formats of 2 and 4 bytes are drawn.
struct DrawTarget {
    uint32_t format;
    uint32_t bytesPerPixel;
    int32_t rowLength;
};

bool ReadDrawTarget(const void* pixels, const QmTagItem* tags, DrawTarget* target)
{
    target->format = static_cast<uint32_t>(HostTagValue(tags, 1, PIXFMT_ARGB));
    target->rowLength = static_cast<int32_t>(HostTagValue(tags, 2, 0));
    target->bytesPerPixel = PixelFormatBytes(target->format);
    return pixels && target->rowLength > 0 && (target->bytesPerPixel == 2 || target->bytesPerPixel == 4);
}

uint32_t OpacityOf(uint32_t colour, uint32_t flags)
{
    return (flags & 1) ? colour >> 24 : 255;
}

// Cuts a span [x, x + w) to [0, limit); false when nothing is left.
bool CutSpan(int32_t* x, int32_t* w, int32_t limit)
{
    int64_t start = *x < 0 ? 0 : *x;
    int64_t end = static_cast<int64_t>(*x) + *w;
    if (end > limit)
        end = limit;
    if (end <= start)
        return false;
    *w = static_cast<int32_t>(end - start);
    *x = static_cast<int32_t>(start);
    return true;
}

// A lock of the bitmap's pixels in a block of its own, which
// HostUnLockBitMap unlocks and frees; null when it cannot be locked.
BitMapLock* LockForPlugin(void* bitmap, bool readOnly)
{
    auto* lock = static_cast<BitMapLock*>(OsAllocMem(sizeof(BitMapLock), 1));
    if (lock && !LockBitMapPixels(bitmap, readOnly ? uint32_t(LOCKBITMAP_READ) : 0u, lock)) {
        OsFreeMem(lock);
        lock = nullptr;
    }
    return lock;
}

Brush* FindPluginBrush(uint32_t id, uint32_t options)
{
    Brush* brush = nullptr;
    if (FindBrush(GetEventVmState(), MakeObjectId(id), &brush, options) || !brush)
        return nullptr;
    return brush;
}

} // namespace

// ---------------------------------------------------------------------------
// Brushes and bitmaps

void* HostLockBrush(uint32_t brushId, const QmTagItem* tags, QmBrushLock* record)
{
    bool readOnly = HostTagValue(tags, 1, 0) != 0;
    Brush* brush = FindPluginBrush(brushId, readOnly ? 0u : uint32_t(FINDPICTURE_MODIFY));
    BitMapHandle *bitmap, *mask, *alpha;
    int32_t w, h;
    if (!brush || !record)
        return nullptr;
    GetBrushPlanes(brush, &bitmap, &mask, &alpha, &w, &h);
    if (!bitmap)
        return nullptr;
    BitMapLock* held = LockForPlugin(bitmap, readOnly);
    if (!held)
        return nullptr;
    const BitMapLock& lock = *held;
    record->pixels = lock.pixels;
    record->rowLength = static_cast<uintptr_t>(lock.rowLength);
    record->alphaPixels = alpha ? reinterpret_cast<void*>(QueryBitMapAttr(alpha, BMATTR_ALPHA_PIXELS)) : nullptr;
    record->alphaBytesPerRow = alpha ? QueryBitMapAttr(alpha, BMATTR_ALPHA_BYTESPERROW) : 0;
    record->maskPixels = mask ? reinterpret_cast<void*>(QueryBitMapAttr(mask, BMATTR_MASK_PIXELS)) : nullptr;
    record->maskBytesPerRow = mask ? QueryBitMapAttr(mask, BMATTR_MASK_BYTESPERROW) : 0;
    record->format = lock.format;
    record->bytesPerPixel = lock.bytesPerPixel;
    record->width = static_cast<uintptr_t>(lock.width);
    record->height = static_cast<uintptr_t>(lock.height);
    return held;
}

uint32_t* HostGetBrushArgb(uint32_t brushId, const QmTagItem* tags)
{
    Brush* brush = FindPluginBrush(brushId, 0);
    BitMapHandle *bitmap, *mask, *alpha;
    int32_t w, h;
    if (!brush)
        return nullptr;
    GetBrushPlanes(brush, &bitmap, &mask, &alpha, &w, &h);
    if (!bitmap)
        return nullptr;
    uint32_t* argb = BitMapToArgbMasked(bitmap, 0, 0, w, h, mask, alpha, kNoTransparentColour, 1,
                                        LOCKBITMAP_READ);
    if (!argb)
        return nullptr;
    if (auto* out = reinterpret_cast<int32_t*>(HostTagValue(tags, 1, 0))) *out = w;
    if (auto* out = reinterpret_cast<int32_t*>(HostTagValue(tags, 2, 0))) *out = h;
    if (auto* out = reinterpret_cast<int32_t*>(HostTagValue(tags, 3, 0))) *out = !mask && !alpha ? 1 : 0;
    return argb;
}

uint32_t HostCreateBrush(uint32_t id, const uint32_t* argb, int32_t width, int32_t height, uint32_t flags)
{
    if (!argb || width < 1 || height < 1 || width > kMaxBitMapSide || height > kMaxBitMapSide)
        return ERR_BADDIMENSIONS;
    BitMapHandle* bitmap = nullptr;
    BitMapHandle* mask = nullptr;
    BitMapHandle* alpha = nullptr;
    if (uint32_t code = CreateBitMapFromArgb(argb, kNoTransparentColour, width, height, width, 0, 0, nullptr,
                                             &bitmap, &mask, &alpha))
        return code;
    if (flags & 1) {
        alpha = AllocAlphaBitMapFrom(argb, width, height, width);
        if (!alpha) {
            FreeColorBitMap(bitmap);
            return ERR_MEM;
        }
    }
    Brush* brush = nullptr;
    return AddBrush(GetEventVmState(), MakeObjectId(id), false, bitmap, mask, alpha, width, height, &brush);
}

uint32_t HostFreeBrush(uint32_t id)
{
    Brush* brush = nullptr;
    if (uint32_t code = FindBrush(GetEventVmState(), MakeObjectId(id), &brush, 0))
        return code;
    FreeBrush(GetEventVmState(), brush);
    return 0;
}

void* HostLockBitMap(void* bitmap, uint32_t flags, QmBitMapLock* record)
{
    if (!bitmap || !record)
        return nullptr;
    BitMapLock* lock = LockForPlugin(bitmap, flags & 1);
    if (!lock)
        return nullptr;
    record->pixels = lock->pixels;
    record->format = lock->format;
    record->bytesPerPixel = lock->bytesPerPixel;
    record->rowLength = lock->rowLength;
    record->width = lock->width;
    record->height = lock->height;
    record->reserved = 0;
    return lock;
}

void HostUnLockBitMap(void* lock)
{
    if (!lock)
        return;
    UnlockBitMapPixels(static_cast<BitMapLock*>(lock));
    OsFreeMem(lock);
}

uint32_t HostArgbToPixel(uint32_t argb, uint32_t format)
{
    return ArgbToPixel(argb, format, 1);
}

uint32_t HostPixelToArgb(uint32_t pixel, uint32_t format)
{
    return PixelToArgb(pixel, format, 1);
}

// ---------------------------------------------------------------------------
// Software drawing into the plugin's pixels

namespace {

// A blit's rectangle cut to both buffers: at their left edges and tops, and
// at the right edge of each row length (a plane's limit among them).
bool CutBlitRect(int32_t* sx, int32_t* sy, int32_t* dx, int32_t* dy, int32_t* width, int32_t* height,
                 int64_t srcLimit, int64_t dstLimit)
{
    int32_t cut = 0;
    if (*sx < 0) { cut = -*sx; *sx = 0; *dx += cut; *width -= cut; }
    if (*dx < 0) { cut = -*dx; *dx = 0; *sx += cut; *width -= cut; }
    if (*sy < 0) { cut = -*sy; *sy = 0; *dy += cut; *height -= cut; }
    if (*dy < 0) { cut = -*dy; *dy = 0; *sy += cut; *height -= cut; }
    int64_t right = std::min<int64_t>(srcLimit - *sx, dstLimit - *dx);
    if (*width > right)
        *width = static_cast<int32_t>(std::max<int64_t>(right, 0));
    return *width >= 1 && *height >= 1;
}

}  // namespace

void HostBltBitMap(const void* src, int32_t sx, int32_t sy, void* dst, int32_t dx, int32_t dy, int32_t width,
                   int32_t height, uint32_t, const QmTagItem* tags)
{
    DrawTarget target;
    if (!src || !ReadDrawTarget(dst, tags, &target) || width < 1 || height < 1)
        return;
    auto srcRowLength = static_cast<int32_t>(HostTagValue(tags, 3, static_cast<uintptr_t>(target.rowLength)));
    if (srcRowLength <= 0 || !CutBlitRect(&sx, &sy, &dx, &dy, &width, &height, srcRowLength, target.rowLength))
        return;
    SoftBltRect(src, sx, sy, dst, dx, dy, width, height, srcRowLength, target.rowLength, target.bytesPerPixel);
}

void HostBltBitMapMasked(const void* src, int32_t sx, int32_t sy, void* dst, int32_t dx, int32_t dy,
                         int32_t width, int32_t height, uint32_t flags, const QmTagItem* tags)
{
    const auto* alpha = reinterpret_cast<const uint8_t*>(HostTagValue(tags, QM_BLTTAG_ALPHA, 0));
    const auto* mask = reinterpret_cast<const uint8_t*>(HostTagValue(tags, QM_BLTTAG_MASK, 0));
    if (!alpha && !mask) {
        HostBltBitMap(src, sx, sy, dst, dx, dy, width, height, flags, tags);
        return;
    }
    DrawTarget target;
    if (!src || !ReadDrawTarget(dst, tags, &target) || width < 1 || height < 1)
        return;
    auto srcRowLength = static_cast<int32_t>(HostTagValue(tags, 3, static_cast<uintptr_t>(target.rowLength)));
    // The plane is read at the source position: its row bounds the source.
    auto planeBytesPerRow = static_cast<int32_t>(
        HostTagValue(tags, alpha ? QM_BLTTAG_ALPHABYTESPERROW : QM_BLTTAG_MASKBYTESPERROW, 0));
    if (srcRowLength <= 0 || planeBytesPerRow <= 0)
        return;
    int64_t srcLimit = std::min<int64_t>(srcRowLength, alpha ? int64_t{planeBytesPerRow} : int64_t{planeBytesPerRow} * 8);
    if (!CutBlitRect(&sx, &sy, &dx, &dy, &width, &height, srcLimit, target.rowLength))
        return;
    if (alpha)
        SoftBltRectEx(src, sx, sy, dst, dx, dy, width, height, srcRowLength, target.rowLength, alpha,
                      planeBytesPerRow, nullptr, 0, target.format, target.bytesPerPixel, BLEND_ALPHA);
    else
        SoftBltRectMask(src, sx, sy, dst, dx, dy, width, height, srcRowLength, target.rowLength, mask,
                        planeBytesPerRow, target.bytesPerPixel);
}

void HostRectFill(void* pixels, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour,
                  uint32_t flags, const QmTagItem* tags)
{
    DrawTarget target;
    if (!ReadDrawTarget(pixels, tags, &target) || !CutSpan(&x, &width, target.rowLength) ||
        !CutSpan(&y, &height, INT32_MAX))
        return;
    SoftRectFill(pixels, x, y, width, height, colour & 0xFFFFFF, OpacityOf(colour, flags), target.rowLength,
                 target.format);
}

void HostWritePixel(void* pixels, int32_t x, int32_t y, uint32_t colour, uint32_t flags, const QmTagItem* tags)
{
    HostRectFill(pixels, x, y, 1, 1, colour, flags, tags);
}

void HostDrawLine(void* pixels, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour, uint32_t flags,
                  const QmTagItem* tags)
{
    DrawTarget target;
    if (!ReadDrawTarget(pixels, tags, &target))
        return;
    SoftLine(pixels, x1, y1, x2, y2, colour & 0xFFFFFF, OpacityOf(colour, flags), target.format,
             target.rowLength, target.rowLength, INT32_MAX);
}

// ---------------------------------------------------------------------------
// Displays

void RepaintAllDisplays()
{
    for (Display* display = DisplayList; display;
         display = reinterpret_cast<Display*>(display->header.next))
        if (display->state == DISPSTATE_OPEN)
            RefreshDisplay(GetEventVmState(), display, 0);
}

// ---------------------------------------------------------------------------
// Audio

QmSampleData* HostGetSampleData(uint32_t sampleId, uint32_t flags)
{
    Sample* sample = nullptr;
    if (FindSample(MakeObjectId(sampleId), &sample) || !sample)
        return nullptr;
    auto* record = static_cast<QmSampleData*>(OsAllocMem(sizeof(QmSampleData), 1));
    if (!record)
        return nullptr;
    record->data = OsAllocMem(sample->pcmBytes ? sample->pcmBytes : 1, 0);
    if (!record->data) {
        OsFreeMem(record);
        return nullptr;
    }
    if (sample->pcm && sample->pcmBytes)
        std::memcpy(record->data, sample->pcm, sample->pcmBytes);
    record->bytes = sample->pcmBytes;
    record->frames = sample->frames;
    record->bits = sample->bits;
    record->channels = sample->channels;
    record->frequency = sample->frequency;
    record->looping = sample->looping;
    record->playing = sample->playing;
    record->readOnly = flags & 1;
    record->sampleId = sampleId;
    return record;
}

uint32_t HostSetSampleData(QmSampleData* record)
{
    if (!record)
        return ERR_WRONGUSAGE;
    uint32_t code = 0;
    Sample* sample = nullptr;
    if (!record->readOnly) {
        code = FindSample(MakeObjectId(record->sampleId), &sample);
        uint32_t frameBytes = sample ? (sample->bits / 8) * sample->channels : 0;
        if (!code && frameBytes) {
            // The sample takes the block over; a partial last frame is not played.
            OsFreeMem(sample->pcm);
            sample->pcm = record->data;
            sample->pcmBytes = record->bytes;
            sample->frames = record->bytes / frameBytes;
            record->data = nullptr;
        } else if (!code) {
            code = ERR_WRONGUSAGE;
        }
    }
    OsFreeMem(record->data);
    OsFreeMem(record);
    return code;
}

// ---------------------------------------------------------------------------
// Requesters

uint32_t HostSystemRequest(const char* title, const char* body, const char* buttons, int icon, int* chosenButton)
{
    return ShowSystemRequester(GetEventVmState(), CurrentDisplay, title ? title : "", body ? body : "", buttons,
                               icon, 1, chosenButton);
}

uint32_t HostFileRequest(const char* title, const char* pattern, int mode, const char* folder, const char* file,
                         char** path)
{
    if (!path)
        return ERR_WRONGUSAGE;
    *path = nullptr;
    FileRequestResult result = {};
    uint32_t code = ShowFileRequester(GetEventVmState(), CurrentDisplay, title ? title : "", pattern ? pattern : "*",
                                      mode, folder ? folder : "", file ? file : "", 1, &result);
    if (!code && result.count && result.names) {
        *path = HostCopyText(AddPart(result.folder, result.names).c_str());
        if (!*path)
            code = ERR_MEM;
    }
    OsFreeMem(result.names);
    return code;
}

uint32_t HostPathRequest(const char* title, int mode, const char* folder, char** path)
{
    if (!path)
        return ERR_WRONGUSAGE;
    *path = nullptr;
    return ShowPathRequester(GetEventVmState(), CurrentDisplay, title ? title : "", mode, folder ? folder : "", 1,
                             path);
}
