// Geometry and colour helpers of the graphics library.
#include "gfx/library/graphics_geometry.h"

#include <cmath>
#include <initializer_list>

#include "core/io/error_codes.h"
#include "core/io/number_conv.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/effects/pixel_kernels.h"
#include "gfx/library/graphics_tables.h"
#include "platform/posix/os_memory.h"

uint32_t MixArgb(uint32_t c1, uint32_t c2, uint32_t ratio)
{
    uint32_t out = 0;
    for (int shift : {0, 8, 16}) {
        int32_t a = (c1 >> shift) & 255, b = (c2 >> shift) & 255;
        // Floor division: the shift of a negative product rounds down.
        int32_t v = a + (((b - a) * static_cast<int32_t>(ratio)) >> 8);
        out |= static_cast<uint32_t>(v & 255) << shift;
    }
    return out;
}

uint32_t ResolveKeepAspect(int32_t srcW, int32_t srcH, int32_t* w, int32_t* h)
{
    if (*w < 1 || *h < 1) return ERR_BADDIMENSIONS;
    bool keepW = *w == kKeepAspectRatio, keepH = *h == kKeepAspectRatio;
    if (keepW && keepH) return ERR_WRONGUSAGE;
    if (!keepW && !keepH) return 0;
    // Without a source size there is no ratio to keep.
    if (srcW < 1 || srcH < 1) return ERR_BADDIMENSIONS;
    double ratio = static_cast<double>(srcW) / srcH;
    double v = keepW ? ratio * *h : *w / ratio;
    double whole = std::trunc(v);
    double rounded = whole + (v - whole >= 0.5 ? 1 : 0);
    int32_t size = DoubleToInt32(rounded);
    if (size < 1) size = 1;
    (keepW ? *w : *h) = size;
    return 0;
}

namespace {

bool Inside(int32_t x, int32_t y, int32_t limit, int32_t edge)
{
    switch (edge) {
    case CLIPEDGE_LEFT: return x >= limit;
    case CLIPEDGE_TOP: return y >= limit;
    case CLIPEDGE_RIGHT: return x <= limit;
    default: return y <= limit;
    }
}

}  // namespace

int32_t ClipPolygon(int32_t n, const int32_t* in, int32_t* out, int32_t limit, int32_t edge)
{
    int32_t m = 0;
    bool xEdge = edge == CLIPEDGE_LEFT || edge == CLIPEDGE_RIGHT;
    for (int32_t i = 0; i < n; ++i) {
        // The list is closed: the last point runs back to the first.
        int32_t j = i + 1 < n ? i + 1 : 0;
        int32_t x0 = in[2 * i], y0 = in[2 * i + 1], x1 = in[2 * j], y1 = in[2 * j + 1];
        bool in0 = Inside(x0, y0, limit, edge), in1 = Inside(x1, y1, limit, edge);
        if (in0) {
            out[2 * m] = x0;
            out[2 * m + 1] = y0;
            ++m;
        }
        if (in0 == in1) continue;
        // One end inside means the segment crosses the limit, so dx (for an
        // x edge) or dy (for a y edge) is not 0; a vertical segment crossing
        // a y edge has an infinite slope, and dividing by it gives dx = 0.
        double slope = (double(y1) - y0) / (double(x1) - x0);
        if (xEdge) {
            out[2 * m] = limit;
            out[2 * m + 1] = DoubleToInt32(y0 + std::trunc(slope * (double(limit) - x0)));
        } else {
            out[2 * m] = DoubleToInt32(x0 + std::trunc((double(limit) - y0) / slope));
            out[2 * m + 1] = limit;
        }
        ++m;
    }
    return m;
}

int32_t ComputeEllipsePoints(int32_t* out, int32_t rx, int32_t ry, int32_t startAngle, int32_t endAngle)
{
    int64_t w = 2 * int64_t{rx} + 1, h = 2 * int64_t{ry} + 1;
    int32_t n = 0;
    auto put = [&](int64_t x, int64_t y) {
        out[2 * n] = static_cast<int32_t>(x);
        out[2 * n + 1] = static_cast<int32_t>(y);
        ++n;
    };
    auto point = [&](int32_t angle) {
        // A negative angle is brought into 0..359 like any other.
        int32_t a = angle % 360;
        if (a < 0) a += 360;
        put(rx + kCos1024[a] * w / 2048, ry + kSin1024[a] * h / 2048);
    };
    point(startAngle);
    for (int64_t a = int64_t{startAngle} + 1; a <= endAngle; ++a) point(static_cast<int32_t>(a));
    if (!(startAngle == 0 && endAngle == 360)) {
        put(rx, ry);
        point(startAngle);
    }
    return n;
}

void SetIdentityMatrix(double* matrix)
{
    matrix[0] = 1;
    matrix[1] = 0;
    matrix[2] = 0;
    matrix[3] = 1;
}

uint32_t FillMaskPolygon(BitMapHandle* mask, const int32_t* points, int32_t count)
{
    if (!mask || count < 1) return 0;
    int32_t small[16];
    int32_t* work = count <= 16 ? small : static_cast<int32_t*>(OsAllocMem(sizeof(int32_t) * size_t(count), 0));
    if (!work) return ERR_MEM;
    FillPolygonPlane(reinterpret_cast<uint8_t*>(QueryBitMapAttr(mask, BMATTR_MASK_PIXELS)),
                     static_cast<int32_t>(QueryBitMapAttr(mask, BMATTR_MASK_BYTESPERROW)), mask->width,
                     mask->height, work, points, count);
    if (work != small) OsFreeMem(work);
    return 0;
}
