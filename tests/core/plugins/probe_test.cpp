// The host tables as the probe plugin reaches them, one step per table,
// each answer checked against an independent oracle: the RFC vectors, the
// system zlib and libjpeg, the font files and the brush read back.
#include <dlfcn.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

#include "core/io/error_codes.h"
#include "core/services/object_registry.h"
#include "core/vm/vm.h"
#include "display/adapters.h"
#include "display/pictures.h"
#include "gfx/bitmaps/argb_exchange.h"
#include "gfx/bitmaps/bitmap.h"
#include "media/sound.h"
#include "platform/posix/os_memory.h"
#include "platform/posix/os_requester.h"
#include "plugin_fixture.h"

namespace {

using ProbeRunFunc = long (*)(const char* step, const void* argument, char* out, size_t capacity);

class ProbeTest : public PluginTest {
protected:
    void SetUp() override
    {
        PluginTest::SetUp();
        ASSERT_EQ(Load("probe"), 0u);
        module = dlopen(PluginPath("probe").c_str(), RTLD_NOW | RTLD_NOLOAD);
        ASSERT_NE(module, nullptr);
        run = reinterpret_cast<ProbeRunFunc>(dlsym(module, "ProbeRun"));
        ASSERT_NE(run, nullptr);
    }
    void TearDown() override
    {
        if (module)
            dlclose(module);
        PluginTest::TearDown();
    }

    // The step's answer; a failed check of the probe fails the test with
    // the probe's own words.
    std::string Run(const char* step, const void* argument = nullptr)
    {
        std::vector<char> out(1 << 16);
        long n = run(step, argument, out.data(), out.size());
        EXPECT_GE(n, 0) << step << ": " << out.data();
        return n < 0 ? std::string() : std::string(out.data(), static_cast<size_t>(n));
    }

    void* module = nullptr;
    ProbeRunFunc run = nullptr;
};

TEST_F(ProbeTest, EveryTableAnswersAsTheSystemsOwnLibrariesAndFilesDo)
{
    std::string seconds = Run("runtime");
    EXPECT_LE(std::llabs(std::stoll(seconds) - static_cast<long long>(std::time(nullptr))), 5);
    char expected[64];
    std::snprintf(expected, sizeof expected, "|%llx",  // no applet
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(GetEventVmState())));
    EXPECT_EQ(Run("system"), expected);
    // RFC 1321 A.5 (empty input and "abc"), RFC 4648 10, CRC-32 check value.
    EXPECT_EQ(Run("encoders"),
              "d41d8cd98f00b204e9800998ecf8427e|900150983cd24fb0d6963f7d28e17f72|Zm9vYmFy|cbf43926");

    std::vector<uint8_t> data = PatternBytes(3000, 11);
    WriteFileBytes(scratch.file("data.bin"), data);
    std::string read = Run("stream", scratch.file("data.bin").c_str());
    EXPECT_EQ(std::vector<uint8_t>(read.begin(), read.end()), data);
    // The VM's string builder works from a plugin.
    VmState* vm = VmOpenState();
    EXPECT_EQ(Run("vm", vm), "plugin bytes42");
    VmCloseState(vm);

