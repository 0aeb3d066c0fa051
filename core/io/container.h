// The compressed container: a 4-byte magic, 4 zero bytes, then one zlib
// stream (RFC 1950) of the data. Packages made by scripts carry "QMPK",
// compressed applets "QMZ\0", the linked plugin bundle "PLPK".
#pragma once

#include <cstddef>
#include <cstdint>

struct StreamHandle;

inline constexpr char CONTAINER_MAGIC_PACKAGE[4] = {'Q', 'M', 'P', 'K'};
inline constexpr char CONTAINER_MAGIC_APPLET[4] = {'Q', 'M', 'Z', '\0'};
inline constexpr char CONTAINER_MAGIC_PLUGINS[4] = {'P', 'L', 'P', 'K'};

// Bytes in front of the zlib stream.
constexpr uint64_t CONTAINER_HEADER_SIZE = 8;

// zlib's result codes as the runtime's error codes.
uint32_t ZlibErrorToCode(int zlibResult);

// Deflates the file source into a container with the given magic, written to
// destination (opened here) or, when given, to the open destinationStream at
// its current position. outWritten (may be null) receives the container's
// size. 0 or an error code; a destination file opened here is removed again
// when the container could not be completed.
uint32_t DeflateFileWithMagic(const char* magic, const char* source, const char* destination,
                              StreamHandle* destinationStream, uint64_t* outWritten);

// Inflates the container that starts at sourceOffset of source (opened here)
// or at the current position of the open sourceStream. The data goes to
// destinationMemory when given (at most memorySize bytes; a full block ends
// the inflation successfully), else to the file destination. Inflation
// stops at the end of the zlib stream. outDestinationSize receives the
// bytes produced, outContainerLength the container's length (header
// included); either may be null. 0 or an error code; a destination file
// opened here is removed again on failure.
uint32_t InflateFileWithMagic(const char* magic, const char* source, const char* destination,
                              StreamHandle* sourceStream, uint64_t sourceOffset,
                              uint64_t* outDestinationSize, uint64_t* outContainerLength,
                              void* destinationMemory, size_t memorySize);
