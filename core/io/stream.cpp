// The stream layer: StreamOpen picks the source for a name and the table of
// operations that serves it; every other entry point dispatches through
// that table. Memory sources (":::memory" blocks and ":::chunkS" virtual
// string files) are served here; host files and ":::chunk" regions by the
// file layer; adapter plugins through the hooks.
#include "core/io/stream.h"

#include <cstring>
#include <ctime>

#include "core/glue/file_layer.h"
#include "core/io/error_codes.h"
#include "core/io/virtual_files.h"
#include "core/io/virtual_names.h"
#include "core/plugins/loader_lists.h"
#include "platform/posix/os_files.h"
#include "platform/posix/os_memory.h"

namespace {

const StreamAdapterHooks* g_hooks = nullptr;

// ---------------------------------------------------------------------------
// Memory sources: the handle's region record holds data, size and (for
// writable virtual files) capacity; the handle holds the position.

size_t MemoryRead(StreamHandle* handle, void* buffer, size_t count)
{
    VirtualStringFile* region = handle->region;
    uint64_t left = handle->position < region->size ? region->size - handle->position : 0;
    if (count > left)
        count = static_cast<size_t>(left);
    if (count) {
        std::memcpy(buffer, region->data + handle->position, count);
        handle->position += count;
    }
    return count;
}

int MemoryGetC(StreamHandle* handle)
{
    VirtualStringFile* region = handle->region;
    if (handle->position >= region->size)
        return -1;
    return region->data[handle->position++];
}

size_t MemoryWrite(StreamHandle* handle, const void* buffer, size_t count)
{
    VirtualStringFile* region = handle->region;
    if (!region->writable)
        return 0;
    uint64_t end = handle->position + count;
    if (end < handle->position)
        return 0;
    if (end > region->capacity) {
        uint64_t capacity = region->capacity;
        while (capacity < end) {
            if (capacity > UINT64_MAX - VIRTUAL_FILE_GROWTH)
                return 0;
            capacity += VIRTUAL_FILE_GROWTH;
        }
        if (capacity > SIZE_MAX)
            return 0;
        auto* grown = static_cast<uint8_t*>(OsAllocMem(static_cast<size_t>(capacity), 0));
        if (!grown)
            return 0;
        if (region->size)
            std::memcpy(grown, region->data, static_cast<size_t>(region->size));
        OsFreeMem(region->data);
        region->data = grown;
        region->capacity = capacity;
    }
    if (count)
        std::memcpy(region->data + handle->position, buffer, count);
    handle->position = end;
    if (end > region->size)
        region->size = end;
    return count;
}

int MemoryPutC(StreamHandle* handle, int byte)
{
    unsigned char value = static_cast<unsigned char>(byte);
    return MemoryWrite(handle, &value, 1) == 1 ? 1 : 0;
}

int MemoryFlush(StreamHandle*)
{
    return 1;
}

int MemoryEof(StreamHandle* handle)
{
    return handle->position >= handle->region->size;
}

int64_t MemorySeek(StreamHandle* handle, int64_t offset, int mode)
{
    uint64_t size = handle->region->size;
    __int128 target;
    if (mode == STREAM_SEEK_CURRENT)
        target = static_cast<__int128>(handle->position) + offset;
    else if (mode == STREAM_SEEK_END)
        target = static_cast<__int128>(size) + offset;
    else
        target = offset;
    if (target < 0)
        return -1;
    if (target > static_cast<__int128>(size))
        target = size;
    int64_t previous = static_cast<int64_t>(handle->position);
    handle->position = static_cast<uint64_t>(target);
    return previous;
}

uint64_t MemorySize(StreamHandle* handle)
{
    return handle->region->size;
}

int MemoryExamine(StreamHandle* handle, FileInfoRecord* info)
{
    info->kind = FILEINFO_FILE;
    info->size = handle->region->size;
    info->flags = FILEATTR_DEFAULT;
    uint64_t start = RuntimeStartFileTime();
    info->times[0] = info->times[1] = info->times[2] = start;
    info->fullPath = handle->region->name;
    return 1;
}

int MemoryClose(StreamHandle* handle)
{
    if (handle->ownsRecord)
        OsFreeMem(handle->region);
    else if (handle->region)
        ReleaseVirtualStringFile(handle->region);
    handle->region = nullptr;
    return 1;
}

const StreamOps kMemoryOps = {
    MemoryRead, MemoryWrite, MemoryGetC, MemoryPutC, MemoryFlush,
    MemoryEof, MemorySeek, MemorySize, MemoryExamine, MemoryClose,
};

// ---------------------------------------------------------------------------
// Host files and ":::chunk" regions, through the file layer.

OsFileHandle* FileOf(StreamHandle* handle)
{
    return static_cast<OsFileHandle*>(handle->fileHandle);
}

size_t FileRead(StreamHandle* handle, void* buffer, size_t count)
{
    return OsFileRead(FileOf(handle), buffer, count);
}

size_t FileWrite(StreamHandle* handle, const void* buffer, size_t count)
{
    return OsFileWrite(FileOf(handle), buffer, count);
}

int FileGetC(StreamHandle* handle)
{
    return OsFileGetC(FileOf(handle));
}

int FilePutC(StreamHandle* handle, int byte)
{
    return OsFilePutC(FileOf(handle), byte);
}

int FileFlush(StreamHandle* handle)
{
    return OsFileFlush(FileOf(handle));
}

int FileEof(StreamHandle* handle)
{
    return OsFileEof(FileOf(handle));
}

int64_t FileSeek(StreamHandle* handle, int64_t offset, int mode)
{
    return OsFileSeek(FileOf(handle), offset, mode);
}

uint64_t FileSize(StreamHandle* handle)
{
    int64_t here = OsFileSeek(FileOf(handle), 0, STREAM_SEEK_END);
    if (here < 0)
        return 0;
    int64_t end = OsFileSeek(FileOf(handle), here, STREAM_SEEK_BEGINNING);
    return end < 0 ? 0 : static_cast<uint64_t>(end);
}

int FileExamine(StreamHandle* handle, FileInfoRecord* info)
{
    return OsExamineStream(FileOf(handle), info);
}

int FileClose(StreamHandle* handle)
{
    int result = OsFileClose(FileOf(handle));
    handle->fileHandle = nullptr;
    return result;
}

const StreamOps kFileOps = {
    FileRead, FileWrite, FileGetC, FilePutC, FileFlush,
    FileEof, FileSeek, FileSize, FileExamine, FileClose,
};

bool AsksForWriting(uint32_t mode)
{
    return (mode & (STREAM_WRITE | STREAM_READWRITE)) != 0;
}

// A noseek adapter stream reaches a target by rewinding (when it lies
// behind) and reading forward through a fixed block.
int64_t EmulateSeek(StreamHandle* handle, int64_t offset, int mode)
{
    if (!(handle->mode & STREAM_SEEKEMULATION) || mode == STREAM_SEEK_END)
        return -1;
    int64_t current = handle->ops->seek(handle, 0, STREAM_SEEK_CURRENT);
    if (current < 0)
        return -1;
    __int128 target = mode == STREAM_SEEK_BEGINNING ? static_cast<__int128>(offset)
                                                     : static_cast<__int128>(current) + offset;
    if (target < 0 || target > INT64_MAX)
        return -1;
    __int128 skip;
    if (target >= current) {
        skip = target - current;
    } else {
        if (handle->ops->seek(handle, 0, STREAM_SEEK_BEGINNING) < 0)
            return -1;
        skip = target;
    }
    uint8_t* block = static_cast<uint8_t*>(OsAllocMem(STREAM_SKIP_BUFFER, 0));
    if (!block)
        return -1;
    int64_t result = current;
    while (skip > 0) {
        size_t piece = skip > static_cast<__int128>(STREAM_SKIP_BUFFER) ? STREAM_SKIP_BUFFER
                                                                         : static_cast<size_t>(skip);
        if (handle->ops->read(handle, block, piece) != piece) {
            result = -1;
            break;
        }
        skip -= piece;
    }
    OsFreeMem(block);
    return result;
}

} // namespace

