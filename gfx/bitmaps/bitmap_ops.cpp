#include "gfx/bitmaps/bitmap_ops.h"

#include <algorithm>

#include "display/display.h"
#include "gfx/bitmaps/adapter_calls.h"
#include "gfx/blits/clip.h"
#include "gfx/blits/plane_ops.h"
#include "gfx/blits/plot_context.h"
#include "gfx/blits/soft_blit.h"

uint32_t OutputBlitState = 0;

namespace {

bool HardwareDestination(const BitMapHandle* dst)
{
    return dst->hardware && AdapterHasVideoBitMaps();
}

bool AdapterTakes(const BitMapHandle* dst, uint32_t memoryOp)
{
    return HardwareDestination(dst) || (AdapterMemoryOps() & memoryOp);
}

// True when dst is the current display's output target, the display draws
// without double buffering, and the output goes to its mask or alpha.
bool PlaneOutputTarget(const BitMapHandle* dst)
{
    const Display* display = CurrentDisplay;
    return display && display->outputTarget == dst && display->doubleBuffer == 0 &&
           (display->outputMode == 28 || display->outputMode == 30);
}

uint32_t BltRectMode(const BitMapHandle* src, const BitMapHandle* dst)
{
    bool hwDst = HardwareDestination(dst);
    uint32_t mode = hwDst ? 4 : 2;
    if (src->hardware) mode = src->aux == 0 ? mode + 9 : mode + 1;
    const Display* display = CurrentDisplay;
    if (hwDst && display && display->outputTarget == dst) {
        if (display->doubleBuffer == 0 && OutputBlitState == 1) mode += 8;
        if (display->outputMode == 28 || display->outputMode == 30) mode += 16;
    }
    return mode;
}

uint32_t BltMaskMode(const BitMapHandle* dst)
{
    if (!HardwareDestination(dst)) return 2;
    return PlaneOutputTarget(dst) ? 20 : 4;
}

uint32_t DrawMode(const BitMapHandle* dst)
{
    if (!HardwareDestination(dst)) return 1;
    return PlaneOutputTarget(dst) ? 6 : 2;
}

uint32_t DrawColour(uint32_t argb, uint32_t mode)
{
    return mode < 4 ? AdapterArgb(argb) : argb;
}

// Locks source (read) and destination, cuts the rectangle to both and
// hands the locks to `work`; nothing is drawn when a lock fails or the
// pixel sizes differ.
template <typename Work>
void WithLockedPair(BitMapHandle* src, int32_t sx, int32_t sy, BitMapHandle* dst, int32_t dx,
                    int32_t dy, int32_t w, int32_t h, Work work)
{
    BitMapLock s{}, d{};
    if (!LockBitMapPixels(src, LOCKBITMAP_READ, &s)) return;
    if (LockBitMapPixels(dst, 0, &d)) {
        if (s.bytesPerPixel == d.bytesPerPixel &&
            ClipRectPair(sx, sy, s.width, s.height, dx, dy, d.width, d.height, w, h))
            work(s, sx, sy, d, dx, dy, w, h);
        UnlockBitMapPixels(&d);
    }
    UnlockBitMapPixels(&s);
}

// The pixels and row size of a plane of the kind asked for that must cover
// the rectangle the caller was cut to; null when it is missing, of another
// kind (a mask row is an eighth of an alpha row) or too small.
const uint8_t* PlaneFor(BitMapHandle* plane, uint32_t kind, int32_t x, int32_t y, int32_t w,
                        int32_t h, int32_t* bytesPerRow)
{
    PlaneView v{};
    if (!ViewPlane(plane, kind, &v) || x + w > v.width || y + h > v.height) return nullptr;
    *bytesPerRow = static_cast<int32_t>(v.bytesPerRow);
    return v.pixels;
}

}  // namespace

void BltBitMapRect(BitMapHandle* src, int32_t sx, int32_t sy, BitMapHandle* dst, int32_t dx,
                   int32_t dy, int32_t w, int32_t h)
{
    if (!src || !dst) return;
    if (AdapterTakes(dst, MEMOP_BLTRECT)) {
        AdapterBltParams params{};
        params = {sx, sy, dx, dy, w, h, {0, 0, 0}, nullptr, nullptr};
        AdapterBltBitMap(src->native, dst->native, &params, BltRectMode(src, dst));
        return;
    }
    WithLockedPair(src, sx, sy, dst, dx, dy, w, h,
                   [](BitMapLock& s, int32_t sx, int32_t sy, BitMapLock& d, int32_t dx,
                      int32_t dy, int32_t w, int32_t h) {
                       SoftBltRect(s.pixels, sx, sy, d.pixels, dx, dy, w, h, s.rowLength,
                                   d.rowLength, s.bytesPerPixel);
                   });
}

