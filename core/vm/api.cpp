// The native interface: a thin layer over the stack. Indices resolve to
// slots of the running native's frame (or the pseudo-slots); a positive
// index at or above the top reads as "no value", and nothing ever reads or
// writes outside the allocated stack, error in progress or not.
#include <cstring>

#include "core/io/error_codes.h"
#include "core/vm/calls.h"
#include "core/vm/error_hooks.h"
#include "core/vm/memory.h"
#include "core/vm/object.h"
#include "core/vm/operations.h"
#include "core/vm/state.h"
#include "core/vm/strings.h"
#include "core/vm/table.h"
#include "core/vm/vm.h"

namespace {

const VmValue NoValue = {VM_TNONE, 0, {nullptr}};

[[noreturn]] void StackError(VmState* L)
{
    VmRaiseError(L, ERR_STACK);
}

// Readable slot of an index; &NoValue when the index has no value.
const VmValue* IndexToValue(VmState* L, int idx)
{
    if (idx > 0) {
        VmValue* o = L->base + (idx - 1);
        if (o >= L->top) {
            if (o > L->ci->top && !VmErrorInProgress)
                StackError(L);
            return &NoValue;
        }
        return o;
    }
    if (idx > VM_REGISTRYINDEX) {
        if (idx == 0 || -static_cast<int64_t>(idx) > L->top - L->base) {
            if (!VmErrorInProgress)
                StackError(L);
            return &NoValue;
        }
        return L->top + idx;
    }
    if (idx == VM_REGISTRYINDEX)
        return &L->g->registry;
    if (idx == VM_GLOBALSINDEX)
        return &L->globals;
    const VmValue* func = L->base - 1;
    int n = VM_GLOBALSINDEX - idx;
    if (func->tt != VM_TFUNCTION || !VmFuncValue(func)->isNative || n > VmFuncValue(func)->nupvalues)
        return &NoValue;
    return &VmNativeUpvalues(VmFuncValue(func))[n - 1];
}

// Writable slot of an index: a stack slot below the top, or a pseudo-slot.
VmValue* IndexToSlot(VmState* L, int idx)
{
    const VmValue* o = IndexToValue(L, idx);
    if (o == &NoValue)
        StackError(L);
    return const_cast<VmValue*>(o);
}

inline void PushSlot(VmState* L)
{
    if (L->top >= L->ci->top) {
        // While an error is thrown the frame check is off, but never the end
        // of the allocated stack.
        if (!VmErrorInProgress || L->top >= L->stackLast)
            StackError(L);
    }
}

inline void Push(VmState* L, const VmValue& v)
{
    PushSlot(L);
    *L->top++ = v;
}

VmTable* TableAt(VmState* L, int idx)
{
    const VmValue* t = IndexToValue(L, idx);
    if (t->tt != VM_TTABLE)
        VmRaiseError(L, ERR_TABEXPECTED);
    return VmTabValue(t);
}

// Pops n values (checked: never below the frame base).
inline void PopValues(VmState* L, int n)
{
    if (L->top - L->base < n)
        StackError(L);
    L->top -= n;
}

}  // namespace

// ---- stack manipulation ------------------------------------------------------

int VmGetTop(VmState* L)
{
    return static_cast<int>(L->top - L->base);
}

void VmSetTop(VmState* L, int idx)
{
    if (idx >= 0) {
        VmValue* newTop = L->base + idx;
        if (newTop > L->ci->top)
            StackError(L);
        while (L->top < newTop)
            VmSetNil(L->top++);
        L->top = newTop;
    } else {
        if (-static_cast<int64_t>(idx) - 1 > L->top - L->base)
            StackError(L);
        L->top += idx + 1;
    }
}

void VmRemove(VmState* L, int idx)
{
    VmValue* p = IndexToSlot(L, idx);
    if (p < L->base || p >= L->top)
        StackError(L);
    while (++p < L->top)
        p[-1] = *p;
    L->top--;
}

void VmInsert(VmState* L, int idx)
{
    VmValue* p = IndexToSlot(L, idx);
    if (p < L->base || p >= L->top)
        StackError(L);
    VmValue v = L->top[-1];
    for (VmValue* q = L->top - 1; q > p; q--)
        *q = q[-1];
    *p = v;
}

