// The native interface of the script VM: the stack-based API through which
// command handlers, the library glue, the runtime services and the plugin
// host read arguments, build results and call script functions. Values never
// leave the VM; natives address them by stack index:
//   1..n         the running native's arguments, counted from its frame base
//   -1..-n       counted from the top (-1 is the top value)
//   -10000       the registry, -10001 the globals table,
//   -10001 - i   upvalue i of the running native closure.
// A native handler returns how many results it pushed (0-999), an error code
// (1000 and above), or one of the two Gosub requests.
#pragma once

#include <cstddef>
#include <cstdint>

struct VmState;

using VmNativeFunction = uint32_t (*)(VmState* state);

// Type tags of VmValue.
enum VmType : int32_t {
    VM_TNONE = -1,
    VM_TNIL = 0,
    VM_TBOOLEAN = 1,
    VM_TLIGHTUSERDATA = 2,
    VM_TNUMBER = 3,
    VM_TSTRING = 4,
    VM_TTABLE = 5,
    VM_TFUNCTION = 6,
    VM_TUSERDATA = 7,
    VM_TTHREAD = 8,
};

constexpr int VM_REGISTRYINDEX = -10000;
constexpr int VM_GLOBALSINDEX = -10001;
constexpr int VmUpvalueIndex(int n) { return VM_GLOBALSINDEX - n; }

// nresults of VmCall/VmPCall: keep every result.
constexpr int VM_MULTRET = -1;

// The native result protocol.
constexpr uint32_t VM_MAX_RESULTS = 999;
constexpr uint32_t VM_GOSUB_AFTER = 0xFFFFFFFFu;   // come back after the call
constexpr uint32_t VM_GOSUB_BEFORE = 0xFFFFFFFEu;  // come back to run the call again
inline bool VmIsErrorResult(uint32_t r) { return r > VM_MAX_RESULTS && r < VM_GOSUB_BEFORE; }

// Debug record handed to hooks and filled by the debug interface.
struct VmDebugRecord {
    int32_t event;            // 0 call, 1 return, 2 line, 3 count, 4 return of a lost tail call
    const char* name;
    const char* nameWhat;     // "global", "local", "method", "field" or ""
    const char* what;         // "Quillmere", "main", "C", "tail"
    const char* source;
    int32_t currentLine;
    int32_t nups;
    int32_t lineDefined;
    char shortSource[60];
    int32_t callIndex;        // index of the call record, 0 for a lost tail call
};

enum VmHookEvent : int32_t {
    VM_HOOKCALL = 0,
    VM_HOOKRET = 1,
    VM_HOOKLINE = 2,
    VM_HOOKCOUNT = 3,
    VM_HOOKTAILRET = 4,
};
enum VmHookMask : uint8_t {
    VM_MASKCALL = 1,
    VM_MASKRET = 2,
    VM_MASKLINE = 4,
    VM_MASKCOUNT = 8,
};

// A hook stores a non-zero code through `code` to make the VM throw it.
using VmHookFunction = void (*)(VmState* state, VmDebugRecord* record, uint32_t* code);

// Chunk input: returns the next block of input and its size; null or size 0
// ends the input.
using VmReader = const char* (*)(VmState* state, void* data, size_t* size);
// Chunk output: returns 0 on success.
using VmWriter = int (*)(VmState* state, const void* bytes, size_t size, void* data);

// --- State -----------------------------------------------------------------
VmState* VmOpenState();
void VmCloseState(VmState* state);

// --- Stack manipulation ----------------------------------------------------
int VmGetTop(VmState* state);
void VmSetTop(VmState* state, int index);
void VmRemove(VmState* state, int index);
void VmInsert(VmState* state, int index);
void VmReplace(VmState* state, int index);
void VmPushValue(VmState* state, int index);
int VmCheckStack(VmState* state, int n);
inline void VmPop(VmState* state, int n) { VmSetTop(state, -n - 1); }

// --- Queries (never raise for a wrong type) --------------------------------
int VmType(VmState* state, int index);
const char* VmTypeName(VmState* state, int tag);
int VmIsNativeFunction(VmState* state, int index);
int VmIsNumber(VmState* state, int index);
int VmIsString(VmState* state, int index);
int VmIsUserdata(VmState* state, int index);
int VmCompareRawEqual(VmState* state, int index1, int index2);
int VmCompareEqual(VmState* state, int index1, int index2);
// mode 1 compares strings byte-wise, 0 without regard to case.
int VmCompareLess(VmState* state, int index1, int index2, int mode);
double VmGetNumber(VmState* state, int index);
int VmGetBoolean(VmState* state, int index);
const char* VmGetString(VmState* state, int index);
size_t VmGetStringLength(VmState* state, int index);
VmNativeFunction VmGetNativeFunction(VmState* state, int index);
void* VmGetUserdata(VmState* state, int index);
VmState* VmGetThread(VmState* state, int index);
const void* VmGetPointer(VmState* state, int index);

