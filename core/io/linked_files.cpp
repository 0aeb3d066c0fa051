// Linked files, byte-order stream I/O, examination by name, whole-file
// copies and loads.
#include "core/io/linked_files.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "core/io/case_tables.h"
#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/file_parts.h"
#include "core/io/stream.h"
#include "core/io/virtual_names.h"
#include "core/io/whole_file.h"
#include "core/services/path_helpers.h"
#include "core/vm/library_glue.h"
#include "platform/posix/os_files.h"
#include "platform/posix/os_memory.h"
#include "platform/posix/os_paths.h"

namespace {

const LinkedFileRecord* g_linkedFiles = nullptr;
uint64_t g_appletStart = 0;

constexpr char FONT_PREFIX[] = "::font:";
constexpr size_t FONT_PREFIX_LEN = sizeof(FONT_PREFIX) - 1;
constexpr size_t COPY_PIECE = 16384;

bool SameLinkedName(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        uint8_t ca = static_cast<uint8_t>(*a == '\\' ? '/' : *a);
        uint8_t cb = static_cast<uint8_t>(*b == '\\' ? '/' : *b);
        if (ToLowerLatin1(ca) != ToLowerLatin1(cb))
            return false;
        if (ca == 0)
            return true;
    }
}

bool EndsWithNoCase(const std::string& text, const char* ending)
{
    size_t n = std::strlen(ending);
    if (text.size() < n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (ToLowerLatin1(static_cast<uint8_t>(text[text.size() - n + i])) !=
            ToLowerLatin1(static_cast<uint8_t>(ending[i])))
            return false;
    return true;
}

bool IsFontEntry(const LinkedFileRecord* entry)
{
    for (size_t i = 0; i < FONT_PREFIX_LEN; ++i)
        if (ToLowerLatin1(static_cast<uint8_t>(entry->name[i])) != static_cast<uint8_t>(FONT_PREFIX[i]))
            return false;
    return true;
}

bool MatchesLinkedEntry(const LinkedFileRecord* entry, const char* key, bool fontLookup)
{
    bool isFont = IsFontEntry(entry);
    if (fontLookup)
        return isFont && SameLinkedName(entry->name + FONT_PREFIX_LEN, key);
    return !isFont && SameLinkedName(entry->name, key);
}

// Streams this module opened itself are closed on every path.
struct SourceStream {
    StreamHandle* handle = nullptr;
    bool owned = false;
    ~SourceStream()
    {
        if (owned && handle)
            StreamClose(handle);
    }
};

uint32_t OpenSource(SourceStream& src, const char* name, const char* loaderList, StreamHandle* given)
{
    if (given) {
        src.handle = given;
        StreamSeek(given, 0, STREAM_SEEK_BEGINNING);
        return 0;
    }
    src.handle = StreamOpen(name, STREAM_READ | STREAM_ADAPTERS, loaderList);
    if (!src.handle) {
        SetErrorText(name);
        return ERR_READFILE;
    }
    src.owned = true;
    return 0;
}

uint32_t ReadByteMasked(StreamHandle* stream)
{
    // An end of stream (-1) must not spread its sign over the other bytes.
    return static_cast<uint32_t>(StreamGetC(stream)) & 0xFF;
}

void ToDateStamp(const FileInfoRecord& info, int slot, DateStamp* date)
{
    if (!OsFileTimeToDate(info.times, date, slot))
        std::memset(date, 0, sizeof(*date));
}

} // namespace

void SetLinkedFiles(const LinkedFileRecord* first, uint64_t appletStart)
{
    g_linkedFiles = first;
    g_appletStart = appletStart;
}

const char* ResolveLinkedFile(VmState* vm, const char* name, int fontLookup, int* outIsFont)
{
    (void)vm;
    static std::string result;
    if (outIsFont)
        *outIsFont = 0;
    std::string key = name;
    if (fontLookup) {
        if (EndsWithNoCase(key, ".ttf") || EndsWithNoCase(key, ".otf"))
            fontLookup = 0;
        else if (EndsWithNoCase(key, ".font"))
            key.resize(key.size() - 5);
    }

    for (const LinkedFileRecord* entry = g_linkedFiles; entry; entry = entry->next) {
        if (!MatchesLinkedEntry(entry, key.c_str(), fontLookup != 0))
            continue;
        const char* display = fontLookup ? entry->name + FONT_PREFIX_LEN : entry->name;
        const char* container = entry->container[0] ? entry->container : OsProgramFilePath().c_str();
        std::vector<char> buffer(std::strlen(display) + std::strlen(container) + 64);
        if (!MakeChunkName(display, buffer.data(), buffer.size(), entry->offset, entry->size, g_appletStart,
                           container))
            return name;
        result = buffer.data();
        if (outIsFont)
            *outIsFont = fontLookup ? 1 : 0;
        return result.c_str();
    }
    return name;
}

