// Sprite records. Their frames come from the same loaders as anims, always
// decoded at load: a sprite is drawn often and from any frame. Sprites are
// shown by display instances that only the display code makes; a sprite
// freed while linked sprites point at it takes the links with it.
#include "display/sprites.h"

#include <algorithm>
#include <cstdint>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/services/check_args.h"
#include "core/services/option_tables.h"
#include "core/vm/library_glue.h"
#include "core/vm/vm.h"
#include "display/display.h"
#include "display/layers.h"
#include "display/library_support.h"
#include "display/object_list.h"
#include "display/refresh_rects.h"
#include "display/script_refs.h"
#include "platform/posix/os_memory.h"

Sprite* SpriteList;

namespace {

ObjectHeader** ListHead() { return reinterpret_cast<ObjectHeader**>(&SpriteList); }

}  // namespace

uint32_t FindSprite(ObjectId id, Sprite** out)
{
    ObjectHeader* r;
    uint32_t error = FindObjectOrError(*ListHead(), id, ERR_FINDSPRITE, &r);
    *out = reinterpret_cast<Sprite*>(r);
    return error;
}

uint32_t FindSpriteInstance(ObjectId id, SpriteInstance** out)
{
    *out = nullptr;
    Sprite* sprite;
    if (uint32_t error = FindSprite(id, &sprite))
        return error;
    if (!CurrentDisplay)
        return ERR_SPRITEONSCREEN2;
    for (Display* d = DisplayList; d; d = reinterpret_cast<Display*>(d->header.next)) {
        for (OnScreenInstance* i = d->output.instances; i; i = i->next) {
            if (i->tag != OBJ_SPRITE)
                continue;
            auto* shown = reinterpret_cast<SpriteInstance*>(i);
            if (shown->sprite == sprite) {
                *out = shown;
                return 0;
            }
        }
    }
    SetErrorArgNumber(static_cast<int32_t>(id.id));
    return ERR_SPRITEONSCREEN;
}

const Sprite* ResolveSpriteLink(const Sprite* sprite)
{
    // Links are made to sprites with frames of their own; the bound guards
    // against a chain that loops.
    for (int hops = 0; sprite->link && hops < 64; ++hops)
        sprite = sprite->link;
    return sprite;
}

uint32_t GetSpriteFramePlanes(Sprite* sprite, uint32_t frame, BitMapHandle** bitmap, BitMapHandle** mask,
                              BitMapHandle** alpha)
{
    auto* owner = const_cast<Sprite*>(ResolveSpriteLink(sprite));
    return GetFrameSetPlanes(&owner->frames, frame, bitmap, mask, alpha);
}

void FreeSprite(VmState* vm, Sprite* sprite)
{
    if (!sprite)
        return;
    for (Display* d = DisplayList; d; d = reinterpret_cast<Display*>(d->header.next)) {
        for (OnScreenInstance** link = &d->output.instances; *link;) {
            auto* shown = reinterpret_cast<SpriteInstance*>(*link);
            if ((*link)->tag == OBJ_SPRITE && shown->sprite == sprite) {
                *link = (*link)->next;
                OsFreeMem(shown);
            } else {
                link = &(*link)->next;
            }
        }
    }
    // Freeing a linked sprite may free others; the walk starts over each time.
    for (bool again = true; again;) {
        again = false;
        for (Sprite* s = SpriteList; s; s = reinterpret_cast<Sprite*>(s->header.next)) {
            if (s->link == sprite) {
                FreeSprite(vm, s);
                again = true;
                break;
            }
        }
    }
    UnlinkObject(ListHead(), &sprite->header);
    ReleaseObjectData(vm, &sprite->header);
    FreeFrameSet(&sprite->frames);
    OsFreeMem(sprite);
}

void DrawSpriteInstances(Display* display, BitMapHandle* dst, int32_t originX, int32_t originY)
{
    int64_t right = int64_t{originX} + dst->width, bottom = int64_t{originY} + dst->height;
    for (OnScreenInstance* i = display->output.instances; i; i = i->next) {
        if (i->tag != OBJ_SPRITE)
            continue;
        auto* shown = reinterpret_cast<SpriteInstance*>(i);
        BitMapHandle *bitmap, *mask, *alpha;
        if (GetSpriteFramePlanes(shown->sprite, shown->frame, &bitmap, &mask, &alpha))
            continue;
        DrawPlanesCut(bitmap, mask, alpha, i->width, i->height, i->x, i->y, dst, originX, originY, originX,
                      originY, right, bottom);
    }
}

void RefreshTaggedInstances(VmState* vm, const void* object)
{
    if (!object)
        return;
    for (Display* d = DisplayList; d; d = reinterpret_cast<Display*>(d->header.next)) {
        int64_t left = INT64_MAX, top = INT64_MAX, right = INT64_MIN, bottom = INT64_MIN;
        for (OnScreenInstance* i = d->output.instances; i; i = i->next) {
            if (i->taggedObject != object)
                continue;
            i->taggedObject = nullptr;
            left = std::min<int64_t>(left, i->x);
            top = std::min<int64_t>(top, i->y);
            right = std::max(right, int64_t{i->x} + i->width);
            bottom = std::max(bottom, int64_t{i->y} + i->height);
        }
        if (right <= left || bottom <= top)
            continue;
        // Off-screen parts are cut by the redraw; the union is bounded first
        // so that it fits the rectangle's words.
        left = std::max<int64_t>(left, 0);
        top = std::max<int64_t>(top, 0);
        right = std::min<int64_t>(right, kMaxDisplaySize);
        bottom = std::min<int64_t>(bottom, kMaxDisplaySize);
        if (right > left && bottom > top)
            RefreshDisplayRect(vm, d, static_cast<int32_t>(left), static_cast<int32_t>(top),
                               static_cast<int32_t>(right - left), static_cast<int32_t>(bottom - top));
    }
}

void FreeAllSprites(VmState* vm)
{
    while (SpriteList)
        FreeSprite(vm, SpriteList);
}

uint32_t CmdLoadSprite(VmState* vm)
{
    CheckArgs(vm, 2, 3, 0, 0);
    CreateIdArg id = GetCreateIdArg(vm, 1);
    FrameSetRequest request;
    FrameSetArgTexts texts;
    ReadFrameSetArgs(vm, &request, &texts);
    request.fromDisk = false;
    auto* sprite = static_cast<Sprite*>(OsAllocMem(sizeof(Sprite), 1));
    if (!sprite)
        return ERR_MEM;
    if (uint32_t error = LoadFrameSet(request, &sprite->frames)) {
        OsFreeMem(sprite);
        return error;
    }
    if (!id.newHandle) {
        Sprite* old = nullptr;
        if (FindSprite(id.id, &old) == 0)
            FreeSprite(vm, old);
    }
    return AppendCreatedObject(vm, ListHead(), &sprite->header, OBJ_SPRITE, id.id, id.newHandle);
}
