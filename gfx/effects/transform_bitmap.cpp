// Transforms by inverse mapping. Rows run over the transformed bounding
// box; each row is first narrowed to the span whose pixel centres map
// inside the source, so the inner loop neither tests bounds nor touches
// pixels outside the picture, whose mask bits or alpha stay 0. Sample
// positions are clamped to the source before they become indices: the
// matrix comes from scripts.
#include "gfx/effects/transform_bitmap.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/io/error_codes.h"
#include "core/io/number_conv.h"
#include "core/plugins/plugin_manager.h"
#include "gfx/bitmaps/copy_bitmap.h"
#include "gfx/bitmaps/picture_bits.h"
#include "gfx/bitmaps/pixel_rgb.h"
#include "platform/posix/os_memory.h"

namespace {

// Sets bits x0..x1 of a mask row.
void SetMaskRun(uint8_t* row, int32_t x0, int32_t x1)
{
    while (x0 <= x1 && (x0 & 7)) PutMaskBit(row, x0++, true);
    if (x0 + 7 <= x1) {
        std::memset(row + (x0 >> 3), 0xFF, static_cast<size_t>((x1 + 1 - x0) >> 3));
        x0 += ((x1 + 1 - x0) >> 3) << 3;
    }
    while (x0 <= x1) PutMaskBit(row, x0++, true);
}

inline int32_t ClampIndex(double c, int32_t size)
{
    // Clamped while still a double, so any value converts safely.
    return static_cast<int32_t>(std::min(std::max(c, 0.0), static_cast<double>(size - 1)));
}

// trunc(ceil(c)) and trunc(floor(c)) through the one conversion helper.
inline int32_t CeilToInt(double c) { return DoubleToInt32(std::ceil(c)); }
inline int32_t FloorToInt(double c) { return DoubleToInt32(std::floor(c)); }

inline const uint8_t* SourcePixel(const TransformParams* p, int32_t x, int32_t y)
{
    return p->srcPixels + (static_cast<size_t>(p->srcRowLength) * y + x) * p->bytesPerPixel;
}

inline int32_t Bilinear(double tl, double tr, double bl, double br, double fx, double fy)
{
    return static_cast<int32_t>((tl * (1 - fx) + tr * fx) * (1 - fy) + (bl * (1 - fx) + br * fx) * fy + 0.5);
}


// floor() of a value already near the source, without a library call.
inline double FloorNear(double c)
{
    double t = static_cast<double>(static_cast<int64_t>(c));
    return t > c ? t - 1 : t;
}

// The smooth inner loop for 4-byte pixels without a mask: all four bytes of
// a pixel go through the same double arithmetic as SampleTransformed, two
// lanes at a time, and the byte that packs as 0 is cleared afterwards.
void SampleSpan32(const TransformParams* p, const InverseMatrix& inv, int32_t y, int32_t xs,
                  int32_t xe, uint8_t* dstRow, uint8_t* alphaRow)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128d one = _mm_set1_pd(1.0), half = _mm_set1_pd(0.5);
    uint32_t keep = ColourBytes32(p->format);
    double cu = inv.c * (y + 0.5), cv = inv.d * (y + 0.5);
    auto* out = reinterpret_cast<uint32_t*>(dstRow);
    auto lanes = [&](uint32_t px, __m128d* lo, __m128d* hi) {
        __m128i v = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int32_t>(px)), zero), zero);
        *lo = _mm_cvtepi32_pd(v);
        *hi = _mm_cvtepi32_pd(_mm_srli_si128(v, 8));
    };
    for (int32_t x = xs; x <= xe; ++x) {
        double u = inv.a * (x + 0.5) + cu + inv.e;
        double v = inv.b * (x + 0.5) + cv + inv.f;
        double us = u - 0.5, vs = v - 0.5;
        us = std::min(std::max(us, -1.0), static_cast<double>(p->srcW));
        vs = std::min(std::max(vs, -1.0), static_cast<double>(p->srcH));
        double fu = FloorNear(us), fv = FloorNear(vs);
        int32_t ui = ClampIndex(fu, p->srcW), vi = ClampIndex(fv, p->srcH);
        int32_t ui1 = ClampIndex(fu + 1, p->srcW), vi1 = ClampIndex(fv + 1, p->srcH);
        auto* top = reinterpret_cast<const uint32_t*>(p->srcPixels) + static_cast<size_t>(p->srcRowLength) * vi;
        auto* bottom = reinterpret_cast<const uint32_t*>(p->srcPixels) + static_cast<size_t>(p->srcRowLength) * vi1;
        __m128d tl0, tl1, tr0, tr1, bl0, bl1, br0, br1;
        lanes(top[ui], &tl0, &tl1);
        lanes(top[ui1], &tr0, &tr1);
        lanes(bottom[ui], &bl0, &bl1);
        lanes(bottom[ui1], &br0, &br1);
        __m128d fx = _mm_set1_pd(us - fu), fy = _mm_set1_pd(vs - fv);
        __m128d gx = _mm_sub_pd(one, fx), gy = _mm_sub_pd(one, fy);
        auto blend = [&](__m128d tl, __m128d tr, __m128d bl, __m128d br) {
            __m128d t = _mm_add_pd(_mm_mul_pd(tl, gx), _mm_mul_pd(tr, fx));
            __m128d b = _mm_add_pd(_mm_mul_pd(bl, gx), _mm_mul_pd(br, fx));
            return _mm_cvttpd_epi32(_mm_add_pd(_mm_add_pd(_mm_mul_pd(t, gy), _mm_mul_pd(b, fy)), half));
        };
        __m128i c = _mm_unpacklo_epi64(blend(tl0, tr0, bl0, br0), blend(tl1, tr1, bl1, br1));
        c = _mm_packus_epi16(_mm_packs_epi32(c, zero), zero);
        out[x] = static_cast<uint32_t>(_mm_cvtsi128_si32(c)) & keep;
        if (alphaRow) {
            double a0 = p->srcAlpha[static_cast<ptrdiff_t>(p->srcAlphaBytesPerRow) * vi + ui];
            double a1 = p->srcAlpha[static_cast<ptrdiff_t>(p->srcAlphaBytesPerRow) * vi + ui1];
            double a2 = p->srcAlpha[static_cast<ptrdiff_t>(p->srcAlphaBytesPerRow) * vi1 + ui];
            double a3 = p->srcAlpha[static_cast<ptrdiff_t>(p->srcAlphaBytesPerRow) * vi1 + ui1];
            alphaRow[x] = static_cast<uint8_t>(Bilinear(a0, a1, a2, a3, us - fu, vs - fv));
        }
    }
}

