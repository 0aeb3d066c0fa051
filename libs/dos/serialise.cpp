// Tables and functions saved to open files and read back. One tagged,
// big-endian stream carries a table with its nested tables and functions;
// a function travels as the VM's compiled chunk. Either can be written as
// Base64 text instead ("QMT1", "QMF1"), which wraps the binary form.
//
// Everything that is read here is untrusted: every length is checked
// against what the input can still deliver before it is trusted, strings
// are read in pieces so that a bogus length costs no more memory than the
// input really holds, and nesting is bounded.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "core/io/base64.h"
#include "core/io/byte_order.h"
#include "core/io/errors.h"
#include "core/io/stream.h"
#include "core/services/arg_helpers.h"
#include "core/services/check_args.h"
#include "core/vm/vm.h"
#include "libs/dos/dos_library.h"
#include "libs/dos/table_stream.h"

namespace {

enum TableTag : uint8_t {
    TAG_ENDTABLE = 0,
    TAG_NUMBER = 2,
    TAG_STRING = 3,
    TAG_TABLE = 4,
    TAG_FUNCTION = 5,
};

constexpr char MAGIC_TABLE_BINARY[4] = {'Q', 'M', 'T', '0'};
constexpr char MAGIC_TABLE_TEXT[4] = {'Q', 'M', 'T', '1'};
constexpr char MAGIC_FUNCTION_BINARY[4] = {'Q', 'M', 'F', '0'};
constexpr char MAGIC_FUNCTION_TEXT[4] = {'Q', 'M', 'F', '1'};

// Deeper tables than this are refused in both directions; a table that
// contains itself would otherwise recurse until the stack is gone.
constexpr int MAX_TABLE_DEPTH = 200;

// Base64 lines of text forms hold this many characters.
constexpr size_t BASE64_LINE = 72;

// Strings and records are read in pieces of this size.
constexpr size_t READ_PIECE = 65536;
// Bytes read ahead from a stream that can seek, and gathered before a
// write to a stream.
constexpr size_t READ_AHEAD = 16384;
constexpr size_t WRITE_BATCH = 16384;

// Where the writer puts its bytes: a stream, or a block in memory. Small
// writes to a stream are gathered and go out in batches; Flush sends what
// is left and must end every write to a stream.
struct ByteSink {
    StreamHandle* stream;
    std::vector<uint8_t>* memory;
    std::vector<uint8_t> pending;

    uint32_t Put(const void* data, size_t n)
    {
        if (n == 0)
            return 0;
        auto* p = static_cast<const uint8_t*>(data);
        if (memory) {
            memory->insert(memory->end(), p, p + n);
            return 0;
        }
        if (pending.size() + n < WRITE_BATCH) {
            pending.insert(pending.end(), p, p + n);
            return 0;
        }
        if (uint32_t code = Flush())
            return code;
        if (n < WRITE_BATCH) {
            pending.assign(p, p + n);
            return 0;
        }
        return DosWrite(stream, data, n) == n ? 0u : uint32_t{ERR_WRITE};
    }
    uint32_t Flush()
    {
        if (memory || pending.empty())
            return 0;
        bool ok = DosWrite(stream, pending.data(), pending.size()) == pending.size();
        pending.clear();
        return ok ? 0u : uint32_t{ERR_WRITE};
    }
    uint32_t PutByte(uint8_t b) { return Put(&b, 1); }
    uint32_t PutU32(uint32_t v)
    {
        uint8_t b[4];
        StoreBE32(b, v);
        return Put(b, 4);
    }
    uint32_t PutDouble(double d)
    {
        uint64_t bits;
        std::memcpy(&bits, &d, 8);
        uint8_t b[8];
        StoreBE32(b, static_cast<uint32_t>(bits >> 32));
        StoreBE32(b + 4, static_cast<uint32_t>(bits));
        return Put(b, 8);
    }
};

// Where the reader takes its bytes from: a stream, or a block in memory.
//
// A table stream is read in steps of a few bytes. On a stream that can seek
// the reader reads ahead a block at a time and, when it is done, seeks back
// over what it did not use, so that the file stands right behind the table
// as if it had been read byte by step.
class ByteSource {
public:
    static ByteSource FromStream(StreamHandle* stream, bool readAhead)
    {
        ByteSource s;
        s.stream_ = stream;
        if (readAhead && !IsStreamNoSeek(stream))
            s.ahead_.resize(READ_AHEAD);
        return s;
    }
    static ByteSource FromMemory(const uint8_t* data, size_t size, size_t position)
    {
        ByteSource s;
        s.data_ = data;
        s.size_ = size;
        s.position_ = position;
        return s;
    }
    ByteSource(ByteSource&& other) noexcept
        : stream_(other.stream_), data_(other.data_), size_(other.size_), position_(other.position_),
          ahead_(std::move(other.ahead_)), aheadPos_(other.aheadPos_), aheadLen_(other.aheadLen_)
    {
        other.stream_ = nullptr;
    }
    ByteSource& operator=(ByteSource&&) = delete;
    ~ByteSource()
    {
        if (stream_ && aheadLen_ > aheadPos_)
            StreamSeek(stream_, -static_cast<int64_t>(aheadLen_ - aheadPos_), STREAM_SEEK_CURRENT);
    }

