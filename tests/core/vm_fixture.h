// A fresh VM per test with the VM's error hooks cleared, and ways to run
// code inside a protected call, so that raised errors come back as codes:
// a native the way the interpreter runs a command, a body of test code, or
// a chunk from the test assembler.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "core/vm/error_hooks.h"
#include "core/vm/vm.h"
#include "support/assembled_script.h"
#include "tools/qmasm/assembler.h"

class VmTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        VmHooks = {};
        VmErrorInProgress = 0;
        VmLastErrorCode = 0;
        vm = VmOpenState();
        ASSERT_NE(vm, nullptr);
    }
    void TearDown() override
    {
        VmCloseState(vm);
        VmHooks = {};
    }

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

    // Runs body as a native called through VmPCall; answers the status.
    uint32_t RunNative(const std::function<void(VmState*)>& body)
    {
        current = &body;
        VmPushNativeFunction(vm, [](VmState* s) -> uint32_t {
            (*current)(s);
            return 0;
        });
        uint32_t status = VmPCall(vm, 0, 0, 0);
        current = nullptr;
        return status;
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
    static inline const std::function<void(VmState*)>* current = nullptr;
};
