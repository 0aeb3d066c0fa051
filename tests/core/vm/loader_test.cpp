// The chunk loader, dumper and bytecode check, against chunks written by the
// independent test assembler.
#include <algorithm>
#include <cstring>
#include <string>

#include "core/io/error_codes.h"
#include "core/vm/error_hooks.h"
#include "script_fixture.h"

namespace {

using LoaderTest = ScriptTest;

const char* const kProgram = R"(.chunk lines=auto
.function main source="@prog.qas" vararg=1
.local "x" 0 3
    LOADK r0, #1.5
    LOADK r1, "text"
    LOADK r2, nil
    CLOSURE r3, inner
    MOVE r4, r3
    CALL r4, 1, 2
    RETURN r4, 2
.function inner line=3 params=1
    .upval up = r0
    GETUPVAL r1, up
    ADD r1, r1, #2
    RETURN r1, 2
.end
.end
)";

}  // namespace

TEST_F(LoaderTest, DumpWritesWhatTheAssemblerWroteAndRefusesNatives)
{
    std::vector<uint8_t> bytes = Assemble(kProgram);
    ASSERT_EQ(LoadBytes(bytes), 0u);
    EXPECT_EQ(Dump(), bytes);
    ASSERT_EQ(VmPCall(vm, 0, 1, 0), 0u);
    EXPECT_EQ(VmGetNumber(vm, -1), 3.5);
    VmPushNativeFunction(vm, [](VmState*) -> uint32_t { return 0; });
    std::vector<uint8_t> out;
    EXPECT_EQ(VmDump(vm, -1, CollectBytes, &out), static_cast<uint32_t>(ERR_NOQMFUNC));
    EXPECT_TRUE(out.empty());
}

TEST_F(LoaderTest, BigEndianChunkLoadsToTheSameFunction)
{
    std::vector<uint8_t> little = Assemble(kProgram);
    std::string bigText = kProgram;
    bigText.replace(bigText.find(".chunk lines=auto"), 17, ".chunk bigendian lines=auto");
    std::vector<uint8_t> big = Assemble(bigText);
    ASSERT_NE(little, big);
    ASSERT_EQ(LoadBytes(big), 0u);
    EXPECT_EQ(Dump(), little);
}

TEST_F(LoaderTest, HeaderErrorsHaveTheirCodes)
{
    struct Case {
        const char* chunk;
        uint32_t code;
    } cases[] = {
        {".chunk signature=\"\\x1bQMC\"", ERR_BADSIGNATURE}, {".chunk intsize=8", ERR_VMMISMATCH},
        {".chunk sizesize=8", ERR_VMMISMATCH},  {".chunk instrsize=8", ERR_VMMISMATCH},
        {".chunk opbits=7", ERR_VMMISMATCH},    {".chunk abits=9", ERR_VMMISMATCH},
        {".chunk bbits=8", ERR_VMMISMATCH},     {".chunk cbits=8", ERR_VMMISMATCH},
        {".chunk numsize=4", ERR_VMMISMATCH},   {".chunk testnum=31415927", ERR_UNKNUMFMT},
        {".chunk testnum=31415926.99", 0},      {".chunk order=7", 0},
    };
    for (const Case& c : cases) {
        VmSetTop(vm, 0);
        std::string text = std::string(c.chunk) + "\nRETURN r0, 1\n";
        EXPECT_EQ(LoadBytes(Assemble(text)), c.code) << c.chunk;
    }
}

TEST_F(LoaderTest, EveryTruncationIsAnUnexpectedEnd)
{
    std::vector<uint8_t> bytes = Assemble(kProgram);
    for (size_t n = 0; n < bytes.size(); n++) {
        std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(n));
        ASSERT_EQ(LoadBytes(cut), static_cast<uint32_t>(ERR_UNEXPECTEDEOF)) << "cut at " << n;
        ASSERT_EQ(VmGetTop(vm), 0);
    }
}

TEST_F(LoaderTest, CountsAreCheckedBeforeAllocating)
{
    std::vector<uint8_t> bytes = Assemble("RETURN r0, 1\n");
    // The line-information count sits after the four bytes behind the line
    // defined: header 21, source 4, line 4, bytes 4.
    size_t at = 21 + 4 + 4 + 4;
    auto put = [&](uint32_t v) { std::memcpy(&bytes[at], &v, 4); };
    put(0x7FFFFFFF);
    EXPECT_EQ(LoadBytes(bytes), static_cast<uint32_t>(ERR_UNEXPECTEDEOF));
    put(0xFFFFFFFF);
    EXPECT_EQ(LoadBytes(bytes), static_cast<uint32_t>(ERR_BADINTEGER));
    std::vector<uint8_t> negLine = Assemble("RETURN r0, 1\n");
    uint32_t minus = 0xFFFFFFFE;
    std::memcpy(&negLine[25], &minus, 4);
    EXPECT_EQ(LoadBytes(negLine), static_cast<uint32_t>(ERR_BADINTEGER));
}

TEST_F(LoaderTest, BadUpvalueNamesAndConstants)
{
    // Names for two upvalues of a function that has one.
    std::vector<uint8_t> b = Assemble(".function main upvals=1\n.upval a\n.upval b\nRETURN r0, 1\n.end\n");
    ASSERT_FALSE(b.empty());
    EXPECT_EQ(LoadBytes(b), static_cast<uint32_t>(ERR_BADUPVALUES));
    // No names at all is fine.
    EXPECT_EQ(LoadBytes(Assemble(".function main upvals=2 upvalnames=0\nGETUPVAL r0, u1\nRETURN r0, 2\n.end\n")), 0u);
    EXPECT_EQ(VmPCall(vm, 0, 1, 0), 0u);
    EXPECT_EQ(VmType(vm, -1), VM_TNIL);
    // A constant of type boolean.
    std::vector<uint8_t> k = Assemble("LOADK r0, #7\nRETURN r0, 2\n");
    // The constant block: count 1, then the type byte 3 and 8 bytes.
    const uint8_t block[] = {1, 0, 0, 0, 3};
    auto at = std::search(k.begin() + 21, k.end(), block, block + 5);
    ASSERT_NE(at, k.end());
    at[4] = 1;
    EXPECT_EQ(LoadBytes(k), static_cast<uint32_t>(ERR_BADCONSTANT));
}

