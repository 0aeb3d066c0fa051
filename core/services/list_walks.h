// Walks over record lists that call out for each record: into the script,
// an event handler, a plugin's callback or hook. Whatever runs meanwhile
// may create, replace and free records of the list being walked (the one
// being visited included) and may walk the same list again.
//
// The rule that keeps such a walk safe: a walk visits the records that were
// on the list when it began, in their order, and skips each one freed
// since; records made meanwhile wait for the next walk. A walked list frees
// its records through FreeListRecord, which keeps their memory while any
// walk is on the stack and frees it when the outermost walk ends. So an
// address that a walk took never names another record, and "freed since" is
// answered from the records kept, without reading the list again.
//
// Walks and frees happen on the script thread only.
#pragma once

#include <cstddef>
#include <cstdint>

// Frees a record (a block from OsAllocMem) that its list no longer links and
// that no longer owns anything: at once when no walk runs, else when the
// outermost walk ends.
void FreeListRecord(void* record);

// One walk, open from construction to destruction (an error that unwinds
// through a visit closes it too). The common case (a short list, nothing
// freed) stays inline: the line hook walks the hooks on every line.
class ListWalk {
public:
    ListWalk() : records(inlineRecords) { ++depth; }
    ~ListWalk()
    {
        if (records != inlineRecords || (depth == 1 && kept))
            Close();
        else
            --depth;
    }
    ListWalk(const ListWalk&) = delete;
    ListWalk& operator=(const ListWalk&) = delete;

    // Adds a record to visit: 0 or ERR_MEM.
    uint32_t Take(void* record)
    {
        if (count == capacity)
            return Grow(record);
        records[count++] = record;
        return 0;
    }
    size_t Count() const { return count; }
    // The record taken at `index`, or null when it has been freed since.
    void* Live(size_t index) const { return kept && IsKept(records[index]) ? nullptr : records[index]; }

private:
    friend void FreeListRecord(void* record);
    uint32_t Grow(void* record);
    void Close();
    static bool IsKept(const void* record);

    // Walks now on the stack, and the records freed meanwhile (linked
    // through their first word).
    static inline uint32_t depth = 0;
    static inline void* kept = nullptr;

    static constexpr size_t kInlineRecords = 16;
    void* inlineRecords[kInlineRecords];
    void** records;
    size_t count = 0;
    size_t capacity = kInlineRecords;
};

// Visits the records of the list that begins at `first`, in order, as the
// rule above says. `next(record)` is the record after one; `visit(record)`
// answers 0 to go on, anything else to stop the walk with that answer.
// ERR_MEM before any visit when the records cannot be taken.
template <typename Record, typename Next, typename Visit>
uint32_t WalkList(Record* first, Next next, Visit visit)
{
    ListWalk walk;
    for (Record* r = first; r; r = next(r))
        if (uint32_t error = walk.Take(r))
            return error;
    for (size_t i = 0; i < walk.Count(); ++i)
        if (void* r = walk.Live(i))
            if (uint32_t answer = visit(static_cast<Record*>(r)))
                return answer;
    return 0;
}
