// Indexing, comparison and concatenation with the language's own rules:
// nil counts as 0 against numbers and as "" against strings in equality,
// comparing a number with a string is an error, and metamethods are found
// through the absence cache of each metatable.
#include "core/vm/operations.h"

#include <cstdio>
#include <cstring>

#include "core/io/error_codes.h"
#include "core/io/utilities.h"
#include "core/vm/calls.h"
#include "core/vm/debug.h"
#include "core/vm/error_hooks.h"
#include "core/vm/state.h"
#include "core/vm/strings.h"
#include "core/vm/table.h"

namespace {

constexpr int MAXTAGLOOP = 100;

[[noreturn]] void RaiseLoopLimit(VmState* L, const char* text)
{
    if (VmHooks.setErrorText)
        VmHooks.setErrorText(text);
    VmRaiseError(L, ERR_INTERNAL1);
}

void CallMeta3(VmState* L, const VmValue* f, const VmValue* a, const VmValue* b, const VmValue* c)
{
    VmValue fv = *f, av = *a, bv = *b, cv = *c;
    VmEnsureStack(L, 4);
    L->top[0] = fv;
    L->top[1] = av;
    L->top[2] = bv;
    L->top[3] = cv;
    L->top += 4;
    uint32_t code = VmCallValue(L, L->top - 4, 0);
    if (code)
        VmReportNativeError(L, code);
}

// Metamethod results count as false only when nil or the number 0.
bool MetaTruth(const VmValue* v)
{
    return !(v->tt == VM_TNIL || (v->tt == VM_TNUMBER && v->v.n == 0));
}

bool NilEquals(const VmValue* x)
{
    if (x->tt == VM_TNUMBER)
        return x->v.n == 0;
    if (x->tt == VM_TSTRING)
        return VmStrValue(x)->len == 0;
    return x->tt == VM_TNIL;
}

[[noreturn]] void RaiseMismatch(VmState* L, const VmValue* a, const VmValue* b, VmTmEvent event)
{
    bool numStr = (a->tt == VM_TNUMBER && b->tt == VM_TSTRING) || (a->tt == VM_TSTRING && b->tt == VM_TNUMBER);
    if (numStr)
        VmRaiseError(L, ERR_NUMSTRCMP);
    VmRaiseWrongOperator(L, event, a, b);
}

// A type as the detail of an error names it: "nil" alone, else with "a".
const char* TypeWithArticle(const VmValue* v, char* out, size_t size)
{
    const char* name = VmTypeNameOf(v->tt);
    std::snprintf(out, size, "%s%s", v->tt == VM_TNIL ? "" : "a ", name);
    return out;
}

// __eq shared by both operands' metatables.
const VmValue* SharedEqMeta(VmState* L, VmTable* mt1, VmTable* mt2)
{
    const VmValue* tm1 = VmFastMeta(L, mt1, TM_EQ);
    if (!tm1)
        return nullptr;
    if (mt1 == mt2)
        return tm1;
    const VmValue* tm2 = VmFastMeta(L, mt2, TM_EQ);
    if (!tm2 || !VmRawEqualValues(tm1, tm2))
        return nullptr;
    return tm1;
}

bool Concatenable(const VmValue* o)
{
    return o->tt == VM_TSTRING || o->tt == VM_TNUMBER || o->tt == VM_TNIL;
}

// A short concatenation of strings and numbers whose right operand is not
// empty: the bytes are gathered on the native stack with the numbers'
// texts, so that the hashes of the numbers' strings and of the result are
// known before any of them is interned and their string-table slots are
// fetched together rather than one after the other. The numbers are still
// converted in place, unless convertNumbers is false. False (nothing done)
// for anything else: long
// results, nil, many numbers, an empty right operand.
bool ConcatShort(VmState* L, VmValue* top, int total, bool convertNumbers, int* count)
{
    constexpr size_t kMaxBytes = 256;
    constexpr int kMaxNumbers = 4;
    char buf[kMaxBytes];
    struct NumberText {
        VmValue* slot;
        size_t at;
        size_t len;
        uint32_t hash;
    } numbers[kMaxNumbers];
    int nnum = 0;
    int m = 1;
    while (m < total && Concatenable(top - m - 1))
        m++;
    size_t at = 0;
    size_t lastLen = 0;
    for (int j = m; j > 0; j--) {
        VmValue* v = top - j;
        if (v->tt == VM_TSTRING) {
            const VmString* str = VmStrValue(v);
            if (str->len > kMaxBytes - at)
                return false;
            std::memcpy(buf + at, VmStringBytes(str), str->len);
            lastLen = str->len;
        } else if (v->tt == VM_TNUMBER && nnum < kMaxNumbers && kMaxBytes - at >= 32) {
            lastLen = static_cast<size_t>(VmFormatNumber(buf + at, v->v.n));
            if (convertNumbers)
                numbers[nnum++] = {v, at, lastLen, 0};
        } else {
            return false;
        }
        at += lastLen;
    }
    if (lastLen == 0)
        return false;
    for (int j = 0; j < nnum; j++) {
        numbers[j].hash = VmHashBytes(buf + numbers[j].at, numbers[j].len);
        VmPrefetchStringSlot(L, numbers[j].hash);
    }
    uint32_t hash = VmHashBytes(buf, at);
    VmPrefetchStringSlot(L, hash);
    for (int j = 0; j < nnum; j++)
        VmSetString(numbers[j].slot, VmNewStringHashed(L, buf + numbers[j].at, numbers[j].len, numbers[j].hash));
    VmSetString(top - m, VmNewStringHashed(L, buf, at, hash));
    *count = m;
    return true;
}

}  // namespace

