// A VM state per test and a way to run one native under a protected call,
// the way the interpreter runs a command.
#pragma once

#include "core/vm/vm.h"

#include <gtest/gtest.h>

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

    VmState* vm = nullptr;
};
