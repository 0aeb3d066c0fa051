// Virtual files, whole-file strings, the patcher, the environment, digests
// (against md5sum) and line iteration.
#include <cstdlib>

#include "core/io/errors.h"
#include "core/vm/memory.h"
#include "dos_fixture.h"

namespace {

class ContentCommands : public DosTest {
protected:
    std::string FileText(const std::string& name)
    {
        std::vector<Value> r;
        EXPECT_EQ(Call("FileToString", {Str(name)}, &r), 0u) << name;
        EXPECT_EQ(r.size(), 2u);
        if (r.size() != 2)
            return {};
        EXPECT_EQ(std::get<double>(r[1]), double(std::get<std::string>(r[0]).size()));
        return std::get<std::string>(r[0]);
    }
    // The next line from the iterator function at `fn`, or "<end>".
    std::string NextLine(int fn)
    {
        VmPushValue(vm, fn);
        EXPECT_EQ(VmPCall(vm, 0, 1, 0), 0u);
        std::string line = VmType(vm, -1) == VM_TSTRING ? std::string(VmGetString(vm, -1), VmGetStringLength(vm, -1))
                                                         : "<end>";
        VmPop(vm, 1);
        return line;
    }
    void OpenPatchFiles()
    {
        ASSERT_EQ(Call("OpenFile", {Num(1), Str(Path("src"))}), 0u);
        ASSERT_EQ(Call("OpenFile", {Num(2), Str(Path("patch"))}), 0u);
        ASSERT_EQ(Call("OpenFile", {Num(3), Str(Path("dst")), Num(MODE_WRITE)}), 0u);
    }
};

TEST_F(ContentCommands, FileContentsAsStringsRegionsAndDigests)
{
    std::string data("ab\0cd\r\nline2", 12);
    Value name = One("DefineVirtualFileFromString", {Str(data), Str("mem.txt")});
    ASSERT_TRUE(std::holds_alternative<std::string>(name));
    std::string n = std::get<std::string>(name);
    EXPECT_EQ(n.rfind(":::chunkS", 0), 0u);
    EXPECT_EQ(FileText(n), data);
    EXPECT_EQ(One("FilePart", {Str(n)}), Value{Str("mem.txt")});
    EXPECT_EQ(Call("OpenFile", {Num(1), Str(n), Num(MODE_WRITE)}), uint32_t{ERR_WRITEFILE});

    Value wname = One("DefineVirtualFileFromString", {Str(""), Str("w.bin"), Num(1)});
    std::string w = std::get<std::string>(wname);
    ASSERT_EQ(Call("OpenFile", {Num(1), Str(w), Num(MODE_READWRITE)}), 0u);
    std::string big(100000, 'x');
    ASSERT_EQ(Call("WriteString", {Num(1), Str(big)}), 0u);
    EXPECT_EQ(Call("UndefineVirtualStringFile", {Str(w)}), uint32_t{ERR_WRONGUSAGE}) << "still open";
    ASSERT_EQ(Call("CloseFile", {Num(1)}), 0u);
    EXPECT_EQ(FileText(w), big);
    ASSERT_EQ(Call("UndefineVirtualStringFile", {Str(w)}), 0u);
    EXPECT_EQ(Call("FileToString", {Str(w)}), uint32_t{ERR_READFILE});
    EXPECT_EQ(Call("UndefineVirtualStringFile", {Str(w)}), uint32_t{ERR_WRONGUSAGE});
    EXPECT_EQ(Call("UndefineVirtualStringFile", {Str(Path("plain"))}), uint32_t{ERR_WRONGUSAGE});
    EXPECT_EQ(Call("DefineVirtualFileFromString", {Str("x"), Str("")}), uint32_t{ERR_WRONGUSAGE});

    std::vector<uint8_t> bytes = PatternBytes(1000);
    WriteFileBytes(Path("c"), bytes);
    std::string outer = std::get<std::string>(One("DefineVirtualFile", {Str(Path("c")), Num(100), Num(500), Str("o.dat")}));
    EXPECT_EQ(FileText(outer), std::string(bytes.begin() + 100, bytes.begin() + 600));
    std::string inner = std::get<std::string>(One("DefineVirtualFile", {Str(outer), Num(10), Num(20), Str("i.dat")}));
    EXPECT_EQ(FileText(inner), std::string(bytes.begin() + 110, bytes.begin() + 130));
    EXPECT_EQ(Call("DefineVirtualFile", {Str(outer), Num(490), Num(20), Str("x")}), uint32_t{ERR_WRONGUSAGE});
    EXPECT_EQ(Call("DefineVirtualFile", {Str(Path("c")), Num(0), Num(0), Str("x")}), uint32_t{ERR_WRONGUSAGE});
    EXPECT_EQ(Call("DefineVirtualFile", {Str(""), Num(0), Num(5), Str("x")}), uint32_t{ERR_WRONGUSAGE});
    EXPECT_EQ(Call("DefineVirtualFile", {Str(Path("c")), Num(0), Num(5)}), uint32_t{ERR_MISSINGPARAMTR});

    // A region may claim more than its container holds: it ends where the
    // container does, for its size as for its reads.
    WriteFileBytes(Path("ten"), PatternBytes(10));
    const std::tuple<double, double, double> cases[] = {
        {0, 3000000000.0, 10}, {4, 3000000000.0, 6}, {10, 5, 0}, {20, 5, 0}};
    for (auto [offset, size, real] : cases) {
        std::string name = std::get<std::string>(
            One("DefineVirtualFile", {Str(Path("ten")), Num(offset), Num(size), Str("r.bin")}));
        EXPECT_EQ(One("FileSize", {Str(name)}), Value{real}) << offset;
        ASSERT_EQ(Call("OpenFile", {Num(1), Str(name)}), 0u);
        EXPECT_EQ(One("FileLength", {Num(1)}), Value{real}) << offset;
        ASSERT_EQ(Call("CloseFile", {Num(1)}), 0u);
        if (real > 0) {
            EXPECT_EQ(FileText(name).size(), static_cast<size_t>(real)) << offset;
        }
    }
    // A region of a region can only reach what its outer region really has.
    outer = std::get<std::string>(One("DefineVirtualFile", {Str(Path("ten")), Num(0), Num(1000), Str("o")}));
    EXPECT_EQ(Call("DefineVirtualFile", {Str(outer), Num(5), Num(10), Str("i")}), uint32_t{ERR_WRONGUSAGE});

    data = std::string("\0\1\2binary\xff", 10);
    ASSERT_EQ(Call("StringToFile", {Str(data), Str(Path("s"))}), 0u);
    EXPECT_EQ(BytesToString(ReadFileBytes(Path("s"))), data);
    EXPECT_EQ(FileText(Path("s")), data);
    // The whole-file writer's own test keeps the mode and leaves no temporary.
    ASSERT_EQ(Call("StringToFile", {Str("new"), Str(Path("s"))}), 0u);
    EXPECT_EQ(BytesToString(ReadFileBytes(Path("s"))), "new");
    EXPECT_EQ(Call("StringToFile", {Str(data), Str(Path("no/dir/s"))}), uint32_t{ERR_WRITEFILE});
    EXPECT_EQ(Call("FileToString", {Str(Path("none"))}), uint32_t{ERR_READFILE});

    WriteFileBytes(Path("big"), PatternBytes(100003, 5));
    ASSERT_TRUE(RunShell("md5sum " + Path("big") + " | cut -c1-32 | tr -d '\\n' > " + Path("sum")));
    EXPECT_EQ(One("MD5", {Str(Path("big"))}), Value{BytesToString(ReadFileBytes(Path("sum")))});
    EXPECT_EQ(Call("MD5", {Str(Path("none"))}), uint32_t{ERR_READFILE});
}

uint32_t CloseEveryFile(VmState* vm)
{
    for (double id : {1.0, 2.0, 3.0}) {
        VmPushString(vm, "closefile");
        VmGetTable(vm, VM_GLOBALSINDEX);
        VmPushNumber(vm, id);
        VmPCall(vm, 1, 0, 0);
    }
    return 0;
}

std::vector<double> g_progress;
uint32_t RecordProgress(VmState* vm)
{
    VmPushString(vm, "progress");
    VmRawGet(vm, 1);
    g_progress.push_back(VmGetNumber(vm, -1));
    return 0;
}

// Patched bytes are XORed, the rest complemented. Large patches go block
// by block, yet the callback still hears every whole percent once and in
// order, as a plain byte loop would call it.
TEST_F(ContentCommands, PatchXorsThenComplementsInTheCallbacksRhythmAndStopsWhenItsFilesClose)
{
    const std::pair<size_t, std::vector<uint8_t>> cases[] = {
        {300, {0xFF, 0x0F, 0x00}}, {300, {}}, {1, {7}}, {99, PatternBytes(40, 7)},
        {4097, PatternBytes(4096, 7)}, {100003, PatternBytes(33335, 7)},
    };
    for (const auto& [size, patch] : cases) {
        std::vector<uint8_t> src = PatternBytes(size, 4);
        WriteFileBytes(Path("src"), src);
        WriteFileBytes(Path("patch"), patch);
        OpenPatchFiles();
        g_progress.clear();
        ASSERT_EQ(Call("ApplyPatch", {Num(1), Num(2), Num(3), Slot{PushFunction(RecordProgress)}}), 0u);
        VmPop(vm, 1);
        for (int id : {1, 2, 3})
            ASSERT_EQ(Call("CloseFile", {Num(id)}), 0u);
        std::vector<uint8_t> expected(size);
        std::vector<double> percents;
        int64_t last = 0;
        for (size_t i = 0; i < size; ++i) {
            expected[i] = i < patch.size() ? src[i] ^ patch[i] : static_cast<uint8_t>(~src[i]);
            int64_t percent = static_cast<int64_t>(static_cast<double>(i + 1) * 100.0 / static_cast<double>(size));
            if (percent != last)
                percents.push_back(static_cast<double>(last = percent));
        }
        EXPECT_EQ(ReadFileBytes(Path("dst")), expected) << size;
        EXPECT_EQ(g_progress, percents) << size;
    }

    // A callback that closes the files the patch works on ends it with an
    // error instead of writing through freed handles.
    WriteFileBytes(Path("src"), PatternBytes(50000, 2));
    WriteFileBytes(Path("patch"), PatternBytes(10, 3));
    OpenPatchFiles();
    EXPECT_EQ(Call("ApplyPatch", {Num(1), Num(2), Num(3), Slot{PushFunction(CloseEveryFile)}}), uint32_t{ERR_FINDFILE});
    VmPop(vm, 1);
}

TEST_F(ContentCommands, EnvironmentAndFileLinesThatCutLongLinesAndOutliveTheirStringFile)
{
    ASSERT_EQ(Call("SetEnv", {Str("QM_DOS_TEST"), Str("value=1")}), 0u);
    std::vector<Value> r;
    ASSERT_EQ(Call("GetEnv", {Str("QM_DOS_TEST")}, &r), 0u);
    EXPECT_EQ(r, (std::vector<Value>{Str("value=1"), Num(1)}));
    ASSERT_EQ(Call("UnsetEnv", {Str("QM_DOS_TEST")}), 0u);
    ASSERT_EQ(Call("GetEnv", {Str("QM_DOS_TEST")}, &r), 0u);
    EXPECT_EQ(r, (std::vector<Value>{Str(""), Num(0)}));
    EXPECT_NE(Call("SetEnv", {Str("A=B"), Str("x")}), 0u);
    EXPECT_EQ(One("GetAsset", {Str("pics/a.png")}), Value{Str("pics/a.png")});

    std::string longLine(1500, 'q');
    WriteFileBytes(Path("l"), StringToBytes("one\r\ntwo\n" + longLine + "\nlast"));
    int base;
    ASSERT_EQ(CallKeep("FileLines", {Str(Path("l"))}, &base), 0u);
    std::vector<std::string> lines;
    for (std::string line; lines.size() < 10 && (line = NextLine(base + 1)) != "<end>";)
        lines.push_back(line);
    std::vector<std::string> expected = {"one", "two", longLine.substr(0, 1024), longLine.substr(1024), "last"};
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(Call("FileLines", {Str(Path("none"))}), uint32_t{ERR_READFILE});

    // An iterator reads on from a string file that the script undefined after
    // the loop began: the bytes stay with the reader, not in freed memory.
    for (double writable : {0.0, 1.0}) {
        std::string name = std::get<std::string>(
            One("DefineVirtualFileFromString", {Str(std::string("one\ntwo\nthree")), Str("l.txt"), Num(writable)}));
        int base;
        ASSERT_EQ(CallKeep("FileLines", {Str(name)}, &base), 0u);
        auto next = [&] { return NextLine(base + 1); };
        EXPECT_EQ(next(), "one");
        ASSERT_EQ(Call("UndefineVirtualStringFile", {Str(name)}), 0u);
        VmCollectGarbage(vm);
        EXPECT_EQ(next(), "two");
        EXPECT_EQ(next(), "three");
        EXPECT_EQ(next(), "<end>");
        VmSetTop(vm, base);
    }
}

} // namespace
