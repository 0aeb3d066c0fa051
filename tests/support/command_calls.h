// Calling a registered global command the way a script does, through the
// VM's protected call, with plain C++ values for arguments and results.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "core/vm/vm.h"

namespace testcalls {

struct Nil {
    bool operator==(const Nil&) const { return true; }
};
// A light userdata travels as its address.
struct Pointer {
    void* p;
    bool operator==(const Pointer&) const = default;
};
// A table argument or result: its elements at 0, 1, ... (numbers only).
struct Array {
    std::vector<double> items;
    bool operator==(const Array&) const = default;
};
// A table of named numeric fields (options).
struct Options {
    std::vector<std::pair<std::string, double>> fields;
    bool operator==(const Options&) const = default;
};
using Value = std::variant<Nil, double, std::string, Pointer, Array, Options>;

inline void PushValue(VmState* vm, const Value& v)
{
    if (auto* d = std::get_if<double>(&v)) {
        VmPushNumber(vm, *d);
    } else if (auto* s = std::get_if<std::string>(&v)) {
        VmPushLString(vm, s->data(), s->size());
    } else if (auto* p = std::get_if<Pointer>(&v)) {
        VmPushLightUserdata(vm, p->p);
    } else if (auto* a = std::get_if<Array>(&v)) {
        VmNewTable(vm);
        for (size_t i = 0; i < a->items.size(); ++i) {
            VmPushNumber(vm, a->items[i]);
            VmRawSetI(vm, -2, static_cast<int>(i));
        }
    } else if (auto* o = std::get_if<Options>(&v)) {
        VmNewTable(vm);
        for (const auto& [key, number] : o->fields) {
            VmPushLString(vm, key.data(), key.size());
            VmPushNumber(vm, number);
            VmSetTable(vm, -3);
        }
    } else {
        VmPushNil(vm);
    }
}

// A table comes back as the numbers at 0, 1, ... up to the first nil.
inline Value ReadValue(VmState* vm, int index)
{
    switch (VmType(vm, index)) {
    case VM_TNUMBER: return VmGetNumber(vm, index);
    case VM_TSTRING: return std::string(VmGetString(vm, index), VmGetStringLength(vm, index));
    case VM_TLIGHTUSERDATA: return Pointer{VmGetUserdata(vm, index)};
    case VM_TTABLE: {
        Array a;
        for (int i = 0;; ++i) {
            VmRawGetI(vm, index, i);
            bool end = VmType(vm, -1) != VM_TNUMBER;
            if (!end)
                a.items.push_back(VmGetNumber(vm, -1));
            VmPop(vm, 1);
            if (end)
                break;
        }
        return a;
    }
    default: return Nil{};
    }
}

// Calls the global `name`; answers the error code (0 on success) and the
// results.
inline uint32_t CallGlobal(VmState* vm, const char* name, const std::vector<Value>& args,
                           std::vector<Value>* results = nullptr)
{
    VmSetTop(vm, 0);
    VmPushString(vm, name);
    VmGetTable(vm, VM_GLOBALSINDEX);
    for (const Value& a : args)
        PushValue(vm, a);
    uint32_t code = VmPCall(vm, static_cast<int>(args.size()), VM_MULTRET, 0);
    if (results) {
        results->clear();
        if (code == 0)
            for (int i = 1; i <= VmGetTop(vm); ++i)
                results->push_back(ReadValue(vm, i));
    }
    VmSetTop(vm, 0);
    return code;
}

}  // namespace testcalls
