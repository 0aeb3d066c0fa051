// LoadSample and OpenMusic on real files made by independent tools (Python,
// sox, ffmpeg) and a ProTracker module written here: lossless PCM comes
// back exactly, lossy PCM close to the signal, music tags as ffprobe and
// soxi read them; broken files end in an error that names them.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/stream.h"
#include "core/io/virtual_names.h"
#include "core/plugins/plugin_manager.h"
#include "core/services/command_services.h"
#include "gfx/graphics_fixture.h"
#include "media/sound.h"
#include "media/media_modules.h"
#include "media/sound_decoders.h"
#include "media/sound_module.h"
#include "support/shell_output.h"
#include "support/silent_flac.h"
#include "support/temp_dir.h"
#include "support/tiny_module.h"

namespace {

constexpr int kFrames = 22050;
constexpr int kRate = 22050;

// The generated stereo signal: a sine on the left, a saw on the right.
int16_t Left(int i) { return static_cast<int16_t>(12000 * std::sin(i * 0.0627)); }
int16_t Right(int i) { return static_cast<int16_t>((i * 37) % 65536 - 32768); }

std::string Message(uint32_t code)
{
    char text[1100];
    GetErrorText(code, text, sizeof text);
    return text;
}

// The resident memory of this process, in kilobytes.
long ResidentKb()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

double Probe(const std::string& file, const std::string& entry)
{
    std::string text = ShellOutput("ffprobe -v error -show_entries " + entry + " -of default=nw=1:nk=1 '" + file + "'");
    return text.empty() ? -1 : std::stod(text);
}

class SoundFiles : public VmFixture {
protected:
    void SetUp() override
    {
        VmFixture::SetUp();
        Register(OpenSoundLibrary);
        Register(RegisterGraphicsLibrary);
        ASSERT_EQ(AddGetTagHandler(SoundGetTagHandler), 0u);
        // Python makes the signal of Left and Right itself.
        wav = dir.file("sound.wav");
        ShellOutput("/usr/bin/python3 -c \"import math, struct, wave; w = wave.open('" + wav +
                    "', 'wb'); w.setnchannels(2); w.setsampwidth(2); w.setframerate(22050); w.writeframes(b''.join("
                    "struct.pack('<hh', int(12000 * math.sin(i * 0.0627)), (i * 37) % 65536 - 32768) "
                    "for i in range(22050))); w.close()\"");
        SetErrorText("");
    }
    void TearDown() override
    {
        CloseSoundLibrary(vm);
        FreeGraphicsResources(vm);
        VmFixture::TearDown();
    }
    std::string Make(const std::string& name, const std::string& command)
    {
        std::string file = dir.file(name);
        ShellOutput(command + " '" + file + "' 2>/dev/null");
        return file;
    }
    Sample* FoundSample(uint32_t id)
    {
        Sample* s = nullptr;
        FindSample(MakeObjectId(id), &s);
        return s;
    }
    Music* FoundMusic(uint32_t id)
    {
        Music* m = nullptr;
        FindMusic(MakeObjectId(id), &m);
        return m;
    }
    std::vector<Value> Attribute(double type, double id, double attribute)
    {
        std::vector<Value> out;
        EXPECT_EQ(Call("getattribute", {type, id, attribute}, &out), 0u);
        return out;
    }

    TempDir dir;
    std::string wav;
};

TEST_F(SoundFiles, LosslessSamplesComeBackExactly)
{
    std::vector<std::string> files = {wav, Make("sound.flac", "sox '" + wav + "'"),
                                      Make("sound.aiff", "sox '" + wav + "'")};
    for (const std::string& file : files) {
        ASSERT_EQ(OpenFile("loadsample", 1, file), 0u) << file << ": " << Message(ERR_LOADSOUND);
        Sample* s = FoundSample(1);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->frames, uint64_t{kFrames}) << file;
        EXPECT_EQ(s->frequency, uint32_t{kRate});
        EXPECT_EQ(s->channels, 2u);
        EXPECT_EQ(s->bits, 16u);
        ASSERT_EQ(s->pcmBytes, uint64_t{kFrames} * 4);
        auto* pcm = static_cast<const int16_t*>(s->pcm);
        int wrong = 0;
        for (int i = 0; i < kFrames; ++i) wrong += pcm[2 * i] != Left(i) || pcm[2 * i + 1] != Right(i);
        EXPECT_EQ(wrong, 0) << file;
    }
    // What GetAttribute reads through the sound library's tags.
    EXPECT_EQ(Attribute(2, 1, 14), std::vector<Value>{1000.0});  // ATTRDURATION
    EXPECT_EQ(Attribute(2, 1, 11), std::vector<Value>{double(kFrames)});
    EXPECT_EQ(Attribute(2, 1, 91), std::vector<Value>{std::string("inbuilt")});
}

