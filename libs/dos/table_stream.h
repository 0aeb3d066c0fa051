// The bare table stream, without a table file's magic, for files that carry
// one table stream behind a magic of their own (the preferences file).
// The stream itself is the table files' (serialise.cpp).
#pragma once

#include <cstdint>

struct VmState;
struct StreamHandle;

// Writes the table at index as one table stream; 0 or the writer's code.
uint32_t WriteTableStream(VmState* vm, int index, StreamHandle* stream);
// Reads one table stream and pushes the table; 0 or the reader's code,
// nothing pushed on failure.
uint32_t ReadTableStream(VmState* vm, StreamHandle* stream);
