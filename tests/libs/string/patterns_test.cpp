// The pattern language: hand-checked matches for every construct, the error
// of each malformed pattern, replacement, and the recursion limit (a plain
// match, a miss, captures and a replacement limit are the commands' test's).
#include "libs/string/patterns.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

struct Found {
    ErrorCode error = ERR_NONE;
    bool found = false;
    size_t start = 0, end = 0;
    std::vector<std::string> captures;  // positions as "@n"
};

Found Find(std::string_view s, std::string_view p, size_t start = 0, bool honourCaret = true)
{
    Found f;
    MatchState ms;
    f.error = PatternFind(&ms, s, p, start, honourCaret, &f.found, &f.start, &f.end);
    if (f.error || !f.found)
        return f;
    for (int i = 0; i < PatternCaptureCount(ms); ++i) {
        CaptureValue v;
        f.error = GetPatternCapture(ms, i, s.data() + f.start, s.data() + f.end, &v);
        if (f.error)
            return f;
        f.captures.push_back(v.isPosition ? "@" + std::to_string(v.position) : std::string(v.text));
    }
    return f;
}

std::string Repeat(const char* piece, int times)
{
    std::string s;
    while (times-- > 0)
        s += piece;
    return s;
}

ErrorCode TemplateAppend(void* ctx, const MatchState& ms, const char* s, const char* e, std::string* out)
{
    return AppendTemplateReplacement(ms, *static_cast<std::string_view*>(ctx), s, e, out);
}

ErrorCode Replace(std::string_view s, std::string_view p, std::string_view repl, int64_t max, std::string* out,
                  int64_t* count)
{
    PatternReplacer r{&repl, TemplateAppend};
    return PatternReplace(s, p, r, max, out, count);
}

} // namespace

TEST(Patterns, FindsHandCheckedMatches)
{
    struct Case { std::string s, p; bool found; size_t start, end; std::vector<std::string> caps; };
    const Case cases[] = {
        {"abc", "()b()", true, 1, 2, {"@2", "@3"}}, {"THE (quick) fox", "%f[%a]%a+", true, 0, 3, {"THE"}},
        {"x(a(b)c)y", "%b()", true, 1, 8, {"(a(b)c)"}}, {"x(a(b c y", "%b()", false, 0, 0, {}},
        {"aaab", "a-b", true, 0, 4, {"aaab"}}, {"aaa", "a-", true, 0, 0, {""}}, {"aaa", "a*", true, 0, 3, {"aaa"}},
        {"baaa", "a+", true, 1, 4, {"aaa"}}, {"color colour", "colou?r", true, 0, 5, {"color"}},
        {"abc", "^b", false, 0, 0, {}}, {"abc", "c$", true, 2, 3, {"c"}}, {"a$c", "$c", true, 1, 3, {"$c"}},
        {"abc", "", true, 0, 0, {""}}, {"x=1, y=22", "(%a)=(%d+)", true, 0, 3, {"x", "1"}},
        {"hello hello", "(h%a+) %1", true, 0, 11, {"hello"}},
        {"]x", "[]]", true, 0, 1, {"]"}}, {"a-z", "[%-]", true, 1, 2, {"-"}}, {"AbC", "[^%u]", true, 1, 2, {"b"}},
        {"09af", "%x+", true, 0, 4, {"09af"}}, {"f3", "[a-f][0-9]", true, 0, 2, {"f3"}},
        {"a.b", "%.", true, 1, 2, {"."}}, {"a\0b"s, "%z", true, 1, 2, {"\0"s}},
        {"a\0b"s, "[%z]b", true, 1, 3, {"\0b"s}}, {"\xF7\xD7", "%a", true, 1, 2, {"\xD7"}},
        {"\xE9t\xE9", "%w+", true, 0, 3, {"\xE9t\xE9"}}, {"\xC9", "%u", false, 0, 0, {}},
        {"\x80 ", "%P", true, 0, 1, {"\x80"}}, {"ab", "%A", false, 0, 0, {}},
        {"tab\there", "%s", true, 3, 4, {"\t"}}, {"\x01x", "%c", true, 0, 1, {"\x01"}},
        {"end", "%f[%z]", true, 3, 3, {""}},
    };
    for (const Case& c : cases) {
        Found f = Find(c.s, c.p);
        ASSERT_EQ(f.error, ERR_NONE) << c.p;
        EXPECT_EQ(f.found, c.found) << c.s << " ~ " << c.p;
        if (f.found && c.found) {
            EXPECT_EQ(std::tie(f.start, f.end, f.captures), std::tie(c.start, c.end, c.caps)) << c.p;
        }
    }

    EXPECT_EQ(Find("abab", "ab", 1).start, 2u);
    EXPECT_EQ(Find("abab", "", 4).start, 4u);
    EXPECT_EQ(Find("abab", "ab", 5).error, ERR_WRONGUSAGE);
    EXPECT_FALSE(Find("abab", "^ab", 1).found);
    // The iterator takes "^" as an ordinary character.
    Found f = Find("a^b", "^b", 0, false);
    EXPECT_TRUE(f.found && f.start == 1);
}

