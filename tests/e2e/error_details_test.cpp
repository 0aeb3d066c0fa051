// What the player's error report says beyond the message itself, run as a
// user runs it: the file it could not use, where it looked, the function
// and instruction of refused bytecode, and the values, ranges and types
// behind a run-time error. The message keeps its text on the first line;
// the detail follows on lines of its own, above the script's location.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "e2e/test_applet.h"
#include "media/image_files.h"
#include "support/picture_oracle.h"
#include "tools/qmasm/applet_writer.h"
#include "tools/qmasm/assembled_applet.h"
#include "tools/qmasm/assembler.h"

using namespace qmasm;

namespace {

const char kPlayer[] = QM_PLAYER_PATH;

class ErrorDetails : public ::testing::Test {
protected:
    TempDir dir;

    std::string Write(const std::vector<uint8_t>& bytes, const std::string& file)
    {
        std::string path = dir / file;
        WriteFileBytes(path, bytes);
        return path;
    }
    std::string WriteText(const std::string& text, const std::string& file)
    {
        return Write(std::vector<uint8_t>(text.begin(), text.end()), file);
    }
    std::string Applet(const std::string& source, const std::string& file = "test.qma")
    {
        return Write(WriteApplet(AssembleTestApplet(source)), file);
    }
    PlayerRun Play(std::vector<std::string> args) { return RunProgram(kPlayer, args, {"TMPDIR=" + dir.path()}); }
    // The player started in the test's folder, for relative names.
    PlayerRun PlayHere(const std::string& name)
    {
        return RunProgram("/bin/sh", {"-c", "cd \"$0\" && exec \"$1\" \"$2\"", dir.path(), kPlayer, name},
                          {"TMPDIR=" + dir.path()});
    }
};

TEST_F(ErrorDetails, RefusedBytecodeNamesTheAppletTheFunctionAndTheInstruction)
{
    // The assembler library writes what the qmasm command would refuse.
    std::string applet =
        Applet(MainScript(".function check line=3\n    MOVE r0, r0\n    EQ 1, r0, #0\n    RETURN r0, 1\n.end\n"));
    const std::string where =
        "In the function defined at line 3 of test.qas: instruction 1 (EQ, line 5) is not followed by JMP";
    ExpectReport(Play({applet}), "QuillmerePlayer: Bad bytecode!\nFile: " + applet + "\n" + where + "\n");

    // The debug device's error line stays one line.
    PlayerRun machine = Play({"-debugdevice", "console", applet});
    EXPECT_EQ(machine.status, 1);
    EXPECT_NE(machine.out.find("@_qmerror0:\"\"*Bad bytecode! (File: " + applet + "; " + where + ")\n"),
              std::string::npos)
        << machine.out;

    // Code that passes the load check but gives an instruction the wrong
    // type is refused as it runs, at its line and in its function.
    std::string running = Applet(MainScript(".function fill line=3\n    LOADNUM r1, 1\n    SETLIST r1, 0\n"
                                            "    RETURN r0, 1\n.end\n    CLOSURE r0, fill\n"
                                            "    SETGLOBAL r0, \"fill\"\n    GETGLOBAL r0, \"fill\"\n    CALL r0, 1, 1\n"),
                                 "running.qma");
    ExpectReport(Play({running}), "QuillmerePlayer: Bad bytecode!\nIn the function defined at line 3 of test.qas: "
                                  "instruction 1 (SETLIST) stores into a number\n"
                                  "File: test.qas (current line: 5 - In function: fill)\n");
}

TEST_F(ErrorDetails, FilesThatAreNoAppletsAreNamed)
{
    std::string source = WriteText("    LOADNUM r0, 1\n", "sum.qas");
    ExpectReport(Play({source}), "QuillmerePlayer: This is not a Quillmere applet!\nFile: " + source +
                                     "\nsum.qas is assembly text: qmasm sum.qas --applet sum.qma makes an applet of it\n");

    std::string notes = WriteText("some notes\n", "notes.txt");
    ExpectReport(Play({notes}), "QuillmerePlayer: This is not a Quillmere applet!\nFile: " + notes + "\n");

    std::string empty = WriteText("", "empty.qas");
    ExpectReport(Play({empty}), "QuillmerePlayer: Script is empty!\nFile: " + empty +
                                    "\nempty.qas is assembly text: qmasm empty.qas --applet empty.qma makes an "
                                    "applet of it\n");

    // Cut inside its sections, and a whole applet whose code chunk is cut.
    AppletDescription shortCode = AssembleTestApplet(MainScript("    LOADNUM r0, 1\n"));
    std::vector<uint8_t> whole = WriteApplet(shortCode);
    std::string cut = Write(std::vector<uint8_t>(whole.begin(), whole.begin() + 12), "cut.qma");
    ExpectReport(Play({cut}), "QuillmerePlayer: Unexpected end of file!\nFile: " + cut + "\n");
    shortCode.code.resize(30);
    std::string shortApplet = Write(WriteApplet(shortCode), "short.qma");
    ExpectReport(Play({shortApplet}), "QuillmerePlayer: Unexpected end of file!\nFile: " + shortApplet +
                                          "\nThe code chunk ends after 30 bytes, before its functions are complete\n");
}

TEST_F(ErrorDetails, FilesNotReadSayWhereTheyWereLookedFor)
{
    mkdir((dir / "folder.qma").c_str(), 0700);
    ExpectReport(PlayHere("folder.qma"),
                 "QuillmerePlayer: Cannot read file folder.qma !\n" + dir / "folder.qma" + " is a folder, not a file\n");

    ExpectReport(PlayHere("missing.qma"),
                 "QuillmerePlayer: File missing.qma does not exist!\nLooked for \"missing.qma\" in the folder " +
                     dir.path() + "\n");

    // A script's relative names are taken from the applet's folder. The
    // message shows the file part alone; the detail, the name as written.
    mkdir((dir / "data").c_str(), 0700);
    mkdir((dir / "data/sub").c_str(), 0700);
    const struct {
        std::string name;
        std::string detail;
    } reads[] = {
        {"data/sub", dir / "data/sub is a folder, not a file"},
        {"data/absent.txt", "Looked for \"data/absent.txt\" in the folder " + dir.path()},
        {"no/such/folder/data.bin", "Looked for \"no/such/folder/data.bin\" in the folder " + dir.path()},
        {dir / "gone/data.bin", "Looked for \"" + dir / "gone/data.bin\" in the folder " + dir / "gone"},
    };
    for (const auto& r : reads) {
        SCOPED_TRACE(r.name);
        std::string applet = Applet(MainScript(CommandCall("openfile", {"#1", "\"" + r.name + "\"", "#1005"})));
        std::string file = r.name.substr(r.name.rfind('/') + 1);
        ExpectReport(RunProgram(kPlayer, {applet}), "QuillmerePlayer: Cannot read file " + file + " !\n" + r.detail +
                                                        "\nFile: test.qas (current line: 7 - In function: OpenFile)\n");
    }
}

TEST_F(ErrorDetails, RunTimeErrorsAddTheValuesRangesAndTypes)
{
    // Types and attributes go in as numbers: the names in the reports are
    // the player's own (#DISPLAY 21, #VECTORPATH 49, #ANIM 4, #ATTRNUMFRAMES
    // 11, #ATTRFRAMEDELAY 37).
    std::string strip = dir / "strip.png";
    ASSERT_FALSE(WriteTestPng(strip, 12, 4).empty());
    const struct {
        std::string body;
        std::string report;
    } cases[] = {
        {"    NEWTABLE r1, 0, 0\n    LT 1, r1, #1\n    JMP +0\n",
         "Wrong operator for this type!\nComparison (<) of a table and a number\nFile: test.qas (current line: 4)"},
        {CommandCall("getattribute", {"#21", "#1", "#11"}, 1),
         "Unknown attribute specified!\nType #DISPLAY does not answer attribute #ATTRNUMFRAMES (11); it answers 53 "
         "attributes, listed under GetAttribute in docs/commands.md\n"
         "File: test.qas (current line: 7 - In function: GetAttribute)"},
        {CommandCall("getattribute", {"#49", "#1", "#9999"}, 1),
         "Unknown attribute specified!\nType #VECTORPATH does not answer attribute 9999, which no #ATTR constant "
         "names; it answers #ATTRCOUNT only\nFile: test.qas (current line: 7 - In function: GetAttribute)"},
        {CommandCall("loadanim", {"#5", "\"" + strip + "\"", "{frames=#3}"}) +
             CommandCall("getattribute", {"#4", "#5", "#37", "#9"}, 1),
         "Specified animation frame is out of range!\nFrame 9 asked for; frames 1 to 3 exist\n"
         "File: test.qas (current line: 14 - In function: GetAttribute)"},
        {CommandCall("setfileattributes", {"\"" + strip + "\"", "{time=\"31-Feb-2024 10:00\"}"}),
         "Invalid date specified!\nField time: \"31-Feb-2024 10:00\" is no date of the form dd-mmm-yyyy "
         "hh:mm:ss (07-Mar-2024 13:05:00) that a file can carry\n"
         "File: test.qas (current line: 7 - In function: SetFileAttributes)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        ExpectReport(Play({Applet(MainScript(c.body))}), "QuillmerePlayer: " + c.report + "\n");
    }
}

TEST_F(ErrorDetails, EachErrorShowsItsOwnDetail)
{
    // The first failing CompareDates is only recorded (exit on error is
    // off); the report is of the second, with its own date, and an error
    // of another code after a recorded one shows no detail at all.
    const std::string recorded = CommandCall("exitonerror", {"#0"}) +
                                 CommandCall("comparedates", {"\"first\"", "\"07-Mar-2024 13:05:00\""}, 1) +
                                 CommandCall("exitonerror", {"#1"});
    std::string applet =
        Applet(MainScript(recorded + CommandCall("comparedates", {"\"second\"", "\"07-Mar-2024 13:05:00\""}, 1)));
    ExpectReport(Play({applet}), "QuillmerePlayer: Invalid date specified!\n"
                                 "Date \"second\" is not of the form dd-mmm-yyyy hh:mm:ss (07-Mar-2024 13:05:00)\n"
                                 "File: test.qas (current line: 16 - In function: CompareDates)\n");
    std::string other = Applet(MainScript(recorded + CommandCall("upperstr", {})), "other.qma");
    ExpectReport(Play({other}), "QuillmerePlayer: Not enough arguments!\n"
                                "File: test.qas (current line: 14 - In function: UpperStr)\n");
}

}  // namespace
