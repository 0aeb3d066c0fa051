// Reading command arguments that have more than one form: object ids
// (number or handle), optional integers, numbers given as percentages, and
// "#NAME" references to registered constants. Argument indices are the VM's
// (1 = first argument).
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/services/object_registry.h"

struct VmState;

// A light userdata argument is a handle (0, handle); anything else must be
// a number n, giving (n, 0) (ERR_NUMEXPECTED naming the argument otherwise).
ObjectId GetObjectIdArg(VmState* vm, int index);

// Pushes an object id as scripts see it: a light userdata for a handle,
// else the number.
void PushObjectId(VmState* vm, ObjectId id);

struct OptionalInt {
    int32_t value;  // 0 when absent
    bool absent;    // the argument was nil or not given
};
OptionalInt GetOptionalInt(VmState* vm, int index);

// A number (nil reads as 0) is returned as it is. A string must begin with a
// number; when a '%' follows, the percentage (0..100, above 100 only when
// allowed) gives percentage * base / 100, or for base 0 percentage / 100
// with *outIsPercent set. Raises ERR_PERCENTFORMAT for a bad string and
// ERR_STRORNUM for any other type, both naming the argument.
double GetNumberOrPercent(VmState* vm, int index, double base, bool allowAbove100, bool* outIsPercent);

// Resolves "#NAME" at the start of text to a registered constant: the
// number through outNumber (outString null), or the text through outString.
// outLength receives the characters used, '#' included. Answers 0,
// ERR_WRONGUSAGE without '#', ERR_SYNTAXERROR when no name follows, or
// ERR_FINDCST (with the name as error text) when no constant has that name.
uint32_t ResolveConstantName(VmState* vm, const char* text, size_t* outLength, const char** outString,
                             double* outNumber);

// A character that may stand in a constant's name: a letter, a digit, '_',
// '$' or '!'.
bool IsConstantNameChar(char c);

// The shared reading of "N" and "N%" texts: false when the text does not
// begin with a number, or the percentage is negative or above 100 while that
// is not allowed.
bool ParsePercentText(const char* text, bool allowAbove100, double* outValue, bool* outIsPercent);