void VmRaiseWrongOperator(VmState* L, VmTmEvent event, const VmValue* a, const VmValue* b)
{
    static const char* const kNames[] = {
        "Addition", "Subtraction", "Multiplication", "Division", "Integer division", "Modulo",
        "Left shift", "Right shift", "Bitwise or", "Bitwise and", "Bitwise xor", "Power",
        "Negation", "Bitwise not", "Comparison (<)", "Comparison (<=)",
    };
    static_assert(sizeof kNames / sizeof kNames[0] == TM_LE - TM_ADD + 1);
    const char* name = event >= TM_ADD && event <= TM_LE ? kNames[event - TM_ADD]
                       : event == TM_EQ                  ? "Comparison (==)"
                                                         : "Operation";
    char first[32], second[32];
    if (b)
        VmSetErrorDetail(ERR_WRONGOP, "%s of %s and %s", name, TypeWithArticle(a, first, sizeof first),
                         TypeWithArticle(b, second, sizeof second));
    else
        VmSetErrorDetail(ERR_WRONGOP, "%s of %s", name, TypeWithArticle(a, first, sizeof first));
    VmRaiseError(L, ERR_WRONGOP);
}

void VmReportNativeError(VmState* L, uint32_t code)
{
    if (VmHooks.recordScriptError) {
        VmHooks.recordScriptError(L, code);
        return;
    }
    VmLastErrorCode = code;
    VmThrow(L, code);
}

VmValue VmCallMetaResult(VmState* L, const VmValue* f, const VmValue* a, const VmValue* b)
{
    VmValue fv = *f, av = *a, bv = *b;
    VmEnsureStack(L, 3);
    L->top[0] = fv;
    L->top[1] = av;
    L->top[2] = bv;
    L->top += 3;
    uint32_t code = VmCallValue(L, L->top - 3, 1);
    L->top--;
    VmValue result = *L->top;
    if (code)
        VmReportNativeError(L, code);
    return result;
}

VmValue VmGetTableValue(VmState* L, const VmValue* t, const VmValue* key, bool* absent)
{
    VmValue tv = *t;
    VmValue kv = *key;
    *absent = false;
    for (int loop = 0; loop <= MAXTAGLOOP; loop++) {
        const VmValue* tm;
        if (tv.tt == VM_TTABLE) {
            VmTable* h = VmTabValue(&tv);
            const VmValue* v = VmTableGet(h, &kv);
            if (!VmIsNil(v))
                return *v;
            tm = VmFastMeta(L, h->metatable, TM_INDEX);
            if (!tm) {
                *absent = true;
                return VmNilObject;
            }
        } else {
            tm = VmGetMetaOf(L, &tv, TM_INDEX);
            if (VmIsNil(tm))
                VmTypeError(L, loop == 0 ? t : &tv, ERR_TABLEDECLA, "{}");
        }
        if (tm->tt == VM_TFUNCTION)
            return VmCallMetaResult(L, tm, &tv, &kv);
        tv = *tm;
    }
    RaiseLoopLimit(L, "#1");
}

