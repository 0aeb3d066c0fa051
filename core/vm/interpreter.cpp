// The interpreter: one loop that runs script functions and the script
// functions they call without recursing. The language's own rules live
// here: numbers stand in for booleans, 0 and "" are false, nil counts as 0
// in arithmetic, integer division and bitwise operators work on truncated
// integers, and Gosub/Return jump to labels.
//
// The loop keeps the instruction pointer, the frame base and the constants
// in locals. Anything that can call out (metamethods, natives, the
// collector, errors) may move the stack, so `base` is re-read after each;
// the live instruction pointer is published through the call record, so an
// error always knows its instruction.
#include "core/vm/interpreter.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/io/error_codes.h"
#include "core/io/number_conv.h"
#include "core/vm/calls.h"
#include "core/vm/chunk.h"
#include "core/vm/error_hooks.h"
#include "core/vm/memory.h"
#include "core/vm/object.h"
#include "core/vm/opcodes.h"
#include "core/vm/operations.h"
#include "core/vm/state.h"
#include "core/vm/strings.h"
#include "core/vm/table.h"

VmGosubEntry VmGosubStack[VM_GOSUB_DEPTH];
uint32_t VmGosubDepth = 0;
int32_t VmGosubJumpDistance = 0;
int32_t VmCallInstructionIndex = 0;

