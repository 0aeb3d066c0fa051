// Back buffers and the headless window. A present maps window pixels back
// to display pixels (window x -> floor(x * displayWidth / windowWidth)), so
// that partial presents of a scaled display land exactly where a full
// present would put the same pixels.
#include "display/framebuffer.h"

#include <cstring>

#include "core/io/error_codes.h"
#include "display/display.h"
#include "display/window_icons.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/bitmaps/bitmap_ops.h"
#include "gfx/bitmaps/pixel_formats.h"
#include "gfx/blits/display_blit.h"
#include "platform/posix/os_memory.h"

namespace {

constexpr int kBackBufferCount = 3;
constexpr int32_t kMaxWindowSide = 16384;

int64_t CeilDiv(int64_t a, int64_t b)
{
    return a >= 0 ? (a + b - 1) / b : -((-a) / b);
}

// How window pixels map onto the source rectangle on one axis: window
// position p shows display position floor(p * from / to), which is source
// position src + (that - origin).
struct AxisMap {
    int64_t from;
    int64_t to;
    int64_t origin;
    int32_t src;
    int32_t length;
    int32_t first;  // window range [first, last)
    int32_t last;
};

bool MapAxis(AxisMap* m, int32_t windowSide)
{
    int64_t first = CeilDiv(m->origin * m->to, m->from);
    int64_t last = CeilDiv((m->origin + m->length) * m->to, m->from);
    if (first < 0) first = 0;
    if (last > windowSide) last = windowSide;
    m->first = static_cast<int32_t>(first);
    m->last = static_cast<int32_t>(last);
    return last > first;
}

int32_t SourceAt(const AxisMap& m, int32_t p)
{
    int64_t s = p * m.from / m.to - m.origin;
    if (s < 0) s = 0;
    if (s >= m.length) s = m.length - 1;
    return m.src + static_cast<int32_t>(s);
}

// Cuts a source rectangle to the source bitmap, moving the destination with
// it.
bool CutToSource(int32_t& sx, int32_t& sy, int32_t& dx, int32_t& dy, int32_t& w, int32_t& h,
                 int32_t srcW, int32_t srcH)
{
    if (sx < 0) { dx -= sx; w += sx; sx = 0; }
    if (sy < 0) { dy -= sy; h += sy; sy = 0; }
    if (w > srcW - sx) w = srcW - sx;
    if (h > srcH - sy) h = srcH - sy;
    return w > 0 && h > 0;
}

struct PlaneBits {
    const uint8_t* pixels;
    uintptr_t bytesPerRow;
    int32_t width;
    int32_t height;
};

PlaneBits ViewPlane(BitMapHandle* plane, uint32_t kind)
{
    PlaneBits p{};
    if (!plane || plane->kind != kind) return p;
    bool alpha = kind == BITMAP_ALPHA;
    p.pixels = reinterpret_cast<const uint8_t*>(
        QueryBitMapAttr(plane, alpha ? BMATTR_ALPHA_PIXELS : BMATTR_MASK_PIXELS));
    p.bytesPerRow = QueryBitMapAttr(plane, alpha ? BMATTR_ALPHA_BYTESPERROW : BMATTR_MASK_BYTESPERROW);
    p.width = plane->width;
    p.height = plane->height;
    return p;
}

}  // namespace

uint32_t AllocDisplayBuffers(Display* display)
{
    if (display->framebuffer) return 0;
    int32_t w = display->width, h = display->height;
    int32_t fw = w, fh = h;
    if (display->scaleFlag && display->scaledWidth > 0 && display->scaledHeight > 0) {
        fw = display->scaledWidth;
        fh = display->scaledHeight;
    }
    if (fw > kMaxWindowSide || fh > kMaxWindowSide) return ERR_DISPLAYSIZE;
    auto* fb = static_cast<Framebuffer*>(OsAllocMem(sizeof(Framebuffer), 1));
    if (!fb) return ERR_MEM;
    // From here FreeDisplayBuffers undoes whatever was made.
    display->framebuffer = fb;
    fb->width = fw;
    fb->height = fh;
    fb->pixels = static_cast<uint32_t*>(OsAllocMem(static_cast<size_t>(fw) * fh * 4, 1));
    uint32_t error = fb->pixels ? MakeWindowIcons(&fb->icons, &fb->iconCount) : uint32_t{ERR_MEM};
    for (int i = 0; !error && i < kBackBufferCount; ++i) {
        // Zero bytes where the platform holds it: an applet that never
        // draws pays nothing for its pages.
        auto* b = AllocColorBitMap(w, h, ALLOCBITMAP_ZEROED, nullptr);
        display->backBuffers[i] = b;
        if (!b) error = ERR_BITMAP;
        else if (!FreshBufferShows(b, 0)) FillBitMapRect(b, 0, 0, w, h, 0);
    }
    if (error) FreeDisplayBuffers(display);
    return error;
}

