// The "graphics" library's registration. Its command table follows the
// library's documented order; commands join it at their place as their
// modules are built.
#include "gfx/graphics_library.h"

#include "core/object_registry.h"
#include "display/library_support.h"
#include "gfx/attribute_queries.h"
#include "gfx/clip_regions.h"
#include "gfx/display_blit.h"
#include "gfx/snapshot.h"

namespace {

const CommandTableEntry kGraphicsCommands[] = {
    {"CreateClipRegion", CmdCreateClipRegion},
    {"SetClipRegion", CmdSetClipRegion},
    {"FreeClipRegion", CmdFreeClipRegion},
    {"IsPicture", CmdIsPicture},
    {"SaveSnapshot", CmdSaveSnapshot},
    {"GetAttribute", CmdGetAttribute},
    {nullptr, nullptr},
};

}  // namespace

uint32_t RegisterGraphicsLibrary(VmState* vm)
{
    uint32_t error = AllocFallbackDisplay();
    if (!error) error = RegisterObjectList(&ClipRegionList);
    if (!error) error = RegisterCommandTable(vm, "graphics", kGraphicsCommands);
    if (!error) RegisterPictureFileConstants(vm);
    if (!error) VmRegisterConstants(vm, kAttributeConstants, 0);
    return error;
}

void FreeGraphicsResources(VmState* vm)
{
    FreeAllClipRegions(vm);
    FreeFallbackDisplay();
}
