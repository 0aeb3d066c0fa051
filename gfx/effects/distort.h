// The distortion engine: a picture with its mask or alpha plane is mapped
// through a plane transform into a new picture whose size is the bounding
// box of the transformed source rectangle. Rendering runs by inverse
// mapping: each destination pixel centre is taken back into the source and
// takes the nearest source pixel, so nothing is left as a hole.
//
// Methods and their coefficients (x, y a source point; x', y' its image):
//   DISTORT_AFFINE       6: x' = c0 x + c1 y + c2, y' = c3 x + c4 y + c5
//   DISTORT_PERSPECTIVE  8: x' = (c0 x + c1 y + c2) / w, y' = (c3 x + c4 y + c5) / w,
//                           w = c6 x + c7 y + 1
//   DISTORT_BILINEAR     8: x' = c0 + c1 x + c2 y + c3 x y, y' = c4 + c5 x + c6 y + c7 x y
//   DISTORT_AFFINE_POINTS       groups of four (x, y, x', y'), at least 3 groups
//   DISTORT_PERSPECTIVE_POINTS  groups of four, at least 4 groups
// The point forms are solved by least squares (exactly for 3 and 4 pairs).
// Pixel centres sit at +0.5, so the identity copies the picture.
#pragma once

#include <cstdint>

enum DistortMethod : uint32_t {
    DISTORT_AFFINE = 0,
    DISTORT_PERSPECTIVE = 1,
    DISTORT_BILINEAR = 2,
    DISTORT_AFFINE_POINTS = 3,
    DISTORT_PERSPECTIVE_POINTS = 4,
};

struct DistortParams {
    // Given to DistortBitMapBounds.
    uint32_t method;
    const double* coefficients;
    uint32_t coefficientCount;
    int32_t srcW;
    int32_t srcH;
    // Filled by DistortBitMapBounds.
    uint32_t kind;         // DISTORT_AFFINE (as a projective map), _PERSPECTIVE or _BILINEAR
    double forward[8];     // the forward map in the kind's form
    double inverse[9];     // projective kinds: destination -> source, row-major 3 x 3
    double corner[4][2];   // bilinear: images of the corners (0,0), (w,0), (0,h), (w,h)
    double offsetX;        // the destination's pixel (0, 0) starts at this point
    double offsetY;
    int32_t outW;
    int32_t outH;
    // Set by either call on failure: an ERR_* code and what was wrong.
    uint32_t error;
    const char* errorText;
    // Given to RenderDistortedBitMap. Source and destination share the
    // pixel format; planes are optional and follow the source's.
    const void* srcPixels;
    int32_t srcRowLength;
    uint32_t bytesPerPixel;
    const uint8_t* srcMask;
    int32_t srcMaskBytesPerRow;
    const uint8_t* srcAlpha;
    int32_t srcAlphaBytesPerRow;
    void* dstPixels;
    int32_t dstRowLength;
    uint8_t* dstMask;  // cleared by the caller; bits are set where the picture lands
    int32_t dstMaskBytesPerRow;
    uint8_t* dstAlpha;  // cleared by the caller
    int32_t dstAlphaBytesPerRow;
};

// Solves the method's map and the output size. Returns block->error.
uint32_t DistortBitMapBounds(DistortParams* block);
// Renders into the prepared destination of outW x outH. Returns block->error.
uint32_t RenderDistortedBitMap(DistortParams* block);
