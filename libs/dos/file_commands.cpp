// Open files: OpenFile and CloseFile, typed reads and writes in either byte
// order, lines, positions and sizes; the name commands that need no open
// file; and the two commands over the compressed container.
#include <cstring>
#include <string>

#include "core/io/container.h"
#include "core/io/errors.h"
#include "core/io/file_parts.h"
#include "core/io/linked_files.h"
#include "core/io/messages.h"
#include "core/io/number_conv.h"
#include "core/io/stream.h"
#include "core/io/virtual_names.h"
#include "core/services/arg_helpers.h"
#include "core/services/check_args.h"
#include "core/services/path_helpers.h"
#include "core/vm/vm.h"
#include "libs/dos/dos_library.h"
#include "platform/posix/os_files.h"
#include "platform/posix/os_memory.h"

namespace {

// The open file named by the first argument, checked for reading or
// writing.
// A value of count bytes (1, 2, 4 or 8) read in one call; files hold it
// big-endian unless the script asks for little-endian.
uint32_t ReadOrderedValue(DosFile* f, size_t count, bool littleEndian, uint64_t* out)
{
    uint8_t bytes[8];
    if (DosRead(f->stream, bytes, count) != count)
        return ERR_READ;
    uint64_t v = 0;
    for (size_t i = 0; i < count; ++i) {
        size_t at = littleEndian ? count - 1 - i : i;
        v = (v << 8) | bytes[at];
    }
    *out = v;
    return 0;
}

uint32_t WriteOrderedValue(DosFile* f, size_t count, bool littleEndian, uint64_t v)
{
    uint8_t bytes[8];
    for (size_t i = 0; i < count; ++i) {
        size_t at = littleEndian ? i : count - 1 - i;
        bytes[at] = static_cast<uint8_t>(v >> (8 * i));
    }
    return DosWrite(f->stream, bytes, count) == count ? 0u : uint32_t{ERR_WRITE};
}

uint32_t ReadIntegerCommand(VmState* vm, size_t count)
{
    CheckArgs(vm, 1, 2, 0, 0);
    DosFile* f;
    if (uint32_t code = DosFileForRead(vm, 1, &f))
        return code;
    uint64_t v;
    if (uint32_t code = ReadOrderedValue(f, count, DosFlagArg(vm, 2, false), &v))
        return code;
    VmPushNumber(vm, static_cast<double>(v));
    return 1;
}

uint32_t WriteIntegerCommand(VmState* vm, size_t count)
{
    CheckArgs(vm, 2, 3, 0, 0);
    DosFile* f;
    if (uint32_t code = DosFileForWrite(vm, 1, &f))
        return code;
    uint32_t value = DoubleToLow32(VmCheckNumber(vm, 2));
    return WriteOrderedValue(f, count, DosFlagArg(vm, 3, false), value);
}

uint32_t FloatSizeArg(VmState* vm, int index, size_t* out)
{
    int64_t size = VmType(vm, index) == VM_TNONE ? 8 : DoubleToInt64(VmCheckNumber(vm, index));
    if (size != 4 && size != 8)
        return ERR_WRONGUSAGE;
    *out = static_cast<size_t>(size);
    return 0;
}

} // namespace

