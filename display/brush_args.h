// What the brush commands that change a brush share: the planes of the
// brush a command works on, the reader of their arguments and the reader
// of number lists. The effect commands (display/brush_effects.cpp) change
// a brush in place; the transform commands (display/brush_transforms.cpp)
// give it new planes.
//
// A front end clamps what it gets, but a script that passes a level of 300
// or a negative radius has made a mistake it should hear about, so every
// bounded parameter is checked here and refused with ERR_OUTOFRANGE before
// any pixel changes. Numbers are range-checked as doubles, before they are
// truncated, so that 2^32 + 5 is not taken for 5 nor NaN for anything.
#pragma once

#include <cmath>
#include <cstdint>

#include "core/io/error_codes.h"
#include "core/services/arg_helpers.h"
#include "core/services/check_args.h"
#include "core/vm/library_glue.h"
#include "display/pictures.h"
#include "gfx/effects/work_buffer.h"

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
        Require(v >= lo && v <= hi);  // NaN fails too
        return v >= lo && v <= hi ? v : fallback;
    }
    int32_t Int(int index, int32_t fallback, int32_t lo = INT32_MIN, int32_t hi = INT32_MAX)
    {
        return static_cast<int32_t>(Number(index, fallback, lo, hi));
    }
    // Flags count as set when their value truncated to an integer is not 0.
    int Flag(int index, int fallback) { return std::trunc(VmOptNumber(vm_, index, fallback)) != 0 ? 1 : 0; }
    // Script colours are 32-bit words: the low 32 bits of the number.
    uint32_t Colour(int index) { return static_cast<uint32_t>(VmCheckInteger(vm_, index)); }
    // A rule between arguments that a single range cannot say.
    void Require(bool ok)
    {
        if (!ok && !error_) error_ = ERR_OUTOFRANGE;
    }

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

// The numbers of the table argument at 0, 1, ... up to the first nil. An
// empty table is ERR_ARGS, an element that is no number ERR_NUMTABLEARG
// naming its index; a non-table raises ERR_TABEXPECTED.
uint32_t ReadNumberList(VmState* vm, int index, WorkBuffer<double>* numbers, int32_t* count);
