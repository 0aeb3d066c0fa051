// The VM allocator: every block goes through VmRealloc, which keeps the
// count of allocated bytes that paces the collector.
#include "core/vm/memory.h"

#include <cstring>

#include "core/io/error_codes.h"
#include "core/vm/calls.h"
#include "platform/posix/os_memory.h"

void* VmRealloc(VmState* L, void* block, size_t oldSize, size_t newSize)
{
    if (newSize == 0) {
        OsFreeMem(block);
        if (L && L->g)
            L->g->nblocks -= oldSize;
        return nullptr;
    }
    if (newSize >= VM_MAX_BLOCK) {
        if (!L)
            return nullptr;
        VmRaiseError(L, ERR_MEM);
    }
    void* fresh = OsAllocMem(newSize, 0);
    if (!fresh) {
        if (!L)
            return nullptr;
        VmThrow(L, ERR_MEM);
    }
    if (block) {
        std::memcpy(fresh, block, oldSize < newSize ? oldSize : newSize);
        OsFreeMem(block);
    }
    if (L && L->g)
        L->g->nblocks += newSize - oldSize;
    return fresh;
}

void VmLinkObject(VmState* L, VmGcHeader* o, uint8_t tt)
{
    o->tt = tt;
    o->marked = 0;
    o->next = L->g->rootgc;
    L->g->rootgc = o;
}