uint32_t CmdOpenFile(VmState* vm)
{
    CheckArgs(vm, 2, 4, 0, 0);
    bool useHandle = VmType(vm, 1) == VM_TNIL;
    ObjectId id = useHandle ? ObjectId{} : GetObjectIdArg(vm, 1);
    uint32_t mode = VmType(vm, 3) == VM_TNONE ? MODE_READ : DoubleToLow32(VmCheckNumber(vm, 3));
    const char* name;
    uint32_t access;
    switch (mode) {
    case MODE_READWRITE:
        access = DOSACCESS_READWRITE;
        name = VmCheckString(vm, 2, nullptr);
        break;
    case MODE_WRITE:
        access = DOSACCESS_WRITE;
        name = VmCheckString(vm, 2, nullptr);
        break;
    case MODE_READ:
        access = DOSACCESS_READ;
        name = GetFileNameArg(vm, 2);
        break;
    default:
        return ERR_WRONGUSAGE;
    }
    if (!*name)
        return ERR_WRONGUSAGE;
    // The resolver's answer lives only until its next call.
    std::string fileName(name);
    std::string loaders;
    bool haveLoaders = false;
    if (VmType(vm, 4) == VM_TTABLE) {
        VmPushCString(vm, "adapter");
        VmRawGet(vm, 4);
        if (VmType(vm, -1) == VM_TSTRING) {
            loaders = VmGetString(vm, -1);
            haveLoaders = true;
        }
        VmPop(vm, 1);
    }
    if (!useHandle) {
        DosFile* old;
        if (FindFileHandle(id, &old) == 0)
            RemoveFileHandle(id, vm);
    }
    PrintMessage(GetString(MSG_OPENING_FILE), fileName.c_str(), 1);
    StreamHandle* stream =
        StreamOpen(fileName.c_str(), access | STREAM_ADAPTERS, haveLoaders ? loaders.c_str() : nullptr);
    if (!stream) {
        PrintFailed();
        SetErrorText(fileName.c_str());
        return access == DOSACCESS_READ ? ERR_READFILE : ERR_WRITEFILE;
    }
    auto* f = static_cast<DosFile*>(OsAllocMem(sizeof(DosFile), 1));
    if (!f) {
        StreamClose(stream);
        PrintFailed();
        return ERR_MEM;
    }
    f->header.type = OBJ_FILE;
    f->header.id = id.id;
    f->header.handle = useHandle ? reinterpret_cast<uintptr_t>(f) : id.handle;
    f->mode = mode;
    f->access = access;
    f->stream = stream;
    DosFile** link = &DosState.files;
    while (*link)
        link = reinterpret_cast<DosFile**>(&(*link)->header.next);
    *link = f;
    PrintDone();
    if (!useHandle)
        return 0;
    VmPushLightUserdata(vm, f);
    return 1;
}

uint32_t CmdCloseFile(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    return RemoveFileHandle(GetObjectIdArg(vm, 1), vm);
}

uint32_t CmdEof(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    DosFile* f;
    if (uint32_t code = FindFileHandle(GetObjectIdArg(vm, 1), &f))
        return code;
    VmPushNumber(vm, StreamEof(f->stream) ? 1 : 0);
    return 1;
}

uint32_t CmdReadChr(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    DosFile* f;
    if (uint32_t code = DosFileForRead(vm, 1, &f))
        return code;
    uint8_t byte;
    if (DosRead(f->stream, &byte, 1) != 1)
        return ERR_READ;
    VmPushNumber(vm, byte);
    return 1;
}

uint32_t CmdReadShort(VmState* vm) { return ReadIntegerCommand(vm, 2); }
uint32_t CmdReadInt(VmState* vm) { return ReadIntegerCommand(vm, 4); }

uint32_t CmdReadFloat(VmState* vm)
{
    CheckArgs(vm, 1, 3, 0, 0);
    DosFile* f;
    if (uint32_t code = DosFileForRead(vm, 1, &f))
        return code;
    size_t size;
    if (uint32_t code = FloatSizeArg(vm, 2, &size))
        return code;
    uint64_t bits;
    if (uint32_t code = ReadOrderedValue(f, size, DosFlagArg(vm, 3, false), &bits))
        return code;
    double value;
    if (size == 4) {
        uint32_t b32 = static_cast<uint32_t>(bits);
        float single;
        std::memcpy(&single, &b32, 4);
        value = single;
    } else {
        std::memcpy(&value, &bits, 8);
    }
    VmPushNumber(vm, value);
    return 1;
}

uint32_t CmdReadString(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    DosFile* f;
    if (uint32_t code = DosFileForRead(vm, 1, &f))
        return code;
    int64_t length = DoubleToInt64(VmCheckNumber(vm, 2));
    if (length < 0)
        return ERR_WRONGUSAGE;
    if (length == 0) {
        VmPushLString(vm, "", 0);
        return 1;
    }
    auto* block = static_cast<char*>(OsAllocMem(static_cast<size_t>(length), 0));
    if (!block)
        return ERR_MEM;
    size_t got = DosRead(f->stream, block, static_cast<size_t>(length));
    if (got != static_cast<size_t>(length)) {
        OsFreeMem(block);
        return ERR_READ;
    }
    VmPushLString(vm, block, got);
    OsFreeMem(block);
    return 1;
}

