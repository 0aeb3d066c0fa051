// The silent audio device: channel bookkeeping against the monotonic clock.
// Only the script thread plays, stops and polls, so nothing here is locked.
#include "media/null_audio.h"

#include "core/io/error_codes.h"
#include "platform/posix/os_time.h"

namespace {

struct Channel {
    bool playing;
    bool paused;
    uintptr_t tag;
    uint64_t passMicros;   // length of one pass
    uint32_t loops;        // passes to play, 0 = endless
    uint64_t passesDone;   // passes already reported
    uint64_t startMicros;  // when pass 0 began (moved forward by pauses)
    uint64_t pausedAt;
};

struct Device {
    bool open;
    uint32_t channelCount;
    uint32_t openValue;
    Channel channels[kMaxAudioChannels];
};

Device g_device;
bool g_manualClock;
uint64_t g_manualMicros;

uint64_t NowMicros()
{
    if (g_manualClock) return g_manualMicros;
    return OsMonotonicNanos() / 1000u;
}

Channel* GetChannel(uint32_t channel)
{
    if (!g_device.open || channel >= g_device.channelCount) return nullptr;
    return &g_device.channels[channel];
}

uint64_t Elapsed(const Channel& c, uint64_t now)
{
    uint64_t at = c.paused ? c.pausedAt : now;
    return at > c.startMicros ? at - c.startMicros : 0;
}

}  // namespace

int NullAudioOpen(uint32_t channels, uint32_t openValue)
{
    if (g_device.open) return 0;
    if (channels == 0) channels = kDefaultAudioChannels;
    if (channels > kMaxAudioChannels) return ERR_OPENAUDIO;
    g_device = Device{};
    g_device.open = true;
    g_device.channelCount = channels;
    g_device.openValue = openValue;
    return 0;
}

bool NullAudioIsOpen() { return g_device.open; }

uint32_t NullAudioChannelCount() { return g_device.open ? g_device.channelCount : 0; }

void NullAudioClose() { g_device = Device{}; }

int NullAudioPlay(uint32_t channel, uint64_t frames, uint32_t frequency, uint32_t loops,
                  uintptr_t tag)
{
    if (!g_device.open) return ERR_OPENAUDIO;
    Channel* c = GetChannel(channel);
    if (!c) return ERR_CHANNELRANGE;
    if (frequency == 0) return ERR_WRONGUSAGE;
    // Rounded up so that a pass never ends before its last frame was due.
    uint64_t micros = (frames * 1000000u + frequency - 1) / frequency;
    *c = Channel{true, false, tag, micros ? micros : 1, loops, 0, NowMicros(), 0};
    return 0;
}

void NullAudioStop(uint32_t channel)
{
    if (Channel* c = GetChannel(channel)) *c = Channel{};
}

void NullAudioStopAll()
{
    for (uint32_t i = 0; i < g_device.channelCount; ++i) g_device.channels[i] = Channel{};
}

void NullAudioPause(uint32_t channel)
{
    Channel* c = GetChannel(channel);
    if (c && c->playing && !c->paused) {
        c->paused = true;
        c->pausedAt = NowMicros();
    }
}

void NullAudioResume(uint32_t channel)
{
    Channel* c = GetChannel(channel);
    if (c && c->playing && c->paused) {
        c->startMicros += NowMicros() - c->pausedAt;
        c->paused = false;
    }
}

bool NullAudioIsPlaying(uint32_t channel)
{
    Channel* c = GetChannel(channel);
    return c && c->playing;
}

uint64_t NullAudioPosition(uint32_t channel)
{
    Channel* c = GetChannel(channel);
    if (!c || !c->playing) return 0;
    uint64_t elapsed = Elapsed(*c, NowMicros());
    if (c->loops && elapsed / c->passMicros >= c->loops) return c->passMicros / 1000;
    return (elapsed % c->passMicros) / 1000;
}

uint32_t NullAudioPoll(NullAudioNotify notify, void* user)
{
    uint32_t notices = 0;
    uint64_t now = NowMicros();
    for (uint32_t i = 0; i < g_device.channelCount; ++i) {
        Channel& c = g_device.channels[i];
        if (!c.playing || c.paused) continue;
        uint64_t passes = Elapsed(c, now) / c.passMicros;
        if (c.loops && passes > c.loops) passes = c.loops;
        if (passes <= c.passesDone) continue;
        bool ended = c.loops && passes >= c.loops;
        // Loop points missed while nobody polled give one notice, not a
        // flood of them.
        if (passes - c.passesDone > (ended ? 1u : 0u)) {
            c.passesDone = ended ? passes - 1 : passes;
            uint64_t start = c.startMicros;
            ++notices;
            if (notify) notify(i, AUDIO_LOOPED, c.tag, user);
            // The callback may have stopped or restarted the channel.
            if (!c.playing || c.startMicros != start) continue;
        }
        if (ended) {
            uintptr_t tag = c.tag;
            c = Channel{};
            ++notices;
            if (notify) notify(i, AUDIO_ENDED, tag, user);
        }
    }
    return notices;
}

void NullAudioSetManualClock(bool on, uint64_t micros)
{
    g_manualClock = on;
    g_manualMicros = micros;
}