void BltBitMapMask(BitMapHandle* src, int32_t sx, int32_t sy, BitMapHandle* dst, int32_t dx,
                   int32_t dy, int32_t w, int32_t h, BitMapHandle* mask)
{
    if (!src || !dst) return;
    if (AdapterTakes(dst, MEMOP_BLTMASK)) {
        AdapterBltParams params{};
        params = {sx, sy, dx, dy, w, h, {0, 0, 0}, mask ? mask->native : nullptr, nullptr};
        AdapterBltBitMap(src->native, dst->native, &params, BltMaskMode(dst));
        return;
    }
    WithLockedPair(src, sx, sy, dst, dx, dy, w, h,
                   [mask](BitMapLock& s, int32_t sx, int32_t sy, BitMapLock& d, int32_t dx,
                          int32_t dy, int32_t w, int32_t h) {
                       // A mask smaller than the rectangle cuts it, as the
                       // bitmaps do.
                       if (!mask || !ClipRectPair(sx, sy, mask->width, mask->height, dx, dy,
                                                  d.width, d.height, w, h))
                           return;
                       int32_t bpr = 0;
                       const uint8_t* bits = PlaneFor(mask, BITMAP_MASK, sx, sy, w, h, &bpr);
                       if (!bits) return;
                       SoftBltRectMask(s.pixels, sx, sy, d.pixels, dx, dy, w, h, s.rowLength,
                                       d.rowLength, bits, bpr, s.bytesPerPixel);
                   });
}

void BltBitMapMasked(BitMapHandle* src, int32_t sx, int32_t sy, BitMapHandle* dst, int32_t dx,
                     int32_t dy, int32_t w, int32_t h, BitMapHandle* alpha)
{
    if (!src || !dst) return;
    if (AdapterTakes(dst, MEMOP_BLTMASKED)) {
        AdapterBltParams params{};
        params = {sx, sy, dx, dy, w, h, {0, 0, 0}, nullptr, alpha ? alpha->native : nullptr};
        AdapterBltBitMap(src->native, dst->native, &params, BltMaskMode(dst));
        return;
    }
    BltBitMapAlphaSoft(src, sx, sy, dst, dx, dy, w, h, BLEND_ALPHA, alpha, nullptr);
}

void BltBitMapAlphaSoft(BitMapHandle* src, int32_t sx, int32_t sy, BitMapHandle* dst,
                        int32_t dx, int32_t dy, int32_t w, int32_t h, uint32_t blendMode,
                        BitMapHandle* srcAlpha, BitMapHandle* dstAlpha)
{
    if (!src || !dst) return;
    WithLockedPair(src, sx, sy, dst, dx, dy, w, h,
                   [=](BitMapLock& s, int32_t sx, int32_t sy, BitMapLock& d, int32_t dx,
                       int32_t dy, int32_t w, int32_t h) {
                       int32_t sbpr = 0, dbpr = 0;
                       const uint8_t* sa = PlaneFor(srcAlpha, BITMAP_ALPHA, sx, sy, w, h, &sbpr);
                       const uint8_t* da = PlaneFor(dstAlpha, BITMAP_ALPHA, dx, dy, w, h, &dbpr);
                       // A plane that was given but cannot cover the rectangle
                       // stops the blit rather than being read past its end.
                       if (srcAlpha && !sa) return;
                       if (dstAlpha && !da) return;
                       SoftBltRectEx(s.pixels, sx, sy, d.pixels, dx, dy, w, h, s.rowLength,
                                     d.rowLength, sa, sbpr, const_cast<uint8_t*>(da), dbpr,
                                     s.format, s.bytesPerPixel, blendMode);
                   });
}