uint32_t RefuseLinkedFileName(const char* name)
{
    for (const LinkedFileRecord* entry = g_linkedFiles; entry; entry = entry->next) {
        if (!MatchesLinkedEntry(entry, name, false))
            continue;
        std::string detail = "\"" + std::string(name, strnlen(name, 200)) +
                             "\" is a file linked into the applet: it is read from there and cannot be deleted "
                             "or renamed";
        SetErrorDetail(ERR_WRONGUSAGE, detail.c_str());
        return ERR_WRONGUSAGE;
    }
    return 0;
}

const char* GetFileNameArg(VmState* vm, int index)
{
    return ResolveLinkedFile(vm, VmCheckString(vm, index, nullptr), 0, nullptr);
}

uint32_t ReadLongBE(StreamHandle* stream)
{
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value = (value << 8) | ReadByteMasked(stream);
    return value;
}

uint32_t ReadLongLE(StreamHandle* stream)
{
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value |= ReadByteMasked(stream) << (8 * i);
    return value;
}

uint16_t ReadWordBE(StreamHandle* stream)
{
    uint32_t high = ReadByteMasked(stream);
    return static_cast<uint16_t>((high << 8) | ReadByteMasked(stream));
}

uint16_t ReadWordLE(StreamHandle* stream)
{
    uint32_t low = ReadByteMasked(stream);
    return static_cast<uint16_t>(low | (ReadByteMasked(stream) << 8));
}

void WriteLongBE(StreamHandle* stream, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        StreamPutC(stream, static_cast<int>((value >> shift) & 0xFF));
}

void WriteLongLE(StreamHandle* stream, uint32_t value)
{
    for (int shift = 0; shift <= 24; shift += 8)
        StreamPutC(stream, static_cast<int>((value >> shift) & 0xFF));
}

void WriteWordBE(StreamHandle* stream, uint16_t value)
{
    StreamPutC(stream, value >> 8);
    StreamPutC(stream, value & 0xFF);
}

void WriteWordLE(StreamHandle* stream, uint16_t value)
{
    StreamPutC(stream, value & 0xFF);
    StreamPutC(stream, value >> 8);
}

int GetLockFullPath(FileLock* lock, char* buffer, size_t size)
{
    switch (lock->kind) {
    case FILELOCK_PLATFORM:
        return OsCopyName(static_cast<OsDirLock*>(lock->handle), buffer, size);
    case FILELOCK_CHUNK:
    case FILELOCK_STRING: {
        std::vector<char> filePart(std::strlen(lock->name) + 1);
        ChunkNameToFileName(lock->name, filePart.data(), filePart.size());
        std::string full = AddPart(OsFullPathString("."), filePart.data());
        return OsCopyPath(buffer, size, full.data(), full.size()) ? 1 : 0;
    }
    default:
        return OsCopyPath(buffer, size, lock->name, std::strlen(lock->name)) ? 1 : 0;
    }
}

