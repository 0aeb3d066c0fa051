// The allocator's blocks for pictures: every size the small, mapped-at-once
// and huge-page paths take is writable to its last byte, keeps what is
// written, and goes back through the one free and resize of the program.
#include "platform/posix/os_memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

const uintptr_t kHugePage = uintptr_t{2} << 20;

bool HoldsPattern(const uint8_t* block, size_t size)
{
    bool same = true;
    for (size_t i = 0; i < size; ++i) same = same && block[i] == static_cast<uint8_t>(i * 7 + 3);
    return same;
}

TEST(OsMemoryTest, FilledBlocksHoldEveryByteAndFreeAndResizeAsAnyOther)
{
    // Either side of the mapped-at-once and huge-page thresholds, and a
    // size that ends part-way into a page.
    for (size_t size : {size_t{1}, size_t{4096}, (size_t{256} << 10) - 1, size_t{256} << 10,
                        (size_t{2} << 20) - 16, size_t{2} << 20, (size_t{3} << 20) + 4097}) {
        SCOPED_TRACE(size);
        auto* block = static_cast<uint8_t*>(OsAllocFilledMem(size));
        ASSERT_NE(block, nullptr);
        // Only a block that starts on a huge page can have its first two
        // megabytes backed by one.
        if (size >= kHugePage) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % kHugePage, 0u);
        }
        for (size_t i = 0; i < size; ++i) block[i] = static_cast<uint8_t>(i * 7 + 3);
        EXPECT_TRUE(HoldsPattern(block, size));
        // Grown well past the huge-page size: the first bytes come along.
        size_t bigger = size + (size_t{5} << 20);
        auto* grown = static_cast<uint8_t*>(OsResizeMem(block, bigger));
        ASSERT_NE(grown, nullptr);
        EXPECT_TRUE(HoldsPattern(grown, size));
        grown[bigger - 1] = 1;
        OsFreeMem(grown);
    }
}

TEST(OsMemoryTest, LargeBlocksStartOnAHugePageAndZeroedOnesReadZero)
{
    // A block of a huge page or more that its caller fills starts on a huge
    // page; one asked zeroed reads zero throughout, wherever it lies.
    for (size_t size : {size_t{2} << 20, (size_t{9} << 20) + 5}) {
        SCOPED_TRACE(size);
        auto* block = static_cast<uint8_t*>(OsAllocMem(size, 0));
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % kHugePage, 0u);
        std::memset(block, 0xA5, size);
        auto* grown = static_cast<uint8_t*>(OsResizeMem(block, size * 2));
        ASSERT_NE(grown, nullptr);
        EXPECT_EQ(grown[size - 1], 0xA5);
        OsFreeMem(grown);
        auto* zeroed = static_cast<uint8_t*>(OsAllocMem(size, 1));
        ASSERT_NE(zeroed, nullptr);
        bool zero = true;
        for (size_t i = 0; i < size; i += 4093) zero = zero && zeroed[i] == 0;
        EXPECT_TRUE(zero && zeroed[size - 1] == 0);
        OsFreeMem(zeroed);
    }
}

}  // namespace
