// Tables and metamethod lookup. A key that is an integer in 1..sizearray
// lives in the array part; every other key lives in the hash part, whose
// collisions chain through nodes of the same part. The free-position pointer
// only moves down; when it finds no free node the table is rehashed, which
// sizes the array part to the largest power of two more than half in use.
#include "core/vm/table.h"

#include <cstring>

#include "core/io/error_codes.h"
#include "core/vm/memory.h"
#include "core/vm/state.h"
#include "core/vm/strings.h"

const VmValue VmNilObject = {VM_TNIL, 0, {nullptr}};

namespace {

constexpr int MAXBITS = 24;

const char* const kEventNames[TM_N] = {
    "__index", "__newindex", "__gc",  "__mode", "__eq",  "__add", "__sub", "__mul",
    "__div",   "__divint",   "__mod", "__lsh",  "__rsh", "__or",  "__and", "__xor",
    "__pow",   "__unm",      "__not", "__lt",   "__le",  "__concat", "__call",
};

inline uint32_t ModOdd(uint64_t h, uint64_t size)
{
    return static_cast<uint32_t>(h % ((size - 1) | 1));
}

inline VmNode* HashNum(const VmTable* t, double n)
{
    // 0 and -0 are one key: adding 1 makes their bits equal.
    n += 1;
    uint32_t halves[2];
    std::memcpy(halves, &n, sizeof halves);
    return &t->node[ModOdd(static_cast<uint32_t>(halves[0] + halves[1]), VmSizeNode(t))];
}

inline VmNode* HashPointer(const VmTable* t, const void* p)
{
    // Objects are at least 8-aligned; fold the high half in so that blocks
    // far apart in a 64-bit address space still spread.
    uint64_t a = reinterpret_cast<uintptr_t>(p);
    uint64_t h = (a >> 3) ^ (a >> 32);
    return &t->node[ModOdd(h, VmSizeNode(t))];
}

inline VmNode* HashStr(const VmTable* t, const VmString* s)
{
    return &t->node[s->hash & (VmSizeNode(t) - 1)];
}

VmNode* MainPosition(const VmTable* t, const VmValue* key);

// Main position of a key already stored in a node.
inline VmNode* NodeMainPosition(const VmTable* t, const VmValue* nodeKey)
{
    if (nodeKey->tt == VM_TSTRING)
        return &t->node[nodeKey->aux & (VmSizeNode(t) - 1)];
    return MainPosition(t, nodeKey);
}

VmNode* MainPosition(const VmTable* t, const VmValue* key)
{
    switch (key->tt) {
    case VM_TNUMBER:
        return HashNum(t, key->v.n);
    case VM_TSTRING:
        return HashStr(t, VmStrValue(key));
    case VM_TBOOLEAN:
        return &t->node[static_cast<uint32_t>(key->v.b) & (VmSizeNode(t) - 1)];
    case VM_TLIGHTUSERDATA:
        return HashPointer(t, key->v.p);
    default:
        return HashPointer(t, key->v.gc);
    }
}

void SetArrayVector(VmState* L, VmTable* t, uint64_t size)
{
    if (size > VM_MAXARRAY)
        VmRaiseError(L, ERR_TABLEOVERFLOW);
    t->array = VmResizeVector(L, t->array, t->sizearray, size);
    for (uint64_t i = t->sizearray; i < size; i++)
        VmSetNil(&t->array[i]);
    t->sizearray = static_cast<uint32_t>(size);
}

void SetNodeVector(VmState* L, VmTable* t, int lsize)
{
    if (lsize > VM_MAXHASHLOG)
        VmRaiseError(L, ERR_TABLEOVERFLOW);
    if (lsize == 0) {
        t->node = &L->g->dummynode;
    } else {
        uint64_t size = uint64_t{1} << lsize;
        t->node = VmNewVector<VmNode>(L, size);
        for (uint64_t i = 0; i < size; i++) {
            t->node[i].next = nullptr;
            VmSetNil(&t->node[i].key);
            VmSetNil(&t->node[i].val);
        }
    }
    t->lsizenode = static_cast<uint8_t>(lsize);
    t->firstfree = &t->node[VmSizeNode(t) - 1];
}

// Counts in nums[i] the integer keys k with 2^(i-1) < k <= 2^i (nums[0]:
// key 1), and returns the total count of non-nil entries.
uint64_t CountKeys(const VmTable* t, uint64_t nums[MAXBITS + 1], uint64_t* nIntKeys)
{
    uint64_t total = 0, ints = 0;
    for (uint64_t i = 0; i < t->sizearray; i++) {
        if (!VmIsNil(&t->array[i])) {
            nums[VmLog2(static_cast<uint32_t>(i)) + 1]++;
            ints++;
            total++;
        }
    }
    uint64_t size = VmSizeNode(t);
    for (uint64_t i = 0; i < size; i++) {
        const VmNode* n = &t->node[i];
        if (VmIsNil(&n->val))
            continue;
        total++;
        int32_t k;
        if (n->key.tt == VM_TNUMBER && VmNumberToInt32(n->key.v.n, &k) && k >= 1 &&
            static_cast<uint32_t>(k) <= (1u << MAXBITS)) {
            nums[VmLog2(static_cast<uint32_t>(k - 1)) + 1]++;
            ints++;
        }
    }
    *nIntKeys = ints;
    return total;
}

void CountExtraKey(const VmValue* key, uint64_t nums[MAXBITS + 1], uint64_t* nIntKeys, uint64_t* total)
{
    (*total)++;
    int32_t k;
    if (key->tt == VM_TNUMBER && VmNumberToInt32(key->v.n, &k) && k >= 1 &&
        static_cast<uint32_t>(k) <= (1u << MAXBITS)) {
        nums[VmLog2(static_cast<uint32_t>(k - 1)) + 1]++;
        (*nIntKeys)++;
    }
}

void Rehash(VmState* L, VmTable* t, const VmValue* extraKey)
{
    uint64_t nums[MAXBITS + 1] = {};
    uint64_t nInt = 0;
    uint64_t total = CountKeys(t, nums, &nInt);
    if (extraKey)
        CountExtraKey(extraKey, nums, &nInt, &total);
    uint64_t a = 0, na = 0, n = 0;
    uint64_t twotoi = 1;
    for (int i = 0; i <= MAXBITS && twotoi / 2 < nInt; i++, twotoi *= 2) {
        if (nums[i] > 0) {
            a += nums[i];
            if (a > twotoi / 2) {
                n = twotoi;
                na = a;
            }
        }
    }
    uint64_t nhash = total - na;
    VmResizeTable(L, t, n, nhash > 0 ? VmLog2(static_cast<uint32_t>(nhash > 0xFFFFFFFFu ? 0xFFFFFFFFu : nhash)) + 1 : 0);
}

// keyFromNode: key is a node's key whose aux already holds its hash.
VmValue* NewKey(VmState* L, VmTable* t, const VmValue* key, VmNode* mp, bool keyFromNode = false)
{
    if (t->node == &L->g->dummynode) {
        // No hash part yet: the shared empty node is never written, so make
        // room first (counting the new key) and place it in the new layout.
        VmValue k = *key;
        Rehash(L, t, &k);
        return VmTableSet(L, t, &k);
    }
    if (!VmIsNil(&mp->val)) {
        VmNode* othern = NodeMainPosition(t, &mp->key);
        VmNode* n = t->firstfree;
        if (othern != mp) {
            // The occupant is not in its main position: move it to the free
            // node and give the new key its main position.
            while (othern->next != mp)
                othern = othern->next;
            othern->next = n;
            *n = *mp;
            mp->next = nullptr;
            VmSetNil(&mp->val);
        } else {
            n->next = mp->next;
            mp->next = n;
            mp = n;
        }
    }
    mp->key = *key;
    if (key->tt == VM_TSTRING && !keyFromNode)
        mp->key.aux = VmStrValue(key)->hash;
    for (;;) {
        if (VmIsNil(&t->firstfree->key))
            return &mp->val;
        if (t->firstfree == t->node)
            break;
        t->firstfree--;
    }
    // No free node left: rehash with the new key counted as present.
    VmSetBool(&mp->val, 0);
    VmValue k = *key;
    Rehash(L, t, nullptr);
    auto* val = const_cast<VmValue*>(VmTableGet(t, &k));
    VmSetNil(val);
    return val;
}

}  // namespace

