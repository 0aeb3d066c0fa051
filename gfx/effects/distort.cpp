// The distortion engine. Affine maps are carried as projective ones (third
// row 0, 0, 1) so that both share one inverse: the adjugate of the 3 x 3
// matrix. The bilinear map has no closed inverse as a matrix; a destination
// point P is taken back by solving P = A + u B + v C + u v D for the unit
// square (u, v), a quadratic in u, with A..D from the images of the corners.
// Control points are fitted by least squares through the normal equations,
// the projective fit on coordinates normalised to mean 0 and mean distance
// sqrt(2) so that pictures of thousands of pixels stay well conditioned.
#include "gfx/effects/distort.h"

#include <cmath>
#include <cstring>

#include "core/io/error_codes.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/bitmaps/picture_bits.h"

namespace {

uint32_t Fail(DistortParams* b, const char* text)
{
    b->error = ERR_ARGS;
    b->errorText = text;
    return b->error;
}

// Gaussian elimination with partial pivoting on an n x n system (row-major
// a, right side r; the solution replaces r). False when a pivot vanishes.
bool SolveLinear(double* a, double* r, int n)
{
    double scale = 0;
    for (int i = 0; i < n * n; ++i) scale = std::fmax(scale, std::fabs(a[i]));
    if (!(scale > 0)) return false;
    for (int col = 0; col < n; ++col) {
        int pivot = col;
        for (int row = col + 1; row < n; ++row)
            if (std::fabs(a[row * n + col]) > std::fabs(a[pivot * n + col])) pivot = row;
        if (!(std::fabs(a[pivot * n + col]) > scale * 1e-12)) return false;
        if (pivot != col) {
            for (int k = 0; k < n; ++k) std::swap(a[col * n + k], a[pivot * n + k]);
            std::swap(r[col], r[pivot]);
        }
        for (int row = col + 1; row < n; ++row) {
            double f = a[row * n + col] / a[col * n + col];
            for (int k = col; k < n; ++k) a[row * n + k] -= f * a[col * n + k];
            r[row] -= f * r[col];
        }
    }
    for (int row = n - 1; row >= 0; --row) {
        double v = r[row];
        for (int k = row + 1; k < n; ++k) v -= a[row * n + k] * r[k];
        r[row] = v / a[row * n + row];
    }
    for (int i = 0; i < n; ++i)
        if (!std::isfinite(r[i])) return false;
    return true;
}

// x' = c0 x + c1 y + c2 and y' = c3 x + c4 y + c5 fitted to the pairs.
bool FitAffine(const double* pairs, uint32_t n, double c[6])
{
    for (int axis = 0; axis < 2; ++axis) {
        double m[9] = {}, r[3] = {};
        for (uint32_t i = 0; i < n; ++i) {
            const double* p = pairs + 4 * i;
            double row[3] = {p[0], p[1], 1.0};
            for (int j = 0; j < 3; ++j) {
                for (int k = 0; k < 3; ++k) m[3 * j + k] += row[j] * row[k];
                r[j] += row[j] * p[2 + axis];
            }
        }
        if (!SolveLinear(m, r, 3)) return false;
        std::memcpy(c + 3 * axis, r, sizeof r);
    }
    return true;
}

// Translation and scale that bring points to mean 0 and mean distance
// sqrt(2): x_n = s (x - mx).
void Normaliser(const double* pairs, uint32_t n, int at, double* s, double* mx, double* my)
{
    double sx = 0, sy = 0;
    for (uint32_t i = 0; i < n; ++i) {
        sx += pairs[4 * i + at];
        sy += pairs[4 * i + at + 1];
    }
    *mx = sx / n;
    *my = sy / n;
    double d = 0;
    for (uint32_t i = 0; i < n; ++i) d += std::hypot(pairs[4 * i + at] - *mx, pairs[4 * i + at + 1] - *my);
    d /= n;
    *s = d > 0 ? std::sqrt(2.0) / d : 1.0;
}

void Multiply3(const double a[9], const double b[9], double out[9])
{
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) out[3 * i + j] = a[3 * i] * b[j] + a[3 * i + 1] * b[3 + j] + a[3 * i + 2] * b[6 + j];
}

