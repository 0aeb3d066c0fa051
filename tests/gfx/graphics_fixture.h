// Fixtures that run commands on a real VM; tests free what they own before the base TearDown.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/glue/timers.h"
#include "core/services/command_services.h"
#include "core/vm/library_glue.h"
#include "core/vm/vm.h"
#include "display/display.h"
#include "display/display_library.h"
#include "gfx/library/graphics_library.h"
#include "platform/posix/os_runloop.h"
#include "support/command_calls.h"
#include "support/test_displays.h"

// The script-call values every test of the library passes around.
using testcalls::CallGlobal;
using testcalls::Nil;
using testcalls::Pointer;
using testcalls::Value;

// A VM whose globals hold the libraries a test registers, with the
// platform up for its whole life.
class VmFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(InitPlatformGlue(), 0u);
        vm = VmOpenState();
        ASSERT_NE(vm, nullptr);
    }
    // Frees what the libraries keep before the VM goes.
    void TearDown() override
    {
        if (!vm) return;
        FreeAllBrushes(vm);
        VmCloseState(vm);
        FreeCoreLists(nullptr);
        OsShutdown();
    }
    void Register(uint32_t (*open)(VmState*))
    {
        VmPushValue(vm, VM_GLOBALSINDEX);
        ASSERT_EQ(open(vm), 0u);
        VmSetTop(vm, 0);
    }
    // Test commands become globals beside the library's.
    void AddCommands(const CommandTableEntry* commands)
    {
        VmPushValue(vm, VM_GLOBALSINDEX);
        VmRegisterLibrary(vm, nullptr, commands, 0);
        VmSetTop(vm, 0);
    }
    uint32_t Call(const char* name, const std::vector<testcalls::Value>& args,
                  std::vector<testcalls::Value>* results = nullptr)
    {
        return testcalls::CallGlobal(vm, name, args, results);
    }
    // Calls an opening command as `command`(id, file, {loader = ...}), the
    // loader option only when one is named; the error code.
    uint32_t OpenFile(const char* command, double id, const std::string& file, const char* loader = nullptr)
    {
        VmSetTop(vm, 0);
        VmPushString(vm, command);
        VmGetTable(vm, VM_GLOBALSINDEX);
        VmPushNumber(vm, id);
        VmPushString(vm, file.c_str());
        VmNewTable(vm);
        if (loader) {
            VmPushString(vm, "loader");
            VmPushString(vm, loader);
            VmSetTable(vm, -3);
        }
        uint32_t code = VmPCall(vm, 3, 0, 0);
        VmSetTop(vm, 0);
        return code;
    }
    VmState* vm = nullptr;
};

class GraphicsFixture : public VmFixture {
protected:
    void SetUp() override
    {
        VmFixture::SetUp();
        Register(RegisterGraphicsLibrary);
        display = MakeTestDisplay(vm, 1, kWidth, kHeight);
        ASSERT_NE(display, nullptr);
        CurrentDisplay = display;
    }
    void TearDown() override
    {
        FreeAllDisplays(vm);
        FreeGraphicsResources(vm);
        VmFixture::TearDown();
    }
    static constexpr int32_t kWidth = 64, kHeight = 48;
    Display* display = nullptr;
};
