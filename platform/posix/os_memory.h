// The one allocator of the program: every record comes from OsAllocMem and
// goes back through OsFreeMem.
#pragma once

#include <cstddef>

// Returns a block of at least `size` bytes, zero-filled when `zero` is
// non-zero, or null when memory is exhausted. A request for 0 bytes still
// gives a distinct, freeable block, so null always means out of memory.
void* OsAllocMem(size_t size, int zero);

// Releases a block from OsAllocMem; null is allowed.
void OsFreeMem(void* block);
