// The work of the string commands on byte strings, apart from the VM: each
// takes its string arguments as views of explicit length (zero bytes are
// data), its numbers already truncated to integers, and gives its result
// through an out-parameter. Functions that can refuse their arguments return
// 0 or ERR_WRONGUSAGE and leave the output untouched on refusal.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/io/error_codes.h"

// Slicing. Counts below 1 give the empty string; counts beyond the string
// are cut to it.
std::string_view LeftBytes(std::string_view s, int64_t n);
std::string_view RightBytes(std::string_view s, int64_t n);
// len = -1 means up to the end. The bytes of [pos, pos + len) that lie in
// the string: a negative pos takes nothing before the string's start.
std::string_view MidBytes(std::string_view s, int64_t pos, int64_t len);
ErrorCode UnleftBytes(std::string_view s, int64_t n, std::string_view* out);
ErrorCode UnrightBytes(std::string_view s, int64_t n, std::string_view* out);
ErrorCode UnmidBytes(std::string_view s, int64_t pos, int64_t len, std::string* out);
ErrorCode InsertBytes(std::string_view s, std::string_view ins, int64_t pos, bool overwrite, std::string* out);
// Refuses a negative count; ERR_MEM when the result would not fit in memory.
ErrorCode RepeatBytes(std::string_view s, int64_t n, std::string* out);

// Searching: position of the first occurrence at or after start, or -1.
ErrorCode FindBytes(std::string_view s, std::string_view sub, bool caseSensitive, int64_t start, int64_t* pos);
ErrorCode CountBytes(std::string_view s, std::string_view sub, bool caseSensitive, int64_t start, int64_t* count);
ErrorCode ReplaceBytes(std::string_view s, std::string_view search, std::string_view repl, bool caseSensitive,
                       int64_t start, std::string* out);

// Case mapping through the runtime's Latin-1 tables.
std::string LowerBytes(std::string_view s);
std::string UpperBytes(std::string_view s);

// Trimming every leading (fromEnd false) or trailing c; c must be one byte.
ErrorCode TrimBytes(std::string_view s, std::string_view c, bool fromEnd, std::string_view* out);

// Pieces between single-byte separators; an empty s is one empty piece.
ErrorCode SplitBytes(std::string_view s, std::string_view sep, std::vector<std::string_view>* pieces);

// Number texts.
std::string HexText(double n);                 // "$" + upper-case hex of the low 32 bits
std::string BinText(double n, int type);       // 32, 16 or 8 digits by type 1, 6, 7; else ""
std::string DecimalsText(double n, int64_t decimals);  // "%.14g" cut behind the point
ErrorCode PadNumberText(double n, int64_t len, std::string* out);
// Reads an unsigned 32-bit integer in base 2..36 the way ToNumber does:
// blanks, one sign, digits; only blanks may follow. 0 when that fails.
double ParseIntegerInBase(std::string_view s, int base);

// Type codes of BinStr.
constexpr int kBinInteger = 1;
constexpr int kBinShort = 6;
constexpr int kBinByte = 7;
