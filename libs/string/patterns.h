// The pattern language of the string library: character classes, sets,
// quantifiers, captures, balanced pairs and frontiers, matched byte by byte
// with backtracking at quantifiers. The matcher works on the subject in
// place and allocates nothing; captures are (start, length) pairs.
//
// Pattern errors come back as codes (ERR_INVCAPIDX ... ERR_UNFINISHEDCAPTURE);
// a pattern that nests the matcher deeper than kMaxPatternDepth gives
// ERR_STACK instead of exhausting the machine stack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/io/error_codes.h"

constexpr int kMaxPatternCaptures = 32;
constexpr int kMaxPatternDepth = 200;
constexpr ptrdiff_t kCaptureUnclosed = -1;
constexpr ptrdiff_t kCapturePosition = -2;

struct PatternCapture {
    const char* start;
    ptrdiff_t length;  // or kCaptureUnclosed / kCapturePosition
};

struct MatchState {
    const char* subjectStart;
    const char* subjectEnd;
    const char* patternEnd;
    int level;  // captures opened so far
    int depth;  // current nesting of the matcher
    PatternCapture capture[kMaxPatternCaptures];
};

// Prepares a state for matching in subject s with pattern p.
void InitMatchState(MatchState* ms, std::string_view s, std::string_view p);

// Matches the pattern from p at subject position s (captures reset first).
// *end is the end of the match, or null when the pattern does not match.
ErrorCode PatternMatchAt(MatchState* ms, const char* s, const char* p, const char** end);

// The first match at or after subject offset start, trying each position up
// to and including the end. With honourCaret a leading "^" anchors the search
// at start. ERR_WRONGUSAGE when start lies beyond the subject. *found tells
// whether there was a match; its bounds are given as offsets.
ErrorCode PatternFind(MatchState* ms, std::string_view s, std::string_view p, size_t start, bool honourCaret,
                      bool* found, size_t* matchStart, size_t* matchEnd);

// A capture as the script sees it: a text, or a 1-based position.
struct CaptureValue {
    bool isPosition;
    size_t position;
    std::string_view text;
};

// Number of values a match yields: its captures, or 1 (the whole match).
int PatternCaptureCount(const MatchState& ms);
// Capture i (from 0) of the match [s, e); the whole match when the pattern
// has no captures and i is 0. ERR_UNFINISHEDCAPTURE for a capture left open,
// ERR_INVCAPIDX for an index beyond the captures.
ErrorCode GetPatternCapture(const MatchState& ms, int i, const char* s, const char* e, CaptureValue* out);

// What replaces each match in PatternReplace.
struct PatternReplacer {
    void* context;
    ErrorCode (*append)(void* context, const MatchState& ms, const char* s, const char* e, std::string* out);
};

// The replacement template: "%1".."%9" insert captures, "%" and any other
// byte insert that byte.
ErrorCode AppendTemplateReplacement(const MatchState& ms, std::string_view repl, const char* s, const char* e,
                                    std::string* out);

// Replaces up to max matches (none when max < 1), scanning from the start;
// a leading "^" allows one try at the start only. *out gets the new string.
ErrorCode PatternReplace(std::string_view s, std::string_view p, const PatternReplacer& replacer, int64_t max,
                         std::string* out, int64_t* count);
