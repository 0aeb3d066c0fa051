// Sound records, the sound switches and the silent audio device's events.
// Decoders come with their own issue; what is here keeps the bookkeeping of
// samples and music that the rest of the runtime reads, and plays samples on
// the silent device so that their end events arrive on time.
#include "media/sound.h"

#include <cstdio>
#include <cstring>

#include "core/glue/timers.h"
#include "core/io/error_codes.h"
#include "core/services/check_args.h"
#include "core/startup/run_records.h"
#include "display/event_handlers.h"
#include "display/events.h"
#include "display/object_list.h"
#include "display/script_refs.h"
#include "media/null_audio.h"
#include "media/sound_decoders.h"
#include "platform/posix/os_memory.h"

Sample* SampleList;
Music* MusicList;
SoundSettings SoundSwitches{0, 30, {}};
SoundAdapterState SoundAdapter;

namespace {

bool g_pollHeld;

int HandlerIndex(uint32_t tag)
{
    switch (tag) {
    case SOUNDTAG_ONSAMPLELOOP: return 0;
    case SOUNDTAG_ONSAMPLEEND: return 1;
    case SOUNDTAG_ONMUSICEND: return 2;
    case SOUNDTAG_ONVIDEOEND: return 3;
    default: return -1;
    }
}

bool AnswerSample(uint32_t tag, const Sample* s, SoundTagQuery* q)
{
    uint64_t ms = s->frequency ? s->frames * 1000 / s->frequency : 0;
    switch (tag) {
    case SOUNDTAG_SAMPLETYPE: q->word0 = s->type; return true;
    case SOUNDTAG_SAMPLEDURATION: q->word0 = static_cast<intptr_t>(ms); return true;
    case SOUNDTAG_SAMPLEPITCH: q->word0 = s->pitch; return true;
    case SOUNDTAG_SAMPLEFRAMES: q->word0 = static_cast<intptr_t>(s->frames); return true;
    case SOUNDTAG_SAMPLEPLAYING: q->word0 = s->playing; return true;
    case SOUNDTAG_SAMPLELOADER: q->word1 = reinterpret_cast<intptr_t>(s->loader); return true;
    case SOUNDTAG_SAMPLEPOSITION: {
        uint64_t pos = s->playing && s->channel >= 0 ? NullAudioPosition(s->channel) : 0;
        q->word0 = static_cast<intptr_t>(pos / 1000);
        q->word1 = static_cast<intptr_t>(pos % 1000);
        return true;
    }
    default: return false;
    }
}

bool AnswerMusic(uint32_t tag, const Music* m, SoundTagQuery* q)
{
    switch (tag) {
    case SOUNDTAG_MUSICDURATION: q->word0 = m->durationMs; return true;
    case SOUNDTAG_MUSICPOSITION: q->word0 = m->positionMs; return true;
    case SOUNDTAG_MUSICFORMAT: q->word1 = reinterpret_cast<intptr_t>(m->format); return true;
    case SOUNDTAG_MUSICBITRATE: q->word0 = m->bitRate; return true;
    case SOUNDTAG_MUSICPITCH: q->word0 = m->pitch; return true;
    case SOUNDTAG_MUSICTYPE: q->word0 = m->type; return true;
    case SOUNDTAG_MUSICCANSEEK: q->word0 = m->canSeek; return true;
    case SOUNDTAG_MUSICSUBSONGS: q->word0 = m->subsongs; return true;
    case SOUNDTAG_MUSICSUBSONG: q->word0 = m->currentSubsong; return true;
    case SOUNDTAG_MUSICPLAYING: q->word0 = m->playing; return true;
    case SOUNDTAG_MUSICPAUSED: q->word0 = m->paused; return true;
    case SOUNDTAG_MUSICLOADER: q->word1 = reinterpret_cast<intptr_t>(m->loader); return true;
    default: return false;
    }
}

bool IsSampleTag(uint32_t tag)
{
    return tag == 7 || tag == 8 || tag == 9 || tag == 16 || tag == 24 || tag == 30 || tag == 31;
}

Sample* SampleOnChannel(uint32_t channel, uintptr_t tag)
{
    for (Sample* s = SampleList; s; s = reinterpret_cast<Sample*>(s->header.next))
        if (reinterpret_cast<uintptr_t>(s) == tag && s->channel == static_cast<int32_t>(channel))
            return s;
    return nullptr;
}

void OnDeviceNotice(uint32_t channel, uint32_t notice, uintptr_t tag, void*)
{
    Sample* s = SampleOnChannel(channel, tag);
    if (!s) return;
    ObjectId id{s->header.id, s->header.handle};
    if (notice == AUDIO_ENDED) {
        s->playing = 0;
        s->channel = -1;
    }
    int slot = notice == AUDIO_ENDED ? GEVENT_SAMPLEEND : GEVENT_SAMPLELOOP;
    PostEvent(EVENT_GLOBAL, slot, id, 0, nullptr);
}

}  // namespace

int SoundSetTagHandler(void*, uint32_t tag, intptr_t value)
{
    if (tag == SOUNDTAG_NOSOUND) {
        SoundSwitches.noSound = static_cast<uint32_t>(value);
        return 1;
    }
    if (tag == SOUNDTAG_OPENVALUE) {
        SoundSwitches.openValue = static_cast<uint32_t>(value);
        return 1;
    }
    int index = HandlerIndex(tag);
    if (index < 0) return 0;
    const char* name = reinterpret_cast<const char*>(value);
    std::snprintf(SoundSwitches.handlers[index], sizeof SoundSwitches.handlers[index], "%s",
                  name ? name : "");
    return 1;
}