// The projective map with its last entry 1 fitted to the pairs: each pair
// gives u = c0 x + c1 y + c2 - c6 x u - c7 y u and likewise for v.
bool FitPerspective(const double* pairs, uint32_t n, double c[8])
{
    double ss, smx, smy, ds, dmx, dmy;
    Normaliser(pairs, n, 0, &ss, &smx, &smy);
    Normaliser(pairs, n, 2, &ds, &dmx, &dmy);
    double m[64] = {}, r[8] = {};
    for (uint32_t i = 0; i < n; ++i) {
        const double* p = pairs + 4 * i;
        double x = ss * (p[0] - smx), y = ss * (p[1] - smy);
        double u = ds * (p[2] - dmx), v = ds * (p[3] - dmy);
        double rows[2][8] = {{x, y, 1, 0, 0, 0, -x * u, -y * u}, {0, 0, 0, x, y, 1, -x * v, -y * v}};
        double rhs[2] = {u, v};
        for (int e = 0; e < 2; ++e)
            for (int j = 0; j < 8; ++j) {
                for (int k = 0; k < 8; ++k) m[8 * j + k] += rows[e][j] * rows[e][k];
                r[j] += rows[e][j] * rhs[e];
            }
    }
    if (!SolveLinear(m, r, 8)) return false;
    // Undo the normalisation: H = Td^-1 * Hn * Ts.
    double hn[9] = {r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7], 1};
    double ts[9] = {ss, 0, -ss * smx, 0, ss, -ss * smy, 0, 0, 1};
    double tdInv[9] = {1 / ds, 0, dmx, 0, 1 / ds, dmy, 0, 0, 1};
    double t[9], h[9];
    Multiply3(hn, ts, t);
    Multiply3(tdInv, t, h);
    if (!(std::fabs(h[8]) > 1e-12)) return false;
    for (int i = 0; i < 8; ++i) c[i] = h[i] / h[8];
    return true;
}

// The image of (x, y) under the block's forward map; false where the
// projective map has no finite image.
bool Forward(const DistortParams* b, double x, double y, double* u, double* v)
{
    const double* c = b->forward;
    if (b->kind == DISTORT_BILINEAR) {
        *u = c[0] + c[1] * x + c[2] * y + c[3] * x * y;
        *v = c[4] + c[5] * x + c[6] * y + c[7] * x * y;
        return true;
    }
    double w = c[6] * x + c[7] * y + 1;
    if (!(w > 1e-9)) return false;
    *u = (c[0] * x + c[1] * y + c[2]) / w;
    *v = (c[3] * x + c[4] * y + c[5]) / w;
    return true;
}

bool InvertProjective(DistortParams* b)
{
    const double* c = b->forward;
    double m[9] = {c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7], 1};
    double* inv = b->inverse;
    inv[0] = m[4] * m[8] - m[5] * m[7];
    inv[1] = m[2] * m[7] - m[1] * m[8];
    inv[2] = m[1] * m[5] - m[2] * m[4];
    inv[3] = m[5] * m[6] - m[3] * m[8];
    inv[4] = m[0] * m[8] - m[2] * m[6];
    inv[5] = m[2] * m[3] - m[0] * m[5];
    inv[6] = m[3] * m[7] - m[4] * m[6];
    inv[7] = m[1] * m[6] - m[0] * m[7];
    inv[8] = m[0] * m[4] - m[1] * m[3];
    double det = m[0] * inv[0] + m[1] * inv[3] + m[2] * inv[6];
    // Singular relative to Hadamard's bound (the product of the row
    // lengths), which scaling one axis does not fool.
    double bound = 1;
    for (int i = 0; i < 3; ++i) bound *= std::sqrt(m[3 * i] * m[3 * i] + m[3 * i + 1] * m[3 * i + 1] + m[3 * i + 2] * m[3 * i + 2]);
    if (!std::isfinite(det) || !(std::fabs(det) > 1e-12 * bound)) return false;
    for (int i = 0; i < 9; ++i) inv[i] /= det;
    return true;
}

inline double Cross(double ax, double ay, double bx, double by) { return ax * by - ay * bx; }