// ---------------------------------------------------------------------------

void SetStreamAdapterHooks(const StreamAdapterHooks* hooks)
{
    g_hooks = hooks;
}

const StreamAdapterHooks* CurrentStreamAdapterHooks()
{
    return g_hooks;
}

namespace {

uint64_t NowFileTime()
{
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * FILETIME_TICKS_PER_SECOND + static_cast<uint64_t>(ts.tv_nsec) / 100 +
           FILETIME_UNIX_EPOCH;
}

// Taken when the program loads, so that every memory source of a run carries
// the same date.
const uint64_t g_startFileTime = NowFileTime();

} // namespace

uint64_t RuntimeStartFileTime()
{
    return g_startFileTime;
}

StreamHandle* StreamOpen(const char* name, uint32_t mode, const char* loaderList)
{
    auto* handle = static_cast<StreamHandle*>(OsAllocMem(sizeof(StreamHandle), 1));
    if (!handle)
        return nullptr;

    ChunkNameParts chunk;
    bool isChunk = IsChunkName(name);
    const uint8_t* memoryData = nullptr;
    uint64_t memorySize = 0;
    if (isChunk) {
        if (!ParseChunkName(name, &chunk)) {
            OsFreeMem(handle);
            return nullptr;
        }
        if (chunk.isString) {
            if (AsksForWriting(mode) && !chunk.object->writable) {
                OsFreeMem(handle);
                return nullptr;
            }
            handle->region = chunk.object;
        } else if (AsksForWriting(mode)) {
            // Linked files are part of the applet: never written, by anyone.
            OsFreeMem(handle);
            return nullptr;
        }
    } else if (IsMemoryName(name)) {
        if (AsksForWriting(mode) || !ParseMemoryName(name, &memoryData, &memorySize)) {
            OsFreeMem(handle);
            return nullptr;
        }
        static const char kUnnamed[] = "Unnamed";
        auto* record = static_cast<VirtualStringFile*>(OsAllocMem(sizeof(VirtualStringFile), 1));
        if (!record) {
            OsFreeMem(handle);
            return nullptr;
        }
        record->sourceRef = -1;
        record->anchorRef = -1;
        record->data = const_cast<uint8_t*>(memoryData);
        record->size = memorySize;
        record->name = kUnnamed;
        handle->region = record;
        handle->ownsRecord = 1;
    }

    if ((mode & STREAM_ADAPTERS) && g_hooks && g_hooks->openStream &&
        g_hooks->openStream(handle, name, mode, loaderList, (isChunk && !chunk.isString) ? &chunk : nullptr,
                            memoryData, memorySize)) {
        if (handle->ownsRecord)
            OsFreeMem(handle->region);
        handle->region = nullptr;
        handle->ownsRecord = 0;
        return handle;
    }

    handle->mode = mode;
    if (handle->region) {
        // A string file stays alive while a stream reads it, even when the
        // script undefines it meanwhile.
        if (!handle->ownsRecord)
            RetainVirtualStringFile(handle->region);
        handle->ops = &kMemoryOps;
        return handle;
    }
    if (IsLoaderAllowed(loaderList, "inbuilt", false)) {
        OsFileHandle* file = OsFileOpen(name, mode);
        if (file) {
            handle->fileHandle = file;
            handle->ops = &kFileOps;
            return handle;
        }
    }
    OsFreeMem(handle);
    return nullptr;
}

