// The timer adapter: a plugin that takes over the runtime's timers. Set
// through the host interface like the display, requester and sound
// adapters, whose setters belong to their services.
#pragma once

#include <cstdint>

#include "quillmere/plugin_abi.h"

// The installed timer adapter, or null.
extern PluginInfo* TimerAdapterPlugin;

// ERR_OLDAPPLET for applets made before 6.0, ERR_WRONGUSAGE without
// capability 0x1000, ERR_SETADAPTER past start-up or over a timer adapter
// whose flag word has bit 0x1; 0. The flags go to the plugin's timer flag
// word.
uint32_t SetTimerAdapter(PluginInfo* info, uint32_t flags);