uint32_t BestTransformPath()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? TRANSFORMPATH_AVX2 : TRANSFORMPATH_SSE2;
}

uint32_t g_transformPath = BestTransformPath();

}  // namespace

// transform_avx2.cpp: fills all but the last (xe - xs + 1) % 4 pixels and
// returns the first x it left.
int32_t SampleSpan32Avx2(const TransformParams* p, const InverseMatrix& inv, int32_t y, int32_t xs, int32_t xe,
                         uint8_t* dstRow, uint8_t* alphaRow);

uint32_t SelectTransformPath(uint32_t path)
{
    uint32_t previous = g_transformPath;
    g_transformPath = path == TRANSFORMPATH_AVX2 ? BestTransformPath() : TRANSFORMPATH_SSE2;
    return previous;
}

bool InvertTransformMatrix(const double* m, InverseMatrix* inv)
{
    for (int k = 0; k < 6; ++k)
        if (!std::isfinite(m[k])) return false;
    double det = m[0] * m[3] - m[2] * m[1];
    if (det == 0 || !std::isfinite(det)) return false;
    inv->a = m[3] / det;
    inv->b = -m[1] / det;
    inv->c = -m[2] / det;
    inv->d = m[0] / det;
    inv->e = -m[4] * inv->a - m[5] * inv->c;
    inv->f = -m[4] * inv->b - m[5] * inv->d;
    return std::isfinite(inv->a) && std::isfinite(inv->b) && std::isfinite(inv->c) &&
           std::isfinite(inv->d) && std::isfinite(inv->e) && std::isfinite(inv->f);
}

