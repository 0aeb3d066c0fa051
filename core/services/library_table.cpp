// The library table and the library exits of shutdown.
#include "core/services/library_table.h"

#include "core/services/command_services.h"
#include "core/vm/vm.h"
#include "display/display.h"
#include "display/display_library.h"
#include "display/event_library.h"
#include "draw/draw_library.h"
#include "gfx/library/graphics_library.h"
#include "libs/dos/dos_library.h"
#include "libs/math/math_library.h"
#include "libs/memblock/memblock_library.h"
#include "libs/network/network_library.h"
#include "libs/network/socket_layer.h"
#include "libs/string/string_library.h"
#include "libs/system/system_library.h"
#include "media/sound.h"
#include "media/video.h"
#include "transitions/transitionfx.h"

namespace {

void StopVideos(VmState*) { StopAllVideos(); }
void StopSounds(VmState*) { StopAllSounds(); }
void FreeVideos(VmState*) { FreeAllVideos(); }
void FreeDraw(VmState*) { FreeDrawBuffers(); }
void FreeVectors(VmState*) { FreeVectorGraphics(); }

// Closing the files a script left open is the last chance to see that
// their buffered bytes never reached the disk; shutdown reports it.
uint32_t dosCloseError = 0;
void CloseDosLibrary(VmState* vm) { dosCloseError = CleanupDosLibrary(vm); }

}  // namespace

const LibraryTableEntry LibraryTable[LIBRARY_COUNT] = {
    {"string", OpenStringLibrary},
    {"math", RegisterMathLibrary},
    {"graphics", RegisterGraphicsLibrary},
    {"draw", RegisterDrawLibrary},
    {"moveobject", RegisterMoveObjectLibrary},
    {"dos", RegisterDosLibrary},
    {"event", OpenEventLibrary},
    {"system", RegisterSystemLibrary},
    {"layers", OpenLayersLibrary},
    {"text", RegisterTextLibrary},
    {"anim", RegisterAnimLibrary},
    {"display", OpenDisplayLibrary},
    {"sound", OpenSoundLibrary},
    {"brush", RegisterBrushLibrary},
    {"bgpic", RegisterBGPicLibrary},
    {"transitionfx", RegisterTransitionFXLibrary},
    {"sprite", RegisterSpriteLibrary},
    {"memblock", RegisterMemBlockLibrary},
    {"vectorgraphics", RegisterVectorGraphicsLibrary},
    {"network", RegisterNetworkLibrary},
    {"video", OpenVideoLibrary},
};

const SetTagHandler LibrarySetTagHandlers[2] = {SetGraphicsOption, SoundSetTagHandler};
const GetTagHandler LibraryGetTagHandlers[2] = {GetGraphicsOption, SoundGetTagHandler};

// Videos and sounds stop before anything they draw on or play through is
// freed; the event library and the sound library go last because the
// others post to and play through them until they are gone.
const LibraryExitStep LibraryExitSteps[] = {
    {"stop videos", StopVideos},
    {"stop sounds", StopSounds},
    {"display", CloseDisplayLibrary},
    {"network", FreeNetwork},
    {"graphics", FreeGraphicsResources},
    {"draw", FreeDraw},
    {"brush", FreeAllBrushes},
    {"bgpic", FreeAllBGPics},
    {"video", FreeVideos},
    {"vectorgraphics", FreeVectors},
    {"sprite", FreeAllSprites},
    {"system", CleanupSystemLibrary},
    {"text", FreeTextResources},
    {"anim", FreeAllAnims},
    {"layers", CloseLayersLibrary},
    {"dos", CloseDosLibrary},
    {"memblock", FreeAllMemBlocks},
    {"event", CloseEventLibrary},
    {"sound", CloseSoundLibrary},
};
const int LIBRARY_EXIT_STEP_COUNT = sizeof LibraryExitSteps / sizeof LibraryExitSteps[0];

void SetUpLibraryRegistry(AppletInfo* applet, VmState* vm, CoreContext* context)
{
    VmPushCString(vm, "applet");
    VmPushLightUserdata(vm, applet);
    VmRawSet(vm, VM_REGISTRYINDEX);
    VmPushCString(vm, "clargs");
    VmPushLightUserdata(vm, context);
    VmRawSet(vm, VM_REGISTRYINDEX);
    VmPushCString(vm, "inclevels");
    VmNewTable(vm);
    VmPushCString(vm, "count");
    VmPushNumber(vm, 0);
    VmRawSet(vm, -3);
    VmRawSet(vm, VM_REGISTRYINDEX);
    VmPushCString(vm, "_g");
    VmPushValue(vm, VM_GLOBALSINDEX);
    VmRawSet(vm, VM_GLOBALSINDEX);
}

uint32_t OpenLibrary(const LibraryTableEntry& library, VmState* vm)
{
    VmPushValue(vm, VM_GLOBALSINDEX);
    uint32_t error = library.open(vm);
    VmSetTop(vm, 0);
    return error;
}

uint32_t OpenAllLibraries(AppletInfo* applet, VmState* vm, CoreContext* context)
{
    SetUpLibraryRegistry(applet, vm, context);
    for (const LibraryTableEntry& library : LibraryTable) {
        if (uint32_t error = OpenLibrary(library, vm))
            return error;
    }
    return AddLibraryTagHandlers();
}

uint32_t AddLibraryTagHandlers()
{
    for (SetTagHandler handler : LibrarySetTagHandlers) {
        if (handler) {
            if (uint32_t error = AddSetTagHandler(handler))
                return error;
        }
    }
    for (GetTagHandler handler : LibraryGetTagHandlers) {
        if (handler) {
            if (uint32_t error = AddGetTagHandler(handler))
                return error;
        }
    }
    return 0;
}

uint32_t CloseAllLibraries(VmState* vm)
{
    dosCloseError = 0;
    for (int i = 0; i < LIBRARY_EXIT_STEP_COUNT; i++) {
        if (LibraryExitSteps[i].exit)
            LibraryExitSteps[i].exit(vm);
    }
    return dosCloseError;
}
