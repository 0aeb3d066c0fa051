// Creation of closures, upvalues, userdata and prototypes, and the thread's
// list of open upvalues (sorted by stack slot, highest first, so closing a
// frame stops at the first upvalue below it).
#include "core/vm/object.h"

#include <cstring>

#include "core/vm/memory.h"
#include "core/vm/table.h"

VmClosure* VmNewNativeClosure(VmState* L, VmNativeFunction f, int nupvalues)
{
    size_t size = sizeof(VmClosure) + static_cast<size_t>(nupvalues) * sizeof(VmValue);
    auto* c = static_cast<VmClosure*>(VmRealloc(L, nullptr, 0, size));
    VmLinkObject(L, c, VM_TFUNCTION);
    c->isNative = 1;
    c->nupvalues = static_cast<uint8_t>(nupvalues);
    c->gclist = nullptr;
    VmSetNil(&c->env);
    c->f = f;
    c->proto = nullptr;
    for (int i = 0; i < nupvalues; i++)
        VmSetNil(&VmNativeUpvalues(c)[i]);
    return c;
}

VmClosure* VmNewScriptClosure(VmState* L, VmProto* proto, const VmValue* env)
{
    size_t size = sizeof(VmClosure) + proto->nups * sizeof(VmUpvalue*);
    auto* c = static_cast<VmClosure*>(VmRealloc(L, nullptr, 0, size));
    VmLinkObject(L, c, VM_TFUNCTION);
    c->isNative = 0;
    c->nupvalues = proto->nups;
    c->gclist = nullptr;
    c->env = *env;
    c->f = nullptr;
    c->proto = proto;
    for (int i = 0; i < proto->nups; i++)
        VmScriptUpvalues(c)[i] = nullptr;
    return c;
}

size_t VmClosureSize(const VmClosure* c)
{
    return sizeof(VmClosure) + c->nupvalues * (c->isNative ? sizeof(VmValue) : sizeof(VmUpvalue*));
}

VmUserdata* VmNewUserdataObject(VmState* L, size_t size)
{
    if (size >= VM_MAX_BLOCK - sizeof(VmUserdata))
        VmRealloc(L, nullptr, 0, VM_MAX_BLOCK);  // raises ERR_MEM
    auto* u = static_cast<VmUserdata*>(VmRealloc(L, nullptr, 0, sizeof(VmUserdata) + size));
    u->tt = VM_TUSERDATA;
    u->marked = VM_GC_FINALIZE;
    u->metatable = VmDefaultMeta(L);
    u->len = size;
    u->next = L->g->rootudata;
    L->g->rootudata = u;
    return u;
}

VmProto* VmNewProto(VmState* L)
{
    auto* p = static_cast<VmProto*>(VmRealloc(L, nullptr, 0, sizeof(VmProto)));
    std::memset(static_cast<void*>(p), 0, sizeof(VmProto));
    VmLinkObject(L, p, VM_TPROTO);
    return p;
}

void VmFreeProto(VmState* L, VmProto* p)
{
    VmFreeVector(L, p->k, p->sizeK);
    if (p->kHint)
        VmFreeVector(L, p->kHint, p->sizeK);
    VmFreeVector(L, p->code, p->sizeCode);
    if (p->deadOperands)
        VmFreeVector(L, p->deadOperands, p->sizeCode);
    VmFreeVector(L, p->p, p->sizeP);
    VmFreeVector(L, p->lineInfo, p->sizeLineInfo);
    VmFreeVector(L, p->locVars, p->sizeLocVars);
    VmFreeVector(L, p->upvalueNames, p->sizeUpvalueNames);
    VmRealloc(L, p, sizeof(VmProto), 0);
}

VmUpvalue* VmFindUpvalue(VmState* L, VmValue* level)
{
    VmGcHeader** pp = &L->openUpval;
    VmUpvalue* p;
    while (*pp && (p = static_cast<VmUpvalue*>(*pp))->v >= level) {
        if (p->v == level)
            return p;
        pp = &p->next;
    }
    auto* uv = static_cast<VmUpvalue*>(VmRealloc(L, nullptr, 0, sizeof(VmUpvalue)));
    uv->tt = VM_TUPVALUE;
    uv->marked = 0;
    uv->v = level;
    VmSetNil(&uv->value);
    uv->next = *pp;
    *pp = uv;
    return uv;
}

void VmCloseUpvalues(VmState* L, VmValue* level)
{
    while (L->openUpval && static_cast<VmUpvalue*>(L->openUpval)->v >= level) {
        auto* uv = static_cast<VmUpvalue*>(L->openUpval);
        uv->value = *uv->v;
        uv->v = &uv->value;
        L->openUpval = uv->next;
        VmLinkObject(L, uv, VM_TUPVALUE);
    }
}

VmUpvalue* VmNewClosedUpvalue(VmState* L)
{
    auto* uv = static_cast<VmUpvalue*>(VmRealloc(L, nullptr, 0, sizeof(VmUpvalue)));
    VmLinkObject(L, uv, VM_TUPVALUE);
    VmSetNil(&uv->value);
    uv->v = &uv->value;
    return uv;
}
