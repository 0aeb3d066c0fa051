// Applets made by the qmasm command, run by the player as a user runs them:
// every runtime error names the assembly file and the line, and an argument
// error the command, whether the error comes from a command or the script
// itself inside nested functions (a missing file: tests/e2e ErrorDetails).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/player_process.h"
#include "support/temp_dir.h"

namespace {

const char kPlayer[] = QM_PLAYER_PATH;
const char kQmasm[] = QM_QMASM_PATH;

// Assembles `text` as NAME.qas with the qmasm command and runs the applet.
PlayerRun AssembleAndRun(const TempDir& dir, const std::string& name, const std::string& text)
{
    std::string source = dir / (name + ".qas"), applet = dir / (name + ".qma");
    WriteFileBytes(source, std::vector<uint8_t>(text.begin(), text.end()));
    PlayerRun assembled = RunProgram(kQmasm, {source, "--applet", applet});
    EXPECT_EQ(assembled.status, 0) << assembled.err;
    return RunProgram(kPlayer, {applet});
}

// An argument error names the command; a script error inside nested
// functions names its own line.
TEST(AssembledAppletErrors, RuntimeErrorsNameFileLineAndCommand)
{
    TempDir dir;
    const struct {
        const char* name;
        std::string text;
        std::vector<std::string> shown;
    } cases[] = {
        {"args",
         "; OpenFile needs a file name\n    GETGLOBAL r0, \"openfile\"\n    LOADK r1, #1\n    CALL r0, 2, 1\n",
         {"Not enough arguments!", "File: args.qas (current line: 4 - In function: OpenFile)"}},
        {"nested",
         ".function outer\n    CLOSURE r0, inner\n    CALL r0, 1, 1\n.function inner\n    LOADNIL r0, r0\n"
         "    GETTABLE r1, r0, \"x\"  ; indexes nil\n.end\n.end\n    CLOSURE r0, outer\n    CALL r0, 1, 1\n",
         {"File: nested.qas (current line: 6"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PlayerRun run = AssembleAndRun(dir, c.name, c.text);
        EXPECT_EQ(run.status, 1);
        for (const std::string& s : c.shown)
            EXPECT_NE(run.err.find(s), std::string::npos) << run.err;
    }
}

}  // namespace
