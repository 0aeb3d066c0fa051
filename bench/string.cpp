// ReplaceStr and the pattern commands' engines over 10 MB of text. The same
// work is timed in Python by bench/string_ref.py, for comparison on the same
// machine.
#include <benchmark/benchmark.h>

#include <string>

#include "libs/string/patterns.h"
#include "libs/string/string_ops.h"

namespace {

// The text both benchmarks use: one paragraph repeated to 10 MB.
const std::string& Text()
{
    static const std::string text = [] {
        const std::string paragraph =
            "Lorem ipsum dolor sit amet, consectetur adipiscing elit 2024, sed do eiusmod tempor\n"
            "incididunt ut labore et dolore magna aliqua 17.  Ut enim ad minim veniam, quis nostrud\n"
            "exercitation ullamco laboris nisi ut aliquip ex ea commodo consequat 9000. Duis aute\n"
            "irure dolor in reprehenderit in voluptate velit esse cillum dolore eu fugiat nulla\t\n"
            "pariatur. Excepteur sint occaecat cupidatat non proident, sunt in culpa qui officia\n"
            "deserunt mollit anim id est laborum lorem 42.\n";
        std::string t;
        while (t.size() < 10 * 1024 * 1024)
            t += paragraph;
        return t;
    }();
    return text;
}

void BM_ReplaceStr(benchmark::State& state)
{
    const std::string& text = Text();
    std::string out;
    for (auto _ : state) {
        ReplaceBytes(text, "dolor", "DOLOR!", true, 0, &out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_ReplaceStr)->Unit(benchmark::kMillisecond);

void BM_ReplaceStrNoCase(benchmark::State& state)
{
    const std::string& text = Text();
    std::string out;
    for (auto _ : state) {
        ReplaceBytes(text, "DOLOR", "x", false, 0, &out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_ReplaceStrNoCase)->Unit(benchmark::kMillisecond);

// Every match of a pattern, the way the iterator walks the text.
int64_t CountMatches(std::string_view text, std::string_view pattern)
{
    MatchState ms;
    int64_t n = 0;
    size_t at = 0, s, e;
    bool found;
    while (at <= text.size() && PatternFind(&ms, text, pattern, at, false, &found, &s, &e) == ERR_NONE && found) {
        ++n;
        at = e > s ? e : e + 1;
    }
    return n;
}

void BM_PatternFindNumbers(benchmark::State& state)
{
    int64_t n = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(n = CountMatches(Text(), "%d+"));
    state.counters["matches"] = double(n);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Text().size()));
}
BENCHMARK(BM_PatternFindNumbers)->Unit(benchmark::kMillisecond);

void BM_PatternFindWordPair(benchmark::State& state)
{
    int64_t n = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(n = CountMatches(Text(), "ex(%a+) (%a+)"));
    state.counters["matches"] = double(n);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Text().size()));
}
BENCHMARK(BM_PatternFindWordPair)->Unit(benchmark::kMillisecond);

ErrorCode AppendSpace(void*, const MatchState&, const char*, const char*, std::string* out)
{
    out->push_back(' ');
    return ERR_NONE;
}

void BM_PatternReplaceBlanks(benchmark::State& state)
{
    const std::string& text = Text();
    std::string out;
    int64_t count = 0;
    PatternReplacer r{nullptr, AppendSpace};
    for (auto _ : state) {
        PatternReplace(text, "%s+", r, int64_t(text.size()) + 1, &out, &count);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["replacements"] = double(count);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_PatternReplaceBlanks)->Unit(benchmark::kMillisecond);

} // namespace