void VmSetTableValue(VmState* L, const VmValue* t, const VmValue* key, const VmValue* value)
{
    VmValue tv = *t;
    VmValue kv = *key;
    VmValue vv = *value;
    for (int loop = 0; loop <= MAXTAGLOOP; loop++) {
        const VmValue* tm;
        if (tv.tt == VM_TTABLE) {
            VmTable* h = VmTabValue(&tv);
            VmValue* slot = VmTableSet(L, h, &kv);
            if (!VmIsNil(slot) || (tm = VmFastMeta(L, h->metatable, TM_NEWINDEX)) == nullptr) {
                *slot = vv;
                return;
            }
        } else {
            tm = VmGetMetaOf(L, &tv, TM_NEWINDEX);
            if (VmIsNil(tm))
                VmTypeError(L, loop == 0 ? t : &tv, ERR_TABLEDECLA, "{}");
        }
        if (tm->tt == VM_TFUNCTION) {
            CallMeta3(L, tm, &tv, &kv, &vv);
            return;
        }
        tv = *tm;
    }
    RaiseLoopLimit(L, "#2");
}

bool VmEqualValues(VmState* L, const VmValue* a, const VmValue* b)
{
    if (a->tt != b->tt) {
        if (a->tt == VM_TNIL)
            return NilEquals(b);
        if (b->tt == VM_TNIL)
            return NilEquals(a);
        RaiseMismatch(L, a, b, TM_EQ);
    }
    switch (a->tt) {
    case VM_TNIL:
        return true;
    case VM_TNUMBER:
        return a->v.n == b->v.n;
    case VM_TBOOLEAN:
        return a->v.b == b->v.b;
    case VM_TLIGHTUSERDATA:
        return a->v.p == b->v.p;
    case VM_TTABLE:
    case VM_TUSERDATA: {
        if (a->v.gc == b->v.gc)
            return true;
        const VmValue* tm = SharedEqMeta(L, VmMetatableOf(L, a), VmMetatableOf(L, b));
        if (!tm)
            return false;
        VmValue r = VmCallMetaResult(L, tm, a, b);
        return MetaTruth(&r);
    }
    default:
        return a->v.gc == b->v.gc;
    }
}

int VmCallOrderMeta(VmState* L, const VmValue* a, const VmValue* b, VmTmEvent event)
{
    const VmValue* tm1 = VmGetMetaOf(L, a, event);
    if (VmIsNil(tm1))
        return -1;
    const VmValue* tm2 = VmGetMetaOf(L, b, event);
    if (!VmRawEqualValues(tm1, tm2))
        return -1;
    VmValue r = VmCallMetaResult(L, tm1, a, b);
    return MetaTruth(&r) ? 1 : 0;
}

bool VmCallBinaryMeta(VmState* L, VmValue* result, const VmValue* a, const VmValue* b, VmTmEvent event)
{
    const VmValue* tm = VmGetMetaOf(L, a, event);
    if (VmIsNil(tm))
        tm = VmGetMetaOf(L, b, event);
    if (VmIsNil(tm))
        return false;
    *result = VmCallMetaResult(L, tm, a, b);
    return true;
}

int VmCompareStrings(const VmString* ls, const VmString* rs, int mode)
{
    // Piece by piece across embedded zero bytes; the shorter string is
    // smaller when every piece is equal.
    const char* l = VmStringBytes(ls);
    size_t ll = ls->len;
    const char* r = VmStringBytes(rs);
    size_t lr = rs->len;
    for (;;) {
        int temp = mode ? std::strcmp(l, r) : StrCaseCmp(l, r);
        if (temp != 0)
            return temp;
        size_t len = std::strlen(l);
        if (len == lr)
            return len == ll ? 0 : 1;
        if (len == ll)
            return -1;
        len++;
        l += len;
        ll -= len;
        r += len;
        lr -= len;
    }
}

