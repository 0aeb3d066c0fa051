// Memory blocks as objects: the block list, finding and freeing blocks, the
// commands that make and free them or hand out their address, and the
// library's registration.
#include "libs/memblock/memblock_library.h"

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/number_conv.h"
#include "core/io/virtual_files.h"
#include "core/io/virtual_names.h"
#include "core/services/arg_helpers.h"
#include "core/services/check_args.h"
#include "core/services/command_services.h"
#include "libs/memblock/memblock_elements.h"
#include "platform/posix/os_memory.h"

MemBlock* MemBlockList = nullptr;

namespace {

void UnlinkBlock(MemBlock* block)
{
    ObjectHeader** link = reinterpret_cast<ObjectHeader**>(&MemBlockList);
    while (*link && *link != &block->header)
        link = &(*link)->next;
    if (*link)
        *link = block->header.next;
}

// Blocks freed by the script while others still borrow their bytes.
MemBlock* FreedLenders = nullptr;

void ReleaseLender(MemBlock* lender);

void FreeStorage(MemBlock* block)
{
    if (!block->notOwned)
        OsFreeMem(block->data);
    if (block->file)
        ReleaseVirtualStringFile(block->file);
    if (block->lender)
        ReleaseLender(block->lender);
    OsFreeMem(block);
}

void ReleaseLender(MemBlock* lender)
{
    if (--lender->borrowers || !lender->freed)
        return;
    ObjectHeader** link = reinterpret_cast<ObjectHeader**>(&FreedLenders);
    while (*link && *link != &lender->header)
        link = &(*link)->next;
    if (*link)
        *link = lender->header.next;
    FreeStorage(lender);
}

// The script is done with the block (it is already unlinked); its bytes
// stay while other blocks borrow them.
void FreeBlock(VmState* vm, MemBlock* block)
{
    if (vm)
        FreeObjectDataList(vm, &block->header.dataList);
    if (block->borrowers) {
        block->freed = 1;
        block->header.next = reinterpret_cast<ObjectHeader*>(FreedLenders);
        FreedLenders = block;
        return;
    }
    FreeStorage(block);
}

// Points the block at its virtual file's bytes, which move when a writable
// file grows. ERR_MEMRANGE when the file no longer reaches the block (a
// size of 0 would mean "unknown" and turn the range checks off).
uint32_t FollowFile(MemBlock* block)
{
    VirtualStringFile* file = block->file;
    if (!file->data || file->size <= block->fileOffset)
        return ERR_MEMRANGE;
    uint64_t size = file->size - block->fileOffset;
    if (block->fileLength) {
        if (size < block->fileLength)
            return ERR_MEMRANGE;
        size = block->fileLength;
    }
    if (size > UINT32_MAX)
        return ERR_MEMRANGE;
    block->data = file->data + block->fileOffset;
    block->size = static_cast<uint32_t>(size);
    return 0;
}

// Where a block over foreign memory gets its bytes from when the address
// lies inside bytes that this library lends: an allocated block's or a
// virtual file's.
struct BorrowedBytes {
    MemBlock* lender = nullptr;
    VirtualStringFile* file = nullptr;
    uint64_t fileOffset = 0;
    uint64_t available = 0;  // bytes from the address to the end of the lent bytes
    bool readOnly = false;
};

bool LendsAddress(MemBlock* block, const uint8_t* address, BorrowedBytes* out)
{
    if (block->file) {
        if (FollowFile(block))
            return false;
    } else if (block->notOwned) {
        return false;
    }
    if (address < block->data || address >= block->data + block->size)
        return false;
    auto offset = static_cast<uint64_t>(address - block->data);
    if (block->file) {
        out->file = block->file;
        out->fileOffset = block->fileOffset + offset;
    } else {
        out->lender = block;
    }
    out->available = block->size - offset;
    out->readOnly = block->readOnly != 0;
    return true;
}

bool FindLentBytes(const uint8_t* address, BorrowedBytes* out)
{
    for (MemBlock* list : {MemBlockList, FreedLenders})
        for (MemBlock* b = list; b; b = reinterpret_cast<MemBlock*>(b->header.next))
            if (LendsAddress(b, address, out))
                return true;
    return false;
}

// The id argument of the commands that make blocks: Nil asks for a handle.
struct NewBlockId {
    ObjectId id;
    bool useHandle;
};

NewBlockId ReadNewBlockId(VmState* vm, int index)
{
    if (VmType(vm, index) == VM_TNIL)
        return {ObjectId{}, true};
    return {GetObjectIdArg(vm, index), false};
}

// Files the block under its id, taking the place of a block with the same
// id, and pushes the handle when one was asked for. The old block goes only
// once the new one exists, so a failed allocation leaves it in place; the
// new block takes what it borrows first, so replacing its own lender keeps
// the bytes.
uint32_t AddBlock(VmState* vm, NewBlockId id, uint8_t* data, uint32_t size, bool notOwned,
                  const BorrowedBytes* borrowed = nullptr)
{
    auto* block = static_cast<MemBlock*>(OsAllocMem(sizeof(MemBlock), 1));
    if (!block) {
        if (!notOwned)
            OsFreeMem(data);
        return ERR_MEM;
    }
    if (borrowed && borrowed->file) {
        RetainVirtualStringFile(borrowed->file);
        block->file = borrowed->file;
        block->fileOffset = borrowed->fileOffset;
        block->fileLength = size;
        block->readOnly = borrowed->readOnly || !borrowed->file->writable ? 1 : 0;
    } else if (borrowed && borrowed->lender) {
        block->lender = borrowed->lender;
        ++block->lender->borrowers;
        block->readOnly = borrowed->readOnly ? 1 : 0;
    }
    if (!id.useHandle) {
        if (auto* old = reinterpret_cast<MemBlock*>(FindObjectOfType(OBJ_MEMORY, id.id))) {
            UnlinkBlock(old);
            FreeBlock(vm, old);
        }
    }
    block->header.type = OBJ_MEMORY;
    block->header.id = id.id.id;
    block->header.handle = id.useHandle ? reinterpret_cast<uintptr_t>(block) : id.id.handle;
    block->size = size;
    block->data = data;
    block->notOwned = notOwned ? 1 : 0;
    if (block->file)
        FollowFile(block);
    ObjectHeader** link = reinterpret_cast<ObjectHeader**>(&MemBlockList);
    while (*link)
        link = &(*link)->next;
    *link = &block->header;
    if (!id.useHandle)
        return 0;
    VmPushLightUserdata(vm, block);
    return 1;
}

uint32_t CmdAllocMem(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    NewBlockId id = ReadNewBlockId(vm, 1);
    int64_t size = DoubleToInt64(VmCheckNumber(vm, 2));
    if (size < 1 || size > UINT32_MAX)
        return ERR_MEM;
    // Zero-filled: a script must never read what an earlier owner left there.
    auto* data = static_cast<uint8_t*>(OsAllocMem(static_cast<size_t>(size), 1));
    if (!data)
        return ERR_MEM;
    return AddBlock(vm, id, data, static_cast<uint32_t>(size), false);
}

uint32_t CmdFreeMem(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    return RemoveMemBlock(vm, GetObjectIdArg(vm, 1));
}

uint32_t CmdGetMemPointer(VmState* vm)
{
    CheckArgs(vm, 1, 2, 0, 0);
    MemBlock* block;
    if (uint32_t code = FindMemBlock(GetObjectIdArg(vm, 1), &block))
        return code;
    int64_t offset = VmType(vm, 2) == VM_TNONE ? 0 : DoubleToInt64(VmCheckNumber(vm, 2));
    if (offset < 0 || (block->size != 0 && offset >= block->size))
        return ERR_WRONGUSAGE;
    VmPushLightUserdata(vm, block->data + offset);
    return 1;
}

uint32_t CmdAllocMemFromPointer(VmState* vm)
{
    CheckArgs(vm, 3, 3, 0, 0);
    NewBlockId id = ReadNewBlockId(vm, 1);
    // Only a plain address: a full userdata's memory belongs to the collector,
    // which may free it while the block still points there.
    if (VmType(vm, 2) != VM_TLIGHTUSERDATA)
        return ERR_WRONGUSAGE;
    auto* data = static_cast<uint8_t*>(VmGetUserdata(vm, 2));
    int64_t size = DoubleToInt64(VmCheckNumber(vm, 3));
    if (!data || size < 0 || size > UINT32_MAX)
        return ERR_WRONGUSAGE;
    // Bytes of a block or a virtual file are borrowed, not taken: their size
    // is known (so 0 means the rest of them), and a block never reaches past
    // them.
    BorrowedBytes borrowed;
    if (!FindLentBytes(data, &borrowed))
        return AddBlock(vm, id, data, static_cast<uint32_t>(size), true);
    if (static_cast<uint64_t>(size) > borrowed.available)
        return ERR_MEMRANGE;
    if (size == 0)
        size = static_cast<int64_t>(borrowed.available);
    return AddBlock(vm, id, data, static_cast<uint32_t>(size), true, &borrowed);
}

// Only a virtual string file (the ":::chunkS" form) lives in memory; a
// region of a file on disk has no address to lend. An empty file is refused
// too: its block would have size 0, which means "unknown" and would turn
// the range checks off.
uint32_t CmdAllocMemFromVirtualFile(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    NewBlockId id = ReadNewBlockId(vm, 1);
    const char* name = VmCheckString(vm, 2, nullptr);
    ChunkNameParts parts;
    if (!IsChunkName(name) || !ParseChunkName(name, &parts) || !parts.isString || !parts.object)
        return ERR_WRONGUSAGE;
    VirtualStringFile* file = parts.object;
    if (!file->data || file->size == 0 || file->size > UINT32_MAX)
        return ERR_WRONGUSAGE;
    BorrowedBytes whole;
    whole.file = file;
    whole.readOnly = !file->writable;
    return AddBlock(vm, id, file->data, 0, true, &whole);
}

}  // namespace

