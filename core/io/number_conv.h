// Conversions between numbers and integers or text that every part of the
// runtime shares. Script numbers are doubles; wherever an integer is needed
// the conversion goes through here, so that NaN, infinities and values out of
// range mean the same thing everywhere (and never undefined behaviour).
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/io/error_codes.h"

// Truncates toward zero. NaN gives 0; values beyond the type's range
// (infinities included) saturate at its minimum or maximum.
int64_t DoubleToInt64(double x);
int32_t DoubleToInt32(double x);

// The low 32 bits of x truncated toward zero, as if the integer had unlimited
// width: -1 gives 0xFFFFFFFF, 2^33 - 2 gives 0xFFFFFFFE. NaN and infinities
// give 0. This is the rule for integer arguments that are taken "as a 32-bit
// value" in two's complement.
uint32_t DoubleToLow32(double x);

// A number as "%.14g" prints it, into out (32 bytes at least); returns the
// length. Integers below 1e14 and numbers whose shortest exact digits fit in
// 14 are laid out without printf; the rest go through it.
int FormatNumber14g(char* out, double n);

// The runtime's number parser for script and option text (locale-independent):
// an optional '-', then "$" and hexadecimal digits (a '-' may also follow the
// '$'), "0x"/"0X" and hexadecimal digits, "%" and binary digits, or a decimal
// number with optional fraction and exponent (a leading '.' needs a digit
// behind it). Hexadecimal and binary values are read as unsigned 32-bit
// (wrapping). Reads at most `length` bytes and stops at the first byte that
// does not continue the number; *used receives the count of bytes consumed.
// On failure returns 0 with *used = 0 and *error = ERR_SYNTAXERROR (no digit
// after "$" or "0x") or ERR_VALUEEXPECTED (no number at all); else *error = 0.
double StringToNumber(const char* text, size_t length, size_t* used, ErrorCode* error);

// Reads a decimal floating-point number (digits, optional fraction, optional
// exponent; no sign, no blanks) from the start of text without regard to the
// locale. Returns the number of bytes used, 0 when there is no number.
size_t ParseDecimalNumber(const char* text, size_t length, double* value);
