// The table stream (see the header). Lengths read from a stream are never
// trusted: strings and chunks are read in bounded blocks, so a length that
// runs past the end of the data fails with ERR_READ before it can make the
// reader allocate for it.
#include "libs/dos/table_stream.h"

#include <cstring>
#include <string>
#include <vector>

#include "core/io/byte_order.h"
#include "core/io/error_codes.h"
#include "core/io/stream.h"
#include "core/vm/vm.h"

namespace {

enum : uint8_t { TAG_END = 0, TAG_NUMBER = 2, TAG_STRING = 3, TAG_TABLE = 4, TAG_FUNCTION = 5 };

constexpr size_t kReadBlock = 65536;

int AbsoluteIndex(VmState* vm, int index)
{
    return (index < 0 && index > VM_REGISTRYINDEX) ? VmGetTop(vm) + index + 1 : index;
}

uint32_t WriteBytes(StreamHandle* stream, const void* bytes, size_t n)
{
    return StreamWrite(stream, bytes, n) == n ? 0u : static_cast<uint32_t>(ERR_WRITE);
}

uint32_t WriteTag(StreamHandle* stream, uint8_t tag) { return WriteBytes(stream, &tag, 1); }

uint32_t WriteNumber(StreamHandle* stream, double value)
{
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    uint8_t out[9] = {TAG_NUMBER};
    StoreBE32(out + 1, static_cast<uint32_t>(bits >> 32));
    StoreBE32(out + 5, static_cast<uint32_t>(bits));
    return WriteBytes(stream, out, sizeof out);
}

uint32_t WriteLengthAndBytes(StreamHandle* stream, uint8_t tag, const void* bytes, size_t n)
{
    if (n > UINT32_MAX)
        return ERR_WRITE;
    uint8_t head[5] = {tag};
    StoreBE32(head + 1, static_cast<uint32_t>(n));
    if (uint32_t code = WriteBytes(stream, head, sizeof head))
        return code;
    return n ? WriteBytes(stream, bytes, n) : 0u;
}

int CollectChunk(VmState*, const void* bytes, size_t n, void* data)
{
    auto* out = static_cast<std::vector<uint8_t>*>(data);
    out->insert(out->end(), static_cast<const uint8_t*>(bytes), static_cast<const uint8_t*>(bytes) + n);
    return 0;
}

bool Writable(int type)
{
    return type == VM_TNUMBER || type == VM_TSTRING || type == VM_TTABLE || type == VM_TFUNCTION ||
           type == VM_TUSERDATA || type == VM_TLIGHTUSERDATA;
}

uint32_t WriteValue(VmState* vm, int value, StreamHandle* stream, int depth);

uint32_t WriteTable(VmState* vm, int table, StreamHandle* stream, int depth)
{
    if (depth > kTableStreamMaxDepth || !VmCheckStack(vm, 6))
        return ERR_STACK;
    VmPushNil(vm);
    while (VmNext(vm, table)) {
        int key = VmGetTop(vm) - 1, value = key + 1;
        int keyType = VmType(vm, key);
        uint32_t code = 0;
        if (keyType != VM_TNUMBER && keyType != VM_TSTRING)
            code = ERR_WRONGUSAGE;
        // A value that cannot be written takes its key along: a key alone
        // would leave a stream no reader can parse.
        else if (Writable(VmType(vm, value))) {
            code = keyType == VM_TNUMBER
                       ? WriteNumber(stream, VmGetNumber(vm, key))
                       : WriteLengthAndBytes(stream, TAG_STRING, VmGetString(vm, key), VmGetStringLength(vm, key));
            if (!code)
                code = WriteValue(vm, value, stream, depth);
        }
        VmSetTop(vm, key);
        if (code) {
            VmPop(vm, 1);
            return code;
        }
    }
    return WriteTag(stream, TAG_END);
}

uint32_t WriteValue(VmState* vm, int value, StreamHandle* stream, int depth)
{
    switch (VmType(vm, value)) {
    case VM_TNUMBER:
        return WriteNumber(stream, VmGetNumber(vm, value));
    case VM_TSTRING:
        return WriteLengthAndBytes(stream, TAG_STRING, VmGetString(vm, value), VmGetStringLength(vm, value));
    case VM_TTABLE:
        if (uint32_t code = WriteTag(stream, TAG_TABLE))
            return code;
        return WriteTable(vm, value, stream, depth + 1);
    case VM_TFUNCTION: {
        std::vector<uint8_t> chunk;
        if (uint32_t code = VmDump(vm, value, CollectChunk, &chunk))
            return code;
        return WriteLengthAndBytes(stream, TAG_FUNCTION, chunk.data(), chunk.size());
    }
    default:  // userdata of either kind
        return WriteNumber(stream, 0);
    }
}

uint32_t ReadExactly(StreamHandle* stream, void* out, size_t n)
{
    return StreamRead(stream, out, n) == n ? 0u : static_cast<uint32_t>(ERR_READ);
}

uint32_t ReadLengthAndBytes(StreamHandle* stream, std::string* out)
{
    uint8_t head[4];
    if (uint32_t code = ReadExactly(stream, head, sizeof head))
        return code;
    size_t left = LoadBE32(head);
    out->clear();
    while (left > 0) {
        size_t n = left < kReadBlock ? left : kReadBlock;
        size_t at = out->size();
        out->resize(at + n);
        if (uint32_t code = ReadExactly(stream, out->data() + at, n))
            return code;
        left -= n;
    }
    return 0;
}

uint32_t ReadNumber(StreamHandle* stream, double* out)
{
    uint8_t bytes[8];
    if (uint32_t code = ReadExactly(stream, bytes, sizeof bytes))
        return code;
    uint64_t bits = (static_cast<uint64_t>(LoadBE32(bytes)) << 32) | LoadBE32(bytes + 4);
    std::memcpy(out, &bits, sizeof *out);
    return 0;
}

struct ChunkInput {
    const std::string* bytes;
    bool done;
};

const char* ReadChunkOnce(VmState*, void* data, size_t* size)
{
    auto* in = static_cast<ChunkInput*>(data);
    *size = in->done ? 0 : in->bytes->size();
    in->done = true;
    return *size ? in->bytes->data() : nullptr;
}

// Pushes the value of the tag.
uint32_t ReadValue(VmState* vm, StreamHandle* stream, uint8_t tag, int level)
{
    switch (tag) {
    case TAG_NUMBER: {
        double v;
        if (uint32_t code = ReadNumber(stream, &v))
            return code;
        VmPushNumber(vm, v);
        return 0;
    }
    case TAG_STRING: {
        std::string text;
        if (uint32_t code = ReadLengthAndBytes(stream, &text))
            return code;
        VmPushLString(vm, text.data(), text.size());
        return 0;
    }
    case TAG_TABLE:
        return ReadTableRecursive(vm, stream, level + 1);
    case TAG_FUNCTION: {
        std::string chunk;
        if (uint32_t code = ReadLengthAndBytes(stream, &chunk))
            return code;
        ChunkInput in{&chunk, false};
        return VmLoad(vm, ReadChunkOnce, &in, "=table");
    }
    default:
        return ERR_FILEFORMAT;
    }
}

}  // namespace

