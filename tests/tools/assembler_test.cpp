// The assembler against chunk bytes written out by hand from the chunk
// layout, and against instruction words computed from the field layout.
#include "tools/qmasm/assembler.h"

#include <gtest/gtest.h>

#include "core/io/error_codes.h"
#include "core/vm/vm.h"
#include "support/assembled_script.h"

#include <cstring>
#include <string>
#include <vector>

using qmasm::Assemble;
using qmasm::AssembleResult;

namespace {

using Bytes = std::vector<uint8_t>;

// The header every default chunk starts with (little-endian).
const Bytes kHeader = {0x1B, 'Q', 'M', 'B', 1, 4, 4, 4, 6, 8, 9, 9, 8,
                       0xb6, 0x09, 0x93, 0x68, 0xe7, 0xf5, 0x7d, 0x41};

Bytes AssembleOk(const std::string& text)
{
    AssembleResult r = Assemble(text);
    EXPECT_TRUE(r.ok) << "line " << r.errorLine << ": " << r.message << "\n" << text;
    return r.bytes;
}

// The little-endian word at `at` (from the end when negative).
uint32_t WordLE(const Bytes& b, ptrdiff_t at = -4)
{
    size_t p = at < 0 ? b.size() - static_cast<size_t>(-at) : static_cast<size_t>(at);
    return b[p] | b[p + 1] << 8 | b[p + 2] << 16 | static_cast<uint32_t>(b[p + 3]) << 24;
}

// A text with no directives is the main function, every field at its
// default.
TEST(Assembler, WritesTheSmallestChunkByteForByte)
{
    Bytes expected = kHeader;
    expected.insert(expected.end(), {0, 0, 0, 0,              // no source name
                                     0, 0, 0, 0,              // line defined
                                     0, 0, 0, 2,              // upvalues, params, vararg, max stack
                                     0, 0, 0, 0,              // line information
                                     0, 0, 0, 0,              // locals
                                     0, 0, 0, 0,              // upvalue names
                                     0, 0, 0, 0,              // constants
                                     0, 0, 0, 0,              // nested functions
                                     1, 0, 0, 0,              // one instruction
                                     0x22, 0x80, 0x00, 0x00}); // RETURN r0, 1
    EXPECT_EQ(AssembleOk("RETURN r0, 1\n"), expected);
}

TEST(Assembler, BigEndianChunkSwapsEveryMultiByteItem)
{
    Bytes expected = {0x1B, 'Q', 'M', 'B', 0, 4, 4, 4, 6, 8, 9, 9, 8,
                      0x41, 0x7d, 0xf5, 0xe7, 0x68, 0x93, 0x09, 0xb6,
                      0, 0, 0, 3, 'x', 'y', 0,   // source "xy"
                      0, 0, 0, 9,                // line defined
                      0, 0, 0, 2,
                      0, 0, 0, 2, 0, 0, 0, 5, 0, 0, 0, 5,  // lines 5, 5
                      0, 0, 0, 0, 0, 0, 0, 0,
                      0, 0, 0, 1, 3, 0xbf, 0xe0, 0, 0, 0, 0, 0, 0,  // constant -0.5
                      0, 0, 0, 0,
                      0, 0, 0, 2,
                      0x00, 0x00, 0x00, 0x01,    // LOADK r0, k0
                      0x00, 0x00, 0x80, 0x22};   // RETURN r0, 1
    EXPECT_EQ(AssembleOk(".chunk bigendian\n"
                         ".function main line=9 source=\"xy\"\n"
                         ".line 5\n"
                         "  LOADK r0, #-0.5\n"
                         "  RETURN r0, 1\n"
                         ".end\n"),
              expected);
}

TEST(Assembler, WritesEveryFieldOfAFunctionInOrder)
{
    const char* text = R"(
.function main source="@t.qas" vararg=1 maxstack=4
.line 7
.local "x" 0 end
    LOADK r0, #1.5
    CLOSURE r1, inner
    RETURN r0, 1
end:
.function inner line=3 params=1
    .upval up = r0
    GETUPVAL r1, up
    RETURN r1, 2
.end
.end
)";
    Bytes inner = {0, 0, 0, 0,              // source inherited
                   3, 0, 0, 0,              // line defined
                   1, 1, 0, 2,              // one upvalue, one parameter, max stack 2
                   0, 0, 0, 0,              // no line information
                   0, 0, 0, 0,              // no locals
                   1, 0, 0, 0, 3, 0, 0, 0, 'u', 'p', 0,
                   0, 0, 0, 0,              // constants
                   0, 0, 0, 0,              // nested
                   2, 0, 0, 0,
                   0x04, 0x00, 0x00, 0x01,  // GETUPVAL r1, u0
                   0x22, 0x00, 0x01, 0x01}; // RETURN r1, 2
    Bytes main = {7, 0, 0, 0, '@', 't', '.', 'q', 'a', 's', 0,
                  0, 0, 0, 0,
                  0, 0, 1, 4,
                  4, 0, 0, 0, 7, 0, 0, 0, 7, 0, 0, 0, 7, 0, 0, 0, 7, 0, 0, 0,
                  1, 0, 0, 0, 2, 0, 0, 0, 'x', 0, 0, 0, 0, 0, 4, 0, 0, 0,
                  0, 0, 0, 0,
                  1, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0xf8, 0x3f,
                  1, 0, 0, 0};
    Bytes code = {4, 0, 0, 0,
                  0x01, 0x00, 0x00, 0x00,   // LOADK r0, k0
                  0x29, 0x00, 0x00, 0x01,   // CLOSURE r1, 0
                  0x00, 0x00, 0x00, 0x00,   // capture: MOVE 0, r0
                  0x22, 0x80, 0x00, 0x00};  // RETURN r0, 1
    AssembleResult r = Assemble(text);
    ASSERT_TRUE(r.ok) << r.errorLine << ": " << r.message;
    Bytes expected = kHeader;
    for (const Bytes* part : {&main, &inner, &code})
        expected.insert(expected.end(), part->begin(), part->end());
    EXPECT_EQ(r.bytes, expected);
    EXPECT_EQ(r.mainLabels, (std::vector<std::pair<std::string, uint32_t>>{{"end", 4}}));
}