bool FreshBufferShows(const BitMapHandle* buffer, uint32_t argb)
{
    return buffer->store == BITMAPSTORE_OWN && buffer->native &&
           ArgbToPixel(argb, static_cast<const OsBitMap*>(buffer->native)->format, 0) == 0;
}

void FreeDisplayBuffers(Display* display)
{
    for (void*& b : display->backBuffers) {
        if (b) FreeColorBitMap(static_cast<BitMapHandle*>(b));
        b = nullptr;
    }
    if (Framebuffer* fb = display->framebuffer) {
        FreeWindowIconList(fb->icons, fb->iconCount);
        OsFreeMem(fb->pixels);
        OsFreeMem(fb);
        display->framebuffer = nullptr;
    }
}

void AdapterBlitToDisplay(BitMapHandle* src, int32_t sx, int32_t sy, Display* display, int32_t dx,
                          int32_t dy, int32_t w, int32_t h, int32_t scaledW, int32_t scaledH,
                          uint32_t, BitMapHandle* mask, BitMapHandle* alpha)
{
    if (!src || !display || !display->framebuffer) return;
    Framebuffer* fb = display->framebuffer;
    ++fb->presents;
    BitMapLock lock{};
    if (!LockBitMapPixels(src, LOCKBITMAP_READ, &lock)) return;
    const PixelRowKernels* rows = GetPixelRowKernels(lock.format);
    AxisMap mx{}, my{};
    bool any = rows != nullptr;
    if (any && scaledW > 0 && scaledH > 0) {
        mx = {lock.width, scaledW, 0, 0, lock.width, 0, 0};
        my = {lock.height, scaledH, 0, 0, lock.height, 0, 0};
    } else if (any) {
        any = CutToSource(sx, sy, dx, dy, w, h, lock.width, lock.height);
        mx = {display->width, fb->width, dx, sx, w, 0, 0};
        my = {display->height, fb->height, dy, sy, h, 0, 0};
    }
    any = any && MapAxis(&mx, fb->width) && MapAxis(&my, fb->height);
    PlaneBits maskBits = ViewPlane(mask, BITMAP_MASK);
    PlaneBits alphaBytes = ViewPlane(alpha, BITMAP_ALPHA);
    bool plain = !maskBits.pixels && !alphaBytes.pixels;
    bool identity = mx.from == mx.to && my.from == my.to;
    int32_t count = any ? mx.last - mx.first : 0;
    // One block: the source row as ARGB, then the source column of every
    // window column, worked out once for all rows.
    auto* row = any ? static_cast<uint32_t*>(OsAllocMem((static_cast<size_t>(mx.length) + count) * 4, 0))
                    : nullptr;
    auto* columns = row ? reinterpret_cast<int32_t*>(row + mx.length) : nullptr;
    for (int32_t i = 0; columns && i < count; ++i) columns[i] = SourceAt(mx, mx.first + i);
    int32_t convertedY = -1;
    for (int32_t y = my.first; row && y < my.last; ++y) {
        int32_t srcY = SourceAt(my, y);
        const uint8_t* srcRow = lock.pixels + (static_cast<size_t>(lock.rowLength) * srcY + mx.src) *
                                                  lock.bytesPerPixel;
        uint32_t* out = fb->pixels + static_cast<size_t>(fb->width) * y;
        if (plain && identity) {
            const uint8_t* from = srcRow + static_cast<size_t>(columns[0] - mx.src) * lock.bytesPerPixel;
            // ARGB goes across as it is: the window never looks at the top byte.
            if (lock.format == PIXFMT_ARGB) std::memcpy(out + mx.first, from, static_cast<size_t>(count) * 4);
            else rows->toArgb(from, out + mx.first, count, 0);
            continue;
        }
        // Scaled up, a row shows the same source row as the one above it:
        // without a mask or alpha it is a copy of that row.
        if (plain && srcY == convertedY) {
            std::memcpy(out + mx.first, out - fb->width + mx.first, static_cast<size_t>(count) * 4);
            continue;
        }
        if (srcY != convertedY) rows->toArgb(srcRow, row, mx.length, 0);
        convertedY = srcY;
        for (int32_t x = mx.first; x < mx.last; ++x) {
            int32_t srcX = columns[x - mx.first];
            uint32_t s = row[srcX - mx.src];
            if (maskBits.pixels) {
                if (srcX >= maskBits.width || srcY >= maskBits.height) continue;
                if (!(maskBits.pixels[maskBits.bytesPerRow * srcY + (srcX >> 3)] & (0x80 >> (srcX & 7))))
                    continue;
            }
            if (alphaBytes.pixels) {
                if (srcX >= alphaBytes.width || srcY >= alphaBytes.height) continue;
                uint32_t a = alphaBytes.pixels[alphaBytes.bytesPerRow * srcY + srcX];
                if (a != 255) s = BlendArgb(out[x], s, a);
            }
            out[x] = s;
        }
    }
    OsFreeMem(row);
    UnlockBitMapPixels(&lock);
}

