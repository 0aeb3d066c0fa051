// OpenMusic: a music object streams from its file, so the decoder stays
// open with the record; the music tags (duration, format, bit rate,
// can-seek, subsongs) are what the decoder told when it opened.
#include <cstdio>
#include <string>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/linked_files.h"
#include "core/plugins/image_loaders.h"
#include "core/services/check_args.h"
#include "core/vm/vm.h"
#include "display/library_support.h"
#include "display/object_list.h"
#include "media/sound.h"
#include "media/sound_commands.h"
#include "media/sound_decoders.h"
#include "platform/posix/os_memory.h"

uint32_t CmdOpenMusic(VmState* vm)
{
    CheckArgs(vm, 2, 3, 0, 0);
    CreateIdArg id = GetCreateIdArg(vm, 1);
    const std::string name = GetFileNameArg(vm, 2);
    const char* file = name.c_str();
    LoaderOptions options;
    ReadLoaderOptions(vm, 3, &options);
    auto* music = static_cast<Music*>(OsAllocMem(sizeof(Music), 1));
    auto* source = static_cast<SoundSource*>(OsAllocMem(sizeof(SoundSource), 1));
    if (!music || !source) {
        OsFreeMem(music);
        OsFreeMem(source);
        // Named like every other failure to open a sound.
        SetErrorText(file);
        return ERR_LOADSOUND;
    }
    uint32_t error = OpenSoundSource(file, options.loader[0] ? options.loader : nullptr,
                                     options.adapter[0] ? options.adapter : nullptr, SOUNDFOR_MUSIC, source);
    if (error) {
        OsFreeMem(music);
        OsFreeMem(source);
        return error;
    }
    const SoundFormat& f = source->format;
    uint64_t ms = f.frames > 0 ? static_cast<uint64_t>(f.frames) * 1000 / f.frequency : 0;
    music->durationMs = ms < UINT32_MAX ? static_cast<uint32_t>(ms) : UINT32_MAX;
    std::snprintf(music->format, sizeof music->format, "%s", f.format);
    music->bitRate = f.bitRate;
    music->pitch = f.frequency;
    music->type = f.type;
    music->canSeek = f.canSeek;
    music->subsongs = f.subsongs;
    music->currentSubsong = 1;
    std::snprintf(music->loader, sizeof music->loader, "%s", GetLoaderName(source->producer));
    music->source = source;
    if (!id.newHandle) {
        Music* old = reinterpret_cast<Music*>(FindObjectInList(reinterpret_cast<ObjectHeader*>(MusicList), id.id));
        if (old) FreeMusic(vm, old);
    }
    return AppendCreatedObject(vm, reinterpret_cast<ObjectHeader**>(&MusicList), &music->header, OBJ_MUSIC, id.id,
                               id.newHandle);
}