uint32_t FindMemBlock(ObjectId id, MemBlock** out)
{
    *out = reinterpret_cast<MemBlock*>(FindObjectOfType(OBJ_MEMORY, id));
    if (MemBlock* block = *out) {
        return block->file ? FollowFile(block) : 0;
    }
    if (id.handle)
        return ERR_FINDARRAY;
    SetErrorArgNumber(static_cast<int32_t>(id.id));
    return ERR_FINDMEMBLK;
}

uint32_t FindWritableMemBlock(ObjectId id, MemBlock** out)
{
    if (uint32_t code = FindMemBlock(id, out))
        return code;
    return (*out)->readOnly ? uint32_t{ERR_READONLY} : 0u;
}

uint32_t RemoveMemBlock(VmState* vm, ObjectId id)
{
    MemBlock* block;
    if (uint32_t code = FindMemBlock(id, &block))
        return code;
    UnlinkBlock(block);
    FreeBlock(vm, block);
    return 0;
}

void FreeAllMemBlocks(VmState* vm)
{
    while (MemBlock* block = MemBlockList) {
        MemBlockList = reinterpret_cast<MemBlock*>(block->header.next);
        FreeBlock(vm, block);
    }
}

const CommandTableEntry kMemBlockCommands[] = {
    {"AllocMem", CmdAllocMem},
    {"FreeMem", CmdFreeMem},
    {"Poke", CmdPoke},
    {"Peek", CmdPeek},
    {"FillMem", CmdFillMem},
    {"CopyMem", CmdCopyMem},
    {"ReadMem", CmdReadMem},
    {"WriteMem", CmdWriteMem},
    {"DumpMem", CmdDumpMem},
    {"MemToTable", CmdMemToTable},
    {"TableToMem", CmdTableToMem},
    {"GetMemPointer", CmdGetMemPointer},
    {"AllocMemFromPointer", CmdAllocMemFromPointer},
    {"AllocMemFromVirtualFile", CmdAllocMemFromVirtualFile},
    {nullptr, nullptr},
};

uint32_t RegisterMemBlockLibrary(VmState* vm)
{
    VmPushValue(vm, VM_GLOBALSINDEX);
    VmRegisterLibrary(vm, nullptr, kMemBlockCommands, 0);
    if (uint32_t code = RegisterLibrary(kMemBlockCommands, "memblock"))
        return code;
    return RegisterObjectList(&MemBlockList);
}
