// Memory blocks and math commands together in an assembled script: a handle
// travels through registers and results feed arguments.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/io/error_codes.h"
#include "libs/math/math_library.h"
#include "memblock_fixture.h"
#include "support/assembled_script.h"

namespace {

class MemBlockScripts : public MemBlockTest {
protected:
    void SetUp() override
    {
        MemBlockTest::SetUp();
        ASSERT_EQ(RegisterMathLibrary(vm), 0u);
    }

    uint32_t Run(const std::string& text)
    {
        return RunAssembledScript(vm, text);
    }
};

TEST_F(MemBlockScripts, HandleAndResultsFlowThroughRegisters)
{
    ASSERT_EQ(Run(R"(
        GETGLOBAL r0, "allocmem"
        LOADNIL r1, r1
        LOADNUM r2, 8
        CALL r0, 3, 2
        GETGLOBAL r1, "poke"
        MOVE r2, r0
        LOADNUM r3, 2
        GETGLOBAL r4, "endianswap"
        LOADK r5, #305419896
        LOADNUM r6, 32
        CALL r4, 3, 2
        CALL r1, 4, 1
        GETGLOBAL r1, "peek"
        MOVE r2, r0
        LOADNUM r3, 2
        LOADNUM r4, 1
        LOADNUM r5, 1
        CALL r1, 5, 2
        GETGLOBAL r2, "round"
        LOADK r3, #2.5
        CALL r2, 2, 2
        RETURN r1, 3
    )"),
              0u);
    ASSERT_EQ(VmGetTop(vm), 2);
    EXPECT_EQ(VmGetNumber(vm, 1), double(0x12345678));
    EXPECT_EQ(VmGetNumber(vm, 2), 2);
    EXPECT_EQ(CountObjectsOfType(OBJ_MEMORY), 1u);
}

}  // namespace
