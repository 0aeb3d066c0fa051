// ReadMem and WriteMem against files opened by the dos library, in both of
// its I/O modes (which every file command shares); the files are made and
// checked without the runtime.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/io/error_codes.h"
#include "core/vm/memory.h"
#include "libs/dos/dos_library.h"
#include "memblock_fixture.h"
#include "support/temp_dir.h"

using namespace testcalls;

namespace {

// Blocks beside the dos library's files.
class MemBlockWithFiles : public MemBlockTest {
protected:
    void SetUp() override
    {
        MemBlockTest::SetUp();
        ASSERT_EQ(RegisterDosLibrary(vm), 0u);
    }
    void TearDown() override
    {
        CleanupDosLibrary(vm);
        MemBlockTest::TearDown();
    }
};

class MemBlockFiles : public MemBlockWithFiles, public ::testing::WithParamInterface<double> {
protected:
    void SetUp() override
    {
        MemBlockWithFiles::SetUp();
        ASSERT_EQ(Call("setiomode", {GetParam()}), 0u);
        ASSERT_EQ(Call("allocmem", {1.0, 16.0}), 0u);
    }

    TempDir dir;
};

constexpr double kRead = MODE_READ, kWrite = MODE_WRITE, kReadWrite = MODE_READWRITE;

TEST_P(MemBlockFiles, ReadMemFillsThePartOfTheBlockAsked)
{
    std::vector<uint8_t> pattern = PatternBytes(12);
    WriteFileBytes(dir.file("in.bin"), pattern);
    ASSERT_EQ(Call("openfile", {1.0, dir.file("in.bin"), kRead}), 0u);
    ASSERT_EQ(Call("readmem", {1.0, 1.0, 5.0, 3.0}), 0u);
    std::vector<uint8_t> expected(16, 0);
    std::copy(pattern.begin(), pattern.begin() + 5, expected.begin() + 3);
    EXPECT_EQ(Bytes(1, 0, 16), expected);

    // The file position moved on; the remaining 7 bytes are too few for 8.
    EXPECT_EQ(Call("readmem", {1.0, 1.0, 8.0}), ERR_READ);
    EXPECT_EQ(Call("readmem", {1.0, 1.0, 1.0, -1.0}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("readmem", {1.0, 1.0, 17.0}), ERR_MEMRANGE);
    EXPECT_EQ(Call("readmem", {1.0, 1.0, 4.0, 13.0}), ERR_MEMRANGE);
    EXPECT_EQ(Call("readmem", {1.0, 1.0, 0.0}), 0u);
    EXPECT_EQ(Call("setiomode", {2.0}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("readmem", {1.0, 2.0, 1.0}), ERR_FINDMEMBLK);
    EXPECT_EQ(Call("readmem", {2.0, 1.0, 1.0}), ERR_FINDFILE);

    ASSERT_EQ(Call("openfile", {2.0, dir.file("out.bin"), kWrite}), 0u);
    EXPECT_EQ(Call("readmem", {2.0, 1.0, 1.0}), ERR_WRITEONLY);
}

TEST_P(MemBlockFiles, WriteMemWritesThePartOfTheBlockAsked)
{
    for (int i = 0; i < 16; ++i)
        ASSERT_EQ(Call("poke", {1.0, double(i), double(0xF0 + i), kByte}), 0u);
    ASSERT_EQ(Call("openfile", {1.0, dir.file("out.bin"), kWrite}), 0u);
    ASSERT_EQ(Call("writemem", {1.0, 1.0, 4.0, 10.0}), 0u);
    ASSERT_EQ(Call("writemem", {1.0, 1.0, 2.0}), 0u);
    EXPECT_EQ(Call("writemem", {1.0, 1.0, 4.0, 13.0}), ERR_MEMRANGE);
    EXPECT_EQ(Call("writemem", {1.0, 1.0, 4.0, -2.0}), ERR_WRONGUSAGE);
    ASSERT_EQ(Call("closefile", {1.0}), 0u);
    EXPECT_EQ(ReadFileBytes(dir.file("out.bin")), (std::vector<uint8_t>{0xFA, 0xFB, 0xFC, 0xFD, 0xF0, 0xF1}));

    ASSERT_EQ(Call("openfile", {2.0, dir.file("out.bin"), kRead}), 0u);
    EXPECT_EQ(Call("writemem", {1.0, 2.0, 1.0}), ERR_READONLY);

    // Read and write on one file: write, seek back, read into another block.
    ASSERT_EQ(Call("openfile", {3.0, dir.file("rw.bin"), kReadWrite}), 0u);
    ASSERT_EQ(Call("writemem", {1.0, 3.0, 16.0}), 0u);
    ASSERT_EQ(Call("seek", {3.0, 0.0}), 0u);
    ASSERT_EQ(Call("allocmem", {2.0, 16.0}), 0u);
    ASSERT_EQ(Call("readmem", {3.0, 2.0, 16.0}), 0u);
    EXPECT_EQ(Bytes(2, 0, 16), Bytes(1, 0, 16));
}

INSTANTIATE_TEST_SUITE_P(IoModes, MemBlockFiles, ::testing::Values(0.0, 1.0));

class MemBlockOverVirtualFiles : public MemBlockWithFiles {
protected:
    std::string Define(const std::string& text, const char* name, double writable)
    {
        std::vector<Value> r;
        EXPECT_EQ(Call("definevirtualfilefromstring", {text, std::string(name), writable}, &r), 0u);
        return r.empty() ? std::string() : std::get<std::string>(r[0]);
    }
    // Appends 200000 bytes of 'q' to a writable string file through file 9.
    void Grow(const std::string& name)
    {
        ASSERT_EQ(Call("openfile", {9.0, name, kReadWrite}), 0u);
        ASSERT_EQ(Call("seek", {9.0, -1.0}), 0u);
        ASSERT_EQ(Call("writestring", {9.0, std::string(200000, 'q')}), 0u);
        ASSERT_EQ(Call("closefile", {9.0}), 0u);
    }
};

// A block over a read-only string file must not change the script's own
// string; a block over a writable one follows its bytes when the file grows
// and keeps them when the file is undefined.
TEST_F(MemBlockOverVirtualFiles, BlocksBorrowTheirFileSafely)
{
    std::string ro = Define("ABCDEFGH", "ro.txt", 0);
    ASSERT_EQ(Call("allocmemfromvirtualfile", {1.0, ro}), 0u);
    EXPECT_EQ(Call("poke", {1.0, 0.0, std::string("ZZZZ"), kString}), ERR_READONLY);
    EXPECT_EQ(Call("fillmem", {1.0, 90.0, 4.0}), ERR_READONLY);
    ASSERT_EQ(Call("allocmem", {9.0, 8.0}), 0u);
    EXPECT_EQ(Call("copymem", {9.0, 1.0, 4.0}), ERR_READONLY);
    EXPECT_EQ(Call("tabletomem", {Array{{90.0}}, 1.0, kByte}), ERR_READONLY);
    EXPECT_EQ(Number("peek", {1.0, 0.0, kByte}), 'A');
    ASSERT_EQ(Call("undefinevirtualstringfile", {ro}), 0u);
    VmCollectGarbage(vm);
    EXPECT_EQ(Number("peek", {1.0, 7.0, kByte}), 'H');

    std::string rw = Define("abc", "rw.txt", 1);
    ASSERT_EQ(Call("allocmemfromvirtualfile", {2.0, rw}), 0u);
    ASSERT_EQ(Call("poke", {2.0, 0.0, 90.0, kByte}), 0u);
    Grow(rw);
    EXPECT_EQ(Number("peek", {2.0, 0.0, kByte}), 90.0);
    EXPECT_EQ(Number("peek", {2.0, 200002.0, kByte}), 'q');
    EXPECT_EQ(Call("peek", {2.0, 200003.0, kByte}), ERR_MEMRANGE);
    ASSERT_EQ(Call("undefinevirtualstringfile", {rw}), 0u);
    ASSERT_EQ(Call("poke", {2.0, 1.0, 89.0, kByte}), 0u);
    EXPECT_EQ(Number("peek", {2.0, 1.0, kByte}), 89.0);
}

// A block made over a file block's address is as read-only as the file,
// and follows the file's bytes as they move.
TEST_F(MemBlockOverVirtualFiles, BlocksOverAFileBlocksAddressBorrowTheFile)
{
    std::string text = "ABCDEFGH";
    std::string ro = Define(text, "ro.txt", 0);
    ASSERT_EQ(Call("allocmemfromvirtualfile", {1.0, ro}), 0u);
    ASSERT_EQ(Call("allocmemfrompointer", {2.0, One("getmempointer", {1.0, 2.0}), 0.0}), 0u);
    EXPECT_EQ(Block(2)->size, 6u);
    EXPECT_EQ(Call("poke", {2.0, 0.0, 90.0, kByte}), ERR_READONLY);
    EXPECT_EQ(Call("allocmemfrompointer", {3.0, One("getmempointer", {1.0, 2.0}), 7.0}), ERR_MEMRANGE);
    EXPECT_EQ(Number("peek", {1.0, 2.0, kByte}), 'C');
    ASSERT_EQ(Call("freemem", {1.0}), 0u);
    ASSERT_EQ(Call("undefinevirtualstringfile", {ro}), 0u);
    VmCollectGarbage(vm);
    EXPECT_EQ(Number("peek", {2.0, 5.0, kByte}), 'H');

    std::string rw = Define("abcd", "rw.txt", 1);
    ASSERT_EQ(Call("allocmemfromvirtualfile", {4.0, rw}), 0u);
    ASSERT_EQ(Call("allocmemfrompointer", {5.0, One("getmempointer", {4.0, 1.0}), 2.0}), 0u);
    ASSERT_EQ(Call("poke", {5.0, 0.0, 66.0, kByte}), 0u);
    Grow(rw);
    EXPECT_EQ(Number("peek", {4.0, 1.0, kByte}), 66.0);
    ASSERT_EQ(Call("poke", {5.0, 1.0, 67.0, kByte}), 0u);
    EXPECT_EQ(Number("peek", {4.0, 2.0, kByte}), 67.0);
    EXPECT_EQ(Call("peek", {5.0, 2.0, kByte}), ERR_MEMRANGE);
}

}  // namespace
