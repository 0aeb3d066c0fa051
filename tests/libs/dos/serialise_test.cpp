// Table and function files: exact bytes, the text form against Python's
// base64, round trips, and malformed or hostile input.
#include <algorithm>

#include "core/io/byte_order.h"
#include "core/io/errors.h"
#include "core/vm/library_glue.h"
#include "dos_fixture.h"
#include "support/assembled_script.h"
#include "tools/qmasm/assembler.h"

namespace {

class Serialise : public DosTest {
protected:
    uint32_t WriteTableFile(const std::string& name, int slot, bool text = false, bool noBreaks = false)
    {
        EXPECT_EQ(Call("OpenFile", {Num(9), Str(Path(name)), Num(MODE_WRITE)}), 0u);
        uint32_t code = Call("WriteTable", {Num(9), Slot{slot}, Num(text), Num(noBreaks)});
        EXPECT_EQ(Call("CloseFile", {Num(9)}), 0u);
        return code;
    }

    // Reads a table file; on success the table is left on top of the stack.
    uint32_t ReadTableFile(const std::string& name)
    {
        EXPECT_EQ(Call("OpenFile", {Num(8), Str(Path(name)), Num(MODE_READ)}), 0u);
        int base;
        uint32_t code = CallKeep("ReadTable", {Num(8)}, &base);
        EXPECT_EQ(Call("CloseFile", {Num(8)}), 0u);
        return code;
    }

    uint32_t ReadBytesAsTable(const std::vector<uint8_t>& bytes)
    {
        WriteFileBytes(Path("in"), bytes);
        return ReadTableFile("in");
    }

    void PushAssembled(const std::string& text)
    {
        qmasm::AssembleResult r = qmasm::Assemble(text);
        ASSERT_TRUE(r.ok) << r.message;
        ASSERT_EQ(LoadChunkBytes(vm, r.bytes, "=test"), 0u);
    }