void VmReplace(VmState* L, int idx)
{
    if (L->top <= L->base)
        StackError(L);
    // The registry and the globals stay tables: the VM reads them as such.
    if ((idx == VM_REGISTRYINDEX || idx == VM_GLOBALSINDEX) && L->top[-1].tt != VM_TTABLE)
        VmRaiseError(L, ERR_TABEXPECTED);
    VmValue* p = IndexToSlot(L, idx);
    *p = L->top[-1];
    L->top--;
}

void VmPushValue(VmState* L, int idx)
{
    Push(L, *IndexToValue(L, idx));
}

int VmCheckStack(VmState* L, int n)
{
    if (n < 0 || (L->top - L->base) + n > VM_MAXCSTACK)
        return 0;
    VmEnsureStack(L, n);
    if (L->ci->top < L->top + n)
        L->ci->top = L->top + n;
    return 1;
}

// ---- queries ------------------------------------------------------------------

int VmType(VmState* L, int idx)
{
    return IndexToValue(L, idx)->tt;
}

int VmIsNativeFunction(VmState* L, int idx)
{
    const VmValue* o = IndexToValue(L, idx);
    return o->tt == VM_TFUNCTION && VmFuncValue(o)->isNative;
}

int VmIsNumber(VmState* L, int idx)
{
    double n;
    return VmToNumber(IndexToValue(L, idx), &n);
}

int VmIsString(VmState* L, int idx)
{
    int t = VmType(L, idx);
    return t == VM_TSTRING || t == VM_TNUMBER;
}

int VmIsUserdata(VmState* L, int idx)
{
    int t = VmType(L, idx);
    return t == VM_TUSERDATA || t == VM_TLIGHTUSERDATA;
}

int VmCompareRawEqual(VmState* L, int i1, int i2)
{
    const VmValue* a = IndexToValue(L, i1);
    const VmValue* b = IndexToValue(L, i2);
    if (a == &NoValue || b == &NoValue)
        return 0;
    return VmRawEqualValues(a, b);
}

int VmCompareEqual(VmState* L, int i1, int i2)
{
    const VmValue* a = IndexToValue(L, i1);
    const VmValue* b = IndexToValue(L, i2);
    if (a == &NoValue || b == &NoValue || a->tt != b->tt)
        return 0;
    return VmEqualValues(L, a, b);
}

int VmCompareLess(VmState* L, int i1, int i2, int mode)
{
    const VmValue* a = IndexToValue(L, i1);
    const VmValue* b = IndexToValue(L, i2);
    if (a == &NoValue || b == &NoValue)
        return 0;
    return VmLessThan(L, a, b, mode);
}

double VmGetNumber(VmState* L, int idx)
{
    double n;
    return VmToNumber(IndexToValue(L, idx), &n) ? n : 0;
}

int VmGetBoolean(VmState* L, int idx)
{
    const VmValue* o = IndexToValue(L, idx);
    return !(o->tt == VM_TNIL || o->tt == VM_TNONE || (o->tt == VM_TBOOLEAN && o->v.b == 0));
}

const char* VmGetString(VmState* L, int idx)
{
    const VmValue* o = IndexToValue(L, idx);
    if (o->tt == VM_TSTRING)
        return VmSvalue(o);
    if (o->tt != VM_TNUMBER && o->tt != VM_TNIL)
        return nullptr;
    VmValue* slot = const_cast<VmValue*>(o);
    VmToStringInPlace(L, slot);
    VmCheckGC(L);
    return VmSvalue(IndexToValue(L, idx));
}

size_t VmGetStringLength(VmState* L, int idx)
{
    const VmValue* o = IndexToValue(L, idx);
    if (o->tt == VM_TSTRING)
        return VmStrValue(o)->len;
    if (o->tt != VM_TNUMBER && o->tt != VM_TNIL)
        return 0;
    VmToStringInPlace(L, const_cast<VmValue*>(o));
    return VmStrValue(o)->len;
}

