// Walks that call out, and the records kept for them. A kept record is dead:
// unlinked, owning nothing, read by no one. So its first word can link it
// to the next kept record, and nothing else needs memory while a walk runs.
#include "core/services/list_walks.h"

#include <cstring>

#include "core/io/error_codes.h"
#include "platform/posix/os_memory.h"

namespace {

void*& KeptLink(void* record) { return *static_cast<void**>(record); }

}  // namespace

bool ListWalk::IsKept(const void* record)
{
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
