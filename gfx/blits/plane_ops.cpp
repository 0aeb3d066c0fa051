#include "gfx/blits/plane_ops.h"

#include "gfx/bitmaps/picture_bits.h"
#include "gfx/bitmaps/pixel_formats.h"
#include "gfx/blits/clip.h"

namespace {

inline uint8_t* PlaneRow(const PlaneView& v, int32_t y) { return v.pixels + v.bytesPerRow * y; }

// The new destination bit of a mask operation, for a source bit s.
template <uint32_t Op>
inline bool MaskOp(bool d, bool s)
{
    if constexpr (Op == MASKVISIBLE) return d || s;
    else if constexpr (Op == MASKINVISIBLE) return d && !s;
    else if constexpr (Op == MASKVANILLACOPY) return s;
    else if constexpr (Op == MASKXOR) return d != s;
    else if constexpr (Op == MASKAND) return d && s;
    else return d || s;
}

typedef void (*MaskRowFunc)(const uint8_t* src, int32_t sx, uint8_t* dst, int32_t dx, int32_t w);

template <uint32_t Op>
void MaskRow(const uint8_t* src, int32_t sx, uint8_t* dst, int32_t dx, int32_t w)
{
    for (int32_t i = 0; i < w; ++i)
        PutMaskBit(dst, dx + i, MaskOp<Op>(MaskBitAt(dst, dx + i), src ? MaskBitAt(src, sx + i) : true));
}

const MaskRowFunc kMaskRows[6] = {MaskRow<0>, MaskRow<1>, MaskRow<2>,
                                  MaskRow<3>, MaskRow<4>, MaskRow<5>};

BitMapPlane g_borrowedPlane;

}  // namespace

bool ViewPlane(BitMapHandle* handle, uint32_t kind, PlaneView* view)
{
    if (!handle || handle->kind != kind) return false;
    bool alpha = kind == BITMAP_ALPHA;
    view->pixels = reinterpret_cast<uint8_t*>(
        QueryBitMapAttr(handle, alpha ? BMATTR_ALPHA_PIXELS : BMATTR_MASK_PIXELS));
    view->bytesPerRow =
        QueryBitMapAttr(handle, alpha ? BMATTR_ALPHA_BYTESPERROW : BMATTR_MASK_BYTESPERROW);
    view->width = handle->width;
    view->height = handle->height;
    return view->pixels != nullptr;
}

void BltMaskPlane(BitMapHandle* srcMask, int32_t sx, int32_t sy, BitMapHandle* dstMask, int32_t dx,
                  int32_t dy, int32_t w, int32_t h, uint32_t op, const uint8_t* srcPixels,
                  uint32_t srcBytesPerRow)
{
    if (op > MASKOR || !srcMask) return;
    PlaneView src{}, dst{};
    src.width = srcMask->width;
    src.height = srcMask->height;
    if (srcMask->kind == BITMAP_MASK) ViewPlane(srcMask, BITMAP_MASK, &src);
    if (srcPixels) src.pixels = const_cast<uint8_t*>(srcPixels);
    if (srcBytesPerRow) src.bytesPerRow = srcBytesPerRow;
    if (!src.pixels || !ViewPlane(dstMask, BITMAP_MASK, &dst)) return;
    if (!ClipRectPair(sx, sy, src.width, src.height, dx, dy, dst.width, dst.height, w, h)) return;
    for (int32_t j = 0; j < h; ++j)
        kMaskRows[op](PlaneRow(src, sy + j), sx, PlaneRow(dst, dy + j), dx, w);
}

void FillMaskPlane(BitMapHandle* mask, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t op)
{
    PlaneView v{};
    if (op > MASKOR || !ViewPlane(mask, BITMAP_MASK, &v)) return;
    if (!ClipRect(x, y, w, h, v.width, v.height)) return;
    for (int32_t j = 0; j < h; ++j) kMaskRows[op](nullptr, 0, PlaneRow(v, y + j), x, w);
}

void FillMaskedColor(BitMapHandle* mask, int32_t mx, int32_t my, BitMapHandle* dst, int32_t dx,
                     int32_t dy, int32_t w, int32_t h, uint32_t argb, const uint8_t* maskPixels,
                     uint32_t maskBytesPerRow)
{
    if (!mask || !dst) return;
    PlaneView m{};
    m.width = mask->width;
    m.height = mask->height;
    if (mask->kind == BITMAP_MASK) ViewPlane(mask, BITMAP_MASK, &m);
    if (maskPixels) m.pixels = const_cast<uint8_t*>(maskPixels);
    if (maskBytesPerRow) m.bytesPerRow = maskBytesPerRow;
    if (!m.pixels) return;
    BitMapLock lock{};
    if (!LockBitMapPixels(dst, 0, &lock)) return;
    uint32_t bpp = lock.bytesPerPixel;
    if ((bpp == 2 || bpp == 4) &&
        ClipRectPair(mx, my, m.width, m.height, dx, dy, lock.width, lock.height, w, h)) {
        uint32_t value = ArgbToPixel(argb, lock.format, 0);
        for (int32_t j = 0; j < h; ++j) {
            const uint8_t* bits = PlaneRow(m, my + j);
            uint8_t* row = lock.pixels + (static_cast<size_t>(lock.rowLength) * (dy + j) + dx) * bpp;
            for (int32_t i = 0; i < w; ++i) {
                if (!MaskBitAt(bits, mx + i)) continue;
                if (bpp == 4) reinterpret_cast<uint32_t*>(row)[i] = value;
                else reinterpret_cast<uint16_t*>(row)[i] = static_cast<uint16_t>(value);
            }
        }
    }
    UnlockBitMapPixels(&lock);
}

