// A VM with the memblock library open, and shortcuts for calling its
// commands and looking at a block's bytes.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/object_registry.h"
#include "core/vm/vm.h"
#include "libs/memblock/memblock_library.h"
#include "support/command_calls.h"

class MemBlockTest : public ::testing::Test {
protected:
    static constexpr double kInteger = 1, kString = 3, kShort = 6, kByte = 7, kFloat = 11, kDouble = 12;

    void SetUp() override
    {
        vm = VmOpenState();
        ASSERT_NE(vm, nullptr);
        ASSERT_EQ(RegisterMemBlockLibrary(vm), 0u);
    }
    void TearDown() override
    {
        FreeAllMemBlocks(vm);
        FreeObjectTypeRegistry();
        VmCloseState(vm);
    }

    uint32_t Call(const char* name, const std::vector<testcalls::Value>& args,
                  std::vector<testcalls::Value>* results = nullptr)
    {
        return testcalls::CallGlobal(vm, name, args, results);
    }

    testcalls::Value One(const char* name, const std::vector<testcalls::Value>& args)
    {
        std::vector<testcalls::Value> r;
        EXPECT_EQ(Call(name, args, &r), 0u) << name;
        EXPECT_EQ(r.size(), 1u) << name;
        return r.empty() ? testcalls::Value{} : r[0];
    }

    double Number(const char* name, const std::vector<testcalls::Value>& args)
    {
        testcalls::Value v = One(name, args);
        return std::holds_alternative<double>(v) ? std::get<double>(v) : -12345;
    }

    MemBlock* Block(double id)
    {
        MemBlock* block = nullptr;
        EXPECT_EQ(FindMemBlock(MakeObjectId(static_cast<uint32_t>(id)), &block), 0u);
        return block;
    }

    std::vector<uint8_t> Bytes(double id, size_t offset, size_t count)
    {
        MemBlock* b = Block(id);
        return b ? std::vector<uint8_t>(b->data + offset, b->data + offset + count) : std::vector<uint8_t>{};
    }

    VmState* vm = nullptr;
};
