// The per-thread state and the global state: opening and closing the VM,
// the value stack and its growth, the call-record array, type names and the
// short chunk names used in messages.
#include "core/vm/state.h"

#include <cstdio>
#include <cstring>

#include "core/io/error_codes.h"
#include "core/vm/calls.h"
#include "core/vm/error_hooks.h"
#include "core/vm/interpreter.h"
#include "core/vm/memory.h"
#include "core/vm/object.h"
#include "core/vm/strings.h"
#include "core/vm/table.h"
#include "platform/posix/os_memory.h"

namespace {

constexpr int BASIC_STACK_SIZE = 45;
constexpr uint32_t BASIC_CI_SIZE = 8;

const char* const kTypeNames[] = {
    "nil", "boolean", "userdata", "number", "string", "table", "function", "userdata", "thread",
};

int DefaultPanic(VmState*) { return 0; }

void InitStack(VmState* L)
{
    L->baseCi = VmNewVector<VmCallInfo>(L, BASIC_CI_SIZE);
    std::memset(L->baseCi, 0, BASIC_CI_SIZE * sizeof(VmCallInfo));
    L->sizeCi = BASIC_CI_SIZE;
    L->ci = L->baseCi;
    L->endCi = L->baseCi + BASIC_CI_SIZE - 1;
    L->stack = VmNewVector<VmValue>(L, BASIC_STACK_SIZE + VM_EXTRA_STACK);
    L->stackSize = BASIC_STACK_SIZE + VM_EXTRA_STACK;
    for (uint64_t i = 0; i < L->stackSize; i++)
        VmSetNil(&L->stack[i]);
    L->top = L->stack;
    L->stackLast = L->stack + (L->stackSize - VM_EXTRA_STACK - 1);
    // Slot 0 holds nil as the base record's "function".
    L->ci->state = VM_CI_NATIVE;
    VmSetNil(L->top++);
    L->base = L->ci->base = L->top;
    L->ci->top = L->top + VM_MINSTACK;
}

void OpenStateBody(VmState* L, void*)
{
    auto* g = static_cast<VmGlobalState*>(OsAllocMem(sizeof(VmGlobalState), 1));
    if (!g)
        VmThrow(L, ERR_MEM);
    L->g = g;
    VmOpenPool(g);
    g->mainthread = L;
    g->nblocks = sizeof(VmState) + sizeof(VmGlobalState);
    g->panic = DefaultPanic;
    VmSetNil(&g->dummynode.key);
    VmSetNil(&g->dummynode.val);
    g->dummynode.next = nullptr;
    VmSetNil(&g->registry);
    VmSetNil(&g->defaultMeta);
    InitStack(L);
    VmResizeStringTable(L, 32);
    VmTable* meta = VmNewTableObject(L, 0, 0);
    meta->metatable = meta;
    VmSetTableValue(&g->defaultMeta, meta);
    VmSetTableValue(&L->globals, VmNewTableObject(L, 0, 4));
    VmSetTableValue(&g->registry, VmNewTableObject(L, 4, 4));
    VmInitMetaNames(L);
    // The raw iterator under the global name compiled generic for loops read.
    g->nextName = VmNewString(L, "next", 4);
    g->nextName->marked |= VM_GC_FIXED;
    VmClosure* next = VmNewNativeClosure(L, VmNextItem, 0);
    VmSetFunction(VmTableSetStr(L, VmTabValue(&L->globals), g->nextName), next);
    VmNewString(L, "not enough memory", 17)->marked |= VM_GC_FIXED;
    g->GCthreshold = 4 * g->nblocks;
}

void FreeStack(VmState* L)
{
    if (!L->g)
        return;
    VmFreeVector(L, L->baseCi, L->sizeCi);
    VmFreeVector(L, L->stack, L->stackSize);
}

}  // namespace

VmState* VmOpenState()
{
    auto* L = static_cast<VmState*>(OsAllocMem(sizeof(VmState), 1));
    if (!L)
        return nullptr;
    L->tt = VM_TTHREAD;
    L->allowHook = 1;
    VmSetNil(&L->globals);
    if (VmRunProtected(L, OpenStateBody, nullptr) != 0) {
        if (L->g) {
            VmFreeAllObjects(L);
            FreeStack(L);
            VmFreeVector(L, L->g->strt.slots, L->g->strt.size);
            VmReleasePool(L->g);
            OsFreeMem(L->g);
        }
        OsFreeMem(L);
        return nullptr;
    }
    VmErrorInProgress = 0;
    return L;
}

