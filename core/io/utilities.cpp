// Runtime utilities: debug output, case-insensitive comparison, character
// conversion and classes, CRC-32, rounding and the random generator.
#include "core/io/utilities.h"

#include <array>
#include <cstdarg>
#include <cstring>

#include "core/io/case_tables.h"
#include "core/io/stream.h"
#include "platform/posix/os_console.h"
#include "platform/posix/os_memory.h"

uint32_t forceFlush = 0;

void DebugPrintf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    OsWriteConsole(format, args);
    va_end(args);
}

int StrCaseCmp(const char* a, const char* b)
{
    auto* p = reinterpret_cast<const uint8_t*>(a);
    auto* q = reinterpret_cast<const uint8_t*>(b);
    for (;; ++p, ++q) {
        int d = LowerCaseTable[*p] - LowerCaseTable[*q];
        if (d != 0 || *p == 0)
            return d;
    }
}

int StrNCaseCmp(const char* a, const char* b, size_t n)
{
    auto* p = reinterpret_cast<const uint8_t*>(a);
    auto* q = reinterpret_cast<const uint8_t*>(b);
    for (; n > 0; --n, ++p, ++q) {
        int d = LowerCaseTable[*p] - LowerCaseTable[*q];
        if (d != 0 || *p == 0)
            return d;
    }
    return 0;
}

char* Latin1ToUtf8(const char* text)
{
    if (!text)
        text = "";
    size_t size = 1;
    for (auto* p = reinterpret_cast<const uint8_t*>(text); *p; ++p)
        size += *p < 0x80 ? 1 : 2;
    auto* out = static_cast<char*>(OsAllocMem(size, 0));
    if (!out)
        return nullptr;
    char* o = out;
    for (auto* p = reinterpret_cast<const uint8_t*>(text); *p; ++p) {
        if (*p < 0x80) {
            *o++ = static_cast<char>(*p);
        } else {
            *o++ = static_cast<char>(0xC0 | (*p >> 6));
            *o++ = static_cast<char>(0x80 | (*p & 0x3F));
        }
    }
    *o = '\0';
    return out;
}

size_t Utf8ToLatin1(const char* text, size_t length, char* out)
{
    auto* in = reinterpret_cast<const uint8_t*>(text);
    size_t i = 0, o = 0;
    while (i < length) {
        uint8_t c = in[i];
        size_t trail = c >= 0xF0 && c <= 0xF4 ? 3 : c >= 0xE0 && c <= 0xEF ? 2 : c >= 0xC2 && c <= 0xDF ? 1 : 0;
        bool whole = trail > 0 && length - i > trail;
        for (size_t k = 1; whole && k <= trail; ++k)
            whole = (in[i + k] & 0xC0) == 0x80;
        if (!whole) {
            // ASCII, or a byte that starts no complete sequence: taken as is.
            out[o++] = static_cast<char>(c);
            ++i;
            continue;
        }
        uint32_t code = c & (0x3F >> trail);
        for (size_t k = 1; k <= trail; ++k)
            code = (code << 6) | (in[i + k] & 0x3F);
        out[o++] = code <= 0xFF ? static_cast<char>(code) : '?';
        i += trail + 1;
    }
    out[o] = '\0';
    return o;
}

size_t Utf8ToLatin1(const char* text, char* out)
{
    return Utf8ToLatin1(text, std::strlen(text), out);
}

char* ConvertEncoding(const char* text, int from, int to)
{
    if (!text)
        return nullptr;
    if (from == ENCODING_ISO8859_1 && to == ENCODING_UTF8)
        return Latin1ToUtf8(text);
    if (from == ENCODING_UTF8 && to == ENCODING_ISO8859_1) {
        size_t length = std::strlen(text);
        auto* out = static_cast<char*>(OsAllocMem(length + 1, 0));
        if (out)
            Utf8ToLatin1(text, length, out);
        return out;
    }
    return nullptr;
}

namespace {

// Eight tables for the slice-by-8 step: table k advances a byte that is k
// positions further from the end of an 8-byte group.
using CrcTables = std::array<std::array<uint32_t, 256>, 8>;

constexpr CrcTables MakeCrcTables()
{
    CrcTables tables{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        tables[0][n] = c;
    }
    for (uint32_t n = 0; n < 256; ++n)
        for (int k = 1; k < 8; ++k)
            tables[k][n] = (tables[k - 1][n] >> 8) ^ tables[0][tables[k - 1][n] & 0xFF];
    return tables;
}

constexpr CrcTables CrcTable = MakeCrcTables();

constexpr bool IsLatin1Letter(int c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= 0xC0 && c != 0xD7 && c != 0xF7);
}

constexpr std::array<uint8_t, 256> MakeClassTable(bool letters)
{
    std::array<uint8_t, 256> table{};
    for (int c = 0; c < 256; ++c)
        table[c] = letters ? IsLatin1Letter(c) : (c >= 0x20 && c <= 0x7E) || c >= 0xA0;
    return table;
}

constexpr std::array<uint8_t, 256> PrintTable = MakeClassTable(false);
constexpr std::array<uint8_t, 256> AlphaTable = MakeClassTable(true);

// The generator's state, low word first; multiplier 0x5DEECE66D, addend 11.
uint64_t randomState = 0x1234ABCD330Eull;
constexpr uint64_t RandomMultiplier = 0x5DEECE66Dull;
constexpr uint64_t RandomAddend = 11;
constexpr uint64_t RandomMask = (1ull << 48) - 1;

void StepRandom48()
{
    randomState = (randomState * RandomMultiplier + RandomAddend) & RandomMask;
}

} // namespace

void InitCrc32Table() {}

uint32_t CalcCrc32(const void* bytes, long length)
{
    if (length < 1)
        return 0;
    auto* p = static_cast<const uint8_t*>(bytes);
    size_t n = static_cast<size_t>(length);
    uint32_t crc = 0xFFFFFFFFu;
    const auto& t = CrcTable;
    for (; n >= 8; n -= 8, p += 8) {
        uint32_t lo = crc ^ (p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24);
        crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
              t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
    }
    for (; n > 0; --n, ++p)
        crc = t[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

bool IsPrintChar(int c)
{
    return c >= 0 && c <= 255 && PrintTable[c];
}

bool IsAlphaChar(int c)
{
    return c >= 0 && c <= 255 && AlphaTable[c];
}

bool IsAlnumChar(int c)
{
    return (c >= '0' && c <= '9') || IsAlphaChar(c);
}

int32_t RoundToInt(double x)
{
    // 1.5 * 2^52 pushes the fraction out of the mantissa, so the addition
    // itself rounds (to even); the low word then holds the integer.
    double shifted = x + 6755399441055744.0;
    uint64_t bits;
    std::memcpy(&bits, &shifted, sizeof bits);
    return static_cast<int32_t>(static_cast<uint32_t>(bits));
}

void SeedRandom48(uint32_t seed)
{
    randomState = (static_cast<uint64_t>(seed) << 16) | 0x330E;
}

int32_t NextRandom48()
{
    StepRandom48();
    return static_cast<int32_t>(randomState >> 17);
}

double RandomDouble()
{
    StepRandom48();
    return static_cast<double>(randomState) * 0x1p-48;
}

void GetRandom48State(uint16_t out[3])
{
    out[0] = static_cast<uint16_t>(randomState);
    out[1] = static_cast<uint16_t>(randomState >> 16);
    out[2] = static_cast<uint16_t>(randomState >> 32);
}

size_t StreamWriteString(StreamHandle* stream, const char* text)
{
    return text ? StreamWrite(stream, text, std::strlen(text)) : 0;
}
