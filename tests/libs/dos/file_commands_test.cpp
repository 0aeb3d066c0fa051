// Open files through the script commands, with the bytes on disk read back
// independently.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "core/io/errors.h"
#include "dos_fixture.h"

namespace {

constexpr double kRead = MODE_READ, kWrite = MODE_WRITE, kReadWrite = MODE_READWRITE;

class FileCommands : public DosTest {
protected:
    void Open(double id, const std::string& name, double mode)
    {
        ASSERT_EQ(Call("OpenFile", {Num(id), Str(name), Num(mode)}), 0u) << name;
    }
};

TEST_F(FileCommands, OpeningClosingAccessByteOrderAndLines)
{
    WriteFileBytes(Path("a"), {1, 2, 3});
    int base;
    ASSERT_EQ(CallKeep("OpenFile", {Nil{}, Str(Path("a"))}, &base), 0u);
    int handle = VmGetTop(vm);
    EXPECT_EQ(One("ReadChr", {}, {handle}), Value{1.0});
    EXPECT_EQ(Call("CloseFile", {}, nullptr, {handle}), 0u);
    EXPECT_EQ(Call("CloseFile", {}, nullptr, {handle}), uint32_t{ERR_FINDARRAY});

    // Reopening an id closes the first file.
    WriteFileBytes(Path("two"), {'2'});
    Open(1, Path("a"), kRead);
    Open(1, Path("two"), kRead);
    EXPECT_EQ(One("ReadChr", {Num(1)}), Value{double('2')});
    ASSERT_EQ(Call("CloseFile", {Num(1)}), 0u);
    EXPECT_EQ(Call("CloseFile", {Num(1)}), uint32_t{ERR_FINDFILE});
    EXPECT_EQ(errorArgNumber, 1);

    const std::pair<std::vector<Value>, uint32_t> cases[] = {
        {{Num(1), Str(Path("x")), Num(1234)}, ERR_WRONGUSAGE},
        {{Num(1), Str(""), Num(kWrite)}, ERR_WRONGUSAGE},
        {{Num(1), Str(Path("missing")), Num(kRead)}, ERR_READFILE},
        {{Num(1), Str(Path("no/such/dir/f")), Num(kWrite)}, ERR_WRITEFILE},
    };
    for (const auto& [args, code] : cases)
        EXPECT_EQ(Call("OpenFile", args), code);
    EXPECT_STREQ(errorArgText, Path("no/such/dir/f").c_str());
    // A FIFO, a socket or a folder opened as a file would block or mislead;
    // they are refused at once instead of holding the script thread in open.
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    for (double mode : {kRead, kWrite, kReadWrite}) {
        EXPECT_NE(Call("OpenFile", {Num(1), Str(Path("fifo")), Num(mode)}), 0u) << mode;
        EXPECT_NE(Call("OpenFile", {Num(1), Str(dir.path()), Num(mode)}), 0u) << mode;
    }
    EXPECT_NE(Call("FileToString", {Str(Path("fifo"))}), 0u);
    Open(1, "/dev/null", kWrite);
    EXPECT_EQ(Call("CloseFile", {Num(1)}), 0u);

    Open(1, Path("w"), kWrite);
    ASSERT_EQ(Call("WriteShort", {Num(1), Num(0x1234)}), 0u);
    ASSERT_EQ(Call("WriteShort", {Num(1), Num(0x1234), Num(1)}), 0u);
    ASSERT_EQ(Call("WriteInt", {Num(1), Num(0x01020304)}), 0u);
    ASSERT_EQ(Call("WriteInt", {Num(1), Num(-2), Num(1)}), 0u);
    ASSERT_EQ(Call("WriteFloat", {Num(1), Num(1.5)}), 0u);
    ASSERT_EQ(Call("WriteFloat", {Num(1), Num(-2.0), Num(4)}), 0u);
    ASSERT_EQ(Call("WriteFloat", {Num(1), Num(1.5), Num(4), Num(1)}), 0u);
    ASSERT_EQ(Call("WriteChr", {Num(1), Num(0x141)}), 0u);
    EXPECT_EQ(Call("WriteFloat", {Num(1), Num(1), Num(2)}), uint32_t{ERR_WRONGUSAGE});
    ASSERT_EQ(Call("CloseFile", {Num(1)}), 0u);
    std::vector<uint8_t> expected = {0x12, 0x34, 0x34, 0x12, 1, 2, 3, 4, 0xFE, 0xFF, 0xFF, 0xFF,
                                     0x3F, 0xF8, 0, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0xC0, 0x3F, 0x41};
    EXPECT_EQ(ReadFileBytes(Path("w")), expected);

    WriteFileBytes(Path("r"), {0x12, 0x34, 0x34, 0x12, 0xFF, 0xFF, 0xFF, 0xFE, 0x3F, 0xF8, 0, 0, 0, 0, 0, 0,
                               0, 0, 0xC0, 0x3F, 'a', 'b', 'c', 7});
    Open(1, Path("r"), kRead);
    EXPECT_EQ(One("ReadShort", {Num(1)}), Value{double(0x1234)});
    EXPECT_EQ(One("ReadShort", {Num(1), Num(1)}), Value{double(0x1234)});
    EXPECT_EQ(One("ReadInt", {Num(1)}), Value{4294967294.0});
    EXPECT_EQ(One("ReadFloat", {Num(1)}), Value{1.5});
    EXPECT_EQ(One("ReadFloat", {Num(1), Num(4), Num(1)}), Value{1.5});
    EXPECT_EQ(One("ReadString", {Num(1), Num(3)}), Value{Str("abc")});
    EXPECT_EQ(Call("ReadInt", {Num(1)}), uint32_t{ERR_READ});

    WriteFileBytes(Path("r"), {1});
    Open(1, Path("w"), kWrite);
    Open(2, Path("r"), kRead);
    for (const char* cmd : {"ReadChr", "ReadLine", "ReadShort", "ReadInt", "ReadFloat"})
        EXPECT_EQ(Call(cmd, {Num(1)}), uint32_t{ERR_WRITEONLY}) << cmd;
    EXPECT_EQ(Call("ReadString", {Num(1), Num(1)}), uint32_t{ERR_WRITEONLY});
    for (const char* cmd : {"WriteChr", "WriteShort", "WriteInt", "WriteFloat"})
        EXPECT_EQ(Call(cmd, {Num(2), Num(1)}), uint32_t{ERR_READONLY}) << cmd;
    EXPECT_EQ(Call("WriteString", {Num(2), Str("x")}), uint32_t{ERR_READONLY});
    EXPECT_EQ(Call("WriteLine", {Num(2), Str("x")}), uint32_t{ERR_READONLY});

    WriteFileBytes(Path("l"), StringToBytes("a\r\nb\rc\n\nlast"));
    Open(1, Path("l"), kRead);
    for (const char* line : {"a", "bc", "", "last"})
        EXPECT_EQ(One("ReadLine", {Num(1)}), Value{Str(line)});
    EXPECT_EQ(One("Eof", {Num(1)}), Value{1.0});
    EXPECT_EQ(One("ReadLine", {Num(1)}), Value{Str("")});

    // WriteLine ends with CR LF; WriteString takes a prefix.
    Open(2, Path("t"), kWrite);
    ASSERT_EQ(Call("WriteLine", {Num(2), Str("hi")}), 0u);
    ASSERT_EQ(Call("WriteString", {Num(2), Str(std::string("a\0bc", 4)), Num(3)}), 0u);
    ASSERT_EQ(Call("WriteString", {Num(2), Str("xyz")}), 0u);
    EXPECT_EQ(Call("WriteString", {Num(2), Str("abc"), Num(4)}), uint32_t{ERR_STRTOOSHORT});
    ASSERT_EQ(Call("CloseFile", {Num(2)}), 0u);
    EXPECT_EQ(BytesToString(ReadFileBytes(Path("t"))), std::string("hi\r\na\0bxyz", 10));
}

TEST_F(FileCommands, SeekPositionsLengthsAndNames)
{
    WriteFileBytes(Path("s"), PatternBytes(1000));
    Open(1, Path("s"), kReadWrite);
    ASSERT_EQ(Call("Seek", {Num(1), Num(-1)}), 0u);
    EXPECT_EQ(One("FilePos", {Num(1)}), Value{1000.0});
    EXPECT_EQ(One("FileLength", {Num(1)}), Value{1000.0});
    ASSERT_EQ(Call("Seek", {Num(1), Num(-10), Num(2)}), 0u);
    EXPECT_EQ(One("FilePos", {Num(1)}), Value{990.0});
    ASSERT_EQ(Call("Seek", {Num(1), Num(5), Num(0)}), 0u);
    EXPECT_EQ(One("FilePos", {Num(1)}), Value{995.0});
    EXPECT_EQ(Call("Seek", {Num(1), Num(-5000), Num(0)}), uint32_t{ERR_SEEKFILE});
    for (double mode : {-1.0, 3.0, 99.0})
        EXPECT_EQ(Call("Seek", {Num(1), Num(0), Num(mode)}), uint32_t{ERR_SEEKFILE}) << mode;
    EXPECT_EQ(One("FilePos", {Num(1)}), Value{995.0});
    ASSERT_EQ(Call("Seek", {Num(1), Num(2)}), 0u);
    ASSERT_EQ(Call("WriteChr", {Num(1), Num(0xAB)}), 0u);
    ASSERT_EQ(Call("FlushFile", {Num(1)}), 0u);
    EXPECT_EQ(ReadFileBytes(Path("s"))[2], 0xAB);
    EXPECT_EQ(One("FileLength", {Num(1)}), Value{1000.0});

    WriteFileBytes(Path("f.txt"), PatternBytes(77));
    EXPECT_EQ(One("Exists", {Str(Path("f.txt"))}), Value{1.0});
    EXPECT_EQ(One("Exists", {Str(Path("nope"))}), Value{0.0});
    EXPECT_EQ(One("Exists", {Str("")}), Value{0.0});
    EXPECT_EQ(One("FileSize", {Str(Path("f.txt"))}), Value{77.0});
    EXPECT_EQ(One("FileSize", {Str(dir.path())}), Value{-1.0});
    EXPECT_EQ(One("FileSize", {Str(Path("nope"))}), Value{-1.0});
    const std::tuple<const char*, const char*, const char*> names[] = {
        {"a/b/c.txt", "a/b/", "c.txt"},
        {"c.txt", "", "c.txt"},
        {"dir\\x.y", "dir\\", "x.y"},
        {"vol:file", "vol:", "file"},
        {"a/b/", "a/b/", ""},
    };
    for (auto [path, pathPart, filePart] : names) {
        EXPECT_EQ(One("PathPart", {Str(path)}), Value{Str(pathPart)}) << path;
        EXPECT_EQ(One("FilePart", {Str(path)}), Value{Str(filePart)}) << path;
    }
    EXPECT_EQ(Call("PathPart", {Str(":::chunk0:5*x.txt?c")}), uint32_t{ERR_WRONGUSAGE});
    EXPECT_EQ(One("FilePart", {Str(":::chunk0:5*dir/x.txt?c")}), Value{Str("x.txt")});
}

TEST_F(FileCommands, ContainerCommandsAgreeWithZlibAndRefuseOneFileAsBoth)
{
    // Packing or unpacking a file onto itself would empty it before it is
    // read, whatever spelling names it twice.
    const std::vector<uint8_t> original = PatternBytes(3000);
    WriteFileBytes(Path("x"), original);
    ASSERT_EQ(symlink(Path("x").c_str(), Path("link").c_str()), 0);
    const std::pair<std::string, std::string> spellings[] = {
        {Path("x"), dir.path() + "/./x"},
        {Path("link"), Path("x")},
    };
    for (const char* command : {"CompressFile", "DecompressFile"})
        for (const auto& [from, to] : spellings) {
            EXPECT_EQ(Call(command, {Str(from), Str(to)}), uint32_t{ERR_WRITEFILE}) << command << " " << to;
            EXPECT_EQ(ReadFileBytes(Path("x")), original) << command << " " << to;
        }

    QM_SKIP_WITHOUT(HavePython()) << "python3 with zlib is needed as the oracle";
    for (size_t size : {size_t{0}, size_t{1}, size_t{70000}}) {
        std::vector<uint8_t> data = PatternBytes(size, static_cast<uint32_t>(size + 3));
        WriteFileBytes(Path("plain"), data);
        Value written = One("CompressFile", {Str(Path("plain")), Str(Path("packed"))});
        std::vector<uint8_t> packed = ReadFileBytes(Path("packed"));
        EXPECT_EQ(written, Value{double(packed.size())});
        ASSERT_GE(packed.size(), 8u);
        EXPECT_EQ(std::string(packed.begin(), packed.begin() + 8), std::string("QMPK\0\0\0\0", 8));
        ASSERT_TRUE(RunShell("python3 -c 'import zlib,sys; d=open(sys.argv[1],\"rb\").read(); "
                             "sys.exit(zlib.decompress(d[8:]) != open(sys.argv[2],\"rb\").read())' " +
                             Path("packed") + " " + Path("plain")));
        // The other way: Python packs, the command unpacks.
        ASSERT_TRUE(RunShell("python3 -c 'import zlib,sys; d=open(sys.argv[1],\"rb\").read(); "
                             "open(sys.argv[2],\"wb\").write(b\"QMPK\\0\\0\\0\\0\" + zlib.compress(d, 9))' " +
                             Path("plain") + " " + Path("py")));
        EXPECT_EQ(One("DecompressFile", {Str(Path("py")), Str(Path("out"))}), Value{double(size)});
        EXPECT_EQ(ReadFileBytes(Path("out")), data);
    }
    WriteFileBytes(Path("plugins"), StringToBytes(std::string("PLPK\0\0\0\0", 8)));
    EXPECT_EQ(Call("DecompressFile", {Str(Path("plugins")), Str(Path("out"))}), uint32_t{ERR_PAKFORMAT});
}

// A full disk takes a small write into the buffer and refuses it only when
// the buffer goes out: the close or flush must say so.
TEST_F(FileCommands, LostWritesAreReportedNotPassedForSuccess)
{
    const std::string full = "/dev/full";
    const std::string line(100, 'x');
    Open(1, full, kWrite);
    ASSERT_EQ(Call("WriteLine", {Num(1), Str(line)}), 0u);
    EXPECT_EQ(Call("FlushFile", {Num(1)}), uint32_t{ERR_WRITE});
    Open(2, full, kWrite);
    ASSERT_EQ(Call("WriteLine", {Num(2), Str(line)}), 0u);
    EXPECT_EQ(Call("CloseFile", {Num(2)}), uint32_t{ERR_WRITE});
    EXPECT_EQ(Call("CloseFile", {Num(2)}), uint32_t{ERR_FINDFILE});  // gone all the same
    Open(3, full, kReadWrite);
    ASSERT_EQ(Call("WriteString", {Num(3), Str(line)}), 0u);
    EXPECT_EQ(Call("CloseFile", {Num(3)}), uint32_t{ERR_WRITE});
    EXPECT_EQ(Call("StringToFile", {Str(line), Str(full)}), uint32_t{ERR_WRITE});
    // Reading a device that has nothing to lose closes cleanly.
    Open(4, "/dev/zero", kRead);
    EXPECT_EQ(Call("CloseFile", {Num(4)}), 0u);
    // The file the script leaves open is closed at the end, and reported.
    Open(5, full, kWrite);
    ASSERT_EQ(Call("WriteLine", {Num(5), Str(line)}), 0u);
    Open(6, Path("fine"), kWrite);
    ASSERT_EQ(Call("WriteLine", {Num(6), Str(line)}), 0u);
    EXPECT_EQ(CleanupDosLibrary(vm), uint32_t{ERR_WRITE});
    EXPECT_EQ(ReadFileBytes(Path("fine")).size(), line.size() + 2);
    EXPECT_EQ(CleanupDosLibrary(vm), 0u);
}

} // namespace