TEST_F(SoundFiles, EightBitMonoStaysEightBit)
{
    std::string file = dir.file("mono8.wav");
    ShellOutput("/usr/bin/python3 -c \"import wave; w = wave.open('" + file +
        "', 'wb'); w.setnchannels(1); w.setsampwidth(1); w.setframerate(8000); "
        "w.writeframes(bytes(range(256))); w.close()\"");
    ASSERT_EQ(OpenFile("loadsample", 2, file), 0u) << Message(ERR_LOADSOUND);
    Sample* s = FoundSample(2);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->bits, 8u);
    EXPECT_EQ(s->channels, 1u);
    ASSERT_EQ(s->frames, 256u);
    // Unsigned bytes on file, signed in the sample.
    for (int i = 0; i < 256; ++i) ASSERT_EQ(static_cast<const int8_t*>(s->pcm)[i], i - 128);
}

TEST_F(SoundFiles, LossySamplesStayCloseToTheSignal)
{
    for (const char* kind : {"ogg", "mp3"}) {
        std::string codec = std::string(kind) == "ogg" ? "libvorbis -q:a 6" : "libmp3lame -b:a 192k";
        std::string file = Make(std::string("sound.") + kind, "ffmpeg -v error -y -i '" + wav + "' -c:a " + codec);
        ASSERT_EQ(OpenFile("loadsample", 3, file), 0u) << kind << ": " << Message(ERR_LOADSOUND);
        Sample* s = FoundSample(3);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->frequency, uint32_t{kRate});
        EXPECT_EQ(s->channels, 2u);
        EXPECT_NEAR(double(s->frames), kFrames, 1152) << kind;
        // The sine channel: signal-to-noise against the generator.
        auto* pcm = static_cast<const int16_t*>(s->pcm);
        double signal = 0, noise = 0;
        for (int i = 0; i < kFrames && uint64_t(i) < s->frames; ++i) {
            signal += double(Left(i)) * Left(i);
            noise += (double(pcm[2 * i]) - Left(i)) * (double(pcm[2 * i]) - Left(i));
        }
        EXPECT_GT(10 * std::log10(signal / (noise + 1)), 15.0) << kind;
    }
}

TEST_F(SoundFiles, MusicTagsAgreeWithFfprobe)
{
    std::string mp3 = Make("music.mp3", "ffmpeg -v error -y -i '" + wav + "' -c:a libmp3lame -b:a 128k");
    std::string flac = Make("music.flac", "sox '" + wav + "'");
    std::string mod = dir.file("tiny.mod");
    WriteFileBytes(mod, TinyModule());
    // Stream bit rates as ffprobe and soxi give them (PCM: rate x channels x bits).
    double soxiRate = std::stod(ShellOutput("soxi -B '" + flac + "'")) * 1000;  // soxi prints "118k"
    struct Case {
        std::string file, format;
        double durationBound;
        uint32_t type;
        double bitRate, bitRateBound;  // a negative rate is not checked
    };
    for (const Case& c : {Case{wav, "WAV", 1, MUSICTYPE_STREAM, Probe(wav, "stream=bit_rate"), 0},
                          Case{flac, "FLAC", 1, MUSICTYPE_STREAM, soxiRate, 1000},
                          Case{mp3, "MP3", 80, MUSICTYPE_STREAM, Probe(mp3, "stream=bit_rate"), 0},
                          Case{mod, "", 50, MUSICTYPE_MODULE, -1, 0}}) {
        ASSERT_EQ(OpenFile("openmusic", 4, c.file), 0u) << c.file << ": " << Message(ERR_LOADSOUND);
        Music* m = FoundMusic(4);
        ASSERT_NE(m, nullptr);
        double duration = Probe(c.file, "format=duration") * 1000;
        EXPECT_NEAR(m->durationMs, duration, c.durationBound) << c.file;
        EXPECT_EQ(m->type, c.type);
        EXPECT_EQ(m->canSeek, 1u);
        EXPECT_GE(m->subsongs, 1u);
        EXPECT_TRUE(c.format.empty() || m->format == c.format) << m->format;
        EXPECT_TRUE(c.bitRate < 0 || std::abs(m->bitRate - c.bitRate) <= c.bitRateBound) << m->bitRate;
        EXPECT_EQ(Attribute(33, 4, 14), std::vector<Value>{double(m->durationMs)});
        EXPECT_EQ(Attribute(33, 4, 20), std::vector<Value>{double(m->bitRate)});
        EXPECT_EQ(Attribute(33, 4, 91), std::vector<Value>{std::string("inbuilt")});
    }
}

