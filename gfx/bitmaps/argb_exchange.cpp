// ARGB arrays in and out of bitmaps. Every rectangle is checked against
// the bitmap and its planes before a pixel is touched: the arrays come from
// loaders and scripts, and a wrong size must give no picture rather than a
// read past a plane.
#include "gfx/bitmaps/argb_exchange.h"

#include <cstring>

#include "core/io/error_codes.h"
#include "gfx/bitmaps/copy_bitmap.h"
#include "gfx/bitmaps/picture_bits.h"
#include "gfx/bitmaps/video_bitmaps.h"
#include "gfx/blits/clip.h"
#include "gfx/effects/pixel_kernels.h"
#include "platform/posix/os_memory.h"

namespace {

// One converter for every target size: the row kernels already hold the
// channel rules (format 10 keeps alpha, others drop it, 16-bit truncates).
void CopyRectFromArgb(const uint32_t* argb, int32_t srcRowLength, void* pixels,
                      int32_t dstRowLength, uint32_t format, int32_t w, int32_t h)
{
    const PixelRowKernels* k = GetPixelRowKernels(format);
    if (!k) return;
    size_t stride = static_cast<size_t>(dstRowLength) * PixelFormatBytes(format);
    for (int32_t j = 0; j < h; ++j)
        k->fromArgb(argb + static_cast<size_t>(j) * srcRowLength,
                    static_cast<uint8_t*>(pixels) + j * stride, w, format == PIXFMT_ARGB);
}

}  // namespace

const uint8_t* PlaneCovering(BitMapHandle* plane, bool mask, int32_t x, int32_t y, int32_t w,
                             int32_t h, uintptr_t* bytesPerRow)
{
    if (!RectInsideBitMap(plane, x, y, w, h)) return nullptr;
    *bytesPerRow = QueryBitMapAttr(plane, mask ? BMATTR_MASK_BYTESPERROW : BMATTR_ALPHA_BYTESPERROW);
    return reinterpret_cast<const uint8_t*>(
        QueryBitMapAttr(plane, mask ? BMATTR_MASK_PIXELS : BMATTR_ALPHA_PIXELS));
}

uint32_t* ReadBitMapArgb(BitMapHandle* bitmap, int32_t x, int32_t y, int32_t w, int32_t h,
                         uint32_t lockFlags)
{
    if (!bitmap) return nullptr;
    BitMapLock lock{};
    if (!LockBitMapPixels(bitmap, lockFlags | LOCKBITMAP_READ, &lock)) return nullptr;
    uint32_t* argb = nullptr;
    if (RectInside(x, y, w, h, lock.width, lock.height))
        argb = static_cast<uint32_t*>(OsAllocMem(static_cast<size_t>(w) * h * 4, 0));
    if (argb) {
        uint32_t f = lock.format;
        if (f == PIXFMT_RGB565 || (f >= PIXFMT_ARGB && f <= PIXFMT_ABGR)) {
            ConvertRectToArgb(lock.pixels, argb, x, y, w, h, lock.rowLength, lock.bytesPerPixel, f);
        } else {
            for (int32_t j = 0; j < h; ++j)
                for (int32_t i = 0; i < w; ++i)
                    argb[static_cast<size_t>(j) * w + i] = ReadLockedPixel(&lock, x + i, y + j);
        }
    }
    UnlockBitMapPixels(&lock);
    return argb;
}

