// The audio device of a machine without sound output. It mixes nothing but
// keeps real time: a channel that starts playing a sound of n frames at f
// frames per second ends n / f seconds later, loops as often as it was told
// to, and reports its end and loop points when it is polled, so that scripts
// get their end events when a real device would have given them.
#pragma once

#include <cstdint>

constexpr uint32_t kDefaultAudioChannels = 8;
constexpr uint32_t kMaxAudioChannels = 64;

// What happened on a channel since the last poll.
enum NullAudioNotice : uint32_t {
    AUDIO_LOOPED = 1,  // one pass ended and the next began
    AUDIO_ENDED = 2,   // the last pass ended; the channel is free again
};

using NullAudioNotify = void (*)(uint32_t channel, uint32_t notice, uintptr_t tag, void* user);

// Opens the device with `channels` channels (0 = the default); `openValue`
// is kept for plugins that ask what the script passed. 0, or ERR_OPENAUDIO
// for a channel count above the maximum. Opening an open device does nothing.
int NullAudioOpen(uint32_t channels, uint32_t openValue);
bool NullAudioIsOpen();
uint32_t NullAudioChannelCount();
// Stops every channel and closes the device; safe when it is not open.
void NullAudioClose();

// Starts `frames` frames at `frequency` Hz on a channel, playing `loops`
// passes (0 = until stopped). `tag` comes back with every notice.
// 0, ERR_OPENAUDIO when the device is closed, ERR_CHANNELRANGE for a bad
// channel, ERR_WRONGUSAGE for a zero frequency.
int NullAudioPlay(uint32_t channel, uint64_t frames, uint32_t frequency, uint32_t loops,
                  uintptr_t tag);
void NullAudioStop(uint32_t channel);
void NullAudioStopAll();
void NullAudioPause(uint32_t channel);
void NullAudioResume(uint32_t channel);
bool NullAudioIsPlaying(uint32_t channel);
// Position in the current pass, in milliseconds; 0 for an idle channel.
uint64_t NullAudioPosition(uint32_t channel);

// Reports every loop point and end that time has reached, in time order
// per channel; returns how many notices were given.
uint32_t NullAudioPoll(NullAudioNotify notify, void* user);

// Tests move time by hand instead of waiting for it: while a manual clock is
// set, the device reads it (in microseconds) instead of the monotonic clock.
void NullAudioSetManualClock(bool on, uint64_t micros);
