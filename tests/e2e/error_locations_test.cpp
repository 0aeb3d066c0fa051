// Where the player says an error happened: each failure a RaiseOnError
// handler takes is told at its own line, and so is the error that ends the
// run after any number of handled ones; a command called through a table
// value is named as the command it is.
#include <gtest/gtest.h>

#include <string>

#include "e2e/test_applet.h"

using namespace qmasm;

namespace {

// The handler prints code, function name and line. Failures at lines 21,
// 12 (in "inner", called from line 25) and 29 go to it; line 33 removes it
// and line 40 ends the run. HANDLER_END is the rest of the handler (at
// line 9), END what line 40 runs.
const std::string kLinesScript =
    ".function main source=\"@test.qas\"\n.function handler params=4 line=3\n.line 4\n"
    "    GETGLOBAL r4, \"debugprint\"\n    MOVE r5, r0\n    MOVE r6, r2\n    MOVE r7, r3\n    CALL r4, 4, 1\n"
    ".line 9\nHANDLER_END    RETURN r0, 1\n.end\n.function inner line=10\n.line 12\n" +
    CommandCall("filetostring", {"\"missing\""}) + "    RETURN r0, 1\n.end\n.line 2\n" +
    "    GETGLOBAL r0, \"raiseonerror\"\n    CLOSURE r1, handler\n    CALL r0, 2, 1\n.line 21\n" +
    CommandCall("filetostring", {"\"missing\""}) + ".line 25\n    CLOSURE r0, inner\n    CALL r0, 1, 1\n.line 29\n" +
    CommandCall("error", {"\"handled at 29\""}) + ".line 33\n" + CommandCall("raiseonerror", {"#0"}) +
    ".line 40\nEND    RETURN r0, 1\n.end\n";

TEST(ErrorLocations, EachErrorIsToldAtItsOwnLine)
{
    const std::string handled = "1045 FileToString 21\n1045 FileToString 12\n1239 Error 29\n";
    struct Case {
        const char* what;
        std::string handlerEnd, end, out, err;
    };
    const Case cases[] = {
        {"a command failing after handled ones", "", CommandCall("error", {"\"the end\""}), handled,
         "QuillmerePlayer: the end\nFile: test.qas (current line: 40 - In function: Error)\n"},
        {"a run-time error after handled ones", "", "    NEWTABLE r1, 0, 0\n    ADD r0, r1, #1\n", handled,
         "QuillmerePlayer: Wrong operator for this type!\nAddition of a table and a number\n"
         "File: test.qas (current line: 40)\n"},
        // The handler's own failure is where the handler is, not where the
        // error it took was.
        {"the handler failing", CommandCall("error", {"\"the handler gave up\""}), "", "1045 FileToString 21\n",
         "QuillmerePlayer: the handler gave up\nFile: test.qas (current line: 9 - In function: Error)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        PlayerRun run = PlayApplet(
            dir, AssembleTestApplet(Fill(kLinesScript, {{"HANDLER_END", c.handlerEnd}, {"END", c.end}})));
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, c.err);
    }
}

// Error stored in a table under a string key and under a number key (whose
// call names no key at all): the handler and the final report both name
// Error. Each installation takes three lines, so that the calls are on
// lines 19 and 22.
TEST(ErrorLocations, ACommandCalledThroughATableIsNamedAsTheCommand)
{
    const std::string script = MainScript(
        ".function handler params=4\n    GETGLOBAL r4, \"debugprint\"\n    MOVE r5, r2\n    MOVE r6, r3\n"
        "    CALL r4, 3, 1\n    RETURN r0, 1\n.end\n"
        "    NEWTABLE r0, 0, 0\n    GETGLOBAL r1, \"error\"\n    SETTABLE r0, \"f\", r1\n"
        "    SETTABLE r0, #1, r1\n"
        "INSTALL"
        "CALLS");
    const std::string byNumber = "    GETTABLE r1, r0, #1\n    LOADK r2, \"by number\"\n    CALL r1, 2, 1\n";
    const std::string byName = "    GETTABLE r1, r0, \"f\"\n    LOADK r2, \"by name\"\n    CALL r1, 2, 1\n";
    const std::string noHandler = "    LOADNIL r1, r1\n    LOADNIL r1, r1\n    LOADNIL r1, r1\n";
    struct Case {
        const char* what;
        std::string install, calls;
        int status;
        const char *out, *err;
    };
    const Case cases[] = {
        {"told to the handler", "    GETGLOBAL r1, \"raiseonerror\"\n    CLOSURE r2, handler\n    CALL r1, 2, 1\n",
         byNumber + byName, 0, "Error 19\nError 22\n", ""},
        {"in the final report, by number", noHandler, byNumber, 1, "",
         "QuillmerePlayer: by number\nFile: test.qas (current line: 19 - In function: Error)\n"},
        {"in the final report, by name", noHandler, byName, 1, "",
         "QuillmerePlayer: by name\nFile: test.qas (current line: 19 - In function: Error)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        PlayerRun run = PlayApplet(dir, AssembleTestApplet(Fill(script, {{"INSTALL", c.install}, {"CALLS", c.calls}})));
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, c.err);
    }
}

// A command is named by what it is, whatever key or global it was called
// through, even one that holds another command's name; a script function
// keeps the name it was called under, a command's name too.
TEST(ErrorLocations, ACommandIsNamedByItsRegistrationNotByTheNameItWasCalledThrough)
{
    const std::string script = MainScript(
        ".function handler params=4\n    GETGLOBAL r4, \"debugprint\"\n    MOVE r5, r2\n    CALL r4, 2, 1\n"
        "    RETURN r0, 1\n.end\n"
        ".function fails line=9\n    NEWTABLE r0, 0, 0\n    ADD r0, r0, #1\n    RETURN r0, 1\n.end\n"
        "    GETGLOBAL r0, \"raiseonerror\"\n    CLOSURE r1, handler\n    CALL r0, 2, 1\n"
        "    NEWTABLE r0, 0, 0\n    GETGLOBAL r1, \"chr\"\n    SETTABLE r0, \"val\", r1\n"
        "    GETTABLE r1, r0, \"val\"\n    LOADK r2, #999\n    CALL r1, 2, 1\n"
        "    GETGLOBAL r1, \"chr\"\n    SETGLOBAL r1, \"val\"\n    SETTABLE r0, \"f\", r1\n"
        "    GETTABLE r1, r0, \"f\"\n    LOADK r2, #999\n    CALL r1, 2, 1\n"
        "    CLOSURE r1, fails\n    SETGLOBAL r1, \"val\"\n    GETGLOBAL r1, \"val\"\n    CALL r1, 1, 1\n");
    TempDir dir;
    PlayerRun run = PlayApplet(dir, AssembleTestApplet(script));
    EXPECT_EQ(run.out, "Chr\nChr\n");
    // A run-time error is no command's: it ends the run, in the function.
    ExpectReport(run, "QuillmerePlayer: Wrong operator for this type!\nAddition of a table and a number\n"
                      "File: test.qas (current line: 11 - In function: val)\n");
}

}  // namespace
