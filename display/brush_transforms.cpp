// The transform commands of the "brush" library. Each reads and checks its
// arguments, finds the brush as one that may be modified, and has the
// front end make new planes from the brush's (ScaleBitMap, TransformBitMap,
// DistortBitMap). Only when the front end has succeeded do the new planes
// and size replace the brush's, and the old planes are freed; on any
// failure the front end has freed what it made and the brush is as it was.
#include "display/brush_transforms.h"

#include <cfloat>

#include "core/io/error_codes.h"
#include "display/brush_args.h"
#include "display/pictures.h"
#include "draw/transform.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/effects/distort.h"
#include "gfx/effects/effects.h"
#include "gfx/effects/scale.h"
#include "gfx/effects/transform_bitmap.h"
#include "gfx/effects/work_buffer.h"
#include "gfx/library/graphics_geometry.h"

const ConstantTableEntry kBrushConstants[] = {
    {"DISTORT_AFFINE", nullptr, DISTORT_AFFINE},
    {"DISTORT_PERSPECTIVE", nullptr, DISTORT_PERSPECTIVE},
    {"DISTORT_BILINEAR", nullptr, DISTORT_BILINEAR},
    {"DISTORT_AFFINE_POINTS", nullptr, DISTORT_AFFINE_POINTS},
    {"DISTORT_PERSPECTIVE_POINTS", nullptr, DISTORT_PERSPECTIVE_POINTS},
    {nullptr, nullptr, 0},
};

namespace {

// The planes a front end made (n) go to the brush only on success.
uint32_t TakeNewPlanes(const BrushPlanes& p, uint32_t error, const BrushPlanes& n)
{
    if (!error) ReplaceBrushPlanes(p.brush, n.bitmap, n.mask, n.alpha, n.w, n.h);
    return error;
}

// A scale factor beyond the largest bitmap side makes even one pixel too big.
constexpr double kMaxScale = kMaxBitMapSide;

}  // namespace

uint32_t CmdScaleBrush(VmState* vm)
{
    EffectArgs a(vm, 3, 4);
    BrushPlanes n;
    n.w = a.Int(2, 1, 1, kKeepAspectRatio);
    n.h = a.Int(3, 1, 1, kKeepAspectRatio);
    // KEEPASPRAT lies above the largest side: sizes between are refused.
    a.Require(n.w <= kMaxBitMapSide || n.w == kKeepAspectRatio);
    a.Require(n.h <= kMaxBitMapSide || n.h == kKeepAspectRatio);
    int smooth = a.Flag(4, 0);
    BrushPlanes p;
    if (uint32_t error = a.OpenBrush(&p)) return error;
    if (uint32_t error = ResolveKeepAspect(p.w, p.h, &n.w, &n.h)) return error;
    if (n.w > kMaxBitMapSide || n.h > kMaxBitMapSide) return ERR_OUTOFRANGE;
    uint32_t error = ScaleBitMap(p.bitmap, p.mask, p.alpha, 0, 0, nullptr, p.w, p.h, n.w, n.h, smooth, nullptr,
                                 &n.bitmap, &n.mask, &n.alpha);
    return TakeNewPlanes(p, error, n);
}

// Rotation counter-clockwise as seen on screen, then the scale; a zero
// scale makes the matrix singular, which the transformer refuses.
uint32_t CmdRotateBrush(VmState* vm)
{
    EffectArgs a(vm, 2, 5);
    double degrees = a.Number(2, 0, -DBL_MAX, DBL_MAX);
    double sx = a.Number(3, 1.0, -kMaxScale, kMaxScale), sy = a.Number(4, 1.0, -kMaxScale, kMaxScale);
    int smooth = a.Flag(5, 0);
    BrushPlanes p;
    if (uint32_t error = a.OpenBrush(&p)) return error;
    Matrix2 m = MakeRotateScaleMatrix(degrees, sx, sy);
    const double matrix[4] = {m.m0, m.m1, m.m2, m.m3};
    BrushPlanes n;
    uint32_t error = TransformBitMap(p.bitmap, p.mask, p.alpha, 0, 0, p.w, p.h, matrix, smooth, nullptr, &n.bitmap,
                                     &n.mask, &n.alpha, &n.w, &n.h);
    return TakeNewPlanes(p, error, n);
}

// The coefficient list's length is the engine's to judge (ERR_ARGS); the
// alpha flag gives a brush without mask or alpha an alpha plane instead
// of a mask for the corners the picture does not cover.
uint32_t CmdDistortBrush(VmState* vm)
{
    EffectArgs a(vm, 3, 4);
    auto method = static_cast<uint32_t>(a.Int(2, 0, DISTORT_AFFINE, DISTORT_PERSPECTIVE_POINTS));
    int alphaFlag = a.Flag(4, 0);
    WorkBuffer<double> coefficients;
    int32_t count = 0;
    if (uint32_t error = ReadNumberList(vm, 3, &coefficients, &count)) return error;
    BrushPlanes p;
    if (uint32_t error = a.OpenBrush(&p)) return error;
    BrushPlanes n;
    uint32_t error = DistortBitMap(p.bitmap, p.mask, p.alpha, method, static_cast<uint32_t>(count), p.w, p.h,
                                   coefficients.get(), static_cast<uint32_t>(alphaFlag), &n.bitmap, &n.mask,
                                   &n.alpha, &n.w, &n.h);
    return TakeNewPlanes(p, error, n);
}
