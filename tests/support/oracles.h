// The independent programs and files the tests check against (Python with
// PIL, ImageMagick, ffmpeg, nginx, ps, the Vera fonts...), and what a test
// does when one is missing. A developer's machine may lack some: the tests
// that need them skip. scripts/test-all.sh sets QM_REQUIRE_ORACLES=1, and
// there every peer must be present, so a missing one fails its test instead
// of letting a skip pass for a success.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

inline constexpr const char* kSystemPython = "/usr/bin/python3";
inline constexpr const char* kImageMagick = "/usr/bin/convert";

inline bool OraclesRequired()
{
    const char* required = std::getenv("QM_REQUIRE_ORACLES");
    return required && std::strcmp(required, "1") == 0;
}

// In a test body or SetUp: when `present` is false, ends the test as skipped,
// or as failed when the oracles are required. What follows is streamed into
// the message: QM_SKIP_WITHOUT(HavePil()) << "PIL is the oracle";
#define QM_SKIP_WITHOUT(present)                                                                             \
    GTEST_AMBIGUOUS_ELSE_BLOCKER_                                                                            \
    if (present) {                                                                                           \
    } else                                                                                                   \
        return GTEST_MESSAGE_AT_(__FILE__, __LINE__,                                                         \
                                 OraclesRequired() ? "a test oracle is missing and QM_REQUIRE_ORACLES=1" : "", \
                                 OraclesRequired() ? ::testing::TestPartResult::kFatalFailure                \
                                                   : ::testing::TestPartResult::kSkip)

// For a check against a peer within a test that goes on without it: false
// when the peer is missing, which is a failure when the oracles are
// required.
inline bool OracleAtHand(bool present, const std::string& what)
{
    if (!present && OraclesRequired())
        ADD_FAILURE() << "a test oracle is missing and QM_REQUIRE_ORACLES=1: " << what;
    return present;
}

inline bool HaveProgram(const char* path) { return access(path, X_OK) == 0; }
inline bool HaveReadableFile(const char* path) { return access(path, R_OK) == 0; }

// Only the system interpreter has PIL.
inline bool HavePil()
{
    static const bool have =
        std::system("/usr/bin/python3 -c 'import PIL.Image' >/dev/null 2>&1") == 0;
    return have;
}

// The python3 on the search path, as the byte-format tests run it.
inline bool HavePython()
{
    static const bool have = std::system("python3 -c 'import zlib, base64' >/dev/null 2>&1") == 0;
    return have;
}

inline bool HaveConvert()
{
    static const bool have = std::system("/usr/bin/convert -version >/dev/null 2>&1") == 0;
    return have;
}

inline bool HaveFfmpeg()
{
    static const bool have = std::system("command -v ffmpeg >/dev/null 2>&1") == 0;
    return have;
}
