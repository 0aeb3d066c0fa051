// The VM's one allocator and the collector's entry points. Every block the
// VM owns goes through VmRealloc, which keeps the byte count that paces
// garbage collection.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/vm/value.h"

// Under AddressSanitizer the VM keeps its memory plain: every block is its
// own malloc (so a use after free is still seen) and no pointer is stored
// with other bits packed beside it (so the leak checker can follow it).
#if defined(__SANITIZE_ADDRESS__)
#define QM_VM_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QM_VM_SANITIZED 1
#endif
#endif
#ifndef QM_VM_SANITIZED
#define QM_VM_SANITIZED 0
#endif

// Requests at or above this size fail with ERR_MEM as an ordinary error.
constexpr uint64_t VM_MAX_BLOCK = 0xFFFFFFFDu;

// The size-class allocator of a global state: opened before its first
// block (failing quietly: blocks then come from malloc); released after its
// last use, freeing in bulk every block still allocated. VmReleasePool
// answers false when the state has no pool.
void VmOpenPool(VmGlobalState* g);
bool VmReleasePool(VmGlobalState* g);

// new size 0 frees. A failed allocation throws ERR_MEM (returns null when
// state is null).
void* VmRealloc(VmState* state, void* block, size_t oldSize, size_t newSize);

// The same without raising: null when there is no memory (the block is
// then left as it was), or when the size reaches VM_MAX_BLOCK.
void* VmTryRealloc(VmState* state, void* block, size_t oldSize, size_t newSize);

// A new block of a small object, counted like any other: from the pool,
// without the branches of a resize. Null (nothing raised) when the size is
// beyond the pool's, there is no pool, or no memory.
void* VmTryNewSmallBlock(VmState* state, size_t size);

template <typename T>
T* VmNewVector(VmState* state, uint64_t n)
{
    if (n > VM_MAX_BLOCK / sizeof(T))
        n = VM_MAX_BLOCK / sizeof(T) + 1;  // VmRealloc refuses it
    return static_cast<T*>(VmRealloc(state, nullptr, 0, n * sizeof(T)));
}
template <typename T>
T* VmResizeVector(VmState* state, T* block, uint64_t oldN, uint64_t newN)
{
    if (newN > VM_MAX_BLOCK / sizeof(T))
        newN = VM_MAX_BLOCK / sizeof(T) + 1;
    return static_cast<T*>(VmRealloc(state, block, oldN * sizeof(T), newN * sizeof(T)));
}
template <typename T>
void VmFreeVector(VmState* state, T* block, uint64_t n)
{
    VmRealloc(state, block, n * sizeof(T), 0);
}

// Links a new collectable object at the head of the object list.
void VmLinkObject(VmState* state, VmGcHeader* o, uint8_t tt);

// One full collection when the allocated bytes have reached the threshold.
void VmCheckGC(VmState* state);
void VmCollectGarbage(VmState* state);
// Frees one object of any kind.
void VmFreeObject(VmState* state, VmGcHeader* o);
// Closing: runs every pending finaliser, then frees every object (with a
// pool, by leaving them to VmReleasePool).
void VmFreeAllObjects(VmState* state);
