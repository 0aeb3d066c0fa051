// Sound loader and video decoder plugins in the loader chain: the test
// plugins serve procedural data that LoadSample, OpenMusic and OpenVideo
// take whole, the loader list picks or passes them.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/plugins/host_graphics.h"
#include "core/plugins/plugin_manager.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/graphics_fixture.h"
#include "media/sound.h"
#include "media/sound_decoders.h"
#include "media/video.h"
#include "media/video_decoder.h"

namespace {

std::string MediaPlugin(const std::string& name)
{
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "plugins_src" / "media" /
            (name + ".qmp"))
        .string();
}

// What the test plugins' "tone" and "blocktone" give.
std::vector<int16_t> ToneFrames(int64_t from, int64_t to)
{
    std::vector<int16_t> frames;
    for (int64_t i = from; i < to; ++i)
        frames.push_back(static_cast<int16_t>(((i * 97) & 0x7FFF) - 0x4000));
    return frames;
}

class MediaPlugins : public VmFixture {
protected:
    void SetUp() override
    {
        VmFixture::SetUp();
        Register(OpenSoundLibrary);
        Register(OpenVideoLibrary);
        for (const char* name : {"procsound", "procvideo"}) {
            PluginRecord* record = nullptr;
            ASSERT_EQ(LoadPluginFile(MediaPlugin(name).c_str(), true, &record), 0u) << name;
        }
    }
    void TearDown() override
    {
        CloseSoundLibrary(vm);
        FreeAllVideos();
        FreeAllPlugins();
        VmFixture::TearDown();
    }
};

TEST_F(MediaPlugins, SoundLoaderServesSamplesAndMusic)
{
    ASSERT_EQ(OpenFile("loadsample", 1, "tone:11025:5000"), 0u);
    Sample* s = nullptr;
    ASSERT_EQ(FindSample(MakeObjectId(1), &s), 0u);
    EXPECT_EQ(s->frequency, 11025u);
    EXPECT_EQ(s->channels, 1u);
    EXPECT_STREQ(s->loader, "procsound");
    auto* pcm = static_cast<const int16_t*>(s->pcm);
    EXPECT_EQ(std::vector<int16_t>(pcm, pcm + s->frames), ToneFrames(0, 5000));
    // The host interface hands a copy of the same frames to plugins.
    QmSampleData* data = HostGetSampleData(1, 1);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->frames, 5000u);
    EXPECT_EQ(data->bits, 16u);
    EXPECT_EQ(static_cast<const int16_t*>(data->data)[4999], pcm[4999]);
    EXPECT_EQ(HostSetSampleData(data), 0u);

    ASSERT_EQ(OpenFile("openmusic", 2, "tone:8000:16000"), 0u);
    Music* m = nullptr;
    ASSERT_EQ(FindMusic(MakeObjectId(2), &m), 0u);
    EXPECT_EQ(m->durationMs, 2000u);
    EXPECT_STREQ(m->format, "Procedural tone");
    EXPECT_EQ(m->bitRate, 128000u);
    EXPECT_EQ(m->canSeek, 1u);
    EXPECT_STREQ(m->loader, "procsound");
    // A stream that the plugin takes but that holds no frame is neither,
    // and the inbuilt decoders are not asked after it.
    for (const char* command : {"openmusic", "loadsample"}) {
        SetErrorText("");
        EXPECT_EQ(OpenFile(command, 3, "tone:8000:0"), uint32_t{ERR_LOADSOUND}) << command;
        char text[1100];
        GetErrorText(ERR_LOADSOUND, text, sizeof text);
        EXPECT_NE(std::string(text).find("tone:8000:0"), std::string::npos) << text;
    }
    EXPECT_NE(FindMusic(MakeObjectId(3), &m), 0u);
}

// Reads a whole source `ask` frames at a time into a buffer with a guard
// after them, which no read may touch.
std::vector<int16_t> ReadInSteps(SoundSource* source, int64_t ask)
{
    std::vector<int16_t> all, buffer(static_cast<size_t>(ask) + 256, 0x5A5A);
    for (int64_t n; (n = ReadSoundSource(source, buffer.data(), ask)) > 0;) {
        EXPECT_LE(n, ask);
        all.insert(all.end(), buffer.begin(), buffer.begin() + n);
        for (size_t i = static_cast<size_t>(ask); i < buffer.size(); ++i)
            if (buffer[i] != 0x5A5A) {
                ADD_FAILURE() << "a read of " << ask << " frames wrote past them";
                return all;
            }
    }
    return all;
}