VmTable* VmNewTableObject(VmState* L, uint64_t arraySize, int hashLog)
{
    if (hashLog > VM_MAXHASHLOG || arraySize > VM_MAXARRAY)
        VmRaiseError(L, ERR_TABLEOVERFLOW);
    auto* t = static_cast<VmTable*>(VmRealloc(L, nullptr, 0, sizeof(VmTable)));
    VmLinkObject(L, t, VM_TTABLE);
    t->metatable = L->g->defaultMeta.tt == VM_TTABLE ? VmDefaultMeta(L) : t;
    t->flags = 0xFF;
    t->array = nullptr;
    t->sizearray = 0;
    t->lsizenode = 0;
    t->node = &L->g->dummynode;
    t->firstfree = t->node;
    t->gclist = nullptr;
    SetArrayVector(L, t, arraySize);
    SetNodeVector(L, t, hashLog);
    return t;
}

void VmFreeTable(VmState* L, VmTable* t)
{
    if (t->node != &L->g->dummynode)
        VmFreeVector(L, t->node, VmSizeNode(t));
    VmFreeVector(L, t->array, t->sizearray);
    VmRealloc(L, t, sizeof(VmTable), 0);
}

void VmResizeTable(VmState* L, VmTable* t, uint64_t arraySize, int hashLog)
{
    if (hashLog > VM_MAXHASHLOG || arraySize > VM_MAXARRAY)
        VmRaiseError(L, ERR_TABLEOVERFLOW);
    uint64_t oldASize = t->sizearray;
    uint64_t oldHSize = VmSizeNode(t);
    VmNode* oldNodes = t->node;
    bool oldDummy = oldNodes == &L->g->dummynode;
    if (arraySize > oldASize)
        SetArrayVector(L, t, arraySize);
    SetNodeVector(L, t, hashLog);
    if (arraySize < oldASize) {
        t->sizearray = static_cast<uint32_t>(arraySize);
        for (uint64_t i = arraySize; i < oldASize; i++) {
            if (!VmIsNil(&t->array[i]))
                *VmTableSetNum(L, t, static_cast<int64_t>(i + 1)) = t->array[i];
        }
        t->array = VmResizeVector(L, t->array, oldASize, arraySize);
    }
    // Every old key is absent from the new hash part and valid; the cached
    // hash of string keys places them without a lookup.
    for (uint64_t i = oldHSize; i-- > 0;) {
        VmNode* old = &oldNodes[i];
        if (VmIsNil(&old->val))
            continue;
        int32_t k;
        if (old->key.tt == VM_TNUMBER && VmNumberToInt32(old->key.v.n, &k) &&
            static_cast<uint64_t>(k) - 1 < t->sizearray)
            t->array[k - 1] = old->val;
        else if (t->node == &L->g->dummynode)
            *VmTableSet(L, t, &old->key) = old->val;
        else
            *NewKey(L, t, &old->key, NodeMainPosition(t, &old->key), true) = old->val;
    }
    if (!oldDummy)
        VmFreeVector(L, oldNodes, oldHSize);
}