bool VmLessThan(VmState* L, const VmValue* a, const VmValue* b, int mode)
{
    if (a->tt == b->tt) {
        switch (a->tt) {
        case VM_TNUMBER:
            return a->v.n < b->v.n;
        case VM_TSTRING:
            return VmCompareStrings(VmStrValue(a), VmStrValue(b), mode) < 0;
        case VM_TNIL:
            return false;
        default: {
            int res = VmCallOrderMeta(L, a, b, TM_LT);
            if (res != -1)
                return res != 0;
            VmRaiseWrongOperator(L, TM_LT, a, b);
        }
        }
    }
    if (a->tt == VM_TNIL || b->tt == VM_TNIL) {
        const VmValue* other = a->tt == VM_TNIL ? b : a;
        if (other->tt == VM_TNUMBER)
            return a->tt == VM_TNIL ? 0 < b->v.n : a->v.n < 0;
        if (other->tt == VM_TSTRING)
            return false;
        VmRaiseWrongOperator(L, TM_LT, a, b);
    }
    RaiseMismatch(L, a, b, TM_LT);
}

bool VmLessEqual(VmState* L, const VmValue* a, const VmValue* b)
{
    if (a->tt == b->tt) {
        switch (a->tt) {
        case VM_TNUMBER:
            return a->v.n <= b->v.n;
        case VM_TSTRING:
            return VmCompareStrings(VmStrValue(a), VmStrValue(b), 1) <= 0;
        case VM_TNIL:
            return true;
        default: {
            int res = VmCallOrderMeta(L, a, b, TM_LE);
            if (res != -1)
                return res != 0;
            res = VmCallOrderMeta(L, b, a, TM_LT);
            if (res != -1)
                return res == 0;
            VmRaiseWrongOperator(L, TM_LE, a, b);
        }
        }
    }
    if (a->tt == VM_TNIL || b->tt == VM_TNIL) {
        const VmValue* other = a->tt == VM_TNIL ? b : a;
        if (other->tt == VM_TNUMBER)
            return a->tt == VM_TNIL ? 0 <= b->v.n : a->v.n <= 0;
        if (other->tt == VM_TSTRING)
            return false;
        VmRaiseWrongOperator(L, TM_LE, a, b);
    }
    RaiseMismatch(L, a, b, TM_LE);
}

void VmConcatValues(VmState* L, int total, int last, bool convertOperands)
{
    do {
        VmValue* top = L->base + last + 1;
        int n = 2;
        if (!Concatenable(top - 2) || !Concatenable(top - 1)) {
            VmValue result;
            if (!VmCallBinaryMeta(L, &result, top - 2, top - 1, TM_CONCAT))
                VmRaiseError(L, ERR_CONCAT);
            top = L->base + last + 1;
            top[-2] = result;
        } else if (!ConcatShort(L, top, total, convertOperands, &n)) {
            VmToStringInPlace(L, top - 2);
            VmToStringInPlace(L, top - 1);
            if (VmStrValue(top - 1)->len != 0) {
                uint64_t tl = VmStrValue(top - 1)->len;
                for (n = 1; n < total && Concatenable(top - n - 1); n++) {
                    VmToStringInPlace(L, top - n - 1);
                    tl += VmStrValue(top - n - 1)->len;
                    if (tl > 0xFFFFFFFDu)
                        VmRaiseError(L, ERR_INTERNAL);
                }
                // Built straight into the new string: long results are
                // copied once, not through a scratch buffer.
                VmString* result = VmAllocString(L, tl);
                char* buffer = VmStringBytes(result);
                uint64_t at = 0;
                for (int i = n; i > 0; i--) {
                    const VmString* s = VmStrValue(top - i);
                    std::memcpy(buffer + at, VmStringBytes(s), s->len);
                    at += s->len;
                }
                VmSetString(top - n, VmInternFresh(L, result));
            }
        }
        total -= n - 1;
        last -= n - 1;
    } while (total > 1);
}
