// A VM with the "system" library registered, a clock the test drives, and
// a way to call commands as scripts do and read their results.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <variant>
#include <vector>

#include "core/vm/vm.h"
#include "libs/system/system_library.h"

struct Nil {
    bool operator==(const Nil&) const { return true; }
};
using Value = std::variant<Nil, double, std::string>;

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

class SystemLibraryTest : public ::testing::Test {
public:
    static Value Read(VmState* vm, int i)
    {
        int t = VmType(vm, i);
        if (t == VM_TNUMBER)
            return VmGetNumber(vm, i);
        if (t == VM_TSTRING)
            return std::string(VmGetString(vm, i), VmGetStringLength(vm, i));
        return Nil{};
    }

protected:
    void SetUp() override
    {
        vm = VmOpenState();
        ASSERT_NE(vm, nullptr);
        ASSERT_EQ(RegisterSystemLibrary(vm), 0u);
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

    static void Push(VmState* vm, const Value& v)
    {
        if (std::holds_alternative<double>(v))
            VmPushNumber(vm, std::get<double>(v));
        else if (std::holds_alternative<std::string>(v))
            VmPushLString(vm, std::get<std::string>(v).data(), std::get<std::string>(v).size());
        else
            VmPushNil(vm);
    }

    // Calls the global command `name` with the values at the stack slots
    // `slots` (1-based, as they stand before the call) followed by `args`;
    // the results stay on the stack above `base`, which is returned through
    // outBase.
    uint32_t CallWith(const char* name, const std::vector<int>& slots, const std::vector<Value>& args,
                      int* outBase = nullptr)
    {
        int base = VmGetTop(vm);
        std::string lower(name);
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        VmPushString(vm, lower.c_str());
        VmGetTable(vm, VM_GLOBALSINDEX);
        for (int s : slots)
            VmPushValue(vm, s);
        for (const Value& a : args)
            Push(vm, a);
        uint32_t code = VmPCall(vm, static_cast<int>(slots.size() + args.size()), VM_MULTRET, 0);
        if (code)
            VmSetTop(vm, base);
        if (outBase)
            *outBase = base;
        return code;
    }

    // Calls and collects plain results; the stack is left as it was.
    uint32_t Call(const char* name, const std::vector<Value>& args, std::vector<Value>* results = nullptr,
                  const std::vector<int>& slots = {})
    {
        int base;
        uint32_t code = CallWith(name, slots, args, &base);
        if (results) {
            results->clear();
            for (int i = base + 1; i <= VmGetTop(vm); ++i)
                results->push_back(Read(vm, i));
        }
        VmSetTop(vm, base);
        return code;
    }

    Value One(const char* name, const std::vector<Value>& args, const std::vector<int>& slots = {})
    {
        std::vector<Value> r;
        EXPECT_EQ(Call(name, args, &r, slots), 0u) << name;
        EXPECT_EQ(r.size(), 1u) << name;
        return r.empty() ? Value{Nil{}} : r[0];
    }

    // Pushes an array of values at 0, 1, ...; answers its stack slot.
    int PushArray(const std::vector<Value>& items)
    {
        VmNewTable(vm);
        for (size_t i = 0; i < items.size(); ++i) {
            Push(vm, items[i]);
            VmRawSetI(vm, -2, static_cast<int>(i));
        }
        return VmGetTop(vm);
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

    VmState* vm = nullptr;
    SystemClock savedClock{};
};