TEST(Assembler, EncodesEveryOpcodeAndOperandForm)
{
    const std::pair<const char*, uint32_t> cases[] = {
        {"MOVE r1, r2", 0x01010000u},
        {"LOADK r3, k5", 0x03000141u},
        {"LOADNUM r0, 511, 1", 0x00FF8042u},
        {"LOADNUM r7, 20", 0x070A0002u},
        {"LOADNIL r0, r4", 0x00020003u},
        {"GETUPVAL r2, u3", 0x02018004u},
        {"GETTABLE r1, r2, k3", 0x01013F46u},
        {"SETGLOBAL r255, k262143", 0xFFFFFFC7u},
        {"SETUPVAL r0, 7", 0x00038008u},
        {"SETTABLE r1, k0, r2", 0x017D0089u},
        {"NEWTABLE r0, 3, 2", 0x0001808Au},
        {"ADD r0, r1, k261", 0x0000FFCBu},
        {"SUB r2, k0, r249", 0x027D3E4Cu},
        {"UNM r0, r1", 0x00008017u},
        {"CONCAT r0, r1, r3", 0x000080DAu},
        {"JMP 0", 0x1FFFFFDBu},
        {"JMP 8388608", 0x3FFFFFDBu},
        {"JMP -8388607", 0x0000001Bu},
        {"JMP +5, 3", 0xE000011Bu},
        {"GOSUB 2", 0xA000005Bu},
        {"EQ 1, r0, k1", 0x01003EDCu},
        {"TEST r0, r1, 1", 0x0000805Fu},
        {"CALL r0, 3, 2", 0x000180A0u},
        {"RETURN r0, 0, 2", 0x000000A2u},
        {"RETSUB", 0x00000062u},
        {"FORLOOP r0, -3", 0x007FFF23u},
        {"FORLOOP r1, 131072", 0x01FFFFE3u},
        {"TFORLOOP r0, 2", 0x000000A4u},
        {"TFORPREP r4, -131071", 0x04000025u},
        {"SETLIST r0, 33", 0x00000866u},
        {"CLOSE r3", 0x03000028u},
        {"SELF r0, r1, k2", 0x0000BF2Au},
        {"RAW 63, 255, 511, 511", 0xFFFFFFFFu},
        {"WORD 0x12345678", 0x12345678u},
    };
    for (auto [text, word] : cases) {
        Bytes b = AssembleOk(std::string(".function main maxstack=250\n") + text + "\n.end\n");
        ASSERT_GE(b.size(), 4u) << text;
        EXPECT_EQ(WordLE(b), word) << text;
    }
    // Mnemonics ignore case.
    EXPECT_EQ(AssembleOk("move r1, r2\n"), AssembleOk("MOVE r1, r2\n"));
    EXPECT_EQ(AssembleOk("Gosub 2\n"), AssembleOk("JMP 2, 2\n"));
}