void TransformedBounds(const double* m, int32_t w, int32_t h, int32_t* outWidth,
                       int32_t* outHeight, double* outMinX, double* outMinY)
{
    const double cx[4] = {0, static_cast<double>(w), static_cast<double>(w), 0};
    const double cy[4] = {0, 0, static_cast<double>(h), static_cast<double>(h)};
    double minX = 0, maxX = 0, minY = 0, maxY = 0;
    for (int k = 0; k < 4; ++k) {
        // Rounded half up: truncating would pull negative corners toward 0
        // and lose a row or column of every quarter turn.
        double x = DoubleToInt32(std::floor(m[0] * cx[k] + m[2] * cy[k] + 0.5));
        double y = DoubleToInt32(std::floor(m[1] * cx[k] + m[3] * cy[k] + 0.5));
        if (k == 0 || x < minX) minX = x;
        if (k == 0 || x > maxX) maxX = x;
        if (k == 0 || y < minY) minY = y;
        if (k == 0 || y > maxY) maxY = y;
    }
    if (outWidth) *outWidth = CeilToInt(maxX - minX - 0.5);
    if (outHeight) *outHeight = CeilToInt(maxY - minY - 0.5);
    if (outMinX) *outMinX = minX;
    if (outMinY) *outMinY = minY;
}

void TransformRowSpan(const InverseMatrix& m, int32_t w, int32_t h, int32_t y, double* xmin,
                      double* xmax)
{
    const double eps = 1e-10;
    double incoming = *xmin;
    // One axis of the source: the pixels whose centre maps into [0, size).
    // The upper bound is exclusive, so the span ends one pixel before the
    // first centre that maps onto the far edge; it is stepped back as a
    // double, since a nearly flat matrix puts it at the least integer.
    auto narrow = [&](double slope, double offset, int32_t size) {
        if (slope > eps) {
            *xmin = std::max(*xmin, static_cast<double>(CeilToInt(-offset / slope + eps - 0.5)));
            *xmax = std::min(*xmax, static_cast<double>(CeilToInt((size - offset) / slope - eps - 0.5)) - 1);
        } else if (slope < -eps) {
            *xmin = std::max(*xmin, static_cast<double>(CeilToInt((size - offset) / slope + eps - 0.5)));
            *xmax = std::min(*xmax, static_cast<double>(CeilToInt(-offset / slope - eps - 0.5)) - 1);
        } else if (offset < 0 || offset >= size) {
            // The whole row misses the source: an empty span, not one pixel.
            *xmin = incoming;
            *xmax = incoming - 1;
            return false;
        }
        return true;
    };
    double p = m.c * (y + 0.5) + m.e;
    double q = m.d * (y + 0.5) + m.f;
    if (narrow(m.a, p, w)) narrow(m.b, q, h);
}

bool SampleTransformed(const TransformParams* p, uint8_t* dst, uint8_t* alphaOut, double u,
                       double v)
{
    // Source pixel centres sit at i + 0.5: the four neighbours are those
    // around (u - 0.5, v - 0.5), taken from the edge outside the source.
    double us = u - 0.5, vs = v - 0.5;
    double fu = std::floor(us), fv = std::floor(vs);
    int32_t ui = ClampIndex(fu, p->srcW), vi = ClampIndex(fv, p->srcH);
    int32_t ui1 = ClampIndex(fu + 1, p->srcW), vi1 = ClampIndex(fv + 1, p->srcH);
    const int32_t xs[4] = {ui, ui1, ui, ui1};
    const int32_t ys[4] = {vi, vi, vi1, vi1};
    int source[4] = {0, 1, 2, 3};  // whose colour each neighbour takes
    if (!p->srcAlpha && p->srcMask) {
        int first = -1;
        bool set[4];
        for (int k = 0; k < 4; ++k) {
            set[k] = MaskBitAt(p->srcMask + static_cast<ptrdiff_t>(p->srcMaskBytesPerRow) * ys[k], p->srcX + xs[k]);
            if (set[k] && first < 0) first = k;
        }
        if (first < 0) return false;
        for (int k = 0; k < 4; ++k)
            if (!set[k]) source[k] = first;
    }
    double c[4][3];
    for (int k = 0; k < 4; ++k) {
        uint32_t r, g, b;
        UnpackPixelRgb(LoadPixelValue(SourcePixel(p, xs[source[k]], ys[source[k]]), p->bytesPerPixel),
                       p->format, &r, &g, &b);
        c[k][0] = r, c[k][1] = g, c[k][2] = b;
    }
    double fx = us - fu, fy = vs - fv;
    int32_t out[3];
    for (int ch = 0; ch < 3; ++ch) out[ch] = Bilinear(c[0][ch], c[1][ch], c[2][ch], c[3][ch], fx, fy);
    StorePixelValue(dst, p->bytesPerPixel,
                    PackPixelRgb(static_cast<uint32_t>(out[0]), static_cast<uint32_t>(out[1]),
                                 static_cast<uint32_t>(out[2]), p->format));
    if (p->srcAlpha && alphaOut) {
        double a[4];
        for (int k = 0; k < 4; ++k) a[k] = p->srcAlpha[static_cast<ptrdiff_t>(p->srcAlphaBytesPerRow) * ys[k] + xs[k]];
        *alphaOut = static_cast<uint8_t>(Bilinear(a[0], a[1], a[2], a[3], fx, fy));
    }
    return true;
}

