// Memory blocks and math commands together in an assembled script: a handle
// travels through registers and results feed arguments.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/io/error_codes.h"
#include "libs/math/math_library.h"
#include "tools/qmasm/assembler.h"
#include "memblock_fixture.h"

namespace {

struct ChunkInput {
    const std::vector<uint8_t>* bytes;
    bool done;
};

const char* ReadOnce(VmState*, void* data, size_t* size)
{
    auto* in = static_cast<ChunkInput*>(data);
    *size = in->done ? 0 : in->bytes->size();
    in->done = true;
    return *size ? reinterpret_cast<const char*>(in->bytes->data()) : nullptr;
}

class MemBlockScripts : public MemBlockTest {
protected:
    void SetUp() override
    {
        MemBlockTest::SetUp();
        ASSERT_EQ(RegisterMathLibrary(vm), 0u);
    }

    uint32_t Run(const std::string& text)
    {
        qmasm::AssembleResult r = qmasm::Assemble(text);
        EXPECT_TRUE(r.ok) << r.errorLine << ": " << r.message;
        VmSetTop(vm, 0);
        ChunkInput in{&r.bytes, false};
        if (uint32_t code = VmLoad(vm, ReadOnce, &in, "=script"))
            return code;
        return VmPCall(vm, 0, VM_MULTRET, 0);
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
