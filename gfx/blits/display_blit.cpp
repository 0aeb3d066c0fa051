// SafeBlt and the display-facing pieces around it. The order of the steps
// matters: a blit is clipped before anything is locked, so fully clipped
// blits cost nothing; the clip shape is folded into the source's own mask
// or alpha before the destination is chosen, so every path below sees one
// plane; and the output target's planes are updated after the colour blit.
//
// The scratch buffer, its plane record and handle are shared by every call:
// SafeBlt is not reentrant while it holds them, and its own recursive calls
// (sprite protection) run before it takes them.
#include "gfx/blits/display_blit.h"

#include <algorithm>

#include "core/io/error_codes.h"
#include "core/io/utilities.h"
#include "display/display.h"
#include "display/framebuffer.h"
#include "display/pictures.h"
#include "display/rects.h"
#include "gfx/bitmaps/adapter_calls.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/bitmaps/bitmap_ops.h"
#include "gfx/bitmaps/picture_bits.h"
#include "gfx/blits/alpha_blits.h"
#include "gfx/blits/clip_regions.h"
#include "gfx/blits/plane_ops.h"
#include "platform/posix/os_memory.h"

Display* FallbackDisplay;

namespace {

uint8_t* g_scratch;
size_t g_scratchSize;
BitMapPlane g_scratchPlane;
BitMapHandle g_scratchHandle;

BitMapHandle* BackBuffer(const Display* d, int i) { return static_cast<BitMapHandle*>(d->backBuffers[i]); }

bool InstancesOverlap(const OutputRecord* output, int32_t x, int32_t y, int32_t w, int32_t h)
{
    for (const OnScreenInstance* i = output ? output->instances : nullptr; i; i = i->next)
        if (RectsOverlap(i->x, i->y, i->width, i->height, x, y, w, h)) return true;
    return false;
}

// Step 6: a plane laid out like the source's rows 0 .. sy + h - 1 holding
// the clip shape combined with the source's mask or alpha. Null when it
// cannot be made; *made is set when the caller must free it.
BitMapHandle* MakeShapedPlane(BitMapHandle* src, const SafeBltWords& w, bool* made)
{
    *made = false;
    bool alpha = w.alpha != nullptr;
    uint32_t kind = alpha ? BITMAP_ALPHA : BITMAP_MASK;
    int32_t rows = w.sy + w.h;
    BitMapHandle* plane = nullptr;
    uint8_t* pixels = nullptr;
    uintptr_t bytesPerRow = 0;
    if (AdapterManagesBitMaps()) {
        plane = alpha ? AllocAlphaBitMap(src->width, rows, 0, nullptr, 0)
                      : AllocMaskBitMap(src, src->width, rows, 0, nullptr, 0);
        if (!plane) return nullptr;
        *made = true;
        PlaneView view{};
        ViewPlane(plane, kind, &view);
        pixels = view.pixels;
        bytesPerRow = view.bytesPerRow;
    } else {
        bytesPerRow = alpha ? static_cast<uintptr_t>(src->width)
                            : MaskPlaneBytesPerRow(static_cast<int32_t>(QueryBitMapAttr(src, BMATTR_ROWLENGTH)));
        if (!EnsureClipScratch(bytesPerRow * static_cast<size_t>(rows))) return nullptr;
        if (alpha) {
            g_scratchPlane = BitMapPlane{BITMAP_ALPHA, src->width, rows, g_scratch,
                                         static_cast<uint32_t>(bytesPerRow), 1};
        } else {
            g_scratchPlane = *BorrowMaskPlane(src, g_scratch);
            g_scratchPlane.height = rows;
        }
        g_scratchHandle = BitMapHandle{};
        g_scratchHandle.kind = kind;
        g_scratchHandle.native = &g_scratchPlane;
        g_scratchHandle.width = src->width;
        g_scratchHandle.height = rows;
        plane = &g_scratchHandle;
        pixels = g_scratch;
    }
    if (!pixels) {
        if (*made) FreePlaneBitMap(plane);
        *made = false;
        return nullptr;
    }
    PlaneView source{};
    ViewPlane(alpha ? w.alpha : w.mask, kind, &source);
    CopyMaskRect(w.clip, w.sx, w.sy, w.dx, w.dy, w.w, w.h, alpha ? nullptr : source.pixels,
                 source.bytesPerRow, alpha ? source.pixels : nullptr, source.bytesPerRow, pixels,
                 bytesPerRow, alpha);
    return plane;
}

// A source plane smaller than the clipped rectangle would be read past its
// end by the shape copy: such a blit draws nothing.
bool PlaneCovers(const BitMapHandle* plane, int32_t x, int32_t y, int32_t w, int32_t h)
{
    return !plane || (int64_t{x} + w <= plane->width && int64_t{y} + h <= plane->height);
}

// alphaComposed: the colour blit already composed the source alpha into
// the target's alpha plane, which must not take it a second time.
void UpdateTargetPlanes(Display* display, const OutputRecord* output, const SafeBltWords& w,
                        bool destinationGiven, bool alphaComposed)
{
    auto* targetMask = static_cast<BitMapHandle*>(display->targetMask);
    auto* targetAlpha = static_cast<BitMapHandle*>(display->targetAlpha);
    if (targetMask) {
        uint32_t op = destinationGiven ? MASKVANILLACOPY : GraphicsMaskMode;
        if (w.mask) BltMaskPlane(w.mask, w.sx, w.sy, targetMask, w.dx, w.dy, w.w, w.h, op, nullptr, 0);
        else if (w.alpha) CombineAlphaWithMask(w.alpha, w.sx, w.sy, targetMask, w.dx, w.dy, w.w, w.h, op);
        else FillMaskPlane(targetMask, w.dx, w.dy, w.w, w.h, op);
    }
    if (targetAlpha && !alphaComposed) {
        bool intensity = GraphicsAlphaIntensity != -1 && !destinationGiven;
        uint32_t value = intensity ? static_cast<uint32_t>(GraphicsAlphaIntensity) : 255;
        if (w.mask) {
            SetAlphaThroughMask(w.mask, w.sx, w.sy, targetAlpha, w.dx, w.dy, w.w, w.h, value);
        } else if (w.alpha) {
            uint32_t alphaMode = output ? output->alphaMode : OUTPUTALPHA_NONE;
            uint32_t mode = intensity ? 6 : alphaMode == OUTPUTALPHA_NONE ? 0
                                         : alphaMode == OUTPUTALPHA_COMPOSITE ? 9 : 1;
            ClipBltAlphaPlane(w.alpha, w.sx, w.sy, targetAlpha, w.dx, w.dy, w.w, w.h, w.srcW,
                              w.srcH, w.dstW, w.dstH, mode, value);
        } else {
            FillAlphaPlane(targetAlpha, w.dx, w.dy, w.w, w.h, value);
        }
    }
}

// Step 5: the blit goes under the sprites shown on the output.
void BlitUnderSprites(VmState* vm, Display* display, const OutputRecord* output,
                      BitMapHandle* src, const SafeBltWords& w)
{
    auto* picture = static_cast<BGPic*>(display->shownBGPic);
    BitMapHandle* second = BackBuffer(display, 1);
    SafeBltWords inner = w;
    inner.flags = SAFEBLT_NOSPRITES;
    inner.dstW = output->width;
    inner.dstH = output->height;
    if (w.flags & SAFEBLT_LAYERS) {
        inner.dst = BackBuffer(display, 0);
        if (inner.dst) SafeBlt(vm, src, inner);
        Redraw(vm, display, picture, second, w.dx, w.dy, w.w, w.h, 0, 0);
    } else {
        Redraw(vm, display, picture, second, w.dx, w.dy, w.w, w.h, 0, 1);
        inner.dst = second;
        if (second) SafeBlt(vm, src, inner);
        Redraw(vm, display, picture, second, w.dx, w.dy, w.w, w.h, 0, 2);
    }
    if (!(w.flags & SAFEBLT_NOREFRESH) && second) {
        SafeBltWords out{w.dx, w.dy, w.dst, w.dx, w.dy, w.w, w.h,
                         output->width, output->height, output->width, output->height,
                         SAFEBLT_NOCLIP | SAFEBLT_NOSPRITES, nullptr, nullptr, nullptr};
        SafeBlt(vm, second, out);
    }
}

}  // namespace

