// The "sound" and "video" libraries: their object lists and the commands
// that resource preloading calls by name.
#include "core/services/object_registry.h"
#include "display/library_support.h"
#include "media/sound.h"
#include "media/sound_commands.h"
#include "media/video.h"

namespace {

const CommandTableEntry kSoundCommands[] = {
    {"LoadSample", CmdLoadSample},
    {"OpenMusic", CmdOpenMusic},
    {nullptr, nullptr},
};

const CommandTableEntry kVideoCommands[] = {
    {"OpenVideo", CmdOpenVideo},
    {nullptr, nullptr},
};

}  // namespace

uint32_t OpenSoundLibrary(VmState* vm)
{
    uint32_t error = RegisterObjectList(&SampleList);
    if (!error) error = RegisterObjectList(&MusicList);
    if (!error) error = RegisterCommandTable(vm, "sound", kSoundCommands);
    return error;
}

uint32_t OpenVideoLibrary(VmState* vm)
{
    uint32_t error = InitVideoList();
    if (!error) error = RegisterObjectList(&VideoList);
    if (!error) error = RegisterCommandTable(vm, "video", kVideoCommands);
    return error;
}
