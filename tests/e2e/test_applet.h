// The applets of the end-to-end tests: assembly text turned into an applet
// whose code comes from "@test.qas", ready for preloads and other parts,
// and run by the player in a test's folder.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "e2e/player_process.h"
#include "support/temp_dir.h"
#include "tools/qmasm/applet_writer.h"
#include "tools/qmasm/assembler.h"

// A failure to assemble fails the test (with the assembler's message).
qmasm::AppletDescription AssembleTestApplet(const std::string& source, const qmasm::AssembleOptions& options = {});

// The source of an applet whose main function runs `body`.
std::string MainScript(const std::string& body);

// Writes the applet as test.qma in `dir` and runs the player on it, the
// options in `args` first, with TMPDIR (and `env`) set.
PlayerRun PlayApplet(const TempDir& dir, const qmasm::AppletDescription& applet, std::vector<std::string> args = {},
                     std::vector<std::string> env = {});

// A declaration of `file` as object `id` of the kind (0 background picture,
// 1 brush, 2 anim, 7 sprite with kind records of all values 0; other kinds
// with none) at the line; with `linked`, the applet carries those bytes.
qmasm::AppletPreload DeclaredFile(uint8_t kind, uint32_t id, const std::string& file, uint32_t line = 0,
                                  std::vector<uint8_t> linked = {});
// Display `id` declared as given.
qmasm::AppletPreload DeclaredDisplay(const qmasm::AppletDisplay& display, uint32_t id = 1);

// Assembly text that runs `call` and prints the label and the code
// GetLastError gives after it.
std::string ErrorAfter(const std::string& label, const std::string& call);

// A GetAttribute query: its object type, id (an assembly operand: #n,
// "text", or @global for a global's value) and attribute, an optional
// extra operand, and the values it must answer (none: empty), or "!code"
// for an error.
struct Ask {
    const char* label;
    int type;
    std::string id;
    int attribute;
    std::string expected;
    std::string extra = "";
};

// Assembly text that prints the label and the values the query answers;
// then the query again (queries change nothing) and GetLastError's code
// after the label and "!".
std::string AskText(const Ask& a);

// The run ended well and printed what each query must answer.
void ExpectAnswers(const PlayerRun& run, const std::vector<Ask>& asks);

// The run failed (status 1) with exactly `err` on the error stream.
void ExpectReport(const PlayerRun& run, const std::string& err);

// Fails the test for each of `lines` (a newline is added) missing from `out`.
void ExpectLines(const std::string& out, const std::vector<std::string>& lines);

// `text` with every occurrence of each key replaced by its value.
std::string Fill(std::string text, const std::vector<std::pair<std::string, std::string>>& values);

// Assembly text calling the global command `name` from r0 with `operands`
// in r1 on: assembly constants, "nil", @name for a global's value, or
// {key=constant,...} for a table. The first of `results` values lands in r0.
std::string CommandCall(const std::string& name, const std::vector<std::string>& operands, int results = 0);

// The source of an applet that runs `setup`, then `calls` between the debug
// lines "load begins" and "load ended", which tell how far it came.
std::string MarkedLoadScript(const std::string& calls, const std::string& setup = "");
