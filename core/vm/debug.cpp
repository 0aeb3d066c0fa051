// The debug interface: call levels (lost tail calls count as levels of
// their own), the information about each level, and the names of functions
// and variables that error messages and the call trace print. Names come from
// the code itself: a register is a local when a local record covers it,
// otherwise the instruction that last set it tells where its value came from.
#include "core/vm/debug.h"

#include <cstdio>
#include <cstring>

#include "core/io/error_codes.h"
#include "core/vm/calls.h"
#include "core/vm/chunk.h"
#include "core/vm/error_hooks.h"
#include "core/vm/opcodes.h"
#include "core/vm/state.h"
#include "core/vm/table.h"

namespace {

const VmProto* ScriptProto(const VmCallInfo* ci)
{
    if (ci->state & VM_CI_NATIVE)
        return nullptr;
    const VmValue* func = ci->base - 1;
    if (func->tt != VM_TFUNCTION || VmFuncValue(func)->isNative)
        return nullptr;
    return VmFuncValue(func)->proto;
}

// The name of a constant used as a key: its text, or "?" for anything but
// a string constant.
const char* KeyName(const VmProto* p, uint32_t rk)
{
    if (VmIsConstantRK(rk)) {
        uint32_t k = rk - VM_RK_CONST;
        if (k < static_cast<uint32_t>(p->sizeK) && VmIsStr(&p->k[k]))
            return VmSvalue(&p->k[k]);
    }
    return "?";
}

const char* GlobalNameOf(VmState* L, const VmValue* func)
{
    if (!VmIsTab(&L->globals))
        return nullptr;
    VmTable* globals = VmTabValue(&L->globals);
    VmValue pair[2];
    VmSetNil(&pair[0]);
    while (VmTableNext(L, globals, pair)) {
        if (VmIsStr(&pair[0]) && VmRawEqualValues(&pair[1], func))
            return VmSvalue(&pair[0]);
    }
    return nullptr;
}

void InfoOfTailCall(VmDebugRecord* ar)
{
    ar->name = nullptr;
    ar->nameWhat = "";
    ar->what = "tail";
    ar->lineDefined = -1;
    ar->currentLine = -1;
    ar->source = "=(tail call)";
    VmChunkId(ar->shortSource, ar->source, sizeof ar->shortSource);
    ar->nups = 0;
}

void InfoOfFunction(VmDebugRecord* ar, const VmValue* func)
{
    const VmClosure* cl = VmFuncValue(func);
    if (cl->isNative) {
        ar->source = "=[C]";
        ar->lineDefined = -1;
        ar->what = "C";
    } else {
        const VmProto* p = cl->proto;
        ar->source = p->source ? VmStringBytes(p->source) : "=?";
        ar->lineDefined = p->lineDefined;
        // The main function of a chunk is the one defined at line 0.
        ar->what = p->lineDefined == 0 ? "main" : "Quillmere";
    }
    VmChunkId(ar->shortSource, ar->source, sizeof ar->shortSource);
}

}  // namespace

int VmCurrentPc(VmState*, const VmCallInfo* ci)
{
    const VmProto* p = ScriptProto(ci);
    // The interpreter stores savedPc (the instruction after the current one)
    // before anything that can raise or call out.
    if (!p || !ci->savedPc)
        return -1;
    return static_cast<int>(ci->savedPc - p->code) - 1;
}

int VmCurrentLine(VmState* L, const VmCallInfo* ci)
{
    int pc = VmCurrentPc(L, ci);
    if (pc < 0)
        return -1;
    const VmProto* p = ScriptProto(ci);
    if (!p->lineInfo || pc >= p->sizeLineInfo)
        return 0;
    return p->lineInfo[pc];
}

const char* VmGetLocalName(const VmProto* p, int n, int pc)
{
    for (int i = 0; i < p->sizeLocVars && p->locVars[i].startPc <= pc; i++) {
        if (pc < p->locVars[i].endPc && --n == 0)
            return p->locVars[i].name ? VmStringBytes(p->locVars[i].name) : nullptr;
    }
    return nullptr;
}

