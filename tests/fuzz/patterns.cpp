// Fuzz target for the pattern matcher: arbitrary patterns on arbitrary
// subjects must give a match, no match or an error code, never a crash, and
// every reported bound and capture must lie inside the subject.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "libs/string/patterns.h"

namespace {

ErrorCode TemplateAppend(void* ctx, const MatchState& ms, const char* s, const char* e, std::string* out)
{
    return AppendTemplateReplacement(ms, *static_cast<std::string_view*>(ctx), s, e, out);
}

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    // First byte: where the pattern ends; then pattern, subject.
    size_t split = 1 + data[0] % 48;
    if (split > size)
        split = size;
    std::string_view p(reinterpret_cast<const char*>(data + 1), split - 1);
    std::string_view s(reinterpret_cast<const char*>(data + split), size - split);
    // Backtracking time grows as the subject length to the power of the
    // number of quantifiers; keep both small so every input finishes quickly.
    int quantifiers = 0;
    for (char c : p)
        quantifiers += c == '*' || c == '+' || c == '-' || c == '?';
    if (quantifiers > 3 || s.size() > 64)
        return 0;

    MatchState ms;
    bool found;
    size_t start = 0, end = 0;
    for (size_t from = 0; from <= s.size(); ++from) {
        if (PatternFind(&ms, s, p, from, true, &found, &start, &end) != ERR_NONE || !found)
            break;
        Check(from <= start && start <= end && end <= s.size());
        for (int i = 0; i < PatternCaptureCount(ms); ++i) {
            CaptureValue v;
            if (GetPatternCapture(ms, i, s.data() + start, s.data() + end, &v) != ERR_NONE)
                break;
            if (v.isPosition)
                Check(v.position >= 1 && v.position <= s.size() + 1);
            else
                Check(v.text.data() >= s.data() && v.text.data() + v.text.size() <= s.data() + s.size());
        }
        from = end > start ? end - 1 : end;
    }

    std::string_view repl = p.substr(0, p.size() / 2);
    PatternReplacer r{&repl, TemplateAppend};
    std::string out;
    int64_t count = 0;
    if (PatternReplace(s, p, r, static_cast<int64_t>(s.size()) + 1, &out, &count) == ERR_NONE)
        Check(count >= 0 && count <= static_cast<int64_t>(s.size()) + 1);
    return 0;
}