uint32_t AllocFallbackDisplay()
{
    if (FallbackDisplay) return 0;
    FallbackDisplay = static_cast<Display*>(OsAllocMem(sizeof(Display), 1));
    if (!FallbackDisplay) return ERR_MEM;
    FallbackDisplay->outputMode = OUTPUT_BRUSH;
    return 0;
}

void FreeFallbackDisplay()
{
    if (CurrentDisplay == FallbackDisplay) CurrentDisplay = nullptr;
    OsFreeMem(FallbackDisplay);
    FallbackDisplay = nullptr;
}

bool EnsureClipScratch(size_t bytes)
{
    if (bytes <= g_scratchSize && g_scratch) return true;
    auto* grown = static_cast<uint8_t*>(OsAllocMem(bytes, 0));
    if (!grown) return false;
    OsFreeMem(g_scratch);
    g_scratch = grown;
    g_scratchSize = bytes;
    return true;
}

void FreeClipScratch()
{
    OsFreeMem(g_scratch);
    g_scratch = nullptr;
    g_scratchSize = 0;
}

void ClipBlitRect(const ClipRegion* clip, int32_t* sx, int32_t* sy, int32_t* dx, int32_t* dy,
                  int32_t* w, int32_t* h, int32_t srcW, int32_t srcH, int32_t dstW, int32_t dstH,
                  bool useClip)
{
    int64_t left = 0, top = 0, right = dstW, bottom = dstH;
    if (clip && useClip) {
        // The region's rectangle, and never beyond the destination.
        left = std::max<int64_t>(clip->x, 0);
        top = std::max<int64_t>(clip->y, 0);
        right = std::min<int64_t>(int64_t{clip->x} + clip->width, dstW);
        bottom = std::min<int64_t>(int64_t{clip->y} + clip->height, dstH);
    }
    int64_t x = *dx, y = *dy, sxx = *sx, syy = *sy, ww = *w, hh = *h;
    if (x < left) { sxx += left - x; ww -= left - x; x = left; }
    if (y < top) { syy += top - y; hh -= top - y; y = top; }
    ww = std::min({ww, srcW - sxx, right - x});
    hh = std::min({hh, srcH - syy, bottom - y});
    // Whatever is left empty is reported as 0 so that no caller sees a
    // wrapped size.
    auto narrow = [](int64_t v) {
        return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
    };
    *sx = narrow(sxx);
    *sy = narrow(syy);
    *dx = narrow(x);
    *dy = narrow(y);
    *w = narrow(std::max<int64_t>(ww, 0));
    *h = narrow(std::max<int64_t>(hh, 0));
}