TEST_F(SoundFiles, BrokenAndForeignFilesAreErrorsNamingThem)
{
    std::string text = dir.file("notes.txt");
    std::ofstream(text) << "this is not a sound at all\n";
    EXPECT_EQ(OpenFile("loadsample", 1, text), uint32_t{ERR_LOADSOUND});
    EXPECT_NE(Message(ERR_LOADSOUND).find("notes.txt"), std::string::npos);
    EXPECT_EQ(OpenFile("openmusic", 1, text), uint32_t{ERR_LOADSOUND});
    EXPECT_EQ(OpenFile("loadsample", 1, dir.file("missing.wav")), uint32_t{ERR_OPENSOUND});
    // A module is no sample.
    WriteFileBytes(dir.file("tiny.mod"), TinyModule());
    EXPECT_EQ(OpenFile("loadsample", 1, dir.file("tiny.mod")), uint32_t{ERR_LOADSOUND});
    // Under a list without "inbuilt" nothing decodes.
    EXPECT_EQ(OpenFile("loadsample", 1, wav, "native"), uint32_t{ERR_LOADSOUND});
    EXPECT_EQ(OpenFile("loadsample", 1, wav, "native|inbuilt"), 0u);
}

// Headers that promise frames the file does not hold: a sound that decodes
// to nothing is refused by every command that opens sounds, naming the
// file; one that holds some of what it promises keeps what it holds.
TEST_F(SoundFiles, SoundsThatDecodeToNothingAreRefused)
{
    // Python's struct writes a mono 16-bit WAV at 8000 Hz whose data chunk
    // says `declared` bytes and holds `held`.
    auto wavWith = [&](const std::string& name, int declared, int held) {
        std::string file = dir.file(name);
        ShellOutput("/usr/bin/python3 -c \"import struct; open('" + file +
                    "', 'wb').write(struct.pack('<4sI4s4sIHHIIHH4sI', b'RIFF', 36 + " + std::to_string(held) +
                    ", b'WAVE', b'fmt ', 16, 1, 1, 8000, 16000, 2, 16, b'data', " + std::to_string(declared) +
                    ") + bytes(range(" + std::to_string(held) + ")))\"");
        return file;
    };
    // sox's FLAC of one block of 100 frames, less its last byte: the
    // block's checksum fails, and sox itself decodes nothing of it.
    std::string flac = dir.file("cut one.flac");
    ShellOutput("sox -n -r 8000 -c 1 -b 16 '" + flac + "' synth 0.0125 sine 440 && truncate -s -1 '" + flac + "'");
    ASSERT_EQ(ShellOutput("soxi -s '" + flac + "'"), "100\n");
    ASSERT_EQ(ShellOutput("sox '" + flac + "' -t raw - 2>/dev/null | wc -c"), "0\n");
    const std::string empty = wavWith("empty data.wav", 0, 0), lying = wavWith("lying data.wav", 1000000, 1),
                      some = wavWith("some data.wav", 1000000, 200);
    for (const char* command : {"openmusic", "loadsample"}) {
        for (const std::string& file : {empty, lying, flac}) {
            SCOPED_TRACE(std::string(command) + " " + file);
            SetErrorText("");
            EXPECT_EQ(OpenFile(command, 7, file), uint32_t{ERR_LOADSOUND});
            EXPECT_NE(Message(ERR_LOADSOUND).find(file.substr(file.rfind('/') + 1)), std::string::npos)
                << Message(ERR_LOADSOUND);
            EXPECT_EQ(FoundMusic(7), nullptr);
            EXPECT_EQ(FoundSample(7), nullptr);
        }
    }
    ASSERT_EQ(OpenFile("loadsample", 8, some), 0u) << Message(ERR_LOADSOUND);
    EXPECT_EQ(FoundSample(8)->frames, 100u);
    ASSERT_EQ(OpenFile("openmusic", 8, some), 0u) << Message(ERR_LOADSOUND);
    EXPECT_EQ(FoundMusic(8)->durationMs, 12u);
}

