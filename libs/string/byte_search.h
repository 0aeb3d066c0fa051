// Byte-string search shared by the string commands and the plugin manager.
// Haystack and needle are byte runs of explicit length; zero bytes are data.
#pragma once

#include <cstddef>

// First occurrence of the n-byte needle in the m-byte haystack, compared
// exactly; null when there is none (an empty needle finds nothing).
const char* SearchBytes(const char* haystack, size_t m, const char* needle, size_t n);

// Whether the first n bytes of a and b are equal through LowerCaseTable.
bool CompareBytesNoCase(const char* a, const char* b, size_t n);

// As SearchBytes, but comparing through LowerCaseTable.
const char* FindSubstringNoCase(const char* haystack, size_t m, const char* needle, size_t n);
