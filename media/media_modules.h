// What the player shares between its media modules (libqm_sound.so and
// libqm_ffmpeg.so): finding and loading one, and the callbacks through
// which a module reads the player's stream.
#pragma once

#include <dlfcn.h>

#include <cstdint>
#include <string>

#include "media/module_io.h"
#include "platform/posix/os_paths.h"

struct StreamHandle;

// The table that the module at path (a file, or a bare name for the dynamic
// linker) gives through its one export entryName when asked for version;
// null when the module is missing, lacks the export, speaks another version
// or whole(table) finds holes in it. A loaded module stays for the life of
// the process: what it decodes may be open until the very end.
template <typename Api>
const Api* LoadModuleTable(const char* path, const char* entryName, uint32_t version, bool (*whole)(const Api*))
{
    void* module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!module) return nullptr;
    auto entry = reinterpret_cast<const Api* (*)(uint32_t)>(dlsym(module, entryName));
    const Api* table = entry ? entry(version) : nullptr;
    if (!table || !whole(table)) {
        dlclose(module);
        return nullptr;
    }
    return table;
}

// Beside the program first (an installed player carries its modules
// along), then by bare name: the build folder through the programs' run
// path, then wherever the dynamic linker looks.
template <typename Api>
const Api* LoadModuleNearProgram(const char* name, uint32_t (*loadFrom)(const char* path, const Api** api))
{
    const Api* api = nullptr;
    std::string beside = OsProgramDirectory() + "/" + name;
    if (loadFrom(beside.c_str(), &api) != 0) loadFrom(name, &api);
    return api;
}

// The callbacks on stream, which must outlive every use of them.
QmStreamIo ModuleIoOf(StreamHandle* stream);
