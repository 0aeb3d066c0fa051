// Small services shared by the whole runtime: debug output, comparison
// without regard to case, Latin-1/UTF-8 conversion, CRC-32, character
// classes, rounding and the 48-bit random generator.
#pragma once

#include <cstddef>
#include <cstdint>

struct StreamHandle;

// Flush the debug output after every write (start-up option FORCEFLUSH).
extern uint32_t forceFlush;

// Formats with a format of the program's own (never a message or catalog
// text) and writes the result to the debug output.
void DebugPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Compare through the Latin-1 case tables: negative, 0 or positive.
int StrCaseCmp(const char* a, const char* b);
int StrNCaseCmp(const char* a, const char* b, size_t n);

// A new UTF-8 copy of a Latin-1 text (free with OsFreeMem); null when out of
// memory.
char* Latin1ToUtf8(const char* text);

// Converts UTF-8 to Latin-1 into out, which needs length + 1 bytes (Latin-1
// is never longer). Reads exactly length bytes: a sequence cut off by the end
// of the input is not completed from beyond it. Characters outside Latin-1
// become '?'; bytes that do not form UTF-8 are taken as Latin-1 already.
// Answers the length written (out is terminated).
size_t Utf8ToLatin1(const char* text, size_t length, char* out);
// The same for a terminated text.
size_t Utf8ToLatin1(const char* text, char* out);

constexpr int ENCODING_ISO8859_1 = 0;
constexpr int ENCODING_UTF8 = 1;
// A new converted copy (free with OsFreeMem); null for any pair other than
// Latin-1 to UTF-8 or UTF-8 to Latin-1, or when out of memory.
char* ConvertEncoding(const char* text, int from, int to);

// Standard CRC-32 (reflected 0xEDB88320, initial 0xFFFFFFFF, final
// inversion); a length below 1 answers 0. The table is built at compile
// time; InitCrc32Table stays for the start-up sequence and does nothing.
void InitCrc32Table();
uint32_t CalcCrc32(const void* bytes, long length);

// Latin-1 character classes; values outside 0..255 answer false.
bool IsPrintChar(int c);
bool IsAlphaChar(int c);
bool IsAlnumChar(int c);

// Nearest integer, ties to even (under the default rounding mode).
int32_t RoundToInt(double x);

// The 48-bit linear congruential generator of the drand48 family:
// SeedRandom48 as srand48, NextRandom48 as lrand48 (31 bits), RandomDouble as
// drand48 (in [0, 1)); each of the last two steps the generator once.
void SeedRandom48(uint32_t seed);
int32_t NextRandom48();
double RandomDouble();
// The three 16-bit state words, low word first.
void GetRandom48State(uint16_t out[3]);

// Writes text without its terminator; answers the bytes written.
size_t StreamWriteString(StreamHandle* stream, const char* text);
