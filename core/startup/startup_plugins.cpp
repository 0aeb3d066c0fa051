// The plugins that start-up loads and shutdown releases. Kept apart from
// the rest of start-up because the plugin interface and the display layer
// each name the capability bits in their own headers.
#include <cstring>

#include "core/plugins/plugin_manager.h"
#include "core/startup/require_tags.h"
#include "core/startup/run_records.h"
#include "core/startup/startup.h"

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

uint32_t RequirePluginWithOptions(VmState* vm, const char* name, std::vector<QmPluginOption>* options,
                                  uint32_t* answer)
{
    for (size_t i = 0; i + 1 < options->size(); ++i)
        (*options)[i].next = &(*options)[i + 1];
    auto* list = options->empty() ? nullptr : reinterpret_cast<QmTagItem*>(options->data());
    return FindOrLoadPlugin(vm, name, 0, 0, false, false, list, answer);
}

uint32_t RequireStartupPlugins(VmState* vm, uint32_t* answer)
{
    std::vector<RequireTagGroup> groups;
    if (Startup.requireTags) {
        if (uint32_t error = ParseRequireTags(Startup.requireTags, &groups))
            return error;
    }
    for (const char* name = Startup.requirePlugins; name && *name; name += std::strlen(name) + 1) {
        std::vector<QmPluginOption> options;
        for (const RequireTagGroup& group : groups) {
            if (!PluginNamesEqual(group.plugin.c_str(), name))
                continue;
            for (const RequireTagSetting& s : group.settings)
                options.push_back(QmPluginOption{nullptr, s.key.c_str(), s.isText ? s.text.c_str() : nullptr, s.number});
        }
        if (uint32_t error = RequirePluginWithOptions(vm, name, &options, answer))
            return error;
    }
    return 0;
}
