// The garbage collector: a stop-the-world mark and sweep that runs as one
// complete step whenever the allocated bytes reach the threshold. It honours
// weak tables (`__mode` with 'k' and/or 'v') and the `__gc` finalisers of
// userdata, which is how the libraries free the native resources behind
// their objects. Also the closing-time finalisation and the threshold knobs.
//
// A collection marks from the roots (default metatable, registry, running
// thread), clears the weak tables, moves unreachable userdata with a
// finaliser to the finaliser list and marks them again (they stay alive until
// their finaliser ran), sweeps the three object lists, shrinks the string
// table and scratch buffer, sets the next threshold and only then calls the
// finalisers, so that no script code ever runs while the heap is half swept.
#include <cstring>

#include "core/io/error_codes.h"
#include "core/vm/calls.h"
#include "core/vm/memory.h"
#include "core/vm/object.h"
#include "core/vm/state.h"
#include "core/vm/strings.h"
#include "core/vm/table.h"

namespace {

constexpr uint8_t kAlive = VM_GC_REACHED | VM_GC_FIXED;
// The threshold of "never collect".
constexpr uint64_t kNoCollection = UINT64_MAX;

struct GcState {
    VmState* L;
    VmGcHeader* gray;        // reached, not yet traversed; linked through gclist
    VmTable* weakKeys;       // linked through gclist
    VmTable* weakValues;
    VmTable* weakBoth;
};

inline bool IsAlive(const VmGcHeader* o) { return (o->marked & kAlive) != 0; }

VmGcHeader** GrayLink(VmGcHeader* o)
{
    switch (o->tt) {
    case VM_TTABLE:
        return &static_cast<VmTable*>(o)->gclist;
    case VM_TFUNCTION:
        return &static_cast<VmClosure*>(o)->gclist;
    case VM_TPROTO:
        return &static_cast<VmProto*>(o)->gclist;
    default:
        return &static_cast<VmState*>(o)->gclist;
    }
}

void MarkValue(GcState* st, const VmValue* v);

void MarkObject(GcState* st, VmGcHeader* o)
{
    if (!o || (o->marked & VM_GC_REACHED))
        return;
    o->marked |= VM_GC_REACHED;
    switch (o->tt) {
    case VM_TSTRING:
        break;
    case VM_TUSERDATA:
        MarkObject(st, static_cast<VmUserdata*>(o)->metatable);
        break;
    case VM_TUPVALUE:
        MarkValue(st, static_cast<VmUpvalue*>(o)->v);
        break;
    default:
        *GrayLink(o) = st->gray;
        st->gray = o;
        break;
    }
}

inline void MarkValue(GcState* st, const VmValue* v)
{
    if (VmIsCollectable(v))
        MarkObject(st, v->v.gc);
}

// Drops a node's entry: the value becomes nil and a collectable key a dead
// key, which keeps its place in the collision chain and in traversal.
inline void RemoveEntry(VmNode* n)
{
    VmSetNil(&n->val);
    if (VmIsCollectable(&n->key))
        n->key.tt = VM_TDEADKEY;
}

bool ModeHas(const VmValue* mode, char c)
{
    return mode && mode->tt == VM_TSTRING && std::memchr(VmSvalue(mode), c, VmStrValue(mode)->len) != nullptr;
}

void TraverseTable(GcState* st, VmTable* h)
{
    h->marked &= static_cast<uint8_t>(~(VM_GC_WEAKKEYS | VM_GC_WEAKVALUES));
    MarkObject(st, h->metatable);
    const VmValue* mode = VmFastMeta(st->L, h->metatable, TM_MODE);
    bool weakKeys = ModeHas(mode, 'k');
    bool weakValues = ModeHas(mode, 'v');
    if (weakKeys || weakValues) {
        VmTable** list = weakKeys && weakValues ? &st->weakBoth : weakKeys ? &st->weakKeys : &st->weakValues;
        h->marked |= static_cast<uint8_t>((weakKeys ? VM_GC_WEAKKEYS : 0) | (weakValues ? VM_GC_WEAKVALUES : 0));
        h->gclist = *list;
        *list = h;
    }
    if (!weakValues) {
        for (uint32_t i = 0; i < h->sizearray; i++)
            MarkValue(st, &h->array[i]);
    }
    if (h->lsizenode == 0)
        return;  // the shared empty node
    for (uint64_t i = VmSizeNode(h); i-- > 0;) {
        VmNode* n = &h->node[i];
        if (VmIsNil(&n->val)) {
            // An empty entry does not keep its key alive; once the key is
            // dead it must never match a new object at the same address.
            RemoveEntry(n);
            continue;
        }
        if (!weakKeys)
            MarkValue(st, &n->key);
        if (!weakValues)
            MarkValue(st, &n->val);
    }
}

void TraverseProto(GcState* st, VmProto* p)
{
    MarkObject(st, p->source);
    for (int32_t i = 0; i < p->sizeK; i++)
        MarkValue(st, &p->k[i]);
    for (int32_t i = 0; i < p->sizeP; i++)
        MarkObject(st, p->p[i]);
    for (int32_t i = 0; i < p->sizeLocVars; i++)
        MarkObject(st, p->locVars[i].name);
    for (int32_t i = 0; i < p->sizeUpvalueNames; i++)
        MarkObject(st, p->upvalueNames[i]);
}

void TraverseClosure(GcState* st, VmClosure* c)
{
    if (c->isNative) {
        for (int i = 0; i < c->nupvalues; i++)
            MarkValue(st, &VmNativeUpvalues(c)[i]);
        return;
    }
    MarkValue(st, &c->env);
    MarkObject(st, c->proto);
    for (int i = 0; i < c->nupvalues; i++)
        MarkObject(st, VmScriptUpvalues(c)[i]);
}

// Shrinks an overgrown call-record array or value stack; lim is the
// highest slot any frame may use.
void CheckStackSizes(VmState* L, VmValue* lim)
{
    uint64_t usedCi = static_cast<uint64_t>(L->ci - L->baseCi);
    if (4 * usedCi < L->sizeCi && L->sizeCi > 16)
        VmReallocCallInfo(L, L->sizeCi / 2);
    uint64_t used = static_cast<uint64_t>(lim - L->stack);
    if (4 * used < L->stackSize && L->stackSize > 90)
        VmResizeStack(L, L->stackSize / 2);
#if defined(QM_GC_STRESS) && QM_GC_STRESS
    else
        VmResizeStack(L, L->stackSize);  // moves it, so a stale stack pointer shows at once
#endif
}

void TraverseThread(GcState* st, VmState* L)
{
    MarkValue(st, &L->globals);
    // A script function's registers stay alive over its whole frame, also
    // those above the arguments of a call it is making: the interpreter
    // reads them again when the call returns. Every slot above is dead to
    // every frame, and is cleared, up to the end of the stack: a top raised
    // later (a hook's or a native's room, a handler's frame, the stack
    // copied as it grows) may uncover any of them, and must find nothing
    // this collection frees. Only the collector frees, so clearing here
    // keeps every slot either marked or nil at once, whoever raises a top.
    VmValue* markLim = L->top;
    VmValue* inUse = L->top;
    for (VmCallInfo* ci = L->baseCi; ci <= L->ci; ci++) {
        if (ci->top > inUse)
            inUse = ci->top;
        if (!(ci->state & VM_CI_NATIVE) && ci->top > markLim)
            markLim = ci->top;
    }
    VmValue* end = L->stack + L->stackSize;
    if (inUse > end - 1)
        inUse = end - 1;
    if (markLim > inUse)
        markLim = inUse;
    VmValue* o = L->stack;
    for (; o < markLim; o++)
        MarkValue(st, o);
    for (; o < end; o++)
        VmSetNil(o);
    CheckStackSizes(L, inUse);
}

void Propagate(GcState* st)
{
    while (st->gray) {
        VmGcHeader* o = st->gray;
        st->gray = *GrayLink(o);
        switch (o->tt) {
        case VM_TTABLE:
            TraverseTable(st, static_cast<VmTable*>(o));
            break;
        case VM_TFUNCTION:
            TraverseClosure(st, static_cast<VmClosure*>(o));
            break;
        case VM_TPROTO:
            TraverseProto(st, static_cast<VmProto*>(o));
            break;
        case VM_TTHREAD:
            TraverseThread(st, static_cast<VmState*>(o));
            break;
        default:
            break;
        }
    }
}

// Whether a weak entry's key or value survives. Strings are values, never
// weak: asking marks them.
bool IsKept(const VmValue* v)
{
    if (!VmIsCollectable(v))
        return true;
    if (v->tt == VM_TSTRING) {
        v->v.gc->marked |= VM_GC_REACHED;
        return true;
    }
    return IsAlive(v->v.gc);
}

void ClearValues(VmTable* h)
{
    for (; h; h = static_cast<VmTable*>(h->gclist)) {
        for (uint32_t i = 0; i < h->sizearray; i++) {
            if (!IsKept(&h->array[i]))
                VmSetNil(&h->array[i]);
        }
        if (h->lsizenode == 0)
            continue;  // the shared empty node
        for (uint64_t i = VmSizeNode(h); i-- > 0;) {
            VmNode* n = &h->node[i];
            if (!VmIsNil(&n->val) && !IsKept(&n->val))
                RemoveEntry(n);
        }
    }
}

void ClearKeys(VmTable* h)
{
    for (; h; h = static_cast<VmTable*>(h->gclist)) {
        if (h->lsizenode == 0)
            continue;
        for (uint64_t i = VmSizeNode(h); i-- > 0;) {
            VmNode* n = &h->node[i];
            if (!VmIsNil(&n->val) && !IsKept(&n->key))
                RemoveEntry(n);
        }
    }
}

// Moves the unreached userdata whose finaliser is still due to the end of
// the finaliser list; answers their size (memory that this collection
// cannot free yet).
uint64_t SeparateUserdata(VmState* L)
{
    VmGlobalState* g = L->g;
    uint64_t deadmem = 0;
    VmGcHeader* collected = nullptr;
    VmGcHeader** lastCollected = &collected;
    for (VmGcHeader** p = &g->rootudata; *p;) {
        VmGcHeader* o = *p;
        auto* u = static_cast<VmUserdata*>(o);
        if (IsAlive(o) || !(o->marked & VM_GC_FINALIZE)) {
            p = &o->next;
        } else if (!VmFastMeta(L, u->metatable, TM_GC)) {
            o->marked &= static_cast<uint8_t>(~VM_GC_FINALIZE);
            p = &o->next;
        } else {
            deadmem += sizeof(VmUserdata) + u->len;
            *p = o->next;
            o->next = nullptr;
            *lastCollected = o;
            lastCollected = &o->next;
        }
    }
    VmGcHeader** tail = &g->tmudata;
    while (*tail)
        tail = &(*tail)->next;
    *tail = collected;
    return deadmem;
}

void Mark(GcState* st, uint64_t* deadmem)
{
    VmState* L = st->L;
    VmGlobalState* g = L->g;
    MarkValue(st, &g->defaultMeta);
    MarkValue(st, &g->registry);
    TraverseThread(st, g->mainthread);
    if (L != g->mainthread)
        MarkObject(st, L);
    Propagate(st);
    ClearValues(st->weakValues);
    ClearValues(st->weakBoth);
    *deadmem = SeparateUserdata(L);
    // Userdata awaiting their finaliser stay alive with all they reach.
    // Some may carry a reached bit from a collection whose finalisers were
    // cut short by an error: clear it so they are traversed again.
    for (VmGcHeader* o = g->tmudata; o; o = o->next) {
        o->marked &= static_cast<uint8_t>(~VM_GC_REACHED);
        MarkObject(st, o);
    }
    Propagate(st);
    ClearKeys(st->weakKeys);
    ClearKeys(st->weakBoth);
    ClearValues(st->weakValues);
    ClearValues(st->weakBoth);
}

// Frees every object of a list that was neither reached nor fixed, and
// clears the reached bit of the others.
void SweepList(VmState* L, VmGcHeader** p)
{
    VmGcHeader* o;
    while ((o = *p) != nullptr) {
        if (IsAlive(o)) {
            o->marked &= static_cast<uint8_t>(~VM_GC_REACHED);
            p = &o->next;
        } else {
            *p = o->next;
            VmFreeObject(L, o);
        }
    }
}

void Sweep(VmState* L)
{
    VmGlobalState* g = L->g;
    SweepList(L, &g->rootudata);
    VmSweepStrings(L);
    SweepList(L, &g->rootgc);
}

void CheckSizes(VmState* L, uint64_t deadmem)
{
    VmGlobalState* g = L->g;
    if (g->strt.nuse < g->strt.size / 4 && g->strt.size > 64)
        VmResizeStringTable(L, g->strt.size / 2);
    if (g->buffsize > 64) {
        size_t size = g->buffsize / 2;
        g->buffer = VmResizeVector(L, g->buffer, g->buffsize, size);
        g->buffsize = size;
    }
    g->GCthreshold = 2 * g->nblocks - deadmem;
}

// Keeps the finaliser flag honest when a finaliser raises.
struct FinaliserScope {
    VmState* L;
    uint8_t allowHook;
    explicit FinaliserScope(VmState* state) : L(state), allowHook(state->allowHook)
    {
        L->g->inFinalisers = 1;
        L->allowHook = 0;
    }
    ~FinaliserScope()
    {
        L->g->inFinalisers = 0;
        L->allowHook = allowHook;
    }
};

void CallFinalisers(VmState* L)
{
    VmGlobalState* g = L->g;
    // A collection started by a finaliser leaves the list to the loop that
    // is already working through it.
    if (g->inFinalisers || !g->tmudata)
        return;
    FinaliserScope scope(L);
    while (VmGcHeader* o = g->tmudata) {
        g->tmudata = o->next;
        o->next = g->rootudata;
        g->rootudata = o;
        o->marked &= static_cast<uint8_t>(~(VM_GC_REACHED | VM_GC_FINALIZE));
        auto* u = static_cast<VmUserdata*>(o);
        const VmValue* tm = VmFastMeta(L, u->metatable, TM_GC);
        if (!tm)
            continue;
        VmEnsureStack(L, 2);
        L->top[0] = *tm;
        VmSetObject(&L->top[1], VM_TUSERDATA, u);
        L->top += 2;
        VmCallValue(L, L->top - 2, 0);
    }
}

void FreeList(VmState* L, VmGcHeader* o)
{
    while (o) {
        VmGcHeader* next = o->next;
        VmFreeObject(L, o);
        o = next;
    }
}

struct FinaliserCall {
    VmValue function;
    VmValue userdata;
};

void RunFinaliser(VmState* L, void* data)
{
    auto* call = static_cast<FinaliserCall*>(data);
    VmEnsureStack(L, 2);
    L->top[0] = call->function;
    L->top[1] = call->userdata;
    L->top += 2;
    VmCallValue(L, L->top - 2, 0);
}

}  // namespace

