// Chunk names and memory names: the one place that writes and reads them.
#include "core/io/virtual_names.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "core/io/virtual_files.h"
#include "platform/posix/os_paths.h"

namespace {

constexpr size_t CHUNK_PREFIX_LEN = sizeof(CHUNK_PREFIX) - 1;
constexpr size_t MEMORY_PREFIX_LEN = sizeof(MEMORY_PREFIX) - 1;

// Parses an unsigned number in the given base up to the first character
// that is not a digit; false for no digits or a value beyond 64 bits.
bool ParseNumber(const char*& p, unsigned base, uint64_t* out)
{
    uint64_t value = 0;
    const char* start = p;
    for (;; ++p) {
        unsigned digit;
        char c = *p;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            break;
        if (value > (UINT64_MAX - digit) / base)
            return false;
        value = value * base + digit;
    }
    if (p == start)
        return false;
    *out = value;
    return true;
}

// The blocks whose memory names are held, each with its count of holders:
// the only blocks that a memory name opens. Streams may be opened from more
// than the script thread, hence the lock. Never destroyed, so that a record
// that goes at exit still finds it.
struct HeldBlock {
    uintptr_t address;
    uint64_t size;
    uint32_t holders;
};
struct HeldNames {
    std::mutex lock;
    std::vector<HeldBlock> blocks;
};

HeldNames& Held()
{
    static HeldNames* held = new HeldNames;
    return *held;
}

HeldBlock* FindHeld(HeldNames& held, uintptr_t address, uint64_t size)
{
    for (HeldBlock& block : held.blocks)
        if (block.address == address && block.size == size)
            return &block;
    return nullptr;
}

bool IsWholeBlock(uintptr_t address, uint64_t size)
{
    return size <= UINTPTR_MAX - address && (address != 0 || size == 0);
}

} // namespace

bool IsChunkName(const char* name)
{
    return std::strncmp(name, CHUNK_PREFIX, CHUNK_PREFIX_LEN) == 0;
}

bool IsMemoryName(const char* name)
{
    return std::strncmp(name, MEMORY_PREFIX, MEMORY_PREFIX_LEN) == 0;
}

bool MakeChunkName(const char* displayName, char* out, size_t outSize, uint64_t offset,
                   uint64_t size, uint64_t base, const char* containerFile)
{
    int n;
    if (offset == CHUNK_STRING_OFFSET) {
        n = std::snprintf(out, outSize, "%sS%" PRIu64 ":%" PRIu64 "*%s?%s", CHUNK_PREFIX, base,
                          size, displayName, containerFile);
    } else {
        if (offset > UINT64_MAX - base) {
            if (outSize)
                out[0] = 0;
            return false;
        }
        n = std::snprintf(out, outSize, "%s%" PRIu64 ":%" PRIu64 "*%s?%s", CHUNK_PREFIX,
                          offset + base, size, displayName, containerFile);
    }
    if (n < 0 || static_cast<size_t>(n) >= outSize) {
        if (outSize)
            out[0] = 0;
        return false;
    }
    return true;
}

std::string_view DisplayNameExtension(std::string_view displayName)
{
    size_t dot = displayName.rfind('.');
    return dot == std::string_view::npos ? std::string_view() : displayName.substr(dot);
}

bool ParseChunkName(const char* name, ChunkNameParts* out)
{
    *out = ChunkNameParts{};
    if (!IsChunkName(name))
        return false;
    const char* p = name + CHUNK_PREFIX_LEN;
    if (*p == 'S') {
        out->isString = true;
        ++p;
    }
    uint64_t first;
    uint64_t size;
    if (!ParseNumber(p, 10, &first) || *p++ != ':' || !ParseNumber(p, 10, &size) || *p++ != '*')
        return false;
    const char* question = std::strchr(p, '?');
    if (!question)
        return false;
    out->displayName = std::string_view(p, static_cast<size_t>(question - p));
    out->extension = DisplayNameExtension(out->displayName);
    out->size = size;
    if (out->isString) {
        out->reference = first;
        out->object = FindVirtualStringFile(first);
        if (!out->object)
            return false;
        out->size = out->object->size;
        return true;
    }
    out->offset = first;
    out->file = std::string_view(question + 1);
    return true;
}

uint64_t ClampRegionSize(uint64_t containerSize, uint64_t offset, uint64_t size)
{
    if (offset >= containerSize)
        return 0;
    return size > containerSize - offset ? containerSize - offset : size;
}

uint64_t ChunkRegionSize(const ChunkNameParts& parts)
{
    if (parts.isString || parts.file.empty())
        return parts.size;
    struct stat st;
    if (stat(OsHostPath(std::string(parts.file).c_str()).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return parts.size;
    return ClampRegionSize(static_cast<uint64_t>(st.st_size), parts.offset, parts.size);
}

bool MakeMemoryName(const void* data, uint64_t size, MemoryName* out)
{
    ReleaseMemoryName(out);
    auto address = reinterpret_cast<uintptr_t>(data);
    if (!IsWholeBlock(address, size))
        return false;
    int n = std::snprintf(out->text, sizeof out->text, "%s%" PRIxPTR ":%" PRIx64, MEMORY_PREFIX, address, size);
    if (n < 0 || static_cast<size_t>(n) >= sizeof out->text) {
        out->text[0] = 0;
        return false;
    }
    HeldNames& held = Held();
    std::lock_guard<std::mutex> lock(held.lock);
    if (HeldBlock* block = FindHeld(held, address, size))
        ++block->holders;
    else
        held.blocks.push_back({address, size, 1});
    out->address = address;
    out->size = size;
    out->held = true;
    return true;
}

void ReleaseMemoryName(MemoryName* name)
{
    name->text[0] = 0;
    if (!name->held)
        return;
    name->held = false;
    HeldNames& held = Held();
    std::lock_guard<std::mutex> lock(held.lock);
    if (HeldBlock* block = FindHeld(held, name->address, name->size); block && --block->holders == 0) {
        *block = held.blocks.back();
        held.blocks.pop_back();
    }
}

bool ParseMemoryName(const char* name, const uint8_t** outData, uint64_t* outSize)
{
    if (!IsMemoryName(name))
        return false;
    const char* p = name + MEMORY_PREFIX_LEN;
    uint64_t address;
    uint64_t size;
    if (!ParseNumber(p, 16, &address) || *p++ != ':' || !ParseNumber(p, 16, &size) || *p != 0)
        return false;
    if (address > UINTPTR_MAX || !IsWholeBlock(static_cast<uintptr_t>(address), size))
        return false;
    HeldNames& held = Held();
    {
        std::lock_guard<std::mutex> lock(held.lock);
        if (!FindHeld(held, static_cast<uintptr_t>(address), size))
            return false;
    }
    *outData = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(address));
    *outSize = size;
    return true;
}