uint32_t CmdReadLine(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    DosFile* f;
    if (uint32_t code = DosFileForRead(vm, 1, &f))
        return code;
    std::string line;
    for (;;) {
        uint8_t byte;
        if (DosRead(f->stream, &byte, 1) != 1) {
            if (!StreamEof(f->stream))
                return ERR_READ;
            break;
        }
        if (byte == '\n')
            break;
        if (byte != '\r')
            line.push_back(static_cast<char>(byte));
    }
    VmPushLString(vm, line.data(), line.size());
    return 1;
}

uint32_t CmdWriteChr(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    DosFile* f;
    if (uint32_t code = DosFileForWrite(vm, 1, &f))
        return code;
    uint8_t byte = static_cast<uint8_t>(DoubleToLow32(VmCheckNumber(vm, 2)));
    return DosWrite(f->stream, &byte, 1) == 1 ? 0u : uint32_t{ERR_WRITE};
}

uint32_t CmdWriteShort(VmState* vm) { return WriteIntegerCommand(vm, 2); }
uint32_t CmdWriteInt(VmState* vm) { return WriteIntegerCommand(vm, 4); }

uint32_t CmdWriteFloat(VmState* vm)
{
    CheckArgs(vm, 2, 4, 0, 0);
    DosFile* f;
    if (uint32_t code = DosFileForWrite(vm, 1, &f))
        return code;
    double value = VmCheckNumber(vm, 2);
    size_t size;
    if (uint32_t code = FloatSizeArg(vm, 3, &size))
        return code;
    uint64_t bits;
    if (size == 4) {
        float single = static_cast<float>(value);
        uint32_t b32;
        std::memcpy(&b32, &single, 4);
        bits = b32;
    } else {
        std::memcpy(&bits, &value, 8);
    }
    return WriteOrderedValue(f, size, DosFlagArg(vm, 4, false), bits);
}

uint32_t CmdWriteString(VmState* vm)
{
    CheckArgs(vm, 2, 3, 0, 0);
    DosFile* f;
    if (uint32_t code = DosFileForWrite(vm, 1, &f))
        return code;
    size_t length = 0;
    const char* text = VmCheckString(vm, 2, &length);
    int64_t count = VmType(vm, 3) == VM_TNONE ? 0 : DoubleToInt64(VmCheckNumber(vm, 3));
    if (count < 0)
        return ERR_WRONGUSAGE;
    if (static_cast<uint64_t>(count) > length)
        return ERR_STRTOOSHORT;
    size_t n = count ? static_cast<size_t>(count) : length;
    return DosWrite(f->stream, text, n) == n ? 0u : uint32_t{ERR_WRITE};
}

uint32_t CmdWriteLine(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    DosFile* f;
    if (uint32_t code = DosFileForWrite(vm, 1, &f))
        return code;
    size_t length = 0;
    const char* text = VmCheckString(vm, 2, &length);
    if (DosWrite(f->stream, text, length) != length || DosWrite(f->stream, "\r\n", 2) != 2)
        return ERR_WRITE;
    return 0;
}

uint32_t CmdSeek(VmState* vm)
{
    CheckArgs(vm, 2, 3, 0, 0);
    DosFile* f;
    if (uint32_t code = FindFileHandle(GetObjectIdArg(vm, 1), &f))
        return code;
    int64_t position = DoubleToInt64(VmCheckNumber(vm, 2));
    int64_t mode = VmType(vm, 3) == VM_TNONE ? int64_t{STREAM_SEEK_BEGINNING} : DoubleToInt64(VmCheckNumber(vm, 3));
    if (mode < STREAM_SEEK_CURRENT || mode > STREAM_SEEK_END)
        return ERR_SEEKFILE;
    if (position == -1 && mode == STREAM_SEEK_BEGINNING) {
        position = 0;
        mode = STREAM_SEEK_END;
    }
    if (StreamSeek(f->stream, position, static_cast<int>(mode)) < 0)
        return ERR_SEEKFILE;
    return 0;
}

