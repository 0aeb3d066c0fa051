/* What every test plugin shares: the export attribute and the PluginInfo
 * fields they all fill alike (each plugin sets what differs afterwards). */
#pragma once

#include <stdint.h>

#include "quillmere/plugin_abi.h"

#define EXPORT __attribute__((visibility("default")))

static inline void FillTestPluginInfo(PluginInfo* info, uint32_t capabilities, const char* name,
                                      const char* modulename, const char* description)
{
    info->capabilities = capabilities;
    info->version = 1;
    info->revision = 0;
    info->neededVersion = 6;
    info->neededRevision = 1;
    info->name = name;
    info->modulename = modulename;
    info->author = "Test author";
    info->description = description;
    info->copyright = "none";
    info->date = "07.12.2026";
}

/* GetExtensions of a plugin that offers none. */
#define EXPORT_NO_EXTENSIONS \
    EXPORT uint32_t GetExtensions(uint32_t capability, uintptr_t reserved) { (void)capability; (void)reserved; return 0; }
