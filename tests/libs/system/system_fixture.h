// A VM with the "system" library registered and a clock the test drives.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "libs/library_fixture.h"
#include "libs/system/system_library.h"

using namespace slotcalls;

// The test's clock: `nowMs` is the monotonic time, `wallSeconds` the date;
// a sleep moves the monotonic time on and is recorded.
struct FakeClock {
    static inline uint64_t nowMs = 0;
    static inline uint64_t wallSeconds = 0;
    static inline std::vector<uint32_t> sleeps;
    static inline uint32_t sleepResult = 0;
    static void Now(OsTimeValue* out)
    {
        out->seconds = static_cast<uint32_t>(nowMs / 1000);
        out->microseconds = static_cast<uint32_t>(nowMs % 1000 * 1000);
    }
    static void Wall(OsTimeValue* out)
    {
        out->seconds = static_cast<uint32_t>(wallSeconds);
        out->microseconds = 0;
    }
    static uint32_t Sleep(uint32_t ms)
    {
        sleeps.push_back(ms);
        nowMs += ms;
        return sleepResult;
    }
};

class SystemLibraryTest : public LibraryTest {
protected:
    void SetUp() override
    {
        OpenVm(RegisterSystemLibrary);
        savedClock = SystemState.clock;
        SystemState.clock = {FakeClock::Now, FakeClock::Wall, FakeClock::Sleep};
        FakeClock::nowMs = 1000000;
        FakeClock::sleeps.clear();
        FakeClock::sleepResult = 0;
    }
    void TearDown() override
    {
        CleanupSystemLibrary(vm);
        SystemState.clock = savedClock;
        SystemState.lastFileFolder.clear();
        SystemState.lastFile.clear();
        SystemState.lastPath.clear();
        VmCloseState(vm);
    }

    // Pushes an array of values at 0, 1, ...; answers its stack slot.
    int PushArray(const std::vector<Value>& items)
    {
        VmNewTable(vm);
        for (size_t i = 0; i < items.size(); ++i) {
            Push(items[i]);
            VmRawSetI(vm, -2, static_cast<int>(i));
        }
        return VmGetTop(vm);
    }

    // Hands the commands a run record under `name` in the registry.
    void SetRecord(const char* name, void* record)
    {
        VmPushString(vm, name);
        VmPushLightUserdata(vm, record);
        VmRawSet(vm, VM_REGISTRYINDEX);
    }

    std::vector<Value> ReadArray(int slot, int n)
    {
        std::vector<Value> out;
        for (int i = 0; i < n; ++i) {
            VmRawGetI(vm, slot, i);
            out.push_back(Read(vm, -1));
            VmPop(vm, 1);
        }
        return out;
    }

    SystemClock savedClock{};
};
