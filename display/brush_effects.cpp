// The image-effect commands of the "brush" library. Each reads its
// arguments (brush id first, then the front end's own parameters in the
// front end's order; trailing ones may be left out), finds the brush as one
// that may be modified (a hardware brush is refused there) and hands the
// brush's planes and size to the front end, whose result is the command's.
// Bounded parameters are refused before any pixel changes (brush_args.h).
#include "display/brush_effects.h"

#include "core/io/error_codes.h"
#include "core/io/number_conv.h"
#include "core/vm/library_glue.h"
#include "core/vm/vm.h"
#include "display/brush_args.h"
#include "display/pictures.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/effects/effects.h"
#include "gfx/effects/filter_kernels.h"
#include "gfx/effects/ripple_swirl.h"
#include "gfx/effects/work_buffer.h"

namespace {

// The blur, emboss, edge and sharpen commands: (id[, radius, strength]).
// Radius 0 and strength 0 let the kernel choose (sigma 1 for a blur, the
// plain 3 x 3 kernel for the others).
template <uint32_t kKind>
uint32_t CmdConvolveBrush(VmState* vm)
{
    EffectArgs a(vm, 1, 3);
    double radius = a.Number(2, 0, 0, 1e6), strength = a.Number(3, 0, 0, 1e6);
    BrushPlanes p;
    if (uint32_t error = a.OpenBrush(&p)) return error;
    return ConvolveBitMap(kKind, p.bitmap, p.alpha, p.w, p.h, radius, strength);
}

// The commands that change the colour plane alone by one optional value
// after the id, a flag or a level of 0..255: (id[, value]).
using PlaneEffect = uint32_t (*)(BitMapHandle* bitmap, int32_t w, int32_t h, int32_t value);
template <PlaneEffect kEffect, bool kFlag, int32_t kFallback>
uint32_t CmdPlaneEffect(VmState* vm)
{
    EffectArgs a(vm, 1, 2);
    int32_t value = kFlag ? a.Flag(2, kFallback) : a.Int(2, kFallback, 0, 255);
    BrushPlanes p;
    if (uint32_t error = a.OpenBrush(&p)) return error;
    return kEffect(p.bitmap, p.w, p.h, value);
}

uint32_t Gray(BitMapHandle* bitmap, int32_t w, int32_t h, int32_t threshold)
{
    return GrayBitMap(bitmap, w, h, threshold);
}

}  // namespace

uint32_t CmdTintBrush(VmState* vm)
{
    EffectArgs a(vm, 6, 7);
    int32_t x = a.Int(2, 0), y = a.Int(3, 0), w = a.Int(4, 0), h = a.Int(5, 0);
    uint32_t colour = a.Colour(6);
    int32_t level = a.Int(7, 128, 0, 255);
    BrushPlanes p;
    if (uint32_t error = a.OpenBrush(&p)) return error;
    return TintBitMap(p.bitmap, x, y, w, h, colour, level);
}

uint32_t CmdMixBrush(VmState* vm)
{
    EffectArgs a(vm, 2, 9);
    ObjectId srcId = GetObjectIdArg(vm, 2);
    int32_t dx = a.Int(3, 0), dy = a.Int(4, 0), sx = a.Int(5, 0), sy = a.Int(6, 0);
    // The size defaults to the source's, read once the source is known.
    bool haveW = VmGetTop(vm) >= 7, haveH = VmGetTop(vm) >= 8;
    int32_t w = a.Int(7, 0), h = a.Int(8, 0);
    int32_t level = a.Int(9, 128, 0, 255);
    BrushPlanes d;
    if (uint32_t error = a.OpenBrush(&d)) return error;
    Brush* src = nullptr;
    if (uint32_t error = FindBrush(vm, srcId, &src, 0)) return error;
    BrushPlanes s;
    GetBrushPlanes(src, &s.bitmap, &s.mask, &s.alpha, &s.w, &s.h);
    if (!s.bitmap) return ERR_HWBRUSH;
    if (!haveW) w = s.w;
    if (!haveH) h = s.h;
    return MixBitMaps(d.bitmap, s.bitmap, s.mask, dx, dy, sx, sy, w, h, level, s.alpha, s.w, s.h);
}

