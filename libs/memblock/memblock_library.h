// The "memblock" library: raw memory for scripts. A block is an object of
// the object registry (type 39), named by id or handle, over bytes that the
// library allocated or over foreign memory that it never frees. Every access
// is range-checked when the block's size is known; a block over foreign
// memory of unknown size (0) is the caller's responsibility. A block made
// over an address inside another block's bytes borrows them: it keeps an
// allocated block's bytes alive after that block is freed, follows a
// virtual file's bytes as they move, and is read-only over read-only bytes.
#pragma once

#include <cstdint>

#include "core/services/object_registry.h"
#include "core/vm/library_glue.h"
#include "core/vm/vm.h"

struct VirtualStringFile;

struct MemBlock {
    ObjectHeader header;
    uint32_t size;      // bytes; 0 = unknown
    uint8_t* data;
    uint32_t notOwned;  // 1: the data belongs to somebody else
    uint32_t readOnly;  // 1: the bytes are not the script's to change
    VirtualStringFile* file;  // the borrowed virtual file, or null
    uint64_t fileOffset;      // where in the file's bytes the block starts
    uint32_t fileLength;      // bytes of the file the block covers; 0: to its end
    MemBlock* lender;         // the block whose allocated bytes this one borrows, or null
    uint32_t borrowers;       // blocks borrowing this one's bytes
    uint32_t freed;           // freed by the script, kept for its borrowers
};

// The blocks, in creation order.
extern MemBlock* MemBlockList;

// Element types (the system library's type constants).
enum MemBlockType : int32_t {
    MEMTYPE_INTEGER = 1,
    MEMTYPE_STRING = 3,
    MEMTYPE_SHORT = 6,
    MEMTYPE_BYTE = 7,
    MEMTYPE_FLOAT = 11,
    MEMTYPE_DOUBLE = 12,
};

extern const CommandTableEntry kMemBlockCommands[];

// Registers the commands as global functions, records the library as
// "memblock" and registers the block list with the object registry.
// 0 or ERR_MEM.
uint32_t RegisterMemBlockLibrary(VmState* vm);

// Frees every block (its data unless not owned) and its object data.
void FreeAllMemBlocks(VmState* vm);

// 0, or ERR_FINDMEMBLK (the id as the message's number) for a number that
// names no block, ERR_FINDARRAY for a handle that names none.
uint32_t FindMemBlock(ObjectId id, MemBlock** out);

// FindMemBlock for a block that is about to be written: ERR_READONLY for a
// block over read-only bytes.
uint32_t FindWritableMemBlock(ObjectId id, MemBlock** out);

// Unlinks and frees the block; the same codes as FindMemBlock.
uint32_t RemoveMemBlock(VmState* vm, ObjectId id);
