// The commands that read and write the bytes of a block: single values
// (Peek, Poke), fills, copies between blocks, the hex dump, and conversion
// to and from tables. Peek, Poke and FillMem store multi-byte values most
// significant byte first unless asked otherwise; the table conversions use
// the machine's order unless asked to switch.
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/number_conv.h"
#include "core/io/utilities.h"
#include "core/services/arg_helpers.h"
#include "core/services/check_args.h"
#include "core/services/option_tables.h"
#include "libs/memblock/memblock_elements.h"

namespace {

int64_t OffsetArg(VmState* vm, int index)
{
    return VmType(vm, index) == VM_TNONE ? 0 : DoubleToInt64(VmCheckNumber(vm, index));
}

bool FlagArg(VmState* vm, int index) { return OffsetArg(vm, index) != 0; }

// The bytes that Peek returns for a #STRING of length 0: text up to the
// first byte that is not text.
bool IsTextByte(uint8_t c) { return IsPrintChar(c) || c == '\t' || c == '\n' || c == '\r'; }

uint32_t PeekString(VmState* vm, const MemBlock* block, int64_t offset, int64_t length)
{
    if (length < 0)
        return ERR_WRONGUSAGE;
    if (!InRange(block, offset, length))
        return ERR_MEMRANGE;
    const uint8_t* p = block->data + offset;
    if (length == 0) {
        int64_t limit = block->size != 0 ? block->size - offset : INT64_MAX;
        while (length < limit && IsTextByte(p[length]))
            ++length;
    }
    VmPushLString(vm, reinterpret_cast<const char*>(p), static_cast<size_t>(length));
    return 1;
}

// The options of MemToTable and TableToMem.
struct TableOptions {
    int64_t items = 0;
    int64_t offset = 0;
    bool endianSwitch = false;
    bool isSigned = false;
};

void ReadTableOptions(VmState* vm, int index, TableOptions* out)
{
    if (VmType(vm, index) == VM_TNONE || VmType(vm, index) == VM_TNIL)
        return;
    VmCheckTable(vm, index);
    double value;
    if (GetTableNumber(vm, index, "items", &value))
        out->items = DoubleToInt64(value);
    if (GetTableNumber(vm, index, "offset", &value))
        out->offset = DoubleToInt64(value);
    if (GetTableNumber(vm, index, "endianswitch", &value))
        out->endianSwitch = DoubleToInt64(value) != 0;
    if (GetTableNumber(vm, index, "signed", &value))
        out->isSigned = DoubleToInt64(value) != 0;
}

}  // namespace

uint32_t CmdPeek(VmState* vm)
{
    CheckArgs(vm, 2, 4, 0, 0);
    MemBlock* block;
    if (uint32_t code = FindMemBlock(GetObjectIdArg(vm, 1), &block))
        return code;
    int64_t offset = OffsetArg(vm, 2);
    int32_t type = VmOptInteger(vm, 3, MEMTYPE_INTEGER);
    int size = ElementSize(type);
    if (size < 0)
        return ERR_WRONGUSAGE;
    if (offset < 0)
        return ERR_MEMRANGE;
    if (type == MEMTYPE_STRING)
        return PeekString(vm, block, offset, OffsetArg(vm, 4));
    bool swap = SwapFor(!FlagArg(vm, 4));
    if (!InRange(block, offset, size))
        return ERR_MEMRANGE;
    VmPushNumber(vm, LoadElement(block->data + offset, type, swap, false));
    return 1;
}

