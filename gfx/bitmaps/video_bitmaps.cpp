// Video bitmaps live in the display adapter and are reached only through
// its entries: AllocVideoBitMap takes a tag list describing the pixels,
// ReadVideoPixels hands back a tightly packed copy that must go back
// through FreeVideoPixels. Every array made here is freed on every path,
// and a caller's alpha bitmap changes hands only once the adapter has
// taken the pixels.
#include "gfx/bitmaps/video_bitmaps.h"

#include <cstring>

#include "core/io/error_codes.h"
#include "gfx/bitmaps/adapter_calls.h"
#include "gfx/bitmaps/argb_exchange.h"
#include "gfx/bitmaps/picture_bits.h"
#include "platform/posix/os_memory.h"

namespace {

// Sets the alpha bytes of a w x h array from the mask (255 where a bit is
// set) or from the alpha plane, both read at (x, y); 255 without either.
// False when a plane given does not cover the rectangle.
bool MergeAlpha(uint32_t* argb, int32_t w, int32_t h, BitMapHandle* mask, BitMapHandle* alpha,
                int32_t x, int32_t y)
{
    bool fromMask = mask != nullptr;
    BitMapHandle* plane = mask ? mask : alpha;
    uintptr_t bpr = 0;
    const uint8_t* bits = plane ? PlaneCovering(plane, fromMask, x, y, w, h, &bpr) : nullptr;
    if (plane && !bits) return false;
    for (int32_t j = 0; j < h; ++j) {
        uint32_t* p = argb + static_cast<size_t>(j) * w;
        const uint8_t* row = bits ? bits + bpr * static_cast<uintptr_t>(y + j) : nullptr;
        for (int32_t i = 0; i < w; ++i) {
            uint32_t a = 255;
            if (row) a = fromMask ? (MaskBitAt(row, x + i) ? 255 : 0) : row[x + i];
            p[i] = (p[i] & 0xFFFFFF) | (a << 24);
        }
    }
    return true;
}

// A tight w x h copy of an ARGB array, or null.
uint32_t* NewArgbArray(int32_t w, int32_t h)
{
    return static_cast<uint32_t*>(
        OsAllocMem(static_cast<size_t>(w) * static_cast<size_t>(h) * 4, 0));
}

}  // namespace

bool IsAdapterVideoBitMap(const BitMapHandle* bitmap)
{
    return bitmap && bitmap->hardware && !QueryBitMapAttr(bitmap, BMATTR_HARDWARE_ORPHAN);
}

void* AdapterAllocVideoBitMap(int32_t w, int32_t h, uint32_t flags, uint32_t* aux,
                              const VideoBitMapParams* params)
{
    if (aux) *aux = 0;
    QmTagItem tags[8];
    int n = 0;
    uint32_t* merged = nullptr;
    // The adapter reads six doubles: the 2 x 2 part and no translation.
    double six[6] = {};
    if (params) {
        if (params->display) tags[n++] = {VIDEOTAG_WINDOW, reinterpret_cast<uintptr_t>(params->display)};
        auto* source = static_cast<BitMapHandle*>(params->source);
        if (params->pixelsGiven) {
            tags[n++] = {VIDEOTAG_SOURCE, reinterpret_cast<uintptr_t>(params->source)};
        } else if (source && source->hardware) {
            tags[n++] = {VIDEOTAG_SOURCE, reinterpret_cast<uintptr_t>(source->native)};
            flags |= VIDEOBITMAP_FROMVIDEO;
        } else if (source) {
            merged = ReadBitMapArgb(source, params->srcX, params->srcY, w, h, 0);
            if (!merged || !MergeAlpha(merged, w, h, params->mask, params->alpha, params->srcX, params->srcY)) {
                OsFreeMem(merged);
                return nullptr;
            }
            if (params->mask || params->alpha) flags |= VIDEOBITMAP_HASALPHA;
            tags[n++] = {VIDEOTAG_SOURCE, reinterpret_cast<uintptr_t>(merged)};
        }
        if (params->scaleFlag || params->transformFlag) {
            tags[n++] = {VIDEOTAG_WIDTH, static_cast<uintptr_t>(params->targetWidth)};
            tags[n++] = {VIDEOTAG_HEIGHT, static_cast<uintptr_t>(params->targetHeight)};
            if (!params->scaleFlag) {
                std::memcpy(six, params->matrix, sizeof params->matrix);
                tags[n++] = {VIDEOTAG_MATRIX, reinterpret_cast<uintptr_t>(six)};
            }
            tags[n++] = {VIDEOTAG_SCALEMODE, params->scaleMode};
        }
    }
    tags[n] = {0, 0};
    void* native = CallAdapterAllocVideoBitMap(w, h, flags, tags);
    if (native && (flags & VIDEOBITMAP_HASALPHA) && aux) *aux = 1;
    OsFreeMem(merged);
    return native;
}

