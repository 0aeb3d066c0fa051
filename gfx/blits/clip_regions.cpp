// Clip regions and their three commands. Every failure leaves the list, the
// outputs and the caller's planes as they were: a region is complete before
// it replaces an old one, and checked against the output before it is made
// active.
#include "gfx/blits/clip_regions.h"

#include "core/io/error_codes.h"
#include "core/services/arg_helpers.h"
#include "core/services/check_args.h"
#include "core/vm/library_glue.h"
#include "core/vm/vm.h"
#include "display/display.h"
#include "display/layers.h"
#include "display/library_support.h"
#include "display/object_list.h"
#include "display/output.h"
#include "display/pictures.h"
#include "display/script_refs.h"
#include "display/sprites.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/blits/display_blit.h"
#include "gfx/blits/plane_ops.h"
#include "gfx/library/named_coords.h"
#include "platform/posix/os_memory.h"

ClipRegion* ClipRegionList;

namespace {

// The shared scratch buffer's first size.
constexpr size_t kClipScratchBytes = 240000;

ObjectHeader** ListHead() { return reinterpret_cast<ObjectHeader**>(&ClipRegionList); }

void DropReference(OutputRecord* output, void* region)
{
    if (output->clipRegion == region) {
        output->clipRegion = nullptr;
        ResetClipWords(output);
    }
}

void DropEveryReference(ClipRegion* region)
{
    ForEachOutputRecord(DropReference, region);
    if (FallbackDisplay) DropReference(&FallbackDisplay->output, region);
}

// Layers keep their own references to regions, so a region lives on,
// detached from its id, while a layer is clipped by it.
bool UsedByLayers(ClipRegion* region) { return RelinkLayerSources(OBJ_CLIPREGION, 0, &region->header) != 0; }

}  // namespace

uint32_t FindClipRegion(ObjectId id, ClipRegion** out, uint32_t options)
{
    ObjectHeader* record;
    uint32_t error = FindObjectOrError(*ListHead(), id, ERR_FINDCLIPREGION, &record);
    *out = nullptr;
    if (error) return error;
    auto* r = reinterpret_cast<ClipRegion*>(record);
    // A temporary region keeps only its handle, so only a handle reaches it.
    if (r->temporary && !(options & FINDCLIP_TEMPORARY)) return ERR_FINDARRAY;
    if ((options & FINDCLIP_MODIFY) && r->locked) return ERR_LOCKEDOBJ;
    // Layers keep clipping by the region as it was; the caller changes it
    // for everyone else.
    if ((options & FINDCLIP_MODIFY) && !(options & FINDCLIP_NOCOPY))
        if (uint32_t copyError = DetachObjectFromLayers(nullptr, OBJ_CLIPREGION, &r->header)) return copyError;
    *out = r;
    return 0;
}

uint32_t CopyClipRegion(const ClipRegion* region, ClipRegion** out)
{
    *out = nullptr;
    int32_t x = region->x, y = region->y, w = region->width, h = region->height;
    BitMapHandle* mask = region->mask;
    if (uint32_t error = CropShapeToVisible(&h, &y, &x, &w, &mask, 1, 0)) return error;
    auto* copy = static_cast<ClipRegion*>(OsAllocMem(sizeof(ClipRegion), 1));
    if (!copy) {
        if (mask) FreePlaneBitMap(mask);
        return ERR_MEM;
    }
    SetClipRegionShape(copy, x, y, w, h, mask);
    copy->temporary = 1;
    AppendObject(ListHead(), &copy->header, OBJ_CLIPREGION, ObjectId{0, 0}, true);
    *out = copy;
    return 0;
}

uint32_t CropShapeToVisible(int32_t* h, int32_t* y, int32_t* x, int32_t* w, BitMapHandle** mask,
                            int copy, int freeOld)
{
    int32_t offX = 0, offY = 0;
    if (*x < 0) {
        offX = -*x;
        *w += *x;
        *x = 0;
    }
    if (*y < 0) {
        offY = -*y;
        *h += *y;
        *y = 0;
    }
    BitMapHandle* old = *mask;
    if (!old || (!copy && offX == 0 && offY == 0)) return 0;
    BitMapHandle* cropped = AllocMaskBitMap(nullptr, *w, *h, 1, nullptr, 0);
    if (!cropped) return ERR_ALLOCMASK;
    BltMaskPlane(old, offX, offY, cropped, 0, 0, *w, *h, MASKVANILLACOPY, nullptr, 0);
    if (!copy && freeOld) FreePlaneBitMap(old);
    *mask = cropped;
    return 0;
}

void SetClipRegionShape(ClipRegion* region, int32_t x, int32_t y, int32_t width, int32_t height,
                        BitMapHandle* mask)
{
    region->x = x;
    region->y = y;
    region->width = width;
    region->height = height;
    region->mask = mask;
    region->maskBytesPerRow = mask ? QueryBitMapAttr(mask, BMATTR_MASK_BYTESPERROW) : 0;
}