uint32_t CmdPoke(VmState* vm)
{
    CheckArgs(vm, 3, 5, 0, 0);
    MemBlock* block;
    if (uint32_t code = FindWritableMemBlock(GetObjectIdArg(vm, 1), &block))
        return code;
    int64_t offset = OffsetArg(vm, 2);
    int32_t type = VmOptInteger(vm, 4, MEMTYPE_INTEGER);
    int size = ElementSize(type);
    if (size < 0)
        return ERR_WRONGUSAGE;
    if (offset < 0)
        return ERR_MEMRANGE;
    if (type == MEMTYPE_STRING) {
        size_t length = 0;
        const char* text = VmCheckString(vm, 3, &length);
        if (!InRange(block, offset, static_cast<int64_t>(length) + 1))
            return ERR_MEMRANGE;
        std::memcpy(block->data + offset, text, length);
        block->data[offset + static_cast<int64_t>(length)] = 0;
        return 0;
    }
    double value = VmCheckNumber(vm, 3);
    bool swap = SwapFor(!FlagArg(vm, 5));
    if (!InRange(block, offset, size))
        return ERR_MEMRANGE;
    StoreElement(block->data + offset, type, value, swap);
    return 0;
}

uint32_t CmdFillMem(VmState* vm)
{
    CheckArgs(vm, 3, 5, 0, 0);
    MemBlock* block;
    if (uint32_t code = FindWritableMemBlock(GetObjectIdArg(vm, 1), &block))
        return code;
    uint32_t value = DoubleToLow32(VmCheckNumber(vm, 2));
    int64_t count = DoubleToInt64(VmCheckNumber(vm, 3));
    int64_t offset = OffsetArg(vm, 4);
    int32_t type = VmOptInteger(vm, 5, MEMTYPE_BYTE);
    if (type != MEMTYPE_BYTE && type != MEMTYPE_SHORT && type != MEMTYPE_INTEGER)
        return ERR_WRONGUSAGE;
    if (offset < 0)
        return ERR_MEMRANGE;
    if (count < 1)
        return 0;
    int unit = ElementSize(type);
    if (offset % unit != 0 || count % unit != 0)
        return ERR_WRONGUSAGE;
    if (!InRange(block, offset, count))
        return ERR_MEMRANGE;
    uint8_t* p = block->data + offset;
    if (unit == 1) {
        std::memset(p, static_cast<uint8_t>(value), static_cast<size_t>(count));
        return 0;
    }
    // The first unit, then ever larger copies of what is already filled.
    StoreElement(p, type, value, SwapFor(true));
    size_t filled = static_cast<size_t>(unit), total = static_cast<size_t>(count);
    while (filled < total) {
        size_t n = filled < total - filled ? filled : total - filled;
        std::memcpy(p + filled, p, n);
        filled += n;
    }
    return 0;
}

uint32_t CmdCopyMem(VmState* vm)
{
    CheckArgs(vm, 3, 5, 0, 0);
    MemBlock *src, *dst;
    if (uint32_t code = FindMemBlock(GetObjectIdArg(vm, 1), &src))
        return code;
    if (uint32_t code = FindWritableMemBlock(GetObjectIdArg(vm, 2), &dst))
        return code;
    int64_t count = DoubleToInt64(VmCheckNumber(vm, 3));
    int64_t srcOffset = OffsetArg(vm, 4), dstOffset = OffsetArg(vm, 5);
    if (src == dst)
        return ERR_WRONGUSAGE;
    if (srcOffset < 0 || dstOffset < 0)
        return ERR_MEMRANGE;
    if (count < 1)
        return 0;
    if (!InRange(src, srcOffset, count) || !InRange(dst, dstOffset, count))
        return ERR_MEMRANGE;
    // Blocks over foreign memory may overlap each other.
    std::memmove(dst->data + dstOffset, src->data + srcOffset, static_cast<size_t>(count));
    return 0;
}

