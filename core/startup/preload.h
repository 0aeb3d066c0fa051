// Resource preloading: turning the applet's declarations into the displays
// and resources the script finds when its main chunk starts.
#pragma once

#include <cstdint>

struct AppletInfo;
struct CoreContext;
struct VmState;

// 0 or the error code of the first declaration that failed.
uint32_t PreloadResources(CoreContext* context, AppletInfo* applet, VmState* vm);

// Copies the start-up display options of the applet record into a display
// description (what step 7 of preloading does for display 1, or for every
// declared display with ALLDISPLAYS).
struct DisplayDesc;
void ApplyStartupDisplayOptions(const AppletInfo* applet, DisplayDesc* desc);