    bool Get(void* out, size_t n)
    {
        if (!stream_) {
            if (n > size_ - position_)
                return false;
            std::memcpy(out, data_ + position_, n);
            position_ += n;
            return true;
        }
        if (ahead_.empty())
            return DosRead(stream_, out, n) == n;
        auto* dst = static_cast<uint8_t*>(out);
        while (n) {
            if (aheadPos_ == aheadLen_) {
                aheadPos_ = aheadLen_ = 0;
                if (n >= ahead_.size())
                    return DosRead(stream_, dst, n) == n;
                aheadLen_ = DosRead(stream_, ahead_.data(), ahead_.size());
                if (aheadLen_ == 0)
                    return false;
            }
            size_t take = n < aheadLen_ - aheadPos_ ? n : aheadLen_ - aheadPos_;
            std::memcpy(dst, ahead_.data() + aheadPos_, take);
            aheadPos_ += take;
            dst += take;
            n -= take;
        }
        return true;
    }
    bool GetU32(uint32_t* out)
    {
        uint8_t b[4];
        if (!Get(b, 4))
            return false;
        *out = LoadBE32(b);
        return true;
    }
    bool GetDouble(double* out)
    {
        uint8_t b[8];
        if (!Get(b, 8))
            return false;
        uint64_t bits = (static_cast<uint64_t>(LoadBE32(b)) << 32) | LoadBE32(b + 4);
        std::memcpy(out, &bits, 8);
        return true;
    }
    // n bytes; the buffer grows only as far as the input really reaches.
    uint32_t GetBytes(size_t n, std::string* out)
    {
        out->clear();
        if (!stream_ && n > size_ - position_)
            return ERR_READ;
        while (out->size() < n) {
            size_t piece = n - out->size() < READ_PIECE ? n - out->size() : READ_PIECE;
            size_t at = out->size();
            out->resize(at + piece);
            if (!Get(out->data() + at, piece))
                return ERR_READ;
        }
        return 0;
    }

private:
    ByteSource() = default;

