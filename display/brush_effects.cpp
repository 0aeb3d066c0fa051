// The image-effect commands of the "brush" library. Each reads its
// arguments (brush id first, then the front end's own parameters in the
// front end's order; trailing ones may be left out), finds the brush as one
// that may be modified (a hardware brush is refused there) and hands the
// brush's planes and size to the front end, whose result is the command's.
//
// The front ends clamp what they get, but a script that passes a level of
// 300 or a negative radius has made a mistake it should hear about, so every
// bounded parameter is checked here and refused with ERR_OUTOFRANGE before
// any pixel changes. Numbers are range-checked as doubles, before they are
// truncated, so that 2^32 + 5 is not taken for 5 nor NaN for anything.
#include "display/brush_effects.h"

#include <cmath>
#include <cstdio>

#include "core/check_args.h"
#include "core/arg_helpers.h"
#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/vm/library_glue.h"
#include "core/vm/vm.h"
#include "display/pictures.h"
#include "gfx/bitmap.h"
#include "gfx/effects.h"
#include "gfx/filter_kernels.h"
#include "gfx/ripple_swirl.h"
#include "gfx/work_buffer.h"

namespace {

// The planes and size of the brush a command changes.
struct BrushPlanes {
    Brush* brush = nullptr;
    BitMapHandle* bitmap = nullptr;
    BitMapHandle* mask = nullptr;
    BitMapHandle* alpha = nullptr;
    int32_t w = 0;
    int32_t h = 0;
};

// A command's arguments, counted on construction. The readers remember the
// first value out of its range instead of raising at once, so a handler
// reads all its arguments and then returns one error; type errors are
// raised by the VM's readers.
class EffectArgs {
public:
    EffectArgs(VmState* vm, int min, int max) : vm_(vm) { CheckArgs(vm, min, max, 0, 0); }

    double Number(int index, double fallback, double lo, double hi)
    {
        double v = VmOptNumber(vm_, index, fallback);
        if (!(v >= lo && v <= hi)) {  // NaN fails too
            if (!error_) error_ = ERR_OUTOFRANGE;
            return fallback;
        }
        return v;
    }
    int32_t Int(int index, int32_t fallback, int32_t lo = INT32_MIN, int32_t hi = INT32_MAX)
    {
        return static_cast<int32_t>(Number(index, fallback, lo, hi));
    }
    // Flags count as set when their value truncated to an integer is not 0.
    int Flag(int index, int fallback) { return std::trunc(VmOptNumber(vm_, index, fallback)) != 0 ? 1 : 0; }
    // Script colours are 32-bit words: the low 32 bits of the number.
    uint32_t Colour(int index) { return static_cast<uint32_t>(VmCheckInteger(vm_, index)); }

    // The brush of argument 1, found for modifying; a range error of the
    // arguments read before comes first.
    uint32_t OpenBrush(BrushPlanes* out) const
    {
        ObjectId id = GetObjectIdArg(vm_, 1);
        if (error_) return error_;
        if (uint32_t error = FindBrush(vm_, id, &out->brush, FINDPICTURE_MODIFY)) return error;
        GetBrushPlanes(out->brush, &out->bitmap, &out->mask, &out->alpha, &out->w, &out->h);
        return out->bitmap ? 0u : uint32_t{ERR_HWBRUSH};
    }

private:
    VmState* vm_;
    uint32_t error_ = 0;
};

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

// A ReplaceColors list: {from, to, from, to, ...} at 0, 1, ...; an empty or
// odd list is ERR_ARGS, an element that is no number ERR_NUMTABLEARG
// naming its index.
uint32_t ReadColourPairs(VmState* vm, int index, WorkBuffer<uint32_t>* pairs, int32_t* count)
{
    VmCheckTable(vm, index);
    int32_t n = 0;
    for (;; ++n) {
        VmRawGetI(vm, index, n);
        bool end = VmType(vm, -1) == VM_TNIL;
        VmPop(vm, 1);
        if (end) break;
        if (n == INT32_MAX - 1) return ERR_ARGS;
    }
    if (n == 0 || n % 2) return ERR_ARGS;
    if (!pairs->Allocate(static_cast<size_t>(n))) return ERR_MEM;
    for (int32_t i = 0; i < n; ++i) {
        VmRawGetI(vm, index, i);
        bool number = VmIsNumber(vm, -1);
        if (number) (*pairs)[i] = static_cast<uint32_t>(VmCheckInteger(vm, -1));
        VmPop(vm, 1);
        if (!number) {
            char text[16];
            std::snprintf(text, sizeof text, "%d", i);
            SetErrorText(text);
            return ERR_NUMTABLEARG;
        }
    }
    *count = n / 2;
    return 0;
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

uint32_t CmdBrushToGray(VmState* vm)
{
    EffectArgs a(vm, 1, 2);
    int threshold = a.Flag(2, 0);
    BrushPlanes p;
    if (uint32_t error = a.OpenBrush(&p)) return error;
    return GrayBitMap(p.bitmap, p.w, p.h, threshold);
}

uint32_t CmdBrushToMonochrome(VmState* vm)
{
    EffectArgs a(vm, 1, 2);
    int dither = a.Flag(2, 0);
    BrushPlanes p;
    if (uint32_t error = a.OpenBrush(&p)) return error;
    return MonochromeBitMap(p.bitmap, p.w, p.h, dither);
}

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

uint32_t CmdReplaceColors(VmState* vm)
{
    EffectArgs a(vm, 2, 2);
    WorkBuffer<uint32_t> pairs;
    int32_t count = 0;
    if (uint32_t error = ReadColourPairs(vm, 2, &pairs, &count)) return error;
    BrushPlanes p;
    if (uint32_t error = a.OpenBrush(&p)) return error;
    return ReplaceColors(p.bitmap, p.w, p.h, pairs.get(), count);
}

uint32_t CmdBlurBrush(VmState* vm) { return CmdConvolveBrush<CONVOLVE_BLUR>(vm); }
uint32_t CmdEmbossBrush(VmState* vm) { return CmdConvolveBrush<CONVOLVE_EMBOSS>(vm); }
uint32_t CmdEdgeBrush(VmState* vm) { return CmdConvolveBrush<CONVOLVE_EDGE>(vm); }
uint32_t CmdSharpenBrush(VmState* vm) { return CmdConvolveBrush<CONVOLVE_SHARPEN>(vm); }

uint32_t CmdSolarizeBrush(VmState* vm)
{
    EffectArgs a(vm, 1, 2);
    int32_t threshold = a.Int(2, 128, 0, 255);
    BrushPlanes p;
    if (uint32_t error = a.OpenBrush(&p)) return error;
    return SolarizeBitMap(p.bitmap, p.w, p.h, threshold);
}

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

uint32_t CmdSepiaToneBrush(VmState* vm)
{
    EffectArgs a(vm, 1, 2);
    int32_t level = a.Int(2, 204, 0, 255);  // 80%, the usual sepia threshold
    BrushPlanes p;
    if (uint32_t error = a.OpenBrush(&p)) return error;
    return SepiaBitMap(p.bitmap, p.w, p.h, level);
}

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