const char* VmGetObjectName(VmState* L, const VmCallInfo* ci, int reg, const char** name)
{
    *name = nullptr;
    const VmProto* p = ScriptProto(ci);
    int pc = VmCurrentPc(L, ci);
    if (!p || pc < 0 || pc >= p->sizeCode)
        return nullptr;
    // A chain of moves from lower registers ends within the register count.
    for (int hops = 0; hops <= VM_MAXSTACK; hops++) {
        if ((*name = VmGetLocalName(p, reg + 1, pc)))
            return "local";
        uint32_t i;
        if (!VmSymbolicExec(p, pc, reg, &i))
            return nullptr;
        switch (VmOp(i)) {
        case OP_GETGLOBAL: {
            uint32_t k = VmArgBx(i);
            if (k >= static_cast<uint32_t>(p->sizeK) || !VmIsStr(&p->k[k]))
                return nullptr;
            *name = VmSvalue(&p->k[k]);
            return "global";
        }
        case OP_MOVE:
            if (static_cast<int>(VmArgB(i)) < static_cast<int>(VmArgA(i))) {
                reg = static_cast<int>(VmArgB(i));
                continue;
            }
            return nullptr;
        case OP_GETTABLE:
            *name = KeyName(p, VmArgC(i));
            return "field";
        case OP_SELF:
            *name = KeyName(p, VmArgC(i));
            return "method";
        default:
            return nullptr;
        }
    }
    return nullptr;
}

const char* VmGetFuncName(VmState* L, const VmCallInfo* ci, const char** name)
{
    *name = nullptr;
    if ((ScriptProto(ci) && ci->tailCalls > 0) || ci <= L->baseCi)
        return nullptr;
    const VmCallInfo* caller = ci - 1;
    const VmProto* p = ScriptProto(caller);
    int pc = VmCurrentPc(L, caller);
    if (!p || pc < 0 || pc >= p->sizeCode)
        return nullptr;
    uint32_t i = p->code[pc];
    if (VmOp(i) != OP_CALL && VmOp(i) != OP_TAILCALL)
        return nullptr;
    return VmGetObjectName(L, caller, static_cast<int>(VmArgA(i)), name);
}

int VmGetStack(VmState* L, int level, VmDebugRecord* ar)
{
    if (level < 0)
        return 0;
    VmCallInfo* ci = L->ci;
    for (; level > 0 && ci > L->baseCi; ci--) {
        level--;
        if (!(ci->state & VM_CI_NATIVE))
            level -= ci->tailCalls;
    }
    if (level > 0 || ci == L->baseCi)
        return 0;
    ar->callIndex = level < 0 ? 0 : static_cast<int32_t>(ci - L->baseCi);
    return 1;
}

int VmGetInfo(VmState* L, const char* options, VmDebugRecord* ar)
{
    VmValue func;
    const VmCallInfo* ci = nullptr;
    bool tail = false;
    if (*options == '>') {
        options++;
        if (L->top <= L->base || L->top[-1].tt != VM_TFUNCTION)
            VmRaiseError(L, ERR_FUNCEXPECTED);
        func = *--L->top;
    } else if (ar->callIndex > 0 && ar->callIndex <= L->ci - L->baseCi) {
        ci = L->baseCi + ar->callIndex;
        func = ci->base[-1];
        tail = func.tt != VM_TFUNCTION;  // (a record without a function is no level)
    } else {
        tail = true;
    }
    int status = 1;
    if (tail)
        InfoOfTailCall(ar);
    for (const char* o = options; *o; o++) {
        switch (*o) {
        case 'S':
            if (!tail)
                InfoOfFunction(ar, &func);
            break;
        case 'l':
            if (!tail)
                ar->currentLine = ci ? VmCurrentLine(L, ci) : -1;
            break;
        case 'u':
            if (!tail)
                ar->nups = VmFuncValue(&func)->nupvalues;
            break;
        case 'n':
            if (tail)
                break;
            ar->nameWhat = ci ? VmGetFuncName(L, ci, &ar->name) : nullptr;
            if (!ar->nameWhat) {
                ar->name = GlobalNameOf(L, &func);
                ar->nameWhat = ar->name ? "global" : "";
            }
            break;
        case 'f':
            break;
        default:
            status = 0;
            break;
        }
    }
    if (std::strchr(options, 'f')) {
        VmEnsureStack(L, 1);
        if (tail)
            VmSetNil(L->top);
        else
            *L->top = func;
        L->top++;
    }
    return status;
}

void VmTypeError(VmState* L, const VmValue* value, uint32_t code, const char* suffix)
{
    if (VmHooks.setErrorText) {
        const char* name = nullptr;
        const VmCallInfo* ci = L->ci;
        // Only a register of the running script function has a name.
        if (ScriptProto(ci) && value >= ci->base && value < ci->top)
            VmGetObjectName(L, ci, static_cast<int>(value - ci->base), &name);
        char text[300];
        std::snprintf(text, sizeof text, "%.250s%s", name ? name : "??", suffix);
        VmHooks.setErrorText(text);
    }
    VmRaiseError(L, code);
}
