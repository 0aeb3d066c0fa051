// Loading one plugin file: open the shared object, hand the plugin the host
// interface through InitPlugin, check its name and the host version it
// needs, and bind by name the entry points of every capability it declares.
// Which files are loaded and what is done with them is the manager's
// business (plugin_manager.h).
#pragma once

#include <cstdint>

#include "quillmere/plugin_abi.h"

// One loaded library.
struct PluginNode {
    uint32_t capabilities;
    PluginInfo* info;
    void* module;   // dlopen handle
};

// Loads the plugin at path. On success *outCapabilities and *outNode are
// set and 0 is answered; on failure nothing stays allocated or loaded, the
// plugin has left every capability list, the message argument is set and
// the code answered: ERR_MEM, ERR_LOADPLUGIN, ERR_NEWQMPLUGIN,
// ERR_PLUGINSYMBOL or ERR_PLUGINTYPE.
uint32_t OpenPluginLibrary(const char* path, uint32_t* outCapabilities, PluginNode** outNode);

// ClosePlugin (skipped for the foreign call form), unload, free the info
// block and the node. The plugin leaves every capability list first. The
// library's FreeLibrary is the manager's to call before.
void UnloadPlugin(PluginNode* node);

// True when the host cannot call into the plugin: calls of the foreign form
// are not made and count as answering 0 or null.
inline bool IsForeignCallForm(const PluginInfo* info)
{
    return info->callForm == QM_CALLFORM_FOREIGN;
}

// What GetExtensions answered for one capability bit.
inline uint32_t ExtensionWord(const PluginInfo* info, uint32_t capability)
{
    return info->extensions[__builtin_ctz(capability)];
}

// The host interface handed to every plugin (host_api.cpp).
const PluginHostApi* GetPluginHostApi();

// Compares without regard to case through the runtime's case tables.
bool PluginNamesEqual(const char* a, const char* b);