namespace {

inline bool IsFalse(const VmValue* o)
{
    switch (o->tt) {
    case VM_TNIL:
        return true;
    case VM_TBOOLEAN:
        return o->v.b == 0;
    case VM_TNUMBER:
        return o->v.n == 0;
    case VM_TSTRING:
        return VmStrValue(o)->len == 0;
    default:
        return false;
    }
}

// Result of the integer operators: unsigned 32-bit.
inline double U32(uint32_t v) { return static_cast<double>(v); }

bool ArithNumbers(VmState* L, double x, double y, VmTmEvent event, double* r)
{
    switch (event) {
    case TM_ADD:
        *r = x + y;
        return true;
    case TM_SUB:
        *r = x - y;
        return true;
    case TM_MUL:
        *r = x * y;
        return true;
    case TM_DIV:
        if (y == 0)
            VmRaiseError(L, ERR_ZERODIVISION);
        *r = x / y;
        return true;
    case TM_DIVINT:
    case TM_MOD: {
        int64_t a = DoubleToInt32(x);
        int64_t b = DoubleToInt32(y);
        if (b == 0)
            VmRaiseError(L, ERR_ZERODIVISION);
        // In 64 bits the smallest integer divided by -1 has its true answer.
        *r = static_cast<double>(event == TM_DIVINT ? a / b : a % b);
        return true;
    }
    case TM_LSH:
        *r = U32(DoubleToLow32(x) << (DoubleToLow32(y) & 31));
        return true;
    case TM_RSH:
        *r = U32(DoubleToLow32(x) >> (DoubleToLow32(y) & 31));
        return true;
    case TM_OR:
        *r = U32(DoubleToLow32(x) | DoubleToLow32(y));
        return true;
    case TM_AND:
        *r = U32(DoubleToLow32(x) & DoubleToLow32(y));
        return true;
    case TM_XOR:
        *r = U32(DoubleToLow32(x) ^ DoubleToLow32(y));
        return true;
    case TM_POW:
        *r = std::pow(x, y);
        return true;
    default:
        return false;
    }
}

[[noreturn]] void RaiseFieldInit(VmState* L, const VmValue* key)
{
    if (VmHooks.setErrorText) {
        char text[1100];
        if (key->tt == VM_TNUMBER)
            std::snprintf(text, sizeof text, "%g", key->v.n);
        else if (key->tt == VM_TSTRING)
            std::snprintf(text, sizeof text, "\"%s\"", VmSvalue(key));
        else
            std::snprintf(text, sizeof text, "?");
        VmHooks.setErrorText(text);
    }
    VmRaiseError(L, ERR_FIELDINIT);
}

// For-loop limit and step: nil counts 0, numeric strings convert in place.
void ForCoerce(VmState* L, VmValue* o)
{
    double n;
    if (o->tt == VM_TNUMBER)
        return;
    if (o->tt == VM_TSTRING || o->tt == VM_TNIL) {
        if (VmToNumber(o, &n)) {
            VmSetNumber(o, n);
            return;
        }
    }
    VmRaiseError(L, ERR_VALUEEXPECTED);
}

int CurrentLine(const VmProto* p, int pc)
{
    return (p->lineInfo && pc >= 0 && pc < p->sizeLineInfo) ? p->lineInfo[pc] : 0;
}

// Count and line hooks, before the instruction at pc - 1 runs.
void TraceExec(VmState* L, const uint32_t* pc)
{
    uint8_t mask = L->hookMask;
    if (mask & VM_MASKCOUNT) {
        if (L->hookCount == 0 || --L->hookCount == 0) {
            L->hookCount = L->baseHookCount;
            VmCallHook(L, VM_HOOKCOUNT, -1);
            return;
        }
    }
    if (!(mask & VM_MASKLINE))
        return;
    VmCallInfo* ci = L->ci;
    const VmProto* p = VmFuncValue(ci->base - 1)->proto;
    int npc = static_cast<int>(pc - p->code) - 1;
    int newLine = CurrentLine(p, npc);
    if (!L->hookInit) {
        ci->hookPc = pc;
        L->hookInit = 1;
        return;
    }
    if (npc == 0)
        ci->hookPc = pc;
    int oldPc = static_cast<int>(ci->hookPc - p->code) - 1;
    if (pc <= ci->hookPc || newLine != CurrentLine(p, oldPc)) {
        VmCallHook(L, VM_HOOKLINE, newLine);
        ci = L->ci;
    }
    ci->hookPc = pc;
}

// The event check while a pump is due, before the instruction at pc - 1
// runs: the hook runs at the first instruction that starts a new line,
// jumps backward or enters a function. Until then the instructions seen are
// remembered, so a line that loops on itself is noticed at its jump.
void EventCheck(VmState* L, const uint32_t* pc)
{
    const VmProto* p = VmFuncValue(L->ci->base - 1)->proto;
    int npc = static_cast<int>(pc - p->code) - 1;
    int line = CurrentLine(p, npc);
    const uint32_t* last = L->eventPc;
    bool newLine;
    if (npc == 0)
        newLine = true;
    else if (last && last > p->code && last <= p->code + p->sizeCode)
        newLine = pc <= last || line != CurrentLine(p, static_cast<int>(last - p->code) - 1);
    else
        newLine = line != CurrentLine(p, npc - 1);
    if (!newLine) {
        L->eventPc = pc;
        return;
    }
    L->eventPc = nullptr;
    VmCallEventHook(L, line);
}

// A field read with a string key from the RK operand rk: a constant key
// tries the node its lookup last found first; any other goes by the hash
// its value carries.
inline const VmValue* StringField(const VmClosure* cl, VmTable* t, const VmValue* key, uint32_t rk)
{
    if (VmIsConstantRK(rk))
        return VmTableGetStrHinted(t, key, &cl->proto->kHint[rk - VM_RK_CONST]);
    return VmTableGetStrHashed(t, VmStrValue(key), key->aux);
}

// An operand of a verified instruction that the code gave a value of the
// wrong type: the bytecode is refused here, and the detail names the
// function, the instruction and the type.
[[noreturn]] void RaiseBadOperand(VmState* L, const VmProto* p, ptrdiff_t pc, const char* does, const VmValue* v)
{
    char function[192];
    VmDescribeFunction(p, nullptr, function, sizeof function);
    uint32_t op = VmOp(p->code[pc]);
    VmSetErrorDetail(ERR_BADBYTECODE, "In %s: instruction %d (%s) %s a %s", function, static_cast<int>(pc),
                     op < VM_NUM_OPCODES ? VmOpTable[op].name : "?", does, VmTypeNameOf(v->tt));
    VmRaiseError(L, ERR_BADBYTECODE);
}

}  // namespace

VmValue VmArith(VmState* L, const VmValue* a, const VmValue* b, VmTmEvent event)
{
    double x, y, r;
    if (VmToNumber(a, &x) && VmToNumber(b, &y) && ArithNumbers(L, x, y, event, &r)) {
        VmValue v;
        VmSetNumber(&v, r);
        return v;
    }
    VmValue result;
    if (!VmCallBinaryMeta(L, &result, a, b, event))
        VmRaiseWrongOperator(L, event, a, b);
    return result;
}

uint32_t VmNextItem(VmState* L)
{
    if (VmType(L, 1) != VM_TTABLE)
        return ERR_TABEXPECTED;
    VmSetTop(L, 2);
    if (VmNext(L, 1))
        return 2;
    VmPushNil(L);
    return 1;
}

