// The library table and the library exits of shutdown.
#include "core/library_table.h"

#include "core/command_services.h"
#include "core/vm/vm.h"
#include "display/display.h"
#include "display/intervals.h"
#include "draw/text_state.h"
#include "libs/string/string_library.h"
#include "media/sound.h"
#include "media/video.h"

namespace {

// Registers the library under its name with no commands yet.
template <const char* Name>
uint32_t OpenEmptyLibrary(VmState*)
{
    return RegisterLibrary(nullptr, Name);
}

constexpr char kMath[] = "math";
constexpr char kGraphics[] = "graphics";
constexpr char kDraw[] = "draw";
constexpr char kMoveObject[] = "moveobject";
constexpr char kDos[] = "dos";
constexpr char kEvent[] = "event";
constexpr char kSystem[] = "system";
constexpr char kLayers[] = "layers";
constexpr char kText[] = "text";
constexpr char kAnim[] = "anim";
constexpr char kDisplay[] = "display";
constexpr char kBrush[] = "brush";
constexpr char kBGPic[] = "bgpic";
constexpr char kTransitionFX[] = "transitionfx";
constexpr char kSprite[] = "sprite";
constexpr char kMemBlock[] = "memblock";
constexpr char kSound[] = "sound";
constexpr char kVideo[] = "video";
constexpr char kVectorGraphics[] = "vectorgraphics";
constexpr char kNetwork[] = "network";

}  // namespace

const LibraryTableEntry LibraryTable[LIBRARY_COUNT] = {
    {"string", OpenStringLibrary},
    {kMath, OpenEmptyLibrary<kMath>},
    {kGraphics, OpenEmptyLibrary<kGraphics>},
    {kDraw, OpenEmptyLibrary<kDraw>},
    {kMoveObject, OpenEmptyLibrary<kMoveObject>},
    {kDos, OpenEmptyLibrary<kDos>},
    {kEvent, OpenEmptyLibrary<kEvent>},
    {kSystem, OpenEmptyLibrary<kSystem>},
    {kLayers, OpenEmptyLibrary<kLayers>},
    {kText, OpenEmptyLibrary<kText>},
    {kAnim, OpenEmptyLibrary<kAnim>},
    {kDisplay, OpenEmptyLibrary<kDisplay>},
    {kSound, OpenEmptyLibrary<kSound>},
    {kBrush, OpenEmptyLibrary<kBrush>},
    {kBGPic, OpenEmptyLibrary<kBGPic>},
    {kTransitionFX, OpenEmptyLibrary<kTransitionFX>},
    {kSprite, OpenEmptyLibrary<kSprite>},
    {kMemBlock, OpenEmptyLibrary<kMemBlock>},
    {kVectorGraphics, OpenEmptyLibrary<kVectorGraphics>},
    {kNetwork, OpenEmptyLibrary<kNetwork>},
    {kVideo, OpenEmptyLibrary<kVideo>},
};

const SetTagHandler LibrarySetTagHandlers[2] = {nullptr, SoundSetTagHandler};
const GetTagHandler LibraryGetTagHandlers[2] = {nullptr, SoundGetTagHandler};

namespace {

void StopVideos(VmState*) { StopAllVideos(); }
void StopSounds(VmState*) { StopAllSounds(); }
void FreeVideos(VmState*) { FreeAllVideos(); }
void FreeText(VmState*) { FreeTextState(); }

}  // namespace

// Videos and sounds stop before anything they draw on or play through is
// freed; the event library and the audio go last because the others post
// to and play through them until they are gone.
const LibraryExitStep LibraryExitSteps[] = {
    {"stop videos", StopVideos},
    {"stop sounds", StopSounds},
    {"display", FreeAllDisplays},
    {"network", nullptr},
    {"graphics", nullptr},
    {"draw", nullptr},
    {"brush", nullptr},
    {"bgpic", nullptr},
    {"video", FreeVideos},
    {"vectorgraphics", nullptr},
    {"sprite", nullptr},
    {"system", nullptr},
    {"text", FreeText},
    {"anim", nullptr},
    {"layers", nullptr},
    {"dos", nullptr},
    {"memblock", nullptr},
    {"event", FreeAllTimerObjects},
    {"sound", CloseSoundLibrary},
};
const int LIBRARY_EXIT_STEP_COUNT = sizeof LibraryExitSteps / sizeof LibraryExitSteps[0];

uint32_t OpenAllLibraries(AppletInfo* applet, VmState* vm, CoreContext* context)
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

    for (const LibraryTableEntry& library : LibraryTable) {
        VmPushValue(vm, VM_GLOBALSINDEX);
        uint32_t error = library.open(vm);
        VmSetTop(vm, 0);
        if (error)
            return error;
    }
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

void CloseAllLibraries(VmState* vm)
{
    for (int i = 0; i < LIBRARY_EXIT_STEP_COUNT; i++) {
        if (LibraryExitSteps[i].exit)
            LibraryExitSteps[i].exit(vm);
    }
}