// Ogg Vorbis files whose headers are cut or corrupt fail to load, naming
// them, and leave nothing behind however often they are tried.
TEST_F(SoundFiles, FailedOggVorbisLoadsLeaveNothingBehind)
{
    std::string vorbis = Make("whole.ogg", "ffmpeg -v error -y -i '" + wav + "' -c:a libvorbis");
    // The first page holds the identification header, the second the
    // comment and setup headers: cut in the setup, or with its bytes
    // scrambled.
    const std::vector<uint8_t> bytes = ReadFileBytes(vorbis);
    ASSERT_GT(bytes.size(), 3000u);
    std::vector<uint8_t> scrambled = bytes;
    for (size_t i = 200; i < 3000; i += 37) scrambled[i] ^= 0x55;
    const std::string cut = dir.file("cut.ogg"), bad = dir.file("scrambled.ogg");
    WriteFileBytes(cut, std::vector<uint8_t>(bytes.begin(), bytes.begin() + 1000));
    WriteFileBytes(bad, scrambled);
    for (const std::string& file : {cut, bad}) {
        SetErrorText("");
        EXPECT_EQ(OpenFile("loadsample", 2, file), uint32_t{ERR_LOADSOUND}) << file;
        EXPECT_NE(Message(ERR_LOADSOUND).find(file.substr(file.rfind('/') + 1)), std::string::npos);
        EXPECT_EQ(OpenFile("openmusic", 2, file), uint32_t{ERR_LOADSOUND}) << file;
    }
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's quarantine holds freed memory; its leak checker watches instead";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "the sanitizer's quarantine holds freed memory; its leak checker watches instead";
#endif
#endif
    // A leak of the size of the Vorbis setup (some 5.7 KB a failure) would
    // grow the process by 10 MB over the 1,800 failures measured.
    for (int i = 0; i < 200; ++i) ASSERT_EQ(OpenFile("loadsample", 2, cut), uint32_t{ERR_LOADSOUND});
    long before = ResidentKb();
    for (int i = 0; i < 1800; ++i) ASSERT_EQ(OpenFile("loadsample", 2, cut), uint32_t{ERR_LOADSOUND});
    long after = ResidentKb();
    ASSERT_GT(before, 0);
    EXPECT_LT(after - before, 1024) << before << " kB before, " << after << " kB after";
}

