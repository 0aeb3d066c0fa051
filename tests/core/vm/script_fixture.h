// Runs assembled chunks: text through the test assembler, the bytes through
// VmLoad, the main function through VmPCall.
#pragma once

#include <string>
#include <vector>

#include "core/vm/chunk.h"
#include "core/vm/interpreter.h"
#include "core/vm_fixture.h"

inline int CollectBytes(VmState*, const void* p, size_t n, void* data)
{
    auto* out = static_cast<std::vector<uint8_t>*>(data);
    out->insert(out->end(), static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
    return 0;
}

class ScriptTest : public VmTest {
protected:
    void SetUp() override
    {
        VmTest::SetUp();
        VmGosubDepth = 0;
        VmAbortFlag = 0;
    }

    std::vector<uint8_t> Assemble(const std::string& text)
    {
        qmasm::AssembleResult r = qmasm::Assemble(text);
        EXPECT_TRUE(r.ok) << "line " << r.errorLine << ": " << r.message << "\n" << text;
        return r.bytes;
    }

    uint32_t LoadBytes(const std::vector<uint8_t>& bytes) { return LoadChunkBytes(vm, bytes, "=test"); }

    // Loads and runs text; answers the status with the results on the stack.
    uint32_t Run(const std::string& text) { return RunAssembledScript(vm, text); }

    std::vector<uint8_t> Dump()
    {
        std::vector<uint8_t> out;
        EXPECT_EQ(VmDump(vm, -1, CollectBytes, &out), 0u);
        return out;
    }
};