VmNativeFunction VmGetNativeFunction(VmState* L, int idx)
{
    const VmValue* o = IndexToValue(L, idx);
    return (o->tt == VM_TFUNCTION && VmFuncValue(o)->isNative) ? VmFuncValue(o)->f : nullptr;
}

void* VmGetUserdata(VmState* L, int idx)
{
    const VmValue* o = IndexToValue(L, idx);
    if (o->tt == VM_TUSERDATA)
        return VmUserdataBytes(VmUdataValue(o));
    if (o->tt == VM_TLIGHTUSERDATA)
        return o->v.p;
    return nullptr;
}

VmState* VmGetThread(VmState* L, int idx)
{
    const VmValue* o = IndexToValue(L, idx);
    return o->tt == VM_TTHREAD ? VmThreadValue(o) : nullptr;
}

const void* VmGetPointer(VmState* L, int idx)
{
    const VmValue* o = IndexToValue(L, idx);
    switch (o->tt) {
    case VM_TTABLE:
    case VM_TFUNCTION:
    case VM_TTHREAD:
        return o->v.gc;
    case VM_TUSERDATA:
    case VM_TLIGHTUSERDATA:
        return VmGetUserdata(L, idx);
    default:
        return nullptr;
    }
}

// ---- pushing --------------------------------------------------------------------

void VmPushNil(VmState* L)
{
    PushSlot(L);
    VmSetNil(L->top++);
}

void VmPushNumber(VmState* L, double n)
{
    PushSlot(L);
    VmSetNumber(L->top++, n);
}

void VmPushBoolean(VmState* L, int b)
{
    PushSlot(L);
    VmSetBool(L->top++, b);
}

void VmPushLightUserdata(VmState* L, void* p)
{
    PushSlot(L);
    VmSetLight(L->top++, p);
}

void VmPushLString(VmState* L, const char* bytes, size_t length)
{
    VmCheckGC(L);
    PushSlot(L);
    VmString* s = VmNewString(L, bytes, length);
    VmSetString(L->top++, s);
}

char* VmNewStringBlock(VmState* L, size_t capacity)
{
    if (capacity >= VM_MAX_BLOCK - VM_STRING_HEADER)
        return nullptr;
    auto* s = static_cast<VmString*>(VmTryRealloc(L, nullptr, 0, VmStringBlockSize(capacity)));
    if (!s)
        return nullptr;
    s->next = nullptr;
    s->tt = VM_TSTRING;
    s->marked = 0;
    s->hash = 0;
    s->len = static_cast<uint32_t>(capacity);
    return VmStringBytes(s);
}

char* VmResizeStringBlock(VmState* L, char* bytes, size_t oldCapacity, size_t newCapacity)
{
    if (!bytes)
        return VmNewStringBlock(L, newCapacity);
    if (newCapacity >= VM_MAX_BLOCK - VM_STRING_HEADER)
        return nullptr;
    auto* s = static_cast<VmString*>(
        VmTryRealloc(L, VmStringOfBytes(bytes), VmStringBlockSize(oldCapacity), VmStringBlockSize(newCapacity)));
    if (!s)
        return nullptr;
    s->len = static_cast<uint32_t>(newCapacity);
    return VmStringBytes(s);
}

void VmFreeStringBlock(VmState* L, char* bytes, size_t capacity)
{
    if (bytes)
        VmRealloc(L, VmStringOfBytes(bytes), VmStringBlockSize(capacity), 0);
}

void VmPushStringBlock(VmState* L, char* bytes, size_t capacity, size_t length)
{
    // The block is freed, not leaked, when the stack or the string table
    // cannot take the string.
    struct Owner {
        VmState* L;
        char* bytes;
        size_t capacity;
        ~Owner() { VmFreeStringBlock(L, bytes, capacity); }
    } owner{L, bytes, capacity};
    if (length > capacity)
        length = capacity;
    PushSlot(L);
    VmCheckGC(L);
    if (length != capacity) {
        // Shrinking keeps a large block where it is.
        char* smaller = VmResizeStringBlock(L, bytes, capacity, length);
        if (!smaller)
            VmThrow(L, ERR_MEM);
        owner.bytes = bytes = smaller;
        owner.capacity = length;
    }
    VmReserveStringSlot(L);
    VmString* s = VmStringOfBytes(bytes);
    bytes[length] = '\0';
    owner.bytes = nullptr;
    VmSetString(L->top++, VmInternFresh(L, s));
}

