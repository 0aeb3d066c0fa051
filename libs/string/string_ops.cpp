// Byte-string work of the string commands. Every length and position is
// checked against the string before it is used, so no argument combination
// reads or writes outside the bytes given.
#include "libs/string/string_ops.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <limits>

#include "core/io/case_tables.h"
#include "core/io/number_conv.h"
#include "libs/string/byte_search.h"

namespace {

int64_t Length(std::string_view s) { return static_cast<int64_t>(s.size()); }

const char* Search(std::string_view hay, std::string_view needle, bool caseSensitive)
{
    return caseSensitive ? SearchBytes(hay.data(), hay.size(), needle.data(), needle.size())
                         : FindSubstringNoCase(hay.data(), hay.size(), needle.data(), needle.size());
}

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

} // namespace

std::string_view LeftBytes(std::string_view s, int64_t n)
{
    if (n < 1)
        return {};
    return s.substr(0, static_cast<size_t>(std::min(n, Length(s))));
}

std::string_view RightBytes(std::string_view s, int64_t n)
{
    if (n < 1)
        return {};
    int64_t k = std::min(n, Length(s));
    return s.substr(static_cast<size_t>(Length(s) - k));
}

std::string_view MidBytes(std::string_view s, int64_t pos, int64_t len)
{
    const int64_t size = Length(s);
    const bool toEnd = len == -1;
    if ((!toEnd && len < 1) || pos >= size)
        return {};
    if (pos < 0) {
        // The part of the window that lies before the string is empty.
        if (!toEnd) {
            if (len + pos <= 0)
                return {};
            len += pos;
        }
        pos = 0;
    }
    if (toEnd || len > size - pos)
        len = size - pos;
    return s.substr(static_cast<size_t>(pos), static_cast<size_t>(len));
}

ErrorCode UnleftBytes(std::string_view s, int64_t n, std::string_view* out)
{
    if (n < 0)
        return ERR_WRONGUSAGE;
    *out = s.substr(0, static_cast<size_t>(Length(s) - std::min(n, Length(s))));
    return ERR_NONE;
}

ErrorCode UnrightBytes(std::string_view s, int64_t n, std::string_view* out)
{
    if (n < 0)
        return ERR_WRONGUSAGE;
    *out = s.substr(static_cast<size_t>(std::min(n, Length(s))));
    return ERR_NONE;
}

ErrorCode UnmidBytes(std::string_view s, int64_t pos, int64_t len, std::string* out)
{
    if (pos < 0 || len < 0)
        return ERR_WRONGUSAGE;
    const int64_t size = Length(s);
    if (len == 0 || pos >= size) {
        out->assign(s);
        return ERR_NONE;
    }
    int64_t end = len > size - pos ? size : pos + len;
    out->assign(s.substr(0, static_cast<size_t>(pos)));
    out->append(s.substr(static_cast<size_t>(end)));
    return ERR_NONE;
}

ErrorCode InsertBytes(std::string_view s, std::string_view ins, int64_t pos, bool overwrite, std::string* out)
{
    if (pos < 0)
        return ERR_WRONGUSAGE;
    if (s.empty() || ins.empty()) {
        out->assign(s.empty() ? ins : s);
        return ERR_NONE;
    }
    const size_t p = static_cast<size_t>(std::min(pos, Length(s)));
    size_t tail = overwrite ? p + ins.size() : p;
    std::string r;
    r.reserve(s.size() + ins.size());
    r.append(s.substr(0, p));
    r.append(ins);
    if (tail < s.size())
        r.append(s.substr(tail));
    *out = std::move(r);
    return ERR_NONE;
}

ErrorCode RepeatBytes(std::string_view s, int64_t n, std::string* out)
{
    if (n < 0)
        return ERR_WRONGUSAGE;
    if (n == 0 || s.empty()) {
        out->clear();
        return ERR_NONE;
    }
    // Refuse sizes that cannot be allocated instead of letting them wrap.
    if (static_cast<uint64_t>(n) > (uint64_t(1) << 40) / s.size())
        return ERR_MEM;
    std::string r;
    r.reserve(s.size() * static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i)
        r.append(s);
    *out = std::move(r);
    return ERR_NONE;
}

ErrorCode FindBytes(std::string_view s, std::string_view sub, bool caseSensitive, int64_t start, int64_t* pos)
{
    if (start < 0)
        return ERR_WRONGUSAGE;
    *pos = -1;
    if (s.empty() || sub.empty() || start >= Length(s))
        return ERR_NONE;
    const char* hit = Search(s.substr(static_cast<size_t>(start)), sub, caseSensitive);
    if (hit)
        *pos = hit - s.data();
    return ERR_NONE;
}

ErrorCode CountBytes(std::string_view s, std::string_view sub, bool caseSensitive, int64_t start, int64_t* count)
{
    if (start < 0)
        return ERR_WRONGUSAGE;
    *count = 0;
    if (s.empty() || sub.empty() || start >= Length(s))
        return ERR_NONE;
    size_t at = static_cast<size_t>(start);
    while (const char* hit = Search(s.substr(at), sub, caseSensitive)) {
        ++*count;
        at = static_cast<size_t>(hit - s.data()) + sub.size();
    }
    return ERR_NONE;
}

