// The silent audio device keeps real time and reports loops and ends; the
// sound library's tag handlers and adapter rules.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/glue/timers.h"
#include "core/io/error_codes.h"
#include "display/adapters.h"
#include "display/event_handlers.h"
#include "display/events.h"
#include "media/null_audio.h"
#include "media/sound.h"
#include "platform/posix/os_memory.h"
#include "platform/posix/os_runloop.h"

namespace {

struct Notice { uint32_t channel; uint32_t kind; uintptr_t tag; };

void Record(uint32_t channel, uint32_t kind, uintptr_t tag, void* user)
{
    static_cast<std::vector<Notice>*>(user)->push_back({channel, kind, tag});
}

class NullAudioTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        NullAudioSetManualClock(true, 1000000);
        ASSERT_EQ(NullAudioOpen(4, 30), 0);
    }
    void TearDown() override
    {
        NullAudioClose();
        NullAudioSetManualClock(false, 0);
    }
    std::vector<Notice> Poll()
    {
        std::vector<Notice> out;
        NullAudioPoll(Record, &out);
        return out;
    }
    void At(uint64_t micros) { NullAudioSetManualClock(true, 1000000 + micros); }
};

TEST_F(NullAudioTest, SoundEndsWhenItsLastFrameIsDue)
{
    // 22050 frames at 44100 Hz: half a second.
    ASSERT_EQ(NullAudioPlay(1, 22050, 44100, 1, 77), 0);
    At(499999);
    EXPECT_TRUE(Poll().empty());
    EXPECT_EQ(NullAudioPosition(1), 499u);
    At(500000);
    auto n = Poll();
    ASSERT_EQ(n.size(), 1u);
    EXPECT_EQ(std::tie(n[0].channel, n[0].kind, n[0].tag), std::make_tuple(1u, uint32_t{AUDIO_ENDED}, uintptr_t{77}));
    EXPECT_FALSE(NullAudioIsPlaying(1));
    EXPECT_TRUE(Poll().empty()) << "an end is reported once";
}

TEST_F(NullAudioTest, LoopsAreReportedAndMissedOnesCollapse)
{
    ASSERT_EQ(NullAudioPlay(0, 1000, 1000, 3, 5), 0);  // three passes of one second
    At(1000000);
    auto n = Poll();
    ASSERT_EQ(n.size(), 1u);
    EXPECT_EQ(n[0].kind, uint32_t{AUDIO_LOOPED});
    At(5000000);  // the second loop point and the end went by unseen
    n = Poll();
    ASSERT_EQ(n.size(), 2u);
    EXPECT_EQ(std::make_pair(n[0].kind, n[1].kind), std::make_pair(uint32_t{AUDIO_LOOPED}, uint32_t{AUDIO_ENDED}));

    ASSERT_EQ(NullAudioPlay(0, 1000, 1000, 0, 6), 0);  // endless
    At(5000000 + 1000000000ull);                        // a thousand seconds later
    n = Poll();
    ASSERT_EQ(n.size(), 1u) << "one notice, not a thousand";
    EXPECT_TRUE(NullAudioIsPlaying(0));
}

TEST_F(NullAudioTest, PauseStopsTheClockOfItsChannel)
{
    ASSERT_EQ(NullAudioPlay(2, 1000, 1000, 1, 0), 0);
    At(400000);
    NullAudioPause(2);
    At(5000000);
    EXPECT_TRUE(Poll().empty());
    EXPECT_EQ(NullAudioPosition(2), 400u);
    NullAudioResume(2);
    At(5599999);
    EXPECT_TRUE(Poll().empty());
    At(5600000);
    EXPECT_EQ(Poll().size(), 1u);
}

