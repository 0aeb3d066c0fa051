// Preferences and the applet's own texts as a user meets them: applets made
// by qmasm, run with the preferences folder in a test folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "e2e/test_applet.h"

using namespace qmasm;

namespace {

const std::string kPrefsFolder = "KestromDelvonix/Quillmere/Preferences";

// Writes `text` as NAME.qas in `dir` and assembles it into NAME.qma with
// the options; answers the applet's path.
std::string Make(const TempDir& dir, const std::string& name, const std::string& text,
                 std::vector<std::string> options)
{
    std::string source = dir / (name + ".qas"), applet = dir / (name + ".qma");
    WriteFileText(source, text);
    options.insert(options.begin(), {source, "--applet", applet});
    PlayerRun made = RunProgram(QM_QMASM_PATH, options);
    EXPECT_EQ(made.status, 0) << made.err;
    return applet;
}

std::set<std::string> FilesBelow(const std::string& root)
{
    std::set<std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root))
        if (!e.is_directory())
            files.insert(std::filesystem::relative(e.path(), root).string());
    return files;
}

const char kSave[] =
    "    NEWTABLE r1, 0, 0\n    SETTABLE r1, \"name\", \"Zo\xC3\xAB \xE2\x80\x93 \xE6\x9D\xB1\xE4\xBA\xAC\"\n"
    "    SETTABLE r1, \"count\", #42.5\n    NEWTABLE r2, 0, 0\n    SETTABLE r2, #0, \"first\"\n"
    "    SETTABLE r2, #1, #-7\n    NEWTABLE r3, 0, 0\n    SETTABLE r3, \"x\", \"\xC3\xBC\"\n"
    "    SETTABLE r2, \"deep\", r3\n    SETTABLE r1, \"inner\", r2\n"
    "    GETGLOBAL r0, \"saveprefs\"\n    CALL r0, 2, 1\n";

// Prints how many entries the table holds after LoadPrefs and its own entry;
// then, when the saved ones came in, those.
const char kLoad[] =
    "    NEWTABLE r0, 0, 0\n    SETTABLE r0, \"mine\", \"kept\"\n    GETGLOBAL r1, \"loadprefs\"\n    MOVE r2, r0\n"
    "    CALL r1, 2, 1\n    GETGLOBAL r1, \"debugprint\"\n    GETGLOBAL r2, \"tableitems\"\n    MOVE r3, r0\n"
    "    CALL r2, 2, 2\n    GETTABLE r3, r0, \"mine\"\n    CALL r1, 3, 1\n    GETGLOBAL r1, \"tableitems\"\n"
    "    MOVE r2, r0\n    CALL r1, 2, 2\n    EQ 1, r1, #1\n    JMP done\n    GETGLOBAL r1, \"debugprint\"\n"
    "    GETTABLE r2, r0, \"name\"\n    GETTABLE r3, r0, \"count\"\n    GETTABLE r6, r0, \"inner\"\n"
    "    GETTABLE r4, r6, #0\n    GETTABLE r5, r6, #1\n    GETTABLE r6, r6, \"deep\"\n    GETTABLE r6, r6, \"x\"\n"
    "    CALL r1, 6, 1\ndone:\n";

