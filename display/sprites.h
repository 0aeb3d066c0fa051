// Sprites (object type 32): frame sets that are shown on top of a display
// as on-screen instances. A sprite either has frames of its own (from a
// picture strip or an anim file, all decoded at load) or is linked to
// another sprite whose frames it shows.
#pragma once

#include <cstdint>

#include "core/services/object_registry.h"
#include "display/anims.h"
#include "display/output.h"

struct Display;

struct Sprite {
    ObjectHeader header;
    FrameSet frames;  // empty for a linked sprite
    Sprite* link;     // the sprite whose frames this one shows, or null
};

// A sprite shown on a display: the on-screen instance the blits protect,
// with the sprite and the frame it shows.
struct SpriteInstance {
    OnScreenInstance instance;
    Sprite* sprite;
    uint32_t frame;  // 0-based
};

extern Sprite* SpriteList;

// 0, ERR_FINDSPRITE (numeric id) or ERR_FINDARRAY (handle id).
uint32_t FindSprite(ObjectId id, Sprite** out);
// The on-screen instance of the sprite: 0, or ERR_SPRITEONSCREEN (with the
// id) when it is not shown, ERR_SPRITEONSCREEN2 when there is no display.
uint32_t FindSpriteInstance(ObjectId id, SpriteInstance** out);
// The planes of a 0-based frame, linked sprites resolved. 0 or ERR_ANIMFRAME.
uint32_t GetSpriteFramePlanes(Sprite* sprite, uint32_t frame, BitMapHandle** bitmap, BitMapHandle** mask,
                              BitMapHandle** alpha);
// The sprite whose frames a sprite shows (itself unless linked).
const Sprite* ResolveSpriteLink(const Sprite* sprite);
void FreeSprite(VmState* vm, Sprite* sprite);

// Draws the sprites shown on the display over dst, which holds the
// display's pixels from (originX, originY).
void DrawSpriteInstances(Display* display, BitMapHandle* dst, int32_t originX, int32_t originY);
// Clears the object's tag from the on-screen instances of every display
// and redraws, per display, the union of the instances that carried it.
void RefreshTaggedInstances(VmState* vm, const void* object);
void FreeAllSprites(VmState* vm);

// LoadSprite(id or Nil, file[, options]).
uint32_t CmdLoadSprite(VmState* vm);