int SoundGetTagHandler(void*, uint32_t tag, void* pointer)
{
    auto* q = static_cast<SoundTagQuery*>(pointer);
    if (!q) return 0;
    if (tag == SOUNDTAG_NOSOUND || tag == SOUNDTAG_OPENVALUE) {
        q->word0 = tag == SOUNDTAG_NOSOUND ? SoundSwitches.noSound : SoundSwitches.openValue;
        return 1;
    }
    int index = HandlerIndex(tag);
    if (index >= 0) {
        q->word1 = reinterpret_cast<intptr_t>(SoundSwitches.handlers[index]);
        return 1;
    }
    ObjectId id{static_cast<uint32_t>(q->word0), static_cast<uintptr_t>(q->word1)};
    if (IsSampleTag(tag)) {
        Sample* s;
        return FindSample(id, &s) == 0 && AnswerSample(tag, s, q) ? 1 : 0;
    }
    Music* m;
    if (FindMusic(id, &m)) return 0;
    return AnswerMusic(tag, m, q) ? 1 : 0;
}

uint32_t FindSample(ObjectId id, Sample** out)
{
    ObjectHeader* r;
    uint32_t error = FindObjectOrError(reinterpret_cast<ObjectHeader*>(SampleList), id,
                                       ERR_FINDSAMPLE, &r);
    *out = reinterpret_cast<Sample*>(r);
    return error;
}

uint32_t FindMusic(ObjectId id, Music** out)
{
    ObjectHeader* r;
    uint32_t error = FindObjectOrError(reinterpret_cast<ObjectHeader*>(MusicList), id,
                                       ERR_FINDMUSIC, &r);
    *out = reinterpret_cast<Music*>(r);
    return error;
}

uint32_t OpenAudioDevice(VmState* vm)
{
    if (NullAudioIsOpen()) return 0;
    if (SoundSwitches.noSound) return ERR_OPENAUDIO;
    CoreContext* context = RunContextOf(vm);
    uint32_t channels = context ? context->numChannels : 0;
    uint32_t error = NullAudioOpen(channels, SoundSwitches.openValue);
    if (error) return error;
    if (!g_pollHeld) {
        error = AcquirePollTimer(vm, POLL_SLOT_SOUND);
        if (error) {
            NullAudioClose();
            return error;
        }
        g_pollHeld = true;
    }
    SetPollWork(POLL_SLOT_SOUND, PollSoundDevice);
    return 0;
}

uint32_t PlaySampleOnDevice(VmState* vm, Sample* sample, uint32_t loops)
{
    uint32_t error = OpenAudioDevice(vm);
    if (error) return error;
    uint32_t channel = 0;
    uint32_t count = NullAudioChannelCount();
    while (channel < count && NullAudioIsPlaying(channel)) ++channel;
    if (channel == count) return ERR_NOCHANNEL;
    uint32_t frequency = sample->pitch ? sample->pitch : sample->frequency;
    error = NullAudioPlay(channel, sample->frames, frequency, loops,
                          reinterpret_cast<uintptr_t>(sample));
    if (error) return error;
    sample->channel = static_cast<int32_t>(channel);
    sample->playing = 1;
    return 0;
}

void PollSoundDevice(VmState*) { NullAudioPoll(OnDeviceNotice, nullptr); }

void StopAllSounds()
{
    if (!NullAudioIsOpen()) return;
    NullAudioStopAll();
    for (Sample* s = SampleList; s; s = reinterpret_cast<Sample*>(s->header.next)) {
        s->playing = 0;
        s->channel = -1;
    }
    for (Music* m = MusicList; m; m = reinterpret_cast<Music*>(m->header.next)) {
        m->playing = 0;
        m->paused = 0;
    }
}

void FreeSample(VmState* vm, Sample* s)
{
    UnlinkObject(reinterpret_cast<ObjectHeader**>(&SampleList), &s->header);
    if (s->channel >= 0) NullAudioStop(s->channel);
    ReleaseObjectData(vm, &s->header);
    OsFreeMem(s->pcm);
    OsFreeMem(s);
}

void FreeMusic(VmState* vm, Music* m)
{
    if (m->source) {
        CloseSoundSource(m->source);
        OsFreeMem(m->source);
    }
    UnlinkObject(reinterpret_cast<ObjectHeader**>(&MusicList), &m->header);
    ReleaseObjectData(vm, &m->header);
    OsFreeMem(m);
}

void CloseSoundLibrary(VmState* vm)
{
    while (SampleList) FreeSample(vm, SampleList);
    while (MusicList) FreeMusic(vm, MusicList);
}

void FreeAudio()
{
    NullAudioClose();
    SetPollWork(POLL_SLOT_SOUND, nullptr);
    if (g_pollHeld) {
        ReleasePollTimer(GetEventVmState(), POLL_SLOT_SOUND);
        g_pollHeld = false;
    }
    SoundAdapter = SoundAdapterState{};
}

uint32_t SetSoundAdapter(PluginInfo* plugin, uint32_t flags, const QmTagItem* tags)
{
    if (!RequireAppletVersion(6, 0)) return ERR_OLDAPPLET;
    if (!plugin || !(plugin->capabilities & PLUGINCAPS_AUDIOADAPTER)) return ERR_WRONGUSAGE;
    bool same = SoundAdapter.plugin == plugin;
    if (!((flags & 0x2) && same)) {
        // The device keeps whoever opened it.
        if (!AdapterSetupOpen() || NullAudioIsOpen()) return ERR_SETADAPTER;
        SoundAdapter.plugin = plugin;
        SoundAdapter.flags = flags;
    }
    for (const QmTagItem* t = tags; t && t->tag != 0; ++t)
        if (t->tag == 1) SoundAdapter.word = static_cast<uint32_t>(t->value);
    return 0;
}
