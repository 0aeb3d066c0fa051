// The one allocator of the program: every record comes from OsAllocMem and
// goes back through OsFreeMem.
#pragma once

#include <cstddef>

// Returns a block of at least `size` bytes, zero-filled when `zero` is
// non-zero, or null when memory is exhausted. A request for 0 bytes still
// gives a distinct, freeable block, so null always means out of memory.
void* OsAllocMem(size_t size, int zero);

// Grows or shrinks a block from OsAllocMem, keeping its first bytes (as
// many as both sizes hold); null when memory is exhausted, the block then
// left as it was. A large block is moved by remapping its pages, not by
// copying them.
void* OsResizeMem(void* block, size_t size);

// As OsAllocMem(size, 0), for a block its caller writes whole at once (a
// picture's pixels): its pages are mapped up front in one call rather than
// one fault at a time, a large block on huge pages where the system allows.
void* OsAllocFilledMem(size_t size);

// Releases a block from OsAllocMem; null is allowed.
void OsFreeMem(void* block);