uint32_t CmdBrushToGray(VmState* vm) { return CmdPlaneEffect<Gray, true, 0>(vm); }
uint32_t CmdBrushToMonochrome(VmState* vm) { return CmdPlaneEffect<MonochromeBitMap, true, 0>(vm); }

uint32_t CmdFlipBrush(VmState* vm)
{
    EffectArgs a(vm, 1, 2);
    int horizontal = a.Flag(2, 1);
    BrushPlanes p;
    if (uint32_t error = a.OpenBrush(&p)) return error;
    return FlipBitMap(p.bitmap, p.mask, p.alpha, p.w, p.h, horizontal);
}

uint32_t CmdInvertBrush(VmState* vm)
{
    EffectArgs a(vm, 1, 1);
    BrushPlanes p;
    if (uint32_t error = a.OpenBrush(&p)) return error;
    return InvertBitMap(p.bitmap, p.w, p.h);
}

// The new mask takes the old one's place; an alpha plane stays.
uint32_t CmdSetBrushTransparency(VmState* vm)
{
    EffectArgs a(vm, 2, 2);
    uint32_t colour = a.Colour(2);
    BrushPlanes p;
    if (uint32_t error = a.OpenBrush(&p)) return error;
    // 24-bit pictures are left as they are, like every other effect does.
    if (PixelFormatBytes(static_cast<uint32_t>(QueryBitMapAttr(p.bitmap, BMATTR_PIXELFORMAT))) == 3) return 0;
    BitMapHandle* mask = SetBitMapTransparency(p.bitmap, p.w, p.h, colour);
    if (!mask) return ERR_ALLOCMASK;
    if (p.mask) FreePlaneBitMap(p.mask);
    p.brush->mask = mask;
    p.brush->transparentColour = colour & 0xFFFFFF;
    return 0;
}

// A ReplaceColors list: {from, to, from, to, ...}; an odd list is ERR_ARGS.
uint32_t CmdReplaceColors(VmState* vm)
{
    EffectArgs a(vm, 2, 2);
    WorkBuffer<double> numbers;
    int32_t count = 0;
    if (uint32_t error = ReadNumberList(vm, 2, &numbers, &count)) return error;
    if (count % 2) return ERR_ARGS;
    WorkBuffer<uint32_t> pairs(static_cast<size_t>(count));
    if (!pairs) return ERR_MEM;
    for (int32_t i = 0; i < count; ++i) pairs[i] = DoubleToLow32(numbers[i]);
    BrushPlanes p;
    if (uint32_t error = a.OpenBrush(&p)) return error;
    return ReplaceColors(p.bitmap, p.w, p.h, pairs.get(), count / 2);
}

uint32_t CmdBlurBrush(VmState* vm) { return CmdConvolveBrush<CONVOLVE_BLUR>(vm); }
uint32_t CmdEmbossBrush(VmState* vm) { return CmdConvolveBrush<CONVOLVE_EMBOSS>(vm); }
uint32_t CmdEdgeBrush(VmState* vm) { return CmdConvolveBrush<CONVOLVE_EDGE>(vm); }
uint32_t CmdSharpenBrush(VmState* vm) { return CmdConvolveBrush<CONVOLVE_SHARPEN>(vm); }

uint32_t CmdSolarizeBrush(VmState* vm) { return CmdPlaneEffect<SolarizeBitMap, false, 128>(vm); }

uint32_t CmdGammaBrush(VmState* vm)
{
    EffectArgs a(vm, 1, 4);
    double red = a.Number(2, 1.0, 0, 1e6), green = a.Number(3, 1.0, 0, 1e6), blue = a.Number(4, 1.0, 0, 1e6);
    BrushPlanes p;
    if (uint32_t error = a.OpenBrush(&p)) return error;
    return GammaBitMap(p.bitmap, p.w, p.h, red, green, blue);
}