TEST(Assembler, ResolvesLabelsForwardAndBackward)
{
    Bytes b = AssembleOk("top: ADD r0, r0, #1\n"
                         "     JMP top\n"
                         "     JMP done\n"
                         "     FORLOOP r0, top\n"
                         "     GOSUB done\n"
                         "done:\n"
                         "     RETURN r0, 1\n");
    // The code is the last 6 words.
    auto word = [&](int i) { return WordLE(b, -4 * (6 - i)); };
    auto jumpOffset = [](uint32_t w) { return static_cast<int32_t>((w >> 6) & 0xFFFFFF) - 8388607; };
    EXPECT_EQ(jumpOffset(word(1)), -2);
    EXPECT_EQ(jumpOffset(word(2)), 2);
    EXPECT_EQ(static_cast<int32_t>((word(3) >> 6) & 0x3FFFF) - 131071, -4);
    EXPECT_EQ(jumpOffset(word(4)), 0);
    EXPECT_EQ(word(4) >> 30, 2u);
}

// The constants of a main function with no nested functions, locals or lines.
struct ConstantView { uint8_t type; Bytes value; };
std::vector<ConstantView> MainConstants(const Bytes& b)
{
    size_t at = 21 + 4 + 4 + 4 + 4 + 4 + 4;  // to the constant count
    uint32_t n = WordLE(b, at);
    at += 4;
    std::vector<ConstantView> out;
    for (uint32_t i = 0; i < n; i++) {
        ConstantView k{b[at++], {}};
        size_t len = k.type == 3 ? 8 : k.type == 4 ? 4 + WordLE(b, at) : 0;
        k.value.assign(b.begin() + at, b.begin() + at + len);
        at += len;
        out.push_back(k);
    }
    return out;
}

TEST(Assembler, PoolsConstantsOncePerFunctionByExactValue)
{
    Bytes b = AssembleOk("LOADK r0, #1\n"
                         "LOADK r1, \"a\"\n"
                         "LOADK r2, #0x1\n"
                         "ADD r0, r0, \"a\"\n"
                         "LOADK r3, nil\n"
                         "LOADK r4, #-0\n"
                         "LOADK r5, #0\n"
                         "EQ 0, r0, nil\n"
                         "RETURN r0, 1\n");
    std::vector<ConstantView> k = MainConstants(b);
    ASSERT_EQ(k.size(), 5u);
    EXPECT_EQ(k[0].type, 3);
    EXPECT_EQ(k[0].value, (Bytes{0, 0, 0, 0, 0, 0, 0xf0, 0x3f}));
    EXPECT_EQ(k[1].type, 4);
    EXPECT_EQ(k[1].value, (Bytes{2, 0, 0, 0, 'a', 0}));
    EXPECT_EQ(k[2].type, 0);
    EXPECT_EQ(k[3].value, (Bytes{0, 0, 0, 0, 0, 0, 0, 0x80}));  // -0 is a constant of its own
    EXPECT_EQ(k[4].value, (Bytes{0, 0, 0, 0, 0, 0, 0, 0}));
    // String escapes are decoded and embedded zeros kept.
    b = AssembleOk("LOADK r0, \"a\\n\\x41\\101\\0z\\\"\\\\\"\nRETURN r0, 1\n");
    k = MainConstants(b);
    ASSERT_EQ(k.size(), 1u);
    EXPECT_EQ(k[0].value, (Bytes{9, 0, 0, 0, 'a', '\n', 'A', 'A', 0, 'z', '"', '\\', 0}));
    // .const appends in order without merging; literals find the first
    // equal entry.
    b = AssembleOk(".const \"s\" #2 \"s\" type=7\nLOADK r0, #2\nLOADK r0, \"s\"\nRETURN r0, 1\n");
    k = MainConstants(b);
    ASSERT_EQ(k.size(), 4u);
    EXPECT_EQ(k[2].type, 4);
    EXPECT_EQ(k[3].type, 7);
    EXPECT_EQ(WordLE(b, -12) >> 6, 1u);
    EXPECT_EQ(WordLE(b, -8) >> 6, 0u);
}

