// Loading plugins in the player: every error LoadPlugin gives, with its
// message, and what a plugin's InitLibrary and RequirePlugin may answer,
// both through LoadPlugin and for a plugin that the player loads at start.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "e2e/test_applet.h"
#include "support/temp_dir.h"
#include "tools/qmasm/applet_writer.h"
#include "tools/qmasm/linker.h"

using namespace qmasm;

namespace {

const std::string kPlugins = QM_TEST_PLUGIN_DIR;

// LoadPlugin(NAME, OPTIONS) under a RaiseOnError handler that prints the
// code and the message; then the script goes on and says so.
std::string LoadsPlugin(const std::string& name, const std::string& options = "nil")
{
    return MainScript(".function handler params=4\n    GETGLOBAL r4, \"debugprint\"\n"
                      "    MOVE r5, r0\n    MOVE r6, r1\n    CALL r4, 3, 1\n    RETURN r0, 1\n.end\n"
                      "    GETGLOBAL r0, \"raiseonerror\"\n    CLOSURE r1, handler\n    CALL r0, 2, 1\n" +
                      CommandCall("loadplugin", {"\"" + name + "\"", options}) +
                      CommandCall("debugprint", {"\"went on\""}));
}

TEST(PluginLoading, EachFailureOfLoadPluginHasItsCodeAndMessage)
{
    TempDir dir;
    WriteFileBytes(dir.file("garbage.qmp"), std::vector<uint8_t>(4096, 0x5a));
    struct Case {
        std::string name, options, printed;
    };
    const Case cases[] = {
        {kPlugins + "/missing", "nil", "1459 Error loading plugin \"missing.qmp\"!"},
        {dir.file("garbage.qmp"), "nil", "1459 Error loading plugin \"garbage.qmp\"!"},
        {kPlugins + "/noinitsym", "nil", "1459 Error loading plugin \"noinitsym.qmp\"!"},
        {kPlugins + "/noclose", "nil", "1459 Error loading plugin \"noclose.qmp\"!"},
        {kPlugins + "/noinit", "nil", "1459 Error loading plugin \"noinit.qmp\"!"},
        // The module "other" in wrongname.qmp; the module "InBuilt" is reserved.
        {kPlugins + "/wrongname", "nil", "1459 Error loading plugin \"wrongname.qmp\"!"},
        {kPlugins + "/inbuilt.qmp", "nil", "1459 Error loading plugin \"inbuilt.qmp\"!"},
        {kPlugins + "/saverendless", "nil", "1459 Error loading plugin \"saverendless.qmp\"!"},
        {kPlugins + "/newer", "nil", "1400 This plugin requires at least Quillmere 6.2!"},
        {kPlugins + "/unknowncaps", "nil", "1483 Plugin type not recognized! (40000)"},
        {kPlugins + "/nosymbol", "nil", "1521 Error loading plugin symbol: GetLibraryCount"},
        {kPlugins + "/mathx", "{version=#1,revision=#5}", "1494 This program requires mathx.qmp 1.5!"},
        // The module "ABCD" in abcd.qmp: the name is compared in any case;
        // the module "abc" in _abc.qmp: a leading '_' of the file aside.
        {kPlugins + "/abcd", "nil", ""},
        {kPlugins + "/_abc", "nil", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PlayerRun run = PlayApplet(dir, AssembleTestApplet(LoadsPlugin(c.name, c.options)));
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, (c.printed.empty() ? "" : c.printed + "\n") + "went on\n");
    }
    // Loading the same file twice.
    std::string twice = MainScript(CommandCall("loadplugin", {"\"" + kPlugins + "/mathx.qmp\""}) +
                                   CommandCall("loadplugin", {"\"" + kPlugins + "/mathx\""}));
    PlayerRun run = PlayApplet(dir, AssembleTestApplet(twice));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.rfind("QuillmerePlayer: Plugin " + kPlugins + "/mathx has already been loaded!\n", 0), 0u)
        << run.err;
}