uint32_t* BitMapToArgbMasked(BitMapHandle* bitmap, int32_t x, int32_t y, int32_t w, int32_t h,
                             BitMapHandle* mask, BitMapHandle* alpha, int64_t transparentColour,
                             int maskToAlpha, uint32_t lockFlags)
{
    uintptr_t maskRow = 0, alphaRow = 0;
    const uint8_t* bits = mask ? PlaneCovering(mask, true, x, y, w, h, &maskRow) : nullptr;
    const uint8_t* bytes = alpha ? PlaneCovering(alpha, false, x, y, w, h, &alphaRow) : nullptr;
    if ((mask && !bits) || (alpha && !bytes)) return nullptr;
    uint32_t* argb = ReadBitMapArgb(bitmap, x, y, w, h, lockFlags);
    if (!argb) return nullptr;
    bool keyed = transparentColour != kNoTransparentColour;
    uint32_t key = static_cast<uint32_t>(transparentColour);
    for (int32_t j = 0; j < h; ++j) {
        uint32_t* p = argb + static_cast<size_t>(j) * w;
        const uint8_t* m = bits ? bits + maskRow * static_cast<uintptr_t>(y + j) : nullptr;
        const uint8_t* a = bytes ? bytes + alphaRow * static_cast<uintptr_t>(y + j) : nullptr;
        for (int32_t i = 0; i < w; ++i) {
            if (m && (maskToAlpha || keyed)) {
                bool visible = MaskBitAt(m, x + i);
                if (maskToAlpha) p[i] = (p[i] & 0xFFFFFF) | (visible ? 0xFF000000u : 0);
                else if (!visible) p[i] = key;
            }
            if (a) {
                uint32_t v = a[x + i];
                // An invisible pixel shows the key colour itself: OR-ing the
                // key into the old colour would give a third colour that
                // matches nothing.
                uint32_t rgb = v == 0 && keyed ? key & 0xFFFFFF : p[i] & 0xFFFFFF;
                p[i] = rgb | (v << 24);
            } else if (!m) {
                p[i] |= 0xFF000000u;
            }
        }
    }
    return argb;
}

void CopyPixelRectFromFormat32(const uint32_t* argb, int32_t srcRowLength, void* pixels,
                               int32_t dstRowLength, uint32_t format, int32_t w, int32_t h)
{
    if (PixelFormatBytes(format) == 4) CopyRectFromArgb(argb, srcRowLength, pixels, dstRowLength, format, w, h);
}

void CopyPixelRectFromFormat16(const uint32_t* argb, int32_t srcRowLength, void* pixels,
                               int32_t dstRowLength, uint32_t format, int32_t w, int32_t h)
{
    if (PixelFormatBytes(format) == 2) CopyRectFromArgb(argb, srcRowLength, pixels, dstRowLength, format, w, h);
}

void WriteArgbToBitMap(const uint32_t* argb, int32_t sx, int32_t sy, int32_t srcRowBytes,
                       BitMapHandle* bitmap, int32_t dx, int32_t dy, int32_t w, int32_t h)
{
    if (!argb || !bitmap || srcRowBytes < 4 || sx < 0 || sy < 0) return;
    BitMapLock lock{};
    if (!LockBitMapPixels(bitmap, 0, &lock)) return;
    int32_t ox = dx, oy = dy;
    if (ClipRect(dx, dy, w, h, lock.width, lock.height)) {
        int32_t rowLength = srcRowBytes / 4;
        const uint32_t* src = argb + static_cast<size_t>(sy + dy - oy) * rowLength + (sx + dx - ox);
        uint8_t* dst = lock.pixels + (static_cast<size_t>(dy) * lock.rowLength + dx) * lock.bytesPerPixel;
        if (lock.bytesPerPixel == 4)
            CopyPixelRectFromFormat32(src, rowLength, dst, lock.rowLength, lock.format, w, h);
        else if (lock.bytesPerPixel == 2)
            CopyPixelRectFromFormat16(src, rowLength, dst, lock.rowLength, lock.format, w, h);
        else
            CopyRectFromArgb(src, rowLength, dst, lock.rowLength, lock.format, w, h);
    }
    UnlockBitMapPixels(&lock);
}

BitMapHandle* AllocAlphaBitMapFrom(const uint32_t* argb, int32_t w, int32_t h, int32_t rowLength)
{
    if (!argb || rowLength < w) return nullptr;
    BitMapHandle* alpha = AllocAlphaBitMap(w, h, 0, nullptr, 0);
    if (!alpha) return nullptr;
    auto* bytes = reinterpret_cast<uint8_t*>(QueryBitMapAttr(alpha, BMATTR_ALPHA_PIXELS));
    auto bpr = static_cast<int32_t>(QueryBitMapAttr(alpha, BMATTR_ALPHA_BYTESPERROW));
    if (!bytes) {
        FreePlaneBitMap(alpha);
        return nullptr;
    }
    ExtractAlphaBytes(argb, w, h, rowLength, bytes, bpr);
    return alpha;
}

