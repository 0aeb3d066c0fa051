// OpenVideo on a tiny video that ffmpeg makes: GetAttribute against
// ffprobe, the frame count of every container against ffprobe's count of
// decoded frames (also through a video layer), the first frame against the
// frame ffmpeg extracts, the same video through a ":::memory" name (the
// stream layer), and the refusals: "native" has no decoder, sounds are no
// videos (arbitrary bytes: the fuzz targets).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/stream.h"
#include "core/io/virtual_names.h"
#include "display/layers.h"
#include "display/pictures.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/graphics_fixture.h"
#include "media/ffmpeg_module.h"
#include "media/media_modules.h"
#include "media/video.h"
#include "media/video_decoder.h"
#include "support/oracles.h"
#include "support/shell_output.h"
#include "support/temp_dir.h"
#include "support/test_displays.h"

namespace {

std::string Probe(const std::string& file, const std::string& entry)
{
    std::string text = ShellOutput("ffprobe -v error -select_streams v:0 -show_entries " + entry +
                             " -of default=nw=1:nk=1 '" + file + "'");
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

// ffmpeg's test pattern of the size, rate and length, encoded as `codec`
// (and any further output options) into the file.
std::string MakeClip(const std::string& file, const std::string& size, const std::string& rateAndLength,
                     const std::string& codec)
{
    ShellOutput("ffmpeg -v error -y -f lavfi -i testsrc=size=" + size + ":" + rateAndLength +
                " -pix_fmt yuv420p -c:v " + codec + " '" + file + "'");
    return file;
}

class VideoFiles : public VmFixture {
protected:
    void SetUp() override
    {
        VmFixture::SetUp();
        Register(OpenVideoLibrary);
        Register(RegisterGraphicsLibrary);
        video = MakeClip(dir.file("clip.mp4"), "48x32", "rate=10:duration=1.5", "mpeg4 -q:v 2");
        SetErrorText("");
    }
    void TearDown() override
    {
        FreeAllVideos();
        FreeGraphicsResources(vm);
        VmFixture::TearDown();
    }
    uint32_t Open(double id, const std::string& file, const char* loader = nullptr)
    {
        return OpenFile("openvideo", id, file, loader);
    }
    Value Attribute(double id, double attribute)
    {
        std::vector<Value> out;
        EXPECT_EQ(Call("getattribute", {50.0, id, attribute}, &out), 0u);
        return out.size() == 1 ? out[0] : Value{};
    }
    Video* Found(uint32_t id)
    {
        Video* v = nullptr;
        FindVideo(MakeObjectId(id), &v, 0);
        return v;
    }

    TempDir dir;
    std::string video;
};

TEST_F(VideoFiles, AttributesAgreeWithFfprobe)
{
    ASSERT_EQ(Open(1, video), 0u);
    EXPECT_EQ(Attribute(1, 0), Value{std::stod(Probe(video, "stream=width"))});
    EXPECT_EQ(Attribute(1, 1), Value{std::stod(Probe(video, "stream=height"))});
    EXPECT_EQ(Attribute(1, 11), Value{std::stod(Probe(video, "stream=nb_frames"))});  // ATTRNUMFRAMES
    double duration = std::stod(Probe(video, "format=duration")) * 1000;
    EXPECT_NEAR(std::get<double>(Attribute(1, 14)), duration, 1.0);  // ATTRDURATION
    EXPECT_EQ(Attribute(1, 19), Value{Probe(video, "format=format_name")});  // ATTRFORMAT
    EXPECT_EQ(Attribute(1, 18), Value{0.0});   // ATTRPOSITION
    EXPECT_EQ(Attribute(1, 72), Value{1.0});   // ATTRCANSEEK
    EXPECT_EQ(Attribute(1, 75), Value{1.0});   // ATTRDRIVER: our decoder
    EXPECT_EQ(Attribute(1, 91), Value{std::string("inbuilt")});
    EXPECT_EQ(Attribute(1, 83), Value{0.0});   // not playing
    // The same bytes through a ":::memory" name go through the stream layer.
    std::vector<uint8_t> bytes = ReadFileBytes(video);
    MemoryName name;
    ASSERT_TRUE(MakeMemoryName(bytes.data(), bytes.size(), &name));
    ASSERT_EQ(Open(2, name.c_str()), 0u);
    EXPECT_EQ(Attribute(2, 0), Attribute(1, 0));
    EXPECT_EQ(Attribute(2, 11), Attribute(1, 11));
}

// 64 x 48, 2 s at 25 frames a second: containers that store the count,
// ones that give only a frame rate and a length (the stream's or their
// own), and bare streams that give no length at all, whose frames are
// counted.
TEST_F(VideoFiles, FrameCountsAgreeWithFfprobesCountOfDecodedFrames)
{
    // Without a muxer, ffmpeg goes by the extension.
    struct Clip { const char* file; const char* encoder; const char* muxer; } clips[] = {
        {"clip.ogv", "libtheora", nullptr}, {"vp8.webm", "libvpx", nullptr}, {"clip.avi", "mpeg4", nullptr},
        {"mjpeg.avi", "mjpeg", nullptr},    {"clip.m4v", "mpeg4", "m4v"},     {"clip.mjpeg", "mjpeg", "mjpeg"},
    };
    const std::string encoders = ShellOutput("ffmpeg -hide_banner -encoders 2>/dev/null");
    Display* display = MakeTestDisplay(vm, 1, 64, 48);
    ASSERT_NE(display, nullptr);
    CurrentDisplay = display;
    display->layersEnabled = 1;
    BGPic* picture = nullptr;
    ASSERT_EQ(AddBGPic(vm, MakeObjectId(1), false, AllocColorBitMap(64, 48, 0, nullptr), nullptr, nullptr, 64, 48,
                       &picture), 0u);
    display->shownBGPic = picture;
    double id = 0;
    std::string skipped;
    for (const Clip& c : clips) {
        SCOPED_TRACE(c.file);
        if (encoders.find(std::string(" ") + c.encoder + " ") == std::string::npos) {
            skipped += std::string(" ") + c.file;  // this ffmpeg cannot make it
            continue;
        }
        std::string file = MakeClip(dir.file(c.file), "64x48", "rate=25:duration=2",
                                    c.encoder + (c.muxer ? std::string(" -f ") + c.muxer : ""));
        std::string counted = Probe(file, "stream=nb_read_frames -count_frames");
        ASSERT_FALSE(counted.empty()) << "ffprobe could not count " << file;
        ASSERT_EQ(Open(++id, file), 0u);
        EXPECT_EQ(Attribute(id, 11), Value{std::stod(counted)});  // ATTRNUMFRAMES
        // A layer that shows the video answers for it.
        Video* v = Found(static_cast<uint32_t>(id));
        ASSERT_NE(v, nullptr);
        LayerDesc desc;
        desc.layerType = LAYERTYPE_VIDEO;
        desc.object = &v->header;
        Layer* layer;
        ASSERT_EQ(InsertLayer(picture, 1, desc, &layer), 0u);
        std::vector<Value> out;
        EXPECT_EQ(Call("getattribute", {22.0, 1.0, 11.0}, &out), 0u);
        EXPECT_EQ(out, std::vector<Value>{Value{std::stod(counted)}});
        RemoveLayer(vm, picture, layer);
    }
    if (!OracleAtHand(skipped.empty(), "this ffmpeg has no encoder for" + skipped))
        std::printf("no encoder in this ffmpeg for:%s\n", skipped.c_str());
    display->shownBGPic = nullptr;
    FreeAllDisplays(vm);
    FreeAllBGPics(vm);
}

// A bare stream that cannot go back to its start has no length to tell:
// the open succeeds, and the count is refused, never answered with 0.
TEST_F(VideoFiles, AStreamThatCannotRewindHasNoFrameCount)
{
    std::string file = MakeClip(dir.file("clip.m4v"), "64x48", "rate=25:duration=2", "mpeg4 -f m4v");
    const QmFfApi* api = nullptr;
    ASSERT_EQ(LoadFfmpegModuleFrom(QM_BINARY_DIR "/" QM_FFMPEG_MODULE_NAME, &api), 0u);
    StreamCloser stream{StreamOpen(file.c_str(), STREAM_READ)};
    ASSERT_NE(stream.stream, nullptr);
    QmStreamIo io = ModuleIoOf(stream.stream);
    io.seek = nullptr;
    io.size = [](void*) { return uint64_t{0}; };
    io.canSeek = 0;
    QmFfVideoInfo info{};
    void* video = nullptr;
    ASSERT_EQ(api->open(&io, &info, &video), 0u);
    EXPECT_EQ(std::make_tuple(info.frames, info.framesError, info.width),
              std::make_tuple(int64_t{0}, uint32_t{ERR_SEEKFORMAT}, 64));
    std::vector<uint32_t> argb(64 * 48);
    EXPECT_EQ(api->firstFrame(video, argb.data()), 0u);
    api->close(video);
    VideoBackEnd backEnd{};
    backEnd.framesError = ERR_SEEKFORMAT;
    int64_t frames = -1;
    EXPECT_EQ(GetVideoFrameCount(&backEnd, &frames), uint32_t{ERR_SEEKFORMAT});
    EXPECT_EQ(frames, 0);
}

TEST_F(VideoFiles, FirstFrameMatchesWhatFfmpegExtracts)
{
    std::string raw = dir.file("frame.raw");
    ShellOutput("ffmpeg -v error -y -i '" + video + "' -frames:v 1 -f rawvideo -pix_fmt bgra '" + raw + "'");
    std::vector<uint8_t> expected = ReadFileBytes(raw);
    ASSERT_EQ(expected.size(), size_t{48 * 32 * 4});
    ASSERT_EQ(Open(1, video), 0u);
    Video* v = Found(1);
    ASSERT_NE(v, nullptr);
    ASSERT_NE(v->frame, nullptr);
    BitMapLock lock{};
    ASSERT_TRUE(LockBitMapPixels(v->frame, LOCKBITMAP_READ, &lock));
    int worst = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 48; ++x) {
            uint32_t pixel = reinterpret_cast<const uint32_t*>(lock.pixels)[y * lock.rowLength + x];
            for (int c = 0; c < 3; ++c) {
                int got = (pixel >> (8 * c)) & 0xFF;
                int want = expected[(y * 48 + x) * 4 + c];
                worst = std::max(worst, std::abs(got - want));
            }
        }
    UnlockBitMapPixels(&lock);
    EXPECT_LE(worst, 6);
}

// FFmpeg's scaler writes whole vectors of pixels; a frame whose rows are
// narrower than one must still end where its pixels end.
TEST_F(VideoFiles, NarrowFramesAreWrittenWithinTheirPixels)
{
    const QmFfApi* api = nullptr;
    ASSERT_EQ(LoadFfmpegModuleFrom(QM_BINARY_DIR "/" QM_FFMPEG_MODULE_NAME, &api), 0u);
    for (const char* size : {"4x8", "6x2", "2x30"}) {
        SCOPED_TRACE(size);
        std::vector<uint8_t> data =
            ReadFileBytes(MakeClip(dir.file(std::string("narrow") + size + ".avi"), size, "rate=10:duration=0.3", "mjpeg"));
        ASSERT_FALSE(data.empty());
        MemoryName name;
        ASSERT_TRUE(MakeMemoryName(data.data(), data.size(), &name));
        VideoBackEnd backEnd{};
        ASSERT_EQ(OpenInbuiltVideo(StreamOpen(name.text, STREAM_READ), &backEnd), 0u);
        size_t pixels = static_cast<size_t>(backEnd.width) * static_cast<size_t>(backEnd.height);
        std::vector<uint32_t> argb(pixels + 256, 0xDEADBEEFu);
        EXPECT_EQ(backEnd.ops->firstFrame(backEnd.state, argb.data()), 0u);
        backEnd.ops->close(backEnd.state);
        EXPECT_EQ(std::count(argb.begin() + static_cast<std::ptrdiff_t>(pixels), argb.end(), 0xDEADBEEFu), 256);
    }
}

TEST_F(VideoFiles, NativeSoundsAndBrokenFilesAreRefused)
{
    EXPECT_EQ(Open(1, video, "native"), uint32_t{ERR_LOADVIDEO});
    EXPECT_EQ(Open(1, video, "native|inbuilt"), 0u);
    std::string wav = dir.file("tone.wav");
    ShellOutput("ffmpeg -v error -y -f lavfi -i sine=duration=0.2 '" + wav + "'");
    EXPECT_EQ(Open(2, wav), uint32_t{ERR_LOADVIDEO});
    EXPECT_EQ(Open(4, dir.file("missing.mp4")), uint32_t{ERR_LOADVIDEO});
    char text[256];
    GetErrorText(ERR_LOADVIDEO, text, sizeof text);
    EXPECT_NE(std::string(text).find("missing.mp4"), std::string::npos) << text;
    ASSERT_EQ(Open(1, video), 0u);  // replacing frees the old one
    // Broken bytes through the decoder module's own table: refused, holding
    // nothing.
    const char broken[] = "RIFF\x10\0\0\0AVI LIST garbage";
    WriteFileBytes(dir.file("broken.avi"), std::vector<uint8_t>(broken, broken + sizeof broken - 1));
    const QmFfApi* api = nullptr;
    ASSERT_EQ(LoadFfmpegModuleFrom(QM_BINARY_DIR "/" QM_FFMPEG_MODULE_NAME, &api), 0u);
    StreamCloser stream{StreamOpen(dir.file("broken.avi").c_str(), STREAM_READ)};
    ASSERT_NE(stream.stream, nullptr);
    QmStreamIo io = ModuleIoOf(stream.stream);
    QmFfVideoInfo info{};
    void* held = &info;
    EXPECT_EQ(api->open(&io, &info, &held), uint32_t{ERR_LOADVIDEO});
    EXPECT_EQ(held, nullptr);
}

}  // namespace