// Through a file adapter that cannot seek (blocknoseek serves memory
// blocks so, and counts the seeks it refuses), the decoders' seeks are
// emulated: every file loads as from the disk, with sox's frame count and,
// lossless, sox's samples; a tracker module opens as music, and files of
// random bytes are taken or refused as from the disk.
TEST_F(SoundFiles, SoundsThroughAnAdapterThatCannotSeekLoadAsFromTheDisk)
{
    const std::string log = dir.file("adapter.log");
    setenv("QM_TEST_PLUGIN_LOG", log.c_str(), 1);
    PluginRecord* record = nullptr;
    const std::string plugin =
        (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "plugins_src" / "blocknoseek.qmp").string();
    ASSERT_EQ(LoadPluginFile(plugin.c_str(), true, &record), 0u);
    const std::string sox = "sox '" + wav + "'";
    struct Case {
        std::string file;
        bool lossless, soxReads;
    };
    const Case cases[] = {
        {wav, true, true},
        {Make("sound.aiff", sox), true, true},
        {Make("sound.flac", sox), true, true},
        {Make("sound.ogg", sox), false, true},
        {Make("sound.opus", "ffmpeg -v error -y -i '" + wav + "' -c:a libopus -f ogg"), false, false},
        {Make("sound.mp3", "ffmpeg -v error -y -i '" + wav + "' -c:a libmp3lame"), false, false},
        {dir.file("one frame.wav"), true, true},
    };
    ShellOutput("sox -n -r 8000 -c 1 -b 16 '" + cases[6].file + "' synth 0.000125 sine 440");
    auto pcmOf = [&](uint32_t id) {
        Sample* s = FoundSample(id);
        auto* bytes = s ? static_cast<const uint8_t*>(s->pcm) : nullptr;
        return bytes ? std::vector<uint8_t>(bytes, bytes + s->pcmBytes) : std::vector<uint8_t>();
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::vector<uint8_t> bytes = ReadFileBytes(c.file);
        MemoryName name;
        ASSERT_TRUE(MakeMemoryName(bytes.data(), bytes.size(), &name));
        ASSERT_EQ(OpenFile("loadsample", 1, name.c_str()), 0u) << Message(ERR_LOADSOUND);
        ASSERT_EQ(OpenFile("loadsample", 2, c.file, "inbuilt"), 0u) << Message(ERR_LOADSOUND);
        EXPECT_EQ(FoundSample(1)->frames, FoundSample(2)->frames);
        EXPECT_TRUE(pcmOf(1) == pcmOf(2));
        if (c.soxReads) {
            EXPECT_EQ(std::to_string(FoundSample(1)->frames) + "\n", ShellOutput("soxi -s '" + c.file + "'"));
        }
        if (c.lossless) {
            ShellOutput("sox '" + c.file + "' -t raw -e signed -b 16 '" + dir.file("sox.raw") + "'");
            EXPECT_TRUE(pcmOf(1) == ReadFileBytes(dir.file("sox.raw")));
        }
        ASSERT_EQ(OpenFile("openmusic", 1, name.c_str()), 0u) << Message(ERR_LOADSOUND);
        ASSERT_EQ(OpenFile("openmusic", 2, c.file, "inbuilt"), 0u) << Message(ERR_LOADSOUND);
        EXPECT_STREQ(FoundMusic(1)->format, FoundMusic(2)->format);
        EXPECT_EQ(FoundMusic(1)->durationMs, FoundMusic(2)->durationMs);
    }
    const std::vector<uint8_t> module = TinyModule();
    MemoryName moduleName;
    ASSERT_TRUE(MakeMemoryName(module.data(), module.size(), &moduleName));
    ASSERT_EQ(OpenFile("openmusic", 3, moduleName.c_str()), 0u) << Message(ERR_LOADSOUND);
    EXPECT_EQ(FoundMusic(3)->type, uint32_t{MUSICTYPE_MODULE});
    // Random bytes, the same 50 files each run.
    ShellOutput("/usr/bin/python3 -c \"import random; r = random.Random(47)\nfor i in range(50): open('" +
                dir.file("random") + "%d' % i, 'wb').write(bytes(r.randrange(256) for _ in range(r.randrange(1, 9000))))\"");
    int taken = 0;
    for (int i = 0; i < 50; ++i) {
        const std::string file = dir.file("random" + std::to_string(i));
        const std::vector<uint8_t> bytes = ReadFileBytes(file);
        MemoryName name;
        ASSERT_TRUE(MakeMemoryName(bytes.data(), bytes.size(), &name));
        uint32_t fromDisk = OpenFile("openmusic", 4, file, "inbuilt");
        EXPECT_EQ(OpenFile("openmusic", 4, name.c_str()), fromDisk) << file;
        taken += fromDisk == 0;
    }
    EXPECT_LT(taken, 10);
    CloseSoundLibrary(vm);
    FreeAllPlugins();
    unsetenv("QM_TEST_PLUGIN_LOG");
    const std::string served = ShellOutput("cat '" + log + "'");
    EXPECT_NE(served.find("fopen blocknoseek"), std::string::npos);
    EXPECT_EQ(served.find("refusedseek"), std::string::npos);
}

TEST_F(SoundFiles, EachAndAllSamplesTogetherStayWithinTheLimit)
{
    const uint64_t one = uint64_t{kFrames} * 4;
    uint64_t saved = MaxSampleBytes;
    MaxSampleBytes = 4000;
    EXPECT_EQ(OpenFile("loadsample", 1, wav), uint32_t{ERR_LOADSOUND});
    MaxSampleBytes = one;
    EXPECT_EQ(OpenFile("loadsample", 1, wav), 0u);
    FreeSample(vm, FoundSample(1));
    MaxSampleBytes = 2 * one;
    EXPECT_EQ(OpenFile("loadsample", 1, wav), 0u);
    EXPECT_EQ(OpenFile("loadsample", 2, wav), 0u);
    SetErrorText("");
    EXPECT_EQ(OpenFile("loadsample", 3, wav), uint32_t{ERR_LOADSOUND});
    EXPECT_NE(Message(ERR_LOADSOUND).find("sound.wav"), std::string::npos);
    EXPECT_EQ(FoundSample(3), nullptr);
    // A sample loaded in the place of another takes that one's share.
    EXPECT_EQ(OpenFile("loadsample", 2, wav), 0u);
    ASSERT_NE(FoundSample(1), nullptr);
    FreeSample(vm, FoundSample(1));
    EXPECT_EQ(OpenFile("loadsample", 3, wav), 0u);
    MaxSampleBytes = saved;
}

