// Directories, attributes and programs against the host's own view of the
// same files (stat, Python's zlib, the shell).
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <map>

#include "core/io/errors.h"
#include "core/io/file_info.h"
#include "dos_fixture.h"

namespace {

class DirectoryCommands : public DosTest {};

// Files and folders come in two lists, each ended by "", sorted as Sort
// does without a function: by name, case playing no part (the byte order
// would put every capital first).
TEST_F(DirectoryCommands, ReadDirectorySortsWithoutRegardToCaseAndEndsBothLists)
{
    for (const char* name : {"beta", "Alpha", "gamma", "Delta", "_under", "alphabet"})
        WriteFileBytes(Path(name), {1});
    for (const char* name : {"Zed", "apple", "Mid"})
        ASSERT_EQ(mkdir(Path(name).c_str(), 0700), 0);
    NewTable();
    NewTable();
    std::vector<Value> r;
    ASSERT_EQ(Call("ReadDirectory", {Str(dir.path()), Slot{1}, Slot{2}}, &r), 0u);
    EXPECT_EQ(r, (std::vector<Value>{6.0, 3.0}));
    auto list = [&](int slot) {
        std::vector<std::string> names;
        for (int i = 0; i < 20; ++i) {
            VmRawGetI(vm, slot, i);
            Value v = Read(vm, -1);
            VmPop(vm, 1);
            if (v == Value{Str("")})
                break;
            names.push_back(std::holds_alternative<std::string>(v) ? std::get<std::string>(v) : "<no name>");
        }
        return names;
    };
    EXPECT_EQ(list(1), (std::vector<std::string>{"_under", "Alpha", "alphabet", "beta", "Delta", "gamma"}));
    EXPECT_EQ(list(2), (std::vector<std::string>{"apple", "Mid", "Zed"}));
    EXPECT_EQ(Call("ReadDirectory", {Str(Path("none")), Slot{1}, Slot{2}}), uint32_t{ERR_LOCK2});
}

TEST_F(DirectoryCommands, DirectoryObjectsScanToTheEnd)
{
    WriteFileBytes(Path("f"), PatternBytes(12));
    ASSERT_EQ(mkdir(Path("d").c_str(), 0700), 0);
    ASSERT_EQ(Call("OpenDirectory", {Num(3), Str(dir.path())}), 0u);
    std::map<std::string, std::pair<double, Value>> seen;
    for (int i = 0; i < 3; ++i) {
        int base;
        ASSERT_EQ(CallKeep("NextDirectoryEntry", {Num(3)}, &base), 0u);
        if (VmGetTop(vm) == base)
            break;
        int t = VmGetTop(vm);
        seen[std::get<std::string>(Field(t, "name"))] = {std::get<double>(Field(t, "type")), Field(t, "size")};
        VmSetTop(vm, base);
    }
    // A folder has no size.
    EXPECT_EQ(seen, (std::map<std::string, std::pair<double, Value>>{{"d", {1.0, Nil{}}}, {"f", {0.0, 12.0}}}));
    std::vector<Value> r;
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(Call("NextDirectoryEntry", {Num(3)}, &r), 0u);
        EXPECT_TRUE(r.empty());
    }
    ASSERT_EQ(Call("CloseDirectory", {Num(3)}), 0u);
    EXPECT_EQ(Call("CloseDirectory", {Num(3)}), uint32_t{ERR_FINDDIR});
    EXPECT_EQ(Call("OpenDirectory", {Num(3), Str(Path("f"))}), uint32_t{ERR_NOTADIR});
    EXPECT_EQ(Call("OpenDirectory", {Num(3), Str(Path("nothing"))}), uint32_t{ERR_LOCK2});
}

