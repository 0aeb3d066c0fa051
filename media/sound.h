// The sound library's records and services: samples and music objects, the
// audio device (opened on first use), the tag handlers through which the
// runtime sets the sound switches and GetAttribute asks about sounds, the
// sound adapter plugin, and the end and loop events of playing sounds.
#pragma once

#include <cstdint>

#include "core/services/object_registry.h"
#include "display/adapters.h"

struct VmState;
struct SoundSource;

struct Sample {
    ObjectHeader header;
    uint32_t type;         // sample type (the loader's word)
    uint64_t frames;       // length in sample frames
    uint32_t frequency;    // frames per second
    uint32_t pitch;        // playback frequency
    uint32_t bits;         // 8 or 16
    uint32_t channels;     // 1 or 2
    uint32_t looping;
    int32_t channel;       // the audio channel it plays on, -1 when silent
    uint32_t playing;
    char loader[64];
    void* pcm;             // the sample data (OsAllocMem), owned
    uint64_t pcmBytes;
};

struct Music {
    ObjectHeader header;
    uint32_t durationMs;
    uint32_t positionMs;
    char format[64];
    uint32_t bitRate;
    uint32_t pitch;
    uint32_t type;
    uint32_t canSeek;
    uint32_t subsongs;
    uint32_t currentSubsong;
    uint32_t playing;
    uint32_t paused;
    char loader[64];
    SoundSource* source;   // the open decoder the music streams from, owned
};

extern Sample* SampleList;
extern Music* MusicList;

// The sound switches set through SetTags.
struct SoundSettings {
    uint32_t noSound;        // tag 2
    uint32_t openValue;      // tag 3, handed to the audio system when it opens
    char handlers[4][128];   // tags 12, 13, 18, 23: "onsampleloop", "onsampleend", "onmusicend", "onvideoend"
};
extern SoundSettings SoundSwitches;

enum SoundTag : uint32_t {
    SOUNDTAG_NOSOUND = 2,
    SOUNDTAG_OPENVALUE = 3,
    SOUNDTAG_SAMPLETYPE = 7,
    SOUNDTAG_SAMPLEDURATION = 8,
    SOUNDTAG_SAMPLEPITCH = 9,
    SOUNDTAG_ONSAMPLELOOP = 12,
    SOUNDTAG_ONSAMPLEEND = 13,
    SOUNDTAG_MUSICDURATION = 14,
    SOUNDTAG_MUSICPOSITION = 15,
    SOUNDTAG_SAMPLEPOSITION = 16,
    SOUNDTAG_MUSICFORMAT = 17,
    SOUNDTAG_ONMUSICEND = 18,
    SOUNDTAG_MUSICBITRATE = 19,
    SOUNDTAG_MUSICPITCH = 20,
    SOUNDTAG_MUSICTYPE = 21,
    SOUNDTAG_ONVIDEOEND = 23,
    SOUNDTAG_SAMPLEFRAMES = 24,
    SOUNDTAG_MUSICCANSEEK = 25,
    SOUNDTAG_MUSICSUBSONGS = 26,
    SOUNDTAG_MUSICSUBSONG = 27,
    SOUNDTAG_MUSICPLAYING = 28,
    SOUNDTAG_MUSICPAUSED = 29,
    SOUNDTAG_SAMPLEPLAYING = 30,
    SOUNDTAG_SAMPLELOADER = 31,
    SOUNDTAG_MUSICLOADER = 32,
};

// What a get-tag query passes by reference: on entry the object's id pair
// (number, handle) for the sample and music tags; on return a number in
// word0, or a string pointer in word1 for the string tags, or two numbers
// (seconds and milliseconds of the position) for sample tag 16.
struct SoundTagQuery {
    intptr_t word0;
    intptr_t word1;
};

// The handlers registered with AddSetTagHandler and AddGetTagHandler:
// 1 when the tag was theirs, else 0.
int SoundSetTagHandler(void* context, uint32_t tag, intptr_t value);
int SoundGetTagHandler(void* context, uint32_t tag, void* pointer);

// 0, or ERR_FINDSAMPLE / ERR_FINDMUSIC (ERR_FINDARRAY for a handle id).
uint32_t FindSample(ObjectId id, Sample** out);
uint32_t FindMusic(ObjectId id, Music** out);

// Opens the audio output on first use with the channel count of the run's
// options (0: the device's default) and the open value of tag 3; starts
// the sound library's share of the poll timer. Nothing with NOSOUND.
uint32_t OpenAudioDevice(VmState* vm);
// Starts a sample on a free channel of the device (opening it first).
uint32_t PlaySampleOnDevice(VmState* vm, Sample* sample, uint32_t loops);

// Called on every poll-timer tick: turns the device's loop and end notices
// into "OnSampleLoop" and "OnSampleEnd" events.
void PollSoundDevice(VmState* vm);

uint32_t OpenSoundLibrary(VmState* vm);
// Stops every channel when the device is open.
void StopAllSounds();
// Frees every sample and music record with their references.
void CloseSoundLibrary(VmState* vm);
// Stop, unlink and free one record (a music's decoder closes with it).
void FreeSample(VmState* vm, Sample* sample);
void FreeMusic(VmState* vm, Music* music);
// Stops all sound and closes the audio system (the last exit).
void FreeAudio();

struct SoundAdapterState {
    PluginInfo* plugin;  // null: no adapter
    uint32_t flags;
    uint32_t word;       // tag 1
};
extern SoundAdapterState SoundAdapter;
// ERR_OLDAPPLET before 6.0; ERR_WRONGUSAGE without capability 0x10000; with
// flag 0x2 and the plugin already the adapter only tag 1 is applied;
// ERR_SETADAPTER once the audio device is open or start-up is over.
uint32_t SetSoundAdapter(PluginInfo* plugin, uint32_t flags, const QmTagItem* tags);
