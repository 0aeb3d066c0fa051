// Names that open like files but are not host paths:
//   ":::chunk" offset ":" size "*" display name "?" container
//       a byte region of a container file (a file linked into the applet);
//   ":::chunkS" reference ":" size "*" display name "?" container
//       a virtual string file anchored under a registry reference;
//   ":::memory" address ":" size (both hexadecimal)
//       a caller's memory block, read-only.
// Each form is made and taken apart here and nowhere else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

struct VirtualStringFile;

inline constexpr char CHUNK_PREFIX[] = ":::chunk";
inline constexpr char MEMORY_PREFIX[] = ":::memory";

// The offset value that asks MakeChunkName for the ":::chunkS" form.
constexpr uint64_t CHUNK_STRING_OFFSET = ~0ull;

bool IsChunkName(const char* name);
bool IsMemoryName(const char* name);

// Writes ":::chunk" (offset + base) ":" size "*" displayName "?" container,
// or, with offset CHUNK_STRING_OFFSET, ":::chunkS" base ":" size "*"
// displayName "?" container with base as the registry reference. False when
// the name does not fit outSize (out is then empty) or offset + base
// overflows.
bool MakeChunkName(const char* displayName, char* out, size_t outSize, uint64_t offset,
                   uint64_t size, uint64_t base, const char* containerFile);

struct ChunkNameParts {
    bool isString;                 // the ":::chunkS" form
    uint64_t offset;               // region start in the container (0 for the S form)
    uint64_t size;                 // region size, or the virtual file's current size
    uint64_t reference;            // registry reference of the S form
    std::string_view displayName;  // between the first '*' and the next '?'
    std::string_view file;         // container path (empty for the S form)
    std::string_view extension;    // of the display name from its last '.', or empty
    VirtualStringFile* object;     // the S form's virtual file
};

// Takes a chunk name apart; the views point into name. False for a name that
// is not well formed (missing numbers, separators, 64-bit overflow) and, for
// the S form, when no virtual string file is anchored under the reference.
bool ParseChunkName(const char* name, ChunkNameParts* out);

// The part of a region {offset, size} that lies inside a container of
// containerSize bytes: a name may claim more than its file holds.
uint64_t ClampRegionSize(uint64_t containerSize, uint64_t offset, uint64_t size);

// The region's size as its container really holds it (the claimed size when
// the container cannot be examined: opening it fails later anyway).
uint64_t ChunkRegionSize(const ChunkNameParts& parts);

// The extension of a display name: from its last '.', or empty.
std::string_view DisplayNameExtension(std::string_view displayName);

// Longest memory name (prefix, two 16-digit numbers, ':' and terminator).
constexpr size_t MEMORY_NAME_MAX = sizeof(MEMORY_PREFIX) + 16 + 1 + 16;

struct MemoryName;

// Lets go of the name: it opens no more (unless another record holds the
// same block). Harmless on a record that holds nothing.
void ReleaseMemoryName(MemoryName* name);

// A memory name and its hold on the registry of names that open. A memory
// name is ordinary text that a script, a file or a peer could write too, so
// only the names made here and still held open: the record lets go of its
// name when it goes, and its maker keeps the block alive at least that long
// (a stream opened meanwhile reads the block until it is closed, so the
// block must outlive such streams as well).
struct MemoryName {
    char text[MEMORY_NAME_MAX] = {};
    uintptr_t address = 0;
    uint64_t size = 0;
    bool held = false;

    MemoryName() = default;
    MemoryName(const MemoryName&) = delete;
    MemoryName& operator=(const MemoryName&) = delete;
    ~MemoryName() { ReleaseMemoryName(this); }

    const char* c_str() const { return text; }
};

// Writes ":::memory" + address + ":" + size in lower-case hexadecimal into
// out and holds the name until out is released or goes. False (out empty and
// not held) for a block that would wrap around the address space or a null
// block with bytes; a name out held before is released first.
bool MakeMemoryName(const void* data, uint64_t size, MemoryName* out);

// Reads a memory name back; false when it is not well formed or no live
// MemoryName holds exactly that block.
bool ParseMemoryName(const char* name, const uint8_t** outData, uint64_t* outSize);
