// A VM for one library's tests, and calls of its commands the way scripts
// make them: LibraryTest takes arguments from plain values or stack slots,
// CommandTest passes tables of numbers and pointers as values too.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <variant>
#include <vector>

#include "core/vm/vm.h"
#include "support/command_calls.h"

namespace slotcalls {

struct Nil {
    bool operator==(const Nil&) const { return true; }
};
// An argument taken from a stack slot (tables, functions, handles).
struct Slot {
    int index;
    bool operator==(const Slot& o) const { return index == o.index; }
};
using Value = std::variant<Nil, double, std::string, Slot>;

inline Value Str(const std::string& s) { return Value{s}; }
inline Value Num(double d) { return Value{d}; }

}  // namespace slotcalls

// The VM of one library's tests.
class VmTest : public ::testing::Test {
protected:
    // Opens the VM and registers the library (a failure fails the test).
    void OpenVm(uint32_t (*registerLibrary)(VmState*))
    {
        vm = VmOpenState();
        ASSERT_NE(vm, nullptr);
        ASSERT_EQ(registerLibrary(vm), 0u);
    }

    VmState* vm = nullptr;
};

class LibraryTest : public VmTest {
public:
    using Value = slotcalls::Value;
    using Nil = slotcalls::Nil;
    using Slot = slotcalls::Slot;

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
    void Push(const Value& v)
    {
        if (std::holds_alternative<double>(v))
            VmPushNumber(vm, std::get<double>(v));
        else if (std::holds_alternative<std::string>(v))
            VmPushLString(vm, std::get<std::string>(v).data(), std::get<std::string>(v).size());
        else if (std::holds_alternative<Slot>(v))
            VmPushValue(vm, std::get<Slot>(v).index);
        else
            VmPushNil(vm);
    }

    // Calls the global command with the values at the stack slots `slots`
    // first, then `args`; results stay on the stack above the returned base.
    uint32_t CallKeep(const char* name, const std::vector<Value>& args, int* outBase,
                      const std::vector<int>& slots = {})
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
            Push(a);
        uint32_t code = VmPCall(vm, static_cast<int>(slots.size() + args.size()), VM_MULTRET, 0);
        if (code)
            VmSetTop(vm, base);
        *outBase = base;
        return code;
    }

    // Calls and collects plain results; the stack is left as it was.
    uint32_t Call(const char* name, const std::vector<Value>& args, std::vector<Value>* results = nullptr,
                  const std::vector<int>& slots = {})
    {
        int base;
        uint32_t code = CallKeep(name, args, &base, slots);
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

    // A new empty table on top of the stack; answers its slot.
    int NewTable()
    {
        VmNewTable(vm);
        return VmGetTop(vm);
    }

    // Raw table[key] = value for the table at a slot (negative counts from
    // the top).
    void SetField(int table, const Value& key, const Value& value)
    {
        int slot = table < 0 ? VmGetTop(vm) + 1 + table : table;
        Push(key);
        Push(value);
        VmRawSet(vm, slot);
    }

    // Pushes a native function; answers its slot.
    int PushFunction(VmNativeFunction function)
    {
        VmPushNativeFunction(vm, function);
        return VmGetTop(vm);
    }

    // Pushes the raw table[key] of the table at a slot; answers its slot.
    int PushField(int table, const Value& key)
    {
        Push(key);
        VmRawGet(vm, table);
        return VmGetTop(vm);
    }

    // Field of the table at slot.
    Value Field(int slot, const char* key)
    {
        VmPushString(vm, key);
        VmRawGet(vm, slot);
        Value v = Read(vm, -1);
        VmPop(vm, 1);
        return v;
    }
};

class CommandTest : public VmTest {
protected:
    using Value = testcalls::Value;

    uint32_t Call(const char* name, const std::vector<Value>& args, std::vector<Value>* results = nullptr)
    {
        return testcalls::CallGlobal(vm, name, args, results);
    }

    Value One(const char* name, const std::vector<Value>& args)
    {
        std::vector<Value> r;
        EXPECT_EQ(Call(name, args, &r), 0u) << name;
        EXPECT_EQ(r.size(), 1u) << name;
        return r.empty() ? Value{} : r[0];
    }

    double Number(const char* name, const std::vector<Value>& args)
    {
        Value v = One(name, args);
        return std::holds_alternative<double>(v) ? std::get<double>(v) : -12345;
    }
};