int StreamClose(StreamHandle* handle)
{
    int result = handle->ops->close(handle);
    OsFreeMem(handle);
    return result;
}

uint32_t StreamCloseWritten(StreamHandle* handle)
{
    bool builtIn = handle->adapterNode == nullptr;
    int answer = StreamClose(handle);
    return builtIn && answer == 0 ? uint32_t{ERR_WRITE} : 0u;
}

uint32_t StreamFlushWritten(StreamHandle* handle)
{
    int answer = StreamFlush(handle);
    return handle->adapterNode == nullptr && answer == 0 ? uint32_t{ERR_WRITE} : 0u;
}

size_t StreamRead(StreamHandle* handle, void* buffer, size_t count)
{
    return handle->ops->read(handle, buffer, count);
}

size_t StreamReadBytes(StreamHandle* handle, void* buffer, size_t count)
{
    return handle->ops->read(handle, buffer, count);
}

size_t StreamWrite(StreamHandle* handle, const void* buffer, size_t count)
{
    return handle->ops->write(handle, buffer, count);
}

size_t StreamWriteBytes(StreamHandle* handle, const void* buffer, size_t count)
{
    return handle->ops->write(handle, buffer, count);
}

int StreamGetC(StreamHandle* handle)
{
    return handle->ops->getc(handle);
}

int StreamPutC(StreamHandle* handle, int byte)
{
    return handle->ops->putc(handle, byte);
}

int StreamFlush(StreamHandle* handle)
{
    return handle->ops->flush(handle);
}

int StreamEof(StreamHandle* handle)
{
    return handle->ops->eof(handle);
}

int64_t StreamSeek(StreamHandle* handle, int64_t offset, int mode)
{
    if (handle->adapterNode && (handle->flags & STREAMFLAG_NOSEEK) &&
        !(offset == 0 && (mode == STREAM_SEEK_CURRENT || mode == STREAM_SEEK_BEGINNING)))
        return EmulateSeek(handle, offset, mode);
    return handle->ops->seek(handle, offset, mode);
}

uint64_t StreamSize(StreamHandle* handle)
{
    return handle->ops->size(handle);
}

bool StreamKnownSize(StreamHandle* handle, uint64_t* outSize)
{
    if (handle->adapterNode) {
        FileInfoRecord info;
        if (!ExamineStream(handle, &info))
            return false;
        *outSize = info.size;
        return true;
    }
    *outSize = StreamSize(handle);
    return true;
}

int ExamineStream(StreamHandle* handle, FileInfoRecord* info)
{
    std::memset(info, 0, sizeof(*info));
    return handle->ops->examine(handle, info);
}

const char* GetStreamAdapterName(StreamHandle* handle)
{
    if (!handle->adapterNode || !g_hooks || !g_hooks->streamAdapterName)
        return nullptr;
    return g_hooks->streamAdapterName(handle);
}

int IsStreamNoSeek(StreamHandle* handle)
{
    return (handle->flags & STREAMFLAG_NOSEEK) ? 1 : 0;
}

bool StreamCanSeek(StreamHandle* handle)
{
    return !IsStreamNoSeek(handle) || (handle->mode & STREAM_SEEKEMULATION) != 0;
}

uint32_t GetStreamFlags(StreamHandle* handle)
{
    return handle->flags;
}
