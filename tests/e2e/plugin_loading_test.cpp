// Loading plugins in the player: every error LoadPlugin gives, and what a
// plugin's InitLibrary and RequirePlugin may answer, there and at start.
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
    struct Case {
        std::string name, printed, options = "nil";
    };
    // The loader's own tests try each refusal; here its codes reach the script.
    const Case cases[] = {
        {kPlugins + "/missing", "1459 Error loading plugin \"missing.qmp\"!"},
        {kPlugins + "/saverendless", "1459 Error loading plugin \"saverendless.qmp\"!"},
        {kPlugins + "/newer", "1400 This plugin requires at least Quillmere 6.2!"},
        {kPlugins + "/unknowncaps", "1483 Plugin type not recognized! (40000)"},
        {kPlugins + "/nosymbol", "1521 Error loading plugin symbol: GetLibraryCount"},
        {kPlugins + "/mathx", "1494 This program requires mathx.qmp 1.5!", "{version=#1,revision=#5}"},
        // The module "ABCD" in abcd.qmp: the name is compared in any case;
        // the module "abc" in _abc.qmp: a leading '_' of the file aside.
        {kPlugins + "/abcd", ""},
        {kPlugins + "/_abc", ""},
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

// 0 loads the plugin, an error code fails the load with that code, and any
// other answer (a count of results, a request word to the interpreter) is
// ERR_LOADPLUGIN. At start, bundled with the applet (-requireplugins calls
// RequirePlugin), a failure ends the run first, naming the entry point.
TEST(PluginLoading, PluginsAnswerOnlyZeroOrAnErrorCode)
{
    TempDir dir;
    AppletDescription loads = AssembleTestApplet(LoadsPlugin(kPlugins + "/answers.qmp"));
    LinkResult linked = LinkApplet(ReadFileBytes(QM_PLAYER_PATH),
                                   WriteApplet(AssembleTestApplet(MainScript(CommandCall("debugprint", {"\"ran\""})))),
                                   {{"answers", ReadFileBytes(kPlugins + "/answers.qmp")}}, false);
    ASSERT_TRUE(linked.ok) << linked.message;
    std::string program = dir.file("linked");
    WriteFileBytes(program, linked.bytes);
    chmod(program.c_str(), 0700);
    const std::string notLoaded = "1459 Error loading plugin \"answers.qmp\"!";
    // Each answer and what the script's handler prints for it ("" for none).
    const std::pair<const char*, std::string> answers[] = {
        {"0", ""}, {"1", notLoaded}, {"999", notLoaded}, {"-1", notLoaded}, {"-2", notLoaded},
        {"1000", "1000 Out of memory!"}};
    const std::pair<std::string, std::string> entryPoints[] = {{"InitLibrary", "QM_TEST_INIT_ANSWER="},
                                                               {"RequirePlugin", "QM_TEST_REQUIRE_ANSWER="}};
    for (const auto& [entryPoint, variable] : entryPoints)
        for (const auto& [value, printed] : answers) {
            SCOPED_TRACE(entryPoint + " answers " + value);
            PlayerRun run = PlayApplet(dir, loads, {}, {variable + value});
            EXPECT_EQ(run.status, 0) << run.err;
            EXPECT_EQ(run.out, (printed.empty() ? "" : printed + "\n") + "went on\n");

            std::vector<std::string> args;
            if (entryPoint == "RequirePlugin")
                args = {"-requireplugins", "answers"};
            PlayerRun start = RunProgram(program, args, {"TMPDIR=" + dir.path(), variable + value});
            EXPECT_EQ(start.status, printed.empty() ? 0 : 1) << start.err;
            EXPECT_EQ(start.out, printed.empty() ? "ran\n" : "");
            if (printed.empty())
                continue;
            EXPECT_EQ(start.err.rfind("QuillmerePlayer: " + printed.substr(5) + "\n", 0), 0u) << start.err;
            bool named = start.err.find("Its " + entryPoint + " answered " + value + ":") != std::string::npos;
            EXPECT_EQ(named, printed == notLoaded) << start.err;
        }
}

}  // namespace