    double CallForNumber(int slot)
    {
        VmPushValue(vm, slot);
        EXPECT_EQ(VmPCall(vm, 0, 1, 0), 0u);
        double d = VmGetNumber(vm, -1);
        VmPop(vm, 1);
        return d;
    }
};

TEST_F(Serialise, BinaryFormBytes)
{
    SetField(NewTable(), Str("a"), Num(1));
    ASSERT_EQ(WriteTableFile("t", 1), 0u);
    // The key "a" (tag 3, big-endian length), the number 1 (tag 2, a
    // big-endian double) and the end mark.
    EXPECT_EQ(ReadFileBytes(Path("t")), (std::vector<uint8_t>{'Q', 'M', 'T', '0', 3, 0, 0, 0, 1, 'a', 2, 0x3F, 0xF0,
                                                               0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(Serialise, TextFormIsBase64OfTheBinaryForm)
{
    QM_SKIP_WITHOUT(HavePython()) << "python3 is needed as the Base64 oracle";
    // 4 + (5 + 1) + (5 + 84) + 1 = 100 bytes of binary form.
    SetField(NewTable(), Str("k"), Str(std::string(84, 'v')));
    ASSERT_EQ(WriteTableFile("bin", 1), 0u);
    ASSERT_EQ(ReadFileBytes(Path("bin")).size(), 100u);
    ASSERT_EQ(WriteTableFile("txt", 1, true), 0u);
    std::string text = BytesToString(ReadFileBytes(Path("txt")));
    ASSERT_EQ(text.substr(0, 12), "QMT10000008a");
    EXPECT_EQ(text.size(), 12u + 138u);
    EXPECT_EQ(text.substr(12 + 72, 2), "\r\n");
    EXPECT_TRUE(RunShell("python3 -c 'import base64,sys; t=open(sys.argv[1],\"rb\").read(); "
                         "sys.exit(base64.b64decode(t[12:].replace(b\"\\r\\n\",b\"\"), validate=True) != "
                         "open(sys.argv[2],\"rb\").read())' " +
                         Path("txt") + " " + Path("bin")));
    ASSERT_EQ(WriteTableFile("flat", 1, true, true), 0u);
    std::string flat = BytesToString(ReadFileBytes(Path("flat")));
    EXPECT_EQ(flat.substr(0, 12), "QMT100000088");
    EXPECT_EQ(flat.find('\r'), std::string::npos);
    // And Python's own encoding, with lines of 76, reads back.
    ASSERT_TRUE(RunShell("python3 -c 'import base64,sys; b=base64.encodebytes(open(sys.argv[1],\"rb\").read()); "
                         "open(sys.argv[2],\"wb\").write(b\"QMT1\" + (\"%08x\" % len(b)).encode() + b)' " +
                         Path("bin") + " " + Path("py")));
    ASSERT_EQ(ReadTableFile("py"), 0u);
    EXPECT_EQ(Field(VmGetTop(vm), "k"), Value{Str(std::string(84, 'v'))});
}

TEST_F(Serialise, NestedTablesAndFunctionsRoundTrip)
{
    int t = NewTable();
    SetField(t, Num(0), Str("zero"));
    SetField(t, Str("bin"), Str(std::string("v\0w", 3)));
    int inner = NewTable();
    SetField(inner, Num(-2.5), Num(1e300));
    SetField(t, Str("inner"), Slot{inner});
    PushAssembled("LOADNUM r0, 42\nRETURN r0, 2\n");
    SetField(t, Str("fn"), Slot{VmGetTop(vm)});
    VmPushLightUserdata(vm, this);
    SetField(t, Str("ud"), Slot{VmGetTop(vm)});
    VmPushBoolean(vm, 1);
    SetField(t, Str("flag"), Slot{VmGetTop(vm)});
    for (bool text : {false, true}) {
        ASSERT_EQ(WriteTableFile("rt", t, text), 0u);
        ASSERT_EQ(ReadTableFile("rt"), 0u);
        int r = VmGetTop(vm);
        EXPECT_EQ(Field(r, "zero"), Value{Nil{}});
        EXPECT_EQ(Read(vm, PushField(r, Num(0))), Value{Str("zero")});
        EXPECT_EQ(Field(r, "bin"), Value{Str(std::string("v\0w", 3))});
        EXPECT_EQ(Field(r, "ud"), Value{0.0});
        EXPECT_EQ(Field(r, "flag"), Value{Nil{}});
        EXPECT_EQ(Read(vm, PushField(PushField(r, Str("inner")), Num(-2.5))), Value{1e300});
        int fn = PushField(r, Str("fn"));
        ASSERT_EQ(VmType(vm, fn), VM_TFUNCTION);
        EXPECT_EQ(CallForNumber(fn), 42.0);
        VmSetTop(vm, t);
    }
}

TEST_F(Serialise, FileStandsRightBehindEachTable)
{
    // Large enough that reading ahead and writing in batches both cross
    // their block sizes.
    VmNewTable(vm);
    for (int i = 0; i < 5000; ++i) {
        VmPushNumber(vm, i);
        VmRawSetI(vm, 1, i);
    }
    ASSERT_EQ(Call("OpenFile", {Num(1), Str(Path("seq")), Num(MODE_WRITE)}), 0u);
    ASSERT_EQ(Call("WriteTable", {Num(1), Slot{1}}), 0u);
    ASSERT_EQ(Call("WriteString", {Num(1), Str("mid")}), 0u);
    ASSERT_EQ(Call("WriteTable", {Num(1), Slot{1}, Num(1)}), 0u);
    ASSERT_EQ(Call("WriteString", {Num(1), Str("end")}), 0u);
    ASSERT_EQ(Call("CloseFile", {Num(1)}), 0u);
    ASSERT_EQ(Call("OpenFile", {Num(1), Str(Path("seq"))}), 0u);
    for (const char* marker : {"mid", "end"}) {
        int base;
        ASSERT_EQ(CallKeep("ReadTable", {Num(1)}, &base), 0u);
        VmRawGetI(vm, -1, 4999);
        EXPECT_EQ(Read(vm, -1), Value{4999.0});
        VmSetTop(vm, base);
        EXPECT_EQ(One("ReadString", {Num(1), Num(3)}), Value{Str(marker)});
    }
    EXPECT_EQ(One("Eof", {Num(1)}), Value{1.0});
}

TEST_F(Serialise, WriteRefusals)
{
    // A table as a key, a native function, and a table that holds itself
    // (refused, not followed forever).
    NewTable();
    SetField(1, Slot{NewTable()}, Num(1));
    EXPECT_EQ(WriteTableFile("k", 1), uint32_t{ERR_WRONGUSAGE});
    VmSetTop(vm, 0);
    NewTable();
    SetField(1, Str("f"), Slot{PushFunction(CmdEof)});
    EXPECT_EQ(WriteTableFile("n", 1), uint32_t{ERR_NOQMFUNC});
    VmSetTop(vm, 0);
    SetField(NewTable(), Str("self"), Slot{1});
    EXPECT_EQ(WriteTableFile("c", 1), uint32_t{ERR_WRONGUSAGE});
    VmSetTop(vm, 0);
    WriteFileBytes(Path("r"), {});
    ASSERT_EQ(Call("OpenFile", {Num(1), Str(Path("r")), Num(MODE_READ)}), 0u);
    VmNewTable(vm);
    EXPECT_EQ(Call("WriteTable", {Num(1)}), uint32_t{ERR_MISSINGPARAMTR});
    EXPECT_EQ(Call("WriteTable", {Num(1), Slot{1}}), uint32_t{ERR_READONLY});
    int base;
    ASSERT_EQ(Call("OpenFile", {Num(2), Str(Path("w")), Num(MODE_WRITE)}), 0u);
    EXPECT_EQ(CallKeep("ReadTable", {Num(2)}, &base), uint32_t{ERR_WRITEONLY});
}

TEST_F(Serialise, MalformedTableFiles)
{
    auto table = [](std::initializer_list<uint8_t> body) {
        std::vector<uint8_t> v = {'Q', 'M', 'T', '0'};
        v.insert(v.end(), body);
        return v;
    };
    const std::tuple<const char*, std::vector<uint8_t>, uint32_t> cases[] = {
        {"function magic", {'Q', 'M', 'F', '0', 0}, ERR_READTABLE},
        {"short magic", {'Q', 'M'}, ERR_READ},
        {"no end", table({}), ERR_READ},
        {"key tag", table({7}), ERR_WRONGUSAGE},
        {"value tag", table({2, 0, 0, 0, 0, 0, 0, 0, 0, 9}), ERR_FILEFORMAT},
        {"cut double", table({2, 0, 0, 0}), ERR_READ},
        {"huge string", table({3, 0xFF, 0xFF, 0xFF, 0xF0, 'a'}), ERR_READ},
        {"bad function", table({3, 0, 0, 0, 1, 'f', 5, 0, 0, 0, 2, 1, 2, 0}), 0xFFFFFFFF},
        {"text digits", {'Q', 'M', 'T', '1', 'x', '0', '0', '0', '0', '0', '0', '0'}, ERR_READTABLE},
        {"text long", {'Q', 'M', 'T', '1', 'f', 'f', 'f', 'f', 'f', 'f', 'f', 'f', 'U', 'U'}, ERR_READ},
        {"text inner magic", {'Q', 'M', 'T', '1', '0', '0', '0', '0', '0', '0', '0', '4', 'U', 'U', 'U', 'U'},
         ERR_READTABLE},
    };
    for (const auto& [what, bytes, expected] : cases) {
        int top = VmGetTop(vm);
        uint32_t code = ReadBytesAsTable(bytes);
        EXPECT_TRUE(expected == 0xFFFFFFFF ? code != 0 : code == expected) << what << ": " << code;
        EXPECT_EQ(VmGetTop(vm), top) << what;
    }
}

// The format carries no checksum: a byte changed inside a number or a
// string reads back as a changed value, without an error.
TEST_F(Serialise, ADamagedByteInsideAValueComesBackChanged)
{
    int t = NewTable();
    SetField(t, Str("s"), Str("hello"));
    SetField(t, Str("n"), Num(1));
    ASSERT_EQ(WriteTableFile("t", t), 0u);
    std::vector<uint8_t> bytes = ReadFileBytes(Path("t"));
    std::string text(bytes.begin(), bytes.end());
    size_t hello = text.find("hello");
    ASSERT_NE(hello, std::string::npos);
    bytes[hello] = 'j';
    // The number 1.0 is 3F F0 00 ... big-endian; its last byte becomes 1.
    const uint8_t one[8] = {0x3F, 0xF0, 0, 0, 0, 0, 0, 0};
    auto at = std::search(bytes.begin(), bytes.end(), one, one + 8);
    ASSERT_NE(at, bytes.end());
    at[7] = 1;
    ASSERT_EQ(ReadBytesAsTable(bytes), 0u);
    EXPECT_EQ(Field(VmGetTop(vm), "s"), Value{Str("jello")});
    EXPECT_EQ(Field(VmGetTop(vm), "n"), Value{1.0000000000000002});
}

TEST_F(Serialise, NestingDepthIsBounded)
{
    // Each level is the key 0 and a table value (tag 4).
    auto nested = [](int levels) {
        std::vector<uint8_t> bytes = {'Q', 'M', 'T', '0'};
        for (int i = 0; i < levels; ++i)
            bytes.insert(bytes.end(), {2, 0, 0, 0, 0, 0, 0, 0, 0, 4});
        return bytes;
    };
    EXPECT_EQ(ReadBytesAsTable(nested(100000)), uint32_t{ERR_FILEFORMAT});
    std::vector<uint8_t> fine = nested(50);
    fine.insert(fine.end(), 51, 0);
    EXPECT_EQ(ReadBytesAsTable(fine), 0u);
}

TEST_F(Serialise, FunctionFiles)
{
    PushAssembled("LOADNUM r0, 7\nLOADNUM r1, 6\nMUL r0, r0, r1\nRETURN r0, 2\n");
    int fn = VmGetTop(vm);
    for (bool text : {false, true}) {
        ASSERT_EQ(Call("OpenFile", {Num(1), Str(Path("f")), Num(MODE_WRITE)}), 0u);
        ASSERT_EQ(Call("WriteFunction", {Num(1), Slot{fn}, Num(text)}), 0u);
        ASSERT_EQ(Call("CloseFile", {Num(1)}), 0u);
        std::vector<uint8_t> bytes = ReadFileBytes(Path("f"));
        ASSERT_GT(bytes.size(), 12u);
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), text ? "QMF1" : "QMF0");
        if (!text) {
            EXPECT_EQ(LoadBE32(bytes.data() + 4), bytes.size() - 8);
        }
        ASSERT_EQ(Call("OpenFile", {Num(1), Str(Path("f")), Num(MODE_READ)}), 0u);
        int base;
        ASSERT_EQ(CallKeep("ReadFunction", {Num(1)}, &base), 0u);
        EXPECT_EQ(CallForNumber(VmGetTop(vm)), 42.0);
        VmSetTop(vm, base);
        ASSERT_EQ(Call("CloseFile", {Num(1)}), 0u);
    }
    ASSERT_EQ(Call("OpenFile", {Num(1), Str(Path("n")), Num(MODE_WRITE)}), 0u);
    EXPECT_EQ(Call("WriteFunction", {Num(1), Slot{PushFunction(CmdEof)}}), uint32_t{ERR_NOQMFUNC});
    WriteFileBytes(Path("t"), StringToBytes("QMT0\0"));
    ASSERT_EQ(Call("OpenFile", {Num(2), Str(Path("t")), Num(MODE_READ)}), 0u);
    EXPECT_EQ(Call("ReadFunction", {Num(2)}), uint32_t{ERR_READFUNC});
}

} // namespace
