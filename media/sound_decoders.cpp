// The inbuilt sound decoders as the loader chain sees them: each is a table
// of operations whose work is done in libqm_sound.so, loaded on the first
// sound that reaches one of them, so that applets without sounds do not pay
// for linking libsndfile, libmpg123, libopenmpt and their codecs. When the
// module is missing, such sounds fail to load like any other undecodable
// file. The player keeps the stream: the module reads it through callbacks
// and the stream is closed here, whatever the module answered.
#include "media/sound_decoders.h"

#include <dlfcn.h>

#include <cstdio>
#include <mutex>
#include <string>

#include "core/io/error_codes.h"
#include "core/io/stream.h"
#include "media/sound_module.h"
#include "platform/posix/os_memory.h"
#include "platform/posix/os_paths.h"

namespace {

// The module's table, or null when it could not be loaded; set once.
const QmSndApi* g_soundApi;

// Beside the program first (an installed player carries its module along),
// then by bare name: the build folder through the programs' run path, then
// wherever the dynamic linker looks.
const QmSndApi* SoundModule()
{
    static std::once_flag once;
    std::call_once(once, [] {
        std::string beside = OsProgramDirectory() + "/" QM_SOUND_MODULE_NAME;
        if (LoadSoundModuleFrom(beside.c_str(), &g_soundApi) != 0)
            LoadSoundModuleFrom(QM_SOUND_MODULE_NAME, &g_soundApi);
    });
    return g_soundApi;
}

struct ModuleSound {
    StreamHandle* stream;
    QmSndIo io;  // the module keeps a pointer to it
    const QmSndDecoder* decoder;
    void* state;
};

size_t ModuleSoundRead(void* opaque, void* buffer, size_t size)
{
    return StreamRead(static_cast<StreamHandle*>(opaque), buffer, size);
}

int64_t ModuleSoundSeek(void* opaque, int64_t offset, int origin)
{
    auto* stream = static_cast<StreamHandle*>(opaque);
    int mode = origin == SEEK_SET ? STREAM_SEEK_BEGINNING : origin == SEEK_END ? STREAM_SEEK_END : STREAM_SEEK_CURRENT;
    if (StreamSeek(stream, offset, mode) < 0) return -1;
    return StreamSeek(stream, 0, STREAM_SEEK_CURRENT);
}

uint64_t ModuleSoundSize(void* opaque) { return StreamSize(static_cast<StreamHandle*>(opaque)); }

void CloseModuleSound(void* raw)
{
    auto* s = static_cast<ModuleSound*>(raw);
    if (!s) return;
    if (s->state) s->decoder->close(s->state);
    StreamClose(s->stream);
    OsFreeMem(s);
}

// Opens the stream (taken over, also on failure) with one of the module's
// decoders, chosen by the offset of its entry in the table.
uint32_t OpenModuleSound(QmSndDecoder QmSndApi::*which, StreamHandle* stream, uint32_t purpose, void** state,
                         SoundFormat* format)
{
    const QmSndApi* api = SoundModule();
    auto* s = api ? static_cast<ModuleSound*>(OsAllocMem(sizeof(ModuleSound), 1)) : nullptr;
    if (!s) {
        StreamClose(stream);
        return api ? uint32_t{ERR_MEM} : uint32_t{ERR_LOADSOUND};
    }
    *s = ModuleSound{stream, QmSndIo{stream, ModuleSoundRead, ModuleSoundSeek, ModuleSoundSize,
                                     IsStreamNoSeek(stream) ? 0u : 1u},
                     &(api->*which), nullptr};
    uint32_t error = s->decoder->open(&s->io, purpose, &s->state, format);
    if (error || !s->state) {
        s->state = nullptr;
        CloseModuleSound(s);
        return error == ERR_MEM ? uint32_t{ERR_MEM} : uint32_t{ERR_LOADSOUND};
    }
    *state = s;
    return 0;
}

uint32_t OpenSndfile(StreamHandle* stream, uint32_t purpose, void** state, SoundFormat* format)
{
    return OpenModuleSound(&QmSndApi::sndfile, stream, purpose, state, format);
}

uint32_t OpenMpg123(StreamHandle* stream, uint32_t purpose, void** state, SoundFormat* format)
{
    return OpenModuleSound(&QmSndApi::mpg123, stream, purpose, state, format);
}

uint32_t OpenTrackerModule(StreamHandle* stream, uint32_t purpose, void** state, SoundFormat* format)
{
    return OpenModuleSound(&QmSndApi::module, stream, purpose, state, format);
}

int64_t ReadModuleSound(void* raw, void* buffer, int64_t frames)
{
    auto* s = static_cast<ModuleSound*>(raw);
    return s->decoder->read(s->state, buffer, frames);
}

bool SeekModuleSound(void* raw, uint64_t frame)
{
    auto* s = static_cast<ModuleSound*>(raw);
    return s->decoder->seek(s->state, frame) != 0;
}

}  // namespace

const SoundDecoderOps kSndfileDecoder = {"sndfile", OpenSndfile, ReadModuleSound, SeekModuleSound, CloseModuleSound};
const SoundDecoderOps kMpg123Decoder = {"mpg123", OpenMpg123, ReadModuleSound, SeekModuleSound, CloseModuleSound};
const SoundDecoderOps kModuleDecoder = {"openmpt", OpenTrackerModule, ReadModuleSound, SeekModuleSound,
                                        CloseModuleSound};

uint32_t LoadSoundModuleFrom(const char* path, const QmSndApi** api)
{
    *api = nullptr;
    void* module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!module) return ERR_LOADSOUND;
    auto entry = reinterpret_cast<QmSoundEntryFunc>(dlsym(module, QM_SOUND_ENTRY_NAME));
    const QmSndApi* table = entry ? entry(QM_SOUND_API_VERSION) : nullptr;
    bool whole = table != nullptr;
    if (whole)
        for (const QmSndDecoder* d : {&table->sndfile, &table->mpg123, &table->module})
            whole = whole && d->open && d->read && d->seek && d->close;
    if (!whole) {
        dlclose(module);
        return ERR_LOADSOUND;
    }
    // The module stays for the life of the process: sounds may play until
    // the very end.
    *api = table;
    return 0;
}
