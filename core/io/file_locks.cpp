// File locks: examining a file or folder by name and scanning a folder,
// over host paths (the platform's examination locks), linked files, virtual
// string files and, through the hooks, adapter plugins.
#include <cstring>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/stream.h"
#include "core/io/virtual_files.h"
#include "core/io/virtual_names.h"
#include "core/plugins/loader_lists.h"
#include "platform/posix/os_files.h"
#include "platform/posix/os_memory.h"

namespace {

OsDirLock* PlatformLock(FileLock* lock)
{
    return static_cast<OsDirLock*>(lock->handle);
}

void FreeLock(FileLock* lock)
{
    OsFreeMem(lock->name);
    OsFreeMem(lock->entryName);
    OsFreeMem(lock);
}

} // namespace

void FillDefaultFileInfo(FileInfoRecord* info, uint32_t kind, uint64_t size)
{
    static const uint64_t defaultTime = [] {
        DateStamp date = {0, 30, 10, 4, 10, 2002};
        uint64_t times[3] = {0, 0, 0};
        OsDateToFileTime(&date, times, 0);
        return times[0];
    }();
    std::memset(info, 0, sizeof(*info));
    info->kind = kind;
    info->size = size;
    info->flags = FILEATTR_DEFAULT;
    info->times[0] = info->times[1] = info->times[2] = defaultTime;
}

FileLock* OpenFileLock(const char* name, uint32_t lockMode, const char* loaderList)
{
    auto* lock = static_cast<FileLock*>(OsAllocMem(sizeof(FileLock), 1));
    if (!lock)
        return nullptr;
    size_t length = std::strlen(name);
    lock->name = static_cast<char*>(OsAllocMem(length + 1, 0));
    if (!lock->name) {
        OsFreeMem(lock);
        return nullptr;
    }
    std::memcpy(lock->name, name, length + 1);

    bool isChunk = IsChunkName(name);
    if ((lockMode & FILELOCK_ADAPTERS) && !isChunk && CurrentStreamAdapterHooks() && CurrentStreamAdapterHooks()->openLock &&
        CurrentStreamAdapterHooks()->openLock(lock, name, loaderList)) {
        lock->kind = lock->dirAdapterNode ? FILELOCK_DIRADAPTER : FILELOCK_FILEADAPTER;
        return lock;
    }

    if (isChunk) {
        ChunkNameParts parts;
        if (name[sizeof(CHUNK_PREFIX) - 1] == 'S') {
            if (!ParseChunkName(name, &parts)) {
                FreeLock(lock);
                return nullptr;
            }
            lock->virtualFile = parts.object;
            lock->kind = FILELOCK_STRING;
        } else {
            lock->kind = FILELOCK_CHUNK;
        }
        return lock;
    }

    if (IsLoaderAllowed(loaderList, "inbuilt", false)) {
        OsDirLock* platform = OsStatFile(name, lockMode & ~FILELOCK_ADAPTERS);
        if (platform) {
            lock->handle = platform;
            lock->kind = FILELOCK_PLATFORM;
            return lock;
        }
    }
    FreeLock(lock);
    return nullptr;
}

void CloseFileLock(FileLock* lock)
{
    if (!lock)
        return;
    switch (lock->kind) {
    case FILELOCK_PLATFORM:
        OsCloseDirScan(PlatformLock(lock));
        break;
    case FILELOCK_DIRADAPTER:
    case FILELOCK_FILEADAPTER:
        if (CurrentStreamAdapterHooks() && CurrentStreamAdapterHooks()->closeLock)
            CurrentStreamAdapterHooks()->closeLock(lock);
        break;
    default:
        break;
    }
    FreeLock(lock);
}

int ExamineLock(FileLock* lock, FileInfoRecord* info)
{
    switch (lock->kind) {
    case FILELOCK_PLATFORM:
        return OsDirScanFirstEntry(PlatformLock(lock), info);
    case FILELOCK_STRING:
        FillDefaultFileInfo(info, FILEINFO_FILE, lock->virtualFile->size);
        return 0;
    case FILELOCK_CHUNK: {
        ChunkNameParts parts;
        FillDefaultFileInfo(info, FILEINFO_FILE, ParseChunkName(lock->name, &parts) ? ChunkRegionSize(parts) : 0);
        return 0;
    }
    case FILELOCK_DIRADAPTER:
    case FILELOCK_FILEADAPTER:
        if (CurrentStreamAdapterHooks() && CurrentStreamAdapterHooks()->examineLock)
            return CurrentStreamAdapterHooks()->examineLock(lock, info);
        FillDefaultFileInfo(info, lock->kind == FILELOCK_DIRADAPTER ? FILEINFO_DIRECTORY : FILEINFO_FILE, 0);
        return 0;
    default:
        return ERR_EXAMINE;
    }
}

int DirScanBegin(FileLock* lock, void** outPointer)
{
    if (outPointer)
        *outPointer = nullptr;
    switch (lock->kind) {
    case FILELOCK_DIRADAPTER:
        return 0;
    case FILELOCK_PLATFORM:
        return OsDirScanBegin(PlatformLock(lock), outPointer);
    case FILELOCK_CHUNK:
    case FILELOCK_STRING:
        SetErrorText(lock->name);
        return ERR_NOTADIR;
    default:
        return ERR_NOTADIR;
    }
}

int DirScanNext(FileLock* lock, uintptr_t scanWord, const char** outName, int* outIsDirectory,
                FileInfoRecord* info)
{
    switch (lock->kind) {
    case FILELOCK_PLATFORM:
        return OsNextDirEntry(PlatformLock(lock), scanWord, outName, outIsDirectory, info);
    case FILELOCK_DIRADAPTER:
        if (CurrentStreamAdapterHooks() && CurrentStreamAdapterHooks()->scanNext)
            return CurrentStreamAdapterHooks()->scanNext(lock, outName, outIsDirectory, info);
        return 0;
    default:
        return 0;
    }
}

const char* GetLockAdapterName(FileLock* lock)
{
    if (lock->kind != FILELOCK_DIRADAPTER && lock->kind != FILELOCK_FILEADAPTER)
        return nullptr;
    if (!CurrentStreamAdapterHooks() || !CurrentStreamAdapterHooks()->lockAdapterName)
        return nullptr;
    return CurrentStreamAdapterHooks()->lockAdapterName(lock);
}

int LowestBitIndex(uint32_t word)
{
    return word ? __builtin_ctz(word) : -1;
}
