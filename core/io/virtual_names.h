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

// ":::memory" + address + ":" + size in lower-case hexadecimal. False when
// it does not fit outSize.
bool MakeMemoryName(const void* data, uint64_t size, char* out, size_t outSize);

// Longest memory name (prefix, two 16-digit numbers, ':' and terminator).
constexpr size_t MEMORY_NAME_MAX = sizeof(MEMORY_PREFIX) + 16 + 1 + 16;

// Reads a memory name back; false when it is not well formed or the block
// would wrap around the address space.
bool ParseMemoryName(const char* name, const uint8_t** outData, uint64_t* outSize);