TEST(Assembler, ComputesTheStackSizeFromEveryRegisterReached)
{
    struct Case { const char* text; int maxStack; };
    const Case cases[] = {
        {"RETURN r0, 1", 2},
        {"MOVE r9, r2", 10},
        {"CALL r3, 4, 3", 7},
        {"CALL r3, 1, 6", 8},
        {"RETURN r5, 4", 8},
        {"FORLOOP r4, 0", 7},
        {"TFORLOOP r1, 2", 9},
        {"TFORPREP r6, 0", 8},
        {"SETLIST r2, 35", 7},
        {"SELF r7, r1, \"m\"", 9},
        {"LOADNIL r0, r12", 13},
        {"CONCAT r0, r1, r20", 21},
    };
    for (const Case& c : cases) {
        Bytes b = AssembleOk(std::string(c.text) + "\n");
        ASSERT_GT(b.size(), 32u) << c.text;
        EXPECT_EQ(b[21 + 11], c.maxStack) << c.text;
    }
    // Parameters and the vararg table take registers too.
    Bytes b = AssembleOk(".function f params=5 vararg=1\nRETURN r0, 1\n.end\n");
    EXPECT_EQ(b[21 + 11], 6);
}

TEST(Assembler, ClosureEmitsOneCaptureInstructionPerUpvalue)
{
    Bytes b = AssembleOk(".function g\n"
                         ".upval a = r7\n"
                         ".upval b = u3\n"
                         "RETURN r0, 1\n"
                         ".end\n"
                         "CLOSURE r1, g\n"
                         "RETURN r0, 1\n");
    size_t code = b.size() - 16;
    EXPECT_EQ(WordLE(b, code), 0x01000029u);      // CLOSURE r1, 0
    EXPECT_EQ(WordLE(b, code + 4), 0x00038000u);  // MOVE 0, r7
    EXPECT_EQ(WordLE(b, code + 8), 0x00018004u);  // GETUPVAL 0, u3
    EXPECT_EQ(b[21 + 11], 8);  // r7 is reached
}

TEST(Assembler, OverridesEveryHeaderField)
{
    const struct { const char* option; size_t offset; Bytes bytes; } cases[] = {
        {"signature=\"\\x1bQMX\"", 0, {0x1b, 'Q', 'M', 'X'}},
        {"order=1", 4, {1}},
        {"order=7", 4, {7}},
        {"littleendian", 4, {1}},
        {"intsize=8", 5, {8}},
        {"cbits=10", 11, {10}},
        {"numsize=4", 12, {4}},
        {"testnum=1.5", 13, {0, 0, 0, 0, 0, 0, 0xf8, 0x3f}},
        {"testnum=#31415926.9", 13, {0x66, 0x66, 0x66, 0x6e, 0xe7, 0xf5, 0x7d, 0x41}},
    };
    Bytes plain = AssembleOk("RETURN r0, 1\n");
    for (const auto& c : cases) {
        Bytes b = AssembleOk(std::string(".chunk ") + c.option + "\nRETURN r0, 1\n");
        ASSERT_EQ(b.size(), plain.size()) << c.option;
        Bytes expected = plain;
        std::copy(c.bytes.begin(), c.bytes.end(), expected.begin() + c.offset);
        if (c.offset == 4 && c.bytes[0] != 1) {
            // Any order byte but 1 makes the body big-endian.
            EXPECT_EQ(b[21 + 11], 2) << c.option;
            EXPECT_EQ(Bytes(b.end() - 8, b.end()), (Bytes{0, 0, 0, 1, 0, 0, 0x80, 0x22}));
            continue;
        }
        EXPECT_EQ(b, expected) << c.option;
    }
}

