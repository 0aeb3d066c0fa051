// Base64 in the standard alphabet (A-Z a-z 0-9 + /) with '=' padding, shared
// by the table streams, the string library, HTTP authorisation and plugins.
#pragma once

#include <cstddef>
#include <string>

// Characters needed for the encoding of `length` bytes without line breaks.
size_t Base64EncodedLength(size_t length);

// Encodes without line breaks into out (Base64EncodedLength(length) bytes;
// no terminator is written).
void EncodeBase64Bytes(const void* data, size_t length, char* out);

// Decodes into out, which needs room for length * 3 / 4 bytes; returns the
// number of bytes written. Every character outside the alphabet (line breaks,
// '=' and anything else) is skipped; a last group of fewer than 8 bits is
// dropped.
size_t DecodeBase64Bytes(const char* text, size_t length, void* out);

std::string EncodeBase64String(const void* data, size_t length);
std::string DecodeBase64String(const char* text, size_t length);
