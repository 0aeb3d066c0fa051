// Calling functions (script closures and native command handlers), the
// native result protocol, hooks, and the travel of errors: every error is a
// code thrown as VmError to the innermost protected call.
#include "core/vm/calls.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "core/io/error_codes.h"
#include "core/vm/debug.h"
#include "core/vm/error_hooks.h"
#include "core/vm/interpreter.h"
#include "core/vm/memory.h"
#include "core/vm/object.h"
#include "core/vm/state.h"
#include "core/vm/strings.h"
#include "core/vm/table.h"

std::atomic<uint32_t> VmPumpDue{0};
VmAbortWord VmAbortFlag;
uint32_t VmErrorInProgress = 0;
uint32_t VmLastErrorCode = 0;
int32_t VmErrorLine = -1;
VmErrorHooks VmHooks = {};

namespace {

// Guards the plugin error callback against re-entering itself when it
// fails in turn.
bool RunningPluginErrorHook = false;

struct PluginErrorCall {
    uint32_t code;
};

void RunPluginErrorHook(VmState* L, void* data)
{
    VmHooks.callPluginErrorHook(L, static_cast<PluginErrorCall*>(data)->code);
}

// A called value that is not a function: its __call metamethod takes its
// place and the value becomes the first argument.
VmValue* TryCallMeta(VmState* L, VmValue* func)
{
    const VmValue* tm = VmGetMetaOf(L, func, TM_CALL);
    if (tm->tt != VM_TFUNCTION)
        VmTypeError(L, func, ERR_FUNCDECLA, "()");
    VmValue handler = *tm;
    ptrdiff_t funcr = VmSaveStack(L, func);
    VmEnsureStack(L, 1);
    func = VmRestoreStack(L, funcr);
    for (VmValue* p = L->top; p > func; p--)
        *p = p[-1];
    L->top++;
    *func = handler;
    return func;
}

}  // namespace

void VmAdjustVarargs(VmState* L, int fixed, VmValue* base)
{
    int64_t actual = L->top - base;
    if (actual < fixed) {
        VmEnsureStack(L, static_cast<int>(fixed - actual));
        for (; actual < fixed; actual++)
            VmSetNil(L->top++);
    }
    int64_t extra = actual - fixed;
    VmTable* t = VmNewTableObject(L, static_cast<uint64_t>(extra), 1);
    for (int64_t i = 0; i < extra; i++)
        *VmTableSetNum(L, t, i + 1) = L->top[i - extra];
    VmSetNumber(VmTableSetStr(L, t, VmNewString(L, "n", 1)), static_cast<double>(extra));
    L->top -= extra;
    VmSetTableValue(L->top, t);
    L->top++;
}

VmPreCallResult VmPreCall(VmState* L, VmValue* func)
{
    if (func->tt != VM_TFUNCTION)
        func = TryCallMeta(L, func);
    ptrdiff_t funcr = VmSaveStack(L, func);
    VmClosure* cl = VmFuncValue(func);
    if (!cl->isNative) {
        VmProto* p = cl->proto;
        if (p->isVararg) {
            VmEnsureStack(L, p->numParams + 1);
            VmAdjustVarargs(L, p->numParams, VmRestoreStack(L, funcr) + 1);
        }
        VmEnsureStack(L, p->maxStackSize);
        VmCallInfo* ci = VmNextCallInfo(L);
        L->base = ci->base = VmRestoreStack(L, funcr) + 1;
        ci->top = L->base + p->maxStackSize;
        ci->savedPc = p->code;
        ci->pc = nullptr;
        ci->tailCalls = 0;
        ci->state = VM_CI_SAVEDPC;
        while (L->top < ci->top)
            VmSetNil(L->top++);
        L->top = ci->top;
        return {VmCallOutcome::ScriptFrame, 0, nullptr};
    }

    VmEnsureStack(L, VM_MINSTACK);
    VmCallInfo* ci = VmNextCallInfo(L);
    L->base = ci->base = VmRestoreStack(L, funcr) + 1;
    ci->top = L->top + VM_MINSTACK;
    ci->state = VM_CI_NATIVE;
    ci->savedPc = nullptr;
    ci->pc = nullptr;
    ci->tailCalls = 0;
    if (L->hookMask & VM_MASKCALL)
        VmCallHook(L, VM_HOOKCALL, -1);
    if (VmHooks.traceCall)
        VmHooks.traceCall(L);
    VmNativeFunction f = cl->f;
    if (f != VmHooks.getLastErrorCommand)
        VmLastErrorCode = 0;
    uint32_t n;
    if (!VmHooks.findPluginCommand || !VmHooks.findPluginCommand(L, f, &n))
        n = f(L);
    if (VmIsErrorResult(n) && VmHooks.filterNativeError)
        n = VmHooks.filterNativeError(L, n);
    if (n <= VM_MAX_RESULTS) {
        // A native that claims more results than it pushed gets what is in
        // its frame.
        VmValue* first = L->top - n;
        if (first < L->base)
            first = L->base;
        return {VmCallOutcome::NativeResults, 0, first};
    }
    if (n >= VM_GOSUB_BEFORE) {
        // The call has no results and its record goes now: the interpreter
        // continues at the label, not at the call.
        if (L->hookMask & VM_MASKRET)
            VmCallReturnHooks(L);
        L->ci--;
        L->base = L->ci->base;
        L->top = VmRestoreStack(L, funcr);
        return {VmCallOutcome::GosubRequest, n, nullptr};
    }
    return {VmCallOutcome::NativeResults, n, L->top};
}

