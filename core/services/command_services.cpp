// Command services: runtime switches and their handler lists, the library
// registry, the hook list and the clean-up of the program-wide lists.
// All lists are singly linked, appended at the tail and walked from the
// head, so handlers and hooks run in the order they were added.
#include "core/services/command_services.h"

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/services/error_report.h"
#include "core/services/list_walks.h"
#include "core/services/object_registry.h"
#include "core/vm/error_hooks.h"
#include "display/events.h"
#include "platform/posix/os_memory.h"

#include <cstring>

CoreTagState CoreTags = {0, 0, 0, 1, 0};
LibraryNode* LibraryList = nullptr;
HookRecord* HookList = nullptr;

namespace {

struct SetTagNode {
    SetTagNode* next;
    SetTagHandler handler;
};

struct GetTagNode {
    GetTagNode* next;
    GetTagHandler handler;
};

SetTagNode* setTagHandlers = nullptr;
GetTagNode* getTagHandlers = nullptr;

// Appends `node` to the singly linked list starting at `head`; every list
// of this file has its link as the first field.
template <typename Node>
void AppendNode(Node*& head, Node* node)
{
    Node** link = &head;
    while (*link)
        link = &(*link)->next;
    *link = node;
}

template <typename Node>
void FreeNodes(Node*& head)
{
    Node* node = head;
    head = nullptr;
    while (node) {
        Node* next = node->next;
        OsFreeMem(node);
        node = next;
    }
}

bool SetCoreTag(uint32_t tag, intptr_t value)
{
    switch (tag) {
    case TAG_QUIET: CoreTags.quietFlag = static_cast<uint32_t>(value); return true;
    case TAG_PIXELSWITCH: CoreTags.tag5Flag = static_cast<uint32_t>(value); return true;
    case TAG_ERRORHANDLERNESTING:
        // Unbalanced lowering is kept as it is: the error report only asks
        // whether the count is zero.
        CoreTags.errorHandlerNesting += value ? 1 : -1;
        return true;
    case TAG_EXITONERROR: CoreTags.exitOnError = static_cast<uint32_t>(value); return true;
    case TAG_SCRIPTRUNNING: CoreTags.scriptRunning = static_cast<uint32_t>(value); return true;
    default: return false;
    }
}

bool GetCoreTag(uint32_t tag, void* pointer)
{
    uint32_t value;
    switch (tag) {
    case TAG_QUIET: value = CoreTags.quietFlag; break;
    case TAG_PIXELSWITCH: value = CoreTags.tag5Flag; break;
    case TAG_ERRORHANDLERNESTING: value = static_cast<uint32_t>(CoreTags.errorHandlerNesting); break;
    case TAG_EXITONERROR: value = CoreTags.exitOnError; break;
    default: return false;
    }
    if (pointer)
        std::memcpy(pointer, &value, sizeof value);
    return true;
}

} // namespace

uint32_t SetTagList(void* context, const TagItem* tags)
{
    uint32_t handled = 0;
    for (; tags && tags->tag != TAG_END; ++tags) {
        if (SetCoreTag(tags->tag, tags->value)) {
            ++handled;
            continue;
        }
        for (SetTagNode* node = setTagHandlers; node; node = node->next) {
            if (node->handler(context, tags->tag, tags->value)) {
                ++handled;
                break;
            }
        }
    }
    return handled;
}

uint32_t GetTagList(void* context, const TagItem* tags)
{
    uint32_t handled = 0;
    for (; tags && tags->tag != TAG_END; ++tags) {
        void* pointer = reinterpret_cast<void*>(tags->value);
        if (GetCoreTag(tags->tag, pointer)) {
            ++handled;
            continue;
        }
        for (GetTagNode* node = getTagHandlers; node; node = node->next) {
            if (node->handler(context, tags->tag, pointer)) {
                ++handled;
                break;
            }
        }
    }
    return handled;
}

uint32_t SetTags(void* context, std::initializer_list<TagItem> tags)
{
    uint32_t handled = 0;
    for (const TagItem& item : tags) {
        if (item.tag == TAG_END)
            break;
        const TagItem one[2] = {item, {TAG_END, 0}};
        handled += SetTagList(context, one);
    }
    return handled;
}

uint32_t GetTags(void* context, std::initializer_list<TagItem> tags)
{
    uint32_t handled = 0;
    for (const TagItem& item : tags) {
        if (item.tag == TAG_END)
            break;
        const TagItem one[2] = {item, {TAG_END, 0}};
        handled += GetTagList(context, one);
    }
    return handled;
}

uint32_t AddSetTagHandler(SetTagHandler handler)
{
    auto* node = static_cast<SetTagNode*>(OsAllocMem(sizeof(SetTagNode), 1));
    if (!node)
        return ERR_MEM;
    node->handler = handler;
    AppendNode(setTagHandlers, node);
    return 0;
}

