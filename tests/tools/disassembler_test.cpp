// The disassembler: its text assembles back to the very same chunk, and it
// refuses chunks it cannot follow without reading past their end.
#include "tools/qmasm/disassembler.h"

#include "tools/qmasm/assembler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using namespace qmasm;

namespace {

using Bytes = std::vector<uint8_t>;

const char* const kRoundTrips[] = {
    // The language's ordinary shapes: loops, calls, closures with captures.
    R"(.chunk lines=auto
.function main vararg=1
    LOADK r0, #0
    LOADNUM r1, 1
    LOADNUM r2, 10
    LOADNUM r3, 1
    SUB r1, r1, r3
    JMP test
loop: ADD r0, r0, r1
test: FORLOOP r1, loop
    GETGLOBAL r4, "DebugPrint"
    MOVE r5, r0
    CALL r4, 2, 1
    CLOSURE r6, inner
    RETURN r0, 1
.function inner params=1 source="@inner"
    .upval total = r0
    .upval other = u3
    .local x 0 2
    .local @none -1 99
    GETUPVAL r1, total
    LOADK r2, "a\x01b\n\"\\\xff"
    RETURN r1, 2
.end
.end
)",
    // Header overrides and a big-endian body.
    ".chunk signature=\"\\x1bQMX\" order=0 intsize=8 sizesize=2 instrsize=3 opbits=7 abits=1 "
    "bbits=2 cbits=3 numsize=4 testnum=31415926.25\nLOADK r0, #-0.5\nRETURN r0, 1\n",
    // Malformed words: unused fields set, unknown opcodes, wild jumps.
    ".function main maxstack=251\nWORD 0x01010040\nRAW 43, 1, 2, 3\nRAW 63, 255, 511, 511\n"
    "JMP +100\nJMP -5, 1\nGOSUB 0\nJMP 0, 3\nFORLOOP r0, -131071\nTFORPREP r1, 131072\n"
    "RETSUB\nRETURN r1, 0, 1\nRETURN r0, 0, 7\nLOADNUM r0, 3, 1\nEQ 7, k261, r249\n"
    "ADD r0, k50, k261\nSETGLOBAL r0, k262143\nMOVE r255, r511\n.end\n",
    // A pool with duplicates, special numbers and entries no instruction names.
    ".const #1 #1 \"s\" \"s\" nil nil #-0 #0 #inf #-inf #nan #1e308 #4.9e-324\n"
    "LOADK r0, k1\nLOADK r0, k0\nLOADK r1, \"s\"\nLOADK r1, k3\nADD r0, k5, #0\nEQ 0, #-0, nil\n"
    "RETURN r0, 1\n",
    // Nested functions that cannot be named: no capture, two different
    // captures, names that do not match the count, a raw index.
    R"(.function a
.upval x = r1
RETURN r0, 1
.end
.function b upvals=2
.upval y
RETURN r0, 1
.end
.function c upvalnames=0
.upval _ = r4
.upval _ = u0
RETURN r0, 1
.end
.function d
.upval z
.end
CLOSURE r0, 0
MOVE r0, r1
CLOSURE r0, 0
MOVE r0, r2
CLOSURE r1, 1
CLOSURE r2, c
CLOSURE r3, 3
CLOSURE r4, 9
RETURN r0, 1
)",
    // Line information that does not fit the code, and an empty function.
    ".function main line=-4 maxstack=0\n.lineinfo 1 2 3\nRETURN r0, 1\n.function e line=2\n.end\n.end\n",
    ".function main\n.line 3\nJMP 0\n.line 3\nx:\n.line 5\nJMP x\n.line 4\nRETURN r0, 1\n.end\n",
};

