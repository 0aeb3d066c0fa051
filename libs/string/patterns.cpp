// Pattern matcher. RunPatternMatch walks the pattern and the subject
// together; single items loop in place, while captures and quantifiers recurse
// so that a failure further on can undo them. Errors unwind to the public
// entry points as a private exception, which keeps the matching paths free of
// error checks and leaves no partial state behind.
#include "libs/string/patterns.h"

#include <array>
#include <cstring>

#include "libs/string/byte_search.h"

namespace {

struct PatternError {
    ErrorCode code;
};

[[noreturn]] void Fail(ErrorCode code) { throw PatternError{code}; }

constexpr char kEscape = '%';

enum ClassBit : uint16_t {
    kAlpha = 1 << 0, kCntrl = 1 << 1, kDigit = 1 << 2, kLower = 1 << 3, kPunct = 1 << 4,
    kSpace = 1 << 5, kUpper = 1 << 6, kAlnum = 1 << 7, kXDigit = 1 << 8, kZero = 1 << 9,
};

// Letters are the ASCII ones and Latin-1 0xC0-0xFF but for the division sign;
// the other classes are plain ASCII, so bytes from 0x80 up belong to none.
constexpr std::array<uint16_t, 256> MakeClassTable()
{
    std::array<uint16_t, 256> t{};
    for (int c = 0; c < 256; ++c) {
        uint16_t b = 0;
        bool upper = c >= 'A' && c <= 'Z', lower = c >= 'a' && c <= 'z', digit = c >= '0' && c <= '9';
        bool letter = upper || lower || (c >= 0xC0 && c != 0xF7);
        if (letter) b |= kAlpha | kAlnum;
        if (c < 32 || c == 127) b |= kCntrl;
        if (digit) b |= kDigit | kAlnum | kXDigit;
        if (lower) b |= kLower;
        if (upper) b |= kUpper;
        if (c > 32 && c < 127 && !upper && !lower && !digit) b |= kPunct;
        if (c == ' ' || (c >= '\t' && c <= '\r')) b |= kSpace;
        if ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')) b |= kXDigit;
        if (c == 0) b |= kZero;
        t[c] = b;
    }
    return t;
}

constexpr std::array<uint16_t, 256> kClassTable = MakeClassTable();

uint16_t ClassBitOf(uint8_t letter)
{
    switch (letter | 0x20) {
    case 'a': return kAlpha;
    case 'c': return kCntrl;
    case 'd': return kDigit;
    case 'l': return kLower;
    case 'p': return kPunct;
    case 's': return kSpace;
    case 'u': return kUpper;
    case 'w': return kAlnum;
    case 'x': return kXDigit;
    case 'z': return kZero;
    default: return 0;
    }
}

bool MatchCharClass(uint8_t c, uint8_t cl)
{
    uint16_t bit = ClassBitOf(cl);
    if (!bit || (cl >= 0x80))
        return cl == c;
    bool in = (kClassTable[c] & bit) != 0;
    return (cl >= 'A' && cl <= 'Z') ? !in : in;
}

// p points at "[", ec at the closing "]".
bool MatchBracketClass(uint8_t c, const char* p, const char* ec)
{
    bool sig = true;
    if (p[1] == '^') {
        sig = false;
        ++p;
    }
    while (++p < ec) {
        if (*p == kEscape) {
            ++p;
            if (MatchCharClass(c, static_cast<uint8_t>(*p)))
                return sig;
        } else if (p[1] == '-' && p + 2 < ec) {
            p += 2;
            if (static_cast<uint8_t>(p[-2]) <= c && c <= static_cast<uint8_t>(*p))
                return sig;
        } else if (static_cast<uint8_t>(*p) == c) {
            return sig;
        }
    }
    return !sig;
}

// The end of the single-character class that starts at p.
const char* PatternClassEnd(const MatchState* ms, const char* p)
{
    const char* end = ms->patternEnd;
    char c = *p++;
    if (c == kEscape) {
        if (p >= end)
            Fail(ERR_MALFORMPAT1);
        return p + 1;
    }
    if (c == '[') {
        if (p < end && *p == '^')
            ++p;
        // The first member is taken before a "]" is looked for, so "[]]"
        // is the set of "]".
        for (;;) {
            if (p >= end)
                Fail(ERR_MALFORMPAT2);
            char m = *p++;
            if (m == kEscape) {
                if (p >= end)
                    Fail(ERR_MALFORMPAT2);
                ++p;
            }
            if (p >= end)
                Fail(ERR_MALFORMPAT2);
            if (*p == ']')
                return p + 1;
        }
    }
    return p;
}

bool SingleMatch(const MatchState* ms, const char* s, const char* p, const char* ep)
{
    if (s >= ms->subjectEnd)
        return false;
    uint8_t c = static_cast<uint8_t>(*s);
    switch (*p) {
    case '.': return true;
    case kEscape: return MatchCharClass(c, static_cast<uint8_t>(p[1]));
    case '[': return MatchBracketClass(c, p, ep - 1);
    default: return static_cast<uint8_t>(*p) == c;
    }
}

const char* RunPatternMatch(MatchState* ms, const char* s, const char* p);

// Depth of the matcher's own recursion; every recursive entry counts.
struct DepthGuard {
    MatchState* ms;
    explicit DepthGuard(MatchState* m) : ms(m)
    {
        if (++ms->depth > kMaxPatternDepth)
            Fail(ERR_STACK);
    }
    ~DepthGuard() { --ms->depth; }
};

const char* MatchBalance(const MatchState* ms, const char* s, const char* p)
{
    if (p + 1 >= ms->patternEnd)
        Fail(ERR_UNBALANCEDPAT);
    if (s >= ms->subjectEnd || *s != *p)
        return nullptr;
    char open = *p, close = p[1];
    int depth = 1;
    while (++s < ms->subjectEnd) {
        if (*s == close) {
            if (--depth == 0)
                return s + 1;
        } else if (*s == open) {
            ++depth;
        }
    }
    return nullptr;
}

const char* MatchMaxExpand(MatchState* ms, const char* s, const char* p, const char* ep)
{
    ptrdiff_t i = 0;
    while (SingleMatch(ms, s + i, p, ep))
        ++i;
    for (; i >= 0; --i)
        if (const char* r = RunPatternMatch(ms, s + i, ep + 1))
            return r;
    return nullptr;
}

const char* MatchMinExpand(MatchState* ms, const char* s, const char* p, const char* ep)
{
    for (;;) {
        if (const char* r = RunPatternMatch(ms, s, ep + 1))
            return r;
        if (!SingleMatch(ms, s, p, ep))
            return nullptr;
        ++s;
    }
}

const char* StartCapture(MatchState* ms, const char* s, const char* p, ptrdiff_t what)
{
    if (ms->level >= kMaxPatternCaptures)
        Fail(ERR_TOOMANYCAPTURES);
    ms->capture[ms->level] = {s, what};
    ++ms->level;
    const char* r = RunPatternMatch(ms, s, p);
    if (!r)
        --ms->level;
    return r;
}

const char* EndCapture(MatchState* ms, const char* s, const char* p)
{
    int l = ms->level - 1;
    while (l >= 0 && ms->capture[l].length != kCaptureUnclosed)
        --l;
    if (l < 0)
        Fail(ERR_INVPATCAP);
    ms->capture[l].length = s - ms->capture[l].start;
    const char* r = RunPatternMatch(ms, s, p);
    if (!r)
        ms->capture[l].length = kCaptureUnclosed;
    return r;
}

const char* MatchBackReference(const MatchState* ms, const char* s, char digit)
{
    int l = digit - '1';
    if (l < 0 || l >= ms->level || ms->capture[l].length == kCaptureUnclosed)
        Fail(ERR_INVCAPIDX);
    ptrdiff_t len = ms->capture[l].length;
    if (len < 0)  // a position capture holds no bytes to repeat
        return nullptr;
    if (ms->subjectEnd - s >= len && std::memcmp(ms->capture[l].start, s, static_cast<size_t>(len)) == 0)
        return s + len;
    return nullptr;
}

const char* RunPatternMatch(MatchState* ms, const char* s, const char* p)
{
    DepthGuard guard(ms);
    const char* const pend = ms->patternEnd;
    for (;;) {
        if (p >= pend)
            return s;
        switch (*p) {
        case '(':
            if (p + 1 < pend && p[1] == ')')
                return StartCapture(ms, s, p + 2, kCapturePosition);
            return StartCapture(ms, s, p + 1, kCaptureUnclosed);
        case ')':
            return EndCapture(ms, s, p + 1);
        case '$':
            if (p + 1 == pend)
                return s == ms->subjectEnd ? s : nullptr;
            break;
        case kEscape:
            if (p + 1 < pend && p[1] == 'b') {
                s = MatchBalance(ms, s, p + 2);
                if (!s)
                    return nullptr;
                p += 4;
                continue;
            }
            if (p + 1 < pend && p[1] == 'f') {
                p += 2;
                if (p >= pend || *p != '[')
                    Fail(ERR_MISSINGOPBRACK);
                const char* ep = PatternClassEnd(ms, p);
                uint8_t prev = s == ms->subjectStart ? 0 : static_cast<uint8_t>(s[-1]);
                uint8_t cur = s < ms->subjectEnd ? static_cast<uint8_t>(*s) : 0;
                if (MatchBracketClass(prev, p, ep - 1) || !MatchBracketClass(cur, p, ep - 1))
                    return nullptr;
                p = ep;
                continue;
            }
            if (p + 1 < pend && p[1] >= '0' && p[1] <= '9') {
                s = MatchBackReference(ms, s, p[1]);
                if (!s)
                    return nullptr;
                p += 2;
                continue;
            }
            break;
        default:
            break;
        }
        const char* ep = PatternClassEnd(ms, p);
        bool m = SingleMatch(ms, s, p, ep);
        char q = ep < pend ? *ep : 0;
        switch (q) {
        case '?':
            if (m)
                if (const char* r = RunPatternMatch(ms, s + 1, ep + 1))
                    return r;
            p = ep + 1;
            continue;
        case '*':
            return MatchMaxExpand(ms, s, p, ep);
        case '+':
            return m ? MatchMaxExpand(ms, s + 1, p, ep) : nullptr;
        case '-':
            return MatchMinExpand(ms, s, p, ep);
        default:
            if (!m)
                return nullptr;
            ++s;
            p = ep;
            continue;
        }
    }
}

// A leading item that must match one byte, when the pattern has one: then
// every position where that byte does not match fails at the first step and
// the search can skip it without entering the matcher. A plain literal is
// skipped with memchr, any other class byte by byte.
struct FirstItem {
    const char* p = nullptr;   // the item, or null when there is none to use
    const char* ep = nullptr;  // its end
    int literal = -1;          // the byte of a plain literal item
    std::string_view prefix;   // plain literals that every match starts with
};

bool IsPlainLiteral(char c) { return !std::strchr("^$*+?.([%-)", c) || c == 0; }
bool IsQuantifier(char c) { return c == '*' || c == '+' || c == '-' || c == '?'; }

FirstItem FindFirstItem(const MatchState* ms, const char* p, bool anchored)
{
    FirstItem f;
    const char* pend = ms->patternEnd;
    if (anchored || p >= pend || *p == '(' || *p == ')' || (*p == '$' && p + 1 == pend))
        return f;
    if (*p == kEscape && p + 1 < pend && (p[1] == 'b' || p[1] == 'f' || (p[1] >= '0' && p[1] <= '9')))
        return f;
    const char* ep;
    try {
        ep = PatternClassEnd(ms, p);
    } catch (const PatternError&) {
        return f;  // the matcher itself reports the error at the first position
    }
    if (ep < pend && (*ep == '*' || *ep == '?' || *ep == '-'))
        return f;
    f.p = p;
    f.ep = ep;
    if (ep == p + 1 && *p != '.' && *p != '[')
        f.literal = static_cast<uint8_t>(*p);
    // A run of literals without quantifiers is searched for as a whole.
    const char* q = p;
    while (q < pend && IsPlainLiteral(*q) && !(q + 1 < pend && IsQuantifier(q[1])))
        ++q;
    if (q - p >= 2)
        f.prefix = std::string_view(p, static_cast<size_t>(q - p));
    return f;
}

// The first position at or after `at` where the first item matches, or null.
const char* SkipToFirstItem(const MatchState* ms, const FirstItem& f, const char* at)
{
    if (!f.prefix.empty())
        return SearchBytes(at, static_cast<size_t>(ms->subjectEnd - at), f.prefix.data(), f.prefix.size());
    if (f.literal >= 0)
        return static_cast<const char*>(std::memchr(at, f.literal, static_cast<size_t>(ms->subjectEnd - at)));
    while (at < ms->subjectEnd && !SingleMatch(ms, at, f.p, f.ep))
        ++at;
    return at < ms->subjectEnd ? at : nullptr;
}

} // namespace