namespace {

void TransformPixelsWith(const TransformParams* p, bool vectorised)
{
    InverseMatrix inv;
    if (p->srcW < 1 || p->srcH < 1 || p->dstW < 1 || p->dstH < 1 || !InvertTransformMatrix(p->matrix, &inv))
        return;
    uint32_t bpp = p->bytesPerPixel;
    if (bpp < 2 || bpp > 4) return;
    const double* m = p->matrix;
    double minX = 0, maxX = 0, minY = 0, maxY = 0;
    const double cx[4] = {0, static_cast<double>(p->srcW), static_cast<double>(p->srcW), 0};
    const double cy[4] = {0, 0, static_cast<double>(p->srcH), static_cast<double>(p->srcH)};
    for (int k = 0; k < 4; ++k) {
        double x = m[0] * cx[k] + m[2] * cy[k] + m[4];
        double y = m[1] * cx[k] + m[3] * cy[k] + m[5];
        minX = k ? std::min(minX, x) : x;
        maxX = k ? std::max(maxX, x) : x;
        minY = k ? std::min(minY, y) : y;
        maxY = k ? std::max(maxY, y) : y;
    }
    minY = std::max(minY, 0.0);
    if (maxY >= p->dstH) maxY = p->dstH - 1;
    int32_t y0 = std::max(CeilToInt(minY - 0.5), 0);
    int32_t y1 = std::min(FloorToInt(maxY + 0.5), p->dstH - 1);
    bool maskOut = p->dstMask != nullptr;
    bool alphaOut = p->srcAlpha && p->dstAlpha;
    for (int32_t y = y0; y <= y1; ++y) {
        double xmin = minX, xmax = maxX;
        TransformRowSpan(inv, p->srcW, p->srcH, y, &xmin, &xmax);
        if (xmax < xmin) continue;
        xmin = std::max(xmin, 0.0);
        xmax = std::min(xmax, static_cast<double>(p->dstW - 1));
        int32_t xs = std::max(CeilToInt(xmin - 0.5), 0);
        int32_t xe = std::min(FloorToInt(xmax + 0.5), p->dstW - 1);
        if (xe < xs) continue;
        uint8_t* dstRow = p->dstPixels + static_cast<size_t>(p->dstRowLength) * y * bpp;
        uint8_t* maskRow = maskOut ? p->dstMask + static_cast<ptrdiff_t>(p->dstMaskBytesPerRow) * y : nullptr;
        uint8_t* alphaRow = alphaOut ? p->dstAlpha + static_cast<ptrdiff_t>(p->dstAlphaBytesPerRow) * y : nullptr;
        if (maskRow && !p->srcMask) SetMaskRun(maskRow, xs, xe);
        if (p->smooth && bpp == 4 && !p->srcMask && vectorised) {
            if (g_transformPath == TRANSFORMPATH_AVX2) xs = SampleSpan32Avx2(p, inv, y, xs, xe, dstRow, alphaRow);
            if (xs <= xe) SampleSpan32(p, inv, y, xs, xe, dstRow, alphaRow);
            continue;
        }
        // Every pixel samples where its centre maps: so quarter turns and
        // mirrors move whole pixels, and the spans above hold exactly the
        // pixels whose centres land inside the source.
        double cu = inv.c * (y + 0.5), cv = inv.d * (y + 0.5);
        for (int32_t x = xs; x <= xe; ++x) {
            double u = inv.a * (x + 0.5) + cu + inv.e;
            double v = inv.b * (x + 0.5) + cv + inv.f;
            int32_t ui = ClampIndex(u, p->srcW), vi = ClampIndex(v, p->srcH);
            bool visible = true;
            if (p->smooth) {
                visible = SampleTransformed(p, dstRow + static_cast<size_t>(x) * bpp,
                                            alphaRow ? alphaRow + x : nullptr, u, v);
            } else {
                std::memcpy(dstRow + static_cast<size_t>(x) * bpp, SourcePixel(p, ui, vi), bpp);
                if (alphaRow) alphaRow[x] = p->srcAlpha[static_cast<ptrdiff_t>(p->srcAlphaBytesPerRow) * vi + ui];
            }
            if (maskRow && p->srcMask)
                PutMaskBit(maskRow, x,
                           visible && MaskBitAt(p->srcMask + static_cast<ptrdiff_t>(p->srcMaskBytesPerRow) * vi,
                                                p->srcX + ui));
        }
    }
}

}  // namespace