const VmValue* VmTableGetNum(VmTable* t, int64_t key)
{
    if (static_cast<uint64_t>(key) - 1 < t->sizearray)
        return &t->array[key - 1];
    double nk = static_cast<double>(key);
    for (VmNode* n = HashNum(t, nk); n; n = n->next) {
        if (n->key.tt == VM_TNUMBER && n->key.v.n == nk)
            return &n->val;
    }
    return &VmNilObject;
}

const VmValue* VmTableGetAny(VmTable* t, const VmValue* key)
{
    for (VmNode* n = MainPosition(t, key); n; n = n->next) {
        if (VmRawEqualValues(&n->key, key))
            return &n->val;
    }
    return &VmNilObject;
}

const VmValue* VmTableGet(VmTable* t, const VmValue* key)
{
    switch (key->tt) {
    case VM_TSTRING:
        return VmTableGetStr(t, VmStrValue(key));
    case VM_TNUMBER: {
        int32_t k;
        if (VmNumberToInt32(key->v.n, &k))
            return VmTableGetNum(t, k);
        return VmTableGetAny(t, key);
    }
    case VM_TNIL:
        return VmTableGetNum(t, 0);
    default:
        return VmTableGetAny(t, key);
    }
}

VmValue* VmTableSet(VmState* L, VmTable* t, const VmValue* key)
{
    t->flags = 0;
    const VmValue* p = VmTableGet(t, key);
    if (p != &VmNilObject)
        return const_cast<VmValue*>(p);
    if (key->tt == VM_TNIL) {
        VmValue zero;
        VmSetNumber(&zero, 0);
        return NewKey(L, t, &zero, MainPosition(t, &zero));
    }
    if (key->tt == VM_TNUMBER && key->v.n != key->v.n)
        VmRaiseError(L, ERR_TABLEINDEX);
    return NewKey(L, t, key, MainPosition(t, key));
}

