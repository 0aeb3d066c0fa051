// The buffered-file layer: C library streams with 64-bit positions, the
// "PROGDIR:" prefix and read-only ":::chunk" regions.
//
// The handle keeps its own position (relative to the region's base) so that
// regions can be confined without asking the stream, and it remembers
// whether the last operation was a read or a write: the C library requires
// a seek between the two directions on one stream.
#include "core/glue/file_layer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "core/io/virtual_names.h"
#include "platform/posix/os_memory.h"
#include "platform/posix/os_paths.h"

namespace {

char* CopyText(const char* text, size_t length)
{
    char* copy = static_cast<char*>(OsAllocMem(length + 1, 0));
    if (copy) {
        std::memcpy(copy, text, length);
        copy[length] = 0;
    }
    return copy;
}

void FreeHandle(OsFileHandle* handle)
{
    if (handle->stream)
        std::fclose(handle->stream);
    OsFreeMem(handle->fullPath);
    OsFreeMem(handle);
}

// Opens without blocking (a FIFO without a writer would hold the thread in
// open, where no abort can reach it) and keeps only what reads and writes
// like a file: regular files and character devices. Folders, FIFOs and
// sockets are no files here.
FILE* OpenFileStream(const char* path, int flags, const char* mode, uint64_t* outSize, bool* outRegular)
{
    int fd = ::open(path, flags | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return nullptr;
    struct stat st;
    if (fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISCHR(st.st_mode))) {
        ::close(fd);
        errno = EINVAL;
        return nullptr;
    }
    int status = fcntl(fd, F_GETFL);
    if (status < 0 || fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return nullptr;
    }
    FILE* stream = fdopen(fd, mode);
    if (!stream) {
        ::close(fd);
        return nullptr;
    }
    if (outSize)
        *outSize = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
    if (outRegular)
        *outRegular = S_ISREG(st.st_mode);
    return stream;
}

OsFileHandle* OpenRegion(const char* name, uint32_t mode)
{
    // A region is a window onto somebody else's file (the applet or the
    // program itself): it is never written, whatever the caller asks.
    if (mode & (OSFILE_WRITE | OSFILE_READWRITE))
        return nullptr;
    ChunkNameParts parts;
    if (!ParseChunkName(name, &parts) || parts.isString)
        return nullptr;
    if (parts.offset > static_cast<uint64_t>(INT64_MAX) ||
        parts.size > static_cast<uint64_t>(INT64_MAX) - parts.offset)
        return nullptr;

    auto* handle = static_cast<OsFileHandle*>(OsAllocMem(sizeof(OsFileHandle), 1));
    if (!handle)
        return nullptr;
    handle->isRegion = 1;
    handle->base = parts.offset;
    handle->size = parts.size;
    handle->mode = mode;
    handle->fullPath = CopyText(name, std::strlen(name));
    if (!handle->fullPath) {
        FreeHandle(handle);
        return nullptr;
    }
    if (parts.file.empty())
        return handle;

    std::string container = OsHostPath(std::string(parts.file).c_str());
    uint64_t containerSize = 0;
    bool regular = false;
    handle->stream = OpenFileStream(container.c_str(), O_RDONLY, "rb", &containerSize, &regular);
    if (!handle->stream || !regular ||
        fseeko(handle->stream, static_cast<off_t>(handle->base), SEEK_SET) != 0) {
        FreeHandle(handle);
        return nullptr;
    }
    // The size written in the name is only a claim: the region ends where
    // its container does.
    handle->size = ClampRegionSize(containerSize, handle->base, handle->size);
    return handle;
}

} // namespace

OsFileHandle* OsFileOpen(const char* name, uint32_t mode)
{
    mode &= OSFILE_READ | OSFILE_WRITE | OSFILE_READWRITE;
    if (IsChunkName(name))
        return OpenRegion(name, mode);

    auto* handle = static_cast<OsFileHandle*>(OsAllocMem(sizeof(OsFileHandle), 1));
    if (!handle)
        return nullptr;
    handle->mode = mode;
    handle->size = OSFILE_SIZE_UNKNOWN;
    std::string full = OsFullPathString(name);
    handle->fullPath = CopyText(full.data(), full.size());
    if (!handle->fullPath) {
        FreeHandle(handle);
        return nullptr;
    }

    const char* path = handle->fullPath;
    uint64_t size = 0;
    if (mode & OSFILE_WRITE)
        handle->stream = OpenFileStream(path, O_WRONLY | O_CREAT | O_TRUNC, "wb", &size, nullptr);
    else if (mode & OSFILE_READWRITE)
        handle->stream = OpenFileStream(path, O_RDWR | O_CREAT, "r+b", &size, nullptr);
    else
        handle->stream = OpenFileStream(path, O_RDONLY, "rb", &size, nullptr);
    if (!handle->stream) {
        FreeHandle(handle);
        return nullptr;
    }
    // A file opened for reading and writing keeps its real size from here
    // on (writes extend it), so that its end can be told while writing.
    if (!(mode & OSFILE_WRITE))
        handle->size = size;
    return handle;
}

