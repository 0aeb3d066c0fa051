// The program's allocator, on the C library's heap.
#include "platform/posix/os_memory.h"

#include <cstdlib>

void* OsAllocMem(size_t size, int zero)
{
    if (size == 0)
        size = 1;
    return zero ? std::calloc(1, size) : std::malloc(size);
}

void OsFreeMem(void* block)
{
    std::free(block);
}
