// Wildcards, and copying and deleting trees with and without callbacks,
// checked against the file system itself.
#include <fcntl.h>
#include <sys/stat.h>

#include "core/io/errors.h"
#include "dos_fixture.h"

namespace {

// What the test callback answers, and what it was asked.
struct CallbackLog {
    std::vector<std::pair<double, std::string>> calls;  // action and file / destination
    double answer = 1;
    double answerForAction[3] = {-2, -2, -2};          // -2: use `answer`
};
CallbackLog g_log;

uint32_t Recorder(VmState* vm)
{
    VmPushString(vm, "action");
    VmRawGet(vm, 1);
    double action = VmGetNumber(vm, -1);
    std::string subject;
    for (const char* key : {"file", "destination"}) {
        VmPushString(vm, key);
        VmRawGet(vm, 1);
        if (VmType(vm, -1) == VM_TSTRING && subject.empty())
            subject = VmGetString(vm, -1);
    }
    g_log.calls.emplace_back(action, subject);
    double a = g_log.answerForAction[static_cast<int>(action)];
    VmPushNumber(vm, a == -2 ? g_log.answer : a);
    return 1;
}

class TreeCommands : public DosTest {
protected:
    void SetUp() override
    {
        DosTest::SetUp();
        g_log = CallbackLog{};
    }
    void MakeTree()
    {
        ASSERT_EQ(mkdir(Path("t").c_str(), 0700), 0);
        ASSERT_EQ(mkdir(Path("t/sub").c_str(), 0700), 0);
        WriteFileBytes(Path("t/a.txt"), PatternBytes(40000, 1));
        WriteFileBytes(Path("t/b.dat"), PatternBytes(10, 2));
        WriteFileBytes(Path("t/sub/c.txt"), PatternBytes(5, 3));
    }
};

TEST_F(TreeCommands, Wildcards)
{
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"file1.txt", "file#*", true},     {"fileA.txt", "file#*", false},   {"a.txt", "*.txt", true},
        {"a.txt.bak", "*.txt", false},     {"abc", "a?c", true},             {"ac", "a?c", false},
        {"bx", "[a-c]x", true},            {"dx", "[a-c]x", false},          {"dx", "[!a-c]x", true},
        {"bx", "[!a-c]x", false},          {"axbxc", "a**b*c", true},        {"abc", "*", true},
        {"", "*", true},                   {"", "?", false},                 {"x]", "x]", true},
        {"[ab", "[ab", true},              {"-", "[a-]", true},              {"dir/x.c", "*.c", true},
    };
    for (auto [name, pattern, match] : cases)
        EXPECT_EQ(One("MatchPattern", {Str(name), Str(pattern)}), Value{match ? 1.0 : 0.0})
            << name << " ~ " << pattern;
    // Many stars against a long near-miss must finish: no exponential backtracking.
    EXPECT_FALSE(MatchWildcard("*a*a*a*a*a*a*a*a*a*a*b", std::string(5000, 'a').c_str()));
}

TEST_F(TreeCommands, DeleteRefusalsAndPatterns)
{
    MakeTree();
    EXPECT_EQ(Call("DeleteFile", {Str(Path("t/a.txt")), Nil{}, Nil{}, Str("*.txt")}), uint32_t{ERR_NODIRPATTERN});
    EXPECT_EQ(Call("DeleteFile", {Str("")}), uint32_t{ERR_WRONGUSAGE});
    EXPECT_EQ(Call("DeleteFile", {Str(":::chunk0:5*x?y")}), uint32_t{ERR_WRONGUSAGE});
    EXPECT_EQ(Call("DeleteFile", {Str(Path("none"))}), uint32_t{ERR_DELETEFILE});
    ASSERT_EQ(Call("DeleteFile", {Str(Path("t")), Nil{}, Nil{}, Str("*.txt")}), 0u);
    EXPECT_FALSE(FileExists(Path("t/a.txt")));
    EXPECT_FALSE(FileExists(Path("t/sub/c.txt")));
    EXPECT_TRUE(FileExists(Path("t/b.dat")));
    EXPECT_TRUE(FileExists(Path("t/sub")));
    ASSERT_EQ(Call("DeleteFile", {Str(Path("t"))}), 0u);
    EXPECT_FALSE(FileExists(Path("t")));
}