ErrorCode ReplaceBytes(std::string_view s, std::string_view search, std::string_view repl, bool caseSensitive,
                       int64_t start, std::string* out)
{
    if (start < 0)
        return ERR_WRONGUSAGE;
    size_t at = static_cast<size_t>(std::min(start, Length(s)));
    std::string r;
    r.reserve(s.size());
    r.append(s.substr(0, at));
    if (!search.empty()) {
        while (const char* hit = Search(s.substr(at), search, caseSensitive)) {
            size_t h = static_cast<size_t>(hit - s.data());
            r.append(s.substr(at, h - at));
            r.append(repl);
            at = h + search.size();
        }
    }
    r.append(s.substr(at));
    *out = std::move(r);
    return ERR_NONE;
}

std::string LowerBytes(std::string_view s)
{
    std::string r(s);
    for (char& c : r)
        c = static_cast<char>(LowerCaseTable[static_cast<uint8_t>(c)]);
    return r;
}

std::string UpperBytes(std::string_view s)
{
    std::string r(s);
    for (char& c : r)
        c = static_cast<char>(UpperCaseTable[static_cast<uint8_t>(c)]);
    return r;
}

ErrorCode TrimBytes(std::string_view s, std::string_view c, bool fromEnd, std::string_view* out)
{
    if (c.size() != 1)
        return ERR_WRONGUSAGE;
    if (fromEnd) {
        size_t e = s.size();
        while (e > 0 && s[e - 1] == c[0])
            --e;
        *out = s.substr(0, e);
    } else {
        size_t b = 0;
        while (b < s.size() && s[b] == c[0])
            ++b;
        *out = s.substr(b);
    }
    return ERR_NONE;
}

ErrorCode SplitBytes(std::string_view s, std::string_view sep, std::vector<std::string_view>* pieces)
{
    if (sep.size() != 1)
        return ERR_WRONGUSAGE;
    pieces->clear();
    size_t from = 0;
    for (;;) {
        const void* hit = std::memchr(s.data() + from, sep[0], s.size() - from);
        if (!hit)
            break;
        size_t h = static_cast<size_t>(static_cast<const char*>(hit) - s.data());
        pieces->push_back(s.substr(from, h - from));
        from = h + 1;
    }
    pieces->push_back(s.substr(from));
    return ERR_NONE;
}

std::string HexText(double n)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "$%" PRIX32, DoubleToLow32(n));
    return buf;
}

std::string BinText(double n, int type)
{
    int digits = type == kBinInteger ? 32 : type == kBinShort ? 16 : type == kBinByte ? 8 : 0;
    uint32_t v = DoubleToLow32(n);
    std::string r;
    for (int i = digits - 1; i >= 0; --i)
        r.push_back((v >> i) & 1 ? '1' : '0');
    return r;
}

std::string DecimalsText(double n, int64_t decimals)
{
    char buf[64];
    int len = FormatNumber14g(buf, n);
    std::string_view text(buf, static_cast<size_t>(len));
    size_t point = text.find('.');
    // An exponent behind the fraction is part of the number: cutting the
    // digits before it would change the value by powers of ten.
    if (point == std::string_view::npos || text.find_first_of("eE") != std::string_view::npos)
        return std::string(text);
    size_t keep;
    if (decimals == 0)
        keep = point;
    else if (decimals < 0)
        keep = point + 1;
    else
        keep = point + 1 + static_cast<size_t>(std::min<int64_t>(decimals, Length(text)));
    return std::string(text.substr(0, std::min(keep, text.size())));
}

ErrorCode PadNumberText(double n, int64_t len, std::string* out)
{
    int64_t v = DoubleToInt64(n);
    if (v < 0 || len < 1)
        return ERR_WRONGUSAGE;
    char buf[32];
    int digits = std::snprintf(buf, sizeof buf, "%" PRId64, v);
    if (len > (int64_t(1) << 40))
        return ERR_MEM;
    std::string r;
    if (len > digits)
        r.assign(static_cast<size_t>(len - digits), '0');
    r.append(buf, static_cast<size_t>(digits));
    *out = std::move(r);
    return ERR_NONE;
}

double ParseIntegerInBase(std::string_view s, int base)
{
    size_t i = 0;
    while (i < s.size() && IsBlank(s[i]))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    uint64_t v = 0;
    bool overflow = false;
    size_t first = i;
    for (; i < s.size(); ++i) {
        char c = s[i];
        int d = c >= '0' && c <= '9' ? c - '0'
              : c >= 'a' && c <= 'z' ? c - 'a' + 10
              : c >= 'A' && c <= 'Z' ? c - 'A' + 10 : 99;
        if (d >= base)
            break;
        v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
        if (v > 0xFFFFFFFFu) {
            // Saturates like the C library's unsigned reader.
            overflow = true;
            v = 0xFFFFFFFFu;
        }
    }
    if (i == first)
        return 0;
    while (i < s.size() && IsBlank(s[i]))
        ++i;
    if (i != s.size())
        return 0;
    uint32_t r = static_cast<uint32_t>(v);
    if (negative && !overflow)
        r = 0u - r;
    return r;
}
