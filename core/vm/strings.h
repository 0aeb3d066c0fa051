// Interned strings and the coercions between numbers and strings. Equal
// byte sequences are one object, so string equality is pointer equality and
// every string carries its hash.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/vm/value.h"

uint32_t VmHashBytes(const char* bytes, size_t length);
VmString* VmNewString(VmState* state, const char* bytes, size_t length);
VmString* VmNewCString(VmState* state, const char* text);
// The same with the hash of the bytes already known (VmHashBytes), so that
// its slot can be fetched ahead (VmPrefetchStringSlot) while other work
// goes on.
VmString* VmNewStringHashed(VmState* state, const char* bytes, size_t length, uint32_t hash);
void VmPrefetchStringSlot(VmState* state, uint32_t hash);
void VmResizeStringTable(VmState* state, uint64_t newSize);
// The collector's sweep of the strings: frees those neither reached nor
// fixed, clears the reached bit of the others.
void VmSweepStrings(VmState* state);
// Closing: empties the table, freeing the strings unless freeStrings is
// false (the pool then takes them back in bulk).
void VmClearStringTable(VmState* state, bool freeStrings);
// A string built in place: VmAllocString gives an unlinked string object of
// the length to fill; VmInternFresh then answers the interned string of its
// bytes (the fresh object itself, or an equal one, freeing the fresh one).
// Nothing else may be interned between the two.
VmString* VmAllocString(VmState* state, size_t length);
// Room in the table for one more string (as VmAllocString makes it).
void VmReserveStringSlot(VmState* state);
VmString* VmInternFresh(VmState* state, VmString* fresh);
// The string block of the public API (vm.h) behind its bytes.
inline VmString* VmStringOfBytes(char* bytes)
{
    return reinterpret_cast<VmString*>(bytes - VM_STRING_HEADER);
}

// Whole-string number syntax: "$" or "0x" and hexadecimal digits (an
// unsigned 32-bit value), or a decimal floating-point number; surrounding
// white space allowed. Independent of the locale.
bool VmStrToNumber(const char* text, size_t length, double* result);
// Numeric coercion: numbers, nil (0) and numeric strings.
bool VmToNumber(const VmValue* o, double* result);
// Number to its "%.14g" text; returns the length written (out holds 32).
int VmFormatNumber(char* out, double n);
// String coercion in place: numbers print with "%.14g", nil becomes "".
// Returns false for every other type.
bool VmToStringInPlace(VmState* state, VmValue* o);
// Scratch buffer of at least n bytes.
char* VmScratchBuffer(VmState* state, size_t n);
