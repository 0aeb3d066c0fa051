// Memory blocks as objects: the block list, finding and freeing blocks, the
// commands that make and free them or hand out their address, and the
// library's registration.
#include "libs/memblock/memblock_library.h"

#include "core/services/arg_helpers.h"
#include "core/services/check_args.h"
#include "core/services/command_services.h"
#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/number_conv.h"
#include "core/io/virtual_files.h"
#include "core/io/virtual_names.h"
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

void FreeBlock(VmState* vm, MemBlock* block)
{
    if (!block->notOwned)
        OsFreeMem(block->data);
    if (block->file)
        ReleaseVirtualStringFile(block->file);
    if (vm)
        FreeObjectDataList(vm, &block->header.dataList);
    OsFreeMem(block);
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
// once the new one exists, so a failed allocation leaves it in place.
uint32_t AddBlock(VmState* vm, NewBlockId id, uint8_t* data, uint32_t size, bool notOwned,
                  VirtualStringFile* file = nullptr)
{
    auto* block = static_cast<MemBlock*>(OsAllocMem(sizeof(MemBlock), 1));
    if (!block) {
        if (!notOwned)
            OsFreeMem(data);
        return ERR_MEM;
    }
    if (file) {
        RetainVirtualStringFile(file);
        block->file = file;
        block->readOnly = file->writable ? 0 : 1;
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
    return AddBlock(vm, id, data, static_cast<uint32_t>(size), true);
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
    return AddBlock(vm, id, file->data, static_cast<uint32_t>(file->size), true, file);
}

}  // namespace

uint32_t FindMemBlock(ObjectId id, MemBlock** out)
{
    *out = reinterpret_cast<MemBlock*>(FindObjectOfType(OBJ_MEMORY, id));
    if (MemBlock* block = *out) {
        // A writable virtual file moves its bytes when it grows: the block
        // follows them. An emptied file leaves nothing to reach (a size of
        // 0 would mean "unknown" and turn the range checks off).
        if (VirtualStringFile* file = block->file) {
            if (!file->data || file->size == 0 || file->size > UINT32_MAX)
                return ERR_MEMRANGE;
            block->data = file->data;
            block->size = static_cast<uint32_t>(file->size);
        }
        return 0;
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