void VmPostCall(VmState* L, int wanted, VmValue* first)
{
    if (L->hookMask & VM_MASKRET) {
        ptrdiff_t fr = first ? VmSaveStack(L, first) : -1;
        VmCallReturnHooks(L);
        first = fr >= 0 ? VmRestoreStack(L, fr) : nullptr;
    }
    VmCallInfo* ci = L->ci--;
    VmValue* res = ci->base - 1;
    L->base = L->ci->base;
    if (!first || first < L->stack || first > L->top)
        first = L->top;
    while (wanted != 0 && first < L->top) {
        *res++ = *first++;
        wanted--;
    }
    while (wanted-- > 0)
        VmSetNil(res++);
    L->top = res;
}

uint32_t VmCallValue(VmState* L, VmValue* func, int nresults)
{
    if (++L->nCcalls >= VM_MAXCCALLS) {
        if (L->nCcalls == VM_MAXCCALLS)
            VmRaiseError(L, ERR_STACK);
        else if (L->nCcalls >= VM_MAXCCALLS_HARD)
            VmThrow(L, ERR_STACK);
    }
    if (nresults > 0) {
        // The results land from the function's slot up: make room for all
        // of them, however few the callee's frame holds.
        ptrdiff_t funcr = VmSaveStack(L, func);
        VmEnsureStack(L, nresults);
        func = VmRestoreStack(L, funcr);
    }
    VmPreCallResult r = VmPreCall(L, func);
    switch (r.outcome) {
    case VmCallOutcome::ScriptFrame:
        VmPostCall(L, nresults, VmExecute(L));
        break;
    case VmCallOutcome::NativeResults:
        VmPostCall(L, nresults, r.firstResult);
        break;
    case VmCallOutcome::GosubRequest:
        // Outside the interpreter there is no label to go to: the call just
        // has no results.
        for (; nresults > 0; nresults--) {
            VmEnsureStack(L, 1);
            VmSetNil(L->top++);
        }
        r.code = 0;
        break;
    }
    L->nCcalls--;
    VmCheckGC(L);
    return r.code;
}

namespace {

void RunHook(VmState* L, VmHookFunction hook, int event, int line)
{
    ptrdiff_t top = VmSaveStack(L, L->top);
    ptrdiff_t ciTop = VmSaveStack(L, L->ci->top);
    VmEnsureStack(L, VM_MINSTACK);
    L->ci->top = L->top + VM_MINSTACK;
    L->allowHook = 0;
    VmDebugRecord record = {};
    record.event = event;
    record.currentLine = line;
    record.callIndex = event == VM_HOOKTAILRET ? 0 : static_cast<int32_t>(L->ci - L->baseCi);
    uint32_t code = 0;
    hook(L, &record, &code);
    if (code != 0)
        VmThrow(L, code);
    L->allowHook = 1;
    L->ci->top = VmRestoreStack(L, ciTop);
    L->top = VmRestoreStack(L, top);
}

}  // namespace

void VmCallHook(VmState* L, int event, int line)
{
    if (!L->hook || !L->allowHook)
        return;
    RunHook(L, L->hook, event, line);
}