#define RA(i) (base + VmArgA(i))
#define RB(i) (base + VmArgB(i))
#define RKB(i) (VmIsConstantRK(VmArgB(i)) ? k + (VmArgB(i) - VM_RK_CONST) : base + VmArgB(i))
#define RKC(i) (VmIsConstantRK(VmArgC(i)) ? k + (VmArgC(i) - VM_RK_CONST) : base + VmArgC(i))
// The current instruction, published before anything that can raise or
// call out, so errors and the debug interface know where the run is.
#define SAVEPC() (L->ci->savedPc = pc)
#define RAISE(code)               \
    do {                          \
        SAVEPC();                 \
        VmRaiseError(L, (code));  \
    } while (0)
// Runs x, which may move the stack, and reloads the frame base.
#define PROTECT(x)      \
    {                   \
        SAVEPC();       \
        x;              \
        base = L->base; \
    }
#define FOLLOW() (pc += VmJumpOffset(*pc) + 1)

#define ARITH_OP(op, event)                                                           \
    {                                                                                 \
        const VmValue* rb = RKB(i);                                                   \
        const VmValue* rc = RKC(i);                                                   \
        if (rb->tt == VM_TNUMBER && rc->tt == VM_TNUMBER) {                           \
            VmSetNumber(ra, rb->v.n op rc->v.n);                                      \
        } else {                                                                      \
            VmValue r;                                                                \
            PROTECT(r = VmArith(L, rb, rc, event));                                   \
            *RA(i) = r;                                                               \
        }                                                                             \
        NEXT();                                                                       \
    }
// Integer division and remainder: operands that are whole numbers of 32
// bits and a divisor that is not 0 are done in line (in 64 bits, so the
// smallest integer by -1 has its true answer); the rest, with their
// truncation, coercion and errors, through VmArith.
#define DIVMOD_OP(op, event)                                                          \
    {                                                                                 \
        const VmValue* rb = RKB(i);                                                   \
        const VmValue* rc = RKC(i);                                                   \
        int32_t x, y;                                                                 \
        if (rb->tt == VM_TNUMBER && rc->tt == VM_TNUMBER && VmNumberToInt32(rb->v.n, &x) && \
            VmNumberToInt32(rc->v.n, &y) && y != 0) {                                 \
            VmSetNumber(ra, static_cast<double>(int64_t{x} op int64_t{y}));           \
        } else {                                                                      \
            VmValue r;                                                                \
            PROTECT(r = VmArith(L, rb, rc, event));                                   \
            *RA(i) = r;                                                               \
        }                                                                             \
        NEXT();                                                                       \
    }
#define INT_OP(event)                                                                 \
    {                                                                                 \
        VmValue r;                                                                    \
        PROTECT(r = VmArith(L, RKB(i), RKC(i), event));                              \
        *RA(i) = r;                                                                   \
        NEXT();                                                                       \
    }