// --- Pushing ---------------------------------------------------------------
void VmPushNil(VmState* state);
void VmPushNumber(VmState* state, double n);
void VmPushBoolean(VmState* state, int b);
void VmPushLightUserdata(VmState* state, void* p);
void VmPushLString(VmState* state, const char* bytes, size_t length);
void VmPushCString(VmState* state, const char* text);
void VmPushString(VmState* state, const char* text);
// A large string filled in place, so that its bytes are never copied (a
// downloaded body): VmNewStringBlock gives room for `capacity` bytes,
// VmResizeStringBlock changes the room keeping the bytes (both answer null
// when there is no memory, the old block then left as it was), and
// VmPushStringBlock takes the block back and pushes the string of its first
// `length` bytes. VmFreeStringBlock drops a block that is not pushed.
char* VmNewStringBlock(VmState* state, size_t capacity);
char* VmResizeStringBlock(VmState* state, char* bytes, size_t oldCapacity, size_t newCapacity);
void VmPushStringBlock(VmState* state, char* bytes, size_t capacity, size_t length);
void VmFreeStringBlock(VmState* state, char* bytes, size_t capacity);
void VmPushNativeClosure(VmState* state, VmNativeFunction function, int n);
inline void VmPushNativeFunction(VmState* state, VmNativeFunction function) { VmPushNativeClosure(state, function, 0); }
void VmNewTable(VmState* state);
void VmNewTableNoGC(VmState* state);
void VmNewTableSized(VmState* state, int arraySize, int hashLog);
void* VmNewUserdata(VmState* state, size_t size);
void VmConcat(VmState* state, int n);
int VmPushUpvalues(VmState* state);

// --- Tables and metatables -------------------------------------------------
void VmGetTable(VmState* state, int index);
void VmRawGet(VmState* state, int index);
void VmRawGetI(VmState* state, int index, int n);
// The items of the table at index, read raw from key 0 up to the first nil
// (or, with stopAtEmpty, the first empty string), at most INT32_MAX.
int32_t VmCountItems(VmState* state, int index, bool stopAtEmpty);
// Items first..last of the table at index, read raw, joined with sep
// between them and pushed as one string: strings as they are, numbers in
// their "%.14g" text. Answers 0, or ERR_STRINGEXPECTED (nothing pushed) when
// an item is neither.
uint32_t VmJoinItems(VmState* state, int index, const char* sep, size_t sepLength, int32_t first, int32_t last);
void VmSetTable(VmState* state, int index);
void VmRawSet(VmState* state, int index);
void VmRawSetI(VmState* state, int index, int n);
int VmGetMetatable(VmState* state, int index);
int VmSetMetatable(VmState* state, int index);
void VmGetFunctionEnv(VmState* state, int index);
int VmSetFunctionEnv(VmState* state, int index);
int VmNext(VmState* state, int index);
const char* VmGetUpvalue(VmState* state, int index, int n);
const char* VmSetUpvalue(VmState* state, int index, int n);

// --- Calls, loading, errors and GC -----------------------------------------
// Calls the function below the nargs arguments; returns the error code a
// native callee reported (not thrown), 0 when none.
uint32_t VmCall(VmState* state, int nargs, int nresults);
// As VmCall under protection: 0, or the code that unwound the call; after an
// error the stack top is the function's slot.
uint32_t VmPCall(VmState* state, int nargs, int nresults, int errorFunction);
uint32_t VmLoad(VmState* state, VmReader reader, void* data, const char* chunkName);
uint32_t VmDump(VmState* state, int index, VmWriter writer, void* data);
// Records where the error happened and unwinds to the innermost protected
// call; never returns.
[[noreturn]] void VmRaiseError(VmState* state, uint32_t code);
void VmSetHook(VmState* state, VmHookFunction hook, int mask, int count);
// The runtime's event check, apart from the debug hook: called like a line
// hook, but only at the first new source line (or backward jump, or
// function entry) after VmPumpDue was raised; null removes it.
void VmSetEventHook(VmState* state, VmHookFunction hook);

// --- Debug interface ----------------------------------------------------------
// Level 0 is the running function, 1 its caller, ...; every tail call lost
// by a script level counts as a level of its own. Answers 1 with the
// record's call index set, 0 when there is no such level.
int VmGetStack(VmState* state, int level, VmDebugRecord* record);
// Fills the record for its level by option letters: 'S' source, short
// source, kind and line defined; 'l' current line; 'u' upvalue count; 'n'
// name and kind of name; 'f' pushes the function. A leading '>' takes the
// function from the top of the stack instead (popped). Answers 0 when a
// letter is unknown.
int VmGetInfo(VmState* state, const char* options, VmDebugRecord* record);
uint32_t VmGetGCThreshold(VmState* state);
uint32_t VmGetGCCount(VmState* state);
void VmSetGCThreshold(VmState* state, uint32_t kilobytes);