// "blocktone" writes 64 frames into every read, however few were asked:
// the host's buffers hold them, whatever a caller asks for.
TEST_F(MediaPlugins, PluginWritingWholeBlocksStaysInItsBuffer)
{
    ASSERT_EQ(OpenFile("loadsample", 1, "blocktone:8000:1000"), 0u);
    Sample* s = nullptr;
    ASSERT_EQ(FindSample(MakeObjectId(1), &s), 0u);
    const auto* pcm = static_cast<const int16_t*>(s->pcm);
    EXPECT_EQ(std::vector<int16_t>(pcm, pcm + s->frames), ToneFrames(0, 1000));
    ASSERT_EQ(OpenFile("openmusic", 1, "blocktone:8000:1000"), 0u);
    for (int64_t ask : {1, 3, 64, 100}) {
        SoundSource source;
        ASSERT_EQ(OpenSoundSource("blocktone:8000:1000", nullptr, nullptr, SOUNDFOR_MUSIC, &source), 0u);
        EXPECT_EQ(ReadInSteps(&source, ask), ToneFrames(0, 1000)) << ask;
        CloseSoundSource(&source);
    }
}

// A seek before or between reads: the frame held from the open and what
// the plugin decoded ahead are dropped.
TEST_F(MediaPlugins, SeekStartsTheNextReadAtItsFrame)
{
    for (const char* name : {"tone:8000:300", "blocktone:8000:300"}) {
        SoundSource source;
        ASSERT_EQ(OpenSoundSource(name, nullptr, nullptr, SOUNDFOR_MUSIC, &source), 0u);
        ASSERT_TRUE(SeekSoundSource(&source, 0));
        EXPECT_EQ(ReadInSteps(&source, 7), ToneFrames(0, 300)) << name;
        ASSERT_TRUE(SeekSoundSource(&source, 50));
        EXPECT_EQ(ReadInSteps(&source, 1000), ToneFrames(50, 300)) << name;
        CloseSoundSource(&source);
        ASSERT_EQ(OpenSoundSource(name, nullptr, nullptr, SOUNDFOR_MUSIC, &source), 0u);
        ASSERT_TRUE(SeekSoundSource(&source, 50));
        int16_t some[10];
        ASSERT_EQ(ReadSoundSource(&source, some, 10), 10);
        EXPECT_EQ(std::vector<int16_t>(some, some + 10), ToneFrames(50, 60)) << name;
        ASSERT_TRUE(SeekSoundSource(&source, 290));
        EXPECT_EQ(ReadInSteps(&source, 4), ToneFrames(290, 300)) << name;
        // Past the end is refused and changes nothing.
        EXPECT_FALSE(SeekSoundSource(&source, 301));
        CloseSoundSource(&source);
    }
}

TEST_F(MediaPlugins, LoaderListsChooseOrPassThePlugins)
{
    // Only the inbuilt decoders: the procedural name is no file.
    EXPECT_EQ(OpenFile("loadsample", 1, "tone:8000:10", "inbuilt"), uint32_t{ERR_OPENSOUND});
    EXPECT_EQ(OpenFile("loadsample", 1, "tone:8000:10", "procsound"), 0u);
    EXPECT_EQ(OpenFile("openvideo", 1, "bars:8:4:3", "inbuilt"), uint32_t{ERR_LOADVIDEO});
    EXPECT_EQ(OpenFile("openvideo", 1, "bars:8:4:3", "procvideo"), 0u);
}

TEST_F(MediaPlugins, VideoDecoderGivesSizeLengthAndFirstFrame)
{
    ASSERT_EQ(OpenFile("openvideo", 3, "bars:20:10:25"), 0u);
    Video* v = nullptr;
    ASSERT_EQ(FindVideo(MakeObjectId(3), &v, 0), 0u);
    EXPECT_EQ(v->width, 20);
    EXPECT_EQ(v->height, 10);
    EXPECT_EQ(OsVideoGetDuration(v->backEnd), 1000);
    EXPECT_EQ(v->backEnd->frames, 25);
    EXPECT_STREQ(OsVideoGetFormatName(v->backEnd), "Procedural bars");
    EXPECT_STREQ(v->loader, "procvideo");
    BitMapLock lock{};
    ASSERT_TRUE(LockBitMapPixels(v->frame, LOCKBITMAP_READ, &lock));
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x)
            ASSERT_EQ(reinterpret_cast<const uint32_t*>(lock.pixels)[y * lock.rowLength + x] & 0xFFFFFF,
                      uint32_t(x << 16 | y << 8));
    UnlockBitMapPixels(&lock);
    // A picture too large to hold is refused before anything is allocated.
    EXPECT_EQ(OpenFile("openvideo", 4, "bars:100000:100000:1"), uint32_t{ERR_LOADVIDEO});
}

}  // namespace
