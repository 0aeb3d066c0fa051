// Base64 coder. The decoder is lenient on purpose: table streams written with
// line breaks and texts pasted from elsewhere decode without clean-up.
#include "core/io/base64.h"

#include <array>
#include <cstdint>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<int8_t, 256> MakeDecodeTable()
{
    std::array<int8_t, 256> t{};
    for (auto& v : t)
        v = -1;
    for (int i = 0; i < 64; ++i)
        t[static_cast<uint8_t>(kAlphabet[i])] = static_cast<int8_t>(i);
    return t;
}

constexpr std::array<int8_t, 256> kDecode = MakeDecodeTable();

} // namespace

size_t Base64EncodedLength(size_t length) { return (length + 2) / 3 * 4; }

void EncodeBase64Bytes(const void* data, size_t length, char* out)
{
    const uint8_t* p = static_cast<const uint8_t*>(data);
    size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        uint32_t v = uint32_t(p[i]) << 16 | uint32_t(p[i + 1]) << 8 | p[i + 2];
        *out++ = kAlphabet[v >> 18];
        *out++ = kAlphabet[(v >> 12) & 63];
        *out++ = kAlphabet[(v >> 6) & 63];
        *out++ = kAlphabet[v & 63];
    }
    size_t rest = length - i;
    if (rest) {
        uint32_t v = uint32_t(p[i]) << 16 | (rest == 2 ? uint32_t(p[i + 1]) << 8 : 0);
        *out++ = kAlphabet[v >> 18];
        *out++ = kAlphabet[(v >> 12) & 63];
        *out++ = rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        *out++ = '=';
    }
}

size_t DecodeBase64Bytes(const char* text, size_t length, void* out)
{
    uint8_t* o = static_cast<uint8_t*>(out);
    uint32_t bits = 0;
    int count = 0;
    size_t n = 0;
    for (size_t i = 0; i < length; ++i) {
        int v = kDecode[static_cast<uint8_t>(text[i])];
        if (v < 0)
            continue;
        bits = (bits << 6) | static_cast<uint32_t>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            o[n++] = static_cast<uint8_t>(bits >> count);
        }
    }
    return n;
}

std::string EncodeBase64String(const void* data, size_t length)
{
    std::string s(Base64EncodedLength(length), '\0');
    EncodeBase64Bytes(data, length, s.data());
    return s;
}

std::string DecodeBase64String(const char* text, size_t length)
{
    std::string s(length / 4 * 3 + 3, '\0');
    s.resize(DecodeBase64Bytes(text, length, s.data()));
    return s;
}
