// Library glue: what every library does on top of the native interface to
// become part of the script language - command tables registered as global
// functions under lower-cased names, constant tables in the registry,
// argument readers that raise the standard "expected" errors, registry
// entries by name, labels, named userdata metatables, a string builder,
// table sizes, and the references through which native code keeps script
// values alive.
#pragma once

#include <cstdint>

#include "core/vm/vm.h"

// A command table ends with a null name; an entry with a null function is
// skipped.
struct CommandTableEntry {
    const char* name;
    VmNativeFunction function;
};

// A constant is a string when `text` is non-null, else the number. A table
// ends with a null name.
struct ConstantTableEntry {
    const char* name;
    const char* text;
    double number;
};

// With a name, the commands go into the global table of that name (created
// when nil); without, into the table just below the n upvalues on the
// stack. Each function is stored under its lower-cased name as a native
// closure sharing copies of the n upvalues; the upvalues (and that table)
// are popped. Answers 1, or 0 when the list holds no function at all.
int VmRegisterLibrary(VmState* state, const char* libraryName, const CommandTableEntry* entries, int nup);

// Fills registry "constants" (userFlag 0) or "userconstants" (non-zero),
// creating it when absent, under lower-cased names.
void VmRegisterConstants(VmState* state, const ConstantTableEntry* entries, int userFlag);

// Looks a name up (without regard to case) in the registry table of that
// name: 1 with the number (outText null) or the text, 0 when absent.
int VmLookupConstantTable(VmState* state, const char* tableName, const char* name, double* outNumber,
                          const char** outText);
// "constants" first, then "userconstants".
int VmFindConstant(VmState* state, const char* name, double* outNumber, const char** outText);

// References: VmRefValue pops the top value and answers a number under which
// table t keeps it (-1 for nil, nothing stored); VmUnrefValue gives the
// number back for reuse. Slots 1 and 2 of t are the free list and reserved,
// so references start at 3.
constexpr int32_t VM_NOREF = -1;
int32_t VmRefValue(VmState* state, int t);
void VmUnrefValue(VmState* state, int t, int32_t ref);
// Pushes the value kept under ref (nil for VM_NOREF).
void VmPushRef(VmState* state, int t, int32_t ref);

// Argument readers. Each raises the "expected" error of its kind with the
// argument index as the message's number. No value (an index beyond the
// arguments) takes the default in the Opt forms; an explicit nil does not.
double VmCheckNumber(VmState* state, int index);
int32_t VmCheckInteger(VmState* state, int index);  // truncated, low 32 bits
const char* VmCheckString(VmState* state, int index, size_t* outLength);
int VmCheckTable(VmState* state, int index);
int VmCheckFunction(VmState* state, int index);
double VmOptNumber(VmState* state, int index, double fallback);
int32_t VmOptInteger(VmState* state, int index, int32_t fallback);
const char* VmOptString(VmState* state, int index, const char* fallback, size_t* outLength);
// Full or light userdata: its memory.
void* VmCheckUserdata(VmState* state, int index);
// Exactly the tag; the error follows the wanted tag.
int VmCheckType(VmState* state, int index, int tag);
// A table field already pushed at index; the errors name the field.
double VmCheckTableFieldNumber(VmState* state, int index, const char* field);
int32_t VmCheckTableFieldInteger(VmState* state, int index, const char* field);
const char* VmCheckTableFieldString(VmState* state, int index, size_t* outLength, const char* field);
// For results of script callbacks: never raise, answer a code instead
// (ERR_NUMCALLBACK, ERR_STRCALLBACK; 0 when the value converts).
double VmToNumberOrCode(VmState* state, int index, uint32_t* outCode);
const char* VmToStringOrCode(VmState* state, int index, uint32_t* outCode);

// Registry entries by name. A string answered stays alive while the
// registry holds it.
void* VmGetRegistryPointer(VmState* state, const char* name);
const char* VmGetRegistryString(VmState* state, const char* name);
double VmGetRegistryNumber(VmState* state, const char* name);
void VmSetRegistryPointer(VmState* state, const char* name, void* pointer);
void VmSetRegistryString(VmState* state, const char* name, const char* text);

// The instruction index of a label (without regard to case), -1 when there
// is none.
int32_t VmFindLabel(VmState* state, const char* name);
// Index of the first entry of a null-terminated list equal to text, -1.
int VmFindString(const char* text, const char* const* list);

// Userdata types by name: the metatable kept as registry[name].
// VmNewNamedMetatable pushes it and answers 0 when it existed, 1 when made.
int VmNewNamedMetatable(VmState* state, const char* name);
void VmGetNamedMetatable(VmState* state, const char* name);
// The userdata's memory when its metatable is registry[name], else null.
void* VmCheckNamedUserdata(VmState* state, int index, const char* name);

// 1 with the field of the value's metatable pushed; 0, nothing pushed.
int VmGetMetaField(VmState* state, int index, const char* field);
// 1 after calling that field with the value (one result pushed); 0.
int VmCallMetaField(VmState* state, int index, const char* field);

// String builder: pieces go to the stack as the inline buffer fills, and
// are merged so that the stack stays short and copying stays linear.
constexpr size_t VM_BUFFER_SIZE = 1024;
struct VmStringBuilder {
    char* p;          // write position in buffer
    int pieces;       // pieces already pushed on the stack
    VmState* state;
    char buffer[VM_BUFFER_SIZE];
};
void VmBufferInit(VmState* state, VmStringBuilder* builder);
// Flushes the inline buffer and answers its free area (VM_BUFFER_SIZE bytes).
char* VmBufferPrepare(VmStringBuilder* builder);
// After writing n bytes into the area VmBufferPrepare answered.
inline void VmBufferAddSize(VmStringBuilder* builder, size_t n) { builder->p += n; }
void VmBufferAddBytes(VmStringBuilder* builder, const char* bytes, size_t n);
void VmBufferAddString(VmStringBuilder* builder, const char* text);
// Appends the string (or number) on top of the stack and pops it.
void VmBufferAddValue(VmStringBuilder* builder);
// Leaves the whole text as one string on the stack.
void VmBufferPushResult(VmStringBuilder* builder);

// Table sizes: field "n" when it converts to a number (a missing "n" is 0);
// otherwise the registry's weak-keyed sizes table, or the count of t[1],
// t[2], ... up to the first nil.
void VmGetSizesTable(VmState* state);
int32_t VmGetTableSize(VmState* state, int t);
void VmSetTableSize(VmState* state, int t, int32_t n);
