// Walks that call out, and the records kept for them. A kept record is dead:
// unlinked, owning nothing, read by no one. So its first word can link it
// to the next kept record, and nothing else needs memory while a walk runs.
#include "core/services/list_walks.h"

#include <cstring>

#include "core/io/error_codes.h"
#include "platform/posix/os_memory.h"

namespace {

uint32_t walkDepth;
void* keptRecords;

void*& KeptLink(void* record) { return *static_cast<void**>(record); }

bool IsKept(const void* record)
{
    for (void* r = keptRecords; r; r = KeptLink(r))
        if (r == record)
            return true;
    return false;
}

}  // namespace

void FreeListRecord(void* record)
{
    if (!record)
        return;
    if (walkDepth == 0) {
        OsFreeMem(record);
        return;
    }
    KeptLink(record) = keptRecords;
    keptRecords = record;
}

ListWalk::ListWalk() : records(inlineRecords) { ++walkDepth; }

ListWalk::~ListWalk()
{
    if (records != inlineRecords)
        OsFreeMem(records);
    if (--walkDepth)
        return;
    while (void* r = keptRecords) {
        keptRecords = KeptLink(r);
        OsFreeMem(r);
    }
}

uint32_t ListWalk::Take(void* record)
{
    if (count == capacity) {
        size_t grown = capacity * 2;
        auto* bigger = static_cast<void**>(OsAllocMem(grown * sizeof(void*), 0));
        if (!bigger)
            return ERR_MEM;
        std::memcpy(bigger, records, count * sizeof(void*));
        if (records != inlineRecords)
            OsFreeMem(records);
        records = bigger;
        capacity = grown;
    }
    records[count++] = record;
    return 0;
}

void* ListWalk::Live(size_t index) const
{
    void* r = records[index];
    return keptRecords && IsKept(r) ? nullptr : r;
}