void FillBitMapRect(BitMapHandle* bitmap, int32_t x, int32_t y, int32_t w, int32_t h,
                    uint32_t argb)
{
    if (!bitmap) return;
    if (AdapterTakes(bitmap, MEMOP_FILLRECT)) {
        uint32_t mode = DrawMode(bitmap);
        AdapterRectFill(bitmap->native, x, y, w, h, DrawColour(argb, mode), mode);
        return;
    }
    BitMapLock lock{};
    if (!LockBitMapPixels(bitmap, 0, &lock)) return;
    if (ClipRect(x, y, w, h, lock.width, lock.height))
        SoftRectFill(lock.pixels, x, y, w, h, argb, 255, lock.rowLength, lock.format);
    UnlockBitMapPixels(&lock);
}

void WriteBitMapPixel(BitMapHandle* handle, int32_t x, int32_t y, uint32_t value, int planeFlag)
{
    if (!handle || x < 0 || y < 0 || x >= handle->width || y >= handle->height) return;
    if (planeFlag) {
        auto* bits = reinterpret_cast<uint8_t*>(QueryBitMapAttr(handle, BMATTR_MASK_PIXELS));
        uintptr_t bpr = QueryBitMapAttr(handle, BMATTR_MASK_BYTESPERROW);
        if (bits) ApplyMaskOpToBit(bits + bpr * y, x, value);
        return;
    }
    if (AdapterTakes(handle, MEMOP_WRITEPIXEL)) {
        uint32_t mode = DrawMode(handle);
        AdapterWritePixel(handle->native, x, y, DrawColour(value, mode), mode);
        return;
    }
    BitMapLock lock{};
    if (!LockBitMapPixels(handle, 0, &lock)) return;
    if (x < lock.width && y < lock.height) WriteLockedPixel(&lock, x, y, value);
    UnlockBitMapPixels(&lock);
}

void DrawBitMapLine(BitMapHandle* bitmap, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                    uint32_t argb)
{
    if (!bitmap) return;
    if (AdapterTakes(bitmap, MEMOP_LINE)) {
        uint32_t mode = DrawMode(bitmap);
        AdapterLine(bitmap->native, x1, y1, x2, y2, DrawColour(argb, mode), mode);
        return;
    }
    BitMapLock lock{};
    if (!LockBitMapPixels(bitmap, 0, &lock)) return;
    SoftLine(lock.pixels, x1, y1, x2, y2, argb, 255, lock.format, lock.rowLength, lock.width,
             lock.height);
    UnlockBitMapPixels(&lock);
}

void TileCopyPixels(void* dst, int32_t x, int32_t y, int32_t w, int32_t h, void* src,
                    int32_t offsetX, int32_t offsetY, int32_t tileW, int32_t tileH,
                    int rawBuffers, int32_t srcRowLength)
{
    if (!dst || !src || tileW <= 0 || tileH <= 0 || w <= 0 || h <= 0) return;
    int32_t ox = offsetX % tileW, oy = offsetY % tileH;
    if (ox < 0) ox += tileW;
    if (oy < 0) oy += tileH;
    int64_t right = static_cast<int64_t>(x) + w, bottom = static_cast<int64_t>(y) + h;
    int32_t maxRows = h / tileH + 2, maxCols = w / tileW + 2;
    int64_t py = y;
    int32_t ty = oy;
    for (int32_t r = 0; r < maxRows && py < bottom; ++r) {
        int32_t ph = static_cast<int32_t>(std::min<int64_t>(tileH - ty, bottom - py));
        int64_t px = x;
        int32_t tx = ox;
        for (int32_t c = 0; c < maxCols && px < right; ++c) {
            int32_t pw = static_cast<int32_t>(std::min<int64_t>(tileW - tx, right - px));
            if (pw >= 1 && ph >= 1) {
                if (rawBuffers)
                    CopyPixelRect32(ty, w, static_cast<int32_t>(py - y),
                                    static_cast<const uint32_t*>(src), tx,
                                    static_cast<uint32_t*>(dst), static_cast<int32_t>(px - x), pw,
                                    ph, srcRowLength);
                else
                    BltBitMapRect(static_cast<BitMapHandle*>(src), tx, ty,
                                  static_cast<BitMapHandle*>(dst), static_cast<int32_t>(px),
                                  static_cast<int32_t>(py), pw, ph);
            }
            px += tileW - tx;
            tx = 0;
        }
        py += tileH - ty;
        ty = 0;
    }
}