uint32_t CmdDumpMem(VmState* vm)
{
    CheckArgs(vm, 1, 3, 0, 0);
    MemBlock* block;
    if (uint32_t code = FindMemBlock(GetObjectIdArg(vm, 1), &block))
        return code;
    int64_t length = OffsetArg(vm, 2), offset = OffsetArg(vm, 3);
    if (offset < 0 || length < 0)
        return ERR_WRONGUSAGE;
    if (length == 0) {
        if (block->size == 0)
            return ERR_WRONGUSAGE;
        // The whole block from the offset on, never past its end.
        if (offset > block->size)
            return ERR_MEMRANGE;
        length = block->size - offset;
    }
    if (!InRange(block, offset, length))
        return ERR_MEMRANGE;
    const uint8_t* bytes = block->data;
    // One line: 10 for the offset, 16 x 3 for the bytes, 16 characters and
    // the line end.
    char line[96];
    for (int64_t start = 0; start < length; start += 16) {
        int n = length - start < 16 ? static_cast<int>(length - start) : 16;
        int64_t at = offset + start;
        char* out = line + std::snprintf(line, sizeof line, "%.8" PRIx32 ": ", static_cast<uint32_t>(at));
        for (int i = 0; i < 16; ++i)
            out += i < n ? std::snprintf(out, 4, "%.2x ", bytes[at + i]) : std::snprintf(out, 4, "   ");
        for (int i = 0; i < n; ++i)
            *out++ = IsPrintChar(bytes[at + i]) ? static_cast<char>(bytes[at + i]) : '.';
        *out++ = '\n';
        *out = 0;
        DebugPrintf("%s", line);
    }
    return 0;
}

uint32_t CmdMemToTable(VmState* vm)
{
    CheckArgs(vm, 2, 3, 0, 0);
    MemBlock* block;
    if (uint32_t code = FindMemBlock(GetObjectIdArg(vm, 1), &block))
        return code;
    int32_t type = VmCheckInteger(vm, 2);
    TableOptions options;
    ReadTableOptions(vm, 3, &options);
    int size = ElementSize(type);
    if (size <= 0 || options.items < 0)
        return ERR_WRONGUSAGE;
    if (options.offset < 0 || (block->size != 0 && options.offset > block->size))
        return ERR_MEMRANGE;
    if (options.items == 0) {
        if (block->size == 0)
            return ERR_WRONGUSAGE;
        // Whole elements from the offset to the block's end.
        options.items = (block->size - options.offset) / size;
    } else if (block->size != 0 && options.items > (block->size - options.offset) / size) {
        return ERR_MEMRANGE;
    }
    if (options.items > INT32_MAX)
        return ERR_WRONGUSAGE;
    bool swap = options.endianSwitch;
    VmNewTableSized(vm, options.items < 65536 ? static_cast<int>(options.items) : 65536, 0);
    const uint8_t* p = block->data + options.offset;
    for (int32_t i = 0; i < options.items; ++i, p += size) {
        VmPushNumber(vm, LoadElement(p, type, swap, options.isSigned));
        VmRawSetI(vm, -2, i);
    }
    return 1;
}

uint32_t CmdTableToMem(VmState* vm)
{
    CheckArgs(vm, 3, 4, 0, 0);
    VmCheckTable(vm, 1);
    MemBlock* block;
    if (uint32_t code = FindWritableMemBlock(GetObjectIdArg(vm, 2), &block))
        return code;
    int32_t type = VmCheckInteger(vm, 3);
    TableOptions options;
    ReadTableOptions(vm, 4, &options);
    int size = ElementSize(type);
    if (size <= 0)
        return ERR_WRONGUSAGE;
    if (options.offset < 0)
        return ERR_MEMRANGE;
    // Always bounded by the block's end, even when its size is unknown (0).
    int64_t end = block->size;
    int64_t at = options.offset;
    for (int32_t i = 0; i < INT32_MAX; ++i, at += size) {
        VmRawGetI(vm, 1, i);
        if (VmType(vm, -1) == VM_TNIL)
            break;
        if (!VmIsNumber(vm, -1)) {
            char index[16];
            std::snprintf(index, sizeof index, "%d", i);
            SetErrorText(index);
            return ERR_NUMTABLEARG;
        }
        double value = VmGetNumber(vm, -1);
        VmPop(vm, 1);
        if (at > end || size > end - at)
            return ERR_MEMRANGE;
        StoreElement(block->data + at, type, value, options.endianSwitch);
    }
    return 0;
}
