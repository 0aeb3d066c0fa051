// OpenVideo on a tiny video that ffmpeg makes: GetAttribute against
// ffprobe, the first frame against the frame ffmpeg extracts, the same
// video through a ":::memory" name (the stream layer), and the refusals:
// "native" has no decoder, sounds and broken files are no videos.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/virtual_names.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/graphics_fixture.h"
#include "media/ffmpeg_module.h"
#include "media/video.h"
#include "media/video_decoder.h"
#include "support/shell_output.h"
#include "support/temp_dir.h"

namespace {

std::string Probe(const std::string& file, const std::string& entry)
{
    std::string text = ShellOutput("ffprobe -v error -select_streams v:0 -show_entries " + entry +
                             " -of default=nw=1:nk=1 '" + file + "'");
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

class VideoFiles : public VmFixture {
protected:
    void SetUp() override
    {
        VmFixture::SetUp();
        Register(OpenVideoLibrary);
        Register(RegisterGraphicsLibrary);
        video = dir.file("clip.mp4");
        ShellOutput("ffmpeg -v error -y -f lavfi -i testsrc=size=48x32:rate=10:duration=1.5 -pix_fmt yuv420p "
              "-c:v mpeg4 -q:v 2 '" + video + "'");
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

TEST_F(VideoFiles, DecoderModuleIsRefusedUnlessWhole)
{
    const QmFfApi* api = nullptr;
    EXPECT_EQ(LoadFfmpegModuleFrom(dir.file("libqm_ffmpeg.so").c_str(), &api), uint32_t{ERR_LOADVIDEO});
    EXPECT_EQ(api, nullptr);
    std::ofstream(dir.file("junk.so"), std::ios::binary) << "not a shared object";
    EXPECT_EQ(LoadFfmpegModuleFrom(dir.file("junk.so").c_str(), &api), uint32_t{ERR_LOADVIDEO});
    // A shared object without the module's entry.
    EXPECT_EQ(LoadFfmpegModuleFrom("libz.so.1", &api), uint32_t{ERR_LOADVIDEO});
    EXPECT_EQ(api, nullptr);
    ASSERT_EQ(LoadFfmpegModuleFrom(QM_BINARY_DIR "/" QM_FFMPEG_MODULE_NAME, &api), 0u);
    ASSERT_NE(api, nullptr);
    // Broken bytes through the module's own table: refused, nothing held.
    struct Bytes {
        std::string data;
        size_t at;
    } bytes{"RIFF\x10\0\0\0AVI LIST garbage", 0};
    QmFfIo io{&bytes,
              [](void* opaque, uint8_t* out, size_t size) {
                  auto* b = static_cast<Bytes*>(opaque);
                  size_t n = std::min(size, b->data.size() - b->at);
                  std::memcpy(out, b->data.data() + b->at, n);
                  b->at += n;
                  return n;
              },
              nullptr, [](void* opaque) { return static_cast<int64_t>(static_cast<Bytes*>(opaque)->data.size()); }};
    QmFfVideoInfo info{};
    void* video = &info;
    EXPECT_EQ(api->open(&io, &info, &video), uint32_t{ERR_LOADVIDEO});
    EXPECT_EQ(video, nullptr);
}

TEST_F(VideoFiles, MemoryNamesGoThroughTheStreamLayer)
{
    std::vector<uint8_t> bytes = ReadFileBytes(video);
    MemoryName name;
    ASSERT_TRUE(MakeMemoryName(bytes.data(), bytes.size(), &name));
    ASSERT_EQ(Open(2, name.c_str()), 0u);
    EXPECT_EQ(Attribute(2, 0), Value{48.0});
    EXPECT_EQ(Attribute(2, 11), Value{15.0});
}

TEST_F(VideoFiles, NativeSoundsAndBrokenFilesAreRefused)
{
    EXPECT_EQ(Open(1, video, "native"), uint32_t{ERR_LOADVIDEO});
    EXPECT_EQ(Open(1, video, "native|inbuilt"), 0u);
    std::string wav = dir.file("tone.wav");
    ShellOutput("ffmpeg -v error -y -f lavfi -i sine=duration=0.2 '" + wav + "'");
    EXPECT_EQ(Open(2, wav), uint32_t{ERR_LOADVIDEO});
    std::vector<uint8_t> bytes = ReadFileBytes(video);
    bytes.resize(bytes.size() / 3);
    std::string cut = dir.file("cut.mp4");
    std::ofstream(cut, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    uint32_t code = Open(3, cut);
    EXPECT_TRUE(code == 0 || code == ERR_LOADVIDEO) << code;
    EXPECT_EQ(Open(4, dir.file("missing.mp4")), uint32_t{ERR_LOADVIDEO});
    char text[256];
    GetErrorText(ERR_LOADVIDEO, text, sizeof text);
    EXPECT_NE(std::string(text).find("missing.mp4"), std::string::npos) << text;
    // Replacing a video frees the old one; a missing id is an error.
    ASSERT_EQ(Open(1, video), 0u);
    Video* v = nullptr;
    EXPECT_EQ(FindVideo(MakeObjectId(9), &v, 0), uint32_t{ERR_FINDVIDEO});
}

}  // namespace
