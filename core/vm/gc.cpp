// Garbage collection: object release by kind, closing-time finalisation,
// and the threshold knobs.
#include "core/vm/memory.h"

#include "core/io/error_codes.h"
#include "core/vm/calls.h"
#include "core/vm/object.h"
#include "core/vm/state.h"
#include "core/vm/table.h"

namespace {

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
        VmRealloc(L, o, sizeof(VmString) + static_cast<VmString*>(o)->len + 1, 0);
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
    // Finalisers first: every userdata with __gc, in list order. Each leaves
    // the pending list before it runs, so a failing one is skipped, never
    // retried.
    VmGcHeader* pending = nullptr;
    VmGcHeader** tail = &pending;
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
        o->marked &= static_cast<uint8_t>(~VM_GC_FINALIZE);
        auto* u = static_cast<VmUserdata*>(o);
        FinaliserCall call;
        call.function = *VmTableGetStr(u->metatable, g->tmname[TM_GC]);
        VmSetObject(&call.userdata, VM_TUSERDATA, u);
        L->ci = L->baseCi;
        L->base = L->ci->base;
        L->top = L->base;
        L->nCcalls = 0;
        L->allowHook = 0;
        VmProtectedCall(L, RunFinaliser, &call, VmSaveStack(L, L->top), 0);
    }
    FreeList(L, g->tmudata);
    g->tmudata = nullptr;
    FreeList(L, g->rootudata);
    g->rootudata = nullptr;
    FreeList(L, g->rootgc);
    g->rootgc = nullptr;
    for (uint64_t i = 0; i < g->strt.size; i++) {
        FreeList(L, g->strt.hash[i]);
        g->strt.hash[i] = nullptr;
    }
}

void VmCollectGarbage(VmState* L)
{
    // The tracing collector is not in yet: raise the threshold so callers
    // keep their pacing without collecting.
    L->g->GCthreshold = 2 * L->g->nblocks;
}

void VmCheckGC(VmState* L)
{
    if (L->g->nblocks >= L->g->GCthreshold)
        VmCollectGarbage(L);
}

uint32_t VmGetGCThreshold(VmState* L)
{
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
    if (kilobytes >= 0x400000u)
        L->g->GCthreshold = UINT64_MAX;  // never collect
    else
        L->g->GCthreshold = uint64_t{kilobytes} << 10;
    VmCheckGC(L);
}