void VmFreeObject(VmState* L, VmGcHeader* o)
{
    switch (o->tt) {
    case VM_TSTRING:
        VmRealloc(L, o, VmStringBlockSize(static_cast<VmString*>(o)->len), 0);
        L->g->strt.nuse--;
        break;
    case VM_TTABLE:
        VmFreeTable(L, static_cast<VmTable*>(o));
        break;
    case VM_TFUNCTION:
        VmRealloc(L, o, VmClosureSize(static_cast<VmClosure*>(o)), 0);
        break;
    case VM_TUSERDATA:
        VmRealloc(L, o, sizeof(VmUserdata) + static_cast<VmUserdata*>(o)->len, 0);
        break;
    case VM_TPROTO:
        VmFreeProto(L, static_cast<VmProto*>(o));
        break;
    case VM_TUPVALUE:
        VmRealloc(L, o, sizeof(VmUpvalue), 0);
        break;
    default:
        break;  // threads other than the main one are never created
    }
}

void VmFreeAllObjects(VmState* L)
{
    VmGlobalState* g = L->g;
    // From here on nothing is collected: the pending finalisers and what
    // they reach are on no list the collector would mark.
    g->closing = 1;
    g->GCthreshold = kNoCollection;
    // Finalisers first: those a collection left pending, then every other
    // userdata with __gc, in list order. Each leaves the pending list before
    // it runs, so a failing one is skipped, never retried.
    VmGcHeader* pending = g->tmudata;
    g->tmudata = nullptr;
    VmGcHeader** tail = &pending;
    while (*tail)
        tail = &(*tail)->next;
    for (VmGcHeader** pp = &g->rootudata; *pp;) {
        VmGcHeader* o = *pp;
        auto* u = static_cast<VmUserdata*>(o);
        if ((o->marked & VM_GC_FINALIZE) && g->defaultMeta.tt == VM_TTABLE &&
            !VmIsNil(VmTableGetStr(u->metatable, g->tmname[TM_GC]))) {
            *pp = o->next;
            o->next = nullptr;
            *tail = o;
            tail = &o->next;
        } else {
            pp = &o->next;
        }
    }
    while (pending) {
        VmGcHeader* o = pending;
        pending = o->next;
        o->next = g->rootudata;
        g->rootudata = o;
        o->marked &= static_cast<uint8_t>(~(VM_GC_FINALIZE | VM_GC_REACHED));
        auto* u = static_cast<VmUserdata*>(o);
        FinaliserCall call;
        call.function = *VmTableGetStr(u->metatable, g->tmname[TM_GC]);
        if (VmIsNil(&call.function))
            continue;
        VmSetObject(&call.userdata, VM_TUSERDATA, u);
        L->ci = L->baseCi;
        L->base = L->ci->base;
        L->top = L->base;
        L->nCcalls = 0;
        L->allowHook = 0;
        VmProtectedCall(L, RunFinaliser, &call, VmSaveStack(L, L->top), 0);
    }
    if (g->pool) {
        // The pool gives every block back at once when the state goes.
        g->tmudata = g->rootudata = g->rootgc = nullptr;
        VmClearStringTable(L, false);
        return;
    }
    FreeList(L, g->tmudata);
    g->tmudata = nullptr;
    FreeList(L, g->rootudata);
    g->rootudata = nullptr;
    FreeList(L, g->rootgc);
    g->rootgc = nullptr;
    VmClearStringTable(L, true);
}

