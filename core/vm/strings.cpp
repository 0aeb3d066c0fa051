// Interned strings: the hash, the string table with its growth, and the
// number/string coercions every operation shares.
#include "core/vm/strings.h"

#include <cstdio>
#include <cstring>

#include "core/io/number_conv.h"
#include "core/vm/memory.h"

namespace {

VmString* NewStringObject(VmState* L, const char* bytes, size_t length, uint32_t h)
{
    if (length >= VM_MAX_BLOCK - sizeof(VmString))
        VmRealloc(L, nullptr, 0, VM_MAX_BLOCK);  // raises ERR_MEM
    auto* s = static_cast<VmString*>(VmRealloc(L, nullptr, 0, sizeof(VmString) + length + 1));
    s->tt = VM_TSTRING;
    s->marked = 0;
    s->reserved = 0;
    s->hash = h;
    s->len = length;
    if (length != 0)
        std::memcpy(VmStringBytes(s), bytes, length);
    VmStringBytes(s)[length] = '\0';
    VmStringTable* tb = &L->g->strt;
    uint64_t b = h & (tb->size - 1);
    s->next = tb->hash[b];
    tb->hash[b] = s;
    tb->nuse++;
    if (tb->nuse > tb->size && tb->size <= 0x3FFFFFFEu)
        VmResizeStringTable(L, tb->size * 2);
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

void VmPrefetchStringBucket(VmState* L, uint32_t hash)
{
    const VmStringTable* tb = &L->g->strt;
    __builtin_prefetch(&tb->hash[hash & (tb->size - 1)]);
}

void VmPrefetchStringChain(VmState* L, uint32_t hash)
{
    const VmStringTable* tb = &L->g->strt;
    __builtin_prefetch(tb->hash[hash & (tb->size - 1)]);
}

VmString* VmNewStringHashed(VmState* L, const char* bytes, size_t length, uint32_t h)
{
    VmStringTable* tb = &L->g->strt;
    for (VmGcHeader* o = tb->hash[h & (tb->size - 1)]; o; o = o->next) {
        auto* s = static_cast<VmString*>(o);
        if (s->hash == h && s->len == length && (length == 0 || std::memcmp(bytes, VmStringBytes(s), length) == 0))
            return s;
    }
    return NewStringObject(L, bytes, length, h);
}

VmString* VmAllocString(VmState* L, size_t length)
{
    if (length >= VM_MAX_BLOCK - sizeof(VmString))
        VmRealloc(L, nullptr, 0, VM_MAX_BLOCK);  // raises ERR_MEM
    auto* s = static_cast<VmString*>(VmRealloc(L, nullptr, 0, sizeof(VmString) + length + 1));
    s->next = nullptr;
    s->tt = VM_TSTRING;
    s->marked = 0;
    s->reserved = 0;
    s->hash = 0;
    s->len = length;
    VmStringBytes(s)[length] = '\0';
    return s;
}

VmString* VmInternFresh(VmState* L, VmString* fresh)
{
    const char* bytes = VmStringBytes(fresh);
    size_t length = fresh->len;
    uint32_t h = VmHashBytes(bytes, length);
    VmStringTable* tb = &L->g->strt;
    for (VmGcHeader* o = tb->hash[h & (tb->size - 1)]; o; o = o->next) {
        auto* s = static_cast<VmString*>(o);
        if (s->len == length && (length == 0 || std::memcmp(bytes, VmStringBytes(s), length) == 0)) {
            VmRealloc(L, fresh, sizeof(VmString) + length + 1, 0);
            return s;
        }
    }
    fresh->hash = h;
    uint64_t b = h & (tb->size - 1);
    fresh->next = tb->hash[b];
    tb->hash[b] = fresh;
    tb->nuse++;
    if (tb->nuse > tb->size && tb->size <= 0x3FFFFFFEu)
        VmResizeStringTable(L, tb->size * 2);
    return fresh;
}

VmString* VmNewCString(VmState* L, const char* text)
{
    return VmNewString(L, text, std::strlen(text));
}

void VmResizeStringTable(VmState* L, uint64_t newSize)
{
    VmStringTable* tb = &L->g->strt;
    VmGcHeader** buckets = VmNewVector<VmGcHeader*>(L, newSize);
    for (uint64_t i = 0; i < newSize; i++)
        buckets[i] = nullptr;
    for (uint64_t i = 0; i < tb->size; i++) {
        // Chains are relinked from scattered strings: fetch some ahead.
        if (i + 8 < tb->size)
            __builtin_prefetch(tb->hash[i + 8], 1);
        VmGcHeader* p = tb->hash[i];
        while (p) {
            VmGcHeader* next = p->next;
            uint64_t b = static_cast<VmString*>(p)->hash & (newSize - 1);
            p->next = buckets[b];
            buckets[b] = p;
            p = next;
        }
    }
    VmFreeVector(L, tb->hash, tb->size);
    tb->hash = buckets;
    tb->size = newSize;
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
