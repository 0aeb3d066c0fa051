// Call levels for the error report, read from the VM's call records.
#include "core/call_levels.h"

#include "core/vm/debug.h"
#include "core/vm/opcodes.h"
#include "core/vm/table.h"
#include "core/vm/value.h"

namespace {

bool IsNativeRecord(const VmCallInfo* ci)
{
    return ci->state & VM_CI_NATIVE;
}

const VmProto* ProtoOf(const VmCallInfo* ci)
{
    const VmValue* func = ci->base - 1;
    if (func->tt != VM_TFUNCTION || VmFuncValue(func)->isNative)
        return nullptr;
    return VmFuncValue(func)->proto;
}

const char* ConstantString(const VmProto* p, uint32_t index)
{
    if (index >= static_cast<uint32_t>(p->sizeK) || !VmIsStr(&p->k[index]))
        return nullptr;
    return VmSvalue(&p->k[index]);
}

// The name of the n-th (from 1) local variable active at pc.
const char* LocalName(const VmProto* p, int n, int pc)
{
    for (int i = 0; i < p->sizeLocVars && p->locVars[i].startPc <= pc; ++i) {
        if (pc < p->locVars[i].endPc && --n == 0)
            return p->locVars[i].name ? VmStringBytes(p->locVars[i].name) : nullptr;
    }
    return nullptr;
}

// The instruction before pc that last wrote `reg`, read backwards through
// the code as it stands; jumps are not followed, which is enough to see how
// a called register was loaded just before the call.
bool LastWriter(const VmProto* p, int pc, uint32_t reg, uint32_t* out)
{
    for (int i = pc - 1; i >= 0; --i) {
        uint32_t ins = p->code[i];
        uint32_t op = VmOp(ins);
        if (op >= VM_NUM_OPCODES)
            continue;
        uint32_t a = VmArgA(ins);
        bool writes = VmOpTable[op].setsA && a == reg;
        if (op == OP_LOADNIL)
            writes = a <= reg && reg <= VmArgB(ins);
        if (writes) {
            *out = ins;
            return true;
        }
    }
    return false;
}

const char* RegisterName(const VmProto* p, int pc, uint32_t reg, const char** name, int depth = 0)
{
    if ((*name = LocalName(p, static_cast<int>(reg) + 1, pc)))
        return "local";
    uint32_t ins;
    if (depth > 8 || !LastWriter(p, pc, reg, &ins))
        return nullptr;
    switch (VmOp(ins)) {
    case OP_GETGLOBAL:
        *name = ConstantString(p, VmArgBx(ins));
        return *name ? "global" : nullptr;
    case OP_MOVE:
        if (VmArgB(ins) < VmArgA(ins))
            return RegisterName(p, pc, VmArgB(ins), name, depth + 1);
        return nullptr;
    case OP_GETTABLE:
    case OP_SELF: {
        uint32_t key = VmArgC(ins);
        *name = VmIsConstantRK(key) ? ConstantString(p, key - VM_RK_CONST) : nullptr;
        if (!*name)
            *name = "?";
        return VmOp(ins) == OP_GETTABLE ? "field" : "method";
    }
    default:
        return nullptr;
    }
}

// How the function of `ci` was called, from its caller's instruction.
const char* CalledName(VmState* vm, VmCallInfo* ci, const char** name)
{
    *name = nullptr;
    if ((!IsNativeRecord(ci) && ci->tailCalls > 0) || ci - 1 < vm->baseCi || IsNativeRecord(ci - 1))
        return nullptr;
    VmCallInfo* caller = ci - 1;
    const VmProto* p = ProtoOf(caller);
    int pc = VmCurrentPc(vm, caller);
    if (!p || pc < 0 || pc >= p->sizeCode)
        return nullptr;
    uint32_t ins = p->code[pc];
    if (VmOp(ins) != OP_CALL && VmOp(ins) != OP_TAILCALL)
        return nullptr;
    return RegisterName(p, pc, VmArgA(ins), name);
}

const char* GlobalNameOf(VmState* vm, const VmValue* func)
{
    if (!VmIsTab(&vm->globals))
        return nullptr;
    VmTable* globals = VmTabValue(&vm->globals);
    VmValue pair[2];
    VmSetNil(&pair[0]);
    while (VmTableNext(vm, globals, pair))
        if (VmIsStr(&pair[0]) && VmRawEqualValues(&pair[1], func))
            return VmSvalue(&pair[0]);
    return nullptr;
}

} // namespace

bool GetCallLevel(VmState* vm, int level, CallLevel* out)
{
    if (level < 0)
        return false;
    VmCallInfo* ci = vm->ci;
    for (; level > 0 && ci > vm->baseCi; --ci) {
        --level;
        if (!IsNativeRecord(ci))
            level -= ci->tailCalls;
    }
    if (level > 0 || ci == vm->baseCi)
        return false;
    if (level < 0) {
        *out = {"tail", "=(tail call)", nullptr, "", -1};
        return true;
    }
    const VmValue* func = ci->base - 1;
    const VmProto* p = ProtoOf(ci);
    if (!p) {
        *out = {"C", "=[C]", nullptr, "", -1};
    } else {
        out->what = p->lineDefined == 0 ? "main" : "Quillmere";
        out->source = p->source ? VmStringBytes(p->source) : "=?";
        out->currentLine = VmCurrentLine(vm, ci);
    }
    out->nameWhat = CalledName(vm, ci, &out->name);
    if (!out->nameWhat) {
        out->name = func->tt == VM_TFUNCTION ? GlobalNameOf(vm, func) : nullptr;
        out->nameWhat = out->name ? "global" : "";
    }
    return true;
}