TEST_F(TreeCommands, ProtectedFilesAskFirstAndAStatusAnswerStops)
{
    MakeTree();
    // A status answer of 1 stops at once, without error.
    int cb = PushFunction(Recorder);
    ASSERT_EQ(Call("DeleteFile", {Str(Path("t")), Slot{cb}}), 0u);
    EXPECT_EQ(g_log.calls.size(), 1u);
    EXPECT_TRUE(FileExists(Path("t/a.txt")));
    EXPECT_TRUE(FileExists(Path("t/b.dat")));
    g_log = CallbackLog{};
    ASSERT_EQ(chmod(Path("t/b.dat").c_str(), 0400), 0);
    // Without a callback a protected file stays, and so does its folder.
    EXPECT_EQ(Call("DeleteFile", {Str(Path("t"))}), uint32_t{ERR_DELETEFILE});
    EXPECT_TRUE(FileExists(Path("t/b.dat")));
    EXPECT_FALSE(FileExists(Path("t/a.txt")));
    // With one that agrees to unprotect and goes on, everything goes.
    g_log = CallbackLog{{}, 0, {-2, 1, -2}};
    ASSERT_EQ(Call("DeleteFile", {Str(Path("t")), Slot{cb}, Str("ud")}), 0u);
    EXPECT_FALSE(FileExists(Path("t")));
    ASSERT_FALSE(g_log.calls.empty());
    EXPECT_EQ(g_log.calls.front(), (std::pair<double, std::string>{1, Path("t/b.dat")}));
}