void InitMatchState(MatchState* ms, std::string_view s, std::string_view p)
{
    ms->subjectStart = s.data();
    ms->subjectEnd = s.data() + s.size();
    ms->patternEnd = p.data() + p.size();
    ms->level = 0;
    ms->depth = 0;
}

ErrorCode PatternMatchAt(MatchState* ms, const char* s, const char* p, const char** end)
{
    ms->level = 0;
    ms->depth = 0;
    try {
        *end = RunPatternMatch(ms, s, p);
    } catch (const PatternError& e) {
        *end = nullptr;
        return e.code;
    }
    return ERR_NONE;
}

ErrorCode PatternFind(MatchState* ms, std::string_view s, std::string_view p, size_t start, bool honourCaret,
                      bool* found, size_t* matchStart, size_t* matchEnd)
{
    *found = false;
    if (start > s.size())
        return ERR_WRONGUSAGE;
    InitMatchState(ms, s, p);
    const char* pp = p.data();
    bool anchor = honourCaret && !p.empty() && p[0] == '^';
    if (anchor)
        ++pp;
    const FirstItem first = FindFirstItem(ms, pp, anchor);
    const char* at = s.data() + start;
    for (;;) {
        if (first.p) {
            at = SkipToFirstItem(ms, first, at);
            if (!at)
                return ERR_NONE;
        }
        const char* e;
        if (ErrorCode err = PatternMatchAt(ms, at, pp, &e))
            return err;
        if (e) {
            *found = true;
            *matchStart = static_cast<size_t>(at - s.data());
            *matchEnd = static_cast<size_t>(e - s.data());
            return ERR_NONE;
        }
        if (anchor || at >= ms->subjectEnd)
            return ERR_NONE;
        ++at;
    }
}