TEST_F(DirectoryCommands, DatesFoldersNamesPathsAndAttributesAgreeWithTheSystem)
{
    const std::pair<const char*, bool> cases[] = {
        {"01-jan-2020 23:59:59", true}, {"31-DEC-1999 00:00:00", true}, {"15-Foo-2020 10:00:00", false},
        {"15-Jan-2020 24:00:00", false}, {"00-Jan-2020 10:00:00", false}, {"15-Jan-2020 10:60:00", false},
        {"15-Jan-2020 10:00:60", false}, {"15-Jan-20 10:00:00", false},  {"15/Jan/2020 10:00:00", false},
        {"15-Jan-2020 10:00:00 ", false},
    };
    for (auto [text, ok] : cases) {
        DateStamp d{};
        EXPECT_EQ(ParseDateString(text, &d), ok) << text;
    }
    DateStamp d{};
    ASSERT_TRUE(ParseDateString("07-mAr-2021 08:09:10", &d));
    char out[32];
    FormatDateString(d, out);
    EXPECT_STREQ(out, "07-Mar-2021 08:09:10");

    std::string deep = Path("x/y/z");
    ASSERT_EQ(Call("MakeDirectory", {Str(deep)}), 0u);
    struct stat st;
    ASSERT_EQ(stat(deep.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(Call("MakeDirectory", {Str(deep + "/")}), 0u);
    WriteFileBytes(Path("file"), {1});
    EXPECT_EQ(Call("MakeDirectory", {Str(Path("file/sub"))}), uint32_t{ERR_CREATEDIR});
    EXPECT_EQ(Call("MakeDirectory", {Str("")}), uint32_t{ERR_WRONGUSAGE});
    EXPECT_EQ(One("IsDirectory", {Str(deep)}), Value{1.0});
    EXPECT_EQ(One("IsDirectory", {Str(Path("file"))}), Value{0.0});
    EXPECT_EQ(Call("IsDirectory", {Str(Path("nothing"))}), uint32_t{ERR_STAT});

    WriteFileBytes(Path("old.txt"), {9});
    ASSERT_EQ(Call("Rename", {Str(Path("old.txt")), Str("new.txt")}), 0u);
    EXPECT_FALSE(FileExists(Path("old.txt")));
    EXPECT_EQ(ReadFileBytes(Path("new.txt")), std::vector<uint8_t>{9});
    // A file of the new name is replaced.
    WriteFileBytes(Path("other.txt"), {1});
    ASSERT_EQ(Call("Rename", {Str(Path("other.txt")), Str(Path("new.txt"))}), 0u);
    EXPECT_EQ(ReadFileBytes(Path("new.txt")), std::vector<uint8_t>{1});
    EXPECT_FALSE(FileExists(Path("other.txt")));
    EXPECT_EQ(Call("Rename", {Str(Path("gone")), Str("x")}), uint32_t{ERR_RENAME});
    EXPECT_EQ(Call("Rename", {Str(Path("new.txt")), Str(Path("no-folder/x"))}), uint32_t{ERR_RENAME});
    EXPECT_EQ(Call("Rename", {Str(""), Str("x")}), uint32_t{ERR_WRONGUSAGE});
    EXPECT_EQ(Call("Rename", {Str(":::chunk0:1*a?b"), Str("x")}), uint32_t{ERR_WRONGUSAGE});

    WriteFileBytes(Path("f"), PatternBytes(321));
    ASSERT_EQ(chmod(Path("f").c_str(), 0640), 0);
    int base;
    ASSERT_EQ(CallKeep("GetFileAttributes", {Str(Path("f"))}, &base), 0u);
    int t = VmGetTop(vm);
    EXPECT_EQ(Field(t, "size"), Value{321.0});
    EXPECT_EQ(Field(t, "type"), Value{0.0});
    EXPECT_EQ(Field(t, "virtual"), Value{0.0});
    EXPECT_EQ(Field(t, "path"), Value{Str(Path("f"))});
    const uint32_t rw = FILEATTR_READ_USR | FILEATTR_WRITE_USR | FILEATTR_READ_GRP;
    const uint32_t flags = static_cast<uint32_t>(std::get<double>(Field(t, "flags")));
    EXPECT_EQ(flags & (rw | FILEATTR_WRITE_GRP | FILEATTR_READ_OTH), rw);
    VmSetTop(vm, base);

    // Dates set through the command are what stat sees (TZ=UTC), the last
    // access as well as the change.
    int dates = NewTable();
    SetField(dates, Str("time"), Str("02-Feb-2010 03:04:05"));
    SetField(dates, Str("lastaccesstime"), Str("01-Mar-2011 04:05:06"));
    ASSERT_EQ(Call("SetFileAttributes", {Str(Path("f")), Slot{dates}}), 0u);
    ASSERT_EQ(stat(Path("f").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1265079845);
    EXPECT_EQ(st.st_atime, 1298952306);
    ASSERT_EQ(CallKeep("GetFileAttributes", {Str(Path("f"))}, &base), 0u);
    EXPECT_EQ(Field(VmGetTop(vm), "time"), Value{Str("02-Feb-2010 03:04:05")});
    VmSetTop(vm, 0);

    int bad = NewTable();
    SetField(bad, Str("time"), Str("02-Feb-2010 24:04:05"));
    SetField(bad, Str("flags"), Num(FILEATTR_READ_USR));
    EXPECT_EQ(Call("SetFileAttributes", {Str(Path("f")), Slot{bad}}), uint32_t{ERR_INVALIDDATE});
    ASSERT_EQ(stat(Path("f").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "a refused date leaves the protection alone";

    ASSERT_EQ(Call("OpenFile", {Num(4), Str(Path("f"))}), 0u);
    ASSERT_EQ(CallKeep("FileAttributes", {Num(4)}, &base), 0u);
    EXPECT_EQ(Field(VmGetTop(vm), "size"), Value{321.0});
    EXPECT_EQ(Field(VmGetTop(vm), "path"), Value{Str(Path("f"))});
    EXPECT_EQ(Call("FileAttributes", {Num(5)}), uint32_t{ERR_FINDFILE});

    char saved[PATH_MAX];
    ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(Call("ChangeDirectory", {Str(dir.path())}), 0u);
    char real[PATH_MAX];
    ASSERT_NE(realpath(dir.path().c_str(), real), nullptr);
    EXPECT_EQ(One("GetCurrentDirectory", {}), Value{Str(real)});
    EXPECT_EQ(Call("ChangeDirectory", {Str(Path("none"))}), uint32_t{ERR_DIRLOCK});
    EXPECT_EQ(One("GetCurrentDirectory", {}), Value{Str(real)});
    ASSERT_EQ(chdir(saved), 0);
    EXPECT_EQ(One("FullPath", {Str("a/b"), Str("c")}), Value{Str("a/b/c")});
    EXPECT_EQ(One("FullPath", {Str("a/"), Str("c")}), Value{Str("a/c")});
    EXPECT_EQ(One("FullPath", {Str(""), Str("c")}), Value{Str("c")});
    EXPECT_EQ(Call("GetVolumeName", {Str("")}), uint32_t{ERR_WRONGUSAGE});
    EXPECT_EQ(Call("GetVolumeInfo", {Str(dir.path()), Num(7)}), uint32_t{ERR_WRONGUSAGE});
    ASSERT_TRUE(RunShell("stat -c %m " + dir.path() + " | tr -d '\\n' > " + Path("mount")));
    EXPECT_EQ(One("GetVolumeName", {Str(dir.path())}), Value{BytesToString(ReadFileBytes(Path("mount")))});

    QM_SKIP_WITHOUT(HavePython()) << "python3 is needed as the oracle";
    WriteFileBytes(Path("c"), PatternBytes(200000, 7));
    ASSERT_TRUE(RunShell("python3 -c 'import zlib,sys; "
                         "open(sys.argv[2],\"w\").write(str(zlib.crc32(open(sys.argv[1],\"rb\").read())))' " +
                         Path("c") + " " + Path("crc")));
    std::string expected = BytesToString(ReadFileBytes(Path("crc")));
    EXPECT_EQ(One("CRC32", {Str(Path("c"))}), Value{std::stod(expected)});
    EXPECT_EQ(Call("CRC32", {Str(Path("none"))}), uint32_t{ERR_READFILE});
}

TEST_F(DirectoryCommands, ExecuteWaits)
{
    // The program dawdles before it writes: only a caller that waits finds the file.
    std::string target = Path("ran");
    ASSERT_EQ(Call("Execute", {Str("/bin/sh -c \"sleep 0.3; echo hi > " + target + "\"")}), 0u);
    EXPECT_EQ(BytesToString(ReadFileBytes(target)), "hi\n");
    ASSERT_EQ(Call("Execute", {Str("\"/bin/sh\" -c \"exit 3\"")}), 0u);
    EXPECT_EQ(Call("Execute", {Str("\"/bin/sh -c true")}), uint32_t{ERR_WRONGUSAGE});
    EXPECT_EQ(Call("Execute", {Str("")}), uint32_t{ERR_WRONGUSAGE});
    EXPECT_EQ(Call("Execute", {Str(Path("no-such-program"))}), uint32_t{ERR_EXECUTE});
}

} // namespace
