// Named fields of option tables. Many commands take a table of options; the
// getters leave the caller's default in place when a field is absent (nil),
// answer whether it was there (also through `found` when given), and raise
// the standard errors, with the field name as error text, when a field has
// the wrong type. The table sits at `table`, any valid stack index.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/services/object_registry.h"

struct VmState;

void SetTableInt(VmState* vm, int table, const char* key, int32_t value);
// The word as unsigned: a negative int32 becomes 2^32 + value.
void SetTableUnsigned(VmState* vm, int table, const char* key, uint32_t value);
void SetTableNumber(VmState* vm, int table, const char* key, double value);
void SetTableString(VmState* vm, int table, const char* key, const char* value);
void SetTableObjectId(VmState* vm, int table, const char* key, ObjectId value);

// Numbers (nil and numeric strings included) or ERR_NUMTABLEARG.
bool GetTableInt(VmState* vm, int table, const char* key, int32_t* out, bool* found = nullptr);
bool GetTableNumber(VmState* vm, int table, const char* key, double* out, bool* found = nullptr);
bool GetTableColor(VmState* vm, int table, const char* key, uint32_t* out, bool* found = nullptr);

// A number, or a string "N%" with N in 0..100 (above 100 when allowed),
// stored negated; a bad string raises ERR_PERCENTFORMATSTR.
bool GetTableIntOrPercent(VmState* vm, int table, const char* key, int32_t* out, bool allowAbove100,
                          bool* found = nullptr);

// As GetNumberOrPercent (core/services/arg_helpers.h) for a field: a bad string
// raises ERR_PERCENTFORMATSTR, another type ERR_NUMTABLEARG.
bool GetTableNumberOrPercent(VmState* vm, int table, const char* key, double* out, double base,
                             bool allowAbove100, bool* outIsPercent, bool* found = nullptr);

// Copies the string (numbers are converted) into out, cut to outSize - 1
// bytes; another type raises ERR_STRTABLEARG.
bool GetTableString(VmState* vm, int table, const char* key, char* out, size_t outSize,
                    bool* found = nullptr);

// A number (n, 0) or a light userdata (0, handle); else ERR_NUMTABLEARG.
bool GetTableObjectId(VmState* vm, int table, const char* key, ObjectId* out, bool* found = nullptr);

// The numbers of a list at 0, 1, ... up to the first nil, at most max of
// them (further ones are left unread); count receives how many. A field
// that is no table raises ERR_TABEXPECTED2, a non-number ERR_NUMTABLEARG.
bool GetTableNumbers(VmState* vm, int table, const char* key, double* out, uint32_t max, uint32_t* count,
                     bool* found = nullptr);

// A table of four numbers at 0..3 (a 2 x 2 matrix, row by row): a missing
// element raises ERR_MISSINGPARAMTR, a non-number ERR_NUMTABLEARG, a field
// that is no table ERR_TABEXPECTED2.
bool GetTableTransform(VmState* vm, int table, const char* key, double out[4], bool* found = nullptr);