    std::string text;
    for (int i = 0; i < 200; ++i)
        text += "the quick brown fox " + std::to_string(i) + "\n";
    std::string packed = Run("deflate", text.c_str());
    ASSERT_FALSE(packed.empty());
    std::vector<unsigned char> unpacked(text.size() + 16);
    uLongf length = unpacked.size();
    ASSERT_EQ(uncompress(unpacked.data(), &length, reinterpret_cast<const Bytef*>(packed.data()), packed.size()),
              Z_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(unpacked.data()), length), text);

    std::string file = Run("jpeg");
    ASSERT_GT(file.size(), 100u);
    jpeg_decompress_struct d;
    jpeg_error_mgr error;
    d.err = jpeg_std_error(&error);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, reinterpret_cast<const unsigned char*>(file.data()), file.size());
    ASSERT_EQ(jpeg_read_header(&d, TRUE), JPEG_HEADER_OK);
    d.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d);
    ASSERT_EQ(d.output_width, 16u);
    ASSERT_EQ(d.output_height, 16u);
    std::vector<unsigned char> rows(16 * 16 * 3);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = rows.data() + d.output_scanline * 16 * 3;
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    // Red on the left, blue on the right, away from the edge between them.
    for (int y = 0; y < 16; ++y) {
        const unsigned char* left = &rows[(y * 16 + 2) * 3];
        const unsigned char* right = &rows[(y * 16 + 13) * 3];
        EXPECT_GT(left[0], 215) << y;
        EXPECT_LT(left[2], 40) << y;
        EXPECT_LT(right[0], 40) << y;
        EXPECT_GT(right[2], 215) << y;
    }

    EXPECT_EQ(Run("fonts"),
              "Bitstream Vera Sans|65932;Bitstream Vera Sans Mono|49224;Bitstream Vera Serif|60280");
    const char* files[] = {"Vera.ttf", "VeraMono.ttf", "VeraSe.ttf"};
    for (int i = 0; i < 3; ++i) {
        std::vector<uint8_t> bytes =
            ReadFileBytes(std::string("/usr/share/fonts/truetype/ttf-bitstream-vera/") + files[i]);
        const QmInbuiltFontTable* fonts = GetPluginHostApi()->inbuiltFonts;
        ASSERT_EQ(fonts->size[i], bytes.size());
        EXPECT_EQ(std::memcmp(fonts->data[i], bytes.data(), bytes.size()), 0) << files[i];
    }

    EXPECT_EQ(Run("draw", reinterpret_cast<const void*>(uintptr_t{7})), "drawn");
    Brush* brush = nullptr;
    ASSERT_EQ(FindBrush(nullptr, MakeObjectId(7), &brush, 0), 0u);
    uint32_t* argb = ReadBitMapArgb(brush->bitmap, 0, 0, 16, 16, LOCKBITMAP_READ);
    ASSERT_NE(argb, nullptr);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            uint32_t expected = 0;
            if (x >= 2 && x < 6 && y >= 3 && y < 7) expected = 0xFFFFFF;
            if (y == 10) expected = 0x00FF00;
            if (x == 15 && y == 15) expected = 0x0000FF;
            EXPECT_EQ(argb[y * 16 + x] & 0xFFFFFF, expected) << x << "," << y;
        }
    }
    OsFreeMem(argb);
    auto freeBrush = reinterpret_cast<uint32_t (*)(uint32_t)>(GetPluginHostApi()->graphics->slot[QM_GFX_FREEBRUSH]);
    EXPECT_EQ(freeBrush(7), 0u);
    EXPECT_EQ(freeBrush(7), uint32_t(ERR_FINDBRUSH));

    std::string fonts = Run("lists");
    for (const char* face : {"Vera Sans:0\n", "Vera Sans Mono Bold:0\n", "Vera Serif:0\n"})
        EXPECT_NE(fonts.find(std::string("Bitstream ") + face), std::string::npos) << face;
    // In name order, each name once per size.
    std::vector<std::string> lines, names;
    for (size_t at = 0, end; (end = fonts.find('\n', at)) != std::string::npos; at = end + 1) {
        lines.push_back(fonts.substr(at, end - at));
        names.push_back(lines.back().substr(0, lines.back().rfind(':')));
    }
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(std::adjacent_find(lines.begin(), lines.end()), lines.end());

    auto* sample = static_cast<Sample*>(OsAllocMem(sizeof(Sample), 1));
    sample->header.type = OBJ_SAMPLE;
    sample->header.id = 5;
    sample->bits = 16;
    sample->channels = 2;
    sample->frequency = 22050;
    sample->frames = 2;
    sample->pcmBytes = 8;
    sample->pcm = OsAllocMem(8, 1);
    sample->channel = -1;
    Sample* saved = SampleList;
    sample->header.next = reinterpret_cast<ObjectHeader*>(saved);
    SampleList = sample;
    EXPECT_EQ(Run("audio", reinterpret_cast<const void*>(uintptr_t{5})), "16/2/22050/2/8");
    // The replacement stayed (three frames of four bytes); the read-only
    // copy that was cleared did not come back.
    EXPECT_EQ(sample->pcmBytes, 12u);
    EXPECT_EQ(sample->frames, 3u);
    EXPECT_EQ(static_cast<uint8_t*>(sample->pcm)[0], 0x5A);
    SampleList = saved;
    OsFreeMem(sample->pcm);
    OsFreeMem(sample);

    OsSetRequesterBackend(&ScriptedRequesterBackend);
    ScriptedRequesterReset();
    ScriptedAnswer answers[2];
    answers[0].button = 2;
    answers[1].text = "/tmp/pictures";
    for (const ScriptedAnswer& answer : answers)
        ScriptedRequesterPush(answer);
    EXPECT_EQ(Run("requesters"), "2|/tmp/pictures");
    std::vector<ScriptedRequest> log = ScriptedRequesterLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].kind, "system");
    EXPECT_EQ(log[0].title, "Probe");
    EXPECT_EQ(log[0].body, "Go on?");
    EXPECT_EQ(log[1].kind, "path");
    OsSetRequesterBackend(nullptr);
    ScriptedRequesterReset();
}

} // namespace