TEST_F(NullAudioTest, BadRequestsAreRefused)
{
    EXPECT_EQ(NullAudioPlay(4, 100, 1000, 1, 0), int{ERR_CHANNELRANGE});
    EXPECT_EQ(NullAudioPlay(0, 100, 0, 1, 0), int{ERR_WRONGUSAGE});
    NullAudioClose();
    EXPECT_EQ(NullAudioPlay(0, 100, 1000, 1, 0), int{ERR_OPENAUDIO});
    EXPECT_EQ(NullAudioOpen(kMaxAudioChannels + 1, 0), int{ERR_OPENAUDIO});
    NullAudioClose();
    NullAudioClose();
    EXPECT_EQ(NullAudioPoll(Record, nullptr), 0u);
}

// ------------------------------------------------------------ sound library

class SoundLibraryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(InitPlatformGlue(), 0u);
        ASSERT_EQ(InitEventQueue(), 0u);
    }
    void TearDown() override
    {
        StopAllSounds();
        CloseSoundLibrary(nullptr);
        FreeAudio();
        FreeEventQueue();
        ResetAdapters();
        OsShutdown();
        SoundSwitches = SoundSettings{0, 30, {}};
    }
    Sample* AddSample(uint32_t id, uint64_t frames, uint32_t frequency)
    {
        auto* s = static_cast<Sample*>(OsAllocMem(sizeof(Sample), 1));
        s->header.type = OBJ_SAMPLE;
        s->header.id = id;
        s->frames = frames;
        s->frequency = frequency;
        s->channel = -1;
        std::strcpy(s->loader, "inbuilt");
        Sample** link = &SampleList;
        while (*link) link = reinterpret_cast<Sample**>(&(*link)->header.next);
        *link = s;
        return s;
    }
};

TEST_F(SoundLibraryTest, PlayedSampleEndsWithAnEvent)
{
    Sample* s = AddSample(8, 441, 44100);  // 10 ms
    ASSERT_EQ(PlaySampleOnDevice(nullptr, s, 1), 0u);
    EXPECT_EQ(s->playing, 1u);
    bool ended = false;
    uint64_t limit = OsMonotonicNanos() + 10ull * 1000000000ull;
    while (!ended && OsMonotonicNanos() < limit) {
        WaitForOsEvent(nullptr, 1, 0, 0);
        uint32_t code;
        PumpOsEvents(nullptr, 2, 0, &code);
        while (QueuedEvent* e = TakeEvent()) {
            if (e->type == EVENT_GLOBAL && e->slot == GEVENT_SAMPLEEND && e->target.id == 8)
                ended = true;
            FreeQueuedEvent(e);
        }
    }
    EXPECT_TRUE(ended);
    EXPECT_EQ(s->playing, 0u);
}

TEST_F(SoundLibraryTest, AdapterRules)
{
    PluginInfo info{}, other{};
    info.capabilities = PLUGINCAPS_DISPLAYADAPTER;
    EXPECT_EQ(SetSoundAdapter(&info, 0, nullptr), uint32_t{ERR_WRONGUSAGE});
    info.capabilities = other.capabilities = PLUGINCAPS_AUDIOADAPTER;
    QmTagItem tags[] = {{1, 9}, {0, 0}};
    ASSERT_EQ(SetSoundAdapter(&info, 0, tags), 0u);
    EXPECT_TRUE(SoundAdapter.plugin == &info && SoundAdapter.word == 9);
    SetAdapterSetupOpen(false);
    QmTagItem again[] = {{1, 12}, {0, 0}};
    EXPECT_EQ(SetSoundAdapter(&info, 0x2, again), 0u) << "the same plugin may still change its word";
    EXPECT_EQ(SoundAdapter.word, 12u);
    EXPECT_EQ(SetSoundAdapter(&info, 0, again), uint32_t{ERR_SETADAPTER}) << "without flag 0x2";
    EXPECT_EQ(SetSoundAdapter(&other, 0x2, again), uint32_t{ERR_SETADAPTER});
    SetAdapterSetupOpen(true);
    NullAudioOpen(2, 0);
    EXPECT_EQ(SetSoundAdapter(&other, 0, nullptr), uint32_t{ERR_SETADAPTER}) << "the device is open";
}

}  // namespace