int PatternCaptureCount(const MatchState& ms) { return ms.level == 0 ? 1 : ms.level; }

ErrorCode GetPatternCapture(const MatchState& ms, int i, const char* s, const char* e, CaptureValue* out)
{
    if (i >= ms.level) {
        if (i != 0)
            return ERR_INVCAPIDX;
        *out = {false, 0, std::string_view(s, static_cast<size_t>(e - s))};
        return ERR_NONE;
    }
    const PatternCapture& c = ms.capture[i];
    if (c.length == kCaptureUnclosed)
        return ERR_UNFINISHEDCAPTURE;
    if (c.length == kCapturePosition)
        *out = {true, static_cast<size_t>(c.start - ms.subjectStart) + 1, {}};
    else
        *out = {false, 0, std::string_view(c.start, static_cast<size_t>(c.length))};
    return ERR_NONE;
}

ErrorCode AppendTemplateReplacement(const MatchState& ms, std::string_view repl, const char* s, const char* e,
                                    std::string* out)
{
    (void)s;
    (void)e;
    size_t i = 0;
    while (i < repl.size()) {
        size_t pct = repl.find(kEscape, i);
        if (pct == std::string_view::npos || pct + 1 >= repl.size()) {
            // A "%" at the very end stands for itself.
            out->append(repl.substr(i));
            break;
        }
        out->append(repl.substr(i, pct - i));
        char c = repl[pct + 1];
        i = pct + 2;
        if (c < '0' || c > '9') {
            out->push_back(c);
            continue;
        }
        int l = c - '1';
        if (l < 0 || l >= ms.level || ms.capture[l].length == kCaptureUnclosed)
            return ERR_INVCAPIDX;
        CaptureValue v;
        GetPatternCapture(ms, l, s, e, &v);
        if (v.isPosition)
            out->append(std::to_string(v.position));
        else
            out->append(v.text);
    }
    return ERR_NONE;
}

ErrorCode PatternReplace(std::string_view s, std::string_view p, const PatternReplacer& replacer, int64_t max,
                         std::string* out, int64_t* count)
{
    MatchState ms;
    InitMatchState(&ms, s, p);
    const char* pp = p.data();
    bool anchor = !p.empty() && p[0] == '^';
    if (anchor)
        ++pp;
    const FirstItem first = FindFirstItem(&ms, pp, anchor);
    const char* src = s.data();
    const char* end = ms.subjectEnd;
    std::string r;
    r.reserve(s.size());
    int64_t n = 0;
    while (n < max) {
        if (first.p) {
            const char* next = SkipToFirstItem(&ms, first, src);
            if (!next)
                break;
            r.append(src, next);
            src = next;
        }
        const char* e;
        if (ErrorCode err = PatternMatchAt(&ms, src, pp, &e))
            return err;
        if (e) {
            ++n;
            if (ErrorCode err = replacer.append(replacer.context, ms, src, e, &r))
                return err;
        }
        if (e && e > src)
            src = e;
        else if (src < end)
            r.push_back(*src++);
        else
            break;
        if (anchor)
            break;
    }
    r.append(src, end);
    *out = std::move(r);
    *count = n;
    return ERR_NONE;
}