int OsFileClose(OsFileHandle* handle)
{
    int ok = 1;
    if (handle->stream) {
        ok = std::fclose(handle->stream) == 0;
        handle->stream = nullptr;
    }
    FreeHandle(handle);
    return ok;
}

int64_t OsFileSeek(OsFileHandle* handle, int64_t offset, int mode)
{
    int64_t previous = static_cast<int64_t>(handle->position);
    __int128 target;
    switch (mode) {
    case 0:
        target = static_cast<__int128>(handle->position) + offset;
        break;
    case 1:
        target = offset;
        break;
    case 2:
        if (!handle->isRegion) {
            // Files answer from their real end, which writes may have moved.
            if (!handle->stream || fseeko(handle->stream, static_cast<off_t>(offset), SEEK_END) != 0)
                return -1;
            off_t now = ftello(handle->stream);
            if (now < 0)
                return -1;
            handle->position = static_cast<uint64_t>(now);
            handle->writing = handle->reading = 0;
            return previous;
        }
        target = static_cast<__int128>(handle->size) + offset;
        break;
    default:
        target = static_cast<__int128>(offset) - static_cast<__int128>(handle->base);
        break;
    }
    if (target < 0)
        return -1;
    if (handle->isRegion && target > static_cast<__int128>(handle->size))
        target = handle->size;
    __int128 absolute = target + handle->base;
    if (absolute > INT64_MAX)
        return -1;
    if (handle->stream && fseeko(handle->stream, static_cast<off_t>(absolute), SEEK_SET) != 0)
        return -1;
    handle->position = static_cast<uint64_t>(target);
    handle->writing = handle->reading = 0;
    return previous;
}

size_t OsFileRead(OsFileHandle* handle, void* buffer, size_t count)
{
    if (!handle->stream)
        return 0;
    if (handle->writing) {
        fseeko(handle->stream, 0, SEEK_CUR);
        handle->writing = 0;
    }
    if (handle->isRegion) {
        uint64_t left = handle->position < handle->size ? handle->size - handle->position : 0;
        if (count > left)
            count = static_cast<size_t>(left);
        if (count == 0)
            return 0;
    }
    size_t n = std::fread(buffer, 1, count, handle->stream);
    handle->position += n;
    handle->reading = 1;
    return n;
}

int OsFileGetC(OsFileHandle* handle)
{
    unsigned char byte;
    return OsFileRead(handle, &byte, 1) == 1 ? byte : -1;
}

size_t OsFileWrite(OsFileHandle* handle, const void* buffer, size_t count)
{
    if (!handle->stream || handle->isRegion)
        return 0;
    if (handle->reading) {
        fseeko(handle->stream, 0, SEEK_CUR);
        handle->reading = 0;
    }
    size_t n = std::fwrite(buffer, 1, count, handle->stream);
    handle->position += n;
    handle->writing = 1;
    if (handle->size != OSFILE_SIZE_UNKNOWN && handle->position > handle->size)
        handle->size = handle->position;
    return n;
}

int OsFilePutC(OsFileHandle* handle, int byte)
{
    unsigned char value = static_cast<unsigned char>(byte);
    return OsFileWrite(handle, &value, 1) == 1 ? 1 : 0;
}

int OsFileFlush(OsFileHandle* handle)
{
    if (!handle->stream)
        return 1;
    return std::fflush(handle->stream) == 0 ? 1 : 0;
}

int OsFileEof(OsFileHandle* handle)
{
    if (handle->size == OSFILE_SIZE_UNKNOWN)
        return 1;
    return handle->position >= handle->size;
}

FILE* OsFileBuffer(OsFileHandle* handle, const char** outPath)
{
    if (outPath)
        *outPath = handle->fullPath;
    return handle->stream;
}