uint32_t CreateClipRegion(VmState* vm, ObjectId id, bool useHandle, int32_t x, int32_t y,
                          int32_t width, int32_t height, BitMapHandle* shape, ClipRegion** out)
{
    *out = nullptr;
    if (width < 1 || height < 1) return ERR_WRONGUSAGE;
    if (int64_t{x} + width < 1 || int64_t{y} + height < 1) return ERR_WRONGUSAGE;
    BitMapHandle* mask = shape;
    uint32_t error = CropShapeToVisible(&height, &y, &x, &width, &mask, 1, 0);
    if (error) return error;
    if (mask && !EnsureClipScratch(kClipScratchBytes)) {
        FreePlaneBitMap(mask);
        return ERR_MEM;
    }
    auto* region = static_cast<ClipRegion*>(OsAllocMem(sizeof(ClipRegion), 1));
    if (!region) {
        if (mask) FreePlaneBitMap(mask);
        return ERR_MEM;
    }
    SetClipRegionShape(region, x, y, width, height, mask);
    if (!useHandle) {
        ClipRegion* old = nullptr;
        if (!FindClipRegion(id, &old, 0)) FreeClipRegion(vm, old);
    }
    AppendObject(ListHead(), &region->header, OBJ_CLIPREGION, id, useHandle);
    *out = region;
    return 0;
}

uint32_t SetClipRegion(ClipRegion* region)
{
    Display* display = CurrentDisplay;
    OutputRecord* output = CurrentOutput();
    if (!output || display->outputMode == OUTPUT_MASK || display->outputMode == OUTPUT_ALPHACHANNEL)
        return ERR_WRONGUSAGE;
    if (!region) {
        output->clipRegion = nullptr;
        ResetClipWords(output);
        return 0;
    }
    if (int64_t{region->x} + region->width > output->width ||
        int64_t{region->y} + region->height > output->height)
        return ERR_WRONGCLIPREG;
    output->clipRegion = region;
    output->clipWords[0] = region->x;
    output->clipWords[1] = region->y;
    output->clipWords[2] = region->x + region->width - 1;
    output->clipWords[3] = region->y + region->height - 1;
    return 0;
}

void FreeClipRegionData(VmState* vm, ClipRegion* region)
{
    if (region->mask) FreePlaneBitMap(region->mask);
    region->mask = nullptr;
    region->maskBytesPerRow = 0;
    ReleaseObjectData(vm, &region->header);
}

void FreeClipRegion(VmState* vm, ClipRegion* region)
{
    if (!region) return;
    DropEveryReference(region);
    // Sprites drawn through the region are shown again without it.
    RefreshTaggedInstances(vm, region);
    if (UsedByLayers(region)) {
        region->header.id = 0;
        region->header.handle = reinterpret_cast<uintptr_t>(region);
        region->temporary = 1;
        return;
    }
    UnlinkObject(ListHead(), &region->header);
    FreeClipRegionData(vm, region);
    OsFreeMem(region);
}

void FreeTemporaryClipRegions(VmState* vm)
{
    for (ClipRegion* r = ClipRegionList; r;) {
        auto* next = reinterpret_cast<ClipRegion*>(r->header.next);
        if (r->temporary && !UsedByLayers(r)) FreeClipRegion(vm, r);
        r = next;
    }
}

void FreeAllClipRegions(VmState* vm)
{
    while (ClipRegionList) {
        ClipRegion* r = ClipRegionList;
        DropEveryReference(r);
        RefreshTaggedInstances(vm, r);
        UnlinkObject(ListHead(), &r->header);
        FreeClipRegionData(vm, r);
        OsFreeMem(r);
    }
    FreeClipScratch();
}

// CreateClipRegion(id or Nil, #BOX, x, y, width, height)
// CreateClipRegion(id or Nil, #MASK, brush, x, y)
uint32_t CmdCreateClipRegion(VmState* vm)
{
    CheckArgs(vm, 4, 6, 0, 0);
    CreateIdArg id = GetCreateIdArg(vm, 1);
    int32_t type = VmCheckInteger(vm, 2);
    int32_t x, y, width, height;
    BitMapHandle* shape = nullptr;
    if (type == CLIPREGION_BOX) {
        CheckArgs(vm, 6, 6, 0, 0);
        x = VmCheckInteger(vm, 3);
        y = VmCheckInteger(vm, 4);
        width = VmCheckInteger(vm, 5);
        height = VmCheckInteger(vm, 6);
    } else if (type == CLIPREGION_MASK) {
        CheckArgs(vm, 5, 5, 0, 0);
        Brush* brush;
        if (uint32_t error = FindBrush(vm, GetObjectIdArg(vm, 3), &brush, 0)) return error;
        BitMapHandle *bitmap, *alpha;
        GetBrushPlanes(brush, &bitmap, &shape, &alpha, &width, &height);
        if (!shape) return ERR_NOMASKBRUSH;
        x = VmCheckInteger(vm, 4);
        y = VmCheckInteger(vm, 5);
    } else {
        return ERR_WRONGUSAGE;
    }
    const OutputRecord* output = CurrentOutput();
    x = ResolveSpecialX(x, width, output ? output->width : 0, 0);
    y = ResolveSpecialY(y, height, output ? output->height : 0, 0);
    ClipRegion* region;
    if (uint32_t error = CreateClipRegion(vm, id.id, id.newHandle, x, y, width, height, shape, &region))
        return error;
    if (!id.newHandle) return 0;
    VmPushLightUserdata(vm, region);
    return 1;
}

// SetClipRegion(id): Nil or 0 clears the active region.
uint32_t CmdSetClipRegion(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    ClipRegion* region = nullptr;
    int type = VmType(vm, 1);
    bool clear = type == VM_TNIL || (type == VM_TNUMBER && VmGetNumber(vm, 1) == 0);
    if (!clear) {
        if (uint32_t error = FindClipRegion(GetObjectIdArg(vm, 1), &region, 0)) return error;
    }
    return SetClipRegion(region);
}

uint32_t CmdFreeClipRegion(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    ClipRegion* region;
    if (uint32_t error = FindClipRegion(GetObjectIdArg(vm, 1), &region, 0)) return error;
    FreeClipRegion(vm, region);
    return 0;
}