TEST(Assembler, ReportsErrorsAtTheirLine)
{
    const struct { const char* text; int line; const char* message; } cases[] = {
        {"RETURN r0, 1\nJMP nowhere\n", 2, "unknown label nowhere"},
        {"a:\nMOVE r0, r0\na:\n", 3, "label a defined twice"},
        {"\n\nMOVE r256, r0\n", 3, "register r256 does not fit its 8-bit field"},
        {"ADD r0, r250, r1\n", 1, "cannot be an RK operand"},
        {"ADD r0, k262, r1\n", 1, "out of RK range"},
        {"LOADNUM r0, 512\n", 1, "value 512 does not fit its 9-bit field"},
        {"JMP 8388609\n", 1, "out of range -8388607..8388608"},
        {"FORLOOP r0, 131073\n", 1, "out of range -131071..131072"},
        {"LOADK r0, k262144\n", 1, "does not fit its 18-bit field"},
        {"JMP 0, 4\n", 1, "does not fit its 2-bit field"},
        {"RAW 64, 0, 0, 0\n", 1, "opcode 64 out of range"},
        {"NOP r0\n", 1, "unknown instruction NOP"},
        {"MOVE r0\n", 1, "MOVE takes 2 operands"},
        {"LOADK r0, \"open\n", 1, "unterminated string"},
        {"LOADK r0, \"\\q\"\n", 1, "unknown escape"},
        {"LOADK r0, #1.5x\n", 1, "bad number"},
        {"\n.function f\nRETURN r0, 1\n", 2, "function f has no .end"},
        {"RETURN r0, 1\n.end\n", 2, ".end without .function"},
        {"CLOSURE r0, g\n", 1, "no nested function g"},
        {".function g\n.upval x\n.end\nCLOSURE r0, g\n", 4, "upvalue x of g has no source"},
        {".function g\n.end\n.function g\n.end\n", 3, "function g defined twice"},
        {"GETUPVAL r0, missing\n", 1, "unknown upvalue missing"},
        {".chunk signature=\"QMB\"\n", 1, "the signature has 4 bytes"},
        {".chunk intsize=256\n", 1, "out of range"},
        {".chunk fast\n", 1, "unknown chunk option"},
        {".function f colour=1\n.end\n", 1, "unknown function attribute colour"},
        {".frobnicate\n", 1, "unknown directive"},
        {"r1:\n", 1, "bad label name"},
        {".local x 0 nowhere\nRETURN r0, 1\n", 1, "unknown label nowhere"},
        {"MOVE r255, r300\n", 1, "needs 301 registers"},
    };
    for (const auto& c : cases) {
        AssembleResult r = Assemble(c.text);
        EXPECT_FALSE(r.ok) << c.text;
        EXPECT_EQ(r.errorLine, c.line) << c.text << " -> " << r.message;
        EXPECT_NE(r.message.find(c.message), std::string::npos) << c.text << " -> " << r.message;
    }
    // A literal pooled beyond the reach of an RK operand.
    std::string text = ".const";
    for (int i = 0; i < 262; i++)
        text += " #" + std::to_string(i);
    AssembleResult r = Assemble(text + "\nADD r0, r0, #261\nADD r0, r0, #262\n");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.errorLine, 3);
    EXPECT_NE(r.message.find("beyond the reach of an RK operand"), std::string::npos) << r.message;
}

