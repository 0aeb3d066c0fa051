// The file layer against the C library reading the same files directly.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "core/glue/file_layer.h"
#include "core/io/virtual_names.h"
#include "support/temp_dir.h"

namespace {

std::string RegionName(uint64_t offset, uint64_t size, const std::string& container,
                       const char* display = "pic.png")
{
    char name[2048];
    EXPECT_TRUE(MakeChunkName(display, name, sizeof name, offset, size, 0, container.c_str()));
    return name;
}

std::vector<uint8_t> ReadAll(OsFileHandle* h)
{
    std::vector<uint8_t> out;
    uint8_t block[333];
    size_t n;
    while ((n = OsFileRead(h, block, sizeof block)) > 0)
        out.insert(out.end(), block, block + n);
    return out;
}

class FileLayer : public ::testing::Test {
protected:
    TempDir dir;
    std::vector<uint8_t> data = PatternBytes(10000);
    std::string container = dir.file("container.bin");
    void SetUp() override { WriteFileBytes(container, data); }
};

// Works from another folder and leaves a file in the test program's own
// folder for the length of one test; both are undone however it ends.
class Excursion {
public:
    Excursion(const std::string& folder, const std::string& programFile) : programFile_(programFile)
    {
        EXPECT_NE(getcwd(saved_, sizeof saved_), nullptr);
        EXPECT_EQ(chdir(folder.c_str()), 0);
    }
    ~Excursion()
    {
        EXPECT_EQ(chdir(saved_), 0);
        std::remove(programFile_.c_str());
    }

private:
    char saved_[PATH_MAX] = "";
    std::string programFile_;
};

TEST_F(FileLayer, RegionsReadWriteFilesAndScriptPathsAgreeWithTheCLibrary)
{
    struct Case {
        uint64_t offset, size;
    } cases[] = {{0, 10000}, {1, 1}, {100, 2000}, {9999, 1}, {5000, 0}, {4096, 4096}};
    for (const Case& c : cases) {
        OsFileHandle* h = OsFileOpen(RegionName(c.offset, c.size, container).c_str(), OSFILE_READ);
        ASSERT_NE(h, nullptr);
        std::vector<uint8_t> expected(data.begin() + c.offset, data.begin() + c.offset + c.size);
        EXPECT_EQ(ReadAll(h), expected) << c.offset << "+" << c.size;
        EXPECT_EQ(OsFileGetC(h), -1);
        EXPECT_EQ(OsFileEof(h), 1);
        OsFileClose(h);
    }

    OsFileHandle* h = OsFileOpen(RegionName(300, 50, container).c_str(), OSFILE_READ);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(OsFileGetC(h), data[300]);
    EXPECT_EQ(OsFileSeek(h, 10, 1), 1);
    EXPECT_EQ(OsFileGetC(h), data[310]);
    EXPECT_EQ(OsFileSeek(h, 1000, 1), 11);  // past the end: stops at the end
    EXPECT_EQ(h->position, 50u);
    uint8_t b;
    EXPECT_EQ(OsFileRead(h, &b, 1), 0u);
    EXPECT_EQ(OsFileSeek(h, -5, 2), 50);
    EXPECT_EQ(OsFileGetC(h), data[345]);
    // Before the start of the region: refused, and the position stays.
    EXPECT_EQ(OsFileSeek(h, -100, 0), -1);
    EXPECT_EQ(OsFileSeek(h, -1, 1), -1);
    EXPECT_EQ(OsFileSeek(h, 299, 3), -1);  // absolute, in front of the base
    EXPECT_EQ(h->position, 46u);
    EXPECT_EQ(OsFileGetC(h), data[346]);
    EXPECT_EQ(OsFileSeek(h, 310, 3), 47);  // absolute file position
    EXPECT_EQ(OsFileGetC(h), data[310]);
    OsFileClose(h);

    // The name parser's own refusals are checked with it; one stands for them.
    const std::string names[] = {
        ":::chunk12:5*x", ":::chunk9223372036854775807:2*x?f", ":::chunkS1:0*x?unused", dir.path(),
        dir.file("missing"),
    };
    for (const std::string& name : names)
        EXPECT_EQ(OsFileOpen(name.c_str(), OSFILE_READ), nullptr) << name;
    // Regions are never opened for writing, and the container stays whole.
    std::string region = RegionName(100, 200, container);
    EXPECT_EQ(OsFileOpen(region.c_str(), OSFILE_WRITE), nullptr);
    EXPECT_EQ(OsFileOpen(region.c_str(), OSFILE_READWRITE), nullptr);
    EXPECT_EQ(ReadFileBytes(container), data);

    std::string path = dir.file("rw.bin");
    h = OsFileOpen(path.c_str(), OSFILE_READWRITE);  // created when missing
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(OsFileEof(h), 1);
    EXPECT_EQ(OsFileWrite(h, "hello world", 11), 11u);
    EXPECT_EQ(OsFileEof(h), 1);
    EXPECT_EQ(OsFileSeek(h, 0, 1), 11);
    EXPECT_EQ(OsFileEof(h), 0);
    // Read until the end, then append, then read the appended bytes back:
    // the direction changes need no seek from the caller.
    std::string seen;
    while (!OsFileEof(h))
        seen += static_cast<char>(OsFileGetC(h));
    EXPECT_EQ(seen, "hello world");
    EXPECT_EQ(OsFilePutC(h, '!'), 1);
    EXPECT_EQ(OsFileSeek(h, 5, 1), 12);
    EXPECT_EQ(OsFileWrite(h, "_", 1), 1u);
    EXPECT_EQ(OsFileGetC(h), 'w');
    EXPECT_EQ(OsFileSeek(h, 0, 2), 7);
    EXPECT_EQ(h->position, 12u);
    OsFileClose(h);
    std::vector<uint8_t> expected = {'h', 'e', 'l', 'l', 'o', '_', 'w', 'o', 'r', 'l', 'd', '!'};
    EXPECT_EQ(ReadFileBytes(path), expected);
    // Large offsets are 64-bit.
    std::string sparse = dir.file("sparse.bin");
    h = OsFileOpen(sparse.c_str(), OSFILE_WRITE);
    ASSERT_NE(h, nullptr);
    const int64_t far = (int64_t(1) << 32) + 7;
    EXPECT_EQ(OsFileSeek(h, far, 1), 0);
    EXPECT_EQ(OsFilePutC(h, 0x5a), 1);
    EXPECT_EQ(h->position, uint64_t(far) + 1);
    OsFileClose(h);

    h = OsFileOpen(sparse.c_str(), OSFILE_READ);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->size, uint64_t(far) + 1);
    EXPECT_EQ(OsFileSeek(h, -1, 2), 0);
    EXPECT_EQ(OsFileGetC(h), 0x5a);
    OsFileClose(h);