// The source point of destination point (px, py); false outside the
// picture's image.
bool Inverse(const DistortParams* b, double px, double py, double* x, double* y)
{
    if (b->kind != DISTORT_BILINEAR) {
        const double* m = b->inverse;
        double w = m[6] * px + m[7] * py + m[8];
        if (!(std::fabs(w) > 1e-12)) return false;
        *x = (m[0] * px + m[1] * py + m[2]) / w;
        *y = (m[3] * px + m[4] * py + m[5]) / w;
        return true;
    }
    const double(*k)[2] = b->corner;
    double ax = k[0][0], ay = k[0][1];
    double bx = k[1][0] - ax, by = k[1][1] - ay;
    double cx = k[2][0] - ax, cy = k[2][1] - ay;
    double dx = ax - k[1][0] - k[2][0] + k[3][0], dy = ay - k[1][1] - k[2][1] + k[3][1];
    double hx = px - ax, hy = py - ay;
    // (H - u B) is parallel to (C + u D): k2 u^2 + k1 u + k0 = 0.
    double k2 = Cross(bx, by, dx, dy);
    double k1 = Cross(bx, by, cx, cy) - Cross(hx, hy, dx, dy);
    double k0 = -Cross(hx, hy, cx, cy);
    double roots[2];
    int count = 0;
    if (std::fabs(k2) < 1e-12 * (std::fabs(k1) + 1)) {
        if (std::fabs(k1) < 1e-300) return false;
        roots[count++] = -k0 / k1;
    } else {
        double disc = k1 * k1 - 4 * k2 * k0;
        if (disc < 0) return false;
        double s = std::sqrt(disc);
        // The stable pair of formulas: no difference of near-equal terms.
        double q = -0.5 * (k1 + (k1 < 0 ? -s : s));
        roots[count++] = q / k2;
        if (q != 0) roots[count++] = k0 / q;
    }
    for (int i = 0; i < count; ++i) {
        double u = roots[i];
        if (!(u >= 0 && u <= 1)) continue;
        double ex = cx + u * dx, ey = cy + u * dy;
        double len = ex * ex + ey * ey;
        if (!(len > 0)) continue;
        double v = ((hx - u * bx) * ex + (hy - u * by) * ey) / len;
        if (!(v >= 0 && v <= 1)) continue;
        *x = u * b->srcW;
        *y = v * b->srcH;
        return true;
    }
    return false;
}

template <typename Copy>
void RenderRows(const DistortParams* b, Copy copyPixel)
{
    for (int32_t j = 0; j < b->outH; ++j) {
        double py = b->offsetY + j + 0.5;
        for (int32_t i = 0; i < b->outW; ++i) {
            double x, y;
            if (!Inverse(b, b->offsetX + i + 0.5, py, &x, &y)) continue;
            double fx = std::floor(x), fy = std::floor(y);
            if (!(fx >= 0 && fy >= 0 && fx < b->srcW && fy < b->srcH)) continue;
            copyPixel(static_cast<int32_t>(fx), static_cast<int32_t>(fy), i, j);
        }
    }
}

}  // namespace

