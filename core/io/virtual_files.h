// Virtual string files: byte buffers that open like files through
// ":::chunkS" names. The same record shape serves the stream layer as the
// region record of a ":::memory" stream (then outside the list, read-only).
// The list belongs to the script thread.
#pragma once

#include <cstdint>

struct VirtualStringFile {
    VirtualStringFile* next;
    uint32_t writable;   // writable files own their buffer and may grow
    int32_t sourceRef;   // registry reference keeping the source string alive, or -1
    int32_t anchorRef;   // registry reference of the record: the ":::chunkS" number, or -1
    uint8_t* data;
    uint64_t capacity;   // bytes allocated for data (0 when not owned)
    uint64_t size;
    const char* name;    // the name text, stored behind the record
    uint32_t users;      // open streams and memory blocks that borrow the record
    uint32_t detached;   // undefined while borrowed: off the list, freed by the last user
};

// Room that a writable file made from an empty string starts with, and the
// step by which writes grow a buffer.
constexpr uint64_t VIRTUAL_FILE_GROWTH = 65536;

// Makes a record (with a copy of name) and appends it to the list. A
// writable file gets its own buffer holding a copy of the bytes (65536
// bytes of room when there are none); a read-only one points at the
// caller's bytes, which must outlive it. Null when memory is exhausted.
// Both references start at -1.
VirtualStringFile* NewVirtualStringFile(const char* name, const uint8_t* data, uint64_t size,
                                        bool writable);

// Unlinks a record and frees it with its own buffer. While streams or
// blocks still borrow it, it only leaves the list (its name opens nothing
// more) and keeps its bytes (a copy, when they were the caller's) until
// the last user lets go.
void FreeVirtualStringFile(VirtualStringFile* file);

// A borrower takes the record and gives it back when done; the last
// release frees a record that was undefined meanwhile.
void RetainVirtualStringFile(VirtualStringFile* file);
void ReleaseVirtualStringFile(VirtualStringFile* file);

// Frees every record (library clean-up).
void FreeAllVirtualStringFiles();

// The record anchored under a registry reference, or null.
VirtualStringFile* FindVirtualStringFile(uint64_t reference);

// True when the record is in the list.
bool IsVirtualStringFile(const VirtualStringFile* file);

// The first record of the list (definition order), for walks.
VirtualStringFile* FirstVirtualStringFile();
