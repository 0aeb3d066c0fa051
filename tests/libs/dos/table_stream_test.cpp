// The table stream: the exact bytes of a small table, round trips of every
// value kind, values that cannot be written, and streams that lie.
#include "libs/dos/table_stream.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "core/io/error_codes.h"
#include "core/io/stream.h"
#include "core/vm/vm.h"
#include "support/temp_dir.h"
#include "tools/qmasm/assembler.h"

namespace {

using Bytes = std::vector<uint8_t>;

void AppendDouble(Bytes* out, uint8_t tag, double v)
{
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    out->push_back(tag);
    for (int shift = 56; shift >= 0; shift -= 8)
        out->push_back(static_cast<uint8_t>(bits >> shift));
}

class TableStream : public ::testing::Test {
protected:
    void SetUp() override { vm = VmOpenState(); }
    void TearDown() override { VmCloseState(vm); }

    uint32_t Write(int index, Bytes* out)
    {
        std::string path = dir.file("t.bin");
        StreamHandle* s = StreamOpen(path.c_str(), STREAM_WRITE);
        EXPECT_NE(s, nullptr);
        uint32_t code = WriteTableRecursive(vm, index, s);
        StreamClose(s);
        *out = ReadFileBytes(path);
        return code;
    }
    uint32_t Read(const Bytes& bytes)
    {
        std::string path = dir.file("r.bin");
        WriteFileBytes(path, bytes);
        StreamHandle* s = StreamOpen(path.c_str(), STREAM_READ);
        EXPECT_NE(s, nullptr);
        uint32_t code = ReadTableRecursive(vm, s, 0);
        StreamClose(s);
        return code;
    }
    double NumberField(int table, const char* key)
    {
        VmPushString(vm, key);
        VmRawGet(vm, table);
        double v = VmGetNumber(vm, -1);
        VmPop(vm, 1);
        return v;
    }

    VmState* vm = nullptr;
    TempDir dir;
};

TEST_F(TableStream, SmallTableHasTheDocumentedBytes)
{
    VmNewTable(vm);
    VmPushNumber(vm, 1);
    VmRawSetI(vm, 1, 1);
    VmPushString(vm, "a");
    VmRawSetI(vm, 1, 2);
    Bytes out;
    ASSERT_EQ(Write(1, &out), 0u);
    Bytes expected;
    AppendDouble(&expected, 2, 1.0);
    AppendDouble(&expected, 2, 1.0);
    AppendDouble(&expected, 2, 2.0);
    for (uint8_t b : Bytes{3, 0, 0, 0, 1, 'a', 0})
        expected.push_back(b);
    EXPECT_EQ(out, expected);
}

TEST_F(TableStream, EveryKindRoundTrips)
{
    qmasm::AssembleResult chunk = qmasm::Assemble("LOADNUM r0, 42\nRETURN r0, 2\n");
    ASSERT_TRUE(chunk.ok);
    VmNewTable(vm);
    int t = VmGetTop(vm);
    VmPushString(vm, "name");
    VmPushLString(vm, "x\0y", 3);
    VmRawSet(vm, t);
    VmPushNumber(vm, -0.5);
    VmPushNumber(vm, 1e300);
    VmRawSet(vm, t);
    VmPushString(vm, "inner");
    VmNewTable(vm);
    VmPushString(vm, "deep");
    VmPushNumber(vm, 7);
    VmRawSet(vm, -3);
    VmRawSet(vm, t);
    VmPushString(vm, "ud");
    VmPushLightUserdata(vm, &chunk);
    VmRawSet(vm, t);
    VmPushString(vm, "flag");
    VmPushBoolean(vm, 1);  // no tag for it: left out with its key
    VmRawSet(vm, t);
    VmPushString(vm, "f");
    struct In {
        const Bytes* b;
        bool done;
    } in{&chunk.bytes, false};
    ASSERT_EQ(VmLoad(
                  vm,
                  [](VmState*, void* d, size_t* n) -> const char* {
                      auto* i = static_cast<In*>(d);
                      *n = i->done ? 0 : i->b->size();
                      i->done = true;
                      return *n ? reinterpret_cast<const char*>(i->b->data()) : nullptr;
                  },
                  &in, "=f"),
              0u);
    VmRawSet(vm, t);

    Bytes out;
    ASSERT_EQ(Write(t, &out), 0u);
    ASSERT_EQ(Read(out), 0u);
    int back = VmGetTop(vm);
    VmPushString(vm, "name");
    VmRawGet(vm, back);
    EXPECT_EQ(std::string(VmGetString(vm, -1), VmGetStringLength(vm, -1)), std::string("x\0y", 3));
    VmPushNumber(vm, -0.5);
    VmRawGet(vm, back);
    EXPECT_EQ(VmGetNumber(vm, -1), 1e300);
    VmPushString(vm, "inner");
    VmRawGet(vm, back);
    EXPECT_EQ(NumberField(VmGetTop(vm), "deep"), 7);
    EXPECT_EQ(NumberField(back, "ud"), 0);
    VmPushString(vm, "flag");
    VmRawGet(vm, back);
    EXPECT_EQ(VmType(vm, -1), VM_TNIL);
    VmPushString(vm, "f");
    VmRawGet(vm, back);
    ASSERT_EQ(VmType(vm, -1), VM_TFUNCTION);
    ASSERT_EQ(VmPCall(vm, 0, 1, 0), 0u);
    EXPECT_EQ(VmGetNumber(vm, -1), 42);
}

TEST_F(TableStream, TablesThatCannotBeWritten)
{
    VmNewTable(vm);
    VmPushString(vm, "self");
    VmPushValue(vm, 1);
    VmRawSet(vm, 1);
    Bytes out;
    EXPECT_EQ(Write(1, &out), static_cast<uint32_t>(ERR_STACK));
    EXPECT_EQ(VmGetTop(vm), 1);

    VmNewTable(vm);
    VmNewTable(vm);
    VmPushNumber(vm, 1);
    VmRawSet(vm, 2);
    EXPECT_EQ(Write(2, &out), static_cast<uint32_t>(ERR_WRONGUSAGE));
    EXPECT_EQ(VmGetTop(vm), 2);
}

TEST_F(TableStream, LyingStreamsFailCleanly)
{
    Bytes key;
    AppendDouble(&key, 2, 1.0);
    struct Case {
        Bytes bytes;
        uint32_t error;
    } cases[] = {
        {{}, ERR_READ},
        {key, ERR_READ},                                      // a key without value
        {Bytes{9}, ERR_WRONGUSAGE},                           // unknown key tag
        {[&] { Bytes b = key; b.push_back(7); return b; }(), ERR_FILEFORMAT},
        {[&] { Bytes b = key; for (uint8_t x : Bytes{3, 0xFF, 0xFF, 0xFF, 0xF0, 'a'}) b.push_back(x); return b; }(),
         ERR_READ},                                           // a length far beyond the data
        {[&] {
             Bytes b;
             for (int i = 0; i < 1000; ++i) {
                 AppendDouble(&b, 2, 1.0);
                 b.push_back(4);
             }
             return b;
         }(),
         ERR_FILEFORMAT},                                     // tables that never close
        {[&] { Bytes b; AppendDouble(&b, 2, std::nan("")); AppendDouble(&b, 2, 1.0); b.push_back(0); return b; }(),
         ERR_FILEFORMAT},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Read(c.bytes), c.error);
        EXPECT_EQ(VmGetTop(vm), 0);
    }
}

}  // namespace
