// The per-capability plugin lists that the loader chains walk: image, anim
// and sound loaders, video decoders, file and directory adapters. Each is a
// singly linked list of nodes {next, info} in the order plugins entered it.
// A plugin is in a list at most once, and leaves every list when it is
// unloaded or when its loading fails.
#pragma once

#include <cstdint>

#include "quillmere/plugin_abi.h"

struct PluginListNode {
    PluginListNode* next;
    PluginInfo* info;
};

// The head of the list for one of the six capabilities; null for any other
// bit or an empty list.
PluginListNode* GetPluginListForCapability(uint32_t capability);

// Appends the plugin unless it is there already: 0, ERR_MEM, or
// ERR_WRONGUSAGE for a capability without a list.
int AddPluginToCapabilityList(PluginInfo* info, uint32_t capability);

// Takes the plugin out of one list (no-op when it is not in it).
void RemovePluginFromCapabilityList(PluginInfo* info, uint32_t capability);

// Takes the plugin out of all six lists.
void RemovePluginFromAllCapabilityLists(PluginInfo* info);

// True when the node of that list holding info exists.
bool IsPluginInCapabilityList(const PluginInfo* info, uint32_t capability);