    std::string name = "file_layer_progdir_" + std::to_string(getpid()) + ".bin";
    std::string programFile = (std::filesystem::read_symlink("/proc/self/exe").parent_path() / name).string();
    std::string backslashed = dir.file("sub/data.txt");
    std::replace(backslashed.begin(), backslashed.end(), '/', '\\');
    std::vector<uint8_t> programBytes = PatternBytes(700, 2);
    std::vector<uint8_t> decoyBytes = PatternBytes(700, 3);
    std::vector<uint8_t> subBytes = PatternBytes(500, 4);
    ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0700), 0);
    WriteFileBytes(dir.file("sub/data.txt"), subBytes);
    // A file of the same name in the working folder: "PROGDIR:" read from
    // here would give these bytes instead.
    WriteFileBytes(dir.file(name), decoyBytes);
    Excursion excursion(dir.path(), programFile);
    WriteFileBytes(programFile, programBytes);

    const struct {
        std::string name;
        const std::vector<uint8_t>& bytes;
    } spellings[] = {
        {"sub\\data.txt", subBytes},
        {backslashed, subBytes},
        {"PROGDIR:" + name, programBytes},
    };
    for (const auto& c : spellings) {
        OsFileHandle* h = OsFileOpen(c.name.c_str(), OSFILE_READ);
        ASSERT_NE(h, nullptr) << c.name;
        EXPECT_EQ(h->size, c.bytes.size()) << c.name;
        EXPECT_EQ(ReadAll(h), c.bytes) << c.name;
        EXPECT_EQ(OsFileClose(h), 1);
    }
}

} // namespace