VmValue* VmExecute(VmState* L)
{
    const ptrdiff_t entryCi = L->ci - L->baseCi;
    const uint32_t* pc;
    VmClosure* cl;
    VmValue* k;
    VmValue* base;
    const uint32_t* code;

callentry:
    if (L->hookMask & VM_MASKCALL) {
        L->ci->state = VM_CI_SAVEDPC;
        VmCallHook(L, VM_HOOKCALL, -1);
    }

retentry:
    // (Re)enters the function of the current call record.
    L->ci->state = VM_CI_SAVEDPC;
    pc = L->ci->savedPc;
    cl = VmFuncValue(L->base - 1);
    k = cl->proto->k;
    code = cl->proto->code;
    base = L->base;

    static const void* const kDispatch[64] = {
        &&op_OP_MOVE, &&op_OP_LOADK, &&op_OP_LOADNUM, &&op_OP_LOADNIL, &&op_OP_GETUPVAL,
        &&op_OP_GETGLOBAL, &&op_OP_GETTABLE, &&op_OP_SETGLOBAL, &&op_OP_SETUPVAL, &&op_OP_SETTABLE,
        &&op_OP_NEWTABLE, &&op_OP_ADD, &&op_OP_SUB, &&op_OP_MUL, &&op_OP_DIV, &&op_OP_IDIV,
        &&op_OP_MOD, &&op_OP_SHL, &&op_OP_SHR, &&op_OP_BOR, &&op_OP_BAND, &&op_OP_BXOR,
        &&op_OP_POW, &&op_OP_UNM, &&op_OP_NOT, &&op_OP_BNOT, &&op_OP_CONCAT, &&op_OP_JMP,
        &&op_OP_EQ, &&op_OP_LT, &&op_OP_LE, &&op_OP_TEST, &&op_OP_CALL, &&op_OP_TAILCALL,
        &&op_OP_RETURN, &&op_OP_FORLOOP, &&op_OP_TFORLOOP, &&op_OP_TFORPREP, &&op_OP_SETLIST,
        &&op_OP_SETLISTO, &&op_OP_CLOSE, &&op_OP_CLOSURE, &&op_OP_SELF,
        // 43-63: not instructions; they do nothing.
        &&op_none, &&op_none, &&op_none, &&op_none, &&op_none, &&op_none, &&op_none,
        &&op_none, &&op_none, &&op_none, &&op_none, &&op_none, &&op_none, &&op_none,
        &&op_none, &&op_none, &&op_none, &&op_none, &&op_none, &&op_none, &&op_none,
    };
    uint32_t i;
    VmValue* ra;
    // The table's address kept in a register rather than formed again at
    // every dispatch.
    const void* const* dispatch = kDispatch;
    __asm__("" : "+r"(dispatch));
    // Every instruction ends by fetching the next one (threaded dispatch).
    // One word says whether anything must happen first: an abort, a debug
    // line or count hook, or a due event pump.
#define NEXT()                                                                                 \
    do {                                                                                       \
        if (__builtin_expect(VmPumpDue.load(std::memory_order_relaxed), 0))                    \
            goto attend;                                                                       \
        i = *pc++;                                                                             \
        ra = RA(i);                                                                            \
        goto* dispatch[VmOp(i)];                                                              \
    } while (0)

    NEXT();

attend:
    if (VmAbortFlag.load(std::memory_order_relaxed))
        goto aborted;
    i = *pc++;
    if (L->eventHook)
        PROTECT(EventCheck(L, pc))
    else if (!(L->hookMask & (VM_MASKLINE | VM_MASKCOUNT)))
        VmPumpDue.store(0);  // nothing here serves it; a new hook raises it again
    if (L->hookMask & (VM_MASKLINE | VM_MASKCOUNT))
        PROTECT(TraceExec(L, pc));
    ra = RA(i);
    goto* dispatch[VmOp(i)];

aborted:
    // Unwind to the entry record; the entry call has no results.
    L->ci = L->baseCi + entryCi;
    L->base = L->ci->base;
    VmCloseUpvalues(L, L->base);
    L->ci->state = VM_CI_SAVEDPC;
    L->ci->savedPc = pc;
    return nullptr;

        op_OP_MOVE:
            *ra = *RB(i);
            NEXT();
        op_OP_LOADK:
            *ra = k[VmArgBx(i)];
            NEXT();
        op_OP_LOADNUM:
            VmSetNumber(ra, VmArgB(i));
            if (VmArgC(i))
                pc++;
            NEXT();
        op_OP_LOADNIL: {
            VmValue* rb = RB(i);
            do {
                VmSetNil(rb--);
            } while (rb >= ra);
            NEXT();
        }
        op_OP_GETUPVAL:
            *ra = *VmScriptUpvalues(cl)[VmArgB(i)]->v;
            NEXT();
        op_OP_GETGLOBAL: {
            const VmValue* key = &k[VmArgBx(i)];
            if (cl->env.tt == VM_TTABLE) {
                const VmValue* v = VmTableGetStrHinted(VmTabValue(&cl->env), key, &cl->proto->kHint[VmArgBx(i)]);
                if (!VmIsNil(v)) {
                    *ra = *v;
                    NEXT();
                }
            }
            bool absent;
            VmValue v;
            PROTECT(v = VmGetTableValue(L, &cl->env, key, &absent));
            *RA(i) = v;
            NEXT();
        }
        op_OP_GETTABLE: {
            const VmValue* rb = RB(i);
            const VmValue* key = RKC(i);
            if (rb->tt == VM_TTABLE) {
                VmTable* t = VmTabValue(rb);
                int32_t n;
                const VmValue* v;
                if (key->tt == VM_TSTRING)
                    v = StringField(cl, t, key, VmArgC(i));
                else if (key->tt == VM_TNUMBER && VmNumberToInt32(key->v.n, &n) &&
                         static_cast<uint32_t>(n) - 1 < t->sizearray)
                    v = &t->array[n - 1];
                else
                    v = VmTableGet(t, key);
                if (!VmIsNil(v)) {
                    *ra = *v;
                    NEXT();
                }
            }
            bool absent;
            VmValue keyCopy = *key;
            bool isTable = rb->tt == VM_TTABLE;
            VmValue v;
            PROTECT(v = VmGetTableValue(L, rb, key, &absent));
            if (absent && isTable) {
                SAVEPC();
                RaiseFieldInit(L, &keyCopy);
            }
            *RA(i) = v;
            NEXT();
        }
        op_OP_SETGLOBAL:
            PROTECT(VmSetTableValue(L, &cl->env, &k[VmArgBx(i)], ra));
            NEXT();
        op_OP_SETUPVAL:
            *VmScriptUpvalues(cl)[VmArgB(i)]->v = *ra;
            NEXT();
        op_OP_SETTABLE: {
            const VmValue* key = RKB(i);
            const VmValue* val = RKC(i);
            if (ra->tt == VM_TTABLE && key->tt == VM_TSTRING) {
                // Fast path: an existing field.
                auto* slot = const_cast<VmValue*>(StringField(cl, VmTabValue(ra), key, VmArgB(i)));
                if (!VmIsNil(slot)) {
                    *slot = *val;
                    NEXT();
                }
            } else if (ra->tt == VM_TTABLE && key->tt == VM_TNUMBER) {
                // Fast path: a slot of the array part that is taken, or
                // free where the metatable is known to have no __newindex.
                int32_t n;
                VmTable* t = VmTabValue(ra);
                if (VmNumberToInt32(key->v.n, &n) && static_cast<uint32_t>(n) - 1 < t->sizearray &&
                    (!VmIsNil(&t->array[n - 1]) || (t->metatable->flags & (1u << TM_NEWINDEX)))) {
                    t->array[n - 1] = *val;
                    NEXT();
                }
            }
            PROTECT(VmSetTableValue(L, ra, key, val));
            NEXT();
        }
        op_OP_NEWTABLE: {
            uint32_t b = VmArgB(i);
            uint32_t shift = b >> 3;
            uint64_t asize = b & 7;
            if (asize != 0 && shift > 24)
                RAISE(ERR_TABLEOVERFLOW);
            asize <<= shift;
            SAVEPC();
            VmTable* t = VmNewTableObject(L, asize, static_cast<int>(VmArgC(i)));
            VmSetTableValue(ra, t);
            PROTECT(VmCheckGC(L));
            NEXT();
        }
        op_OP_ADD:
            ARITH_OP(+, TM_ADD)
        op_OP_SUB:
            ARITH_OP(-, TM_SUB)
        op_OP_MUL:
            ARITH_OP(*, TM_MUL)
        op_OP_DIV:
            INT_OP(TM_DIV)
        op_OP_IDIV:
            DIVMOD_OP(/, TM_DIVINT)
        op_OP_MOD:
            DIVMOD_OP(%, TM_MOD)
        op_OP_SHL:
            INT_OP(TM_LSH)
        op_OP_SHR:
            INT_OP(TM_RSH)
        op_OP_BOR:
            INT_OP(TM_OR)
        op_OP_BAND:
            INT_OP(TM_AND)
        op_OP_BXOR:
            INT_OP(TM_XOR)
        op_OP_POW:
            INT_OP(TM_POW)
        op_OP_UNM: {
            const VmValue* rb = RB(i);
            double n;
            if (rb->tt == VM_TNUMBER) {
                VmSetNumber(ra, -rb->v.n);
            } else if (rb->tt == VM_TNIL) {
                VmSetNumber(ra, -0.0);
            } else if (rb->tt == VM_TSTRING && VmToNumber(rb, &n)) {
                VmSetNumber(ra, -n);
            } else {
                VmValue r;
                bool found;
                PROTECT(found = VmCallBinaryMeta(L, &r, RB(i), &VmNilObject, TM_UNM));
                if (!found) {
                    SAVEPC();
                    VmRaiseWrongOperator(L, TM_UNM, RB(i), nullptr);
                }
                *RA(i) = r;
            }
            NEXT();
        }
        op_OP_NOT:
            VmSetNumber(ra, IsFalse(RB(i)) ? 1 : 0);
            NEXT();
        op_OP_BNOT: {
            const VmValue* rb = RB(i);
            double n;
            if (VmToNumber(rb, &n)) {
                VmSetNumber(ra, U32(~DoubleToLow32(n)));
            } else {
                VmValue r;
                bool found;
                PROTECT(found = VmCallBinaryMeta(L, &r, RB(i), &VmNilObject, TM_NOT));
                if (!found) {
                    SAVEPC();
                    VmRaiseWrongOperator(L, TM_NOT, RB(i), nullptr);
                }
                *RA(i) = r;
            }
            NEXT();
        }
        op_OP_CONCAT: {
            int b = static_cast<int>(VmArgB(i));
            int c = static_cast<int>(VmArgC(i));
            const uint8_t* dead = cl->proto->deadOperands;
            PROTECT(VmConcatValues(L, c - b + 1, c, !(dead && dead[pc - 1 - code])));
            *RA(i) = base[b];
            PROTECT(VmCheckGC(L));
            NEXT();
        }
        op_OP_JMP: {
            if (VmJumpMode(i) == VM_JUMP_GOSUB) {
                if (VmGosubDepth >= VM_GOSUB_DEPTH)
                    RAISE(ERR_INTERNAL);
                VmGosubStack[VmGosubDepth++] = {cl->proto, static_cast<int32_t>(pc - code)};
            }
            pc += VmJumpOffset(i);
            NEXT();
        }
        op_OP_EQ: {
            const VmValue* rb = RKB(i);
            const VmValue* rc = RKC(i);
            bool eq;
            if (rb->tt == rc->tt && (rb->tt == VM_TNUMBER || rb->tt == VM_TSTRING)) {
                eq = rb->tt == VM_TNUMBER ? rb->v.n == rc->v.n : rb->v.gc == rc->v.gc;
            } else {
                PROTECT(eq = VmEqualValues(L, rb, rc));
            }
            if (eq == (VmArgA(i) != 0))
                FOLLOW();
            else
                pc++;
            NEXT();
        }
        op_OP_LT: {
            const VmValue* rb = RKB(i);
            const VmValue* rc = RKC(i);
            bool lt;
            if (rb->tt == VM_TNUMBER && rc->tt == VM_TNUMBER) {
                lt = rb->v.n < rc->v.n;
            } else {
                PROTECT(lt = VmLessThan(L, rb, rc, 1));
            }
            if (lt == (VmArgA(i) != 0))
                FOLLOW();
            else
                pc++;
            NEXT();
        }
        op_OP_LE: {
            const VmValue* rb = RKB(i);
            const VmValue* rc = RKC(i);
            bool le;
            if (rb->tt == VM_TNUMBER && rc->tt == VM_TNUMBER) {
                le = rb->v.n <= rc->v.n;
            } else {
                PROTECT(le = VmLessEqual(L, rb, rc));
            }
            if (le == (VmArgA(i) != 0))
                FOLLOW();
            else
                pc++;
            NEXT();
        }
        op_OP_TEST: {
            const VmValue* rb = RB(i);
            if ((IsFalse(rb) ? 1u : 0u) == VmArgC(i)) {
                pc++;
            } else {
                *ra = *rb;
                FOLLOW();
            }
            NEXT();
        }
        op_OP_CALL:
        op_OP_TAILCALL: {
            int b = static_cast<int>(VmArgB(i));
            int nresults = static_cast<int>(VmArgC(i)) - 1;
            VmCallInfo* ci = L->ci;
            ci->savedPc = pc;
            bool tail = VmOp(i) == OP_TAILCALL;
            if (__builtin_expect(b != 0 && !tail && ra->tt == VM_TFUNCTION && !VmFuncValue(ra)->isNative, 1)) {
                // The common case in line: a script function with fixed
                // parameters, room on the stack and a free call record.
                const VmProto* p = VmFuncValue(ra)->proto;
                VmValue* top = ra + b;
                if (__builtin_expect(!p->isVararg && L->stackLast - top > p->maxStackSize && ci != L->endCi, 1)) {
                    // Locals throughout: value stores may alias anything, so
                    // fields read back after them would be loaded again. A
                    // record running here holds no other state bit.
                    ci->state = VM_CI_SAVEDPC | VM_CI_CALLING;
                    VmCallInfo* nci = ci + 1;
                    L->ci = nci;
                    VmValue* nbase = ra + 1;
                    VmValue* ntop = nbase + p->maxStackSize;
                    L->base = nci->base = nbase;
                    nci->top = ntop;
                    nci->savedPc = p->code;
                    nci->tailCalls = 0;
                    nci->state = VM_CI_SAVEDPC;
                    for (VmValue* q = top; q < ntop; q++)
                        VmSetNil(q);
                    L->top = ntop;
                    if (L->hookMask & VM_MASKCALL)
                        goto callentry;
                    cl = VmFuncValue(ra);
                    k = p->k;
                    code = p->code;
                    pc = code;
                    base = nbase;
                    NEXT();
                }
            }
            if (b != 0)
                L->top = ra + b;
            else if (L->top <= ra)
                L->top = ra + 1;  // no open instruction before: no arguments
            VmCallInstructionIndex = static_cast<int32_t>(pc - code);
            if (tail && L->openUpval)
                VmCloseUpvalues(L, base);
            VmPreCallResult r = VmPreCall(L, ra);
            if (r.outcome == VmCallOutcome::ScriptFrame) {
                if (tail) {
                    // The callee replaces this frame: move it down over it.
                    VmCallInfo* ci = L->ci - 1;
                    VmValue* func = ci->base - 1;
                    VmValue* pfunc = L->ci->base - 1;
                    int64_t n = 0;
                    for (; pfunc + n < L->top; n++)
                        func[n] = pfunc[n];
                    ci->base = func + 1;
                    ci->top = L->top = func + n;
                    ci->savedPc = L->ci->savedPc;
                    ci->tailCalls++;
                    L->ci--;
                    L->base = L->ci->base;
                } else {
                    (L->ci - 1)->state |= VM_CI_CALLING;
                }
                goto callentry;
            }
            if (r.outcome == VmCallOutcome::GosubRequest) {
                base = L->base;
                if (VmGosubDepth >= VM_GOSUB_DEPTH)
                    RAISE(ERR_INTERNAL);
                int32_t after = static_cast<int32_t>(pc - code);
                int32_t back = r.code == VM_GOSUB_BEFORE ? after - 2 : after;
                int64_t target = static_cast<int64_t>(after) + VmGosubJumpDistance;
                if (back < 0 || target < 0 || target >= cl->proto->sizeCode)
                    RAISE(ERR_INTERNAL);
                VmGosubStack[VmGosubDepth++] = {cl->proto, back};
                pc = code + target;
                L->top = L->ci->top;
                NEXT();
            }
            if (r.code != 0) {
                VmValue* first = r.firstResult;
                ptrdiff_t fr = VmSaveStack(L, first);
                VmReportNativeError(L, r.code);
                r.firstResult = VmRestoreStack(L, fr);
            }
            VmPostCall(L, tail ? VM_MULTRET : nresults, r.firstResult);
            base = L->base;
            if (!tail && nresults >= 0)
                L->top = L->ci->top;
            NEXT();
        }
        op_OP_RETURN: {
            if (VmArgC(i) == 1) {
                if (VmGosubDepth == 0)
                    RAISE(ERR_RETWOGOSUB);
                VmGosubEntry e = VmGosubStack[VmGosubDepth - 1];
                // A return address belongs to one function's code.
                if (e.proto != cl->proto || e.pc < 0 || e.pc >= cl->proto->sizeCode)
                    RAISE(ERR_RETWOGOSUB);
                VmGosubDepth--;
                pc = code + e.pc;
                NEXT();
            }
            int b = static_cast<int>(VmArgB(i));
            VmCallInfo* caller = L->ci - 1;
            int nresults = -1;
            if (__builtin_expect(caller->state & VM_CI_CALLING, 1)) {
                nresults = static_cast<int>(VmArgC(caller->savedPc[-1])) - 1;
                if (__builtin_expect(b != 0 && nresults >= 0 && !(L->hookMask & VM_MASKRET), 1)) {
                    // A fixed number of results into a fixed number wanted:
                    // no stack top to consult, the caller's goes back to its
                    // frame top.
                    if (L->openUpval)
                        VmCloseUpvalues(L, base);
                    VmValue* res = base - 1;
                    int have = b - 1;
                    if (nresults == 1 && have >= 1) {
                        *res = *ra;  // the usual one result
                    } else {
                        for (int j = 0; j < nresults; j++) {
                            if (j < have)
                                res[j] = ra[j];
                            else
                                VmSetNil(res + j);
                        }
                    }
                    L->ci = caller;
                    L->base = base = caller->base;
                    L->top = caller->top;
                    caller->state = VM_CI_SAVEDPC;
                    pc = caller->savedPc;
                    cl = VmFuncValue(base - 1);
                    k = cl->proto->k;
                    code = cl->proto->code;
                    NEXT();
                }
            }
            if (b != 0)
                L->top = ra + b - 1;
            if (L->openUpval)
                VmCloseUpvalues(L, base);
            // Entered from outside this loop: hand the results over.
            if (!(caller->state & VM_CI_CALLING)) {
                L->ci->savedPc = pc;
                return ra;
            }
            if (L->hookMask & VM_MASKRET) {
                L->ci->savedPc = pc;
                VmPostCall(L, nresults, ra);
                if (nresults >= 0)
                    L->top = L->ci->top;
                goto retentry;
            }
            // The results move down over the function's slot, and the caller
            // goes on, all through locals (see OP_CALL).
            VmValue* res = base - 1;
            VmValue* top = L->top;
            VmValue* cbase = caller->base;
            L->ci = caller;
            L->base = cbase;
            VmValue* first = ra;
            int wanted = nresults;
            while (wanted != 0 && first < top) {
                *res++ = *first++;
                wanted--;
            }
            while (wanted-- > 0)
                VmSetNil(res++);
            L->top = nresults >= 0 ? caller->top : res;
            caller->state = VM_CI_SAVEDPC;
            pc = caller->savedPc;
            cl = VmFuncValue(cbase - 1);
            k = cl->proto->k;
            code = cl->proto->code;
            base = cbase;
            NEXT();
        }
        op_OP_FORLOOP: {
            if (ra->tt == VM_TNUMBER && ra[1].tt == VM_TNUMBER && ra[2].tt == VM_TNUMBER) {
                double step = ra[2].v.n;
                double idx = ra->v.n + step;
                if (step > 0 ? idx <= ra[1].v.n : idx >= ra[1].v.n) {
                    pc += VmArgSBx(i);
                    ra->v.n = idx;
                }
                NEXT();
            }
            if (ra->tt != VM_TNUMBER)
                RAISE(ERR_VALUEEXPECTED);
            SAVEPC();
            ForCoerce(L, ra + 1);
            ForCoerce(L, ra + 2);
            double step = ra[2].v.n;
            double idx = ra->v.n + step;
            double limit = ra[1].v.n;
            if (step > 0 ? idx <= limit : idx >= limit) {
                pc += VmArgSBx(i);
                ra->v.n = idx;
            }
            NEXT();
        }
        op_OP_TFORLOOP: {
            int nvar = static_cast<int>(VmArgC(i)) + 1;
            VmValue* cb = ra + nvar + 2;
            cb[0] = ra[0];
            cb[1] = ra[1];
            cb[2] = ra[2];
            L->top = cb + 3;
            uint32_t code2;
            PROTECT(code2 = VmCallValue(L, cb, nvar));
            if (code2 != 0)
                PROTECT(VmReportNativeError(L, code2));
            L->top = L->ci->top;
            ra = RA(i) + 2;
            cb = ra + nvar;
            do {
                nvar--;
                ra[nvar] = cb[nvar];
            } while (nvar > 0);
            if (VmIsNil(ra))
                pc++;
            else
                FOLLOW();
            NEXT();
        }
        op_OP_TFORPREP:
            if (ra->tt == VM_TTABLE) {
                ra[1] = *ra;
                *ra = *VmTableGetStr(VmTabValue(&L->globals), L->g->nextName);
            }
            pc += VmArgSBx(i);
            NEXT();
        op_OP_SETLIST:
        op_OP_SETLISTO: {
            if (ra->tt != VM_TTABLE) {
                SAVEPC();
                RaiseBadOperand(L, cl->proto, pc - 1 - code, "stores into", ra);
            }
            VmTable* t = VmTabValue(ra);
            uint32_t bx = VmArgBx(i);
            SAVEPC();
            int64_t n;
            if (VmOp(i) == OP_SETLIST) {
                n = (bx & (VM_FIELDS_PER_FLUSH - 1)) + 1;
            } else {
                n = L->top - ra - 1;
                L->top = L->ci->top;
            }
            int64_t first = bx & ~static_cast<uint32_t>(VM_FIELDS_PER_FLUSH - 1);
            for (; n > 0; n--)
                *VmTableSetNum(L, t, first + n) = ra[n];
            NEXT();
        }
        op_OP_CLOSE:
            VmCloseUpvalues(L, ra);
            NEXT();
        op_OP_CLOSURE: {
            VmProto* p = cl->proto->p[VmArgBx(i)];
            SAVEPC();
            VmClosure* ncl = VmNewScriptClosure(L, p, &cl->env);
            for (int j = 0; j < p->nups; j++, pc++) {
                if (VmOp(*pc) == OP_GETUPVAL)
                    VmScriptUpvalues(ncl)[j] = VmScriptUpvalues(cl)[VmArgB(*pc)];
                else
                    VmScriptUpvalues(ncl)[j] = VmFindUpvalue(L, base + VmArgB(*pc));
            }
            VmSetFunction(ra, ncl);
            PROTECT(VmCheckGC(L));
            NEXT();
        }
        op_OP_SELF: {
            const VmValue* key = RKC(i);
            if (key->tt != VM_TSTRING) {
                SAVEPC();
                RaiseBadOperand(L, cl->proto, pc - 1 - code, "looks up a method by", key);
            }
            VmValue obj = *RB(i);
            ra[1] = obj;
            if (obj.tt == VM_TTABLE) {
                const VmValue* v = StringField(cl, VmTabValue(&obj), key, VmArgC(i));
                if (!VmIsNil(v)) {
                    *ra = *v;
                    NEXT();
                }
            }
            bool absent;
            VmValue v;
            PROTECT(v = VmGetTableValue(L, &obj, key, &absent));
            *RA(i) = v;
            NEXT();
        }
op_none:
    NEXT();
#undef NEXT
}
