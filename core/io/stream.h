// The stream layer: one handle type over every source a file name can
// reach: host files and ":::chunk" regions (through the file layer),
// ":::chunkS" virtual string files, ":::memory" blocks, and, once plugins
// are loaded, files served by file-adapter plugins. Each kind of source is a
// table of operations (StreamOps) chosen when the stream opens; adapters
// plug in through StreamAdapterHooks.
//
// Also here: file locks (examining a file or folder by name, scanning a
// folder) over the same kinds of names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/io/file_info.h"

struct StreamHandle;
struct VirtualStringFile;
struct ChunkNameParts;
struct OsDirLock;

// Open-mode bits of StreamOpen.
enum StreamOpenMode : uint32_t {
    STREAM_READ = 0x1,
    STREAM_WRITE = 0x2,          // create or truncate
    STREAM_READWRITE = 0x4,      // created when missing
    STREAM_ADAPTERS = 0x8,       // file adapters may serve the stream
    STREAM_SEEKEMULATION = 0x10, // a noseek adapter stream emulates seeks
};

// Stream flags that an adapter sets while it opens a stream.
enum StreamFlags : uint32_t {
    STREAMFLAG_STREAMING = 0x1,
    STREAMFLAG_NOSEEK = 0x2,
};

enum StreamSeekMode : int {
    STREAM_SEEK_CURRENT = 0,
    STREAM_SEEK_BEGINNING = 1,
    STREAM_SEEK_END = 2,
};

// The operations of one kind of source. An adapter's table answers seek as
// its FSeek does (raw, without emulation): StreamSeek emulates around it.
struct StreamOps {
    size_t (*read)(StreamHandle* handle, void* buffer, size_t count);
    size_t (*write)(StreamHandle* handle, const void* buffer, size_t count);
    int (*getc)(StreamHandle* handle);
    int (*putc)(StreamHandle* handle, int byte);
    int (*flush)(StreamHandle* handle);
    int (*eof)(StreamHandle* handle);
    int64_t (*seek)(StreamHandle* handle, int64_t offset, int mode);
    uint64_t (*size)(StreamHandle* handle);
    int (*examine)(StreamHandle* handle, FileInfoRecord* info);
    int (*close)(StreamHandle* handle);
};

struct StreamHandle {
    void* adapterNode;          // serving adapter plugin's node, null for built-in sources
    void* fileHandle;           // the adapter's handle or the file layer's OsFileHandle
    uint32_t mode;              // open mode (or the adapter's mode code plus 0x10)
    uint32_t flags;             // StreamFlags, written by the adapter
    VirtualStringFile* region;  // memory sources: the record read and written
    uint64_t position;          // memory sources: position in region->data
    uint32_t ownsRecord;        // ":::memory": the record is the handle's to free
    const StreamOps* ops;
};

// Opens name; null on failure. loaderList is the caller's adapter list
// (null for the default). ":::chunk" regions and ":::memory" blocks refuse
// every write mode; read-only virtual string files too.
StreamHandle* StreamOpen(const char* name, uint32_t mode, const char* loaderList = nullptr);

// Closes and frees the handle: the source's close answer, 1 for memory.
int StreamClose(StreamHandle* handle);

// A stream the caller opened for reading, closed on every path out of its
// scope.
struct StreamCloser {
    StreamHandle* stream = nullptr;
    ~StreamCloser()
    {
        if (stream)
            StreamClose(stream);
    }
};

// Closes (or flushes) a stream that was written to: 0, or ERR_WRITE when a
// host file reports that buffered bytes never reached it (a full disk
// shows only here). Adapter streams answer in their plugin's own terms and
// count as written.
uint32_t StreamCloseWritten(StreamHandle* handle);
uint32_t StreamFlushWritten(StreamHandle* handle);

size_t StreamRead(StreamHandle* handle, void* buffer, size_t count);
size_t StreamReadBytes(StreamHandle* handle, void* buffer, size_t count);
size_t StreamWrite(StreamHandle* handle, const void* buffer, size_t count);
size_t StreamWriteBytes(StreamHandle* handle, const void* buffer, size_t count);
int StreamGetC(StreamHandle* handle);
int StreamPutC(StreamHandle* handle, int byte);
int StreamFlush(StreamHandle* handle);
int StreamEof(StreamHandle* handle);

// Answers the position before the seek, or -1 when the seek failed (the
// position is then unchanged). Targets before the start are refused;
// memory sources stop at their end.
int64_t StreamSeek(StreamHandle* handle, int64_t offset, int mode);

// Size in bytes; the position is kept.
uint64_t StreamSize(StreamHandle* handle);

// The size when the source can tell it; false for an adapter stream that
// cannot be examined (StreamSize answers 0 for it).
bool StreamKnownSize(StreamHandle* handle, uint64_t* outSize);