uint32_t DistortBitMapBounds(DistortParams* b)
{
    b->error = 0;
    b->errorText = nullptr;
    b->outW = b->outH = 0;
    if (b->srcW <= 0 || b->srcH <= 0) return Fail(b, "the picture has no pixels");
    const double* c = b->coefficients;
    uint32_t n = b->coefficientCount;
    if (!c && n) return Fail(b, "coefficients are missing");
    for (uint32_t i = 0; i < n; ++i)
        if (!std::isfinite(c[i])) return Fail(b, "a coefficient is not a finite number");
    std::memset(b->forward, 0, sizeof b->forward);
    switch (b->method) {
    case DISTORT_AFFINE:
        if (n != 6) return Fail(b, "an affine distortion takes 6 coefficients");
        std::memcpy(b->forward, c, 6 * sizeof(double));
        b->kind = DISTORT_PERSPECTIVE;
        break;
    case DISTORT_PERSPECTIVE:
        if (n != 8) return Fail(b, "a perspective distortion takes 8 coefficients");
        std::memcpy(b->forward, c, 8 * sizeof(double));
        b->kind = DISTORT_PERSPECTIVE;
        break;
    case DISTORT_BILINEAR:
        if (n != 8) return Fail(b, "a bilinear distortion takes 8 coefficients");
        std::memcpy(b->forward, c, 8 * sizeof(double));
        b->kind = DISTORT_BILINEAR;
        break;
    case DISTORT_AFFINE_POINTS:
        if (n % 4 || n < 12) return Fail(b, "an affine fit takes at least 3 point pairs (4 numbers each)");
        if (!FitAffine(c, n / 4, b->forward)) return Fail(b, "the control points do not fix an affine map");
        b->kind = DISTORT_PERSPECTIVE;
        break;
    case DISTORT_PERSPECTIVE_POINTS:
        if (n % 4 || n < 16) return Fail(b, "a perspective fit takes at least 4 point pairs (4 numbers each)");
        if (!FitPerspective(c, n / 4, b->forward))
            return Fail(b, "the control points do not fix a perspective map");
        b->kind = DISTORT_PERSPECTIVE;
        break;
    default:
        return Fail(b, "unknown distortion method (0 affine, 1 perspective, 2 bilinear, "
                       "3 affine by points, 4 perspective by points)");
    }
    if (b->kind == DISTORT_PERSPECTIVE && !InvertProjective(b)) return Fail(b, "the map is singular");
    double corners[4][2] = {{0, 0}, {static_cast<double>(b->srcW), 0}, {0, static_cast<double>(b->srcH)},
                            {static_cast<double>(b->srcW), static_cast<double>(b->srcH)}};
    double minX = HUGE_VAL, minY = HUGE_VAL, maxX = -HUGE_VAL, maxY = -HUGE_VAL;
    for (int i = 0; i < 4; ++i) {
        double u, v;
        if (!Forward(b, corners[i][0], corners[i][1], &u, &v))
            return Fail(b, "the perspective map sends the picture through infinity");
        b->corner[i][0] = u;
        b->corner[i][1] = v;
        minX = std::fmin(minX, u);
        minY = std::fmin(minY, v);
        maxX = std::fmax(maxX, u);
        maxY = std::fmax(maxY, v);
    }
    // Near-integral corners (rounding noise of exact maps) are taken as
    // integral so that the identity keeps the size.
    auto snapDown = [](double x) { double r = std::round(x); return std::fabs(x - r) < 1e-7 ? r : std::floor(x); };
    auto snapUp = [](double x) { double r = std::round(x); return std::fabs(x - r) < 1e-7 ? r : std::ceil(x); };
    double x0 = snapDown(minX), y0 = snapDown(minY), x1 = snapUp(maxX), y1 = snapUp(maxY);
    double w = x1 - x0, h = y1 - y0;
    if (!(w >= 1 && h >= 1)) return Fail(b, "the distorted picture has no area");
    if (w > kMaxBitMapSide || h > kMaxBitMapSide || w * h > static_cast<double>(kMaxBitMapPixels))
        return Fail(b, "the distorted picture would be too large");
    b->offsetX = x0;
    b->offsetY = y0;
    b->outW = static_cast<int32_t>(w);
    b->outH = static_cast<int32_t>(h);
    return 0;
}

uint32_t RenderDistortedBitMap(DistortParams* b)
{
    b->error = 0;
    b->errorText = nullptr;
    if (b->outW <= 0 || b->outH <= 0) return Fail(b, "the output size has not been computed");
    if (!b->srcPixels || !b->dstPixels) return Fail(b, "pixels are missing");
    uint32_t bpp = b->bytesPerPixel;
    if (bpp < 2 || bpp > 4) return Fail(b, "unsupported pixel size");
    auto* src = static_cast<const uint8_t*>(b->srcPixels);
    auto* dst = static_cast<uint8_t*>(b->dstPixels);
    size_t srcStride = static_cast<size_t>(b->srcRowLength) * bpp, dstStride = static_cast<size_t>(b->dstRowLength) * bpp;
    // Pixels outside the picture's image are black and hidden by the planes.
    for (int32_t j = 0; j < b->outH; ++j) std::memset(dst + dstStride * j, 0, static_cast<size_t>(b->outW) * bpp);
    RenderRows(b, [&](int32_t sx, int32_t sy, int32_t dx, int32_t dy) {
        std::memcpy(dst + dstStride * dy + static_cast<size_t>(dx) * bpp, src + srcStride * sy + static_cast<size_t>(sx) * bpp, bpp);
        if (b->dstMask && (!b->srcMask || MaskBitAt(b->srcMask + static_cast<size_t>(b->srcMaskBytesPerRow) * sy, sx)))
            PutMaskBit(b->dstMask + static_cast<size_t>(b->dstMaskBytesPerRow) * dy, dx, true);
        if (b->dstAlpha)
            b->dstAlpha[static_cast<size_t>(b->dstAlphaBytesPerRow) * dy + dx] =
                b->srcAlpha ? b->srcAlpha[static_cast<size_t>(b->srcAlphaBytesPerRow) * sy + sx] : 255;
    });
    return 0;
}