// Random lines from the assembler's own vocabulary: every text either
// assembles or fails at one of its lines, never anything else.
TEST(Assembler, RandomTextFailsCleanlyAtALine)
{
    const char* const words[] = {
        "MOVE", "LOADK", "ADD", "JMP", "GOSUB", "RETSUB", "CLOSURE", "CALL", "FORLOOP", "EQ",
        "WORD", "RAW", "RETURN", "SETLIST", "GETUPVAL", ".function", ".end", ".upval", ".line",
        ".lineinfo", ".local", ".const", ".chunk", "f", "g", "x:", "x", "y:", "y", "r0", "r1",
        "r255", "r256", "k0", "k300", "u1", "#1", "#-0.5", "#0x1F", "#", "\"s\"", "\"\\x4", "nil",
        "0", "-1", "8388608", "=", "a=r1", "params=2", "upvals=1", "maxstack=300", ",", ";",
        "type=7", "lines=auto", "bigendian", "@none", "auto", "\"", "=u2"};
    uint32_t seed = 99;
    auto next = [&] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    int ok = 0;
    for (int round = 0; round < 3000; round++) {
        std::string text;
        int lines = 1 + next() % 8;
        for (int l = 0; l < lines; l++) {
            int n = next() % 5;
            for (int w = 0; w < n; w++)
                text += std::string(words[next() % std::size(words)]) + (next() % 2 ? " " : ", ");
            text += "\n";
        }
        AssembleResult r = Assemble(text);
        if (r.ok) {
            ok++;
            continue;
        }
        EXPECT_GE(r.errorLine, 1) << text << r.message;
        EXPECT_LE(r.errorLine, lines + 1) << text << r.message;
        EXPECT_FALSE(r.message.empty());
    }
    EXPECT_GT(ok, 100);
}

}  // namespace