namespace {

// The mask of a colour bitmap: set where the pixel's colour is not the
// transparent one. Only the colour counts: a key of 0xFF000000 matches
// black pixels of any alpha.
uint32_t MakeKeyMask(BitMapHandle* colour, const uint32_t* argb, int64_t transparentColour, int32_t w, int32_t h,
                     int32_t rowLength, BitMapHandle** mask)
{
    BitMapHandle* made = AllocMaskBitMap(colour, w, h, 1, nullptr, 0);
    auto* bits = made ? reinterpret_cast<uint8_t*>(QueryBitMapAttr(made, BMATTR_MASK_PIXELS)) : nullptr;
    if (!bits) {
        FreePlaneBitMap(made);
        return ERR_ALLOCMASK;
    }
    BuildMaskFromColor32(argb, bits, w, h, static_cast<int32_t>(QueryBitMapAttr(made, BMATTR_MASK_BYTESPERROW)),
                         static_cast<uint32_t>(transparentColour) & 0xFFFFFF, rowLength, 0xFFFFFF);
    *mask = made;
    return 0;
}

}  // namespace

uint32_t CreateBitMapTakingArgb(uint32_t* argb, int64_t transparentColour, int32_t w, int32_t h,
                                BitMapHandle** bitmap, BitMapHandle** mask)
{
    *bitmap = nullptr;
    if (mask) *mask = nullptr;
    BitMapHandle* colour = AdoptArgbPixels(argb, w, h);
    if (!colour) {
        OsFreeMem(argb);
        return ERR_BITMAP;
    }
    if (transparentColour != kNoTransparentColour && mask) {
        if (uint32_t error = MakeKeyMask(colour, argb, transparentColour, w, h, w, mask)) {
            FreeColorBitMap(colour);
            return error;
        }
    }
    *bitmap = colour;
    return 0;
}

uint32_t CreateBitMapFromArgb(const uint32_t* argb, int64_t transparentColour, int32_t w,
                              int32_t h, int32_t rowLength, int video, uint32_t alphaMode,
                              void* display, BitMapHandle** bitmap, BitMapHandle** mask,
                              BitMapHandle** alpha)
{
    // Only a video request with alphaMode 0 reads an alpha bitmap in.
    BitMapHandle* alphaIn = video && alphaMode == 0 && alpha ? *alpha : nullptr;
    if (bitmap) *bitmap = nullptr;
    if (mask) *mask = nullptr;
    if (alpha) *alpha = nullptr;
    if (!argb || !bitmap || w < 1 || h < 1 || rowLength < w) return ERR_BITMAP;
    uint32_t fallBack = 0;
    if (video) {
        BitMapHandle* made = nullptr;
        uint32_t error = AdapterVideoBitMapFromArgb(argb, transparentColour, w, h, rowLength,
                                                    alphaMode, display, &made, &alphaIn, &fallBack);
        // The caller's alpha stays the caller's until the video bitmap took it.
        if (alpha) *alpha = alphaIn;
        if (error) return error;
        if (!fallBack) {
            *bitmap = made;
            return 0;
        }
    }
    BitMapHandle* colour = AllocColorBitMap(w, h, 0, nullptr);
    if (!colour) return ERR_BITMAP;
    WriteArgbToBitMap(argb, 0, 0, rowLength * 4, colour, 0, 0, w, h);
    BitMapHandle* madeMask = nullptr;
    if (transparentColour != kNoTransparentColour && mask) {
        if (uint32_t error = MakeKeyMask(colour, argb, transparentColour, w, h, rowLength, &madeMask)) {
            FreeColorBitMap(colour);
            return error;
        }
    }
    BitMapHandle* madeAlpha = nullptr;
    if (video && alphaMode == 2 && alpha) {
        madeAlpha = AllocAlphaBitMapFrom(argb, w, h, rowLength);
        if (!madeAlpha) {
            FreePlaneBitMap(madeMask);
            FreeColorBitMap(colour);
            return ERR_ALLOCALPHA;
        }
        *alpha = madeAlpha;
    }
    *bitmap = colour;
    if (mask) *mask = madeMask;
    return 0;
}