void CopyMaskRect(const ClipRegion* clip, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w,
                  int32_t h, const uint8_t* srcMask, uintptr_t srcMaskBytesPerRow,
                  const uint8_t* srcAlpha, uintptr_t srcAlphaBytesPerRow, uint8_t* out,
                  uintptr_t outBytesPerRow, bool alphaOut)
{
    if (!clip || !clip->mask) return;
    auto* shape = reinterpret_cast<const uint8_t*>(QueryBitMapAttr(clip->mask, BMATTR_MASK_PIXELS));
    uintptr_t shapeBpr = clip->maskBytesPerRow;
    if (!shape) return;
    int32_t ox = dx - clip->x, oy = dy - clip->y;
    for (int32_t j = 0; j < h; ++j) {
        const uint8_t* shapeRow = shape + shapeBpr * static_cast<uintptr_t>(oy + j);
        uint8_t* outRow = out + outBytesPerRow * static_cast<uintptr_t>(sy + j);
        const uint8_t* maskRow = srcMask ? srcMask + srcMaskBytesPerRow * (sy + j) : nullptr;
        const uint8_t* alphaRow = srcAlpha ? srcAlpha + srcAlphaBytesPerRow * (sy + j) : nullptr;
        for (int32_t i = 0; i < w; ++i) {
            bool on = MaskBitAt(shapeRow, ox + i);
            int32_t x = sx + i;
            if (alphaOut) {
                outRow[x] = on ? (alphaRow ? alphaRow[x] : 255) : 0;
            } else {
                PutMaskBit(outRow, x, on && (!maskRow || MaskBitAt(maskRow, x)));
            }
        }
    }
}

