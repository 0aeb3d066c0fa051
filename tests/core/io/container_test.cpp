// The compressed container against an independent zlib user: Python reads
// what is written here and writes what is read here. Broken containers give
// an error and leave no output file behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/io/container.h"
#include "core/io/error_codes.h"
#include "core/io/stream.h"
#include "core/io/virtual_names.h"
#include "support/oracles.h"
#include "support/temp_dir.h"

namespace {

std::string DataFile(const char* name) { return std::string(QM_SOURCE_DIR) + "/tests/core/io/data/" + name; }

// Runs a short Python program with two file arguments.
bool RunPython(const std::string& program, const std::string& a, const std::string& b)
{
    std::string command = "python3 -c '" + program + "' '" + a + "' '" + b + "'";
    return std::system(command.c_str()) == 0;
}

class Container : public ::testing::Test {
protected:
    TempDir dir;
    std::string plain = dir.file("plain.bin");
    std::string packed = dir.file("packed.qmpk");
    std::string unpacked = dir.file("unpacked.bin");

    // Inflates the container file `from` (at `offset`) into the file `to`.
    static uint32_t Inflate(const std::string& from, const std::string& to,
                            const char* magic = CONTAINER_MAGIC_PACKAGE, uint64_t offset = 0)
    {
        return InflateFileWithMagic(magic, from.c_str(), to.c_str(), nullptr, offset, nullptr, nullptr, nullptr, 0);
    }
};

TEST_F(Container, PythonInflatesWhatIsDeflatedHere)
{
    QM_SKIP_WITHOUT(HavePython()) << "python3 with zlib is not installed";
    std::vector<uint8_t> compressible;
    for (int i = 0; i < 3000; ++i)
        for (char c : std::to_string(i * 7))
            compressible.push_back(static_cast<uint8_t>(c));
    const std::vector<uint8_t> inputs[] = {{}, {42}, PatternBytes(16384), PatternBytes(100001), compressible};
    for (const auto& input : inputs) {
        WriteFileBytes(plain, input);
        uint64_t written = 0;
        ASSERT_EQ(DeflateFileWithMagic(CONTAINER_MAGIC_PACKAGE, plain.c_str(), packed.c_str(), nullptr, &written), 0u);
        std::vector<uint8_t> container = ReadFileBytes(packed);
        EXPECT_EQ(written, container.size());
        ASSERT_GE(container.size(), 8u);
        EXPECT_EQ(std::memcmp(container.data(), "QMPK\0\0\0\0", 8), 0);
        ASSERT_TRUE(RunPython("import zlib,sys; d=open(sys.argv[1],\"rb\").read(); "
                              "o=zlib.decompressobj(); r=o.decompress(d[8:]); "
                              "assert o.eof and not o.unused_data; open(sys.argv[2],\"wb\").write(r)",
                              packed, unpacked));
        EXPECT_EQ(ReadFileBytes(unpacked), input) << input.size();
    }
}

TEST_F(Container, InflatesWhatPythonDeflated)
{
    QM_SKIP_WITHOUT(HavePython()) << "python3 with zlib is not installed";
    struct Case { size_t size; int level; const char* magic; const char* magicText; } cases[] = {
        {70000, 9, CONTAINER_MAGIC_APPLET, "QMZ\\x00"}, {5, 1, CONTAINER_MAGIC_PLUGINS, "PLPK"},
        {200000, 0, CONTAINER_MAGIC_PACKAGE, "QMPK"},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> input = PatternBytes(c.size, 3);
        WriteFileBytes(plain, input);
        // Trailing bytes after the zlib stream must not be read as data.
        std::string program = std::string("import zlib,sys; d=open(sys.argv[1],\"rb\").read(); "
                                          "open(sys.argv[2],\"wb\").write(b\"") +
                              c.magicText + "\\0\\0\\0\\0\"+zlib.compress(d," + std::to_string(c.level) +
                              ")+b\"trailing junk\")";
        ASSERT_TRUE(RunPython(program, plain, packed));
        uint64_t size = 0, length = 0;
        ASSERT_EQ(InflateFileWithMagic(c.magic, packed.c_str(), unpacked.c_str(), nullptr, 0, &size, &length,
                                       nullptr, 0),
                  0u);
        EXPECT_EQ(ReadFileBytes(unpacked), input);
        EXPECT_EQ(size, input.size());
        EXPECT_EQ(length, ReadFileBytes(packed).size() - std::strlen("trailing junk"));
    }
}

TEST_F(Container, FixedContainersInflateWhole)
{
    ASSERT_EQ(Inflate(DataFile("golden_qmpk.bin"), unpacked), 0u);
    EXPECT_EQ(ReadFileBytes(unpacked), ReadFileBytes(DataFile("golden_plain.txt")));
}

TEST_F(Container, RoundTripThroughEverySourceKind)
{
    std::vector<uint8_t> input = PatternBytes(50000, 9);
    WriteFileBytes(plain, input);
    ASSERT_EQ(DeflateFileWithMagic(CONTAINER_MAGIC_APPLET, plain.c_str(), packed.c_str(), nullptr, nullptr), 0u);
    std::vector<uint8_t> container = ReadFileBytes(packed);

    // The container in the middle of a larger file, reached by offset, by a
    // region name, and as a memory block.
    std::vector<uint8_t> wrapped = PatternBytes(1000, 4);
    wrapped.insert(wrapped.end(), container.begin(), container.end());
    wrapped.resize(wrapped.size() + 500, 0xAB);
    std::string outer = dir.file("outer.bin");
    WriteFileBytes(outer, wrapped);
    char region[1024];
    ASSERT_TRUE(MakeChunkName("x.qmz", region, sizeof region, 1000, container.size(), 0, outer.c_str()));
    MemoryName memory;
    ASSERT_TRUE(MakeMemoryName(wrapped.data(), wrapped.size(), &memory));

    struct Case { const char* source; uint64_t offset; };
    const Case cases[] = {{outer.c_str(), 1000}, {region, 0}, {memory.c_str(), 1000}};
    for (const Case& c : cases) {
        std::remove(unpacked.c_str());
        uint64_t size = 0, length = 0;
        ASSERT_EQ(InflateFileWithMagic(CONTAINER_MAGIC_APPLET, c.source, unpacked.c_str(), nullptr, c.offset,
                                       &size, &length, nullptr, 0),
                  0u)
            << c.source;
        EXPECT_EQ(ReadFileBytes(unpacked), input);
        EXPECT_EQ(length, container.size());
    }

    // An open source stream is read from where it stands.
    StreamHandle* s = StreamOpen(outer.c_str(), STREAM_READ);
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(StreamSeek(s, 1000, STREAM_SEEK_BEGINNING), 0);
    std::vector<uint8_t> out(input.size());
    uint64_t size = 0;
    EXPECT_EQ(InflateFileWithMagic(CONTAINER_MAGIC_APPLET, nullptr, nullptr, s, 0, &size, nullptr, out.data(),
                                   out.size()),
              0u);
    EXPECT_EQ(out, input);
    StreamClose(s);
}

TEST_F(Container, DeflatesIntoAnOpenStreamAtItsPosition)
{
    std::vector<uint8_t> input = PatternBytes(3000, 2);
    WriteFileBytes(plain, input);
    StreamHandle* out = StreamOpen(packed.c_str(), STREAM_WRITE);
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(StreamWrite(out, "prefix", 6), 6u);
    uint64_t written = 0;
    ASSERT_EQ(DeflateFileWithMagic(CONTAINER_MAGIC_PLUGINS, plain.c_str(), nullptr, out, &written), 0u);
    StreamClose(out);
    EXPECT_EQ(written + 6, ReadFileBytes(packed).size());
    ASSERT_EQ(Inflate(packed, unpacked, CONTAINER_MAGIC_PLUGINS, 6), 0u);
    EXPECT_EQ(ReadFileBytes(unpacked), input);
}

TEST_F(Container, SmallMemoryBlocksFillAndSucceed)
{
    std::vector<uint8_t> input = PatternBytes(40000, 5);
    WriteFileBytes(plain, input);
    ASSERT_EQ(DeflateFileWithMagic(CONTAINER_MAGIC_PACKAGE, plain.c_str(), packed.c_str(), nullptr, nullptr), 0u);
    for (size_t room : {size_t(1), size_t(100), size_t(16384), size_t(39999)}) {
        std::vector<uint8_t> block(room + 1, 0xEE);
        uint64_t size = 0;
        ASSERT_EQ(InflateFileWithMagic(CONTAINER_MAGIC_PACKAGE, packed.c_str(), nullptr, nullptr, 0, &size, nullptr,
                                       block.data(), room),
                  0u);
        EXPECT_EQ(size, room);
        EXPECT_EQ(std::memcmp(block.data(), input.data(), room), 0);
        EXPECT_EQ(block[room], 0xEE);  // nothing written past the block
    }
}

TEST_F(Container, BrokenContainersFailAndLeaveNoOutput)
{
    std::vector<uint8_t> input = PatternBytes(60000, 6);
    WriteFileBytes(plain, input);
    ASSERT_EQ(DeflateFileWithMagic(CONTAINER_MAGIC_PACKAGE, plain.c_str(), packed.c_str(), nullptr, nullptr), 0u);
    const std::vector<uint8_t> good = ReadFileBytes(packed);

    struct Case { const char* what; std::vector<uint8_t> bytes; uint32_t code; };
    std::vector<Case> cases;
    cases.push_back({"empty", {}, ERR_READ});
    cases.push_back({"magic only", {good.begin(), good.begin() + 4}, ERR_READ});
    cases.push_back({"header only", {good.begin(), good.begin() + 8}, ERR_ZLIBDATA});
    for (size_t cut : {size_t(10), good.size() / 2, good.size() - 1})
        cases.push_back({"truncated", {good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut)}, ERR_ZLIBDATA});
    std::vector<uint8_t> flipped = good;
    flipped[good.size() / 2] ^= 0x55;
    cases.push_back({"corrupt body", flipped, ERR_ZLIBDATA});
    std::vector<uint8_t> badChecksum = good;
    badChecksum.back() ^= 1;
    cases.push_back({"bad checksum", badChecksum, ERR_ZLIBDATA});
    std::vector<uint8_t> badHeader = good;
    badHeader[8] = 0x79;
    cases.push_back({"bad zlib header", badHeader, ERR_ZLIBDATA});
    std::vector<uint8_t> wrongMagic = good;
    std::memcpy(wrongMagic.data(), "PLPK", 4);
    cases.push_back({"wrong magic", wrongMagic, ERR_PAKFORMAT});

