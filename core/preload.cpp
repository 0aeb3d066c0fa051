// Resource preloading. This covers the steps that load no pictures: the
// progress line, the plugins REQUIREPLUGINS names, the default font,
// display 1 with its start-up options, the warnings the applet declares and
// the declared displays, made through the script command CreateDisplay. Declarations of pictures, sounds and the other resources
// are kept in the applet's list, ready for the commands that load them.
#include "core/preload.h"

#include "core/option_tables.h"
#include "core/vm/vm.h"
#include "display/display.h"

#include "core/applet.h"
#include "core/command_services.h"
#include "core/io/errors.h"
#include "core/io/messages.h"
#include "core/io/utilities.h"
#include "core/options.h"
#include "core/startup.h"
#include "draw/text_state.h"

void ApplyStartupDisplayOptions(const AppletInfo* applet, DisplayDesc* desc)
{
    if (applet->displayMode)
        desc->mode = applet->displayMode;
    if (applet->screenWidth != -1)
        desc->scrWidth = applet->screenWidth;
    if (applet->screenHeight != -1)
        desc->scrHeight = applet->screenHeight;
    if (applet->screenDepth != -1)
        desc->scrDepth = static_cast<uint32_t>(applet->screenDepth);
    if (applet->scaleWidth)
        desc->scaleWidth = applet->scaleWidth;
    if (applet->scaleHeight)
        desc->scaleHeight = applet->scaleHeight;
    if (applet->monitor)
        desc->monitor = static_cast<uint32_t>(applet->monitor);
    if (applet->backfill.kind)
        desc->backfill.desc = applet->backfill;
    else if (applet->backfill.hideTitleBar)
        desc->backfill.desc.hideTitleBar = 1;
    desc->flags |= applet->displayFlags;
}

namespace {

struct DisplayFlagKey {
    const char* key;
    uint32_t flag;
};

constexpr DisplayFlagKey kDisplayFlagKeys[] = {
    {"borderless", DISPFLAG_BORDERLESS},   {"sizeable", DISPFLAG_SIZEABLE},
    {"fixed", DISPFLAG_FIXED},             {"nohide", DISPFLAG_NOHIDE},
    {"nomodeswitch", DISPFLAG_NOMODESWITCH}, {"smoothscale", DISPFLAG_SMOOTHSCALE},
    {"hidepointer", DISPFLAG_HIDEPOINTER}, {"layers", DISPFLAG_LAYERS},
    {"noclose", DISPFLAG_NOCLOSE},         {"keepproportions", DISPFLAG_KEEPPROPORTIONS},
    {"fitscale", DISPFLAG_FITSCALE},       {"keepscreenon", DISPFLAG_KEEPSCREENON},
    {"hidefromtaskbar", DISPFLAG_HIDEFROMTASKBAR}, {"hideoptionsmenu", DISPFLAG_HIDEOPTIONSMENU},
    {"nohardwarescale", DISPFLAG_NOHARDWARESCALE}, {"disableblanker", DISPFLAG_DISABLEBLANKER},
    {"rememberposition", DISPFLAG_REMEMBERPOSITION}, {"hidden", DISPFLAG_HIDDEN},
};

constexpr uint32_t kFlagBackgroundPicture = 512;

// CreateDisplay(id, options) for one declared display, as if the script
// had called it; its error code, reported at the declaration's line.
uint32_t CreateDeclaredDisplay(VmState* vm, const PreloadEntry* entry, bool bgpicOneDeclared)
{
    const auto* d = static_cast<const DisplayDesc*>(entry->details);
    int top = VmGetTop(vm);
    VmPushCString(vm, "createdisplay");
    VmGetTable(vm, VM_GLOBALSINDEX);
    if (VmType(vm, -1) != VM_TFUNCTION) {
        VmSetTop(vm, top);
        return 0;
    }
    VmPushNumber(vm, entry->id);
    VmNewTable(vm);
    int t = VmGetTop(vm);
    SetTableString(vm, t, "title", d->title);
    SetTableInt(vm, t, "x", d->x);
    SetTableInt(vm, t, "y", d->y);
    SetTableInt(vm, t, "width", d->width);
    SetTableInt(vm, t, "height", d->height);
    SetTableUnsigned(vm, t, "color", d->color);
    if (d->scaleWidth)
        SetTableInt(vm, t, "scalewidth", d->scaleWidth);
    if (d->scaleHeight)
        SetTableInt(vm, t, "scaleheight", d->scaleHeight);
    if (d->flags & kFlagBackgroundPicture)
        SetTableUnsigned(vm, t, "bgpic", d->bgpic);
    else if (bgpicOneDeclared && entry->id == 1)
        SetTableInt(vm, t, "bgpic", 1);
    if (d->flags & DISPFLAG_LAYERSCALE)
        SetTableInt(vm, t, "scalemode", 2);
    else if (d->flags & DISPFLAG_AUTOSCALE)
        SetTableInt(vm, t, "scalemode", 1);
    for (const DisplayFlagKey& f : kDisplayFlagKeys) {
        if (d->flags & f.flag)
            SetTableInt(vm, t, f.key, 1);
    }
    if (d->monitor)
        SetTableInt(vm, t, "monitor", static_cast<int32_t>(d->monitor));
    if (d->mode)
        SetTableString(vm, t, "mode", GetDisplayModeName(d->mode));
    if (d->scrWidth != -1)
        SetTableInt(vm, t, "scrwidth", d->scrWidth);
    if (d->scrHeight != -1)
        SetTableInt(vm, t, "scrheight", d->scrHeight);
    if (d->scrDepth)
        SetTableUnsigned(vm, t, "scrdepth", d->scrDepth);
    uint32_t error = VmPCall(vm, 2, 0, 0);
    VmSetTop(vm, top);
    return error;
}

}  // namespace

