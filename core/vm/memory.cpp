// The VM allocator: every block goes through VmRealloc, which keeps the
// count of allocated bytes that paces the collector.
//
// Small blocks (strings, tables, closures, upvalues, small vectors) come
// from size classes of 16 bytes carved out of 64 KB chunks, with one free
// list per class: no malloc per object, neighbours in memory for objects
// made together, and at close the chunks go back whole. Larger blocks are
// malloc'd behind a small header that links them, so that closing frees
// them without visiting the objects that own them. Every caller passes the
// block's size, so a small block needs no header of its own.
//
// Under AddressSanitizer the pool is off (QM_VM_SANITIZED).
#include "core/vm/memory.h"

#include <cstring>

#include "core/io/error_codes.h"
#include "core/vm/calls.h"
#include "platform/posix/os_memory.h"

namespace {

constexpr size_t kGrain = 16;
constexpr size_t kMaxPooled = 512;
constexpr size_t kClasses = kMaxPooled / kGrain + 1;
constexpr size_t kChunkSize = 64 * 1024;
// Once the pool holds this many small chunks, it takes big ones, which the
// system backs with huge pages: a growing heap then costs a page fault per
// 2 MB rather than per 4 KB.
constexpr size_t kSmallChunks = 32;
constexpr size_t kBigChunkSize = 8 * 1024 * 1024;

// A large block growing to a size in [kCopyGrowth, kRemapGrowth) moves to
// a fresh block, which starts on a huge-page boundary and so faults a huge
// page at a time, instead of being remapped, when its new pages would
// fault 4 KiB at a time. Beyond that, remapping spares the copy and the
// moment when both blocks are held.
constexpr size_t kCopyGrowth = size_t{2} << 20;
constexpr size_t kRemapGrowth = size_t{64} << 20;

struct FreeBlock {
    FreeBlock* next;
};

// Chunks and large blocks start with one of these; 16 bytes keep what
// follows aligned for any value.
struct BlockLink {
    BlockLink* prev;
    BlockLink* next;
};
static_assert(sizeof(BlockLink) == kGrain);

}  // namespace

struct VmPool {
    FreeBlock* free[kClasses];
    char* bump;
    char* bumpEnd;
    BlockLink* chunks;  // singly linked through next
    size_t nchunks;
    BlockLink large;    // ring of large blocks
};

namespace {

inline size_t ClassOf(size_t size) { return (size + kGrain - 1) / kGrain; }

void* PoolAlloc(VmPool* pool, size_t size)
{
    if (size > kMaxPooled) {
        auto* link = static_cast<BlockLink*>(OsAllocMem(sizeof(BlockLink) + size, 0));
        if (!link)
            return nullptr;
        link->prev = &pool->large;
        link->next = pool->large.next;
        link->next->prev = link;
        pool->large.next = link;
        return link + 1;
    }
    size_t c = ClassOf(size);
    if (FreeBlock* b = pool->free[c]) {
        // Blocks freed by a sweep lie anywhere: the next one is fetched now
        // rather than when it is handed out.
        pool->free[c] = b->next;
        __builtin_prefetch(b->next, 1);
        return b;
    }
    size_t bytes = c * kGrain;
    if (static_cast<size_t>(pool->bumpEnd - pool->bump) < bytes) {
        size_t chunkSize = pool->nchunks < kSmallChunks ? kChunkSize : kBigChunkSize;
        auto* chunk = static_cast<BlockLink*>(OsAllocMem(chunkSize, 0));
        if (!chunk)
            return nullptr;
        chunk->next = pool->chunks;
        pool->chunks = chunk;
        pool->nchunks++;
        pool->bump = reinterpret_cast<char*>(chunk + 1);
        pool->bumpEnd = reinterpret_cast<char*>(chunk) + chunkSize;
    }
    void* block = pool->bump;
    pool->bump += bytes;
    return block;
}

void PoolFree(VmPool* pool, void* block, size_t size)
{
    if (size > kMaxPooled) {
        BlockLink* link = static_cast<BlockLink*>(block) - 1;
        link->prev->next = link->next;
        link->next->prev = link->prev;
        OsFreeMem(link);
        return;
    }
    size_t c = ClassOf(size);
    auto* b = static_cast<FreeBlock*>(block);
    b->next = pool->free[c];
    pool->free[c] = b;
}

// Resizes a large block in place or by remapping its pages: a growing
// vector or string is not copied page by page into fresh memory.
void* PoolResizeLarge(void* block, size_t size)
{
    BlockLink* link = static_cast<BlockLink*>(block) - 1;
    BlockLink* prev = link->prev;
    BlockLink* next = link->next;
    auto* fresh = static_cast<BlockLink*>(OsResizeMem(link, sizeof(BlockLink) + size));
    if (!fresh)
        return nullptr;  // the old block is still linked where it was
    prev->next = fresh;
    next->prev = fresh;
    return fresh + 1;
}

}  // namespace

