// Streams and locks served by adapter plugins: reads, seek emulation,
// examinations, directory scans, virtual names and the loader lists.
#include <cstring>
#include <vector>

#include "core/io/error_codes.h"
#include "core/io/linked_files.h"
#include "core/io/stream.h"
#include "core/io/virtual_names.h"
#include "core/plugins/capability_lists.h"
#include "platform/posix/os_files.h"
#include "plugin_fixture.h"

namespace {

// What the memory adapters serve as "mem:data.bin": byte i is i mod 256.
std::vector<uint8_t> Pattern(size_t from, size_t count)
{
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(from + i);
    return bytes;
}

std::vector<uint8_t> ReadSome(StreamHandle* stream, size_t count)
{
    std::vector<uint8_t> bytes(count);
    bytes.resize(StreamRead(stream, bytes.data(), count));
    return bytes;
}

// Opens name for reading through the adapters the list allows: the
// adapter that took it ("file layer" for none, "no stream") and up to ten
// of its bytes.
std::pair<std::string, std::vector<uint8_t>> OpenAndRead(const char* name, const char* list = nullptr)
{
    StreamHandle* stream = StreamOpen(name, STREAM_READ | STREAM_ADAPTERS, list);
    if (!stream)
        return {"no stream", {}};
    const char* adapter = GetStreamAdapterName(stream);
    std::pair<std::string, std::vector<uint8_t>> result{adapter ? adapter : "file layer", ReadSome(stream, 10)};
    StreamClose(stream);
    return result;
}

using AdapterTest = PluginTest;

TEST_F(AdapterTest, AFileAdapterServesReadsSeeksAndExaminations)
{
    ASSERT_EQ(Load("memfile"), 0u);
    EXPECT_EQ(StreamOpen("mem:data.bin", STREAM_READ), nullptr);  // adapters not allowed
    StreamHandle* stream = StreamOpen("mem:data.bin", STREAM_READ | STREAM_ADAPTERS);
    ASSERT_NE(stream, nullptr);
    EXPECT_STREQ(GetStreamAdapterName(stream), "memfile");
    EXPECT_EQ(GetStreamFlags(stream), 0u);
    EXPECT_EQ(ReadSome(stream, 10), Pattern(0, 10));
    EXPECT_EQ(StreamGetC(stream), 10);
    EXPECT_EQ(StreamSeek(stream, 500, STREAM_SEEK_BEGINNING), 11);
    EXPECT_EQ(ReadSome(stream, 4), Pattern(500, 4));
    EXPECT_EQ(StreamSeek(stream, -4, STREAM_SEEK_END), 504);
    EXPECT_EQ(ReadSome(stream, 100), Pattern(996, 4));
    EXPECT_NE(StreamEof(stream), 0);
    EXPECT_EQ(StreamGetC(stream), -1);
    EXPECT_EQ(StreamSize(stream), 1000u);

    FileInfoRecord info;
    ASSERT_NE(ExamineStream(stream, &info), 0);
    EXPECT_EQ(info.kind, uint32_t(FILEINFO_FILE));
    EXPECT_EQ(info.size, 1000u);
    EXPECT_EQ(info.flags, 3u);
    EXPECT_STREQ(info.auxText, "from memory");
    EXPECT_EQ(info.extra[0], 11u);
    EXPECT_EQ(info.extra[1], 22u);
    DateStamp modified = {}, created = {};
    ASSERT_NE(OsFileTimeToDate(info.times, &modified, FILETIME_MODIFICATION), 0);
    EXPECT_EQ(std::vector<uint32_t>({modified.year, modified.month, modified.day, modified.hour}),
              std::vector<uint32_t>({2020, 1, 15, 12}));
    // Stamps the adapter left alone keep the runtime's start time.
    ASSERT_NE(OsFileTimeToDate(info.times, &created, FILETIME_CREATION), 0);
    DateStamp start = {};
    uint64_t startTimes[3] = {RuntimeStartFileTime(), 0, 0};
    OsFileTimeToDate(startTimes, &start, 0);
    EXPECT_EQ(created.year, start.year);
    EXPECT_EQ(created.minute, start.minute);
    EXPECT_EQ(StreamClose(stream), 1);

    // Writing is the adapter's to refuse (the list keeps the file layer
    // out); names it does not know fall through to the file layer.
    EXPECT_EQ(StreamOpen("mem:data.bin", STREAM_WRITE | STREAM_ADAPTERS, "memfile"), nullptr);
    std::string real = scratch.file("real.bin");
    WriteFileBytes(real, {9, 8, 7});
    EXPECT_EQ(OpenAndRead(real.c_str()), std::make_pair(std::string("file layer"), std::vector<uint8_t>{9, 8, 7}));
}

TEST_F(AdapterTest, NoseekStreamsEmulateSeeksAndLoaderListsChooseAdapters)
{
    ASSERT_EQ(Load("memnoseek"), 0u);
    StreamHandle* stream = StreamOpen("mem:data.bin", STREAM_READ | STREAM_ADAPTERS | STREAM_SEEKEMULATION);
    ASSERT_NE(stream, nullptr);
    EXPECT_NE(IsStreamNoSeek(stream), 0);
    EXPECT_EQ(GetStreamFlags(stream), uint32_t(STREAMFLAG_NOSEEK | STREAMFLAG_STREAMING));
    EXPECT_EQ(StreamSeek(stream, 100, STREAM_SEEK_BEGINNING), 0);   // forward: read and dropped
    EXPECT_EQ(StreamGetC(stream), 100);
    EXPECT_EQ(StreamSeek(stream, 10, STREAM_SEEK_BEGINNING), 101);  // back: rewind, then forward
    EXPECT_EQ(ReadSome(stream, 3), Pattern(10, 3));
    EXPECT_EQ(StreamSeek(stream, 20, STREAM_SEEK_CURRENT), 13);
    EXPECT_EQ(StreamGetC(stream), 33);
    EXPECT_EQ(StreamSeek(stream, 0, STREAM_SEEK_END), -1);
    EXPECT_EQ(StreamSeek(stream, 5000, STREAM_SEEK_BEGINNING), -1);  // past the end: a short read
    EXPECT_EQ(StreamSeek(stream, 0, STREAM_SEEK_BEGINNING), 1000);  // rewind is the adapter's own
    EXPECT_EQ(StreamGetC(stream), 0);
    StreamClose(stream);
    EXPECT_EQ(Count(Log(), "refusedseek"), 0u);  // the adapter was never asked to seek

    stream = StreamOpen("mem:data.bin", STREAM_READ | STREAM_ADAPTERS);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(StreamSeek(stream, 100, STREAM_SEEK_BEGINNING), -1);
    EXPECT_EQ(StreamSeek(stream, 5, STREAM_SEEK_CURRENT), -1);
    EXPECT_EQ(StreamSeek(stream, 0, STREAM_SEEK_CURRENT), 0);       // tell
    EXPECT_EQ(StreamGetC(stream), 0);
    StreamClose(stream);

    ASSERT_EQ(Load("membyname"), 0u);  // joins the chain only when named
    struct Case {
        const char* list;
        const char* adapter;  // null: no stream
    };
    // The list's own rules (prefixes, empty items) are the image loader
    // chain's too and are checked there.
    const Case cases[] = {
        {nullptr, "memnoseek"},
        {"", "memnoseek"},
        {"inbuilt|membyname", "membyname"},
        {"plugin", "memnoseek"},  // membyname was not named
        {"inbuilt", nullptr},
        {"native|mem", "memnoseek"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(OpenAndRead("mem:data.bin", c.list).first, c.adapter ? c.adapter : "no stream")
            << (c.list ? c.list : "(null)");

    // A disabled plugin is passed by.
    PluginListNode* node = GetPluginListForCapability(PLUGINCAPS_FILEADAPTER);
    ASSERT_NE(node, nullptr);
    while (node && std::strcmp(node->info->modulename, "memnoseek") != 0)
        node = node->next;
    ASSERT_NE(node, nullptr);
    node->info->disabled = 1;
    EXPECT_EQ(OpenAndRead("mem:data.bin").first, "no stream");
    EXPECT_EQ(OpenAndRead("mem:data.bin", "membyname").first, "membyname");
}

TEST_F(AdapterTest, VirtualNamesReachOnlyAdaptersThatServeThem)
{
    std::vector<uint8_t> block = {5, 6, 7, 8};
    MemoryName name;
    ASSERT_TRUE(MakeMemoryName(block.data(), block.size(), &name));

    ASSERT_EQ(Load("memnoseek"), 0u);  // does not take virtual names
    EXPECT_EQ(OpenAndRead(name.c_str()), std::make_pair(std::string("file layer"), block));
    EXPECT_EQ(Count(Log(), "fopen"), 0u);

    ASSERT_EQ(Load("memfile"), 0u);
    EXPECT_EQ(OpenAndRead(name.c_str()), std::make_pair(std::string("memfile"), block));
    EXPECT_NE(Log().find("fopen memfile Unnamed\n"), std::string::npos);

    // A linked file: the adapter is told the embedded name.
    std::string container = scratch.file("container.bin");
    WriteFileBytes(container, {0, 1, 2, 3, 4, 5, 6, 7});
    char chunk[1024];
    ASSERT_TRUE(MakeChunkName("inner.txt", chunk, sizeof chunk, 2, 3, 0, container.c_str()));
    EXPECT_EQ(OpenAndRead(chunk, "memnoseek|inbuilt"),
              std::make_pair(std::string("file layer"), std::vector<uint8_t>{2, 3, 4}));
    EXPECT_EQ(OpenAndRead(chunk).first, "memfile");
    EXPECT_NE(Log().find("fopen memfile inner.txt\n"), std::string::npos);
}

TEST_F(AdapterTest, ADirectoryAdapterServesLocksAndScans)
{
    ASSERT_EQ(Load("memdir"), 0u);
    ASSERT_EQ(Load("memfile"), 0u);
    EXPECT_EQ(OpenFileLock("mem:dir", 1), nullptr);  // adapters not allowed
    FileLock* lock = OpenFileLock("mem:dir", 5);
    ASSERT_NE(lock, nullptr);
    EXPECT_STREQ(GetLockAdapterName(lock), "memdir");
    FileInfoRecord info;
    ASSERT_EQ(ExamineLock(lock, &info), 0);
    EXPECT_EQ(info.kind, uint32_t(FILEINFO_DIRECTORY));
    void* word = reinterpret_cast<void*>(1);
    ASSERT_EQ(DirScanBegin(lock, &word), 0);
    EXPECT_EQ(word, nullptr);

    std::vector<std::pair<std::string, int>> entries;
    const char* entry = nullptr;
    int isDirectory = -1;
    while (DirScanNext(lock, 0, &entry, &isDirectory, &info)) {
        entries.emplace_back(entry, isDirectory);
        EXPECT_TRUE(isDirectory || info.size == 3u) << entry;
    }
    EXPECT_EQ(entries, (std::vector<std::pair<std::string, int>>{{"a.txt", 0}, {"sub", 1}}));
    CloseFileLock(lock);
    EXPECT_EQ(Count(Log(), "closedir memdir"), 1u);

    // A plain file of a file adapter: examined, not scanned.
    lock = OpenFileLock("mem:data.bin", 5);
    ASSERT_NE(lock, nullptr);
    EXPECT_STREQ(GetLockAdapterName(lock), "memfile");
    ASSERT_EQ(ExamineLock(lock, &info), 0);
    EXPECT_EQ(info.kind, uint32_t(FILEINFO_FILE));
    EXPECT_EQ(info.size, 1000u);
    EXPECT_STREQ(info.fullPath, "mem:data.bin");
    EXPECT_EQ(DirScanBegin(lock, nullptr), int(ERR_NOTADIR));
    CloseFileLock(lock);

    FileExamineRecord record;
    ASSERT_EQ(ExamineFileByName("mem:empty", &record, 1), 1);
    EXPECT_EQ(record.size, 0u);
    EXPECT_STREQ(record.fullPath, "mem:empty");
    EXPECT_EQ(ExamineFileByName("mem:empty", &record, 0), 0);
}

TEST_F(AdapterTest, TheHostTablesOpenStreamsThroughAdapters)
{
    ASSERT_EQ(Load("memfile"), 0u);
    const QmStreamTable* streams = GetPluginHostApi()->streams;
    QmStream* stream = streams->HostOpenStream("mem:data.bin", 0);
    ASSERT_NE(stream, nullptr);
    uint8_t bytes[4];
    EXPECT_EQ(streams->StreamRead(stream, bytes, 4), 4u);
    EXPECT_EQ(streams->HostSeekStream(stream, 300, STREAM_SEEK_BEGINNING), 4);
    EXPECT_EQ(streams->StreamGetC(stream), 300 % 256);
    QmFileInfo info;
    ASSERT_NE(streams->HostExamineStream(stream, &info, QM_FILEINFO_ALLOCATE), 0);
    EXPECT_EQ(info.size, 1000u);
    EXPECT_EQ(info.modified.year, 2020u);
    EXPECT_STREQ(info.comment, "from memory");
    GetPluginHostApi()->system->HostFreeMem(info.name);
    GetPluginHostApi()->system->HostFreeMem(info.comment);
    streams->StreamClose(stream);
    EXPECT_EQ(streams->HostOpenStream("mem:data.bin", QM_HOSTOPEN_NOADAPTERS), nullptr);

    QmFileLock* lock = streams->HostLockFile("mem:data.bin", 0);
    ASSERT_NE(lock, nullptr);
    ASSERT_EQ(streams->HostExamineLock(lock, &info, 0), 0);
    EXPECT_STREQ(info.name, "mem:data.bin");
    streams->CloseFileLock(lock);
    EXPECT_EQ(streams->HostLockFile("mem:data.bin", QM_HOSTLOCK_NOADAPTERS), nullptr);
}

} // namespace