void VmPushCString(VmState* L, const char* text)
{
    PushSlot(L);
    VmString* s = VmNewCString(L, text);
    VmSetString(L->top++, s);
}

void VmPushString(VmState* L, const char* text)
{
    if (!text)
        VmPushNil(L);
    else
        VmPushLString(L, text, std::strlen(text));
}

void VmPushNativeClosure(VmState* L, VmNativeFunction function, int n)
{
    VmCheckGC(L);
    if (n < 0 || n > 255)
        StackError(L);
    PopValues(L, n);
    VmClosure* c = VmNewNativeClosure(L, function, n);
    for (int i = 0; i < n; i++)
        VmNativeUpvalues(c)[i] = L->top[i];
    VmSetFunction(L->top++, c);
}

void VmNewTable(VmState* L)
{
    VmCheckGC(L);
    VmNewTableNoGC(L);
}

void VmNewTableNoGC(VmState* L)
{
    PushSlot(L);
    VmTable* t = VmNewTableObject(L, 0, 0);
    VmSetTableValue(L->top++, t);
}

void VmNewTableSized(VmState* L, int arraySize, int hashLog)
{
    VmCheckGC(L);
    PushSlot(L);
    if (arraySize < 0 || hashLog < 0)
        VmRaiseError(L, ERR_TABLEOVERFLOW);
    VmTable* t = VmNewTableObject(L, static_cast<uint64_t>(arraySize), hashLog);
    VmSetTableValue(L->top++, t);
}

void* VmNewUserdata(VmState* L, size_t size)
{
    VmCheckGC(L);
    PushSlot(L);
    VmUserdata* u = VmNewUserdataObject(L, size);
    VmSetObject(L->top++, VM_TUSERDATA, u);
    return VmUserdataBytes(u);
}

void VmConcat(VmState* L, int n)
{
    if (n >= 2) {
        if (L->top - L->base < n)
            StackError(L);
        VmConcatValues(L, n, static_cast<int>(L->top - L->base) - 1);
        L->top -= n - 1;
        VmCheckGC(L);
    } else if (n == 0) {
        PushSlot(L);
        VmSetString(L->top++, VmNewString(L, "", 0));
    }
}

int VmPushUpvalues(VmState* L)
{
    const VmValue* func = L->base - 1;
    if (func->tt != VM_TFUNCTION || !VmFuncValue(func)->isNative)
        return 0;
    VmClosure* c = VmFuncValue(func);
    int n = c->nupvalues;
    if (!VmCheckStack(L, n))
        StackError(L);
    for (int i = 0; i < n; i++)
        *L->top++ = VmNativeUpvalues(c)[i];
    return n;
}

// ---- tables and metatables -----------------------------------------------------

void VmGetTable(VmState* L, int idx)
{
    const VmValue* t = IndexToValue(L, idx);
    if (L->top <= L->base)
        StackError(L);
    bool absent;
    VmValue v = VmGetTableValue(L, t, L->top - 1, &absent);
    L->top[-1] = v;
}

void VmRawGet(VmState* L, int idx)
{
    VmTable* t = TableAt(L, idx);
    if (L->top <= L->base)
        StackError(L);
    L->top[-1] = *VmTableGet(t, L->top - 1);
}

void VmRawGetI(VmState* L, int idx, int n)
{
    VmTable* t = TableAt(L, idx);
    Push(L, *VmTableGetNum(t, n));
}

int32_t VmCountItems(VmState* L, int idx, bool stopAtEmpty)
{
    VmTable* t = TableAt(L, idx);
    for (int32_t n = 0;; ++n) {
        const VmValue* v = VmTableGetNum(t, n);
        if (v->tt == VM_TNIL || (stopAtEmpty && v->tt == VM_TSTRING && VmStrValue(v)->len == 0) ||
            n == INT32_MAX)
            return n;
    }
}

