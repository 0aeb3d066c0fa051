// Command hooks of plugins.
#include "core/plugins/command_hooks.h"

#include "core/services/list_walks.h"
#include "core/vm/error_hooks.h"
#include "platform/posix/os_memory.h"

namespace {

CommandHook* g_hooks = nullptr;

bool IsListed(const CommandHook* hook)
{
    for (CommandHook* h = g_hooks; h; h = h->next)
        if (h == hook)
            return true;
    return false;
}

void FreeHook(CommandHook* hook)
{
    for (HookedCommand* c = hook->commands; c;) {
        HookedCommand* next = c->next;
        OsFreeMem(c);
        c = next;
    }
    FreeListRecord(hook);
}

// Makes a hook current while its call callback runs (also when the
// callback itself runs hooked commands). The hook is held as a one-record
// walk: removed meanwhile, its memory waits until the callback is off the
// stack, and it is no longer current for errors.
struct CurrentHookScope {
    explicit CurrentHookScope(CommandHook* hook) : previous(current)
    {
        hold.Take(hook);  // the first record always has room
        current = this;
    }
    ~CurrentHookScope() { current = previous; }
    CommandHook* Hook() const { return static_cast<CommandHook*>(hold.Live(0)); }

    // The scope of the hook whose call callback is running; its error
    // callback hears of errors thrown meanwhile.
    static CurrentHookScope* current;
    ListWalk hold;
    CurrentHookScope* previous;
};
CurrentHookScope* CurrentHookScope::current = nullptr;

} // namespace

CommandHook* HostAddCommandHook(void*, void* call, void* error, void* userData)
{
    auto* hook = static_cast<CommandHook*>(OsAllocMem(sizeof(CommandHook), 1));
    if (!hook)
        return nullptr;
    hook->call = reinterpret_cast<CommandHookCall>(call);
    hook->error = reinterpret_cast<CommandHookError>(error);
    hook->userData = userData;
    CommandHook** link = &g_hooks;
    while (*link)
        link = &(*link)->next;
    *link = hook;
    VmHooks.findPluginCommand = VmFindPluginCommand;
    VmHooks.callPluginErrorHook = VmCallPluginHook;
    return hook;
}

void HostRemoveCommandHook(void* hook)
{
    for (CommandHook** link = &g_hooks; *link; link = &(*link)->next) {
        if (*link == hook) {
            auto* h = static_cast<CommandHook*>(hook);
            *link = h->next;
            FreeHook(h);
            return;
        }
    }
}

int HostHookCommand(void* hook, QmNativeFunction function)
{
    auto* h = static_cast<CommandHook*>(hook);
    for (HookedCommand* c = h->commands; c; c = c->next)
        if (c->function == function)
            return 1;
    auto* node = static_cast<HookedCommand*>(OsAllocMem(sizeof(HookedCommand), 1));
    if (!node)
        return 0;
    node->function = function;
    node->next = h->commands;
    h->commands = node;
    return 1;
}

void HostSetHookErrorFunc(void* hook, void* error)
{
    static_cast<CommandHook*>(hook)->error = reinterpret_cast<CommandHookError>(error);
}

void* GetWordAt8(void* hook)
{
    return reinterpret_cast<void*>(static_cast<CommandHook*>(hook)->error);
}

void HostSetHookDisabled(void* hook, uint32_t disabled)
{
    if (IsListed(static_cast<CommandHook*>(hook)))
        static_cast<CommandHook*>(hook)->disabled = disabled;
}

int VmFindPluginCommand(VmState* vm, QmNativeFunction function, uint32_t* result)
{
    for (CommandHook* hook = g_hooks; hook; hook = hook->next) {
        if (hook->disabled || !hook->call)
            continue;
        for (HookedCommand* c = hook->commands; c; c = c->next) {
            if (c->function != function)
                continue;
            CurrentHookScope scope(hook);
            *result = hook->call(hook, vm, function, hook->userData);
            return 1;
        }
    }
    return 0;
}

int VmCallPluginHook(VmState* vm, uint32_t code)
{
    CommandHook* hook = CurrentHookScope::current ? CurrentHookScope::current->Hook() : nullptr;
    if (!hook || !hook->error)
        return 0;
    hook->error(hook, vm, code, hook->userData);
    return 1;
}

void FreeCommandHooks()
{
    while (g_hooks) {
        CommandHook* next = g_hooks->next;
        FreeHook(g_hooks);
        g_hooks = next;
    }
}