uint32_t PreloadResources(CoreContext* context, AppletInfo* applet, VmState* vm)
{
    if (context->isApplet)
        PrintMessage(GetString(MSG_LOADING_APPLET), context->scriptPath, 1);
    if (uint32_t error = RequireStartupPlugins(vm))
        return error;
    if (int error = InitTextState())
        return static_cast<uint32_t>(error);
    if (!FindPreloadDisplay(applet)) {
        if (uint32_t error = AddPreloadDisplay(nullptr, applet))
            return error;
    }
    if (!context->noOptionOverride) {
        for (PreloadEntry* e = applet->preloadEntries; e; e = e->next) {
            if (e->kind != PRELOAD_DISPLAY || !e->details)
                continue;
            if (e->id == 1 || context->allDisplays)
                ApplyStartupDisplayOptions(applet, static_cast<DisplayDesc*>(e->details));
        }
    }
    bool bgpicOneDeclared = false;
    for (PreloadEntry* e = applet->preloadEntries; e; e = e->next)
        bgpicOneDeclared = bgpicOneDeclared || (e->kind == PRELOAD_BGPIC && e->id == 1);
    for (PreloadEntry* e = applet->preloadEntries; e; e = e->next) {
        if (e->kind == PRELOAD_WARNING && e->data && !Startup.noDebug)
            DebugPrintf("*** WARNING %s ***\n", reinterpret_cast<const char*>(e->data));
        if (e->kind == PRELOAD_DISPLAY && e->details && vm) {
            if (uint32_t error = CreateDeclaredDisplay(vm, e, bgpicOneDeclared))
                return error;
        }
    }
    SetTags(nullptr, {{TAG_PIXELSWITCH, 0}, {TAG_QUIET, context->quiet}, {TAG_SCRIPTRUNNING, 0}, {TAG_END, 0}});
    SetErrorFunctionName(nullptr);
    PrintDone();
    return 0;
}