TEST_F(SoundFiles, FlacLengthsDecideBeforeDecoding)
{
    auto write = [&](const std::string& name, const std::vector<uint8_t>& bytes) {
        WriteFileBytes(dir.file(name), bytes);
        return dir.file(name);
    };
    // The independent reader agrees with what the files declare and hold.
    std::string whole = write("whole.flac", SilentFlac(200000, 200000, 8000, 2));
    EXPECT_EQ(ShellOutput("soxi -s '" + whole + "'"), "200000\n");
    ASSERT_EQ(OpenFile("loadsample", 1, whole), 0u) << Message(ERR_LOADSOUND);
    EXPECT_EQ(FoundSample(1)->frames, 200000u);
    EXPECT_EQ(FoundSample(1)->pcmBytes, 800000u);
    // A length past what all samples may hold is refused by the player
    // (tests/e2e HostileFiles); as music, 1 GiB in 72 KB opens with its
    // length.
    std::string huge = write("huge.flac", SilentFlac(268500000, 268500000, 48000, 2));
    ASSERT_EQ(OpenFile("openmusic", 1, huge), 0u);
    EXPECT_EQ(FoundMusic(1)->durationMs, uint32_t(268500000ull * 1000 / 48000));
    // A file that holds less than it says keeps what it holds.
    std::string shorter = write("shorter.flac", SilentFlac(300000, 70000, 8000, 1));
    ASSERT_EQ(OpenFile("loadsample", 3, shorter), 0u) << Message(ERR_LOADSOUND);
    EXPECT_EQ(FoundSample(3)->frames, 70000u);
}

// A FLAC file cut anywhere, even inside its last frame's checksum, keeps
// the frames before the cut, as sox decodes them, as a sample and as music.
TEST_F(SoundFiles, CutFlacFilesKeepTheFramesTheyHold)
{
    const std::string flacs[] = {dir.file("noise.flac"), Make("sound.flac", "sox '" + wav + "'")};
    ShellOutput("sox -R -n -r 44100 -c 1 -b 16 '" + flacs[0] + "' synth 3 noise");
    for (const std::string& flac : flacs) {
        const std::vector<uint8_t> bytes = ReadFileBytes(flac);
        for (size_t cut : {size_t{1}, size_t{2}, size_t{3}, size_t{40}, bytes.size() / 4, bytes.size() / 2}) {
            SCOPED_TRACE(flac + " less " + std::to_string(cut) + " bytes");
            const std::string file = dir.file("cut.flac");
            WriteFileBytes(file, std::vector<uint8_t>(bytes.begin(), bytes.end() - cut));
            ShellOutput("sox '" + file + "' -t raw '" + dir.file("sox.raw") + "' 2>/dev/null");
            const std::vector<uint8_t> oracle = ReadFileBytes(dir.file("sox.raw"));
            ASSERT_FALSE(oracle.empty());
            ASSERT_EQ(OpenFile("loadsample", 1, file), 0u) << Message(ERR_LOADSOUND);
            const auto* pcm = static_cast<const uint8_t*>(FoundSample(1)->pcm);
            EXPECT_TRUE(std::vector<uint8_t>(pcm, pcm + FoundSample(1)->pcmBytes) == oracle)
                << FoundSample(1)->pcmBytes << " bytes, sox " << oracle.size();
            ASSERT_EQ(OpenFile("openmusic", 1, file), 0u) << Message(ERR_LOADSOUND);
            SoundSource* source = FoundMusic(1)->source;
            const size_t frameBytes = source->format.channels * 2u;
            std::vector<uint8_t> played(oracle.size() + 4096);
            size_t at = 0;
            for (int64_t n; at < played.size() &&
                            (n = ReadSoundSource(source, &played[at], (played.size() - at) / frameBytes)) > 0;)
                at += static_cast<size_t>(n) * frameBytes;
            played.resize(at);
            EXPECT_TRUE(played == oracle) << "music: " << at << " bytes";
        }
    }
}

