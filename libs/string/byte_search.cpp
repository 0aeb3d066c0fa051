// Byte search. The exact search leans on the C library's memmem, whose
// two-way search never degrades on repetitive text; the case-blind one scans
// for either case of the needle's first byte and then compares the rest.
#include "libs/string/byte_search.h"

#include <cstdint>
#include <cstring>

#include "core/io/case_tables.h"

const char* SearchBytes(const char* haystack, size_t m, const char* needle, size_t n)
{
    if (n == 0 || n > m)
        return nullptr;
    if (n == 1)
        return static_cast<const char*>(std::memchr(haystack, needle[0], m));
    return static_cast<const char*>(memmem(haystack, m, needle, n));
}

bool CompareBytesNoCase(const char* a, const char* b, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (LowerCaseTable[static_cast<uint8_t>(a[i])] != LowerCaseTable[static_cast<uint8_t>(b[i])])
            return false;
    return true;
}

const char* FindSubstringNoCase(const char* haystack, size_t m, const char* needle, size_t n)
{
    if (n == 0 || n > m)
        return nullptr;
    const uint8_t first = LowerCaseTable[static_cast<uint8_t>(needle[0])];
    const uint8_t other = UpperCaseTable[first];
    const size_t last = m - n;  // the final candidate position
    // The next occurrence of each case of the first byte is found with memchr
    // and kept until the scan passes it, so the search stays linear. The two
    // case tables pair up exactly, so no third byte folds to `first`.
    const char* next[2] = {nullptr, nullptr};
    const uint8_t cases[2] = {first, other};
    const int kinds = other != first ? 2 : 1;
    for (size_t i = 0; i <= last;) {
        const char* p = nullptr;
        for (int k = 0; k < kinds; ++k) {
            if (next[k] != haystack + m && (!next[k] || next[k] < haystack + i)) {
                const void* q = std::memchr(haystack + i, cases[k], last - i + 1);
                next[k] = q ? static_cast<const char*>(q) : haystack + m;
            }
            if (next[k] != haystack + m && (!p || next[k] < p))
                p = next[k];
        }
        if (!p)
            break;
        if (CompareBytesNoCase(p + 1, needle + 1, n - 1))
            return p;
        i = static_cast<size_t>(p - haystack) + 1;
    }
    return nullptr;
}