namespace qmasm {
namespace {

// Named constants come from the caller's resolver; plain numbers are no
// registers or constants; the command's options add line information, the
// source name and a final RETURN.
TEST(Assembler, NamedConstantsPlainNumbersAndTheCommandsOptions)
{
    AssembleOptions options;
    options.constants = [](const std::string& name, Constant* out) {
        if (name != "MODE_WRITE")
            return false;
        out->type = kConstNumber;
        out->number = 1;
        return true;
    };
    AssembleResult named = Assemble("LOADK r0, #MODE_WRITE\nLOADK r1, #1\nRETURN r0, 1\n", options);
    ASSERT_TRUE(named.ok) << named.message;
    EXPECT_EQ(named.bytes, Assemble("LOADK r0, #1\nLOADK r1, #1\nRETURN r0, 1\n").bytes);
    EXPECT_TRUE(Assemble("LOADK r0, #inf\nRETURN r0, 1\n", options).ok);

    const std::pair<const char*, const char*> refused[] = {
        {"LOADK r0, #NOPE", "unknown constant #NOPE"},
        {"LOADK r0, 1", "write #1 for the number 1 or k1"},
        {"ADD r2, r2, 1", "write r1 for register 1, #1 for the number 1 or k1"},
        {"GETGLOBAL r0, 7", "write #7"},
    };
    for (auto [text, message] : refused) {
        AssembleResult r = Assemble(text, options);
        EXPECT_FALSE(r.ok) << text;
        EXPECT_NE(r.message.find(message), std::string::npos) << r.message;
    }
    EXPECT_NE(Assemble("LOADK r0, #MODE_WRITE").message.find("qmasm command"), std::string::npos);

    AssembleOptions command;
    command.autoLines = true;
    command.finalReturn = true;
    command.mainSource = "@x.qas";
    AssembleResult r = Assemble("LOADNIL r0, r0\n.function f\nLOADNIL r0, r0\n.end\n", command);
    ASSERT_TRUE(r.ok) << r.message;
    ChunkHeader header;
    Prototype main;
    std::string message;
    ASSERT_TRUE(ReadChunk(r.bytes.data(), r.bytes.size(), &header, &main, &message)) << message;
    EXPECT_EQ(main.source, std::optional<std::string>("@x.qas"));
    EXPECT_EQ(main.code.size(), 2u);
    EXPECT_EQ(main.lineInfo, (std::vector<int32_t>{1, 1}));
    ASSERT_EQ(main.functions.size(), 1u);
    EXPECT_EQ(main.functions[0].code.size(), 2u);
    EXPECT_EQ(main.functions[0].lineInfo, (std::vector<int32_t>{3, 3}));
    EXPECT_FALSE(main.functions[0].source.has_value());
    // Nested functions are defined at the line of their .function, so that
    // the VM does not take them for main functions; the main one stays at 0.
    EXPECT_EQ(main.lineDefined, 0);
    EXPECT_EQ(main.functions[0].lineDefined, 2);
    AssembleResult block = Assemble("\n.function main\n.function g\n.end\n.end\n", command);
    ASSERT_TRUE(block.ok) << block.message;
    ASSERT_TRUE(ReadChunk(block.bytes.data(), block.bytes.size(), &header, &main, &message)) << message;
    EXPECT_EQ(main.lineDefined, 0);
    ASSERT_EQ(main.functions.size(), 1u);
    EXPECT_EQ(main.functions[0].lineDefined, 3);
    AssembleResult given = Assemble(".function f line=9\n.end\n", command);
    ASSERT_TRUE(ReadChunk(given.bytes.data(), given.bytes.size(), &header, &main, &message)) << message;
    EXPECT_EQ(main.lineDefined, 9);
}

TEST(Assembler, PairCheckRefusesWhatThePlayersLoaderRefuses)
{
    // The player's loader is the oracle: each text it refuses, the check
    // refuses at the line of the first instruction of the pair, saying what
    // the pair needs; each text it takes, the check takes.
    const struct {
        const char* text;
        int line;  // 0: accepted
        const char* says;
    } cases[] = {
        {"LOADNUM r0, 1\nEQ 1, r0, #0\nLOADNUM r0, 2\nRETURN r0, 1\n", 2,
         "EQ must be followed by a JMP, which the test takes or skips"},
        {"LE 0, r0, r0\nMOVE r0, r0\nRETURN r0, 1\n", 1, "LE must be followed by a JMP"},
        {"TEST r1, r0, 1\nRETURN r0, 1\n", 1, "TEST must be followed by a JMP"},
        {".function main maxstack=8\nTFORLOOP r0, 1\nRETURN r0, 1\n.end\n", 2,
         "TFORLOOP must be followed by a JMP, which it takes while the loop goes on"},
        {"CALL r0, 1, 0\nMOVE r0, r0\nRETURN r0, 1\n", 1, "CALL with C = 0 keeps all results up to a new top"},
        {"TAILCALL r0, 1, 0\nRETURN r0, 1\n", 1, "TAILCALL with C = 0"},
        {"LOADNUM r0, 1, 1\nRETURN r0, 1\n", 1,
         "LOADNUM with C set skips the next instruction, which must not be the last"},
        {"LOADNUM r0, 1\nEQ 1, r0, #0\nJMP +1\nLOADNUM r0, 2\nRETURN r0, 1\n", 0, ""},
        {"TEST r1, r0, 0\nJMP 0\nRETURN r0, 1\n", 0, ""},
        {".function main maxstack=8\nTFORLOOP r0, 1\nJMP -2\nRETURN r0, 1\n.end\n", 0, ""},
        {"CALL r0, 1, 0\nCALL r0, 0, 1\nRETURN r0, 1\n", 0, ""},
        {"CALL r0, 1, 0\nRETURN r0, 0\n", 0, ""},
        {"TAILCALL r0, 1, 0\nRETURN r0, 0\n", 0, ""},
        {"NEWTABLE r0, 0, 0\nCALL r1, 1, 0\nSETLISTO r0, 0\nRETURN r0, 1\n", 0, ""},
        {"LOADNUM r0, 1, 1\nLOADNUM r0, 2\nRETURN r0, 1\n", 0, ""},
    };
    AssembleOptions checked;
    checked.checkPairs = true;
    VmState* vm = VmOpenState();
    ASSERT_NE(vm, nullptr);
    for (const auto& c : cases) {
        AssembleResult plain = Assemble(c.text);
        ASSERT_TRUE(plain.ok) << c.text << plain.message;
        uint32_t loaded = LoadChunkBytes(vm, plain.bytes, "=pairs");
        EXPECT_EQ(loaded, c.line ? static_cast<uint32_t>(ERR_BADBYTECODE) : 0u) << c.text;
        AssembleResult r = Assemble(c.text, checked);
        EXPECT_EQ(r.ok, c.line == 0) << c.text << r.message;
        if (c.line) {
            EXPECT_EQ(r.errorLine, c.line) << c.text << r.message;
        }
        EXPECT_NE(r.message.find(c.says), std::string::npos) << c.text << r.message;
    }
    VmCloseState(vm);
}

}  // namespace
}  // namespace qmasm
