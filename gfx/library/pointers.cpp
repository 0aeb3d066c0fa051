// Mouse pointers. The node owns its native pointer; a display only shows
// it, so a pointer is never freed while a display still points at it.
#include "gfx/library/pointers.h"

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/number_conv.h"
#include "core/services/arg_helpers.h"
#include "core/services/check_args.h"
#include "core/vm/library_glue.h"
#include "display/display.h"
#include "display/library_support.h"
#include "display/object_list.h"
#include "display/output.h"
#include "display/pictures.h"
#include "display/script_refs.h"
#include "display/sprites.h"
#include "gfx/bitmaps/argb_exchange.h"
#include "gfx/library/named_coords.h"
#include "platform/posix/os_memory.h"

PointerNode* PointerList;

namespace {

ObjectHeader** ListHead() { return reinterpret_cast<ObjectHeader**>(&PointerList); }

// Standard pointers have no image of their own, so a display names the
// node it shows rather than the image.
bool ShownByAnyDisplay(const PointerNode* node)
{
    for (Display* d = DisplayList; d; d = reinterpret_cast<Display*>(d->header.next))
        if (d->pointerObject == &node->header) return true;
    return false;
}

void FreeNode(VmState* vm, PointerNode* node)
{
    UnlinkObject(ListHead(), &node->header);
    AdapterFreePointer(node->native);
    ReleaseObjectData(vm, &node->header);
    OsFreeMem(node);
}

// Frees the pointer, or detaches it while a display shows it.
void FreeOrDetach(VmState* vm, PointerNode* node)
{
    if (!ShownByAnyDisplay(node)) {
        FreeNode(vm, node);
        return;
    }
    node->temporary = 1;
    node->header.id = 0;
    node->header.handle = reinterpret_cast<uintptr_t>(node);
}

void FreeUnusedDetached(VmState* vm)
{
    for (PointerNode* p = PointerList; p;) {
        auto* next = reinterpret_cast<PointerNode*>(p->header.next);
        if (p->temporary && !ShownByAnyDisplay(p)) FreeNode(vm, p);
        p = next;
    }
}

// The pointer image of a picture: ARGB, transparent where the mask is
// clear. The hot spot, from the arguments at hotArg and hotArg + 1, defaults
// to the middle and is kept on the image.
uint32_t MakeImagePointer(VmState* vm, PointerNode* node, int hotArg, BitMapHandle* bitmap, BitMapHandle* mask,
                          BitMapHandle* alpha, int32_t w, int32_t h)
{
    if (!bitmap || w < 1 || h < 1) return ERR_POINTERIMG;
    int32_t hotX = VmOptInteger(vm, hotArg, w / 2), hotY = VmOptInteger(vm, hotArg + 1, h / 2);
    hotX = hotX < 0 ? 0 : hotX > w - 1 ? w - 1 : hotX;
    hotY = hotY < 0 ? 0 : hotY > h - 1 ? h - 1 : hotY;
    uint32_t* argb = BitMapToArgbMasked(bitmap, 0, 0, w, h, mask, alpha, -1, 1, 0);
    if (!argb) return ERR_MEM;
    uint32_t error = AdapterCreatePointerImage(argb, w, h, hotX, hotY, &node->native, &node->width,
                                               &node->height);
    OsFreeMem(argb);
    node->kind = STDPTR_CUSTOM;
    return error;
}

uint32_t MakeBrushPointer(VmState* vm, PointerNode* node)
{
    Brush* brush;
    if (uint32_t error = FindBrush(vm, GetObjectIdArg(vm, 3), &brush, 0)) return error;
    BitMapHandle *bitmap, *mask, *alpha;
    int32_t w, h;
    GetBrushPlanes(brush, &bitmap, &mask, &alpha, &w, &h);
    return MakeImagePointer(vm, node, 4, bitmap, mask, alpha, w, h);
}

// A sprite's frame (1-based) as the image; a linked sprite shows the frames
// of the sprite it is linked to.
uint32_t MakeSpritePointer(VmState* vm, PointerNode* node)
{
    Sprite* sprite;
    if (uint32_t error = FindSprite(GetObjectIdArg(vm, 3), &sprite)) return error;
    int32_t frame = VmOptInteger(vm, 4, 1);
    const FrameSet& frames = ResolveSpriteLink(sprite)->frames;
    if (frame < 1 || static_cast<uint32_t>(frame) > frames.frameCount)
        return SetRangeErrorDetail(ERR_ANIMFRAME, "frame", frame, 1, frames.frameCount);
    BitMapHandle *bitmap, *mask, *alpha;
    if (uint32_t error = GetSpriteFramePlanes(sprite, static_cast<uint32_t>(frame - 1), &bitmap, &mask, &alpha))
        return error;
    return MakeImagePointer(vm, node, 5, bitmap, mask, alpha, frames.width, frames.height);
}

uint32_t FindPointerArg(VmState* vm, int index, PointerNode** out)
{
    return FindPointer(GetObjectIdArg(vm, index), out);
}

}  // namespace

