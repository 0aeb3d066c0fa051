// Interned strings: the hash, the string table with its growth, and the
// number/string coercions every operation shares.
#include "core/vm/strings.h"

#include <cstdio>
#include <cstring>

#include "core/io/number_conv.h"
#include "core/vm/memory.h"

namespace {

constexpr uint64_t kMix = 0x9E3779B97F4A7C15ull;
static_assert(sizeof(uintptr_t) == 8, "string slots pack 64-bit addresses");

// A slot packs the string's address with the top 21 bits of its hash's
// mix (see HomeSlot): 17 above the 47 bits of a user-space address, 4 in
// the low bits that a string's 16-byte alignment leaves free. They answer
// most mismatches of a probe, and give the home slot of a table of up to
// 2^21 slots, so that growing the table or closing a gap moves entries
// without visiting strings that lie anywhere in memory. Among entries of
// one home slot only the tag bits below the home's tell strings apart,
// and each one more halves the strings a probe visits in vain. Left out
// under the sanitizer, whose leak checker only follows plain pointers.
constexpr int kTagBits = 21;
constexpr int kAddressBits = 47;
constexpr uint64_t kHighTag = ~((uint64_t{1} << kAddressBits) - 1);
constexpr uint64_t kLowTag = 0xF;
constexpr uint64_t kAddressMask = QM_VM_SANITIZED ? ~uint64_t{0} : ~(kHighTag | kLowTag);

// A string's home slot comes from a multiplicative mix of its hash: similar
// strings hash to clustered values, and linear probing would pile them up.
inline uint64_t HomeSlot(const VmStringTable* tb, uint32_t h)
{
    return (h * kMix) >> (64 - __builtin_ctzll(tb->size));
}

inline uint64_t Tag(uint32_t h)
{
    if (QM_VM_SANITIZED)
        return 0;
    uint64_t top = (h * kMix) >> (64 - kTagBits);
    return (top >> 4) << kAddressBits | (top & kLowTag);
}

inline VmString* StringOf(uint64_t slot)
{
    return reinterpret_cast<VmString*>(slot & kAddressMask);
}

// The home slot of an occupied slot's string.
inline uint64_t HomeOfSlot(const VmStringTable* tb, uint64_t slot)
{
    int bits = __builtin_ctzll(tb->size);
    if (QM_VM_SANITIZED || bits > kTagBits)
        return HomeSlot(tb, StringOf(slot)->hash);
    uint64_t top = (slot >> kAddressBits) << 4 | (slot & kLowTag);
    return top >> (kTagBits - bits);
}

// Puts a new string into a free slot. An address beyond 47 bits (which
// user space on x86-64 Linux is never given) or off its 16-byte alignment
// (which no block of the allocator is) could not be packed: the string is
// refused as out of memory rather than mangled.
void LinkSlot(VmState* L, uint64_t* slot, VmString* s)
{
    if (reinterpret_cast<uintptr_t>(s) & ~kAddressMask) {
        VmRealloc(L, s, VmStringBlockSize(s->len), 0);
        VmRealloc(L, nullptr, 0, VM_MAX_BLOCK);  // raises ERR_MEM
    }
    *slot = reinterpret_cast<uintptr_t>(s) | Tag(s->hash);
    L->g->strt.nuse++;
}

// The table grows before an insertion would fill more than three quarters
// of its slots, so a free slot always ends every probe.
inline bool NeedsGrowth(const VmStringTable* tb)
{
    return (tb->nuse + 1) * 4 > tb->size * 3;
}

// The slot holding the string of these bytes, or the free slot where it
// belongs.
uint64_t* FindSlot(VmStringTable* tb, const char* bytes, size_t length, uint32_t h)
{
    uint64_t mask = tb->size - 1;
    uint64_t tag = Tag(h);
    for (uint64_t i = HomeSlot(tb, h);; i = (i + 1) & mask) {
        uint64_t* slot = &tb->slots[i];
        if (*slot == 0)
            return slot;
        if ((*slot & ~kAddressMask) == tag) {
            const VmString* s = StringOf(*slot);
            if (s->hash == h && s->len == length &&
                (length == 0 || std::memcmp(bytes, VmStringBytes(s), length) == 0))
                return slot;
        }
    }
}

uint64_t* FreeSlotFrom(VmStringTable* tb, uint64_t i)
{
    uint64_t mask = tb->size - 1;
    while (tb->slots[i])
        i = (i + 1) & mask;
    return &tb->slots[i];
}

uint64_t* FreeSlot(VmStringTable* tb, uint32_t h)
{
    return FreeSlotFrom(tb, HomeSlot(tb, h));
}

// Empties a slot, moving later entries of its run back so that every entry
// stays reachable from its home slot without markers of deleted ones.
void RemoveSlot(VmStringTable* tb, uint64_t hole)
{
    uint64_t mask = tb->size - 1;
    for (uint64_t j = (hole + 1) & mask; tb->slots[j]; j = (j + 1) & mask) {
        uint64_t home = HomeOfSlot(tb, tb->slots[j]);
        if (((j - home) & mask) >= ((j - hole) & mask)) {
            tb->slots[hole] = tb->slots[j];
            hole = j;
        }
    }
    tb->slots[hole] = 0;
}

// The header and terminator of a string object of this length.
VmString* InitStringObject(void* block, size_t length, uint32_t h)
{
    auto* s = static_cast<VmString*>(block);
    s->next = nullptr;
    s->tt = VM_TSTRING;
    s->marked = 0;
    s->hash = h;
    s->len = static_cast<uint32_t>(length);
    VmStringBytes(s)[length] = '\0';
    return s;
}

// An unlinked string object of this length with its terminator; its bytes
// are the caller's to fill.
VmString* AllocStringObject(VmState* L, size_t length, uint32_t h)
{
    if (length >= VM_MAX_BLOCK - VM_STRING_HEADER)
        VmRealloc(L, nullptr, 0, VM_MAX_BLOCK);  // raises ERR_MEM
    return InitStringObject(VmRealloc(L, nullptr, 0, VmStringBlockSize(length)), length, h);
}

VmString* NewStringObject(VmState* L, const char* bytes, size_t length, uint32_t h)
{
    VmString* s = AllocStringObject(L, length, h);
    if (length != 0)
        std::memcpy(VmStringBytes(s), bytes, length);
    return s;
}

// The same for a short string, raising nothing: null when the pool cannot
// give it at once.
VmString* TryNewShortString(VmState* L, const char* bytes, size_t length, uint32_t h)
{
    void* block = VmTryNewSmallBlock(L, VmStringBlockSize(length));
    if (!block)
        return nullptr;
    VmString* s = InitStringObject(block, length, h);
    if (length != 0)
        std::memcpy(VmStringBytes(s), bytes, length);
    return s;
}

bool IsSpace(unsigned char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

uint32_t VmHashBytes(const char* bytes, size_t l)
{
    // Samples at most about 32 bytes, from the end, so long strings hash in
    // constant time.
    uint32_t h = static_cast<uint32_t>(l);
    size_t step = (l >> 5) + 1;
    for (size_t l1 = l; l1 >= step; l1 -= step)
        h ^= (h << 5) + (h >> 2) + static_cast<unsigned char>(bytes[l1 - 1]);
    return h;
}

VmString* VmNewString(VmState* L, const char* bytes, size_t length)
{
    return VmNewStringHashed(L, bytes, length, VmHashBytes(bytes, length));
}

void VmPrefetchStringSlot(VmState* L, uint32_t hash)
{
    const VmStringTable* tb = &L->g->strt;
    __builtin_prefetch(&tb->slots[HomeSlot(tb, hash)]);
}

VmString* VmNewStringHashed(VmState* L, const char* bytes, size_t length, uint32_t h)
{
    VmStringTable* tb = &L->g->strt;
    // Most strings a run makes are new: a short one's object is made while
    // its home slot is on its way from memory, rather than after the probe
    // has waited for it. Found interned, it goes back. Nothing here raises
    // before the probe, so finding a string never fails.
    VmPrefetchStringSlot(L, h);
    VmString* s = TryNewShortString(L, bytes, length, h);
    uint64_t* slot = FindSlot(tb, bytes, length, h);
    if (*slot) {
        if (s)
            VmRealloc(L, s, VmStringBlockSize(length), 0);
        return StringOf(*slot);
    }
    if (NeedsGrowth(tb)) {
        // The table may fail to grow: nothing unlinked is held then.
        if (s)
            VmRealloc(L, s, VmStringBlockSize(length), 0);
        s = nullptr;
        VmResizeStringTable(L, tb->size * 2);
        slot = FreeSlot(tb, h);
    }
    // Linked only once allocated: a failed allocation leaves the table as
    // it was.
    if (!s)
        s = NewStringObject(L, bytes, length, h);
    LinkSlot(L, slot, s);
    return s;
}

VmString* VmAllocString(VmState* L, size_t length)
{
    // Room for the string is made now, while a failure leaves nothing
    // behind, so that VmInternFresh never has to grow the table.
    VmReserveStringSlot(L);
    return AllocStringObject(L, length, 0);
}

void VmReserveStringSlot(VmState* L)
{
    VmStringTable* tb = &L->g->strt;
    if (NeedsGrowth(tb))
        VmResizeStringTable(L, tb->size * 2);
}

VmString* VmInternFresh(VmState* L, VmString* fresh)
{
    const char* bytes = VmStringBytes(fresh);
    size_t length = fresh->len;
    uint32_t h = VmHashBytes(bytes, length);
    VmStringTable* tb = &L->g->strt;
    uint64_t* slot = FindSlot(tb, bytes, length, h);
    if (*slot) {
        VmRealloc(L, fresh, VmStringBlockSize(length), 0);
        return StringOf(*slot);
    }
    fresh->hash = h;
    LinkSlot(L, slot, fresh);
    return fresh;
}

VmString* VmNewCString(VmState* L, const char* text)
{
    return VmNewString(L, text, std::strlen(text));
}

void VmResizeStringTable(VmState* L, uint64_t newSize)
{
    constexpr uint64_t kAhead = 16;
    VmStringTable* tb = &L->g->strt;
    VmStringTable fresh{VmNewVector<uint64_t>(L, newSize), tb->nuse, newSize};
    std::memset(fresh.slots, 0, newSize * sizeof *fresh.slots);
    bool tagsGiveHome = !QM_VM_SANITIZED && __builtin_ctzll(newSize) <= kTagBits;
    for (uint64_t i = 0; i < tb->size; i++) {
        uint64_t slot = tb->slots[i];
        if (tagsGiveHome) {
            if (slot)
                *FreeSlotFrom(&fresh, HomeOfSlot(&fresh, slot)) = slot;
            continue;
        }
        // The new home needs the full hash, in strings that lie anywhere.
        if (i + kAhead < tb->size)
            __builtin_prefetch(StringOf(tb->slots[i + kAhead]));
        if (slot)
            *FreeSlot(&fresh, StringOf(slot)->hash) = slot;
    }
    VmFreeVector(L, tb->slots, tb->size);
    *tb = fresh;
}

void VmSweepStrings(VmState* L)
{
    constexpr uint64_t kAhead = 128;
    VmStringTable* tb = &L->g->strt;
    uint64_t mask = tb->size - 1;
    // The scan starts past a free slot: removing an entry moves later ones
    // of its run back, and no run may wrap round to where the scan began.
    uint64_t start = 0;
    while (tb->slots[start])
        start++;
    for (uint64_t n = 1; n < tb->size; n++) {
        uint64_t i = (start + n) & mask;
        // The strings lie anywhere in memory: fetch one well ahead, further
        // than a sweep that keeps most strings takes to wait out a miss.
        __builtin_prefetch(StringOf(tb->slots[(i + kAhead) & mask]), 1);
        while (uint64_t slot = tb->slots[i]) {
            VmString* s = StringOf(slot);
            if (s->marked & (VM_GC_REACHED | VM_GC_FIXED)) {
                s->marked &= static_cast<uint8_t>(~VM_GC_REACHED);
                break;
            }
            RemoveSlot(tb, i);  // brings the next entry of the run here
            VmFreeObject(L, s);
        }
    }
}

void VmClearStringTable(VmState* L, bool freeStrings)
{
    VmStringTable* tb = &L->g->strt;
    for (uint64_t i = 0; freeStrings && i < tb->size; i++) {
        if (tb->slots[i])
            VmFreeObject(L, StringOf(tb->slots[i]));
    }
    std::memset(tb->slots, 0, tb->size * sizeof *tb->slots);
    tb->nuse = 0;
}

bool VmStrToNumber(const char* s, size_t length, double* result)
{
    const char* end = s + length;
    while (s < end && IsSpace(static_cast<unsigned char>(*s)))
        s++;
    if (s == end)
        return false;
    const char* digits = nullptr;
    if (*s == '$')
        digits = s + 1;
    else if (end - s >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
        digits = s + 2;
    double value;
    if (digits) {
        // Hexadecimal reads as an unsigned 32-bit value; longer numbers
        // saturate as the conversion of the platform this was written on did.
        uint64_t v = 0;
        const char* p = digits;
        for (; p < end; p++) {
            unsigned c = static_cast<unsigned char>(*p);
            unsigned d;
            if (c >= '0' && c <= '9')
                d = c - '0';
            else if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f')
                d = (c | 0x20) - 'a' + 10;
            else
                break;
            v = v * 16 + d;
            if (v > 0xFFFFFFFFu)
                v = 0x1FFFFFFFFull;  // sticky overflow
        }
        if (p == digits)
            return false;
        value = v > 0xFFFFFFFFu ? 4294967295.0 : static_cast<double>(v);
        s = p;
    } else {
        const char* start = s;
        bool negative = false;
        if (*start == '+' || *start == '-') {
            negative = *start == '-';
            start++;
        }
        if (start == end || *start == '+' || *start == '-')
            return false;
        size_t used = ParseDecimalNumber(start, static_cast<size_t>(end - start), &value);
        if (used == 0)
            return false;
        const char* p = start + used;
        if (negative)
            value = -value;
        s = p;
    }
    while (s < end && IsSpace(static_cast<unsigned char>(*s)))
        s++;
    if (s != end)
        return false;
    *result = value;
    return true;
}

bool VmToNumber(const VmValue* o, double* result)
{
    switch (o->tt) {
    case VM_TNUMBER:
        *result = o->v.n;
        return true;
    case VM_TNIL:
        *result = 0;
        return true;
    case VM_TSTRING:
        return VmStrToNumber(VmSvalue(o), VmStrValue(o)->len, result);
    default:
        return false;
    }
}

int VmFormatNumber(char* out, double n)
{
    return FormatNumber14g(out, n);
}

bool VmToStringInPlace(VmState* L, VmValue* o)
{
    if (o->tt == VM_TSTRING)
        return true;
    if (o->tt == VM_TNUMBER) {
        char buf[32];
        int n = VmFormatNumber(buf, o->v.n);
        VmSetString(o, VmNewString(L, buf, static_cast<size_t>(n)));
        return true;
    }
    if (o->tt == VM_TNIL) {
        VmSetString(o, VmNewString(L, "", 0));
        return true;
    }
    return false;
}

char* VmScratchBuffer(VmState* L, size_t n)
{
    VmGlobalState* g = L->g;
    if (n < 32)
        n = 32;
    if (n > g->buffsize) {
        g->buffer = VmResizeVector(L, g->buffer, g->buffsize, n);
        g->buffsize = n;
    }
    return g->buffer;
}