void BltToDisplay(BitMapHandle* src, int32_t sx, int32_t sy, Display* display, int32_t dx,
                  int32_t dy, int32_t w, int32_t h, uint32_t flags)
{
    if (!src || !display) return;
    if (display->refreshPending && !(flags & PRESENT_FORCE)) return;
    if (TimedRefresh && !(flags & (PRESENT_NOW | PRESENT_TIMED)) && TimedRefresh->collecting) {
        TimedRefresh->pending = 1;
        return;
    }
    if ((flags & PRESENT_SCALED) && DisplayIsScaled(display) &&
        (display->scaledWidth != src->width || display->scaledHeight != src->height)) {
        if (!TimedRefresh)
            AdapterBlitToDisplay(src, 0, 0, display, 0, 0, src->width, src->height,
                                 display->scaledWidth, display->scaledHeight, flags, nullptr, nullptr);
        return;
    }
    AdapterBlitToDisplay(src, sx, sy, display, dx, dy, w, h, 0, 0, flags, nullptr, nullptr);
}

void SafeBlt(VmState* vm, BitMapHandle* src, const SafeBltWords& words)
{
    SafeBltWords w = words;
    Display* display = CurrentDisplay;
    bool fallback = false;
    if (!display) {
        if (!w.dst || !(w.flags & SAFEBLT_NODISPLAY) || !FallbackDisplay) {
            DebugPrintf("ERROR! SAFEBLT() CALLED WITH DISPLAY=NULL!\n");
            return;
        }
        display = CurrentDisplay = FallbackDisplay;
        fallback = true;
        w.flags |= SAFEBLT_NOSPRITES;
    }
    BitMapHandle* madePlane = nullptr;
    bool useClip = !(w.flags & SAFEBLT_NOCLIP);
    do {
        if (!src || w.sx < 0 || w.sy < 0) break;
        ClipBlitRect(w.clip, &w.sx, &w.sy, &w.dx, &w.dy, &w.w, &w.h, w.srcW, w.srcH, w.dstW, w.dstH,
                     useClip);
        if (w.w < 1 || w.h < 1) break;
        if ((w.flags & SAFEBLT_ADAPTER) && display->adapterDoubleBuffer) {
            AdapterBlitToDisplay(src, w.sx, w.sy, display, w.dx, w.dy, w.w, w.h, 0, 0, 0, w.mask,
                                 w.alpha);
            break;
        }
        OutputRecord* output = DisplayOutput(display);
        if (!(w.flags & SAFEBLT_NOSPRITES) && InstancesOverlap(output, w.dx, w.dy, w.w, w.h)) {
            BlitUnderSprites(vm, display, output, src, w);
            break;
        }
        if (useClip && w.clip && w.clip->mask) {
            BitMapHandle* source = w.alpha ? w.alpha : w.mask;
            if (!PlaneCovers(source, w.sx, w.sy, w.w, w.h)) break;
            bool made;
            BitMapHandle* plane = MakeShapedPlane(src, w, &made);
            if (!plane) break;
            if (made) madePlane = plane;
            (w.alpha ? w.alpha : w.mask) = plane;
        }

        BitMapHandle* dst = w.dst;
        BitMapHandle* remembered = nullptr;
        bool displayItself = false, layersRedrawn = false;
        if (!dst && display->outputMode == OUTPUT_DISPLAY) {
            if (((w.flags & SAFEBLT_LAYERS) && !display->layersEnabled) ||
                (w.flags & SAFEBLT_BACKBUFFER)) {
                dst = BackBuffer(display, 0);
                if (!(w.flags & SAFEBLT_NOREFRESH)) remembered = dst;
            } else if (display->layersEnabled && (w.flags & SAFEBLT_LAYERREDRAW)) {
                remembered = BackBuffer(display, 1);
                Redraw(vm, display, static_cast<BGPic*>(display->shownBGPic), remembered, w.dx,
                       w.dy, w.w, w.h, 0, 0);
                layersRedrawn = true;
            } else {
                displayItself = true;
            }
        } else if (!dst) {
            // The output is a picture: its bitmap is the destination.
            dst = static_cast<BitMapHandle*>(display->outputTarget);
        }
        if (!layersRedrawn) {
            bool noDisplay = (w.flags & SAFEBLT_NODISPLAY) != 0;
            BitMapHandle* mirror = DisplayIsScaled(display) && dst && dst == BackBuffer(display, 0) && !noDisplay
                                       ? BackBuffer(display, 1) : nullptr;
            bool alphaComposed = false;
            if (w.mask) {
                if (dst) BltBitMapMask(src, w.sx, w.sy, dst, w.dx, w.dy, w.w, w.h, w.mask);
                if (mirror) BltBitMapMask(src, w.sx, w.sy, mirror, w.dx, w.dy, w.w, w.h, w.mask);
            } else if (w.alpha) {
                if (dst && (!display->targetAlpha || noDisplay)) {
                    BltBitMapMasked(src, w.sx, w.sy, dst, w.dx, w.dy, w.w, w.h, w.alpha);
                    if (mirror) BltBitMapMasked(src, w.sx, w.sy, mirror, w.dx, w.dy, w.w, w.h, w.alpha);
                } else if (dst) {
                    uint32_t mode = output ? output->alphaMode : OUTPUTALPHA_NONE;
                    alphaComposed = mode == OUTPUTALPHA_COMPOSITE;
                    if (mode == OUTPUTALPHA_NONE)
                        BltBitMapRect(src, w.sx, w.sy, dst, w.dx, w.dy, w.w, w.h);
                    else
                        BltBitMapAlphaSoft(src, w.sx, w.sy, dst, w.dx, w.dy, w.w, w.h, mode, w.alpha,
                                           mode == OUTPUTALPHA_COMPOSITE
                                               ? static_cast<BitMapHandle*>(display->targetAlpha)
                                               : nullptr);
                }
            } else if (dst) {
                BltBitMapRect(src, w.sx, w.sy, dst, w.dx, w.dy, w.w, w.h);
                if (mirror) BltBitMapRect(src, w.sx, w.sy, mirror, w.dx, w.dy, w.w, w.h);
            } else if (displayItself) {
                bool ownBuffer = src == BackBuffer(display, 0) || src == BackBuffer(display, 1) ||
                                 src == BackBuffer(display, 2);
                uint32_t f = DisplayIsScaled(display) && ownBuffer && !noDisplay ? uint32_t{PRESENT_SCALED} : 0;
                BltToDisplay(src, w.sx, w.sy, display, w.dx, w.dy, w.w, w.h, f);
            }
            if (!noDisplay) UpdateTargetPlanes(display, output, w, words.dst != nullptr, alphaComposed);
        }
        if (remembered) {
            BitMapHandle* shown = DisplayIsScaled(display) ? BackBuffer(display, 1) : remembered;
            BltToDisplay(shown, w.dx, w.dy, display, w.dx, w.dy, w.w, w.h, PRESENT_SCALED);
        }
    } while (false);
    if (fallback) CurrentDisplay = nullptr;
    if (madePlane) FreePlaneBitMap(madePlane);
}
