// A VM with the "dos" library registered, a scratch folder, and a way to
// call commands as scripts do and read their results.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <string>
#include <variant>
#include <vector>

#include "core/command_services.h"
#include "core/vm/vm.h"
#include "libs/dos/dos_library.h"
#include "support/temp_dir.h"

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

class DosTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        vm = VmOpenState();
        ASSERT_NE(vm, nullptr);
        ASSERT_EQ(RegisterDosLibrary(vm), 0u);
        SetTags(nullptr, {{TAG_QUIET, 1}});
    }
    void TearDown() override
    {
        CleanupDosLibrary(vm);
        SetTags(nullptr, {{TAG_QUIET, 0}});
        VmCloseState(vm);
    }

    static Value Read(VmState* vm, int i)
    {
        int t = VmType(vm, i);
        if (t == VM_TNUMBER)
            return VmGetNumber(vm, i);
        if (t == VM_TSTRING)
            return std::string(VmGetString(vm, i), VmGetStringLength(vm, i));
        return Nil{};
    }

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

    // Field of the table at slot.
    Value Field(int slot, const char* key)
    {
        VmPushString(vm, key);
        VmRawGet(vm, slot);
        Value v = Read(vm, -1);
        VmPop(vm, 1);
        return v;
    }

    std::string Path(const std::string& name) const { return dir.file(name); }

    VmState* vm = nullptr;
    TempDir dir;
};

inline std::string BytesToString(const std::vector<uint8_t>& b) { return std::string(b.begin(), b.end()); }
inline std::vector<uint8_t> StringToBytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

// Runs a shell command line; true when it exited with status 0.
inline bool RunShell(const std::string& line) { return std::system(line.c_str()) == 0; }
inline bool HavePython()
{
    static const bool have = RunShell("python3 -c 'import zlib, base64' >/dev/null 2>&1");
    return have;
}