// Two applets of their own, in folders of their own, share what they save
// through the identifier alone; a third deletes it.
TEST(Preferences, AppletsWithOneIdentifierShareTheirFile)
{
    TempDir dir;
    std::vector<std::string> id = {"--identifier", "com.example.prefs"};
    std::string saver = Make(dir, "one/saver", kSave, id);
    std::string loader = Make(dir, "two/loader", kLoad, id);
    std::string deleter = Make(dir, "two/deleter", "    GETGLOBAL r0, \"deleteprefs\"\n    CALL r0, 1, 1\n", id);
    std::vector<std::string> env = {"XDG_CONFIG_HOME=" + dir / "config", "TMPDIR=" + dir.path()};
    std::string file = dir / ("config/" + kPrefsFolder + "/com.example.prefs");
    auto prints = [&](const std::string& applet) {
        PlayerRun run = RunProgram(QM_PLAYER_PATH, {applet}, env);
        EXPECT_EQ(run.status, 0) << run.err;
        return run.out;
    };

    EXPECT_EQ(prints(loader), "1 kept\n");
    EXPECT_EQ(prints(saver), "");
    EXPECT_EQ(FilesBelow(dir / "config"), std::set<std::string>{kPrefsFolder + "/com.example.prefs"});

    EXPECT_EQ(prints(loader), "4 kept\nZo\xC3\xAB \xE2\x80\x93 \xE6\x9D\xB1\xE4\xBA\xAC 42.5 first -7 \xC3\xBC\n");

    // Gone for good: loading again leaves the table as it was.
    EXPECT_EQ(prints(deleter), "");
    EXPECT_FALSE(FileExists(file));
    EXPECT_EQ(prints(loader), "1 kept\n");
}

// An applet that another tool wrote may name any file: each command refuses
// a name that is not a plain file name as it refuses a missing one, and the
// file beside the folder that such a name would reach stays as it was.
TEST(Preferences, AnIdentifierThatIsNoPlainFileNameReachesNothing)
{
    TempDir dir;
    std::string victim = dir / "config/KestromDelvonix/Quillmere/victim";
    std::filesystem::create_directories(dir / ("config/" + kPrefsFolder + "/a"));
    WriteFileText(victim, "keep");
    std::string script = CommandCall("exitonerror", {"#0"});
    for (const char* command : {"saveprefs", "loadprefs"})
        script += ErrorAfter(command, CommandCall(command, {"{}"}));
    script += ErrorAfter("deleteprefs", CommandCall("deleteprefs", {}));
    // First an applet without any identifier.
    std::optional<std::string> ids[] = {std::nullopt, "../victim", "..\\victim", "a/b", "..", ".", "", "a:b"};
    for (const auto& id : ids) {
        SCOPED_TRACE(id.value_or("(none)"));
        AppletDescription a = AssembleTestApplet(MainScript(script));
        a.identifier = id;
        PlayerRun run = PlayApplet(dir, a, {}, {"XDG_CONFIG_HOME=" + dir / "config"});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, "saveprefs 1055\nloadprefs 1055\ndeleteprefs 1055\n");
    }
    EXPECT_EQ(FilesBelow(dir.path()), (std::set<std::string>{"test.qma", "config/KestromDelvonix/Quillmere/victim"}));
    EXPECT_EQ(ReadFileBytes(victim), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
}

TEST(Preferences, GetApplicationInfoGivesTheTextsQmasmWasGiven)
{
    TempDir dir;
    std::string script;
    for (const char* field : {"title", "version", "copyright", "author", "description", "identifier"})
        script += std::string("    GETGLOBAL r0, \"getapplicationinfo\"\n    CALL r0, 1, 2\n") +
                  "    GETGLOBAL r1, \"debugprint\"\n    GETTABLE r2, r0, \"" + field + "\"\n    CALL r1, 2, 1\n";
    // The longest text the player keeps whole: 255 bytes.
    std::string longest = std::string(252, 'd') + "\xC3\xBC" + "!";
    std::string applet = Make(dir, "info", script,
                              {"--title", "Zo\xC3\xAB's game", "--version", "1.2 (2025)", "--copyright",
                               "\xC2\xA9 2025 K", "--author", "J\xC3\xBCrgen", "--description", longest,
                               "--identifier", "com.example.game"});
    PlayerRun run = RunProgram(QM_PLAYER_PATH, {applet}, {"XDG_CONFIG_HOME=" + dir / "config"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "Zo\xC3\xAB's game\n1.2 (2025)\n\xC2\xA9 2025 K\nJ\xC3\xBCrgen\n" + longest +
                           "\ncom.example.game\n");
}

}  // namespace
