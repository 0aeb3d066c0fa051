// The plugin manager: the list of plugin files the runtime knows, loading
// them from the plugin folders at start-up and by name on demand,
// registering what they offer to scripts (command libraries, constants,
// saver formats), the plugin listing, and freeing everything at exit.
// Everything here runs on the script thread.
#pragma once

#include <cstdint>

#include "core/plugins/plugin_loader.h"
#include "quillmere/plugin_abi.h"

struct VmState;

// One plugin file that was met: loaded (node set) or only recorded.
struct PluginRecord {
    PluginRecord* next;
    uint32_t capabilities;
    PluginNode* node;          // null while not loaded
    char* name;                // file part with extension
    char* path;                // where it was found
    uint32_t requireCalled;    // RequirePlugin has been called
    uint32_t constantsRegistered;
};

// Head of the list, in the order files were met.
extern PluginRecord* PluginList;

// LoadPluginFile's status for a plugin that is known already.
constexpr uint32_t PLUGIN_ALREADY_KNOWN = 1003;

// Scans the runtime's own temporary folder (when given and present), then
// the folder of the program path. skipList holds names each ended by a zero
// byte, the whole ended by an empty name (null: none). With counter set the
// files are only counted. progressStep, when set, is called after each
// plugin file; its error ends the scan.
uint32_t ScanPluginDirectories(const char* programPath, const char* runtimeTempDir, const char* skipList,
                               uint32_t* counter, uint32_t (*progressStep)() = nullptr);
uint32_t ScanPluginDirectory(const char* directory, const char* skipList, uint32_t* counter,
                             uint32_t (*progressStep)() = nullptr);

// 0 loaded, PLUGIN_ALREADY_KNOWN (with the record), or an error code.
uint32_t LoadPluginFile(const char* path, bool onDemand, PluginRecord** outRecord);

// Registers a loaded plugin's library, constants and saver formats; each
// at most once however often the plugin is activated.
uint32_t ActivatePlugin(VmState* vm, PluginRecord* record);

// Registers the plugin's command libraries (with registerCommands, once) and
// constants (once), then calls InitLibrary: 0, its error code, or
// ERR_LOADPLUGIN for an answer that is neither.
uint32_t RegisterPluginLibrary(PluginRecord* record, VmState* vm, bool registerConstants, bool registerCommands);

// Builds a saver's format-hook array into *destination and registers the
// prefix + name constants.
uint32_t CollectPluginFormatHooks(VmState* vm, const char* prefix, QmRegisterSaverFunc registration,
                                  QmSaverFormat** destination, uint32_t moreBit, PluginInfo* info);

// Finds a loaded plugin by module name (loading a recorded one), checks the
// version, registers an on-demand library and calls RequirePlugin once,
// whose answer counts as InitLibrary's does.
uint32_t FindOrLoadPlugin(VmState* vm, const char* name, int version, int revision, bool constantsOnly,
                          bool adaptersOnly, QmTagItem* tags, void* resultSlot);

// 1, or 0 when out of memory.
int AddSaverFormat(PluginInfo* info, uint32_t formatId, const char* name, const char* secondName,
                   const char* extension, uint32_t value, uint32_t flags);

// Writes the plugin listing; the result of closing the file, 0 when it
// cannot be opened.
int DumpPluginInfo(const char* fileName);

// Calls FreeLibrary of every library plugin whose InitLibrary ran.
void FreePluginLibraries(VmState* vm);

// Unloads every plugin and frees every record.
void FreeAllPlugins();

PluginRecord* FindPluginByInfo(const PluginInfo* info);

// The installed display adapter, set by the display layer.
extern PluginInfo* DisplayAdapterPlugin;
uint32_t QueryAdapterCaps(uint32_t requested);
