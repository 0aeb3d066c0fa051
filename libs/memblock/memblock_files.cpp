// Moving bytes between blocks and the dos library's open files, through
// its reads and writes so that its I/O mode (buffered or not) applies.
#include "core/io/error_codes.h"
#include "core/io/number_conv.h"
#include "core/services/arg_helpers.h"
#include "core/services/check_args.h"
#include "libs/dos/dos_library.h"
#include "libs/memblock/memblock_elements.h"

namespace {

// The block, count and offset of a transfer at the given argument indices.
// A count below 1 leaves *outCount at 0: nothing moves.
uint32_t TransferArgs(VmState* vm, int blockIndex, bool intoBlock, uint8_t** outStart, size_t* outCount)
{
    MemBlock* block;
    ObjectId id = GetObjectIdArg(vm, blockIndex);
    if (uint32_t code = intoBlock ? FindWritableMemBlock(id, &block) : FindMemBlock(id, &block))
        return code;
    int64_t count = DoubleToInt64(VmCheckNumber(vm, 3));
    int64_t offset = VmType(vm, 4) == VM_TNONE ? 0 : DoubleToInt64(VmCheckNumber(vm, 4));
    if (offset < 0)
        return ERR_WRONGUSAGE;
    *outCount = 0;
    if (count < 1)
        return 0;
    if (!InRange(block, offset, count))
        return ERR_MEMRANGE;
    *outStart = block->data + offset;
    *outCount = static_cast<size_t>(count);
    return 0;
}

}  // namespace

uint32_t CmdReadMem(VmState* vm)
{
    CheckArgs(vm, 3, 4, 0, 0);
    DosFile* file;
    if (uint32_t code = DosFileForRead(vm, 1, &file))
        return code;
    uint8_t* start = nullptr;
    size_t count;
    if (uint32_t code = TransferArgs(vm, 2, true, &start, &count))
        return code;
    if (count && DosRead(file->stream, start, count) != count)
        return ERR_READ;
    return 0;
}

uint32_t CmdWriteMem(VmState* vm)
{
    CheckArgs(vm, 3, 4, 0, 0);
    DosFile* file;
    if (uint32_t code = DosFileForWrite(vm, 2, &file))
        return code;
    uint8_t* start = nullptr;
    size_t count;
    if (uint32_t code = TransferArgs(vm, 1, false, &start, &count))
        return code;
    if (count && DosWrite(file->stream, start, count) != count)
        return ERR_WRITE;
    return 0;
}
