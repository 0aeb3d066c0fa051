// The inbuilt sound decoders as the loader chain sees them: each is a table
// of operations whose work is done in libqm_sound.so, loaded on the first
// sound that reaches one of them, so that applets without sounds do not pay
// for linking libsndfile, libmpg123, libopenmpt and their codecs. When the
// module is missing, such sounds fail to load like any other undecodable
// file. The player keeps the stream: the module reads it through callbacks
// and the stream is closed here, whatever the module answered.
#include "media/sound_decoders.h"

#include "core/io/error_codes.h"
#include "core/io/stream.h"
#include "media/media_modules.h"
#include "media/sound_module.h"
#include "platform/posix/os_memory.h"

namespace {

// The module's table, or null when it could not be loaded.
const QmSndApi* SoundModule()
{
    static const QmSndApi* api = LoadModuleNearProgram(QM_SOUND_MODULE_NAME, LoadSoundModuleFrom);
    return api;
}

struct ModuleSound {
    StreamHandle* stream;
    QmStreamIo io;  // the module keeps a pointer to it
    const QmSndDecoder* decoder;
    void* state;
};

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
    *s = ModuleSound{stream, ModuleIoOf(stream), &(api->*which), nullptr};
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

namespace {

bool WholeSoundApi(const QmSndApi* table)
{
    for (const QmSndDecoder* d : {&table->sndfile, &table->mpg123, &table->module})
        if (!d->open || !d->read || !d->seek || !d->close) return false;
    return true;
}

}  // namespace

uint32_t LoadSoundModuleFrom(const char* path, const QmSndApi** api)
{
    *api = LoadModuleTable(path, QM_SOUND_ENTRY_NAME, QM_SOUND_API_VERSION, WholeSoundApi);
    return *api ? 0 : uint32_t{ERR_LOADSOUND};
}
