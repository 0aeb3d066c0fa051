// A VM state per test, a way to run one native under a protected call, the
// way the interpreter runs a command, and chunks from the test assembler.
#pragma once

#include "core/vm/vm.h"
#include "support/assembled_script.h"
#include "tools/qmasm/assembler.h"

#include <gtest/gtest.h>

#include <string>

class VmTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        vm = VmOpenState();
        ASSERT_NE(vm, nullptr);
    }
    void TearDown() override { VmCloseState(vm); }

    // Calls `native` with the values pushed by `pushArgs`; answers the code
    // that unwound the call (0 when none) and leaves the results on the stack.
    template <typename PushArgs>
    uint32_t Run(VmNativeFunction native, PushArgs pushArgs, int nResults = 0)
    {
        VmPushNativeFunction(vm, native);
        int before = VmGetTop(vm);
        pushArgs(vm);
        return VmPCall(vm, VmGetTop(vm) - before, nResults, 0);
    }
    uint32_t Run(VmNativeFunction native, int nResults = 0)
    {
        return Run(native, [](VmState*) {}, nResults);
    }

    void SetGlobal(const char* name, VmNativeFunction native)
    {
        VmPushString(vm, name);
        VmPushNativeFunction(vm, native);
        VmSetTable(vm, VM_GLOBALSINDEX);
    }

    // Assembles text, loads it under the chunk name and runs it; the status.
    uint32_t RunChunk(const std::string& text, const char* chunkName)
    {
        qmasm::AssembleResult chunk = qmasm::Assemble(text);
        EXPECT_TRUE(chunk.ok) << chunk.errorLine << ": " << chunk.message;
        EXPECT_EQ(LoadChunkBytes(vm, chunk.bytes, chunkName), 0u);
        return VmPCall(vm, 0, 0, 0);
    }

    VmState* vm = nullptr;
};
