// Linked-file look-up, byte-order I/O, examination by name, and the
// whole-file copy and load, each against the bytes and the stat results
// behind them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/linked_files.h"
#include "core/io/stream.h"
#include "core/io/virtual_names.h"
#include "platform/posix/os_files.h"
#include "platform/posix/os_memory.h"
#include "platform/posix/os_paths.h"
#include "support/temp_dir.h"

namespace {

LinkedFileRecord MakeEntry(const char* name, const char* container, uint32_t offset, uint32_t size)
{
    LinkedFileRecord r{};
    r.name = name;
    r.container = container;
    r.extra = "";
    r.offset = offset;
    r.size = size;
    return r;
}

class LinkedFiles : public ::testing::Test {
protected:
    LinkedFileRecord entries[5] = {
        MakeEntry("gfx/pic.png", "app.qma", 10, 20),
        MakeEntry("::font:Vera", "app.qma", 40, 50),
        MakeEntry("snd\\Boom.WAV", "", 100, 7),
        MakeEntry("::FONT:title.ttf", "app.qma", 200, 3),
        MakeEntry("fonts/title.ttf", "other.bin", 300, 4),
    };
    void SetUp() override
    {
        for (int i = 0; i < 4; ++i)
            entries[i].next = &entries[i + 1];
        SetLinkedFiles(entries, 1000);
    }
    void TearDown() override { SetLinkedFiles(nullptr, 0); }
};

TEST_F(LinkedFiles, NamesResolveToChunkNames)
{
    std::string program = OsProgramFilePath();
    struct Case { const char* name; int fontLookup; std::string expected; int isFont; } cases[] = {
        {"gfx\\Pic.PNG", 0, ":::chunk1010:20*gfx/pic.png?app.qma", 0},
        {"snd/boom.wav", 0, ":::chunk1100:7*snd\\Boom.WAV?" + program, 0},
        {"vera", 1, ":::chunk1040:50*Vera?app.qma", 1}, {"Vera.font", 1, ":::chunk1040:50*Vera?app.qma", 1},
        {"fonts/title.ttf", 1, ":::chunk1300:4*fonts/title.ttf?other.bin", 0},
    };
    for (const Case& c : cases) {
        int isFont = -1;
        EXPECT_EQ(std::string(ResolveLinkedFile(nullptr, c.name, c.fontLookup, &isFont)), c.expected) << c.name;
        EXPECT_EQ(isFont, c.isFont) << c.name;
    }
    // No match: the very name comes back. Fonts are not files and files
    // are not fonts.
    const char* misses[][2] = {{"gfx/pic.jpg", "0"}, {"Vera", "0"}, {"::font:Vera", "0"},
                               {"gfx/pic.png", "1"}, {"vera.ttf", "1"}};
    for (auto& miss : misses) {
        int isFont = -1;
        EXPECT_EQ(ResolveLinkedFile(nullptr, miss[0], miss[1][0] - '0', &isFont), miss[0]);
        EXPECT_EQ(isFont, 0);
    }
}

TEST(ByteOrder, ReadersCombineMaskedBytesAndWritersRoundTrip)
{
    TempDir dir;
    std::string path = dir.file("words.bin");
    StreamHandle* s = StreamOpen(path.c_str(), STREAM_WRITE);
    ASSERT_NE(s, nullptr);
    WriteWordBE(s, 0x1234);
    WriteWordLE(s, 0x1234);
    WriteLongBE(s, 0x89ABCDEF);
    WriteLongLE(s, 0x89ABCDEF);
    StreamClose(s);
    std::vector<uint8_t> expected = {0x12, 0x34, 0x34, 0x12, 0x89, 0xAB, 0xCD, 0xEF, 0xEF, 0xCD, 0xAB, 0x89};
    EXPECT_EQ(ReadFileBytes(path), expected);

    s = StreamOpen(path.c_str(), STREAM_READ);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ((std::vector<uint32_t>{ReadWordBE(s), ReadWordBE(s), ReadLongBE(s), ReadLongLE(s)}),
              (std::vector<uint32_t>{0x1234, 0x3412, 0x89ABCDEF, 0x89ABCDEF}));
    StreamClose(s);

    // Short reads: the missing bytes read as 0xFF each, without spilling
    // over the bytes that were there.
    std::vector<uint8_t> three = {0x01, 0x02, 0x03};
    MemoryName name;
    ASSERT_TRUE(MakeMemoryName(three.data(), three.size(), &name));
    s = StreamOpen(name.c_str(), STREAM_READ);
    EXPECT_EQ(ReadLongBE(s), 0x010203FFu);
    StreamSeek(s, 0, STREAM_SEEK_BEGINNING);
    EXPECT_EQ(ReadLongLE(s), 0xFF030201u);
    StreamSeek(s, 2, STREAM_SEEK_BEGINNING);
    EXPECT_EQ(ReadWordLE(s), 0xFF03);
    StreamSeek(s, 2, STREAM_SEEK_BEGINNING);
    EXPECT_EQ(ReadWordBE(s), 0x03FF);
    StreamClose(s);
}

class WholeFiles : public ::testing::Test {
protected:
    TempDir dir;
    std::vector<uint8_t> data = PatternBytes(40000, 8);
    std::string source = dir.file("source.bin");
    std::string copy = dir.file("copy.bin");
    void SetUp() override { WriteFileBytes(source, data); }
};

TEST_F(WholeFiles, ExaminationByNameMatchesStat)
{
    struct stat st;
    ASSERT_EQ(stat(source.c_str(), &st), 0);
    FileExamineRecord rec;
    ASSERT_EQ(ExamineFileByName(source.c_str(), &rec, 1), 1);
    EXPECT_EQ(std::tie(rec.kind, rec.size), std::make_tuple(uint32_t{FILEINFO_FILE}, uint64_t{40000}));
    EXPECT_EQ(std::string(rec.fullPath), source);
    uint64_t times[3] = {};
    ASSERT_EQ(OsDateToFileTime(&rec.modified, times, 2), 1);
    EXPECT_EQ((times[2] - FILETIME_UNIX_EPOCH) / FILETIME_TICKS_PER_SECOND, uint64_t(st.st_mtim.tv_sec));

    ASSERT_EQ(ExamineFileByName(dir.path().c_str(), &rec, 0), 1);
    EXPECT_EQ(rec.kind, FILEINFO_DIRECTORY);
    EXPECT_EQ(ExamineFileByName(dir.file("missing").c_str(), &rec, 1), 0);

    // A linked file: the default record with the region's size and a path
    // in the current folder named after its file part.
    char region[1024];
    ASSERT_TRUE(MakeChunkName("gfx/pic.png", region, sizeof region, 5, 123, 0, source.c_str()));
    ASSERT_EQ(ExamineFileByName(region, &rec, 1), 1);
    EXPECT_EQ(std::tie(rec.kind, rec.size, rec.flags),
              std::make_tuple(uint32_t{FILEINFO_FILE}, uint64_t{123}, uint32_t{FILEATTR_DEFAULT}));
    DateStamp expectedDate = {0, 30, 10, 4, 10, 2002};
    EXPECT_EQ(std::memcmp(&rec.modified, &expectedDate, sizeof expectedDate), 0);
    EXPECT_EQ(std::string(rec.fullPath), OsFullPathString(".") + "/pic.png");
}

TEST_F(WholeFiles, LocksOnLinkedFilesCannotBeScanned)
{
    char region[1024];
    ASSERT_TRUE(MakeChunkName("pic.png", region, sizeof region, 5, 123, 0, source.c_str()));
    FileLock* lock = OpenFileLock(region, 1);
    ASSERT_NE(lock, nullptr);
    void* word = &lock;
    EXPECT_EQ(DirScanBegin(lock, &word), static_cast<int>(ERR_NOTADIR));
    EXPECT_EQ(word, nullptr);
    EXPECT_STREQ(errorArgText, region);
    CloseFileLock(lock);
}

TEST_F(WholeFiles, CopiesReachTheDestinationWhole)
{
    char region[1024];
    ASSERT_TRUE(MakeChunkName("r.bin", region, sizeof region, 1000, 33000, 0, source.c_str()));
    MemoryName memory;
    ASSERT_TRUE(MakeMemoryName(data.data(), 16384, &memory));
    struct Case { const char* name; std::vector<uint8_t> expected; } cases[] = {
        {source.c_str(), data},
        {region, std::vector<uint8_t>(data.begin() + 1000, data.begin() + 34000)},
        {memory.c_str(), std::vector<uint8_t>(data.begin(), data.begin() + 16384)},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(CopyStreamToFile(c.name, nullptr, copy.c_str(), nullptr), 0u) << c.name;
        EXPECT_EQ(ReadFileBytes(copy), c.expected) << c.name;
    }

    // An open handle is rewound first.
    StreamHandle* s = StreamOpen(source.c_str(), STREAM_READ);
    StreamSeek(s, 500, STREAM_SEEK_BEGINNING);
    ASSERT_EQ(CopyStreamToFile(nullptr, nullptr, copy.c_str(), s), 0u);
    EXPECT_EQ(ReadFileBytes(copy), data);
    StreamClose(s);

    EXPECT_EQ(CopyStreamToFile(dir.file("missing").c_str(), nullptr, copy.c_str(), nullptr), ERR_READFILE);
    EXPECT_STREQ(errorArgText, dir.file("missing").c_str());
    EXPECT_EQ(CopyStreamToFile(source.c_str(), nullptr, dir.file("no/dir/x").c_str(), nullptr), ERR_WRITEFILE);
}

TEST_F(WholeFiles, LoadingIntoMemory)
{
    uint8_t* block = nullptr;
    uint64_t size = 1;
    ASSERT_EQ(ReadStreamToMemory(source.c_str(), nullptr, nullptr, &block, &size), 0u);
    ASSERT_EQ(size, data.size());
    EXPECT_EQ(std::memcmp(block, data.data(), data.size()), 0);
    OsFreeMem(block);

    std::string empty = dir.file("empty");
    WriteFileBytes(empty, {});
    block = nullptr;
    size = 1;
    ASSERT_EQ(ReadStreamToMemory(empty.c_str(), nullptr, nullptr, &block, &size), 0u);
    EXPECT_NE(block, nullptr);
    EXPECT_EQ(size, 0u);
    OsFreeMem(block);

    EXPECT_EQ(ReadStreamToMemory(dir.file("missing").c_str(), nullptr, nullptr, &block, &size), ERR_READFILE);
    EXPECT_EQ(block, nullptr);
}

// An adapter stream that cannot tell its size: copies and loads must read
// it to its end rather than trust a size of 0.
std::vector<uint8_t> g_unsized;
size_t g_unsizedPos;
int g_node;
size_t UnsizedRead(StreamHandle*, void* buffer, size_t count)
{
    size_t n = std::min(count, g_unsized.size() - g_unsizedPos);
    if (n)
        std::memcpy(buffer, g_unsized.data() + g_unsizedPos, n);
    g_unsizedPos += n;
    return n;
}
size_t UnsizedWrite(StreamHandle*, const void*, size_t) { return 0; }
int UnsizedGetC(StreamHandle* h)
{
    uint8_t b;
    return UnsizedRead(h, &b, 1) ? b : -1;
}
int UnsizedPutC(StreamHandle*, int) { return 0; }
int UnsizedOne(StreamHandle*) { return 1; }
int UnsizedEof(StreamHandle*) { return g_unsizedPos >= g_unsized.size(); }
int64_t UnsizedSeek(StreamHandle*, int64_t offset, int mode)
{
    int64_t previous = static_cast<int64_t>(g_unsizedPos);
    if (mode == 1)
        g_unsizedPos = static_cast<size_t>(offset);
    return previous;
}
uint64_t UnsizedSize(StreamHandle*) { return 0; }
int UnsizedExamine(StreamHandle*, FileInfoRecord*) { return 0; }
const StreamOps kUnsizedOps = {UnsizedRead, UnsizedWrite, UnsizedGetC, UnsizedPutC, UnsizedOne,
                               UnsizedEof,  UnsizedSeek,  UnsizedSize, UnsizedExamine, UnsizedOne};
bool UnsizedOpen(StreamHandle* h, const char* name, uint32_t, const char*, const ChunkNameParts*, const uint8_t*,
                 uint64_t)
{
    if (std::strcmp(name, "adapter:unsized") != 0)
        return false;
    h->adapterNode = &g_node;
    h->ops = &kUnsizedOps;
    h->flags = STREAMFLAG_STREAMING;
    g_unsizedPos = 0;
    return true;
}

TEST_F(WholeFiles, SourcesOfUnknownSizeAreReadToTheirEnd)
{
    StreamAdapterHooks hooks{};
    hooks.openStream = UnsizedOpen;
    SetStreamAdapterHooks(&hooks);
    for (size_t n : {size_t(0), size_t(1), size_t(16384), size_t(40000)}) {
        g_unsized = PatternBytes(n, 12);
        ASSERT_EQ(CopyStreamToFile("adapter:unsized", nullptr, copy.c_str(), nullptr), 0u);
        EXPECT_EQ(ReadFileBytes(copy), g_unsized) << n;
        uint8_t* block = nullptr;
        uint64_t size = 0;
        ASSERT_EQ(ReadStreamToMemory("adapter:unsized", nullptr, nullptr, &block, &size), 0u);
        ASSERT_EQ(size, n);
        EXPECT_TRUE(n == 0 || std::memcmp(block, g_unsized.data(), n) == 0);
        OsFreeMem(block);
    }
    SetStreamAdapterHooks(nullptr);
}

} // namespace
