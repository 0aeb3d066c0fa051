// A fresh VM per test, and a way to run a body as a native inside a
// protected call (so that raised errors come back as codes).
#pragma once

#include <gtest/gtest.h>

#include <functional>

#include "core/vm/error_hooks.h"
#include "core/vm/value.h"
#include "core/vm/vm.h"

class VmTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        VmHooks = {};
        VmErrorInProgress = 0;
        VmLastErrorCode = 0;
        L = VmOpenState();
        ASSERT_NE(L, nullptr);
    }
    void TearDown() override
    {
        VmCloseState(L);
        VmHooks = {};
    }

    // Runs body as a native called through VmPCall; answers the status.
    uint32_t RunNative(const std::function<void(VmState*)>& body)
    {
        current = &body;
        VmPushNativeFunction(L, [](VmState* s) -> uint32_t {
            (*current)(s);
            return 0;
        });
        uint32_t status = VmPCall(L, 0, 0, 0);
        current = nullptr;
        return status;
    }

    VmState* L = nullptr;
    static inline const std::function<void(VmState*)>* current = nullptr;
};