void VmCallEventHook(VmState* L, int line)
{
    if (!L->eventHook || !L->allowHook)
        return;
    // Cleared before the hook runs: whatever raises it meanwhile is seen on
    // a later line. An abort or a debug hook keeps it raised.
    VmPumpDue.store(0);
    if (VmAbortFlag.load() || (L->hookMask & (VM_MASKLINE | VM_MASKCOUNT)))
        VmRaisePumpDue();
    RunHook(L, L->eventHook, VM_HOOKLINE, line);
}

void VmCallReturnHooks(VmState* L)
{
    VmCallHook(L, VM_HOOKRET, -1);
    if (!(L->ci->state & VM_CI_NATIVE)) {
        while (L->ci->tailCalls > 0) {
            L->ci->tailCalls--;
            VmCallHook(L, VM_HOOKTAILRET, -1);
        }
    }
}

void VmSetHook(VmState* L, VmHookFunction hook, int mask, int count)
{
    if (!hook || mask == 0) {
        mask = 0;
        hook = nullptr;
    }
    L->hook = hook;
    L->baseHookCount = static_cast<uint32_t>(count);
    L->hookCount = static_cast<uint32_t>(count);
    L->hookMask = static_cast<uint8_t>(mask);
    L->hookInit = 0;
    // The interpreter looks at line and count hooks only while this is up.
    if (mask & (VM_MASKLINE | VM_MASKCOUNT))
        VmRaisePumpDue();
}

void VmSetEventHook(VmState* L, VmHookFunction hook)
{
    L->eventHook = hook;
    L->eventPc = nullptr;
    // A new hook looks at once, at the next line.
    if (hook)
        VmRaisePumpDue();
}

uint32_t VmRunProtected(VmState* L, VmProtectedFunction function, void* data)
{
    VmProtectedRecord record{L->errorJmp, 0};
    L->errorJmp = &record;
    try {
        function(L, data);
    } catch (const VmError& e) {
        record.status = e.code;
    }
    L->errorJmp = record.previous;
    return record.status;
}

uint32_t VmProtectedCall(VmState* L, VmProtectedFunction function, void* data, ptrdiff_t oldTop,
                         ptrdiff_t errorFunction)
{
    uint32_t oldCcalls = L->nCcalls;
    ptrdiff_t oldCi = L->ci - L->baseCi;
    uint8_t oldAllowHook = L->allowHook;
    ptrdiff_t oldErrfunc = L->errfunc;
    L->errfunc = errorFunction;
    uint32_t status = VmRunProtected(L, function, data);
    if (status != 0) {
        VmCloseUpvalues(L, VmRestoreStack(L, oldTop));
        L->nCcalls = oldCcalls;
        L->ci = L->baseCi + oldCi;
        L->base = L->ci->base;
        L->allowHook = oldAllowHook;
        VmRestoreStackLimit(L);
        // The error is handled: frame checks of the native interface apply
        // again.
        VmErrorInProgress = 0;
    }
    L->errfunc = oldErrfunc;
    return status;
}

void VmThrow(VmState* L, uint32_t code)
{
    VmErrorInProgress = 1;
    if (L->errorJmp) {
        if (VmHooks.callPluginErrorHook && !RunningPluginErrorHook) {
            // A plugin's command hook learns of the error, protected, and the
            // unwind goes on whatever it does.
            RunningPluginErrorHook = true;
            PluginErrorCall call{code};
            VmProtectedCall(L, RunPluginErrorHook, &call, VmSaveStack(L, L->top), L->errfunc);
            RunningPluginErrorHook = false;
            VmErrorInProgress = 1;
        }
        throw VmError{code};
    }
    if (VmHooks.panic)
        VmHooks.panic(L, code);
    else
        L->g->panic(L);
    std::exit(1);
}

void VmSetErrorDetail(uint32_t code, const char* format, ...)
{
    if (!VmHooks.setErrorDetail)
        return;
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    VmHooks.setErrorDetail(code, text);
}

void VmRaiseError(VmState* L, uint32_t code)
{
    if (VmHooks.claimErrorDetail)
        VmHooks.claimErrorDetail(code);
    VmErrorLine = (L->ci->state & VM_CI_NATIVE) ? -1 : VmCurrentLine(L, L->ci);
    if (VmHooks.findErrorFunctionName)
        VmHooks.findErrorFunctionName(L);
    VmThrow(L, code);
}
