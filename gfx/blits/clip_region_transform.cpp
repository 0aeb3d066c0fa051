// Transformed copies of clip regions for pictures that are scaled or
// rotated: the shape follows the picture, so a layer clips where its
// transformed picture lands. A copy is never on the region list; whoever
// asked for it frees it with FreeTransformedClipRegion.
#include "core/io/number_conv.h"
#include "core/services/object_registry.h"
#include "display/display.h"
#include "draw/transform.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/blits/clip_regions.h"
#include "gfx/effects/transform_bounds.h"
#include "gfx/library/graphics_geometry.h"
#include "platform/posix/os_memory.h"

namespace {

// The region's rectangle turned by the matrix, filled into a new mask of
// its bounding box at (x, y).
BitMapHandle* FillTurnedRectangle(const ClipRegion* region, double anchorX, double anchorY,
                                  const double* matrix, int32_t x, int32_t y, int32_t w, int32_t h)
{
    if (w < 1 || h < 1) return nullptr;
    BitMapHandle* mask = AllocMaskBitMap(nullptr, w, h, 1, nullptr, 0);
    if (!mask) return nullptr;
    double corners[8];
    TransformCorners(region->width, region->height, anchorX, anchorY, matrix, corners);
    int32_t points[8];
    for (int i = 0; i < 4; ++i) {
        points[2 * i] = DoubleToInt32(region->x + corners[2 * i]) - x;
        points[2 * i + 1] = DoubleToInt32(region->y + corners[2 * i + 1]) - y;
    }
    FillMaskPolygon(mask, points, 4);
    return mask;
}

}  // namespace

ClipRegion* RenderClipRegionMask(const ClipRegion* region, double anchorX, double anchorY,
                                 const double* matrix, int withMask, int fromDisplay)
{
    if (!region || !matrix) return nullptr;
    int32_t x = region->x, y = region->y, w = 0, h = 0, boxW, boxH;
    BitMapHandle* mask = nullptr;
    if (region->mask) {
        const ObjectPlanes shape{nullptr, region->mask, nullptr, region->x, region->y, region->width, region->height};
        ObjectPlanes moved;
        if (TransformObjectPlanes(shape, matrix, anchorX, anchorY, 0, &moved)) return nullptr;
        mask = moved.mask;
        x = moved.x;
        y = moved.y;
        w = moved.width;
        h = moved.height;
    } else if (matrix[1] == 0 && matrix[2] == 0) {
        x = DoubleToInt32(region->x * matrix[0]);
        w = DoubleToInt32(region->width * matrix[0]);
        y = DoubleToInt32(region->y * matrix[3]);
        h = DoubleToInt32(region->height * matrix[3]);
    } else {
        ComputeTransformBounds(region->x, region->y, region->width, region->height, anchorX,
                               anchorY, matrix, &x, &y, &w, &h);
        mask = FillTurnedRectangle(region, anchorX, anchorY, matrix, x, y, w, h);
        if (!mask) return nullptr;
    }
    if (withMask && !fromDisplay && CurrentDisplay) {
        ComputeTransformBounds(region->x, region->y, region->width, region->height, anchorX,
                               anchorY, matrix, &x, &y, &boxW, &boxH);
        x = DoubleToInt32(x * CurrentDisplay->scaleFactorX);
        y = DoubleToInt32(y * CurrentDisplay->scaleFactorY);
    }
    // Nothing may be left once the parts above and left of the output go.
    bool visible = w >= 1 && h >= 1 && int64_t{x} + w >= 1 && int64_t{y} + h >= 1;
    auto* copy = visible ? static_cast<ClipRegion*>(OsAllocMem(sizeof(ClipRegion), 1)) : nullptr;
    if (!copy || CropShapeToVisible(&h, &y, &x, &w, &mask, 0, 1)) {
        if (mask) FreePlaneBitMap(mask);
        OsFreeMem(copy);
        return nullptr;
    }
    copy->header.type = OBJ_CLIPREGION;
    copy->header.handle = reinterpret_cast<uintptr_t>(copy);
    SetClipRegionShape(copy, x, y, w, h, mask);
    copy->transformedCopy = 1;
    return copy;
}

void FreeTransformedClipRegion(VmState* vm, ClipRegion* copy)
{
    if (!copy) return;
    FreeClipRegionData(vm, copy);
    OsFreeMem(copy);
}