void VmOpenPool(VmGlobalState* g)
{
#if !QM_VM_SANITIZED
    auto* pool = static_cast<VmPool*>(OsAllocMem(sizeof(VmPool), 1));
    if (!pool)
        return;  // every block then comes from malloc
    pool->large.prev = pool->large.next = &pool->large;
    g->pool = pool;
#else
    (void)g;
#endif
}

bool VmReleasePool(VmGlobalState* g)
{
    VmPool* pool = g->pool;
    if (!pool)
        return false;
    while (BlockLink* chunk = pool->chunks) {
        pool->chunks = chunk->next;
        OsFreeMem(chunk);
    }
    while (pool->large.next != &pool->large) {
        BlockLink* link = pool->large.next;
        pool->large.next = link->next;
        OsFreeMem(link);
    }
    OsFreeMem(pool);
    g->pool = nullptr;
    return true;
}

void* VmTryRealloc(VmState* L, void* block, size_t oldSize, size_t newSize)
{
    VmPool* pool = L && L->g ? L->g->pool : nullptr;
    if (newSize == 0) {
        if (block) {
            if (pool)
                PoolFree(pool, block, oldSize);
            else
                OsFreeMem(block);
        }
        if (L && L->g)
            L->g->nblocks -= oldSize;
        return nullptr;
    }
    if (newSize >= VM_MAX_BLOCK)
        return nullptr;
    void* fresh;
    if (pool && block && oldSize <= kMaxPooled && newSize <= kMaxPooled && ClassOf(oldSize) == ClassOf(newSize)) {
        fresh = block;
        block = nullptr;
    } else if (block && oldSize > kMaxPooled && newSize > kMaxPooled &&
               !(newSize > oldSize && newSize >= kCopyGrowth && newSize < kRemapGrowth)) {
        fresh = pool ? PoolResizeLarge(block, newSize) : OsResizeMem(block, newSize);
        if (fresh)
            block = nullptr;
    } else {
        fresh = pool ? PoolAlloc(pool, newSize) : OsAllocMem(newSize, 0);
    }
    if (!fresh)
        return nullptr;
    if (block) {
        std::memcpy(fresh, block, oldSize < newSize ? oldSize : newSize);
        if (pool)
            PoolFree(pool, block, oldSize);
        else
            OsFreeMem(block);
    }
    if (L && L->g)
        L->g->nblocks += newSize - oldSize;
    return fresh;
}

void* VmTryNewSmallBlock(VmState* L, size_t size)
{
    VmGlobalState* g = L->g;
    if (!g->pool || size > kMaxPooled)
        return nullptr;
    void* block = PoolAlloc(g->pool, size);
    if (block)
        g->nblocks += size;
    return block;
}

void* VmRealloc(VmState* L, void* block, size_t oldSize, size_t newSize)
{
    void* fresh = VmTryRealloc(L, block, oldSize, newSize);
    if (!fresh && newSize != 0 && L) {
        if (newSize >= VM_MAX_BLOCK)
            VmRaiseError(L, ERR_MEM);
        VmThrow(L, ERR_MEM);
    }
    return fresh;
}

void VmLinkObject(VmState* L, VmGcHeader* o, uint8_t tt)
{
    o->tt = tt;
    o->marked = 0;
    o->next = L->g->rootgc;
    L->g->rootgc = o;
}