TEST(Patterns, MalformedPatternsGiveTheirCodes)
{
    struct Case { const char* p; ErrorCode code; };
    const Case cases[] = {
        {"[a", ERR_MALFORMPAT2}, {"[", ERR_MALFORMPAT2}, {"[]", ERR_MALFORMPAT2}, {"[a%", ERR_MALFORMPAT2},
        {"abc%", ERR_MALFORMPAT1}, {"a)", ERR_INVPATCAP}, {"%ba", ERR_UNBALANCEDPAT}, {"%b", ERR_UNBALANCEDPAT},
        {"%fa", ERR_MISSINGOPBRACK}, {"%f", ERR_MISSINGOPBRACK}, {"(a)%2", ERR_INVCAPIDX}, {"%0", ERR_INVCAPIDX},
        {"(a%1)", ERR_INVCAPIDX}, {"(a", ERR_UNFINISHEDCAPTURE},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Find("abc", c.p).error, c.code) << c.p;

    std::string many = Repeat("()", 33);
    EXPECT_EQ(Find("abc", many).error, ERR_TOOMANYCAPTURES);
    EXPECT_EQ(Find("abc", std::string(33, '(')).error, ERR_TOOMANYCAPTURES);
    EXPECT_EQ(Find("abc", many.substr(2)).error, ERR_NONE);
}

TEST(Patterns, DeepPatternsStopWithAnError)
{
    // Each optional item that matches nests the matcher once more.
    std::string subject(5000, 'a');
    EXPECT_EQ(Find(subject, Repeat("a?", 5000)).error, ERR_STACK);
    EXPECT_EQ(Find(subject, Repeat("a-", 5000) + "b").error, ERR_STACK);
    // Long patterns of plain items need no recursion at all.
    EXPECT_TRUE(Find(subject, subject).found);
    // Within the limit a chain of optional items still works.
    Found f = Find(std::string(100, 'a') + "b", Repeat("a?", 100) + "b$");
    EXPECT_TRUE(f.found && f.end == 101);
}

TEST(Patterns, ReplaceWithTemplates)
{
    struct Case { std::string s, p, repl; int64_t max; std::string out; int64_t count; };
    const Case cases[] = {
        {"hello world", "o", "0", 12, "hell0 w0rld", 2}, {"abc", "", "-", 4, "-a-b-c-", 4},
        {"abc", "%w", "<%%>", 4, "<%><%><%>", 3}, {"hello world", "(%w+) (%w+)", "%2 %1", 12, "world hello", 1},
        {"abc", "()b", "%1", 4, "a2c", 1}, {"aaa", "^a", "b", 4, "baa", 1}, {"abc", "x*", "-", 4, "-a-b-c-", 4},
        {"abc", "b", "x", 0, "abc", 0}, {"abc", "b", "x", -3, "abc", 0}, {"a\0b\0"s, "%z", "0", 5, "a0b0", 2},
        {"a,b", ",", "%", 4, "a%b", 1},
    };
    for (const Case& c : cases) {
        std::string out;
        int64_t count = -1;
        ASSERT_EQ(Replace(c.s, c.p, c.repl, c.max, &out, &count), ERR_NONE) << c.p;
        EXPECT_EQ(out, c.out) << c.s << " / " << c.p << " / " << c.repl;
        EXPECT_EQ(count, c.count) << c.p;
    }
    std::string out;
    int64_t count;
    EXPECT_EQ(Replace("abc", "%w", "%0", 4, &out, &count), ERR_INVCAPIDX);
    EXPECT_EQ(Replace("abc", "%w", "%1", 4, &out, &count), ERR_INVCAPIDX);
    EXPECT_EQ(Replace("abc", "(%w)", "%2", 4, &out, &count), ERR_INVCAPIDX);
    EXPECT_EQ(Replace("abc", "[", "x", 4, &out, &count), ERR_MALFORMPAT2);
}

TEST(Patterns, SearchShortcutsAgreeWithTryingEveryPosition)
{
    // The search skips positions where the first item cannot match; trying
    // every position through the matcher must give the same outcome.
    const char* tokens[] = {"a", "b", ".", "%a", "%d", "[ab]", "[^a]", "*", "+", "-", "?", "(", ")", "%1",
                            "%z", "$", "^", "%b()", "%f[%a]", "%", "["};
    const char subjectBytes[] = {'a', 'b', '1', '(', ')', ' ', '\0', 'A'};
    uint32_t seed = 99;
    auto next = [&](uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };
    for (int iter = 0; iter < 20000; ++iter) {
        std::string p, s;
        for (uint32_t i = 0, n = next(5) + 1; i < n; ++i)
            p += tokens[next(sizeof tokens / sizeof *tokens)];
        for (uint32_t i = 0, n = next(10); i < n; ++i)
            s += subjectBytes[next(sizeof subjectBytes)];

        MatchState ms;
        bool found;
        size_t start = 0, end = 0;
        ErrorCode err = PatternFind(&ms, s, p, 0, false, &found, &start, &end);

        MatchState ref;
        InitMatchState(&ref, s, p);
        ErrorCode refErr = ERR_NONE;
        bool refFound = false;
        size_t refStart = 0, refEnd = 0;
        for (size_t at = 0; at <= s.size(); ++at) {
            const char* e;
            refErr = PatternMatchAt(&ref, s.data() + at, p.data(), &e);
            if (refErr)
                break;
            if (e) {
                refFound = true;
                refStart = at;
                refEnd = static_cast<size_t>(e - s.data());
                break;
            }
        }
        ASSERT_EQ(err, refErr) << p << " on " << s;
        ASSERT_EQ(found, refFound) << p << " on " << s;
        if (found) {
            ASSERT_EQ(start, refStart) << p << " on " << s;
            ASSERT_EQ(end, refEnd) << p << " on " << s;
        }
    }
}
