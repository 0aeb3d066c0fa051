// Reading and writing a block's bytes (byte patterns from Python's struct
// module), and the range checks that guard them.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/io/error_codes.h"
#include "memblock_fixture.h"
#include "platform/posix/os_console.h"
#include "support/temp_dir.h"

using namespace testcalls;
using Bytes8 = std::vector<uint8_t>;

namespace {

class MemBlockAccess : public MemBlockTest {
protected:
    void SetUp() override
    {
        MemBlockTest::SetUp();
        ASSERT_EQ(Call("allocmem", {1.0, 16.0}), 0u);
    }
};

TEST_F(MemBlockAccess, PokeWritesTheBytesOfEachTypeAndOrder)
{
    // The value, its type and order, its bytes and what Peek reads back.
    const std::tuple<Value, double, double, Bytes8, double> cases[] = {
        {double(0x11223344), kInteger, 0, {0x11, 0x22, 0x33, 0x44}, double(0x11223344)},
        {double(0x11223344), kInteger, 1, {0x44, 0x33, 0x22, 0x11}, double(0x11223344)},
        {-1.0, kInteger, 0, {0xff, 0xff, 0xff, 0xff}, 4294967295.0},
        {4294967298.0, kInteger, 0, {0, 0, 0, 2}, 2},
        {-2.0, kShort, 0, {0xff, 0xfe}, 65534},
        {double(0x12345), kShort, 1, {0x45, 0x23}, double(0x2345)},
        {300.0, kByte, 0, {0x2c}, 44},
        {1.5, kFloat, 0, {0x3f, 0xc0, 0x00, 0x00}, 1.5},
        {-0.1, kFloat, 1, {0xcd, 0xcc, 0xcc, 0xbd}, static_cast<double>(-0.1f)},
        {1e39, kFloat, 0, {0x7f, 0x80, 0x00, 0x00}, INFINITY},
        {double(FLT_MAX) + 0x1p102, kFloat, 0, {0x7f, 0x7f, 0xff, 0xff}, FLT_MAX},
        {-(double(FLT_MAX) + 0x1p103), kFloat, 0, {0xff, 0x80, 0x00, 0x00}, -INFINITY},
        {3.141592653589793, kDouble, 0, {0x40, 0x09, 0x21, 0xfb, 0x54, 0x44, 0x2d, 0x18}, 3.141592653589793},
        {-2.5e-300, kDouble, 1, {0x2f, 0x30, 0xb7, 0xb3, 0xa7, 0xc9, 0xba, 0x81}, -2.5e-300},
    };
    for (const auto& [value, type, little, bytes, readBack] : cases) {
        ASSERT_EQ(Call("fillmem", {1.0, 0.0, 16.0}), 0u);
        ASSERT_EQ(Call("poke", {1.0, 4.0, value, type, little}), 0u) << type;
        EXPECT_EQ(Bytes(1, 4, bytes.size()), bytes) << type << " " << little;
        EXPECT_EQ(Bytes(1, 4 + bytes.size(), 1), Bytes8{0}) << "wrote past the element";
        EXPECT_EQ(Number("peek", {1.0, 4.0, type, little}), readBack) << type;
    }

    // Without a type and order: big-endian integers.
    ASSERT_EQ(Call("poke", {1.0, 0.0, double(0x11223344)}), 0u);
    EXPECT_EQ(Number("peek", {1.0, 1.0, kShort}), double(0x2233));
    EXPECT_EQ(Number("peek", {1.0, 0.0}), double(0x11223344));
}

TEST_F(MemBlockAccess, StringsCarryTheirTerminatorAndStopAtNonText)
{
    ASSERT_EQ(Call("fillmem", {1.0, double(0xAA), 16.0}), 0u);
    ASSERT_EQ(Call("poke", {1.0, 0.0, std::string("abc"), kString}), 0u);
    EXPECT_EQ(Bytes(1, 0, 5), (Bytes8{'a', 'b', 'c', 0, 0xAA}));
    EXPECT_EQ(One("peek", {1.0, 0.0, kString}), Value(std::string("abc")));
    EXPECT_EQ(One("peek", {1.0, 1.0, kString, 4.0}), Value(std::string("bc\0\xAA", 4)));

    // Tab, line ends, blank and Latin-1 letters are text; 0x01 is not.
    ASSERT_EQ(Call("poke", {1.0, 0.0, std::string("a\tb\r\n \xE9\x01z"), kString}), 0u);
    EXPECT_EQ(One("peek", {1.0, 0.0, kString}), Value(std::string("a\tb\r\n \xE9")));
    // Text running to the end of the block stops there.
    ASSERT_EQ(Call("fillmem", {1.0, double('x'), 16.0}), 0u);
    EXPECT_EQ(One("peek", {1.0, 10.0, kString}), Value(std::string(6, 'x')));

    EXPECT_EQ(Call("peek", {1.0, 0.0, kString, -1.0}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("poke", {1.0, 13.0, std::string("abc"), kString}), ERR_MEMRANGE);
    EXPECT_EQ(Call("poke", {1.0, 12.0, std::string("abc"), kString}), 0u);
    EXPECT_EQ(Call("peek", {1.0, 10.0, kString, 7.0}), ERR_MEMRANGE);
}

TEST_F(MemBlockAccess, AccessesOutsideTheBlockAreRefused)
{
    const std::tuple<const char*, std::vector<Value>, uint32_t> cases[] = {
        {"peek", {1.0, 13.0}, ERR_MEMRANGE}, {"peek", {1.0, 12.0}, 0}, {"peek", {1.0, 15.0, kByte}, 0},
        {"peek", {1.0, 16.0, kByte}, ERR_MEMRANGE}, {"peek", {1.0, -1.0, kByte}, ERR_MEMRANGE},
        {"peek", {1.0, 1e300, kByte}, ERR_MEMRANGE}, {"peek", {1.0, 9.3e18, kInteger}, ERR_MEMRANGE},
        {"peek", {1.0, 0.0, 2.0}, ERR_WRONGUSAGE}, {"poke", {1.0, 13.0, 1.0}, ERR_MEMRANGE},
        {"poke", {1.0, -4.0, 1.0}, ERR_MEMRANGE}, {"poke", {1.0, 0.0, 1.0, 99.0}, ERR_WRONGUSAGE},
        {"poke", {1.0, 0.0, 1.0, 5.0, 0.0}, ERR_WRONGUSAGE},
        {"fillmem", {1.0, 0.0, 17.0}, ERR_MEMRANGE}, {"fillmem", {1.0, 0.0, 4.0, 13.0}, ERR_MEMRANGE},
        {"fillmem", {1.0, 0.0, 4.0, -1.0}, ERR_MEMRANGE}, {"fillmem", {1.0, 0.0, 9.2e18, 8.0}, ERR_MEMRANGE},
        {"peek", {2.0, 0.0}, ERR_FINDMEMBLK},
    };
    for (const auto& [command, args, code] : cases)
        EXPECT_EQ(Call(command, args), code) << command << " " << std::get<double>(args.size() > 1 ? args[1] : Value(0.0));
}

TEST_F(MemBlockAccess, FillMemWritesBigEndianUnitsAtAlignedPlaces)
{
    const std::tuple<std::vector<Value>, uint32_t, Bytes8> cases[] = {
        {{1.0, double(0x1234), 4.0, 0.0, kShort}, 0, {0x12, 0x34, 0x12, 0x34, 0, 0, 0, 0}},
        {{1.0, double(0x1234), 4.0, 2.0, kShort}, 0, {0, 0, 0x12, 0x34, 0x12, 0x34, 0, 0}},
        {{1.0, double(0xA1B2C3D4), 8.0, 0.0, kInteger}, 0, {0xa1, 0xb2, 0xc3, 0xd4, 0xa1, 0xb2, 0xc3, 0xd4}},
        {{1.0, double(0x1FF), 3.0, 1.0}, 0, {0, 0xff, 0xff, 0xff, 0, 0, 0, 0}},
        {{1.0, 7.0, 0.0}, 0, {0, 0, 0, 0, 0, 0, 0, 0}}, {{1.0, 7.0, -5.0}, 0, {0, 0, 0, 0, 0, 0, 0, 0}},
        {{1.0, 1.0, 3.0, 0.0, kShort}, ERR_WRONGUSAGE, {0, 0, 0, 0, 0, 0, 0, 0}},
        {{1.0, 1.0, 4.0, 1.0, kShort}, ERR_WRONGUSAGE, {0, 0, 0, 0, 0, 0, 0, 0}},
        {{1.0, 1.0, 4.0, 0.0, kFloat}, ERR_WRONGUSAGE, {0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const auto& [args, code, firstEightBytes] : cases) {
        ASSERT_EQ(Call("fillmem", {1.0, 0.0, 16.0}), 0u);
        EXPECT_EQ(Call("fillmem", args), code);
        EXPECT_EQ(Bytes(1, 0, 8), firstEightBytes);
    }
    // Long fills repeat the unit all the way (sizes that are no power of two).
    ASSERT_EQ(Call("allocmem", {2.0, 1000.0}), 0u);
    ASSERT_EQ(Call("fillmem", {2.0, double(0x01020304), 996.0, 4.0, kInteger}), 0u);
    std::vector<uint8_t> all = Bytes(2, 0, 1000);
    for (size_t i = 4; i < 1000; ++i)
        ASSERT_EQ(all[i], 1 + (i % 4)) << i;
    EXPECT_EQ(all[0], 0);
}

TEST_F(MemBlockAccess, CopyMemMovesBytesBetweenDifferentBlocks)
{
    ASSERT_EQ(Call("allocmem", {2.0, 8.0}), 0u);
    for (int i = 0; i < 16; ++i)
        ASSERT_EQ(Call("poke", {1.0, double(i), double(i + 1), kByte}), 0u);
    ASSERT_EQ(Call("copymem", {1.0, 2.0, 4.0, 10.0, 2.0}), 0u);
    EXPECT_EQ(Bytes(2, 0, 8), (Bytes8{0, 0, 11, 12, 13, 14, 0, 0}));

    EXPECT_EQ(Call("copymem", {1.0, 1.0, 4.0}), ERR_WRONGUSAGE);
    for (const std::vector<Value>& args : std::vector<std::vector<Value>>{
             {1.0, 2.0, 9.0}, {1.0, 2.0, 4.0, 13.0}, {1.0, 2.0, 4.0, 0.0, 5.0}, {1.0, 2.0, 4.0, -1.0}})
        EXPECT_EQ(Call("copymem", args), ERR_MEMRANGE) << args.size();
    EXPECT_EQ(Call("copymem", {1.0, 2.0, 0.0, 100.0, 100.0}), 0u);  // nothing to copy, nothing checked
    EXPECT_EQ(Call("copymem", {1.0, 3.0, 1.0}), ERR_FINDMEMBLK);

    // Two blocks over overlapping foreign memory copy like memmove.
    uint8_t shared[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(Call("allocmemfrompointer", {3.0, Pointer{shared}, 8.0}), 0u);
    ASSERT_EQ(Call("allocmemfrompointer", {4.0, Pointer{shared + 2}, 6.0}), 0u);
    ASSERT_EQ(Call("copymem", {3.0, 4.0, 6.0}), 0u);
    EXPECT_EQ(Bytes8(shared, shared + 8), (Bytes8{1, 2, 1, 2, 3, 4, 5, 6}));
}

TEST_F(MemBlockAccess, MemToTableReadsElementsInMachineOrder)
{
    ASSERT_EQ(Call("allocmem", {2.0, 2.0}), 0u);
    ASSERT_EQ(Call("fillmem", {2.0, double(0xFF), 2.0}), 0u);
    EXPECT_EQ(One("memtotable", {2.0, kShort, Options{{{"signed", 1}}}}), Value(Array{{-1}}));
    EXPECT_EQ(One("memtotable", {2.0, kShort}), Value(Array{{65535}}));
    EXPECT_EQ(One("memtotable", {2.0, kByte, Options{{{"signed", 1}}}}), Value(Array{{-1, -1}}));

    for (int i = 0; i < 16; ++i)
        ASSERT_EQ(Call("poke", {1.0, double(i), double(0x80 + i), kByte}), 0u);
    EXPECT_EQ(One("memtotable", {1.0, kInteger, Options{{{"items", 2}}}}),
              Value(Array{{double(0x83828180), double(0x87868584)}}));
    EXPECT_EQ(One("memtotable", {1.0, kInteger, Options{{{"items", 1}, {"endianswitch", 1}, {"signed", 1}}}}),
              Value(Array{{double(0x80818283)}}));
    // Without a count, the whole elements from the offset to the end.
    EXPECT_EQ(One("memtotable", {1.0, kShort, Options{{{"offset", 11}}}}),
              Value(Array{{double(0x8c8b), double(0x8e8d)}}));
    EXPECT_EQ(One("memtotable", {1.0, kDouble, Options{{{"offset", 9}}}}), Value(Array{}));

    EXPECT_EQ(Call("memtotable", {1.0, kInteger, Options{{{"items", 4}, {"offset", 1}}}}), ERR_MEMRANGE);
    EXPECT_EQ(Call("memtotable", {1.0, kInteger, Options{{{"items", 4e18}}}}), ERR_MEMRANGE);
    EXPECT_EQ(Call("memtotable", {1.0, kByte, Options{{{"offset", 17}}}}), ERR_MEMRANGE);
    EXPECT_EQ(Call("memtotable", {1.0, kByte, Options{{{"offset", -1}}}}), ERR_MEMRANGE);
    EXPECT_EQ(Call("memtotable", {1.0, kByte, Options{{{"items", -1}}}}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("memtotable", {1.0, kString}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("memtotable", {1.0, 4.0}), ERR_WRONGUSAGE);
}

TEST_F(MemBlockAccess, TableToMemWritesUntilNilOrANonNumberAndStopsAtTheBlockEnd)
{
    ASSERT_EQ(Call("tabletomem", {Array{{1, -2, 65536 + 3}}, 1.0, kShort, Options{{{"offset", 2}}}}), 0u);
    EXPECT_EQ(Bytes(1, 0, 9), (Bytes8{0, 0, 1, 0, 0xfe, 0xff, 3, 0, 0}));
    ASSERT_EQ(Call("tabletomem", {Array{{0x01020304}}, 1.0, kInteger, Options{{{"endianswitch", 1}}}}), 0u);
    EXPECT_EQ(Bytes(1, 0, 4), (Bytes8{1, 2, 3, 4}));

    // Floats and doubles survive a round trip through a table.
    Array values{{1.5, -0.25, 1e300, -3.0}};
    ASSERT_EQ(Call("tabletomem", {values, 1.0, kDouble}), ERR_MEMRANGE);  // 32 bytes into 16
    EXPECT_EQ(One("memtotable", {1.0, kDouble}), Value(Array{{1.5, -0.25}}));
    ASSERT_EQ(Call("tabletomem", {values, 1.0, kFloat}), 0u);
    EXPECT_EQ(One("memtotable", {1.0, kFloat}), Value(Array{{1.5, -0.25, INFINITY, -3.0}}));

    ASSERT_EQ(Call("fillmem", {1.0, 0.0, 16.0}), 0u);
    EXPECT_EQ(Call("tabletomem", {Array{{1, 2, 3, 4, 5}}, 1.0, kInteger, Options{{{"offset", 4}}}}), ERR_MEMRANGE);
    EXPECT_EQ(One("memtotable", {1.0, kInteger}), Value(Array{{0, 1, 2, 3}}));
    EXPECT_EQ(Call("tabletomem", {Array{}, 1.0, kInteger, Options{{{"offset", 400}}}}), 0u);
    EXPECT_EQ(Call("tabletomem", {Array{{1}}, 1.0, kInteger, Options{{{"offset", -4}}}}), ERR_MEMRANGE);
    EXPECT_EQ(Call("tabletomem", {Array{{1}}, 1.0, kString}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("tabletomem", {1.0, 1.0, kByte}), ERR_TABEXPECTED);

    // Elements that are no numbers are refused after what came before.
    VmPushString(vm, "tabletomem");
    VmGetTable(vm, VM_GLOBALSINDEX);
    VmNewTable(vm);
    VmPushNumber(vm, 7);
    VmRawSetI(vm, -2, 0);
    VmPushBoolean(vm, 1);
    VmRawSetI(vm, -2, 1);
    VmPushNumber(vm, 1);
    VmPushNumber(vm, kByte);
    EXPECT_EQ(VmPCall(vm, 3, 0, 0), ERR_NUMTABLEARG);
    EXPECT_EQ(Bytes(1, 0, 2), (Bytes8{7, 0}));
}

TEST_F(MemBlockAccess, DumpMemPrintsSixteenBytesPerLine)
{
    TempDir dir;
    std::string path = dir.file("dump.txt");
    ASSERT_EQ(OsOpenDebugChannel(("::file" + path).c_str()), 0);
    ASSERT_EQ(Call("allocmem", {2.0, 20.0}), 0u);
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(Call("poke", {2.0, double(i), double(i == 3 ? ' ' : 'A' - 3 + i), kByte}), 0u);
    ASSERT_EQ(Call("poke", {2.0, 0.0, 1.0, kByte}), 0u);
    ASSERT_EQ(Call("poke", {2.0, 19.0, double(0x7F), kByte}), 0u);
    EXPECT_EQ(Call("dumpmem", {2.0}), 0u);
    EXPECT_EQ(Call("dumpmem", {2.0, 3.0, 17.0}), 0u);
    EXPECT_EQ(Call("dumpmem", {2.0, 0.0, 18.0}), 0u);
    EXPECT_EQ(Call("dumpmem", {2.0, 0.0, -1.0}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("dumpmem", {2.0, 4.0, 17.0}), ERR_MEMRANGE);
    OsCloseDebugChannel();

    std::vector<uint8_t> text = ReadFileBytes(path);
    std::string expected = "00000000: 01 3f 40 20 42 43 44 45 46 47 48 49 4a 4b 4c 4d .?@ BCDEFGHIJKLM\n"
                           "00000010: 4e 4f 50 7f " + std::string(12 * 3, ' ') + "NOP.\n"
                           "00000011: 4f 50 7f " + std::string(13 * 3, ' ') + "OP.\n"
                           "00000012: 50 7f " + std::string(14 * 3, ' ') + "P.\n";
    EXPECT_EQ(std::string(text.begin(), text.end()), expected);
}

}  // namespace
