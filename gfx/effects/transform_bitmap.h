// Matrix transforms of pictures (rotation, shear, scale, mirror) into a new
// bounding box, by inverse mapping: each destination pixel inside the
// transformed area samples the source, nearest or bilinear.
#pragma once

#include <cstdint>

#include "gfx/bitmaps/bitmap.h"
#include "gfx/bitmaps/copy_bitmap.h"

// The block TransformPixels takes. matrix holds six doubles: (x, y) goes
// to (m0 x + m2 y + m4, m1 x + m3 y + m5).
struct TransformParams : PictureBlock {
    const double* matrix;
};

// The inverse of the matrix as the sampler uses it: source (u, v) of
// destination (x, y) is (a x + c y + e, b x + d y + f).
struct InverseMatrix {
    double a, b, c, d, e, f;
};

// False for a matrix that cannot be inverted (determinant 0, or entries
// that are not finite).
bool InvertTransformMatrix(const double* matrix, InverseMatrix* inverse);

// The size of the transformed w x h rectangle under the 2 x 2 matrix, and
// (when asked) the minimum corner that the translation takes away.
void TransformedBounds(const double* matrix, int32_t w, int32_t h, int32_t* outWidth,
                       int32_t* outHeight, double* outMinX, double* outMinY);

// Narrows [*xmin, *xmax] to the pixels of row y whose centres map inside
// the w x h source; *xmax < *xmin when none do.
void TransformRowSpan(const InverseMatrix& m, int32_t w, int32_t h, int32_t y, double* xmin,
                      double* xmax);

// Bilinear sample at (u, v) of the source (pixel i covering i..i+1, so its
// centre is i + 0.5) into the pixel at dst, and its
// alpha into *alphaOut when the source has an alpha plane. Returns false,
// writing nothing, when all four neighbours are outside the source mask.
bool SampleTransformed(const TransformParams* p, uint8_t* dst, uint8_t* alphaOut, double u,
                       double v);

void TransformPixels(const TransformParams* params);
// The plain C++ member, against which the vectorised smooth loop is checked.
void TransformPixelsReference(const TransformParams* params);
// The vectorised smooth loop's members: SSE2 (every x86-64 processor) and
// AVX2. TransformPixels takes the best the processor has unless a test
// forces SSE2 (asking for AVX2 on a processor without it gives SSE2);
// returns the path in use before.
enum : uint32_t { TRANSFORMPATH_SSE2 = 1, TRANSFORMPATH_AVX2 = 2 };
uint32_t SelectTransformPath(uint32_t path);

// Transforms the w x h rectangle at (x, y) by the 2 x 2 matrix (four
// doubles) into new handles: the bitmap, a mask when the source has one or
// has no alpha (set exactly where the picture lands), an alpha plane when
// the source has alpha; and their size.
uint32_t TransformBitMap(BitMapHandle* src, BitMapHandle* srcMask, BitMapHandle* srcAlpha,
                         int32_t x, int32_t y, int32_t w, int32_t h, const double* matrix,
                         int smooth, void* hwWord, BitMapHandle** outBitMap,
                         BitMapHandle** outMask, BitMapHandle** outAlpha, int32_t* outWidth,
                         int32_t* outHeight);
