// The fixture of the graphics library's tests: a VM with the library
// registered, an open display 1 as the current display, and script calls
// of the library's commands. Tests add their own commands and objects in
// their SetUp and free what they own before the base TearDown.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "core/command_services.h"
#include "core/vm/library_glue.h"
#include "core/vm/vm.h"
#include "display/display.h"
#include "display/display_library.h"
#include "gfx/graphics_library.h"
#include "platform/posix/os_runloop.h"
#include "support/command_calls.h"
#include "support/test_displays.h"

class GraphicsFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(OsInit(), 0u);
        vm = VmOpenState();
        ASSERT_NE(vm, nullptr);
        VmPushValue(vm, VM_GLOBALSINDEX);
        ASSERT_EQ(RegisterGraphicsLibrary(vm), 0u);
        VmSetTop(vm, 0);
        display = MakeTestDisplay(vm, 1, kWidth, kHeight);
        ASSERT_NE(display, nullptr);
        CurrentDisplay = display;
    }
    void TearDown() override
    {
        FreeAllDisplays(vm);
        FreeGraphicsResources(vm);
        FreeAllBrushes(vm);
        VmCloseState(vm);
        FreeCoreLists(nullptr);
        OsShutdown();
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
    static constexpr int32_t kWidth = 64, kHeight = 48;
    VmState* vm = nullptr;
    Display* display = nullptr;
};