void VmCloseState(VmState* L)
{
    if (!L)
        return;
    L = L->g->mainthread;
    VmCloseUpvalues(L, L->stack);
    VmFreeAllObjects(L);
    VmGlobalState* g = L->g;
    VmFreeVector(L, g->strt.slots, g->strt.size);
    VmFreeVector(L, g->buffer, g->buffsize);
    FreeStack(L);
    VmReleasePool(g);
    OsFreeMem(g);
    OsFreeMem(L);
}

void VmGrowStack(VmState* L, uint64_t n)
{
    VmResizeStack(L, n > L->stackSize ? L->stackSize + n + VM_EXTRA_STACK : 2 * L->stackSize);
}

void VmResizeStack(VmState* L, uint64_t newSize)
{
    VmValue* old = L->stack;
    VmValue* stack = VmNewVector<VmValue>(L, newSize);
    uint64_t keep = newSize < L->stackSize ? newSize : L->stackSize;
    std::memcpy(stack, old, keep * sizeof(VmValue));
    for (uint64_t i = keep; i < newSize; i++)
        VmSetNil(&stack[i]);
    auto move = [&](VmValue* p) { return stack + (p - old); };
    L->top = move(L->top);
    L->base = move(L->base);
    for (VmGcHeader* o = L->openUpval; o; o = o->next)
        static_cast<VmUpvalue*>(o)->v = move(static_cast<VmUpvalue*>(o)->v);
    for (VmCallInfo* ci = L->baseCi; ci <= L->ci; ci++) {
        ci->top = move(ci->top);
        ci->base = move(ci->base);
    }
    VmFreeVector(L, old, L->stackSize);
    L->stack = stack;
    L->stackSize = newSize;
    L->stackLast = stack + (newSize - VM_EXTRA_STACK - 1);
}

void VmReallocCallInfo(VmState* L, uint32_t newSize)
{
    ptrdiff_t inUse = L->ci - L->baseCi;
    VmCallInfo* ci = VmResizeVector(L, L->baseCi, L->sizeCi, newSize);
    if (newSize > L->sizeCi)
        std::memset(ci + L->sizeCi, 0, (newSize - L->sizeCi) * sizeof(VmCallInfo));
    L->baseCi = ci;
    L->sizeCi = newSize;
    L->ci = ci + inUse;
    L->endCi = ci + newSize - 1;
}

VmCallInfo* VmNextCallInfo(VmState* L)
{
    if (L->ci == L->endCi) {
        // Past the limit while the first overflow is still being handled:
        // no room to run anything, so unwind without recording a place.
        if (L->sizeCi > VM_MAXCALLS)
            VmThrow(L, ERR_STACK);
        VmReallocCallInfo(L, 2 * L->sizeCi);
        if (L->sizeCi > VM_MAXCALLS)
            VmRaiseError(L, ERR_STACK);
    }
    return ++L->ci;
}

void VmRestoreStackLimit(VmState* L)
{
    L->stackLast = L->stack + (L->stackSize - VM_EXTRA_STACK - 1);
    if (L->sizeCi > VM_MAXCALLS && L->ci - L->baseCi + 1 < static_cast<ptrdiff_t>(VM_MAXCALLS))
        VmReallocCallInfo(L, VM_MAXCALLS);
}

const char* VmTypeNameOf(int tag)
{
    if (tag < 0 || tag > VM_TTHREAD)
        return "no value";
    return kTypeNames[tag];
}

const char* VmTypeName(VmState*, int tag)
{
    return VmTypeNameOf(tag);
}

void VmChunkId(char* out, const char* source, size_t size)
{
    if (size == 0)
        return;
    if (*source == '=') {
        std::snprintf(out, size, "%s", source + 1);
        return;
    }
    if (*source == '@') {
        const char* name = source + 1;
        size_t l = std::strlen(name);
        if (l < size)
            std::memcpy(out, name, l + 1);
        else if (size > 4)
            std::snprintf(out, size, "...%s", name + l - (size - 4));
        else
            std::snprintf(out, size, "%s", name + l - (size - 1));
        return;
    }
    size_t line = std::strcspn(source, "\n");
    size_t room = size > 17 ? size - 17 : 0;
    bool cut = line > room || source[line] != '\0';
    size_t len = line > room ? room : line;
    std::snprintf(out, size, "[string \"%.*s%s\"]", static_cast<int>(len), source, cut ? "..." : "");
}