VmValue* VmTableSetNum(VmState* L, VmTable* t, int64_t key)
{
    const VmValue* p = VmTableGetNum(t, key);
    if (p != &VmNilObject)
        return const_cast<VmValue*>(p);
    VmValue k;
    VmSetNumber(&k, static_cast<double>(key));
    return NewKey(L, t, &k, MainPosition(t, &k));
}

VmValue* VmTableSetStr(VmState* L, VmTable* t, VmString* key)
{
    t->flags = 0;
    const VmValue* p = VmTableGetStr(t, key);
    if (p != &VmNilObject)
        return const_cast<VmValue*>(p);
    VmValue k;
    VmSetString(&k, key);
    return NewKey(L, t, &k, HashStr(t, key));
}

int VmTableNext(VmState* L, VmTable* t, VmValue* key)
{
    uint64_t i;
    int32_t k;
    if (key->tt == VM_TNIL) {
        i = 0;
    } else if (key->tt == VM_TNUMBER && VmNumberToInt32(key->v.n, &k) && k >= 1 &&
               static_cast<uint64_t>(k) <= t->sizearray) {
        i = static_cast<uint64_t>(k);
    } else {
        // Keys removed by the collector stay as dead keys in their chains,
        // so a traversal can still step past them.
        VmNode* n = MainPosition(t, key);
        for (; n; n = n->next) {
            if (VmRawEqualValues(&n->key, key) ||
                (n->key.tt == VM_TDEADKEY && VmIsCollectable(key) && n->key.v.gc == key->v.gc))
                break;
        }
        if (!n)
            VmRaiseError(L, ERR_INVNEXTKEY);
        i = t->sizearray + static_cast<uint64_t>(n - t->node) + 1;
    }
    for (; i < t->sizearray; i++) {
        if (!VmIsNil(&t->array[i])) {
            VmSetNumber(key, static_cast<double>(i + 1));
            key[1] = t->array[i];
            return 1;
        }
    }
    uint64_t size = VmSizeNode(t);
    for (i -= t->sizearray; i < size; i++) {
        if (!VmIsNil(&t->node[i].val)) {
            key[0] = t->node[i].key;
            key[1] = t->node[i].val;
            return 1;
        }
    }
    return 0;
}

bool VmRawEqualValues(const VmValue* a, const VmValue* b)
{
    if (a->tt != b->tt)
        return false;
    switch (a->tt) {
    case VM_TNIL:
        return true;
    case VM_TNUMBER:
        return a->v.n == b->v.n;
    case VM_TBOOLEAN:
        return a->v.b == b->v.b;
    case VM_TLIGHTUSERDATA:
        return a->v.p == b->v.p;
    default:
        return a->v.gc == b->v.gc;
    }
}

void VmInitMetaNames(VmState* L)
{
    for (int i = 0; i < TM_N; i++) {
        L->g->tmname[i] = VmNewCString(L, kEventNames[i]);
        L->g->tmname[i]->marked |= VM_GC_FIXED;
    }
}

const VmValue* VmGetCachedMeta(VmTable* mt, VmTmEvent event, VmString* name)
{
    const VmValue* tm = VmTableGetStr(mt, name);
    if (VmIsNil(tm)) {
        if (event < 8)
            mt->flags |= static_cast<uint8_t>(1u << event);
        return nullptr;
    }
    return tm;
}

VmTable* VmMetatableOf(VmState*, const VmValue* o)
{
    if (o->tt == VM_TTABLE)
        return VmTabValue(o)->metatable;
    if (o->tt == VM_TUSERDATA)
        return VmUdataValue(o)->metatable;
    return nullptr;
}

const VmValue* VmGetMetaOf(VmState* L, const VmValue* o, VmTmEvent event)
{
    VmTable* mt = VmMetatableOf(L, o);
    if (!mt)
        return &VmNilObject;
    return VmTableGetStr(mt, L->g->tmname[event]);
}