uint32_t AdapterVideoBitMapFromArgb(const uint32_t* argb, int64_t transparentColour, int32_t w,
                                    int32_t h, int32_t rowLength, uint32_t alphaMode,
                                    void* display, BitMapHandle** bitmap,
                                    BitMapHandle** alphaInOut, uint32_t* fallBack)
{
    if (bitmap) *bitmap = nullptr;
    if (fallBack) *fallBack = 0;
    if (!argb || !bitmap || w < 1 || h < 1 || rowLength < w) return ERR_BITMAP;
    // Without video bitmaps AllocColorBitMap would hand back an empty memory
    // bitmap: the caller's own memory path does better.
    if (!AdapterHasVideoBitMaps()) {
        if (AdapterBitMapFlags() & ADAPTERBITMAP_FALLBACK || !CallableDisplayAdapter()) {
            if (fallBack) *fallBack = 1;
            return 0;
        }
        return ERR_BITMAP;
    }
    uint32_t hasAlpha = alphaMode == 1 ? 0u : uint32_t{VIDEOBITMAP_HASALPHA};
    BitMapHandle* callerAlpha = alphaInOut ? *alphaInOut : nullptr;
    const uint32_t* pixels = argb;
    uint32_t* merged = nullptr;
    if (alphaMode == 0 || rowLength != w) {
        merged = NewArgbArray(w, h);
        if (!merged) return ERR_MEM;
        for (int32_t j = 0; j < h; ++j)
            std::memcpy(merged + static_cast<size_t>(j) * w, argb + static_cast<size_t>(j) * rowLength,
                        static_cast<size_t>(w) * 4);
        pixels = merged;
    }
    if (alphaMode == 0) {
        if (callerAlpha) {
            if (!MergeAlpha(merged, w, h, nullptr, callerAlpha, 0, 0)) {
                OsFreeMem(merged);
                return ERR_BITMAP;
            }
        } else if (transparentColour == kNoTransparentColour) {
            MergeAlpha(merged, w, h, nullptr, nullptr, 0, 0);
            hasAlpha = 0;
        } else {
            uint32_t key = static_cast<uint32_t>(transparentColour) & 0xFFFFFF;
            size_t count = static_cast<size_t>(w) * h;
            for (size_t i = 0; i < count; ++i) {
                uint32_t rgb = merged[i] & 0xFFFFFF;
                merged[i] = rgb | (rgb == key ? 0u : 0xFF000000u);
            }
        }
    }
    VideoBitMapParams params{};
    params.source = const_cast<uint32_t*>(pixels);
    params.pixelsGiven = 1;
    params.display = display;
    BitMapHandle* made = AllocColorBitMap(w, h, ALLOCBITMAP_VIDEO | hasAlpha, &params);
    OsFreeMem(merged);
    if (!made) {
        if (AdapterBitMapFlags() & ADAPTERBITMAP_FALLBACK) {
            if (fallBack) *fallBack = 1;
            return 0;
        }
        return ERR_BITMAP;
    }
    if (alphaMode == 0 && callerAlpha) {
        FreePlaneBitMap(callerAlpha);
        *alphaInOut = nullptr;
    }
    *bitmap = made;
    return 0;
}

uint32_t AdapterReadVideoBitMap(BitMapHandle* video, BitMapHandle* dest, int32_t w, int32_t h,
                                BitMapHandle** alpha)
{
    if (alpha) *alpha = nullptr;
    if (!video || !dest || w < 1 || h < 1) return ERR_LOCKBMAP;
    BitMapLock lock{};
    if (!LockBitMapPixels(dest, 0, &lock)) return ERR_LOCKBMAP;
    const PixelRowKernels* out = GetPixelRowKernels(lock.format);
    if (!out || lock.width < w || lock.height < h) {
        UnlockBitMapPixels(&lock);
        return ERR_LOCKBMAP;
    }
    uint32_t hasAlpha = 0, format = PIXFMT_COUNT;
    QmTagItem tags[] = {{READVIDEOTAG_HASALPHA, reinterpret_cast<uintptr_t>(&hasAlpha)},
                        {READVIDEOTAG_FORMAT, reinterpret_cast<uintptr_t>(&format)},
                        {0, 0}};
    auto* buffer = static_cast<const uint8_t*>(CallAdapterReadVideoPixels(video->native, tags));
    if (!buffer) {
        UnlockBitMapPixels(&lock);
        return ERR_READVIDEOPIXELS;
    }
    const PixelRowKernels* in = GetPixelRowKernels(format);
    uint32_t inBytes = PixelFormatBytes(format);
    uint32_t* row = in ? NewArgbArray(w, 1) : nullptr;
    if (!row) {
        UnlockBitMapPixels(&lock);
        AdapterFreeVideoPixels(const_cast<uint8_t*>(buffer));
        return in ? ERR_MEM : ERR_WRONGUSAGE;
    }
    for (int32_t j = 0; j < h; ++j) {
        in->toArgb(buffer + static_cast<size_t>(j) * w * inBytes, row, w, 0);
        out->fromArgb(row, lock.pixels + static_cast<size_t>(j) * lock.rowLength * lock.bytesPerPixel,
                      w, 0);
    }
    OsFreeMem(row);
    UnlockBitMapPixels(&lock);
    uint32_t error = 0;
    if (hasAlpha) {
        BitMapHandle* plane = nullptr;
        if (format < PIXFMT_ARGB || format > PIXFMT_ABGR) error = ERR_WRONGUSAGE;
        else if (!(plane = AllocAlphaBitMap(w, h, 0, nullptr, 0))) error = ERR_ALLOCALPHA;
        if (plane) {
            auto* bytes = reinterpret_cast<uint8_t*>(QueryBitMapAttr(plane, BMATTR_ALPHA_PIXELS));
            uintptr_t bpr = QueryBitMapAttr(plane, BMATTR_ALPHA_BYTESPERROW);
            // The alpha byte sits last in memory for ARGB and ABGR, first
            // for BGRA and RGBA.
            size_t at = format == PIXFMT_ARGB || format == PIXFMT_ABGR ? 3 : 0;
            for (int32_t j = 0; j < h; ++j)
                for (int32_t i = 0; i < w; ++i)
                    bytes[bpr * j + i] = buffer[(static_cast<size_t>(j) * w + i) * 4 + at];
            if (alpha) *alpha = plane;
            else FreePlaneBitMap(plane);
        }
    }
    AdapterFreeVideoPixels(const_cast<uint8_t*>(buffer));
    return error;
}
