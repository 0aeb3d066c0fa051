// Command hooks: a plugin may run script commands in place of their own
// handlers. A hook lists the native functions it takes over; before the VM
// runs a native it asks the hooks, and the first enabled hook that lists
// the function answers for it. An error thrown while a hook runs goes to
// that hook's error callback.
#pragma once

#include <cstdint>

#include "quillmere/plugin_abi.h"

struct VmState;

using CommandHookCall = uint32_t (*)(void* hook, VmState* vm, QmNativeFunction function, void* userData);
using CommandHookError = void (*)(void* hook, VmState* vm, uint32_t code, void* userData);

struct HookedCommand {
    HookedCommand* next;
    QmNativeFunction function;
};

struct CommandHook {
    CommandHook* next;
    CommandHookCall call;
    CommandHookError error;
    HookedCommand* commands;
    uint32_t disabled;
    void* userData;
};

// Appends a hook (and makes the VM ask the hooks); null when out of memory.
CommandHook* HostAddCommandHook(void* reserved, void* call, void* error, void* userData);
// Unlinks and frees a hook with its command list; hooks not in the list
// are left alone. A hook removed from inside its own call callback is
// unlinked at once and its memory kept until that callback returns or
// unwinds; its error callback no longer runs.
void HostRemoveCommandHook(void* hook);
// 1 when the function is (now) hooked, 0 when out of memory.
int HostHookCommand(void* hook, QmNativeFunction function);
void HostSetHookErrorFunc(void* hook, void* error);
void* GetWordAt8(void* hook);
void HostSetHookDisabled(void* hook, uint32_t disabled);

// The VM's questions: 1 with the command's result when a hook ran it.
int VmFindPluginCommand(VmState* vm, QmNativeFunction function, uint32_t* result);
// 1 when the current hook's error callback ran.
int VmCallPluginHook(VmState* vm, uint32_t code);

// Frees every hook left (shutdown).
void FreeCommandHooks();
