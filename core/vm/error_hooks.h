// What the VM shares with the runtime's error services: the process-wide
// error flags, and one record of hooks through which the command services
// and the plugin host take part in calls and errors. The VM never formats a
// message: it moves codes, and may hand the facts behind one (the operand
// types, the failing instruction) as the error's detail. Every hook is optional; with a hook unset
// the VM does the least that keeps its own contract (noted per field).
#pragma once

#include <atomic>
#include <cstdint>

#include "core/vm/vm.h"

// Raised by whatever needs the interpreter's attention before its next
// instruction: an abort (below), and whatever gives the event pump work (the
// timer thread, PostEvent, the quit signals, and the pump itself while
// something must run on every line); a debug line or count hook keeps it
// raised. The interpreter reads this one word before every instruction;
// only when it is set does it look at the abort flag, the debug hooks and
// the event hook (VmSetEventHook), which runs at the next new source line.
// Clearing it is the VM's, just before it calls the event hook. So a line
// on which nothing is due costs no more than the abort check.
// Hidden: the program is one module, and its address then needs no load
// from the global offset table in position-independent code.
extern __attribute__((visibility("hidden"))) std::atomic<uint32_t> VmPumpDue;
inline void VmRaisePumpDue() { VmPumpDue.store(1); }

// An atomic word whose every non-zero store also raises VmPumpDue, so that
// the interpreter's one read sees it. Lock-free: signal handlers store it.
class VmAbortWord {
public:
    uint32_t load(std::memory_order order = std::memory_order_seq_cst) const { return value_.load(order); }
    void store(uint32_t v, std::memory_order order = std::memory_order_seq_cst)
    {
        value_.store(v, order);
        if (v)
            VmRaisePumpDue();
    }
    VmAbortWord& operator=(uint32_t v)
    {
        store(v);
        return *this;
    }
    operator uint32_t() const { return load(); }

private:
    std::atomic<uint32_t> value_{0};
};

// Set by a user abort or by an error that ends the script; the interpreter
// sees it before every instruction through VmPumpDue. Written from signal
// context as well, hence atomic.
extern VmAbortWord VmAbortFlag;
// Set by every throw; cleared when a protected call catches the error.
// While set, the native interface skips its frame-bounds checks (never the
// bounds of the allocated stack).
extern uint32_t VmErrorInProgress;
// What GetLastError answers; reset to 0 before every native call except a
// call of `VmHooks.getLastErrorCommand`.
extern uint32_t VmLastErrorCode;
// Source line of the last raised error: -1 unknown, 0 for a script function
// without line information.
extern int32_t VmErrorLine;

struct VmErrorHooks {
    // The interpreter hands every code >= 1000 that a native returned to
    // this. Unset: the code is stored as the last error and thrown
    // (exit-on-error is the runtime's default).
    void (*recordScriptError)(VmState* state, uint32_t code);
    // A native returned an error code: gives the script's error handler its
    // chance and returns the code that replaces it (0 when handled). The hook
    // decides whether a handler is installed and not already running.
    // Unset: the code stands.
    uint32_t (*filterNativeError)(VmState* state, uint32_t code);
    // Fills the error context's function name (and line) from the call stack
    // before a raised error unwinds. Unset: only VmErrorLine is set.
    void (*findErrorFunctionName)(VmState* state);
    // Stores the text that the next error message's "%s" takes.
    // Unset: the text is dropped.
    void (*setErrorText)(const char* text);
    // Stores the detail of the error about to be raised with `code`.
    // Unset: the detail is dropped.
    void (*setErrorDetail)(uint32_t code, const char* text);
    // An error of `code` is raised: a detail stored for it stays, any other
    // goes. Unset: nothing happens.
    void (*claimErrorDetail)(uint32_t code);
    // A command hooked by a plugin: returns 1 with the command's result in
    // *result when the plugin ran it instead. Unset: every native runs itself.
    int (*findPluginCommand)(VmState* state, VmNativeFunction function, uint32_t* result);
    // Runs the current plugin command hook's error callback for a throw;
    // returns 1 when one ran. The VM runs it under a protected call and then
    // unwinds all the same.
    int (*callPluginErrorHook)(VmState* state, uint32_t code);
    // Call trace: asked before every native call, inside the callee's frame
    // (its arguments are 1..VmGetTop); prints when the trace switch is on.
    void (*traceCall)(VmState* state);
    // The one native whose call does not reset VmLastErrorCode.
    VmNativeFunction getLastErrorCommand;
    // Called instead of ending the process when an error is thrown with no
    // protected call active; the process still exits with status 1.
    void (*panic)(VmState* state, uint32_t code);
};

extern VmErrorHooks VmHooks;
