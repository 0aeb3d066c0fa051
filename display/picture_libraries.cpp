// The picture-object libraries ("brush", "bgpic", "sprite", "anim",
// "moveobject", "layers"). What opens here is each library's object list
// and the commands that resource preloading calls by name: LoadBrush and
// LoadBGPic load pictures (display/picture_loading.cpp), the others answer
// that they are not implemented yet. Brush and background-picture records
// live in display/pictures.cpp.
#include "core/object_registry.h"
#include "display/display_library.h"
#include "display/library_support.h"
#include "display/picture_loading.h"
#include "display/pictures.h"
#include "display/script_refs.h"
#include "platform/posix/os_memory.h"

namespace {

ObjectHeader* g_sprites;
ObjectHeader* g_anims;

const CommandTableEntry kBrushCommands[] = {{"LoadBrush", CmdLoadBrush}, {nullptr, nullptr}};
const CommandTableEntry kBGPicCommands[] = {{"LoadBGPic", CmdLoadBGPic}, {nullptr, nullptr}};
const CommandTableEntry kSpriteCommands[] = {{"LoadSprite", UnimplementedCommand}, {nullptr, nullptr}};
const CommandTableEntry kAnimCommands[] = {{"LoadAnim", UnimplementedCommand}, {nullptr, nullptr}};
const CommandTableEntry kNoCommands[] = {{nullptr, nullptr}};

uint32_t OpenPictureLibrary(VmState* vm, const char* name, const CommandTableEntry* commands,
                            ObjectHeader** list)
{
    uint32_t error = list ? RegisterObjectList(list) : 0;
    if (!error) error = RegisterCommandTable(vm, name, commands);
    return error;
}

void FreeList(VmState* vm, ObjectHeader** list)
{
    while (ObjectHeader* r = *list) {
        *list = r->next;
        ReleaseObjectData(vm, r);
        OsFreeMem(r);
    }
}

}  // namespace

uint32_t RegisterBrushLibrary(VmState* vm)
{
    return OpenPictureLibrary(vm, "brush", kBrushCommands, reinterpret_cast<ObjectHeader**>(&BrushList));
}
uint32_t RegisterBGPicLibrary(VmState* vm)
{
    return OpenPictureLibrary(vm, "bgpic", kBGPicCommands, reinterpret_cast<ObjectHeader**>(&BGPicList));
}
uint32_t RegisterSpriteLibrary(VmState* vm) { return OpenPictureLibrary(vm, "sprite", kSpriteCommands, &g_sprites); }
uint32_t RegisterAnimLibrary(VmState* vm) { return OpenPictureLibrary(vm, "anim", kAnimCommands, &g_anims); }
uint32_t RegisterMoveObjectLibrary(VmState* vm) { return OpenPictureLibrary(vm, "moveobject", kNoCommands, nullptr); }
uint32_t OpenLayersLibrary(VmState* vm) { return OpenPictureLibrary(vm, "layers", kNoCommands, nullptr); }

void FreeAllSprites(VmState* vm) { FreeList(vm, &g_sprites); }
void FreeAllAnims(VmState* vm) { FreeList(vm, &g_anims); }
void CloseLayersLibrary(VmState*) {}

void FlushObjectCaches(VmState*, uint32_t)
{
    // Frame caches come with the pictures that fill them; none exist yet.
}