namespace {

// The detail the loader hands with its refusal.
std::string refusalDetail;

void KeepDetail(uint32_t code, const char* text)
{
    if (code == ERR_BADBYTECODE)
        refusalDetail = text;
}

}  // namespace

TEST_F(LoaderTest, VerifierRefusesCodeThatLeavesItsFrame)
{
    // Each case with what the refusal's detail says of it. A test that no
    // jump follows, in a nested function and with its line, is the player's
    // error-detail test's.
    const std::pair<const char*, const char*> bad[] = {
        {".function main maxstack=251\nRETURN r0, 1\n.end\n", "the function uses 251 registers, more than 250"},
        {"MOVE r0, r1\n", "the function does not end in RETURN"},
        {".function main maxstack=2\nMOVE r5, r0\nRETURN r0, 1\n.end\n", "instruction 0 (MOVE) reaches outside"},
        {".function main maxstack=2\nMOVE r0, r9\nRETURN r0, 1\n.end\n", "instruction 0 (MOVE) reaches outside"},
        {".function main maxstack=2\nADD r0, r0, k3\nRETURN r0, 1\n.end\n", "instruction 0 (ADD)"},
        {"LOADK r0, k9\nRETURN r0, 1\n", "instruction 0 (LOADK)"},
        {"JMP 5\nRETURN r0, 1\n", "instruction 0 (JMP)"},
        {"JMP -3\nRETURN r0, 1\n", "instruction 0 (JMP)"},
        {"LOADNUM r0, 1, 1\nRETURN r0, 1\n", "instruction 0 (LOADNUM) skips the last instruction"},
        {"GETUPVAL r0, 0\nRETURN r0, 1\n", "instruction 0 (GETUPVAL)"},
        {"GETGLOBAL r0, #1\nRETURN r0, 1\n", "instruction 0 (GETGLOBAL)"},
        {".function main maxstack=4\nCONCAT r0, r2, r1\nRETURN r0, 1\n.end\n", "instruction 0 (CONCAT)"},
        {".function main maxstack=4\nCONCAT r0, r0, r9\nRETURN r0, 1\n.end\n", "instruction 0 (CONCAT)"},
        {".function main maxstack=4\nCALL r0, 9, 1\nRETURN r0, 1\n.end\n", "instruction 0 (CALL)"},
        {".function main maxstack=4\nCALL r0, 1, 9\nRETURN r0, 1\n.end\n", "instruction 0 (CALL)"},
        {"CALL r0, 1, 0\nMOVE r0, r0\nRETURN r0, 1\n",
         "instruction 0 (CALL) keeps all results, but the next instruction does not take them"},
        {".function main maxstack=4\nRETURN r2, 9\n.end\n", "instruction 0 (RETURN)"},
        {".function main maxstack=4\nRETURN r2, 9, 2\n.end\n", "instruction 0 (RETURN)"},
        {".function main maxstack=4\nSETLIST r0, 31\nRETURN r0, 1\n.end\n", "instruction 0 (SETLIST)"},
        {".function main maxstack=4\nFORLOOP r2, -1\nRETURN r0, 1\n.end\n", "instruction 0 (FORLOOP)"},
        {".function main maxstack=4\nFORLOOP r0, 5\nRETURN r0, 1\n.end\n", "instruction 0 (FORLOOP)"},
        {".function main maxstack=4\nTFORPREP r3, 0\nRETURN r0, 1\n.end\n", "instruction 0 (TFORPREP)"},
        {".function main maxstack=4\nTFORPREP r0, 7\nRETURN r0, 1\n.end\n", "instruction 0 (TFORPREP)"},
        {".function main maxstack=8\nTFORLOOP r0, 3\nJMP -2\nRETURN r0, 1\n.end\n", "instruction 0 (TFORLOOP)"},
        {".function main maxstack=4\nSELF r3, r0, \"m\"\nRETURN r0, 1\n.end\n", "instruction 0 (SELF)"},
        {"CLOSURE r0, 0\nRETURN r0, 1\n", "instruction 0 (CLOSURE)"},                // no nested function
        {".function g\n.upval a = r0\nRETURN r0, 1\n.end\nCLOSURE r0, 0\n",  // no room for the capture
         "In the main function of test: the function does not end in RETURN"},
        {".function main params=3 vararg=1 maxstack=3\nRETURN r0, 1\n.end\n",
         "the function has more parameters than its 3 registers"},
    };
    VmErrorHooks saved = VmHooks;
    VmHooks.setErrorDetail = KeepDetail;
    for (const auto& [text, detail] : bad) {
        VmSetTop(vm, 0);
        refusalDetail.clear();
        EXPECT_EQ(LoadBytes(Assemble(text)), static_cast<uint32_t>(ERR_BADBYTECODE)) << text;
        EXPECT_NE(refusalDetail.find(detail), std::string::npos) << text << " -> " << refusalDetail;
    }
    VmHooks = saved;
    // Unknown opcodes load and do nothing.
    EXPECT_EQ(Run("LOADNUM r0, 4\nRAW 50, 0, 0, 0\nRETURN r0, 2\n"), 0u);
    EXPECT_EQ(VmGetNumber(vm, -1), 4);
}