// Non-zero on success; info is cleared first.
int ExamineStream(StreamHandle* handle, FileInfoRecord* info);

const char* GetStreamAdapterName(StreamHandle* handle);
int IsStreamNoSeek(StreamHandle* handle);
// Whether StreamSeek reaches any position from the start: false only for a
// noseek adapter stream opened without STREAM_SEEKEMULATION.
bool StreamCanSeek(StreamHandle* handle);
uint32_t GetStreamFlags(StreamHandle* handle);

// Bytes that one step of seek emulation (and of the stream copies) moves.
constexpr size_t STREAM_SKIP_BUFFER = 16384;

// ---------------------------------------------------------------------------
// File locks.

enum FileLockKind : uint32_t {
    FILELOCK_PLATFORM = 0,
    FILELOCK_CHUNK = 1,      // ":::chunk" region
    FILELOCK_STRING = 2,     // ":::chunkS" virtual string file
    FILELOCK_DIRADAPTER = 3,
    FILELOCK_FILEADAPTER = 4,
};

// Lock-mode bit: adapters may serve the name.
constexpr uint32_t FILELOCK_ADAPTERS = 0x4;

struct FileLock {
    void* dirAdapterNode;
    void* fileAdapterNode;
    void* handle;               // adapter's folder handle or the platform's OsDirLock
    char* name;                 // as given
    char* entryName;            // last entry of an adapter scan
    VirtualStringFile* virtualFile;
    uint32_t kind;              // FileLockKind
    void* adapterData;          // whatever the adapter hooks keep (their Stat answer)
};

FileLock* OpenFileLock(const char* name, uint32_t lockMode, const char* loaderList = nullptr);
void CloseFileLock(FileLock* lock);

// 0 on success, else the platform's error code.
int ExamineLock(FileLock* lock, FileInfoRecord* info);

// 0 when the lock can be scanned, else an error code (ERR_NOTADIR for files
// and linked files).
int DirScanBegin(FileLock* lock, void** outPointer);

// Non-zero while an entry was produced; every out argument may be null.
int DirScanNext(FileLock* lock, uintptr_t scanWord, const char** outName, int* outIsDirectory,
                FileInfoRecord* info);

const char* GetLockAdapterName(FileLock* lock);

// Index of the lowest set bit, -1 for 0.
int LowestBitIndex(uint32_t word);

// A new, empty file with a unique temporary name that ends in the extension
// of name (for a ":::chunk" name, of its embedded name; none when the file
// part has no '.'); its full path goes to buffer. 0, ERR_NAMETOOLONG or
// ERR_WRITEFILE.
uint32_t MakeTempFileNameWithExt(char* buffer, size_t size, const char* name);

// The extension (with its '.') that MakeTempFileNameWithExt keeps.
std::string ModelExtension(const char* name);

// The record of a lock with no examination of its own (linked files):
// flags 15, no auxiliary text, all three times 4 November 2002 10:30:00.
void FillDefaultFileInfo(FileInfoRecord* info, uint32_t kind, uint64_t size);

// The runtime's start time as a file time (memory sources are dated so).
uint64_t RuntimeStartFileTime();

// ---------------------------------------------------------------------------
// Seam for file and directory adapter plugins. Until the plugin host
// installs hooks, every name is served by the built-in sources.

struct StreamAdapterHooks {
    // Offers a stream to the file-adapter chain. chunk is set for ":::chunk"
    // names, memoryData/memorySize for ":::memory" names, region for
    // ":::chunkS" names. On success the hook fills the handle (adapterNode,
    // fileHandle, ops, mode, flags) and answers true.
    bool (*openStream)(StreamHandle* handle, const char* name, uint32_t mode, const char* loaderList,
                       const ChunkNameParts* chunk, const uint8_t* memoryData, uint64_t memorySize);
    const char* (*streamAdapterName)(StreamHandle* handle);
    // Offers a lock to the directory and file adapters; on success the hook
    // fills dirAdapterNode or fileAdapterNode, handle and adapterData.
    bool (*openLock)(FileLock* lock, const char* name, const char* loaderList);
    void (*closeLock)(FileLock* lock);
    int (*examineLock)(FileLock* lock, FileInfoRecord* info);
    int (*scanNext)(FileLock* lock, const char** outName, int* outIsDirectory, FileInfoRecord* info);
    const char* (*lockAdapterName)(FileLock* lock);
    // Asks the file adapters to examine a name; true when one answered.
    bool (*statName)(const char* name, FileInfoRecord* info);
};

// Installs the hooks (null removes them).
void SetStreamAdapterHooks(const StreamAdapterHooks* hooks);
const StreamAdapterHooks* CurrentStreamAdapterHooks();