uint32_t GrabDisplayToBitmap(Display* display, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t,
                             uint32_t, BitMapHandle** out)
{
    *out = nullptr;
    const Framebuffer* fb = display ? display->framebuffer : nullptr;
    if (!fb || w < 1 || h < 1) return ERR_GRABSCREEN;
    BitMapHandle* bitmap = AllocColorBitMap(w, h, 0, nullptr);
    auto* row = static_cast<uint32_t*>(OsAllocMem(static_cast<size_t>(w) * 4, 0));
    BitMapLock lock{};
    const PixelRowKernels* rows = nullptr;
    if (bitmap && row && LockBitMapPixels(bitmap, 0, &lock)) rows = GetPixelRowKernels(lock.format);
    if (!rows) {
        if (lock.ok) UnlockBitMapPixels(&lock);
        OsFreeMem(row);
        if (bitmap) FreeColorBitMap(bitmap);
        return ERR_GRABSCREEN;
    }
    for (int32_t j = 0; j < h; ++j) {
        int64_t wy = int64_t{y} + j;
        for (int32_t i = 0; i < w; ++i) {
            int64_t wx = int64_t{x} + i;
            bool inside = wx >= 0 && wy >= 0 && wx < fb->width && wy < fb->height;
            row[i] = inside ? fb->pixels[fb->width * wy + wx] & 0xFFFFFF : 0;
        }
        rows->fromArgb(row, lock.pixels + static_cast<size_t>(lock.rowLength) * j * lock.bytesPerPixel,
                       w, 0);
    }
    UnlockBitMapPixels(&lock);
    OsFreeMem(row);
    *out = bitmap;
    return 0;
}

void RefreshDisplay(VmState*, Display* display, uint32_t)
{
    if (!display) return;
    auto* buffer = static_cast<BitMapHandle*>(display->backBuffers[DisplayIsScaled(display) ? 1 : 0]);
    if (buffer) BltToDisplay(buffer, 0, 0, display, 0, 0, display->width, display->height, 1);
}

uint32_t ReadFramebufferPixel(const Display* display, int32_t x, int32_t y)
{
    const Framebuffer* fb = display ? display->framebuffer : nullptr;
    if (!fb || x < 0 || y < 0 || x >= fb->width || y >= fb->height) return 0;
    return fb->pixels[static_cast<size_t>(fb->width) * y + x] & 0xFFFFFF;
}
