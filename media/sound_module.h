// The boundary between the player and libqm_sound.so, the module that holds
// the inbuilt sound decoders on libsndfile, libmpg123 and libopenmpt. Those
// libraries and the codecs they pull in (FLAC, Vorbis, Opus, LAME...) cost a
// millisecond of dynamic linking at every start, and most applets never
// play a sound, so the player loads the module only when a sound first
// reaches an inbuilt decoder. Everything crosses as plain C: the player
// hands over its stream as callbacks (media/module_io.h), the module
// answers through one table of function pointers and error codes; nothing
// throws across.
#pragma once

#include <cstdint>

#include "media/module_io.h"
#include "media/sound_decoders.h"

extern "C" {

// One decoder, as SoundDecoderOps but on the module's side of the boundary.
struct QmSndDecoder {
    // Opens a sound on io (which must outlive it): 0 and *state, or
    // ERR_LOADSOUND (not of its format, or broken), ERR_MEM. The format is
    // cleared before the call.
    uint32_t (*open)(const QmStreamIo* io, uint32_t purpose, void** state, SoundFormat* format);
    // Up to `frames` frames into buffer: how many, 0 at the end, -1 when broken.
    int64_t (*read)(void* state, void* buffer, int64_t frames);
    // Moves to a frame: 1 on success, else 0.
    uint32_t (*seek)(void* state, uint64_t frame);
    void (*close)(void* state);
};

struct QmSndApi {
    QmSndDecoder sndfile;  // WAV, AIFF, FLAC, Ogg Vorbis and Opus...
    QmSndDecoder mpg123;   // MPEG audio
    QmSndDecoder module;   // tracker modules, for music only
};

// Raised whenever QmSndApi, the records above or SoundFormat change shape.
#define QM_SOUND_API_VERSION 2u
#define QM_SOUND_MODULE_NAME "libqm_sound.so"
#define QM_SOUND_ENTRY_NAME "QmSoundEntry"

// The module's one export: its table when it speaks version, else null.
// The player calls it once, before any sound opens.
typedef const QmSndApi* (*QmSoundEntryFunc)(uint32_t version);
}