// What InitLibrary or RequirePlugin answers: 0 loads the plugin, an error
// code fails the load with that code, and anything else fails it with
// ERR_LOADPLUGIN naming the plugin, never as a count of results or one of
// the interpreter's own request words.
struct Answer {
    const char* value;
    std::string printed;  // by the script's handler; "" for none
    std::string err;      // the start of the report at start-up; "" for a clean run
};

const std::string kNotLoaded = "Error loading plugin \"answers.qmp\"!";
const Answer kAnswers[] = {
    {"0", "", ""},
    {"1", "1459 " + kNotLoaded, "QuillmerePlayer: " + kNotLoaded + "\n"},
    {"999", "1459 " + kNotLoaded, "QuillmerePlayer: " + kNotLoaded + "\n"},
    {"-1", "1459 " + kNotLoaded, "QuillmerePlayer: " + kNotLoaded + "\n"},
    {"-2", "1459 " + kNotLoaded, "QuillmerePlayer: " + kNotLoaded + "\n"},
    {"1000", "1000 Out of memory!", "QuillmerePlayer: Out of memory!\n"},
};

const char* const kEntryPoints[] = {"InitLibrary", "RequirePlugin"};

std::string Variable(const char* entryPoint)
{
    return std::string(entryPoint) == "InitLibrary" ? "QM_TEST_INIT_ANSWER=" : "QM_TEST_REQUIRE_ANSWER=";
}

TEST(PluginLoading, LoadPluginTakesOnlyZeroOrAnErrorCodeFromThePlugin)
{
    TempDir dir;
    AppletDescription applet = AssembleTestApplet(LoadsPlugin(kPlugins + "/answers.qmp"));
    for (const char* entryPoint : kEntryPoints)
        for (const Answer& a : kAnswers) {
            SCOPED_TRACE(std::string(entryPoint) + " answers " + a.value);
            PlayerRun run = PlayApplet(dir, applet, {}, {Variable(entryPoint) + a.value});
            EXPECT_EQ(run.status, 0) << run.err;
            EXPECT_EQ(run.out, (a.printed.empty() ? "" : a.printed + "\n") + "went on\n");
        }
}

// At start the plugin comes bundled with the applet; -requireplugins has
// RequirePlugin called. A failure ends the run before the applet starts,
// naming the plugin and the entry point that answered.
TEST(PluginLoading, AtStartAnAnswerThatIsNoErrorCodeNamesThePlugin)
{
    TempDir dir;
    LinkResult linked = LinkApplet(ReadFileBytes(QM_PLAYER_PATH),
                                   WriteApplet(AssembleTestApplet(MainScript(CommandCall("debugprint", {"\"ran\""})))),
                                   {{"answers", ReadFileBytes(kPlugins + "/answers.qmp")}}, false);
    ASSERT_TRUE(linked.ok) << linked.message;
    std::string program = dir.file("linked");
    WriteFileBytes(program, linked.bytes);
    chmod(program.c_str(), 0700);
    for (const char* entryPoint : kEntryPoints)
        for (const Answer& a : kAnswers) {
            SCOPED_TRACE(std::string(entryPoint) + " answers " + a.value);
            std::vector<std::string> args;
            if (std::string(entryPoint) == "RequirePlugin")
                args = {"-requireplugins", "answers"};
            PlayerRun run = RunProgram(program, args, {"TMPDIR=" + dir.path(), Variable(entryPoint) + a.value});
            if (a.err.empty()) {
                EXPECT_EQ(run.status, 0) << run.err;
                EXPECT_EQ(run.out, "ran\n");
                continue;
            }
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(run.out, "");
            EXPECT_EQ(run.err.rfind(a.err, 0), 0u) << run.err;
            if (a.printed.rfind("1459", 0) == 0) {
                EXPECT_NE(run.err.find(std::string("Its ") + entryPoint + " answered " + a.value + ":"),
                          std::string::npos)
                    << run.err;
            }
        }
}

}  // namespace