int ExamineFileByName(const char* name, FileExamineRecord* record, int useAdapters)
{
    std::memset(record, 0, sizeof(*record));
    FileInfoRecord info;
    const StreamAdapterHooks* hooks = CurrentStreamAdapterHooks();
    if (useAdapters && hooks && hooks->statName) {
        std::memset(&info, 0, sizeof info);
        if (hooks->statName(name, &info)) {
            record->kind = info.kind;
            record->size = info.size;
            record->flags = info.flags;
            ToDateStamp(info, FILETIME_MODIFICATION, &record->modified);
            ToDateStamp(info, FILETIME_ACCESS, &record->accessed);
            ToDateStamp(info, FILETIME_CREATION, &record->created);
            if (info.fullPath)
                OsCopyPath(record->fullPath, sizeof record->fullPath, info.fullPath, std::strlen(info.fullPath));
            OsCopyPath(record->auxText, sizeof record->auxText, info.auxText, strnlen(info.auxText, 255));
            return 1;
        }
    }

    FileLock* lock = OpenFileLock(name, 1);
    if (!lock)
        return 0;
    int ok = ExamineLock(lock, &info) == 0 &&
             GetLockFullPath(lock, record->fullPath, sizeof record->fullPath);
    if (ok) {
        record->kind = info.kind == FILEINFO_DIRECTORY ? FILEINFO_DIRECTORY : FILEINFO_FILE;
        record->size = info.size;
        record->flags = info.flags;
        OsCopyPath(record->auxText, sizeof record->auxText, info.auxText, strnlen(info.auxText, 255));
        ToDateStamp(info, FILETIME_MODIFICATION, &record->modified);
        ToDateStamp(info, FILETIME_ACCESS, &record->accessed);
        ToDateStamp(info, FILETIME_CREATION, &record->created);
    }
    CloseFileLock(lock);
    return ok;
}

uint32_t CopyStreamToFile(const char* source, const char* loaderList, const char* destination,
                          StreamHandle* sourceHandle)
{
    uint8_t* buffer = static_cast<uint8_t*>(OsAllocMem(COPY_PIECE, 0));
    if (!buffer)
        return ERR_MEM;
    struct BufferGuard {
        uint8_t* p;
        ~BufferGuard() { OsFreeMem(p); }
    } guard{buffer};

    SourceStream src;
    if (uint32_t rc = OpenSource(src, source, loaderList, sourceHandle))
        return rc;
    WholeFileWriter out;
    if (uint32_t rc = BeginWholeFile(destination, 0, &out))
        return rc;
    StreamHandle* dst = out.stream;

    uint64_t left = 0;
    bool sized = StreamKnownSize(src.handle, &left);
    uint32_t result = 0;
    for (;;) {
        size_t piece = COPY_PIECE;
        if (sized) {
            if (left == 0)
                break;
            if (left < piece)
                piece = static_cast<size_t>(left);
        }
        size_t n = StreamRead(src.handle, buffer, piece);
        bool lastPiece = false;
        if (n < piece) {
            // Only a source of unknown size may end early, and only at its end.
            if (sized || !StreamEof(src.handle)) {
                result = ERR_READ;
                break;
            }
            lastPiece = true;
        }
        if (n && StreamWrite(dst, buffer, n) != n) {
            result = ERR_WRITE;
            break;
        }
        if (sized)
            left -= n;
        if (lastPiece)
            break;
    }
    return result ? result : CommitWholeFile(&out);
}

uint32_t ReadStreamToMemory(const char* source, const char* loaderList, StreamHandle* sourceHandle,
                            uint8_t** outBlock, uint64_t* outSize)
{
    *outBlock = nullptr;
    *outSize = 0;
    SourceStream src;
    if (uint32_t rc = OpenSource(src, source, loaderList, sourceHandle))
        return rc;

    uint64_t size = 0;
    if (StreamKnownSize(src.handle, &size)) {
        if (size > SIZE_MAX)
            return ERR_MEM;
        // OsAllocMem gives a real block for 0 bytes, so an empty file loads
        // as an empty block.
        uint8_t* block = static_cast<uint8_t*>(OsAllocMem(static_cast<size_t>(size), 0));
        if (!block)
            return ERR_MEM;
        if (size && StreamRead(src.handle, block, static_cast<size_t>(size)) != size) {
            OsFreeMem(block);
            return ERR_READ;
        }
        *outBlock = block;
        *outSize = size;
        return 0;
    }

    std::vector<uint8_t> data;
    std::vector<uint8_t> piece;
    try {
        piece.resize(COPY_PIECE);
        for (;;) {
            size_t n = StreamRead(src.handle, piece.data(), piece.size());
            data.insert(data.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(n));
            if (n < piece.size()) {
                if (!StreamEof(src.handle))
                    return ERR_READ;
                break;
            }
        }
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    uint8_t* block = static_cast<uint8_t*>(OsAllocMem(data.size(), 0));
    if (!block)
        return ERR_MEM;
    if (!data.empty())
        std::memcpy(block, data.data(), data.size());
    *outBlock = block;
    *outSize = data.size();
    return 0;
}