    StreamHandle* stream_ = nullptr;
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t position_ = 0;
    std::vector<uint8_t> ahead_;
    size_t aheadPos_ = 0;
    size_t aheadLen_ = 0;
};

int DumpToMemory(VmState*, const void* bytes, size_t size, void* data)
{
    auto* out = static_cast<std::vector<uint8_t>*>(data);
    try {
        auto* p = static_cast<const uint8_t*>(bytes);
        out->insert(out->end(), p, p + size);
    } catch (const std::bad_alloc&) {
        return 1;
    }
    return 0;
}

struct ChunkInput {
    const uint8_t* data;
    size_t size;
    bool done;
};

// The loader's reader: the whole chunk at once.
const char* ReadMemoryChunk(VmState*, void* data, size_t* size)
{
    auto* in = static_cast<ChunkInput*>(data);
    if (in->done || in->size == 0) {
        *size = 0;
        return nullptr;
    }
    in->done = true;
    *size = in->size;
    return reinterpret_cast<const char*>(in->data);
}

uint32_t DumpFunction(VmState* vm, int index, std::vector<uint8_t>* out)
{
    uint32_t code = VmDump(vm, index, DumpToMemory, out);
    if (code)
        return code;
    if (out->size() > UINT32_MAX)
        return ERR_MEM;
    return 0;
}

uint32_t LoadFunction(VmState* vm, const uint8_t* data, size_t size)
{
    ChunkInput in{data, size, false};
    uint32_t code = VmLoad(vm, ReadMemoryChunk, &in, "=function");
    return code ? code : 0;
}

// Base64 of data as the text forms carry it: with line breaks, CR LF goes
// before every character that would make a line longer than 72.
std::string EncodeBase64Text(const uint8_t* data, size_t length, bool noLineBreaks)
{
    std::string plain = EncodeBase64String(data, length);
    if (noLineBreaks || plain.size() <= BASE64_LINE)
        return plain;
    std::string text;
    text.reserve(plain.size() + plain.size() / BASE64_LINE * 2);
    for (size_t i = 0; i < plain.size(); i += BASE64_LINE) {
        if (i)
            text.append("\r\n");
        text.append(plain, i, BASE64_LINE);
    }
    return text;
}

// A text record: the character count as 8 hexadecimal digits, then the
// text. The count is known before anything is written, so the record
// needs no seek back and works on streams that cannot seek.
uint32_t WriteTextRecord(ByteSink& sink, const uint8_t* data, size_t length, bool noLineBreaks)
{
    std::string text = EncodeBase64Text(data, length, noLineBreaks);
    if (text.size() > UINT32_MAX)
        return ERR_MEM;
    char count[9];
    std::snprintf(count, sizeof count, "%.8lx", static_cast<unsigned long>(text.size()));
    if (uint32_t code = sink.Put(count, 8))
        return code;
    return sink.Put(text.data(), text.size());
}

// Reads a text record and decodes it.
uint32_t ReadTextRecord(ByteSource& source, uint32_t badFormat, std::string* outBytes)
{
    char digits[8];
    if (!source.Get(digits, 8))
        return ERR_READ;
    uint32_t count = 0;
    for (char c : digits) {
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else
            return badFormat;
        count = count << 4 | static_cast<uint32_t>(v);
    }
    std::string text;
    if (uint32_t code = source.GetBytes(count, &text))
        return code;
    *outBytes = DecodeBase64String(text.data(), text.size());
    return 0;
}

// The function at index as a binary record: u32 length and the chunk.
uint32_t WriteFunctionRecord(VmState* vm, int index, ByteSink& sink)
{
    std::vector<uint8_t> chunk;
    if (uint32_t code = DumpFunction(vm, index, &chunk))
        return code;
    if (uint32_t code = sink.PutU32(static_cast<uint32_t>(chunk.size())))
        return code;
    return sink.Put(chunk.data(), chunk.size());
}

uint32_t ReadFunctionRecord(VmState* vm, ByteSource& source)
{
    uint32_t length;
    if (!source.GetU32(&length))
        return ERR_READ;
    std::string chunk;
    if (uint32_t code = source.GetBytes(length, &chunk))
        return code;
    return LoadFunction(vm, reinterpret_cast<const uint8_t*>(chunk.data()), chunk.size());
}

uint32_t WriteTableRecursive(VmState* vm, int index, ByteSink& sink, int depth)
{
    if (depth > MAX_TABLE_DEPTH || !VmCheckStack(vm, 4))
        return ERR_WRONGUSAGE;
    int top = VmGetTop(vm);
    VmPushNil(vm);
    while (VmNext(vm, index)) {
        int keyType = VmType(vm, -2);
        if (keyType != VM_TNUMBER && keyType != VM_TSTRING) {
            VmSetTop(vm, top);
            return ERR_WRONGUSAGE;
        }
        int valueType = VmType(vm, -1);
        // The value's type decides before the key is written: a pair whose
        // value cannot travel is left out whole, never as a lone key.
        bool writable = valueType == VM_TNUMBER || valueType == VM_TSTRING || valueType == VM_TTABLE ||
                        valueType == VM_TFUNCTION || valueType == VM_TUSERDATA ||
                        valueType == VM_TLIGHTUSERDATA;
        if (!writable) {
            VmPop(vm, 1);
            continue;
        }
        if (valueType == VM_TFUNCTION && VmIsNativeFunction(vm, -1)) {
            VmSetTop(vm, top);
            return ERR_NOQMFUNC;
        }
        uint32_t code = 0;
        if (keyType == VM_TNUMBER) {
            code = sink.PutByte(TAG_NUMBER);
            if (!code)
                code = sink.PutDouble(VmGetNumber(vm, -2));
        } else {
            size_t length = VmGetStringLength(vm, -2);
            code = sink.PutByte(TAG_STRING);
            if (!code)
                code = sink.PutU32(static_cast<uint32_t>(length));
            if (!code)
                code = sink.Put(VmGetString(vm, -2), length);
        }
        if (!code) {
            switch (valueType) {
            case VM_TNUMBER:
            case VM_TUSERDATA:
            case VM_TLIGHTUSERDATA:
                code = sink.PutByte(TAG_NUMBER);
                if (!code)
                    code = sink.PutDouble(valueType == VM_TNUMBER ? VmGetNumber(vm, -1) : 0);
                break;
            case VM_TSTRING: {
                size_t length = VmGetStringLength(vm, -1);
                code = sink.PutByte(TAG_STRING);
                if (!code)
                    code = sink.PutU32(static_cast<uint32_t>(length));
                if (!code)
                    code = sink.Put(VmGetString(vm, -1), length);
                break;
            }
            case VM_TTABLE:
                code = sink.PutByte(TAG_TABLE);
                if (!code)
                    code = WriteTableRecursive(vm, VmGetTop(vm), sink, depth + 1);
                break;
            default:
                code = sink.PutByte(TAG_FUNCTION);
                if (!code)
                    code = WriteFunctionRecord(vm, VmGetTop(vm), sink);
                break;
            }
        }
        if (code) {
            VmSetTop(vm, top);
            return code;
        }
        VmPop(vm, 1);
    }
    return sink.PutByte(TAG_ENDTABLE);
}

// Pushes the key or value of one entry.
uint32_t ReadKey(VmState* vm, ByteSource& source, uint8_t tag, std::string& scratch)
{
    if (tag == TAG_NUMBER) {
        double d;
        if (!source.GetDouble(&d))
            return ERR_READ;
        VmPushNumber(vm, d);
        return 0;
    }
    if (tag == TAG_STRING) {
        uint32_t length;
        if (!source.GetU32(&length))
            return ERR_READ;
        if (uint32_t code = source.GetBytes(length, &scratch))
            return code;
        VmPushLString(vm, scratch.data(), scratch.size());
        return 0;
    }
    return ERR_WRONGUSAGE;
}

uint32_t ReadTableRecursive(VmState* vm, ByteSource& source, int level)
{
    if (level > MAX_TABLE_DEPTH || !VmCheckStack(vm, 6))
        return ERR_FILEFORMAT;
    int top = VmGetTop(vm);
    VmNewTable(vm);
    std::string scratch;
    for (;;) {
        uint8_t tag;
        uint32_t code = 0;
        if (!source.Get(&tag, 1))
            code = ERR_READ;
        else if (tag == TAG_ENDTABLE)
            return 0;
        if (!code)
            code = ReadKey(vm, source, tag, scratch);
        if (!code && !source.Get(&tag, 1))
            code = ERR_READ;
        if (!code) {
            switch (tag) {
            case TAG_NUMBER:
            case TAG_STRING:
                code = ReadKey(vm, source, tag, scratch);
                break;
            case TAG_TABLE:
                code = ReadTableRecursive(vm, source, level + 1);
                break;
            case TAG_FUNCTION:
                code = ReadFunctionRecord(vm, source);
                break;
            default:
                code = ERR_FILEFORMAT;
                break;
            }
        }
        if (code) {
            VmSetTop(vm, top);
            return code;
        }
        // A NaN key cannot index a table; the pair is dropped.
        if (VmType(vm, -2) == VM_TNUMBER && VmGetNumber(vm, -2) != VmGetNumber(vm, -2))
            VmPop(vm, 2);
        else
            VmRawSet(vm, top + 1);
    }
}

template <typename Body>
uint32_t Guarded(Body body)
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
}

} // namespace

