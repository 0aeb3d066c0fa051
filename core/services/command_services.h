// Command services: the small program-wide services every library rests on.
//
// - The runtime switches that start-up, the libraries and the error report
//   read and write through tag lists (`SetTags`/`GetTags`), with the lists
//   of handlers through which the graphics and sound libraries answer tags
//   of their own.
// - The registry of script libraries (walked by the listings and by the
//   error report when it looks up a command's spelling).
// - The hook list through which the event pump and plugins are called.
// - The argument-count and applet-version check at the top of every command
//   handler (`CheckArgs`, in core/services/check_args.h).
// - `FreeCoreLists`, the clean-up of all program-wide lists at exit.
//
// Everything here runs on the script thread and is not locked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

struct VmState;
struct CommandTableEntry;

// ---------------------------------------------------------------------------
// Runtime switches

struct CoreTagState {
    uint32_t quietFlag;           // tag 1: no progress lines
    uint32_t tag5Flag;            // tag 5: read by the pixel engine
    int32_t errorHandlerNesting;  // tag 10: +1 / -1 around the script's error handler
    uint32_t exitOnError;         // tag 11: an error ends the script
    uint32_t scriptRunning;       // tag 22: chunk loading or script running; reports carry file and line
};

// Starts with exit-on-error set, everything else clear.
extern CoreTagState CoreTags;

// Tag numbers that the core itself answers.
enum CoreTag : uint32_t {
    TAG_END = 0,
    TAG_QUIET = 1,
    TAG_PIXELSWITCH = 5,
    TAG_ERRORHANDLERNESTING = 10,
    TAG_EXITONERROR = 11,
    TAG_SCRIPTRUNNING = 22,
};

// One tag of a list; a list ends with the tag TAG_END. Values are
// pointer-sized because handlers take pointers through them.
struct TagItem {
    uint32_t tag;
    intptr_t value;
};

// A set handler answers non-zero when it took the tag. A get handler stores
// its answer through `pointer`, whose shape the tag defines.
using SetTagHandler = int (*)(void* context, uint32_t tag, intptr_t value);
using GetTagHandler = int (*)(void* context, uint32_t tag, void* pointer);

// Applies each tag of the list; returns how many were handled (a tag that
// neither the core nor any handler takes is not counted).
uint32_t SetTagList(void* context, const TagItem* tags);

// Reads each tag of the list; `value` is the pointer to store through.
// The core's tags 1, 5, 10 and 11 store a 32-bit word; tag 22 is write-only.
uint32_t GetTagList(void* context, const TagItem* tags);

uint32_t SetTags(void* context, std::initializer_list<TagItem> tags);
uint32_t GetTags(void* context, std::initializer_list<TagItem> tags);

// Append a handler; 0 or ERR_MEM. Handlers are offered tags in the order
// they were added.
uint32_t AddSetTagHandler(SetTagHandler handler);
uint32_t AddGetTagHandler(GetTagHandler handler);

// ---------------------------------------------------------------------------
// Script libraries

struct LibraryNode {
    LibraryNode* next;
    const CommandTableEntry* commands;
    char name[64];
};

extern LibraryNode* LibraryList;

// Appends a library (its name copied, cut to 63 characters); 0 or ERR_MEM.
uint32_t RegisterLibrary(const CommandTableEntry* commands, const char* name);

// ---------------------------------------------------------------------------
// Hooks

enum HookKind : uint32_t {
    HOOK_POLL = 0,      // int f(userData), called until it answers non-zero
    HOOK_VMSTATE = 1,   // int f(vm, userData), the event pump's hook
    HOOK_ARGUMENT = 2,  // void f(arg, userData)
};

using HookPollFunc = int (*)(void* userData);
using HookStateFunc = int (*)(VmState* vm, void* userData);
using HookArgFunc = void (*)(void* arg, void* userData);

struct HookRecord {
    HookRecord* next;
    uint32_t kind;
    uint32_t foreign;  // called through the foreign-call stub, which answers 0
    void* userData;
    uint32_t disabled;
    HookPollFunc pollFunc;
    HookStateFunc stateFunc;
    HookArgFunc argFunc;
};

extern HookRecord* HookList;

// `func` is the hook function of the given kind as a plain pointer (plugins
// hand it over untyped). Null for an unknown kind or out of memory.
HookRecord* AddHook(uint32_t kind, void* func, void* userData, uint32_t foreign);

// Both leave records that are not in the list alone.
void SetHookDisabled(HookRecord* record, uint32_t flag);
void RemoveHook(HookRecord* record);

// Runs the enabled hooks of one kind in list order (see the rules in the
// implementation); answers the first non-zero result, or 0. A hook may add
// and remove hooks, itself included, while it runs.
int RunHooks(VmState* vm, uint32_t kind, void* arg);
// True when an enabled hook of that kind is in the list.
bool HasHooks(uint32_t kind);

// ---------------------------------------------------------------------------
// Start and exit

// Sets up the core's own buffers (the script-name buffer of the error
// report, holding "?") and lets the VM report errors through the error
// report; 0 or ERR_MEM.
uint32_t InitCoreServices();

// Frees, in order, the set-tag and get-tag handlers, the library list, the
// user error codes, the object-type registry and the hooks, then the queued
// events (with the event queue's lock) and the core's buffers.
void FreeCoreLists(VmState* vm);
