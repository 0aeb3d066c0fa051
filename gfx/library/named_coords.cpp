// Special coordinates. Each constant is the middle of a band of values less
// than 5000 away from it, so -95000 is no CENTER value.
#include "gfx/library/named_coords.h"

#include "core/io/number_conv.h"
#include "display/output.h"
#include "gfx/blits/clip_regions.h"

namespace {

enum : int32_t {
    kCenter = -100000,
    kLeft = -90000,
    kRight = -80000,
    kTop = -70000,
    kBottom = -60000,
    kLeftOut = -50000,
    kRightOut = -40000,
    kTopOut = -30000,
    kBottomOut = -20000,
};

bool InBand(int32_t v, int32_t constant) { return v > constant - 5000 && v < constant + 5000; }

// The band constants of one axis: the start, end, before-start and
// after-end positions.
struct AxisBands {
    int32_t start;
    int32_t end;
    int32_t before;
    int32_t after;
};

int32_t Resolve(int32_t v, int32_t size, int32_t area, bool useArea, double anchor, bool vertical,
                const AxisBands& bands)
{
    int64_t base = 0, length = area;
    if (!useArea) {
        const OutputRecord* output = CurrentOutput();
        const ClipRegion* clip = output ? output->clipRegion : nullptr;
        if (clip) {
            base = vertical ? clip->y : clip->x;
            length = vertical ? clip->height : clip->width;
        } else {
            length = output ? (vertical ? output->height : output->width) : 0;
        }
    }
    int64_t t = base + DoubleToInt32(size * anchor);
    int64_t r = v;
    if (InBand(v, kCenter)) r = (length - size) / 2 + t + (int64_t{v} - kCenter);
    else if (InBand(v, bands.start)) r = t + (int64_t{v} - bands.start);
    else if (InBand(v, bands.end)) r = length - size + t + (int64_t{v} - bands.end);
    else if (InBand(v, bands.before)) r = t - size + (int64_t{v} - bands.before);
    else if (InBand(v, bands.after)) r = t + length + (int64_t{v} - bands.after);
    return r < INT32_MIN ? INT32_MIN : r > INT32_MAX ? INT32_MAX : static_cast<int32_t>(r);
}

}  // namespace

int32_t ResolveSpecialX(int32_t x, int32_t w, int32_t areaWidth, double anchor)
{
    return Resolve(x, w, areaWidth, areaWidth != 0, anchor, false,
                   AxisBands{kLeft, kRight, kLeftOut, kRightOut});
}

int32_t ResolveSpecialY(int32_t y, int32_t h, int32_t areaHeight, double anchor)
{
    return Resolve(y, h, areaHeight, areaHeight != 0, anchor, true,
                   AxisBands{kTop, kBottom, kTopOut, kBottomOut});
}
