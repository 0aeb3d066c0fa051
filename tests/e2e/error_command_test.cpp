// The Error command in the player: it fails as any command fails, so a
// RaiseOnError handler sees it like the others (without one the run ends
// with the script's own message: error_locations_test).
#include <gtest/gtest.h>

#include <string>

#include "e2e/test_applet.h"

using namespace qmasm;

namespace {

// Line 17 calls Error; with the handler installed, the handler prints what
// it was given and the script goes on after the call.
const std::string kErrorScript = MainScript(
    ".function handler params=4\n    GETGLOBAL r4, \"debugprint\"\n"
    "    MOVE r5, r0\n    MOVE r6, r1\n    MOVE r7, r2\n    MOVE r8, r3\n    CALL r4, 5, 1\n    RETURN r0, 1\n.end\n"
    "INSTALL" + ErrorAfter("after", CommandCall("error", {"\"the script's own failure\""})));

// Each installation takes three lines, so that Error stays on line 17.
TEST(ErrorCommand, FailsAsEveryCommandFails)
{
    struct Case {
        const char *what, *install;
        int status;
        const char *out, *err;
    };
    const Case cases[] = {
        {"a RaiseOnError handler gets code, message, name and line",
         "    GETGLOBAL r0, \"raiseonerror\"\n    CLOSURE r1, handler\n    CALL r0, 2, 1\n", 0,
         "1239 the script's own failure Error 17\nafter 0\n", ""},
        // With errors only recorded, Error is recorded too: the script goes
        // on and GetLastError tells what failed.
        {"after ExitOnError off it is only recorded",
         "    GETGLOBAL r0, \"exitonerror\"\n    LOADK r1, #0\n    CALL r0, 2, 1\n", 0, "after 1239\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        PlayerRun run = PlayApplet(dir, AssembleTestApplet(Fill(kErrorScript, {{"INSTALL", c.install}})));
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, c.err);
    }
}

}  // namespace