uint32_t WriteTableToStream(VmState* vm, int index, StreamHandle* stream, bool textForm, bool noLineBreaks)
{
    if (index < 0 && index > VM_REGISTRYINDEX)
        index = VmGetTop(vm) + index + 1;
    return Guarded([&]() -> uint32_t {
        ByteSink file{stream, nullptr, {}};
        if (!textForm) {
            if (uint32_t code = file.Put(MAGIC_TABLE_BINARY, 4))
                return code;
            if (uint32_t code = WriteTableRecursive(vm, index, file, 0))
                return code;
            return file.Flush();
        }
        std::vector<uint8_t> block(MAGIC_TABLE_BINARY, MAGIC_TABLE_BINARY + 4);
        ByteSink memory{nullptr, &block, {}};
        if (uint32_t code = WriteTableRecursive(vm, index, memory, 0))
            return code;
        if (uint32_t code = file.Put(MAGIC_TABLE_TEXT, 4))
            return code;
        if (uint32_t code = WriteTextRecord(file, block.data(), block.size(), noLineBreaks))
            return code;
        return file.Flush();
    });
}

uint32_t ReadTableFromStream(VmState* vm, StreamHandle* stream)
{
    return Guarded([&]() -> uint32_t {
        ByteSource file = ByteSource::FromStream(stream, true);
        char magic[4];
        if (!file.Get(magic, 4))
            return ERR_READ;
        if (std::memcmp(magic, MAGIC_TABLE_BINARY, 4) == 0)
            return ReadTableRecursive(vm, file, 0);
        if (std::memcmp(magic, MAGIC_TABLE_TEXT, 4) != 0)
            return ERR_READTABLE;
        std::string block;
        if (uint32_t code = ReadTextRecord(file, ERR_READTABLE, &block))
            return code;
        // The text wraps the binary form; a text form inside it is no table
        // file any writer makes.
        if (block.size() < 4 || std::memcmp(block.data(), MAGIC_TABLE_BINARY, 4) != 0)
            return ERR_READTABLE;
        ByteSource memory = ByteSource::FromMemory(reinterpret_cast<const uint8_t*>(block.data()), block.size(), 4);
        return ReadTableRecursive(vm, memory, 0);
    });
}

