// The program's allocator, on the C library's heap.
#include "platform/posix/os_memory.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

namespace {

// Blocks this large (network bodies, big strings) are their own mappings;
// backing them with huge pages spares the kernel a fault per 4 KiB page as
// they are filled.
constexpr size_t kHugeBlock = size_t{8} << 20;
constexpr uintptr_t kPage = 4096;
constexpr size_t kHugePage = size_t{2} << 20;
// Below this, a block's few faults cost less than the call that spares them.
constexpr size_t kPrefaultBlock = size_t{256} << 10;

// The advice covers every page of the block, not only its whole huge pages:
// advising part of a mapping splits it in two, and the C library can then
// no longer resize it by remapping (it copies instead).
void AdviseHugePages(void* block, size_t size)
{
    auto start = reinterpret_cast<uintptr_t>(block) & ~(kPage - 1);
    auto end = (reinterpret_cast<uintptr_t>(block) + size + kPage - 1) & ~(kPage - 1);
    madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}

// Maps the whole pages of a block in one call instead of a fault per page
// as it is written. The partial pages at either end may be shared with
// other blocks and fault as they are written. Kernels before 5.14 refuse
// the advice; the pages then fault as before.
void PrefaultPages(void* block, size_t size)
{
    auto start = (reinterpret_cast<uintptr_t>(block) + kPage - 1) & ~(kPage - 1);
    auto end = (reinterpret_cast<uintptr_t>(block) + size) & ~(kPage - 1);
    if (end > start)
        madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
}

}  // namespace

void* OsAllocMem(size_t size, int zero)
{
    if (size == 0)
        size = 1;
    if (!zero && size >= kHugePage) {
        // Starting on a huge-page boundary, every whole huge page of the
        // block can be one, each a single fault as it is first written (a
        // growing heap's vectors, a join's result). Zero-filled blocks stay
        // with calloc, whose fresh mappings need no clearing.
        void* block = nullptr;
        if (posix_memalign(&block, kHugePage, size) != 0)
            return nullptr;
        AdviseHugePages(block, size);
        return block;
    }
    void* block = zero ? std::calloc(1, size) : std::malloc(size);
    if (block && size >= kHugeBlock)
        AdviseHugePages(block, size);
    return block;
}

void* OsResizeMem(void* block, size_t size)
{
    if (size == 0)
        size = 1;
    void* fresh = std::realloc(block, size);
    if (fresh && size >= kHugeBlock)
        AdviseHugePages(fresh, size);
    return fresh;
}

void* OsAllocFilledMem(size_t size)
{
    if (size < kHugePage) {
        void* block = OsAllocMem(size, 0);
        if (block && size >= kPrefaultBlock)
            PrefaultPages(block, size);
        return block;
    }
    // Starting on a huge-page boundary, every whole huge page of the block
    // can be one; the tail past the last is ordinary pages.
    void* block = nullptr;
    if (posix_memalign(&block, kHugePage, size) != 0)
        return nullptr;
    AdviseHugePages(block, size);
    PrefaultPages(block, size);
    return block;
}

void OsFreeMem(void* block)
{
    std::free(block);
}