// Floating-point samples keep their level (full scale is 1.0, nothing is
// scaled to the file's peak, which would take a pass over the whole file)
// and what lies beyond full scale is clipped, not wrapped.
TEST_F(SoundFiles, FloatingPointSamplesKeepTheirLevelAndClip)
{
    const std::vector<float> values = {0.0f, 0.5f, -0.5f, 0.25f, 1.0f, -1.0f, 1.5f, -2.0f, 0.001f};
    // Python's struct writes the file: a format-3 (IEEE float) chunk.
    std::string file = dir.file("float.wav"), list;
    for (float v : values)
        list += std::to_string(v) + ",";
    ShellOutput("/usr/bin/python3 -c \"import struct; v = [" + list + "]; open('" + file +
                "', 'wb').write(struct.pack('<4sI4s4sIHHIIHH4sI', b'RIFF', 36 + 4 * len(v), b'WAVE', b'fmt ', 16, 3, "
                "1, 8000, 32000, 4, 32, b'data', 4 * len(v)) + struct.pack('<%df' % len(v), *v))\"");
    ASSERT_EQ(OpenFile("loadsample", 1, file), 0u) << Message(ERR_LOADSOUND);
    Sample* s = FoundSample(1);
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(s->frames, values.size());
    ASSERT_EQ(s->bits, 16u);
    auto* pcm = static_cast<const int16_t*>(s->pcm);
    for (size_t i = 0; i < values.size(); ++i) {
        double expected = std::max(-32768.0, std::min(32767.0, values[i] * 32767.0));
        EXPECT_NEAR(pcm[i], expected, 1.0) << values[i];
    }
}

// The decoders live in a module the player loads by name: anything else by
// that name, or a module of another version, is refused and leaves no table.
TEST_F(SoundFiles, DecoderModuleIsRefusedUnlessWhole)
{
    const QmSndApi* api = nullptr;
    WriteFileBytes(dir.file("junk.so"), {'n', 'o', 't', ' ', 'E', 'L', 'F'});
    EXPECT_EQ(LoadSoundModuleFrom(dir.file("junk.so").c_str(), &api), uint32_t{ERR_LOADSOUND});
    // A shared object without the module's entry.
    EXPECT_EQ(LoadSoundModuleFrom("libz.so.1", &api), uint32_t{ERR_LOADSOUND});
    EXPECT_EQ(api, nullptr);
    void* handle = dlopen(QM_BINARY_DIR "/" QM_SOUND_MODULE_NAME, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    auto entry = reinterpret_cast<QmSoundEntryFunc>(dlsym(handle, QM_SOUND_ENTRY_NAME));
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry(QM_SOUND_API_VERSION + 1), nullptr);
    EXPECT_EQ(entry(QM_SOUND_API_VERSION - 1), nullptr);
    dlclose(handle);
    ASSERT_EQ(LoadSoundModuleFrom(QM_BINARY_DIR "/" QM_SOUND_MODULE_NAME, &api), 0u);
    ASSERT_NE(api, nullptr);

    // The module's own table on a stream the test holds: it reads it through
    // the callbacks alone and never closes it.
    WriteFileBytes(dir.file("tiny.mod"), TinyModule());
    StreamCloser stream{StreamOpen(dir.file("tiny.mod").c_str(), STREAM_READ)};
    ASSERT_NE(stream.stream, nullptr);
    QmStreamIo io = ModuleIoOf(stream.stream);
    SoundFormat format{};
    void* state = nullptr;
    ASSERT_EQ(api->module.open(&io, SOUNDFOR_MUSIC, &state, &format), 0u);
    EXPECT_EQ(format.type, uint32_t{MUSICTYPE_MODULE});
    int16_t frames[2 * 256];
    EXPECT_EQ(api->module.read(state, frames, 256), 256);
    EXPECT_EQ(api->module.seek(state, 0), 1u);
    api->module.close(state);
    // Modules are refused as samples, and on a stream that cannot go back.
    io.seek(io.opaque, 0, SEEK_SET);
    state = nullptr;
    EXPECT_EQ(api->module.open(&io, SOUNDFOR_SAMPLE, &state, &format), uint32_t{ERR_LOADSOUND});
    io.canSeek = 0;
    EXPECT_EQ(api->module.open(&io, SOUNDFOR_MUSIC, &state, &format), uint32_t{ERR_LOADSOUND});
    EXPECT_EQ(state, nullptr);
}

}  // namespace
