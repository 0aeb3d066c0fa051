// The stream layer over its built-in sources: every kind reads the same
// bytes as a direct read of the data behind it, memory sources grow and
// seek within their bounds, and write modes are refused where they must be.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "core/io/error_codes.h"
#include "core/io/stream.h"
#include "core/io/virtual_files.h"
#include "core/io/virtual_names.h"
#include "support/temp_dir.h"

namespace {

std::vector<uint8_t> ReadAllByPieces(StreamHandle* s, size_t piece)
{
    std::vector<uint8_t> out;
    std::vector<uint8_t> block(piece);
    size_t n;
    while ((n = StreamRead(s, block.data(), piece)) > 0)
        out.insert(out.end(), block.begin(), block.begin() + n);
    return out;
}

std::vector<uint8_t> ReadAllByBytes(StreamHandle* s)
{
    std::vector<uint8_t> out;
    int c;
    while ((c = StreamGetC(s)) != -1)
        out.push_back(static_cast<uint8_t>(c));
    return out;
}

// The name of bytes, which opens while *held lives.
std::string NameOfBytes(const std::vector<uint8_t>& bytes, MemoryName* held)
{
    EXPECT_TRUE(MakeMemoryName(bytes.data(), bytes.size(), held));
    return held->c_str();
}

class Streams : public ::testing::Test {
protected:
    TempDir dir;
    std::vector<uint8_t> data = PatternBytes(50000, 7);
    std::string path = dir.file("data.bin");
    void SetUp() override { WriteFileBytes(path, data); }
    void TearDown() override { FreeAllVirtualStringFiles(); }

