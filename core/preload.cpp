// Resource preloading. This covers the steps that load no pictures: the
// progress line, the plugins REQUIREPLUGINS names, the default font,
// display 1 with its start-up options, and the warnings the applet
// declares. Declarations of pictures, sounds and the other resources
// are kept in the applet's list, ready for the commands that load them.
#include "core/preload.h"

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
    for (PreloadEntry* e = applet->preloadEntries; e; e = e->next) {
        if (e->kind == PRELOAD_WARNING && e->data && !Startup.noDebug)
            DebugPrintf("*** WARNING %s ***\n", reinterpret_cast<const char*>(e->data));
    }
    SetTags(nullptr, {{TAG_PIXELSWITCH, 0}, {TAG_QUIET, context->quiet}, {TAG_SCRIPTRUNNING, 0}, {TAG_END, 0}});
    SetErrorFunctionName(nullptr);
    PrintDone();
    return 0;
}