namespace {

// Strings a join reads are scattered: the header of one some items ahead
// is fetched while this one is copied.
constexpr int64_t kJoinAhead = 8;

void PrefetchItem(const VmTable* t, int64_t i)
{
    uint64_t slot = static_cast<uint64_t>(i + kJoinAhead - 1);
    if (slot < t->sizearray && t->array[slot].tt == VM_TSTRING)
        __builtin_prefetch(t->array[slot].v.gc);
}

}  // namespace

uint32_t VmJoinItems(VmState* L, int idx, const char* sep, size_t sepLength, int32_t first, int32_t last)
{
    VmTable* t = TableAt(L, idx);
    PushSlot(L);
    // Before anything is measured: a finaliser the collection calls may
    // change the table.
    VmCheckGC(L);
    // Measured first, so that the text is written once, straight into a
    // string object of its final size.
    char digits[32];
    uint64_t total = 0;
    for (int64_t i = first; i <= last && i >= 0; ++i) {
        PrefetchItem(t, i);
        const VmValue* v = VmTableGetNum(t, i);
        if (v->tt == VM_TSTRING)
            total += VmStrValue(v)->len;
        else if (v->tt == VM_TNUMBER)
            total += static_cast<uint64_t>(VmFormatNumber(digits, v->v.n));
        else
            return ERR_STRINGEXPECTED;
        if (i > first)
            total += sepLength;
    }
    VmString* s = VmAllocString(L, total);
    char* out = VmStringBytes(s);
    for (int64_t i = first; i <= last && i >= 0; ++i) {
        PrefetchItem(t, i);
        if (i > first && sepLength != 0) {
            std::memcpy(out, sep, sepLength);
            out += sepLength;
        }
        const VmValue* v = VmTableGetNum(t, i);
        if (v->tt == VM_TSTRING) {
            std::memcpy(out, VmSvalue(v), VmStrValue(v)->len);
            out += VmStrValue(v)->len;
        } else {
            size_t n = static_cast<size_t>(VmFormatNumber(digits, v->v.n));
            std::memcpy(out, digits, n);
            out += n;
        }
    }
    VmSetString(L->top++, VmInternFresh(L, s));
    return 0;
}

void VmSetTable(VmState* L, int idx)
{
    const VmValue* t = IndexToValue(L, idx);
    if (L->top - L->base < 2)
        StackError(L);
    VmSetTableValue(L, t, L->top - 2, L->top - 1);
    L->top -= 2;
}

void VmRawSet(VmState* L, int idx)
{
    VmTable* t = TableAt(L, idx);
    if (L->top - L->base < 2)
        StackError(L);
    *VmTableSet(L, t, L->top - 2) = L->top[-1];
    L->top -= 2;
}

void VmRawSetI(VmState* L, int idx, int n)
{
    VmTable* t = TableAt(L, idx);
    if (L->top <= L->base)
        StackError(L);
    *VmTableSetNum(L, t, n) = L->top[-1];
    L->top--;
}

int VmGetMetatable(VmState* L, int idx)
{
    VmTable* mt = VmMetatableOf(L, IndexToValue(L, idx));
    if (!mt || mt == VmDefaultMeta(L))
        return 0;
    PushSlot(L);
    VmSetTableValue(L->top++, mt);
    return 1;
}

int VmSetMetatable(VmState* L, int idx)
{
    const VmValue* o = IndexToValue(L, idx);
    if (L->top <= L->base)
        StackError(L);
    const VmValue* mtv = L->top - 1;
    VmTable* mt;
    if (mtv->tt == VM_TNIL)
        mt = VmDefaultMeta(L);
    else if (mtv->tt == VM_TTABLE)
        mt = VmTabValue(mtv);
    else
        mt = nullptr;
    int done = 0;
    if (mt && o->tt == VM_TTABLE) {
        VmTabValue(o)->metatable = mt;
        done = 1;
    } else if (mt && o->tt == VM_TUSERDATA) {
        VmUdataValue(o)->metatable = mt;
        done = 1;
    }
    L->top--;
    return done;
}