    // One name of each built-in kind, all holding data[100..100+size).
    std::vector<std::string> NamesOfEveryKind(size_t size, VirtualStringFile** outFile)
    {
        std::vector<std::string> names;
        char name[1024];
        EXPECT_TRUE(MakeChunkName("d.bin", name, sizeof name, 100, size, 0, path.c_str()));
        names.push_back(name);
        slice_ = std::vector<uint8_t>(data.begin() + 100, data.begin() + 100 + size);
        names.push_back(NameOfBytes(slice_, &sliceName_));
        VirtualStringFile* file = NewVirtualStringFile("v.bin", slice_.data(), size, true);
        file->anchorRef = 9;
        *outFile = file;
        EXPECT_TRUE(MakeChunkName("v.bin", name, sizeof name, CHUNK_STRING_OFFSET, 0, 9, "unused"));
        names.push_back(name);
        std::string plain = dir.file("slice.bin");
        WriteFileBytes(plain, slice_);
        names.push_back(plain);
        return names;
    }
    std::vector<uint8_t> slice_;
    MemoryName sliceName_;
};

TEST_F(Streams, EveryKindReadsTheBytesBehindIt)
{
    VirtualStringFile* file;
    for (const std::string& name : NamesOfEveryKind(30000, &file)) {
        SCOPED_TRACE(name);
        for (size_t piece : {size_t(1), size_t(7), size_t(4096), size_t(65536)}) {
            StreamHandle* s = StreamOpen(name.c_str(), STREAM_READ);
            ASSERT_NE(s, nullptr);
            EXPECT_EQ(StreamSize(s), 30000u);
            EXPECT_EQ(ReadAllByPieces(s, piece), slice_);
            EXPECT_NE(StreamEof(s), 0);
            StreamClose(s);
        }
        StreamHandle* s = StreamOpen(name.c_str(), STREAM_READ | STREAM_ADAPTERS);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(ReadAllByBytes(s), slice_);
        EXPECT_EQ(GetStreamAdapterName(s), nullptr);
        StreamClose(s);
    }
}

TEST_F(Streams, SeekAndSizeKeepThePositionOnEveryKind)
{
    VirtualStringFile* file;
    for (const std::string& name : NamesOfEveryKind(1000, &file)) {
        SCOPED_TRACE(name);
        StreamHandle* s = StreamOpen(name.c_str(), STREAM_READ);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(StreamSeek(s, 10, STREAM_SEEK_BEGINNING), 0);
        EXPECT_EQ(StreamSize(s), 1000u);
        EXPECT_EQ(StreamGetC(s), slice_[10]);
        EXPECT_EQ(StreamSeek(s, 5, STREAM_SEEK_CURRENT), 11);
        EXPECT_EQ(StreamGetC(s), slice_[16]);
        EXPECT_EQ(StreamSeek(s, -3, STREAM_SEEK_END), 17);
        EXPECT_EQ(StreamGetC(s), slice_[997]);
        // Refused seeks change nothing.
        EXPECT_EQ(StreamSeek(s, -2000, STREAM_SEEK_CURRENT), -1);
        EXPECT_EQ(StreamSeek(s, -1, STREAM_SEEK_BEGINNING), -1);
        EXPECT_EQ(StreamSeek(s, 0, STREAM_SEEK_CURRENT), 998);
        EXPECT_EQ(StreamGetC(s), slice_[998]);
        StreamClose(s);
    }
}

TEST_F(Streams, MemorySourcesStopAtTheirEndAndOpenOnlyWhileHeld)
{
    std::vector<uint8_t> bytes = PatternBytes(20, 3);
    MemoryName name;
    StreamHandle* s = StreamOpen(NameOfBytes(bytes, &name).c_str(), STREAM_READ);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(StreamSeek(s, 16, STREAM_SEEK_BEGINNING), 0);
    uint8_t buffer[10];
    EXPECT_EQ(StreamRead(s, buffer, 10), 4u);
    EXPECT_EQ(0, std::memcmp(buffer, bytes.data() + 16, 4));
    EXPECT_EQ(StreamGetC(s), -1);
    EXPECT_NE(StreamEof(s), 0);
    EXPECT_EQ(StreamSeek(s, 100, STREAM_SEEK_BEGINNING), 20);
    EXPECT_EQ(StreamSeek(s, 0, STREAM_SEEK_CURRENT), 20);
    FileInfoRecord info;
    ASSERT_NE(ExamineStream(s, &info), 0);
    EXPECT_EQ(std::tie(info.kind, info.size, info.flags),
              std::make_tuple(uint32_t{FILEINFO_FILE}, uint64_t{20}, uint32_t{FILEATTR_DEFAULT}));
    EXPECT_STREQ(info.fullPath, "Unnamed");
    EXPECT_EQ(StreamClose(s), 1);
    // A memory name is text anyone can write: only a held name of the runtime's
    // making opens, and only while it is held.
    std::vector<uint8_t> held = PatternBytes(20, 5);
    std::string text;
    {
        MemoryName holder;
        text = NameOfBytes(held, &holder);
        s = StreamOpen(text.c_str(), STREAM_READ | STREAM_ADAPTERS);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(ReadAllByBytes(s), held);
        ReleaseMemoryName(&holder);
        // An open stream reads on: the block is still its maker's.
        StreamSeek(s, 0, STREAM_SEEK_BEGINNING);
        EXPECT_EQ(ReadAllByBytes(s), held);
        StreamClose(s);
    }
    for (uint32_t mode : {uint32_t(STREAM_READ), uint32_t(STREAM_READ | STREAM_ADAPTERS)})
        EXPECT_EQ(StreamOpen(text.c_str(), mode), nullptr) << mode;
}

TEST_F(Streams, WriteModesAreRefusedOnReadOnlySources)
{
    VirtualStringFile* readOnly = NewVirtualStringFile("r.txt", data.data(), 10, false);
    readOnly->anchorRef = 3;
    char region[1024], string[128];
    ASSERT_TRUE(MakeChunkName("d.bin", region, sizeof region, 0, 100, 0, path.c_str()));
    ASSERT_TRUE(MakeChunkName("r.txt", string, sizeof string, CHUNK_STRING_OFFSET, 0, 3, "unused"));
    MemoryName held;
    std::string memory = NameOfBytes(data, &held);
    for (const char* name : {static_cast<const char*>(region), static_cast<const char*>(string), memory.c_str()}) {
        for (uint32_t mode : {uint32_t(STREAM_WRITE), uint32_t(STREAM_READWRITE), STREAM_WRITE | STREAM_ADAPTERS,
                              STREAM_READ | STREAM_READWRITE}) {
            EXPECT_EQ(StreamOpen(name, mode), nullptr) << name << " mode " << mode;
        }
    }
    EXPECT_EQ(ReadFileBytes(path), data);  // the container was not truncated
}

TEST_F(Streams, WritableVirtualFilesGrowAndKeepTheirBytes)
{
    VirtualStringFile* file = NewVirtualStringFile("w.txt", nullptr, 0, true);
    ASSERT_NE(file, nullptr);
    file->anchorRef = 5;
    char name[128];
    ASSERT_TRUE(MakeChunkName("w.txt", name, sizeof name, CHUNK_STRING_OFFSET, 0, 5, "unused"));
    StreamHandle* s = StreamOpen(name, STREAM_WRITE);
    ASSERT_NE(s, nullptr);
    std::vector<uint8_t> bytes = PatternBytes(70000, 11);
    EXPECT_EQ(StreamWrite(s, bytes.data(), bytes.size()), bytes.size());
    EXPECT_EQ(file->size, 70000u);
    // Overwrite in the middle: the size stays; put one byte past the end.
    EXPECT_EQ(StreamSeek(s, 10, STREAM_SEEK_BEGINNING), 70000);
    EXPECT_EQ(StreamWrite(s, "abc", 3), 3u);
    EXPECT_EQ(file->size, 70000u);
    EXPECT_EQ(StreamSeek(s, 0, STREAM_SEEK_END), 13);
    EXPECT_EQ(StreamPutC(s, 'z'), 1);
    EXPECT_EQ(file->size, 70001u);
    StreamClose(s);

    s = StreamOpen(name, STREAM_READ);
    ASSERT_NE(s, nullptr);
    std::vector<uint8_t> expected = bytes;
    std::memcpy(expected.data() + 10, "abc", 3);
    expected.push_back('z');
    EXPECT_EQ(ReadAllByPieces(s, 5000), expected);
    StreamClose(s);
}

TEST_F(Streams, ExaminationOfOpenFilesAndRegions)
{
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    StreamHandle* s = StreamOpen(path.c_str(), STREAM_READ);
    ASSERT_NE(s, nullptr);
    FileInfoRecord info;
    ASSERT_NE(ExamineStream(s, &info), 0);
    EXPECT_EQ((info.times[FILETIME_MODIFICATION] - FILETIME_UNIX_EPOCH) / FILETIME_TICKS_PER_SECOND,
              uint64_t(st.st_mtim.tv_sec));
    StreamClose(s);

    char region[1024];
    ASSERT_TRUE(MakeChunkName("d.bin", region, sizeof region, 10, 77, 0, path.c_str()));
    s = StreamOpen(region, STREAM_READ);
    ASSERT_NE(s, nullptr);
    ASSERT_NE(ExamineStream(s, &info), 0);
    EXPECT_EQ(info.size, 77u);
    EXPECT_STREQ(info.fullPath, region);
    StreamClose(s);

    // A file being written reports what has been written so far.
    std::string out = dir.file("growing.bin");
    s = StreamOpen(out.c_str(), STREAM_WRITE);
    ASSERT_NE(s, nullptr);
    StreamWrite(s, data.data(), 300);
    ASSERT_NE(ExamineStream(s, &info), 0);
    EXPECT_EQ(info.size, 300u);
    StreamClose(s);
}

TEST_F(Streams, LoaderListsWithoutInbuiltOpenNoHostFile)
{
    EXPECT_EQ(StreamOpen(path.c_str(), STREAM_READ, "someplugin"), nullptr);
    for (const char* loaders : {"someplugin|inbuilt", "Default"}) {
        StreamHandle* s = StreamOpen(path.c_str(), STREAM_READ, loaders);
        ASSERT_NE(s, nullptr) << loaders;
        StreamClose(s);
    }
}

TEST(TempNames, KeepTheModelsExtension)
{
    const std::pair<const char*, const char*> cases[] = {
        {"pic.png", ".png"}, {"dir.d/file", ""}, {"C:\\data.x\\song.MOD", ".MOD"},
        {":::chunk10:20*gfx/anim.gif?app.qma", ".gif"}, {":::chunkS3:0*notes.txt?unused", ".txt"},
        {":::chunk10:20*noext?c.bin", ""}, {"archive.tar.gz", ".gz"}, {nullptr, ""},
    };
    for (const auto& [model, extension] : cases) {
        EXPECT_EQ(ModelExtension(model), extension) << (model ? model : "null");
        char name[4096];
        ASSERT_EQ(MakeTempFileNameWithExt(name, sizeof name, model), 0u);
        std::string made = name;
        EXPECT_NE(made.find("quillmere"), std::string::npos);
        EXPECT_EQ(made.substr(made.size() - std::strlen(extension)), extension);
        EXPECT_TRUE(FileExists(made));
        std::remove(name);
    }
    char tiny[8];
    EXPECT_EQ(MakeTempFileNameWithExt(tiny, sizeof tiny, "a.png"), static_cast<uint32_t>(ERR_NAMETOOLONG));
}

} // namespace
