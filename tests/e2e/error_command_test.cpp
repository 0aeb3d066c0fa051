// The Error command in the player: it fails as any command fails, so a
// RaiseOnError handler sees it like the others, and without one the run
// ends with the script's own message.
#include <gtest/gtest.h>

#include <string>

#include "e2e/player_process.h"
#include "e2e/test_applet.h"
#include "support/temp_dir.h"
#include "tools/qmasm/applet_writer.h"

using namespace qmasm;

namespace {

// Line 17 calls Error; with the handler installed, the handler prints what
// it was given and the script goes on after the call.
const char kErrorScript[] =
    ".chunk lines=auto\n"
    ".function main source=\"@test.qas\"\n"
    ".function handler params=4\n"
    "    GETGLOBAL r4, \"debugprint\"\n"
    "    MOVE r5, r0\n"
    "    MOVE r6, r1\n"
    "    MOVE r7, r2\n"
    "    MOVE r8, r3\n"
    "    CALL r4, 5, 1\n"
    "    RETURN r0, 1\n"
    ".end\n"
    "INSTALL"
    "    GETGLOBAL r0, \"error\"\n"
    "    LOADK r1, \"the script's own failure\"\n"
    "    CALL r0, 2, 1\n"
    "    GETGLOBAL r0, \"debugprint\"\n"
    "    LOADK r1, \"after\"\n"
    "    GETGLOBAL r2, \"getlasterror\"\n"
    "    CALL r2, 1, 2\n"
    "    CALL r0, 3, 1\n"
    "    RETURN r0, 1\n"
    ".end\n";

class ErrorCommand : public ::testing::Test {
protected:
    PlayerRun Run(const std::string& install)
    {
        // Every installation takes three lines, so that Error stays on line 17.
        std::string path = dir.file("test.qma");
        WriteFileBytes(path, WriteApplet(AssembleTestApplet(Fill(kErrorScript, {{"INSTALL", install}}))));
        return RunProgram(QM_PLAYER_PATH, {path}, {"TMPDIR=" + dir.path()});
    }

    TempDir dir;
};

TEST_F(ErrorCommand, RaiseOnErrorHandlerGetsCodeMessageNameAndLine)
{
    PlayerRun run = Run("    GETGLOBAL r0, \"raiseonerror\"\n"
                        "    CLOSURE r1, handler\n"
                        "    CALL r0, 2, 1\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "1239 the script's own failure Error 17\nafter 0\n");
}

TEST_F(ErrorCommand, WithoutAHandlerTheRunEndsWithTheMessage)
{
    PlayerRun run = Run("    LOADNIL r0, r0\n    LOADNIL r0, r0\n    LOADNIL r0, r0\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              "QuillmerePlayer: the script's own failure\n"
              "File: test.qas (current line: 17 - In function: Error)\n");
}

// With errors only recorded, Error is recorded too: the script goes on and
// GetLastError tells what failed.
TEST_F(ErrorCommand, AfterExitOnErrorOffItIsOnlyRecorded)
{
    PlayerRun run = Run("    GETGLOBAL r0, \"exitonerror\"\n"
                        "    LOADK r1, #0\n"
                        "    CALL r0, 2, 1\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "after 1239\n");
}

}  // namespace
