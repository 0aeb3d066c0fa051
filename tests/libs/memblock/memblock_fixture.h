// A VM with the memblock library open, and shortcuts for calling its
// commands and looking at a block's bytes.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "core/services/object_registry.h"
#include "core/vm/vm.h"
#include "libs/library_fixture.h"
#include "libs/memblock/memblock_library.h"

class MemBlockTest : public CommandTest {
protected:
    static constexpr double kInteger = 1, kString = 3, kShort = 6, kByte = 7, kFloat = 11, kDouble = 12;

    void SetUp() override
    {
        OpenVm(RegisterMemBlockLibrary);
    }
    void TearDown() override
    {
        FreeAllMemBlocks(vm);
        FreeObjectTypeRegistry();
        VmCloseState(vm);
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
};