uint32_t FindPointer(ObjectId id, PointerNode** out)
{
    ObjectHeader* r;
    uint32_t error = FindObjectOrError(*ListHead(), id, ERR_FINDPOINTER, &r);
    *out = reinterpret_cast<PointerNode*>(r);
    // A detached pointer keeps only its handle, so only a handle reaches it.
    if (*out && (*out)->temporary) {
        *out = nullptr;
        return ERR_FINDARRAY;
    }
    return error;
}

void ReleaseDisplayPointer(VmState* vm, Display* display)
{
    display->pointer = nullptr;
    display->pointerObject = nullptr;
    display->pointerKind = STDPTR_SYSTEM;
    FreeUnusedDetached(vm);
}

void FreeAllPointers(VmState* vm)
{
    for (Display* d = DisplayList; d; d = reinterpret_cast<Display*>(d->header.next)) {
        d->pointer = nullptr;
        d->pointerObject = nullptr;
        d->pointerKind = STDPTR_SYSTEM;
    }
    while (PointerList) FreeNode(vm, PointerList);
}

// CreatePointer(id or Nil, #BRUSH, brush [, hotx, hoty])
// CreatePointer(id or Nil, #SPRITE, sprite [, frame, hotx, hoty])
// CreatePointer(id or Nil, #POINTER, #STDPTR_SYSTEM or #STDPTR_BUSY)
uint32_t CmdCreatePointer(VmState* vm)
{
    CheckArgs(vm, 3, 6, 0, 0);
    CreateIdArg id = GetCreateIdArg(vm, 1);
    int32_t type = VmCheckInteger(vm, 2);
    auto* node = static_cast<PointerNode*>(OsAllocMem(sizeof(PointerNode), 1));
    if (!node) return ERR_MEM;
    uint32_t error = 0;
    if (type == OBJ_BRUSH) {
        CheckArgs(vm, 3, 5, 0, 0);
        error = MakeBrushPointer(vm, node);
    } else if (type == OBJ_SPRITE) {
        error = MakeSpritePointer(vm, node);
    } else if (type == OBJ_POINTER) {
        CheckArgs(vm, 3, 3, 0, 0);
        int32_t kind = VmCheckInteger(vm, 3);
        if (kind != STDPTR_SYSTEM && kind != STDPTR_BUSY) error = ERR_WRONGUSAGE;
        node->kind = static_cast<uint32_t>(kind);
        node->width = node->height = kPlatformCursorSize;
    } else {
        error = ERR_WRONGUSAGE;
    }
    if (error) {
        AdapterFreePointer(node->native);
        OsFreeMem(node);
        return error;
    }
    PointerNode* old;
    if (!id.newHandle && !FindPointer(id.id, &old)) FreeOrDetach(vm, old);
    AppendObject(ListHead(), &node->header, OBJ_POINTER, id.id, id.newHandle);
    if (!id.newHandle) return 0;
    VmPushLightUserdata(vm, node);
    return 1;
}

uint32_t CmdFreePointer(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    PointerNode* node;
    if (uint32_t error = FindPointerArg(vm, 1, &node)) return error;
    if (node->locked) return ERR_LOCKEDOBJ;
    FreeOrDetach(vm, node);
    return 0;
}

uint32_t CmdSetPointer(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    PointerNode* node;
    if (uint32_t error = FindPointerArg(vm, 1, &node)) return error;
    Display* display = CurrentDisplay;
    if (!display) return ERR_WRONGUSAGE;
    display->pointerHidden = 0;
    AdapterSetDisplayPointer(display, node->native, node->kind);
    display->pointerObject = &node->header;
    if (display->state == DISPSTATE_OPEN) AdapterShowHidePointer(display, true);
    FreeUnusedDetached(vm);
    return 0;
}

namespace {

uint32_t ShowHide(VmState* vm, bool show)
{
    CheckArgs(vm, 0, 0, 0, 0);
    Display* display = CurrentDisplay;
    if (!display) return ERR_WRONGUSAGE;
    display->pointerHidden = !show;
    if (display->state == DISPSTATE_OPEN) AdapterShowHidePointer(display, show);
    return 0;
}

}  // namespace

uint32_t CmdShowPointer(VmState* vm) { return ShowHide(vm, true); }

uint32_t CmdHidePointer(VmState* vm) { return ShowHide(vm, false); }

// MovePointer(x, y): special coordinates place the pointer's image.
uint32_t CmdMovePointer(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    int32_t x = VmCheckInteger(vm, 1), y = VmCheckInteger(vm, 2);
    Display* display = CurrentDisplay;
    // The timed refresh draws the pointer where the mouse is.
    if (!display || display->state != DISPSTATE_OPEN || TimedRefresh) return 0;
    const PointerImage* image = display->pointer;
    int32_t w = image ? image->width : kPlatformCursorSize, h = image ? image->height : kPlatformCursorSize;
    x = ResolveSpecialX(x, w, 0, 0);
    y = ResolveSpecialY(y, h, 0, 0);
    AdapterMovePointer(display, DoubleToInt32(x * display->scaleFactorX), DoubleToInt32(y * display->scaleFactorY));
    return 0;
}
