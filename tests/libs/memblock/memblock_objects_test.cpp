// Blocks as objects: ids and handles, replacing and freeing, blocks over
// foreign memory and over virtual files, the clean-up at exit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/virtual_files.h"
#include "core/io/virtual_names.h"
#include "memblock_fixture.h"
#include "platform/posix/os_memory.h"

using namespace testcalls;

namespace {

TEST_F(MemBlockTest, BlocksAreFoundByIdOrByTheirHandle)
{
    ASSERT_EQ(Call("allocmem", {5.0, 64.0}), 0u);
    Value handle = One("allocmem", {Nil{}, 32.0});
    ASSERT_TRUE(std::holds_alternative<Pointer>(handle));
    EXPECT_EQ(CountObjectsOfType(OBJ_MEMORY), 2u);

    ASSERT_EQ(Call("poke", {handle, 28.0, 7.0}), 0u);
    EXPECT_EQ(Number("peek", {handle, 28.0}), 7);
    EXPECT_EQ(Call("peek", {handle, 29.0}), ERR_MEMRANGE);

    // A fresh block reads as zeros, never as what the heap held before.
    EXPECT_EQ(Number("peek", {5.0, 60.0}), 0);

    MemBlock* b = Block(5);
    EXPECT_EQ(One("getmempointer", {5.0}), Value(Pointer{b->data}));
    EXPECT_EQ(One("getmempointer", {5.0, 63.0}), Value(Pointer{b->data + 63}));
    EXPECT_EQ(Call("getmempointer", {5.0, 64.0}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("getmempointer", {5.0, -1.0}), ERR_WRONGUSAGE);

    ASSERT_EQ(Call("freemem", {handle}), 0u);
    EXPECT_EQ(Call("freemem", {handle}), ERR_FINDARRAY);
    ASSERT_EQ(Call("freemem", {5.0}), 0u);
    EXPECT_EQ(Call("freemem", {5.0}), ERR_FINDMEMBLK);
    EXPECT_EQ(errorArgNumber, 5);
    EXPECT_EQ(CountObjectsOfType(OBJ_MEMORY), 0u);
}

TEST_F(MemBlockTest, AllocatingUnderAnIdInUseReplacesTheBlockUnlessTheSizeIsImpossible)
{
    ASSERT_EQ(Call("allocmem", {1.0, 8.0}), 0u);
    ASSERT_EQ(Call("poke", {1.0, 0.0, 99.0}), 0u);
    ASSERT_EQ(Call("allocmem", {1.0, 4.0}), 0u);
    EXPECT_EQ(CountObjectsOfType(OBJ_MEMORY), 1u);
    EXPECT_EQ(Block(1)->size, 4u);
    EXPECT_EQ(Number("peek", {1.0, 0.0}), 0);
    EXPECT_EQ(Call("peek", {1.0, 4.0, 7.0}), ERR_MEMRANGE);

    for (double size : {0.0, -1.0, 4294967296.0, 1e300, double(NAN)})
        EXPECT_EQ(Call("allocmem", {1.0, size}), ERR_MEM) << size;
    ASSERT_EQ(Call("allocmem", {1.0, 16.0}), 0u);
    // A failed allocation leaves the block under that id in place.
    EXPECT_EQ(Call("allocmem", {1.0, 0.0}), ERR_MEM);
    EXPECT_EQ(Block(1)->size, 16u);
    EXPECT_EQ(Call("allocmem", {std::string("x"), 16.0}), ERR_NUMEXPECTED);
}

TEST_F(MemBlockTest, BlocksOverForeignMemoryAreNeverFreedAndUncheckedWithoutSize)
{
    static uint8_t foreign[32];
    std::memset(foreign, 0, sizeof foreign);
    ASSERT_EQ(Call("allocmemfrompointer", {1.0, Pointer{foreign}, 8.0}), 0u);
    ASSERT_EQ(Call("poke", {1.0, 4.0, double(0xDEADBEEF)}), 0u);
    EXPECT_EQ(foreign[4], 0xDE);
    EXPECT_EQ(Call("poke", {1.0, 5.0, 1.0}), ERR_MEMRANGE);

    // Size 0: unknown, so nothing is range-checked.
    Value h = One("allocmemfrompointer", {Nil{}, Pointer{foreign}, 0.0});
    ASSERT_EQ(Call("poke", {h, 28.0, double(0x01020304)}), 0u);
    EXPECT_EQ(foreign[31], 4);
    EXPECT_EQ(Number("peek", {h, 30.0, 6.0}), 0x0304);
    EXPECT_EQ(Call("peek", {h, -1.0}), ERR_MEMRANGE);
    EXPECT_EQ(Call("dumpmem", {h}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("memtotable", {h, 7.0}), ERR_WRONGUSAGE);
    EXPECT_EQ(One("memtotable", {h, 7.0, Options{{{"items", 2}, {"offset", 30}}}}), Value(Array{{3, 4}}));
    // The one command that always stops at the block's end.
    EXPECT_EQ(Call("tabletomem", {Array{{1}}, h, 7.0}), ERR_MEMRANGE);
    EXPECT_EQ(foreign[0], 0);

    ASSERT_EQ(Call("freemem", {1.0}), 0u);
    ASSERT_EQ(Call("freemem", {h}), 0u);  // ASan would object to freeing foreign memory
    EXPECT_EQ(foreign[4], 0xDE);

    EXPECT_EQ(Call("allocmemfrompointer", {1.0, 5.0, 8.0}), ERR_WRONGUSAGE);
    VmPushString(vm, "allocmemfrompointer");
    VmGetTable(vm, VM_GLOBALSINDEX);
    VmPushNumber(vm, 1);
    VmNewUserdata(vm, 16);
    VmPushNumber(vm, 16);
    EXPECT_EQ(VmPCall(vm, 3, 0, 0), ERR_WRONGUSAGE);  // collector-owned memory
    EXPECT_EQ(Call("allocmemfrompointer", {1.0, Pointer{nullptr}, 8.0}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("allocmemfrompointer", {1.0, Pointer{foreign}, -1.0}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("allocmemfrompointer", {1.0, Pointer{foreign}, 5e9}), ERR_WRONGUSAGE);
}

// A block made over another block's address borrows its bytes: they
// outlive the lender's FreeMem, and the borrower never reaches past them.
TEST_F(MemBlockTest, BlocksOverAnotherBlocksBytesKeepThemAlive)
{
    ASSERT_EQ(Call("allocmem", {1.0, 64.0}), 0u);
    ASSERT_EQ(Call("fillmem", {1.0, double(0x5A), 64.0}), 0u);
    Value middle = One("getmempointer", {1.0, 16.0});
    ASSERT_EQ(Call("allocmemfrompointer", {2.0, middle, 8.0}), 0u);
    // Size 0 is the rest of the lender's bytes, which are known.
    Value rest = One("allocmemfrompointer", {Nil{}, middle, 0.0});
    EXPECT_EQ(Number("peek", {rest, 47.0, kByte}), 0x5A);
    EXPECT_EQ(Call("allocmemfrompointer", {3.0, middle, 49.0}), ERR_MEMRANGE);
    EXPECT_EQ(Call("poke", {rest, 48.0, 1.0, kByte}), ERR_MEMRANGE);

    // Freed by the script; a new block of the same size takes the heap's
    // freed chunk if there is one, and must not show through.
    ASSERT_EQ(Call("freemem", {1.0}), 0u);
    EXPECT_EQ(Call("peek", {1.0, 0.0}), ERR_FINDMEMBLK);
    ASSERT_EQ(Call("allocmem", {4.0, 64.0}), 0u);
    ASSERT_EQ(Call("fillmem", {4.0, double(0xEE), 64.0}), 0u);
    EXPECT_EQ(Number("peek", {2.0, 0.0, kByte}), 0x5A);
    ASSERT_EQ(Call("poke", {2.0, 4.0, double(0x11223344)}), 0u);
    EXPECT_EQ(Number("peek", {rest, 4.0}), double(0x11223344));

    // A borrower of a freed lender borrows it too; the bytes go with the
    // last borrower (ASan checks both frees and the reads in between).
    Value again = One("getmempointer", {2.0, 0.0});
    ASSERT_EQ(Call("allocmemfrompointer", {5.0, again, 4.0}), 0u);
    ASSERT_EQ(Call("freemem", {2.0}), 0u);
    ASSERT_EQ(Call("freemem", {rest}), 0u);
    EXPECT_EQ(Number("peek", {5.0, 0.0, kByte}), 0x5A);
    // Replacing its own lender keeps the bytes too.
    ASSERT_EQ(Call("allocmem", {6.0, 8.0}), 0u);
    ASSERT_EQ(Call("poke", {6.0, 0.0, 7.0, kByte}), 0u);
    ASSERT_EQ(Call("allocmemfrompointer", {6.0, One("getmempointer", {6.0}), 0.0}), 0u);
    EXPECT_EQ(Number("peek", {6.0, 0.0, kByte}), 7.0);
    EXPECT_EQ(Call("peek", {6.0, 8.0, kByte}), ERR_MEMRANGE);
}

TEST_F(MemBlockTest, OnlyNonEmptyVirtualStringFilesLendTheirBytes)
{
    const uint8_t bytes[] = {10, 20, 30, 40, 50};
    VirtualStringFile* file = NewVirtualStringFile("v.bin", bytes, sizeof bytes, true);
    ASSERT_NE(file, nullptr);
    file->anchorRef = 77;
    char name[128];
    ASSERT_TRUE(MakeChunkName("v.bin", name, sizeof name, CHUNK_STRING_OFFSET, 0, 77, "unused"));

    // Only string files are borrowed; a writable one is checked beside the
    // dos library.
    char region[128];
    ASSERT_TRUE(MakeChunkName("r.bin", region, sizeof region, 0, 16, 0, "/tmp/container"));
    MemoryName memory;
    ASSERT_TRUE(MakeMemoryName(bytes, sizeof bytes, &memory));
    for (std::string bad : {std::string(region), std::string(memory.c_str()), std::string("plain.txt"),
                            std::string(":::chunkS78:0*v.bin?unused")})
        EXPECT_EQ(Call("allocmemfromvirtualfile", {1.0, bad}), ERR_WRONGUSAGE) << bad;

    // An empty file would give a block of unknown size, unchecked.
    file->size = 0;
    EXPECT_EQ(Call("allocmemfromvirtualfile", {1.0, std::string(name)}), ERR_WRONGUSAGE);
    FreeVirtualStringFile(file);
}

TEST_F(MemBlockTest, FreeAllMemBlocksEmptiesTheListAndFreesObjectData)
{
    ASSERT_EQ(Call("allocmem", {1.0, 8.0}), 0u);
    ASSERT_EQ(Call("allocmem", {Nil{}, 8.0}, nullptr), 0u);
    static uint8_t foreign[4];
    ASSERT_EQ(Call("allocmemfrompointer", {2.0, Pointer{foreign}, 4.0}), 0u);
    // Object data holds a registry reference that must be given back.
    auto* entry = static_cast<ObjectDataEntry*>(OsAllocMem(sizeof(ObjectDataEntry) + 2, 1));
    ASSERT_NE(entry, nullptr);
    char* key = reinterpret_cast<char*>(entry + 1);
    key[0] = 'k';
    entry->key = key;
    VmPushString(vm, "value");
    entry->ref = VmRefValue(vm, VM_REGISTRYINDEX);
    Block(2)->header.dataList = entry;
    int32_t ref = entry->ref;
    FreeAllMemBlocks(vm);
    EXPECT_EQ(MemBlockList, nullptr);
    EXPECT_EQ(CountObjectsOfType(OBJ_MEMORY), 0u);
    EXPECT_EQ(Call("peek", {1.0, 0.0}), ERR_FINDMEMBLK);
    // The released reference is the next one handed out.
    VmPushString(vm, "again");
    EXPECT_EQ(VmRefValue(vm, VM_REGISTRYINDEX), ref);
}

}  // namespace
