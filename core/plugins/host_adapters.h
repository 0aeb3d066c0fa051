// The adapter setters that plugins call through the host interface. The
// display and sound layers own their adapters; these bridges hand them a
// plugin's information block. Kept apart from the plugin interface header,
// whose capability names the display layer also declares.
#pragma once

#include <cstdint>

struct TimerAdapterState {
    void* info;       // null: no timer adapter
    uint32_t flags;
};
extern TimerAdapterState TimerAdapter;

uint32_t BridgeSetDisplayAdapter(void* info, uint32_t capabilities, const char* name, uint32_t flags,
                                 const void* tags);
uint32_t BridgeSetRequesterAdapter(void* info, uint32_t capabilities, const char* name, uint32_t flags);
uint32_t BridgeSetSoundAdapter(void* info, uint32_t capabilities, const char* name, uint32_t flags,
                               const void* tags);
// ERR_OLDAPPLET, ERR_WRONGUSAGE without capability 0x1000, ERR_SETADAPTER
// past start-up or over a locked timer adapter; 0.
uint32_t BridgeSetTimerAdapter(void* info, uint32_t capabilities, uint32_t flags);
