// Interning and the number/string coercions.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/vm/memory.h"
#include "core/vm/state.h"
#include "core/vm/strings.h"
#include "core/vm_fixture.h"

using StringsTest = VmTest;

TEST_F(StringsTest, EqualBytesAreOneObjectAndZeroBytesCount)
{
    VmString* withZero = VmNewString(vm, "ab\0c", 4);
    VmString* prefix = VmNewString(vm, "ab", 2);
    EXPECT_NE(withZero, prefix);
    EXPECT_EQ(withZero->len, 4u);
    EXPECT_EQ(withZero, VmNewString(vm, "ab\0c", 4));
    EXPECT_EQ(VmStringBytes(withZero)[4], '\0');
    EXPECT_EQ(VmNewString(vm, "", 0), VmNewString(vm, "", 0));
}

TEST_F(StringsTest, LongStringsDifferingOnlyInUnsampledBytesCollideButStayDistinct)
{
    // 64 bytes: step 3 from the end samples bytes 63, 60, ...; byte 1 is skipped.
    std::string a(64, 'x'), b(64, 'x');
    b[1] = 'y';
    EXPECT_EQ(VmHashBytes(a.data(), a.size()), VmHashBytes(b.data(), b.size()));
    VmString* sa = VmNewString(vm, a.data(), a.size());
    VmString* sb = VmNewString(vm, b.data(), b.size());
    EXPECT_NE(sa, sb);
    EXPECT_EQ(sa->hash, sb->hash);
    EXPECT_EQ(sb, VmNewString(vm, b.data(), b.size()));
    EXPECT_EQ(std::memcmp(VmStringBytes(sb), b.data(), 64), 0);
}

// Past 2^21 slots a string's home slot comes from its hash, up to it from
// the bits its slot keeps: both must find every string again, through the
// table's growth and through a sweep that frees most of them.
TEST_F(StringsTest, EveryStringIsFoundAgainThroughGrowthAndSweeps)
{
    constexpr int kCount = 1600000;  // more than 3/4 of 2^21: the table doubles past it
    std::vector<VmString*> strings(kCount);
    auto make = [this](int i) {
        char text[32];
        int n = std::snprintf(text, sizeof text, "item%d", i);
        return VmNewString(vm, text, static_cast<size_t>(n));
    };
    for (int i = 0; i < kCount; i++)
        strings[i] = make(i);
    ASSERT_GT(vm->g->strt.size, uint64_t{1} << 21);
    for (int i = 0; i < kCount; i += 7)
        ASSERT_EQ(make(i), strings[i]) << i;
    // Every third string survives a collection; the others go.
    uint64_t before = vm->g->strt.nuse;
    for (int i = 0; i < kCount; i += 3)
        strings[i]->marked |= VM_GC_FIXED;
    VmCollectGarbage(vm);
    EXPECT_EQ(vm->g->strt.nuse, before - (kCount - (kCount + 2) / 3));
    for (int i = 0; i < kCount; i += 3) {
        ASSERT_EQ(make(i), strings[i]) << i;
        strings[i]->marked &= static_cast<uint8_t>(~VM_GC_FIXED);
    }
    // Collected down to a small table, whose homes come from the slots.
    VmCollectGarbage(vm);
    VmCollectGarbage(vm);
    EXPECT_LE(vm->g->strt.size, uint64_t{1} << 21);
    VmString* again = make(42);
    EXPECT_EQ(make(42), again);
}

TEST_F(StringsTest, NilPrintsEmptyAndBooleansDoNotPrint)
{
    VmValue nil;
    VmSetNil(&nil);
    ASSERT_TRUE(VmToStringInPlace(vm, &nil));
    EXPECT_EQ(VmStrValue(&nil)->len, 0u);
    VmValue b;
    VmSetBool(&b, 1);
    EXPECT_FALSE(VmToStringInPlace(vm, &b));
}

TEST(StringToNumber, AcceptsTheLanguageSyntaxOnly)
{
    struct Case {
        const char* text;
        bool ok;
        double value;
    } cases[] = {
        {"10", true, 10},         {"  -2.5e3 ", true, -2500}, {"$10", true, 16},
        {"0x1F", true, 31},       {"0XfF", true, 255},        {"$FFFFFFFF", true, 4294967295.0},
        {"$100000000", true, 4294967295.0},                   {".5", true, 0.5},
        {"5.", true, 5},          {"+7", true, 7},            {"1e400", true, HUGE_VAL},
        {"", false, 0},           {"   ", false, 0},          {"abc", false, 0},
        {"12a", false, 0},        {"$", false, 0},            {"0x", false, 0},
        {"$G", false, 0},         {"1 2", false, 0},          {"--1", false, 0},
        {"+-1", false, 0},
    };
    for (const Case& c : cases) {
        double v = -99;
        EXPECT_EQ(VmStrToNumber(c.text, std::strlen(c.text), &v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
    double v;
    EXPECT_FALSE(VmStrToNumber("1\0", 2, &v)) << "an embedded zero is not white space";
}

TEST(ChunkId, ShortNamesFitTheirBuffer)
{
    char out[60];  // "=name" and "@file" as they are: see the debug tests
    std::string longName = "@" + std::string(100, 'd') + "/tail.qm";
    VmChunkId(out, longName.c_str(), sizeof out);
    EXPECT_EQ(std::strlen(out), sizeof out - 1);
    EXPECT_EQ(std::string(out).substr(0, 3), "...");
    EXPECT_EQ(std::string(out).substr(std::strlen(out) - 7), "tail.qm");
    VmChunkId(out, "print(1)\nprint(2)", sizeof out);
    EXPECT_STREQ(out, "[string \"print(1)...\"]");
    VmChunkId(out, "x = 1", sizeof out);
    EXPECT_STREQ(out, "[string \"x = 1\"]");
    std::string longSource(200, 'a');
    VmChunkId(out, longSource.c_str(), sizeof out);
    EXPECT_LT(std::strlen(out), sizeof out);
    char tiny[8];
    VmChunkId(tiny, longSource.c_str(), sizeof tiny);
    EXPECT_LT(std::strlen(tiny), sizeof tiny);
}

TEST(Log2, IsTheIndexOfTheHighestBit)
{
    EXPECT_EQ(VmLog2(0), -1);
    for (int bit = 0; bit < 32; bit++) {
        EXPECT_EQ(VmLog2(1u << bit), bit);
        EXPECT_EQ(VmLog2((2u << bit) - 1), bit);
    }
}
