// The buffered-file layer under the stream layer: host files through the C
// library's streams, with 64-bit positions, the "PROGDIR:" prefix and
// ":::chunk" regions (a read-only window onto a larger container file).
#pragma once

#include <cstdint>
#include <cstdio>

// Open-mode bits of the file layer (the stream layer's low bits).
enum OsFileMode : uint32_t {
    OSFILE_READ = 0x1,
    OSFILE_WRITE = 0x2,
    OSFILE_READWRITE = 0x4,
};

constexpr uint64_t OSFILE_SIZE_UNKNOWN = ~0ull;

struct OsFileHandle {
    FILE* stream;        // null for a region whose name gave no container
    uint32_t isRegion;   // 1 for a ":::chunk" region
    uint64_t base;       // region start inside the file
    uint64_t size;       // region or file size, OSFILE_SIZE_UNKNOWN when unknown
    uint64_t position;   // relative to base
    uint32_t writing;    // the last operation was a write
    uint32_t reading;    // the last operation was a read
    uint32_t mode;       // OsFileMode bits as opened
    char* fullPath;      // OsAllocMem'd, never truncated
};

// Opens a host file or a ":::chunk" region; null on failure. A region
// opened with a write or read-write mode is refused.
OsFileHandle* OsFileOpen(const char* name, uint32_t mode);

// Closes the stream and frees the handle; 1 on success (or without a
// stream), 0 when closing reported an error.
int OsFileClose(OsFileHandle* handle);

// Seek modes: 0 from the current position, 1 from the start, 2 from the end,
// any other value an absolute position in the underlying file. Answers the
// position before the seek, or -1 when the target lies before the start of
// the file or region or the host refused; the position is then unchanged.
// Targets past the end of a region stop at its end.
int64_t OsFileSeek(OsFileHandle* handle, int64_t offset, int mode);

size_t OsFileRead(OsFileHandle* handle, void* buffer, size_t count);
int OsFileGetC(OsFileHandle* handle);
size_t OsFileWrite(OsFileHandle* handle, const void* buffer, size_t count);
int OsFilePutC(OsFileHandle* handle, int byte);
int OsFileFlush(OsFileHandle* handle);

// 1 when the position has reached the size. A file opened for reading and
// writing answers from its real, current size; an unknown size counts as
// the end.
int OsFileEof(OsFileHandle* handle);

// The underlying stream; outPath (may be null) receives the full path.
FILE* OsFileBuffer(OsFileHandle* handle, const char** outPath);