uint32_t AddGetTagHandler(GetTagHandler handler)
{
    auto* node = static_cast<GetTagNode*>(OsAllocMem(sizeof(GetTagNode), 1));
    if (!node)
        return ERR_MEM;
    node->handler = handler;
    AppendNode(getTagHandlers, node);
    return 0;
}

uint32_t RegisterLibrary(const CommandTableEntry* commands, const char* name)
{
    auto* node = static_cast<LibraryNode*>(OsAllocMem(sizeof(LibraryNode), 1));
    if (!node)
        return ERR_MEM;
    node->commands = commands;
    if (name) {
        size_t length = std::strlen(name);
        if (length >= sizeof node->name)
            length = sizeof node->name - 1;
        std::memcpy(node->name, name, length);
    }
    AppendNode(LibraryList, node);
    return 0;
}

HookRecord* AddHook(uint32_t kind, void* func, void* userData, uint32_t foreign)
{
    if (kind > HOOK_ARGUMENT)
        return nullptr;
    auto* record = static_cast<HookRecord*>(OsAllocMem(sizeof(HookRecord), 1));
    if (!record)
        return nullptr;
    record->kind = kind;
    record->foreign = foreign;
    record->userData = userData;
    switch (kind) {
    case HOOK_POLL: record->pollFunc = reinterpret_cast<HookPollFunc>(func); break;
    case HOOK_VMSTATE: record->stateFunc = reinterpret_cast<HookStateFunc>(func); break;
    default: record->argFunc = reinterpret_cast<HookArgFunc>(func); break;
    }
    AppendNode(HookList, record);
    // A VM-state hook runs on every line: the line hook must look again.
    VmRaisePumpDue();
    return record;
}

void SetHookDisabled(HookRecord* record, uint32_t flag)
{
    for (HookRecord* r = HookList; r; r = r->next) {
        if (r == record) {
            r->disabled = flag;
            VmRaisePumpDue();
            return;
        }
    }
}

void RemoveHook(HookRecord* record)
{
    for (HookRecord** link = &HookList; *link; link = &(*link)->next) {
        if (*link == record) {
            *link = record->next;
            FreeListRecord(record);
            return;
        }
    }
}

namespace {

HookRecord* NextHook(HookRecord* r) { return r->next; }

// Only the first poll hook runs, until it reports or is removed. A foreign
// one would answer 0 for ever through the stub, so it counts as having
// reported nothing.
int RunPollHook()
{
    HookRecord* r = HookList;
    while (r && (r->disabled || r->kind != HOOK_POLL))
        r = r->next;
    if (!r || r->foreign || !r->pollFunc)
        return 0;
    ListWalk walk;
    if (walk.Take(r))
        return 0;
    int result = 0;
    while (walk.Live(0) && (result = r->pollFunc(r->userData)) == 0) {
    }
    return result == -1 ? 0 : result;
}

}  // namespace

int RunHooks(VmState* vm, uint32_t kind, void* arg)
{
    if (kind == HOOK_POLL)
        return RunPollHook();
    if (kind != HOOK_VMSTATE && kind != HOOK_ARGUMENT)
        return 0;
    int answer = 0;
    uint32_t error = WalkList(HookList, NextHook, [&](HookRecord* r) -> uint32_t {
        if (r->disabled || r->kind != kind || r->foreign)
            return 0;
        if (kind == HOOK_VMSTATE && r->stateFunc)
            answer = r->stateFunc(vm, r->userData);
        else if (kind == HOOK_ARGUMENT && r->argFunc)
            r->argFunc(arg, r->userData);
        return answer != 0;
    });
    return answer ? answer : static_cast<int>(error);
}

bool HasHooks(uint32_t kind)
{
    for (HookRecord* r = HookList; r; r = r->next) {
        if (!r->disabled && r->kind == kind)
            return true;
    }
    return false;
}

uint32_t InitCoreServices()
{
    if (!errorScriptName) {
        errorScriptName = static_cast<char*>(OsAllocMem(ERROR_TEXT_SIZE, 1));
        if (!errorScriptName)
            return ERR_MEM;
    }
    std::strcpy(errorScriptName, "?");
    InstallErrorReportHooks();
    return 0;
}

void FreeCoreLists(VmState* vm)
{
    (void)vm;
    FreeNodes(setTagHandlers);
    FreeNodes(getTagHandlers);
    FreeNodes(LibraryList);
    FreeUserErrorCodes();
    FreeObjectTypeRegistry();
    while (HookRecord* hook = HookList) {
        HookList = hook->next;
        FreeListRecord(hook);
    }
    FreeEventQueue();
    OsFreeMem(errorScriptName);
    errorScriptName = nullptr;
}