void CombineAlphaWithMask(BitMapHandle* alpha, int32_t ax, int32_t ay, BitMapHandle* mask,
                          int32_t mx, int32_t my, int32_t w, int32_t h, uint32_t op)
{
    PlaneView a{}, m{};
    if (op > MASKOR || !ViewPlane(alpha, BITMAP_ALPHA, &a) || !ViewPlane(mask, BITMAP_MASK, &m))
        return;
    if (!ClipRectPair(ax, ay, a.width, a.height, mx, my, m.width, m.height, w, h)) return;
    // An opaque alpha acts as a set source bit; anything less as a clear
    // one, which for the set-type operations clears instead of leaving.
    for (int32_t j = 0; j < h; ++j) {
        const uint8_t* src = PlaneRow(a, ay + j) + ax;
        uint8_t* dst = PlaneRow(m, my + j);
        for (int32_t i = 0; i < w; ++i) {
            int32_t x = mx + i;
            bool d = MaskBitAt(dst, x);
            if (src[i] == 255) {
                switch (op) {
                case MASKVISIBLE: case MASKVANILLACOPY: case MASKOR: d = true; break;
                case MASKINVISIBLE: d = false; break;
                case MASKXOR: d = !d; break;
                default: break;
                }
            } else {
                if (op == MASKVISIBLE || op == MASKVANILLACOPY) d = false;
                else if (op == MASKINVISIBLE) d = true;
            }
            PutMaskBit(dst, x, d);
        }
    }
}

namespace {

void MaskIntoAlpha(BitMapHandle* mask, int32_t mx, int32_t my, BitMapHandle* alpha, int32_t ax,
                   int32_t ay, int32_t w, int32_t h, uint32_t value, bool clearOthers)
{
    PlaneView m{}, a{};
    if (!ViewPlane(mask, BITMAP_MASK, &m) || !ViewPlane(alpha, BITMAP_ALPHA, &a)) return;
    if (!ClipRectPair(mx, my, m.width, m.height, ax, ay, a.width, a.height, w, h)) return;
    uint8_t byte = static_cast<uint8_t>(value);
    for (int32_t j = 0; j < h; ++j) {
        const uint8_t* bits = PlaneRow(m, my + j);
        uint8_t* dst = PlaneRow(a, ay + j) + ax;
        for (int32_t i = 0; i < w; ++i) {
            if (MaskBitAt(bits, mx + i)) dst[i] = byte;
            else if (clearOthers) dst[i] = 0;
        }
    }
}

}  // namespace

void MaskToAlpha(BitMapHandle* mask, int32_t mx, int32_t my, BitMapHandle* alpha, int32_t ax,
                 int32_t ay, int32_t w, int32_t h, uint32_t value)
{
    MaskIntoAlpha(mask, mx, my, alpha, ax, ay, w, h, value, true);
}

void SetAlphaThroughMask(BitMapHandle* mask, int32_t mx, int32_t my, BitMapHandle* alpha,
                         int32_t ax, int32_t ay, int32_t w, int32_t h, uint32_t value)
{
    MaskIntoAlpha(mask, mx, my, alpha, ax, ay, w, h, value, false);
}

void FillAlphaPlane(BitMapHandle* alpha, int32_t x, int32_t y, int32_t w, int32_t h,
                    uint32_t value)
{
    PlaneView a{};
    if (!ViewPlane(alpha, BITMAP_ALPHA, &a) || !ClipRect(x, y, w, h, a.width, a.height)) return;
    for (int32_t j = 0; j < h; ++j) {
        uint8_t* row = PlaneRow(a, y + j) + x;
        for (int32_t i = 0; i < w; ++i) row[i] = static_cast<uint8_t>(value);
    }
}

void CopyAlphaPlane(BitMapHandle* srcAlpha, BitMapHandle* dstAlpha, int32_t height,
                    uint32_t factor)
{
    PlaneView s{}, d{};
    if (!ViewPlane(srcAlpha, BITMAP_ALPHA, &s) || !ViewPlane(dstAlpha, BITMAP_ALPHA, &d)) return;
    // Both planes are walked with the source's row size: stay within the
    // smaller of the two.
    if (height > s.height) height = s.height;
    if (height > d.height) height = d.height;
    if (height <= 0 || s.bytesPerRow != d.bytesPerRow) return;
    size_t n = s.bytesPerRow * static_cast<size_t>(height);
    // Factors above 255 saturate rather than wrap around.
    for (size_t i = 0; i < n; ++i) {
        uint32_t v = s.pixels[i] * factor / 255;
        d.pixels[i] = static_cast<uint8_t>(v > 255 ? 255 : v);
    }
}

BitMapPlane* BorrowMaskPlane(BitMapHandle* colourBitMap, uint8_t* pixels)
{
    g_borrowedPlane = BitMapPlane{};
    g_borrowedPlane.kind = BITMAP_MASK;
    g_borrowedPlane.pixels = pixels;
    g_borrowedPlane.borrowed = 1;
    if (colourBitMap) {
        g_borrowedPlane.width = colourBitMap->width;
        g_borrowedPlane.height = colourBitMap->height;
        g_borrowedPlane.bytesPerRow = MaskPlaneBytesPerRow(
            static_cast<int32_t>(QueryBitMapAttr(colourBitMap, BMATTR_ROWLENGTH)));
    }
    return &g_borrowedPlane;
}