uint32_t CmdWriteTable(VmState* vm)
{
    CheckArgs(vm, 2, 4, 0, 0);
    DosFile* f;
    if (uint32_t code = DosFileForWrite(vm, 1, &f))
        return code;
    VmCheckTable(vm, 2);
    return WriteTableToStream(vm, 2, f->stream, DosFlagArg(vm, 3, false), DosFlagArg(vm, 4, false));
}

uint32_t CmdReadTable(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    DosFile* f;
    if (uint32_t code = DosFileForRead(vm, 1, &f))
        return code;
    if (uint32_t code = ReadTableFromStream(vm, f->stream))
        return code;
    return 1;
}

uint32_t CmdWriteFunction(VmState* vm)
{
    CheckArgs(vm, 2, 4, 0, 0);
    DosFile* f;
    if (uint32_t code = DosFileForWrite(vm, 1, &f))
        return code;
    VmCheckFunction(vm, 2);
    if (VmIsNativeFunction(vm, 2))
        return ERR_NOQMFUNC;
    bool textForm = DosFlagArg(vm, 3, false);
    bool noLineBreaks = DosFlagArg(vm, 4, false);
    return Guarded([&]() -> uint32_t {
        ByteSink file{f->stream, nullptr, {}};
        if (!textForm) {
            if (uint32_t code = file.Put(MAGIC_FUNCTION_BINARY, 4))
                return code;
            if (uint32_t code = WriteFunctionRecord(vm, 2, file))
                return code;
            return file.Flush();
        }
        std::vector<uint8_t> chunk;
        if (uint32_t code = DumpFunction(vm, 2, &chunk))
            return code;
        if (uint32_t code = file.Put(MAGIC_FUNCTION_TEXT, 4))
            return code;
        if (uint32_t code = WriteTextRecord(file, chunk.data(), chunk.size(), noLineBreaks))
            return code;
        return file.Flush();
    });
}

uint32_t CmdReadFunction(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    DosFile* f;
    if (uint32_t code = DosFileForRead(vm, 1, &f))
        return code;
    uint32_t code = Guarded([&]() -> uint32_t {
        ByteSource file = ByteSource::FromStream(f->stream, false);
        char magic[4];
        if (!file.Get(magic, 4))
            return ERR_READ;
        if (std::memcmp(magic, MAGIC_FUNCTION_BINARY, 4) == 0)
            return ReadFunctionRecord(vm, file);
        if (std::memcmp(magic, MAGIC_FUNCTION_TEXT, 4) != 0)
            return ERR_READFUNC;
        std::string chunk;
        if (uint32_t code = ReadTextRecord(file, ERR_READFUNC, &chunk))
            return code;
        return LoadFunction(vm, reinterpret_cast<const uint8_t*>(chunk.data()), chunk.size());
    });
    return code ? code : 1;
}

uint32_t WriteTableStream(VmState* vm, int index, StreamHandle* stream)
{
    if (index < 0 && index > VM_REGISTRYINDEX)
        index = VmGetTop(vm) + index + 1;
    return Guarded([&]() -> uint32_t {
        ByteSink file{stream, nullptr, {}};
        if (uint32_t code = WriteTableRecursive(vm, index, file, 0))
            return code;
        return file.Flush();
    });
}

uint32_t ReadTableStream(VmState* vm, StreamHandle* stream)
{
    return Guarded([&]() -> uint32_t {
        ByteSource file = ByteSource::FromStream(stream, true);
        return ReadTableRecursive(vm, file, 0);
    });
}