    for (const Case& c : cases) {
        WriteFileBytes(packed, c.bytes);
        WriteFileBytes(unpacked, {1, 2, 3});  // an older file of that name stays whole
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Inflate(packed, unpacked), c.code);
        EXPECT_EQ(ReadFileBytes(unpacked), (std::vector<uint8_t>{1, 2, 3}));
        std::remove(unpacked.c_str());
        EXPECT_EQ(Inflate(packed, unpacked), c.code);
        EXPECT_FALSE(FileExists(unpacked));
    }
}

TEST_F(Container, MissingFilesNameTheirError)
{
    EXPECT_EQ(DeflateFileWithMagic(CONTAINER_MAGIC_PACKAGE, dir.file("missing").c_str(), packed.c_str(), nullptr,
                                   nullptr),
              ERR_READFILE);
    EXPECT_FALSE(FileExists(packed));
    WriteFileBytes(plain, PatternBytes(10));
    EXPECT_EQ(DeflateFileWithMagic(CONTAINER_MAGIC_PACKAGE, plain.c_str(), dir.file("no/such/dir/x").c_str(),
                                   nullptr, nullptr),
              ERR_WRITEFILE);
    EXPECT_EQ(Inflate(dir.file("missing"), unpacked), ERR_READFILE);
}

} // namespace
