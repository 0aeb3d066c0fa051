// Tables: an array part for the keys 1..n and a chained hash part with
// Brent-style placement (an occupant outside its main position yields it).
// Also the metamethod names and their per-metatable absence cache.
#pragma once

#include <cstdint>

#include "core/vm/value.h"

// Largest hash part (as a log2) and array part.
constexpr int VM_MAXHASHLOG = 24;
constexpr uint32_t VM_MAXARRAY = 1u << 24;

VmTable* VmNewTableObject(VmState* state, uint64_t arraySize, int hashLog);
void VmFreeTable(VmState* state, VmTable* t);
void VmResizeTable(VmState* state, VmTable* t, uint64_t arraySize, int hashLog);

// Lookups answer a slot, or &VmNilObject when the key is absent.
const VmValue* VmTableGet(VmTable* t, const VmValue* key);
const VmValue* VmTableGetNum(VmTable* t, int64_t key);
const VmValue* VmTableGetAny(VmTable* t, const VmValue* key);
// Slot to write for key, inserted when absent; clears the absence cache.
VmValue* VmTableSet(VmState* state, VmTable* t, const VmValue* key);
VmValue* VmTableSetNum(VmState* state, VmTable* t, int64_t key);
VmValue* VmTableSetStr(VmState* state, VmTable* t, VmString* key);
// Writes the next key and value into key[0] and key[1]; 0 at the end.
int VmTableNext(VmState* state, VmTable* t, VmValue* key);

inline uint64_t VmSizeNode(const VmTable* t) { return uint64_t{1} << t->lsizenode; }

// In line: globals, fields and metamethod names are all string lookups.
// The hash given apart: a string value carries its string's hash beside
// its tag, so a lookup need not read the string first.
inline const VmValue* VmTableGetStrHashed(VmTable* t, const VmString* key, uint32_t hash)
{
    for (VmNode* n = &t->node[hash & (VmSizeNode(t) - 1)]; n; n = n->next) {
        if (n->key.v.gc == key && n->key.tt == VM_TSTRING)
            return &n->val;
    }
    return &VmNilObject;
}
// A lookup by a constant string key (key: the constant, carrying its
// hash): the node the key was last found in is tried first, so a key that
// lies down a chain is found at once; the hint is set again when it misses.
inline const VmValue* VmTableGetStrHinted(VmTable* t, const VmValue* key, uint32_t* hint)
{
    uint64_t size = VmSizeNode(t);
    if (*hint < size) {
        const VmNode* n = &t->node[*hint];
        if (n->key.v.gc == key->v.gc && n->key.tt == VM_TSTRING)
            return &n->val;
    }
    for (VmNode* n = &t->node[key->aux & (size - 1)]; n; n = n->next) {
        if (n->key.v.gc == key->v.gc && n->key.tt == VM_TSTRING) {
            *hint = static_cast<uint32_t>(n - t->node);
            return &n->val;
        }
    }
    return &VmNilObject;
}
inline const VmValue* VmTableGetStr(VmTable* t, const VmString* key)
{
    return VmTableGetStrHashed(t, key, key->hash);
}

bool VmRawEqualValues(const VmValue* a, const VmValue* b);

// Fast test of an integer-valued number in int32 range.
inline bool VmNumberToInt32(double n, int32_t* k)
{
    if (!(n >= -2147483648.0 && n <= 2147483647.0))
        return false;
    *k = static_cast<int32_t>(n);
    return static_cast<double>(*k) == n;
}

// ---- metamethods --------------------------------------------------------------
void VmInitMetaNames(VmState* state);
const VmValue* VmGetCachedMeta(VmTable* metatable, VmTmEvent event, VmString* name);
// The cached events' lookup: null when the metatable has none.
inline const VmValue* VmFastMeta(VmState* state, VmTable* mt, VmTmEvent event)
{
    if (mt->flags & (1u << event))
        return nullptr;
    return VmGetCachedMeta(mt, event, state->g->tmname[event]);
}
// Raw lookup of the event in a table's or userdata's metatable; &VmNilObject
// for every other type.
const VmValue* VmGetMetaOf(VmState* state, const VmValue* o, VmTmEvent event);
// The metatable of a table or userdata, null for other types.
VmTable* VmMetatableOf(VmState* state, const VmValue* o);