void VmGetFunctionEnv(VmState* L, int idx)
{
    const VmValue* o = IndexToValue(L, idx);
    if (o->tt == VM_TFUNCTION && !VmFuncValue(o)->isNative)
        Push(L, VmFuncValue(o)->env);
    else
        Push(L, L->globals);
}

int VmSetFunctionEnv(VmState* L, int idx)
{
    const VmValue* o = IndexToValue(L, idx);
    if (L->top <= L->base)
        StackError(L);
    int done = 0;
    if (L->top[-1].tt == VM_TTABLE && o->tt == VM_TFUNCTION && !VmFuncValue(o)->isNative) {
        VmFuncValue(o)->env = L->top[-1];
        done = 1;
    }
    L->top--;
    return done;
}

int VmNext(VmState* L, int idx)
{
    VmTable* t = TableAt(L, idx);
    if (L->top <= L->base)
        StackError(L);
    PushSlot(L);
    if (VmTableNext(L, t, L->top - 1)) {
        L->top++;
        return 1;
    }
    L->top--;
    return 0;
}

namespace {

// Upvalue n of a function with its name; null when there is none.
const char* UpvalueSlot(const VmValue* fn, int n, VmValue** slot)
{
    if (fn->tt != VM_TFUNCTION || n < 1)
        return nullptr;
    VmClosure* c = VmFuncValue(fn);
    if (n > c->nupvalues)
        return nullptr;
    if (c->isNative) {
        *slot = &VmNativeUpvalues(c)[n - 1];
        return "";
    }
    VmUpvalue* uv = VmScriptUpvalues(c)[n - 1];
    if (!uv)
        return nullptr;
    *slot = uv->v;
    const VmProto* p = c->proto;
    if (n > p->sizeUpvalueNames || !p->upvalueNames[n - 1])
        return "";
    return VmStringBytes(p->upvalueNames[n - 1]);
}

}  // namespace

const char* VmGetUpvalue(VmState* L, int idx, int n)
{
    VmValue* slot = nullptr;
    const char* name = UpvalueSlot(IndexToValue(L, idx), n, &slot);
    if (name)
        Push(L, *slot);
    return name;
}

const char* VmSetUpvalue(VmState* L, int idx, int n)
{
    VmValue* slot = nullptr;
    const char* name = UpvalueSlot(IndexToValue(L, idx), n, &slot);
    if (L->top <= L->base)
        StackError(L);
    if (name)
        *slot = L->top[-1];
    L->top--;
    return name;
}

// ---- calls ------------------------------------------------------------------------

uint32_t VmCall(VmState* L, int nargs, int nresults)
{
    if (nargs < 0 || L->top - L->base < nargs + 1)
        StackError(L);
    VmValue* func = L->top - (nargs + 1);
    uint32_t code = VmCallValue(L, func, nresults);
    if (nresults == VM_MULTRET && L->top >= L->ci->top)
        L->ci->top = L->top;
    return code;
}

namespace {

struct ProtectedCallData {
    ptrdiff_t func;
    int nresults;
    uint32_t code;
};

void RunProtectedCall(VmState* L, void* data)
{
    auto* c = static_cast<ProtectedCallData*>(data);
    c->code = VmCallValue(L, VmRestoreStack(L, c->func), c->nresults);
}

}  // namespace

uint32_t VmPCall(VmState* L, int nargs, int nresults, int errorFunction)
{
    if (nargs < 0 || L->top - L->base < nargs + 1)
        StackError(L);
    ptrdiff_t ef = 0;
    if (errorFunction != 0) {
        const VmValue* f = IndexToValue(L, errorFunction);
        if (f >= L->stack && f < L->top)
            ef = VmSaveStack(L, f);
    }
    ProtectedCallData c{VmSaveStack(L, L->top - (nargs + 1)), nresults, 0};
    uint32_t status = VmProtectedCall(L, RunProtectedCall, &c, c.func, ef);
    if (status != 0) {
        // The frame is back in place; drop whatever the failed call left.
        L->top = VmRestoreStack(L, c.func);
        return status;
    }
    if (nresults == VM_MULTRET && L->top >= L->ci->top)
        L->ci->top = L->top;
    return c.code;
}