uint32_t CmdFilePos(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    DosFile* f;
    if (uint32_t code = FindFileHandle(GetObjectIdArg(vm, 1), &f))
        return code;
    int64_t position = StreamSeek(f->stream, 0, STREAM_SEEK_CURRENT);
    if (position < 0)
        return ERR_SEEKFILE;
    VmPushNumber(vm, static_cast<double>(position));
    return 1;
}

uint32_t CmdFileLength(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    DosFile* f;
    if (uint32_t code = FindFileHandle(GetObjectIdArg(vm, 1), &f))
        return code;
    VmPushNumber(vm, static_cast<double>(StreamSize(f->stream)));
    return 1;
}

uint32_t CmdFlushFile(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    DosFile* f;
    if (uint32_t code = FindFileHandle(GetObjectIdArg(vm, 1), &f))
        return code;
    return f->access == DOSACCESS_READ ? (StreamFlush(f->stream), 0u) : StreamFlushWritten(f->stream);
}

uint32_t CmdSetIOMode(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    int64_t mode = DoubleToInt64(VmCheckNumber(vm, 1));
    if (mode != 0 && mode != 1)
        return ERR_WRONGUSAGE;
    DosState.ioMode = static_cast<uint32_t>(mode);
    return 0;
}

uint32_t CmdExists(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    const char* name = GetFileNameArg(vm, 1);
    int found = 0;
    if (*name) {
        auto* record = static_cast<FileExamineRecord*>(OsAllocMem(sizeof(FileExamineRecord), 1));
        if (!record)
            return ERR_MEM;
        found = ExamineFileByName(name, record, 1);
        OsFreeMem(record);
    }
    VmPushNumber(vm, found ? 1 : 0);
    return 1;
}

uint32_t CmdFileSize(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    // Exists finds a file linked into the applet, so its size is that file's.
    const std::string name = GetFileNameArg(vm, 1);
    auto* record = static_cast<FileExamineRecord*>(OsAllocMem(sizeof(FileExamineRecord), 1));
    if (!record)
        return ERR_MEM;
    double size = -1;
    if (ExamineFileByName(name.c_str(), record, 1) && record->kind == FILEINFO_FILE)
        size = static_cast<double>(record->size);
    OsFreeMem(record);
    VmPushNumber(vm, size);
    return 1;
}

uint32_t CmdPathPart(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    const char* path = VmCheckString(vm, 1, nullptr);
    if (IsChunkName(path))
        return ERR_WRONGUSAGE;
    VmPushLString(vm, path, static_cast<size_t>(PathFilePart(path) - path));
    return 1;
}

uint32_t CmdFilePart(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    size_t length = 0;
    const char* path = VmCheckString(vm, 1, &length);
    std::string out(length + 1, '\0');
    size_t n = ChunkNameToFileName(path, out.data(), out.size());
    VmPushLString(vm, out.data(), n);
    return 1;
}

uint32_t RefuseSameFile(const std::string& source, const std::string& destination)
{
    if (!OsSameFile(source.c_str(), destination.c_str()))
        return 0;
    SetErrorText(destination.c_str());
    return ERR_WRITEFILE;
}

uint32_t CmdCompressFile(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    std::string source = GetFileNameArg(vm, 1);
    std::string destination = VmCheckString(vm, 2, nullptr);
    if (uint32_t code = RefuseSameFile(source, destination))
        return code;
    uint64_t written = 0;
    if (uint32_t code =
            DeflateFileWithMagic(CONTAINER_MAGIC_PACKAGE, source.c_str(), destination.c_str(), nullptr, &written))
        return code;
    VmPushNumber(vm, static_cast<double>(written));
    return 1;
}

uint32_t CmdDecompressFile(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    std::string source = GetFileNameArg(vm, 1);
    std::string destination = VmCheckString(vm, 2, nullptr);
    if (uint32_t code = RefuseSameFile(source, destination))
        return code;
    uint64_t size = 0;
    if (uint32_t code = InflateFileWithMagic(CONTAINER_MAGIC_PACKAGE, source.c_str(), destination.c_str(), nullptr,
                                             0, &size, nullptr, nullptr, 0))
        return code;
    VmPushNumber(vm, static_cast<double>(size));
    return 1;
}
