// How LoadSample decodes a sound, on a decoder made here that counts what
// it is asked for: a length known at the start over the budget is refused
// with no decoding at all, a sound of unknown length stops as soon as it
// outgrows the budget, an abort stops between blocks, a sound of no frames
// is no sample.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "core/io/error_codes.h"
#include "core/vm/error_hooks.h"
#include "media/sound_decoders.h"
#include "platform/posix/os_memory.h"

namespace {

// Mono 16-bit frames whose value is their number; the decoder hands out
// at most `piece` frames a call, and may raise the abort flag on a call.
struct CountingSound {
    int64_t frames;         // what the file really holds
    int64_t at = 0;
    int64_t piece = 1 << 20;
    int reads = 0;
    int64_t largestAsk = 0;
    int abortOnRead = 0;    // 1-based read that raises the abort flag, 0 none
};

int64_t CountingRead(void* raw, void* buffer, int64_t frames)
{
    auto* s = static_cast<CountingSound*>(raw);
    ++s->reads;
    s->largestAsk = std::max(s->largestAsk, frames);
    if (s->reads == s->abortOnRead)
        VmAbortFlag.store(1);
    int64_t n = std::min({frames, s->piece, s->frames - s->at});
    auto* out = static_cast<int16_t*>(buffer);
    for (int64_t i = 0; i < n; ++i)
        out[i] = static_cast<int16_t>(s->at + i);
    s->at += n;
    return n;
}

bool CountingSeek(void*, uint64_t) { return false; }
void CountingClose(void*) {}

const SoundDecoderOps kCounting = {"counting", nullptr, CountingRead, CountingSeek, CountingClose};

class SampleDecoding : public ::testing::Test {
protected:
    void TearDown() override
    {
        VmAbortFlag.store(0);
        OsFreeMem(pcm);
    }
    // Decodes a sound that declares `declared` frames (-1 unknown).
    uint32_t Decode(CountingSound* sound, int64_t declared, uint64_t budget)
    {
        SoundSource source{};
        source.ops = &kCounting;
        source.state = sound;
        source.format.channels = 1;
        source.format.bits = 16;
        source.format.frequency = 8000;
        source.format.frames = declared;
        OsFreeMem(pcm);
        pcm = nullptr;
        bytes = 0;
        return DecodeSamplePcm(&source, budget, &pcm, &bytes);
    }
    void* pcm = nullptr;
    uint64_t bytes = 0;
};

TEST_F(SampleDecoding, KnownLengthOverTheBudgetIsRefusedBeforeDecoding)
{
    CountingSound sound{1000};
    EXPECT_EQ(Decode(&sound, 1000, 1999), uint32_t{ERR_LOADSOUND});
    EXPECT_EQ(sound.reads, 0);
    EXPECT_EQ(pcm, nullptr);
    // Exactly the budget fits.
    CountingSound fits{1000};
    EXPECT_EQ(Decode(&fits, 1000, 2000), 0u);
    EXPECT_EQ(bytes, 2000u);
    // A header that claims the absurd is refused the same way.
    CountingSound absurd{10};
    EXPECT_EQ(Decode(&absurd, INT64_MAX, uint64_t{1} << 30), uint32_t{ERR_LOADSOUND});
    EXPECT_EQ(absurd.reads, 0);
}

TEST_F(SampleDecoding, UnknownLengthStopsOnceItOutgrowsTheBudget)
{
    CountingSound sound{int64_t{1} << 40, 0, 4096};
    EXPECT_EQ(Decode(&sound, -1, 100000), uint32_t{ERR_LOADSOUND});
    // 50000 frames fit in the budget: a dozen pieces, and one frame more.
    EXPECT_LE(sound.at, 50001);
    EXPECT_LE(sound.reads, 50000 / 4096 + 2);
    EXPECT_EQ(pcm, nullptr);
    // A sound that fills the budget to the frame is whole.
    CountingSound full{50000, 0, 4096};
    EXPECT_EQ(Decode(&full, -1, 100000), 0u);
    EXPECT_EQ(bytes, 100000u);
}

TEST_F(SampleDecoding, AbortStopsBetweenBlocks)
{
    // A decoder that delivers everything it is asked for still gets asked
    // in blocks, each followed by a look at the abort flag.
    CountingSound sound{int64_t{1} << 24, 0, int64_t{1} << 30, 0, 0, 2};
    EXPECT_EQ(Decode(&sound, int64_t{1} << 24, uint64_t{1} << 30), uint32_t{ERR_USERABORT});
    EXPECT_EQ(sound.reads, 2);
    EXPECT_LE(sound.largestAsk, 65536);
    EXPECT_EQ(pcm, nullptr);
    VmAbortFlag.store(0);
    CountingSound whole{int64_t{1} << 18, 0, int64_t{1} << 30};
    EXPECT_EQ(Decode(&whole, int64_t{1} << 18, uint64_t{1} << 30), 0u);
    EXPECT_LE(whole.largestAsk, 65536);
    ASSERT_EQ(bytes, uint64_t{2} << 18);
    EXPECT_EQ(static_cast<const int16_t*>(pcm)[12345], 12345);
}

// A sound shorter than its header keeps what it holds: the sound files'
// tests, on files that say more than they hold.
TEST_F(SampleDecoding, NoFramesIsNoSample)
{
    for (int64_t declared : {int64_t{-1}, int64_t{0}, int64_t{100}}) {
        CountingSound empty{0};
        EXPECT_EQ(Decode(&empty, declared, 1 << 20), uint32_t{ERR_LOADSOUND}) << declared;
        EXPECT_EQ(pcm, nullptr);
    }
}

}  // namespace