uint32_t WriteTableRecursive(VmState* vm, int index, StreamHandle* stream)
{
    return WriteTable(vm, AbsoluteIndex(vm, index), stream, 0);
}

uint32_t ReadTableRecursive(VmState* vm, StreamHandle* stream, int level)
{
    if (level > kTableStreamMaxDepth)
        return ERR_FILEFORMAT;
    if (!VmCheckStack(vm, 6))
        return ERR_STACK;
    int top = VmGetTop(vm);
    VmNewTable(vm);
    int table = top + 1;
    for (;;) {
        uint8_t tag;
        uint32_t code = ReadExactly(stream, &tag, 1);
        if (!code && tag == TAG_END)
            return 0;
        if (!code && tag != TAG_NUMBER && tag != TAG_STRING)
            code = ERR_WRONGUSAGE;
        if (!code)
            code = ReadValue(vm, stream, tag, level);  // the key
        // No table can hold a NaN key.
        if (!code && tag == TAG_NUMBER && VmGetNumber(vm, -1) != VmGetNumber(vm, -1))
            code = ERR_FILEFORMAT;
        if (!code && !(code = ReadExactly(stream, &tag, 1)))
            code = ReadValue(vm, stream, tag, level);
        if (code) {
            VmSetTop(vm, top);
            return code;
        }
        VmRawSet(vm, table);
    }
}
