// Sound decoders and the sound loader chain. A decoder turns a sound file
// into interleaved signed PCM frames (8 or 16 bits, one or two channels);
// every decoder is a table of operations, so the inbuilt ones (libsndfile
// for WAV, AIFF, FLAC and Ogg, libmpg123 for MP3, libopenmpt for tracker
// modules) and the sound loader plugins are walked alike. Decoders read
// their files through the stream layer, so ":::chunk" names, memory blocks
// and file adapters serve sounds too, and they treat every file as
// hostile: a broken file is an error naming it, never a crash or a hang.
#pragma once

#include <cstddef>
#include <cstdint>

struct PluginInfo;
struct StreamHandle;

// Music types (the music tag 21).
enum MusicType : uint32_t {
    MUSICTYPE_STREAM = 0,  // sampled sound, decoded as it plays
    MUSICTYPE_MODULE = 1,  // a tracker module, rendered as it plays
};

// What a decoder tells about its sound when it opens.
struct SoundFormat {
    uint32_t channels;   // 1 or 2
    uint32_t frequency;  // frames per second
    uint32_t bits;       // 8 or 16: what read delivers
    int64_t frames;      // length in frames, -1 when not known
    uint32_t bitRate;    // bits per second, 0 when not known
    uint32_t canSeek;
    uint32_t subsongs;   // at least 1
    uint32_t type;       // MusicType
    char format[64];     // the format's name
};

// Why a sound is opened: samples are decoded whole, music is streamed.
enum SoundPurpose : uint32_t {
    SOUNDFOR_SAMPLE = 0,
    SOUNDFOR_MUSIC = 1,
};

struct SoundDecoderOps {
    const char* name;
    // Opens the stream (which the decoder takes over, also on failure):
    // 0, or ERR_LOADSOUND when the file is not of its format or broken,
    // ERR_MEM. The format is cleared before the call.
    uint32_t (*open)(StreamHandle* stream, uint32_t purpose, void** state, SoundFormat* format);
    // Up to `frames` frames into buffer: how many were written, 0 at the
    // end, -1 for a broken file.
    int64_t (*read)(void* state, void* buffer, int64_t frames);
    // Moves to a frame: true on success.
    bool (*seek)(void* state, uint64_t frame);
    void (*close)(void* state);
};

// The inbuilt decoders, in the order they are tried. Their work is done in
// libqm_sound.so (media/sound_module.h), loaded on the first sound that
// reaches one of them; without it they take no file.
extern const SoundDecoderOps kSndfileDecoder;
extern const SoundDecoderOps kMpg123Decoder;
extern const SoundDecoderOps kModuleDecoder;

// Loads the sound decoder module at path (a file name, or a bare name for
// the dynamic linker to find): 0 and its table, or ERR_LOADSOUND with *api
// null when it cannot be loaded, lacks the entry, speaks another version or
// gives a table with holes.
struct QmSndApi;
uint32_t LoadSoundModuleFrom(const char* path, const QmSndApi** api);

// Frames that one read of a sound asks for when it can: LoadSample decodes
// in blocks of this many, and a sound loader plugin is always handed room
// for as many, whatever its caller asked for, so that a plugin that
// writes a whole decoded block into every read stays within its buffer.
constexpr int64_t SOUND_READ_FRAMES = int64_t{1} << 16;

// An open sound: whichever decoder took the file, and what it told.
struct SoundSource {
    const SoundDecoderOps* ops;
    void* state;
    SoundFormat format;
    PluginInfo* producer;  // the sound loader plugin, null for the inbuilt decoders
    // The first frame, decoded at open to know that the sound holds one
    // (headers may promise what the file does not hold), until the first
    // read hands it out: decoders on streams that cannot seek could not
    // give it again.
    uint8_t firstFrame[4];
    uint32_t firstFrameHeld;
};

// Opens a sound through the loader chain: the sound loader plugins that
// the loader list allows, then the inbuilt decoders when it allows
// "inbuilt" (tracker modules only for music). A decoder has taken a file
// only when it decodes a first frame of it. adapterList chooses the file
// adapters that may serve the file. 0, or ERR_OPENSOUND (the file cannot
// be opened), ERR_LOADSOUND (no decoder took it, a plugin that took it
// decodes nothing, or memory ran out); the file name is kept for the
// message.
uint32_t OpenSoundSource(const char* file, const char* loaderList, const char* adapterList, uint32_t purpose,
                         SoundSource* out);
void CloseSoundSource(SoundSource* source);
// What the decoder's read answers, with the frame held from the open
// handed out first.
int64_t ReadSoundSource(SoundSource* source, void* buffer, int64_t frames);
// Moves to a frame, so that the next read starts there: true on success.
bool SeekSoundSource(SoundSource* source, uint64_t frame);

// The decoders on a stream of their own, for the fuzz targets: tries each
// inbuilt decoder in turn on the stream's bytes.
uint32_t OpenInbuiltSoundOnMemory(const uint8_t* data, size_t size, uint32_t purpose, SoundSource* out);

// The most bytes of PCM that all samples loaded by LoadSample hold together.
extern uint64_t MaxSampleBytes;

// Decodes the whole of an open sound into OsAllocMem memory (*outPcm, the
// caller's), in blocks between which the abort flag is read. budget is the
// most bytes the PCM may take: a sound whose length, known at the start,
// is larger is refused before any of it is decoded. 0, ERR_LOADSOUND
// (broken, no frames at all, or over the budget; the name is the caller's
// to set), ERR_MEM or ERR_USERABORT.
uint32_t DecodeSamplePcm(SoundSource* source, uint64_t budget, void** outPcm, uint64_t* outBytes);