void TransformPixels(const TransformParams* params) { TransformPixelsWith(params, true); }
void TransformPixelsReference(const TransformParams* params) { TransformPixelsWith(params, false); }

uint32_t TransformBitMap(BitMapHandle* src, BitMapHandle* srcMask, BitMapHandle* srcAlpha,
                         int32_t x, int32_t y, int32_t w, int32_t h, const double* matrix,
                         int smooth, void* hwWord, BitMapHandle** outBitMap,
                         BitMapHandle** outMask, BitMapHandle** outAlpha, int32_t* outWidth,
                         int32_t* outHeight)
{
    if (outBitMap) *outBitMap = nullptr;
    if (outMask) *outMask = nullptr;
    if (outAlpha) *outAlpha = nullptr;
    if (outWidth) *outWidth = 0;
    if (outHeight) *outHeight = 0;
    if (!src || !matrix) return ERR_WRONGUSAGE;
    if (!RectInsideSources(src, srcMask, srcAlpha, x, y, w, h)) return ERR_COORDSRANGE;
    double full[6] = {matrix[0], matrix[1], matrix[2], matrix[3], 0, 0};
    InverseMatrix inverse;
    if (!InvertTransformMatrix(full, &inverse)) return ERR_BADDIMENSIONS;
    int32_t width = 0, height = 0;
    double minX = 0, minY = 0;
    TransformedBounds(matrix, w, h, &width, &height, &minX, &minY);
    width = std::max(width, 1);
    height = std::max(height, 1);
    full[4] = -minX;
    full[5] = -minY;

    if (src->hardware && QueryAdapterCaps(0x10)) {
        VideoBitMapParams params{};
        params.source = src;
        params.targetWidth = width;
        params.targetHeight = height;
        std::memcpy(params.matrix, matrix, sizeof params.matrix);
        params.transformFlag = 1;
        params.scaleMode = smooth ? 1 : 0;
        params.display = hwWord;
        BitMapHandle* video = nullptr;
        if (uint32_t error = TryVideoBitMap(width, height, 0, &params, &video)) return error;
        if (video) {
            if (outBitMap) *outBitMap = video;
            else FreeColorBitMap(video);
            if (outWidth) *outWidth = width;
            if (outHeight) *outHeight = height;
            return 0;
        }
    }

    MadeBitMaps temp{}, made{};
    if (uint32_t error = SoftwareSource(&src, &srcAlpha, &temp)) return error;
    // Without alpha the mask is what makes the corners outside the picture
    // transparent; a source mask is carried over even beside alpha.
    uint32_t error = MakeBitMaps(&made, width, height, true, srcMask || !srcAlpha, srcAlpha, 1);

    TransformParams p{};
    p.srcX = x;
    p.srcY = y;
    p.srcW = w;
    p.srcH = h;
    p.dstW = width;
    p.dstH = height;
    p.matrix = full;
    p.smooth = smooth ? 1 : 0;
    if (!error) error = AimAtPlanes(&p, srcMask, srcAlpha, made);
    BitMapLock s{}, d{};
    if (!error) error = LockSourceAndTarget(src, x, y, w, h, made.bitmap, width, height, &s, &d);
    if (!error) {
        AimAtLockedPixels(&p, s, d, x, y);
        TransformPixels(&p);
    }
    UnlockBitMapPixels(&d);
    UnlockBitMapPixels(&s);
    if (FinishMadeBitMaps(error, &temp, &made, outBitMap, outMask, outAlpha)) return error;
    if (outWidth) *outWidth = width;
    if (outHeight) *outHeight = height;
    return 0;
}
