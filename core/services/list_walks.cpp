// Walks that call out, and the records kept for them. A kept record is dead:
// unlinked, owning nothing, read by no one. So its first word can link it
// to the next kept record, and nothing else needs memory while a walk runs.
#include "core/services/list_walks.h"

#include <cstring>

#include "core/io/error_codes.h"
#include "platform/posix/os_memory.h"

namespace {

void*& KeptLink(void* record) { return *static_cast<void**>(record); }

// The kept records also go into a set of their addresses, so that a visit
// that frees thousands does not make every later check scan them all. The
// set is only an index: when it cannot grow, the chain answers alone.
struct KeptSet {
    const void** slots = nullptr;
    size_t size = 0;  // a power of two, or 0
    size_t used = 0;
    bool complete = true;  // every kept record is in the set
};

KeptSet keptSet;

size_t HomeOf(const void* record, size_t size)
{
    return static_cast<size_t>((reinterpret_cast<uintptr_t>(record) >> 4) * 0x9E3779B97F4A7C15ull) & (size - 1);
}

void PutInSet(const void** slots, size_t size, const void* record)
{
    size_t i = HomeOf(record, size);
    while (slots[i])
        i = (i + 1) & (size - 1);
    slots[i] = record;
}

void AddToKeptSet(const void* record)
{
    if (!keptSet.complete)
        return;
    if ((keptSet.used + 1) * 2 > keptSet.size) {
        size_t grown = keptSet.size ? keptSet.size * 2 : 64;
        auto* slots = static_cast<const void**>(OsAllocMem(grown * sizeof(void*), 1));
        if (!slots) {
            keptSet.complete = false;
            return;
        }
        for (size_t i = 0; i < keptSet.size; ++i)
            if (keptSet.slots[i])
                PutInSet(slots, grown, keptSet.slots[i]);
        OsFreeMem(keptSet.slots);
        keptSet.slots = slots;
        keptSet.size = grown;
    }
    PutInSet(keptSet.slots, keptSet.size, record);
    keptSet.used++;
}

void ClearKeptSet()
{
    OsFreeMem(keptSet.slots);
    keptSet = KeptSet{};
}

}  // namespace

bool ListWalk::IsKept(const void* record)
{
    if (keptSet.complete) {
        if (!keptSet.size)
            return false;
        for (size_t i = HomeOf(record, keptSet.size); keptSet.slots[i]; i = (i + 1) & (keptSet.size - 1))
            if (keptSet.slots[i] == record)
                return true;
        return false;
    }
    for (void* r = kept; r; r = KeptLink(r))
        if (r == record)
            return true;
    return false;
}

void FreeListRecord(void* record)
{
    if (!record)
        return;
    if (ListWalk::depth == 0) {
        OsFreeMem(record);
        return;
    }
    KeptLink(record) = ListWalk::kept;
    ListWalk::kept = record;
    AddToKeptSet(record);
}

void ListWalk::Close()
{
    if (records != inlineRecords)
        OsFreeMem(records);
    if (--depth)
        return;
    while (void* r = kept) {
        kept = KeptLink(r);
        OsFreeMem(r);
    }
    ClearKeptSet();
}

uint32_t ListWalk::Grow(void* record)
{
    size_t grown = capacity * 2;
    auto* bigger = static_cast<void**>(OsAllocMem(grown * sizeof(void*), 0));
    if (!bigger)
        return ERR_MEM;
    std::memcpy(bigger, records, count * sizeof(void*));
    if (records != inlineRecords)
        OsFreeMem(records);
    records = bigger;
    capacity = grown;
    records[count++] = record;
    return 0;
}
