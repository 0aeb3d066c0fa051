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
// its bucket can be fetched ahead (VmPrefetchStringBucket) while other
// work goes on.
VmString* VmNewStringHashed(VmState* state, const char* bytes, size_t length, uint32_t hash);
void VmPrefetchStringBucket(VmState* state, uint32_t hash);
// Then the first string of the bucket's chain.
void VmPrefetchStringChain(VmState* state, uint32_t hash);
void VmResizeStringTable(VmState* state, uint64_t newSize);
// A string built in place: VmAllocString gives an unlinked string object of
// the length to fill; VmInternFresh then answers the interned string of its
// bytes (the fresh object itself, or an equal one, freeing the fresh one).
VmString* VmAllocString(VmState* state, size_t length);
VmString* VmInternFresh(VmState* state, VmString* fresh);

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