TEST(Disassembler, TextAssemblesBackToTheSameBytes)
{
    for (const char* text : kRoundTrips) {
        AssembleResult first = Assemble(text);
        ASSERT_TRUE(first.ok) << first.errorLine << ": " << first.message << "\n" << text;
        DisassembleResult d = Disassemble(first.bytes.data(), first.bytes.size());
        ASSERT_TRUE(d.ok) << d.message;
        AssembleResult second = Assemble(d.text);
        ASSERT_TRUE(second.ok) << second.errorLine << ": " << second.message << "\n" << d.text;
        EXPECT_EQ(second.bytes, first.bytes) << text << "\n--- disassembled as ---\n" << d.text;
    }
}

TEST(Disassembler, PrintsReadableInstructions)
{
    AssembleResult a = Assemble("GETGLOBAL r4, \"DebugPrint\"\ntop: ADD r0, r0, #1\nJMP top\n"
                                "CALL r4, 2, 1\nRETURN r0, 1\n");
    ASSERT_TRUE(a.ok);
    DisassembleResult d = Disassemble(a.bytes.data(), a.bytes.size());
    ASSERT_TRUE(d.ok);
    for (const char* expected : {"GETGLOBAL r4, \"DebugPrint\"\n", "L1:\n", "ADD r0, r0, #1\n",
                                 "JMP L1\n", "CALL r4, 2, 1\n", "RETURN r0, 1\n"})
        EXPECT_NE(d.text.find(expected), std::string::npos) << expected << "\n" << d.text;
}

TEST(Disassembler, RefusesTruncationsTrailingBytesAndHugeCounts)
{
    AssembleResult a = Assemble(kRoundTrips[0]);
    ASSERT_TRUE(a.ok);
    for (size_t n = 0; n < a.bytes.size(); n++) {
        DisassembleResult d = Disassemble(a.bytes.data(), n);
        EXPECT_FALSE(d.ok) << n;
        EXPECT_FALSE(d.message.empty());
    }
    Bytes longer = a.bytes;
    longer.push_back(0);
    EXPECT_FALSE(Disassemble(longer.data(), longer.size()).ok);
    // The constant count, then the line count, set far beyond the input, are
    // refused without allocating for them.
    a = Assemble("RETURN r0, 1\n");
    ASSERT_TRUE(a.ok);
    for (size_t at : {21u + 28u, 21u + 12u}) {
        Bytes b = a.bytes;
        std::fill_n(b.begin() + at, 3, 0xFF);
        b[at + 3] = 0x7F;
        DisassembleResult d = Disassemble(b.data(), b.size());
        EXPECT_FALSE(d.ok);
        EXPECT_NE(d.message.find("count"), std::string::npos) << d.message;
    }
    Bytes bad = a.bytes;
    bad[21 + 28] = 1;
    bad.insert(bad.begin() + 21 + 32, 5);  // a constant of type 5
    EXPECT_FALSE(Disassemble(bad.data(), bad.size()).ok);
}

// Mutated chunks: whatever the disassembler accepts must assemble back to
// the same bytes, NaN constants aside (their payload is not kept).
TEST(Disassembler, AcceptedMutationsRoundTrip)
{
    uint32_t seed = 12345;
    auto next = [&] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    int accepted = 0;
    for (const char* text : kRoundTrips) {
        AssembleResult a = Assemble(text);
        ASSERT_TRUE(a.ok);
        for (int round = 0; round < 1500; round++) {
            Bytes b = a.bytes;
            int flips = 1 + next() % 3;
            for (int i = 0; i < flips; i++)
                b[next() % b.size()] ^= static_cast<uint8_t>(1 + next() % 255);
            DisassembleResult d = Disassemble(b.data(), b.size());
            if (!d.ok || d.text.find("nan") != std::string::npos)
                continue;
            accepted++;
            AssembleResult again = Assemble(d.text);
            ASSERT_TRUE(again.ok) << again.errorLine << ": " << again.message << "\n" << d.text;
            if (again.bytes != b) {
                auto at = std::mismatch(b.begin(), b.end(), again.bytes.begin(), again.bytes.end()).first;
                FAIL() << "differs at byte " << at - b.begin() << " of " << b.size() << "\n" << d.text;
            }
        }
    }
    EXPECT_GT(accepted, 1000);
}

}  // namespace
