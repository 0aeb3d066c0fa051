// The plugins that start-up loads and shutdown releases. Kept apart from
// the rest of start-up because the plugin interface and the display layer
// each name the capability bits in their own headers.
#include <cstring>

#include "core/plugins/plugin_manager.h"
#include "core/run_records.h"
#include "core/startup.h"

uint32_t LoadStartupPlugins(CoreContext* context)
{
    const char* tempDir = Startup.tempDirectory[0] ? Startup.tempDirectory : nullptr;
    if (uint32_t error = ScanPluginDirectories(context->programPath, tempDir, Startup.skipPlugins, nullptr))
        return error;
    for (PluginRecord* record = PluginList; record; record = record->next) {
        if (uint32_t error = ActivatePlugin(ProgramVmState, record))
            return error;
    }
    return 0;
}

void FreeStartupPluginLibraries(VmState* vm) { FreePluginLibraries(vm); }

void UnloadStartupPlugins() { FreeAllPlugins(); }

uint32_t RequireStartupPlugins(VmState* vm)
{
    for (const char* name = Startup.requirePlugins; name && *name; name += std::strlen(name) + 1) {
        if (uint32_t error = FindOrLoadPlugin(vm, name, 0, 0, false, false, nullptr, nullptr))
            return error;
    }
    return 0;
}