uint32_t CmdContrastBrush(VmState* vm)
{
    EffectArgs a(vm, 1, 3);
    int increase = a.Flag(2, 1);
    int32_t steps = a.Int(3, 1, 0);
    BrushPlanes p;
    if (uint32_t error = a.OpenBrush(&p)) return error;
    return ContrastBitMap(p.bitmap, p.w, p.h, increase, steps);
}

// The kernel works in whole percent; 100 times is far past saturation.
uint32_t CmdModulateBrush(VmState* vm)
{
    EffectArgs a(vm, 1, 4);
    double brightness = a.Number(2, 1.0, 0, 100), saturation = a.Number(3, 1.0, 0, 100),
           hue = a.Number(4, 1.0, 0, 100);
    BrushPlanes p;
    if (uint32_t error = a.OpenBrush(&p)) return error;
    return ModulateBitMap(p.bitmap, p.w, p.h, brightness, saturation, hue);
}

// Level 204 is 80%, the usual sepia threshold.
uint32_t CmdSepiaToneBrush(VmState* vm) { return CmdPlaneEffect<SepiaBitMap, false, 204>(vm); }

uint32_t CmdCharcoalBrush(VmState* vm)
{
    EffectArgs a(vm, 1, 3);
    double radius = a.Number(2, 0, 0, 1e6), strength = a.Number(3, 0, 0, 1e6);
    BrushPlanes p;
    if (uint32_t error = a.OpenBrush(&p)) return error;
    return CharcoalBitMap(p.bitmap, p.alpha, p.w, p.h, radius, strength);
}

uint32_t CmdPixelateBrush(VmState* vm)
{
    EffectArgs a(vm, 2, 2);
    int32_t cell = a.Int(2, 1, 1);
    BrushPlanes p;
    if (uint32_t error = a.OpenBrush(&p)) return error;
    return PixelateBitMap(p.bitmap, p.mask, p.alpha, p.w, p.h, cell);
}

uint32_t CmdSwirlBrush(VmState* vm)
{
    EffectArgs a(vm, 2, 2);
    int32_t degrees = a.Int(2, 0);
    BrushPlanes p;
    if (uint32_t error = a.OpenBrush(&p)) return error;
    return SwirlBitMap(p.bitmap, p.mask, p.alpha, p.w, p.h, degrees);
}

uint32_t CmdWaterRippleBrush(VmState* vm)
{
    EffectArgs a(vm, 3, 6);
    int32_t wavelength = a.Int(2, 1, 1), amplitude = a.Int(3, 0), phase = a.Int(4, 0);
    double centreX = a.Number(5, 0.5, 0, 1), centreY = a.Number(6, 0.5, 0, 1);
    BrushPlanes p;
    if (uint32_t error = a.OpenBrush(&p)) return error;
    return WaterRippleBitMap(p.bitmap, p.mask, p.alpha, p.w, p.h, wavelength, amplitude, phase, centreX, centreY);
}

uint32_t CmdOilPaintBrush(VmState* vm)
{
    EffectArgs a(vm, 1, 2);
    double radius = a.Number(2, 3, 0, 1e6);
    BrushPlanes p;
    if (uint32_t error = a.OpenBrush(&p)) return error;
    return OilPaintBitMap(p.bitmap, p.w, p.h, radius);
}

uint32_t CmdQuantizeBrush(VmState* vm)
{
    EffectArgs a(vm, 2, 3);
    int32_t colours = a.Int(2, 256, 2, 256);
    int dither = a.Flag(3, 0);
    BrushPlanes p;
    if (uint32_t error = a.OpenBrush(&p)) return error;
    return QuantizeBitMap(p.bitmap, p.w, p.h, colours, dither);
}