void VmCollectGarbage(VmState* L)
{
    VmGlobalState* g = L->g;
    if (g->closing)
        return;
    GcState st{L, nullptr, nullptr, nullptr, nullptr};
    uint64_t deadmem = 0;
    Mark(&st, &deadmem);
    Sweep(L);
    CheckSizes(L, deadmem);
    CallFinalisers(L);
}

void VmCheckGC(VmState* L)
{
#if defined(QM_GC_STRESS) && QM_GC_STRESS
    // Every collection point collects, unless collection was switched off.
    if (L->g->GCthreshold != kNoCollection)
        VmCollectGarbage(L);
#else
    if (L->g->nblocks >= L->g->GCthreshold)
        VmCollectGarbage(L);
#endif
}

uint32_t VmGetGCThreshold(VmState* L)
{
    // "Never" reads as the largest threshold a script can set.
    if (L->g->GCthreshold == kNoCollection)
        return 0xFFFFFFFFu >> 10;
    uint64_t kb = L->g->GCthreshold >> 10;
    return kb > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(kb);
}

uint32_t VmGetGCCount(VmState* L)
{
    uint64_t kb = L->g->nblocks >> 10;
    return kb > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(kb);
}

void VmSetGCThreshold(VmState* L, uint32_t kilobytes)
{
    if (L->g->closing)
        return;
    if (kilobytes >= 0x400000u)
        L->g->GCthreshold = kNoCollection;
    else
        L->g->GCthreshold = uint64_t{kilobytes} << 10;
    if (L->g->nblocks >= L->g->GCthreshold)
        VmCollectGarbage(L);
}
