// Library glue: what every library does on top of the native interface to
// become part of the script language - command tables registered as global
// functions under lower-cased names, constant tables in the registry, and
// the references through which native code keeps script values alive.
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