TEST_F(TreeCommands, CopySingleFiles)
{
    MakeTree();
    const timespec times[2] = {{1000000000, 0}, {1200000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, Path("t/b.dat").c_str(), times, 0), 0);
    // Into a folder that is created, under its own name.
    ASSERT_EQ(Call("CopyFile", {Str(Path("t/b.dat")), Str(Path("out/deep/"))}), 0u);
    EXPECT_EQ(ReadFileBytes(Path("out/deep/b.dat")), ReadFileBytes(Path("t/b.dat")));
    struct stat st;
    ASSERT_EQ(stat(Path("out/deep/b.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1200000000);
    ASSERT_EQ(Call("CopyFile", {Str(Path("t/b.dat")), Str(Path("out")), Str("renamed.bin")}), 0u);
    EXPECT_EQ(ReadFileBytes(Path("out/renamed.bin")), ReadFileBytes(Path("t/b.dat")));
    ASSERT_EQ(Call("CopyFile", {Str(Path("t/a.txt")), Str(Path("out/full.txt"))}), 0u);
    EXPECT_EQ(ReadFileBytes(Path("out/full.txt")), ReadFileBytes(Path("t/a.txt")));
    // Onto itself: refused, and the source survives.
    EXPECT_EQ(Call("CopyFile", {Str(Path("t/a.txt")), Str(Path("t"))}), uint32_t{ERR_WRITEFILE});
    EXPECT_EQ(ReadFileBytes(Path("t/a.txt")), PatternBytes(40000, 1));
    EXPECT_EQ(Call("CopyFile", {Str(Path("none")), Str(Path("out"))}), uint32_t{ERR_READFILE});
    EXPECT_EQ(Call("CopyFile", {Str(""), Str("")}), uint32_t{ERR_WRONGUSAGE});
}

TEST_F(TreeCommands, CopyTreesWithPatternsAndCallbacks)
{
    MakeTree();
    ASSERT_EQ(Call("CopyFile", {Str(Path("t")), Str(Path("copy")), Nil{}, Nil{}, Nil{}, Str("*.txt")}), 0u);
    EXPECT_EQ(ReadFileBytes(Path("copy/a.txt")), ReadFileBytes(Path("t/a.txt")));
    EXPECT_EQ(ReadFileBytes(Path("copy/sub/c.txt")), ReadFileBytes(Path("t/sub/c.txt")));
    EXPECT_FALSE(FileExists(Path("copy/b.dat")));
    EXPECT_EQ(Call("CopyFile", {Str(Path("t")), Str(Path("t/sub/inner"))}), uint32_t{ERR_WRONGUSAGE});

    // An existing destination: the callback answering 0 keeps it.
    WriteFileBytes(Path("copy/a.txt"), {1, 2, 3});
    int cb = PushFunction(Recorder);
    g_log.answer = 0;
    ASSERT_EQ(Call("CopyFile", {Str(Path("t/a.txt")), Str(Path("copy")), Nil{}, Slot{cb}}), 0u);
    EXPECT_EQ(ReadFileBytes(Path("copy/a.txt")), (std::vector<uint8_t>{1, 2, 3}));
    ASSERT_EQ(g_log.calls.size(), 1u);
    EXPECT_EQ(g_log.calls[0].first, 1.0);

    // A stop during the copy leaves no partial file behind.
    g_log = CallbackLog{};
    ASSERT_EQ(Call("CopyFile", {Str(Path("t/a.txt")), Str(Path("partial.txt")), Nil{}, Slot{cb}}), 0u);
    EXPECT_EQ(g_log.calls.size(), 1u);
    EXPECT_FALSE(FileExists(Path("partial.txt")));

    // Status calls come once per block, with the running count.
    g_log = CallbackLog{{}, 2};
    ASSERT_EQ(Call("CopyFile", {Str(Path("t/a.txt")), Str(Path("whole.txt")), Nil{}, Slot{cb}}), 0u);
    EXPECT_EQ(g_log.calls.size(), 3u);
    EXPECT_EQ(ReadFileBytes(Path("whole.txt")), ReadFileBytes(Path("t/a.txt")));
}

// A link to a folder outside the tree is an entry of the tree: deleting or
// copying the tree handles the link itself and never reaches through it.
TEST_F(TreeCommands, LinksToFoldersAreNeverFollowed)
{
    MakeTree();
    ASSERT_EQ(mkdir(Path("outside").c_str(), 0700), 0);
    WriteFileBytes(Path("outside/keep.txt"), {7});
    ASSERT_EQ(symlink(Path("outside").c_str(), Path("t/sub/link").c_str()), 0);
    ASSERT_EQ(Call("CopyFile", {Str(Path("t")), Str(Path("copy"))}), 0u);
    char target[4096] = {};
    ASSERT_GT(readlink(Path("copy/sub/link").c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), Path("outside"));
    ASSERT_EQ(Call("DeleteFile", {Str(Path("copy"))}), 0u);
    EXPECT_FALSE(FileExists(Path("copy")));
    ASSERT_EQ(Call("DeleteFile", {Str(Path("t/sub/link"))}), 0u);
    ASSERT_EQ(symlink(Path("outside").c_str(), Path("t/sub/link").c_str()), 0);
    ASSERT_EQ(Call("DeleteFile", {Str(Path("t"))}), 0u);
    EXPECT_FALSE(FileExists(Path("t")));
    EXPECT_EQ(ReadFileBytes(Path("outside/keep.txt")), std::vector<uint8_t>{7});
}

// A copy over an existing file that fails or is stopped half way leaves
// the old file whole: the copy replaces it only once complete.
TEST_F(TreeCommands, StoppedCopyKeepsTheOldDestination)
{
    MakeTree();
    WriteFileBytes(Path("old.txt"), {1, 2, 3});
    int cb = PushFunction(Recorder);
    g_log = CallbackLog{{}, 1, {-2, 1, -2}};  // status: stop; overwrite: yes
    ASSERT_EQ(Call("CopyFile", {Str(Path("t/a.txt")), Str(Path("old.txt")), Nil{}, Slot{cb}}), 0u);
    EXPECT_EQ(ReadFileBytes(Path("old.txt")), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(Call("CopyFile", {Str(Path("t/a.txt")), Str("/dev/full")}), uint32_t{ERR_WRITE});
    ASSERT_EQ(Call("CopyFile", {Str(Path("t/a.txt")), Str(Path("old.txt"))}), 0u);
    EXPECT_EQ(ReadFileBytes(Path("old.txt")), ReadFileBytes(Path("t/a.txt")));
}

// What a single file or a folder becomes under each kind of destination.
TEST_F(TreeCommands, CopyDestinationsFoldersAndNewNames)
{
    MakeTree();
    ASSERT_EQ(mkdir(Path("into").c_str(), 0700), 0);
    // An existing folder, named without a separator, takes the file under its own name.
    ASSERT_EQ(Call("CopyFile", {Str(Path("t/b.dat")), Str(Path("into"))}), 0u);
    EXPECT_EQ(ReadFileBytes(Path("into/b.dat")), ReadFileBytes(Path("t/b.dat")));
    // A folder's contents go into the destination, not the folder itself; with a new name into destination/newname.
    ASSERT_EQ(Call("CopyFile", {Str(Path("t")), Str(Path("into"))}), 0u);
    EXPECT_EQ(ReadFileBytes(Path("into/sub/c.txt")), ReadFileBytes(Path("t/sub/c.txt")));
    EXPECT_FALSE(FileExists(Path("into/t")));
    ASSERT_EQ(Call("CopyFile", {Str(Path("t")), Str(Path("into")), Str("named")}), 0u);
    EXPECT_EQ(ReadFileBytes(Path("into/named/a.txt")), ReadFileBytes(Path("t/a.txt")));
    // A new name given with a destination that does not exist yet makes the folder.
    ASSERT_EQ(Call("CopyFile", {Str(Path("t/b.dat")), Str(Path("made")), Str("x.bin")}), 0u);
    EXPECT_EQ(ReadFileBytes(Path("made/x.bin")), ReadFileBytes(Path("t/b.dat")));
}

}  // namespace
