// docs/plugins.md against the player, with the example plugin built by the
// commands the page shows.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "e2e/test_applet.h"
#include "support/oracles.h"
#include "support/picture_oracle.h"
#include "support/temp_dir.h"

using namespace qmasm;
namespace fs = std::filesystem;

namespace {

const std::string kSource = QM_SOURCE_DIR;

std::string ReadText(const std::string& path)
{
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    return {bytes.begin(), bytes.end()};
}

// The fenced blocks of the page whose fence names `kind` ("" for none), in
// order, each with its lines' ends.
std::vector<std::string> Blocks(const std::string& page, const std::string& kind)
{
    std::vector<std::string> blocks;
    for (size_t fence = page.find("\n```"); fence != std::string::npos; fence = page.find("\n```", fence)) {
        size_t start = page.find('\n', fence + 1) + 1, end = page.find("\n```\n", start - 1) + 1;
        if (start == 0 || end == 0)
            break;
        if (page.compare(fence + 4, start - fence - 5, kind) == 0)
            blocks.push_back(page.substr(start, end - start));
        fence = end + 3;
    }
    return blocks;
}

// Assembly text calling tinypic.header(width, height) from r0.
std::string HeaderCall(const std::string& width, const std::string& height, int results = 0)
{
    return Fill(CommandCall("header", {width, height}, results),
                {{"GETGLOBAL r0, \"header\"", "GETGLOBAL r0, \"tinypic\"\n    GETTABLE r0, r0, \"header\""}});
}

class PluginPage : public ::testing::Test {
protected:
    // Builds and runs the example once, as the page's commands say.
    static void SetUpTestSuite()
    {
        page = ReadText(kSource + "/docs/plugins.md");
        dir = std::make_unique<TempDir>();
        for (const std::string file : {"include/quillmere/plugin_abi.h", "examples/plugin/tinypic.c",
                                       "examples/plugin/tinypic.qas"})
            WriteFileText(dir->file(file), ReadText(kSource + "/" + file));
        fs::create_directory_symlink(fs::path(QM_PLAYER_PATH).parent_path(), dir->file("build"));
        commands = Blocks(page, "sh");
        ASSERT_EQ(commands.size(), 2u);
        run = RunProgram("/bin/sh", {"-ec", "cd \"$1\"; eval \"$2\"", "sh", dir->path(), commands[1]},
                         {"TMPDIR=" + dir->path()});
    }
    static void TearDownTestSuite() { dir.reset(); }

    // Runs an applet whose main function runs body from folder with player.
    static PlayerRun Play(const std::string& folder, const std::string& body,
                          const std::string& player = QM_PLAYER_PATH)
    {
        fs::create_directories(folder);
        std::string applet = folder + "/test.qma";
        WriteFileBytes(applet, WriteApplet(AssembleTestApplet(MainScript(body))));
        return RunProgram(player, {applet}, {"TMPDIR=" + dir->path()});
    }
    static std::string Plugin() { return dir->file("tinypic.qmp"); }

    inline static std::string page;
    inline static std::vector<std::string> commands;  // the page's shell blocks
    inline static std::unique_ptr<TempDir> dir;
    inline static PlayerRun run;
};

TEST_F(PluginPage, QuotesTheExampleAndBuildsItWithTheCommandItShows)
{
    std::vector<std::string> sources = Blocks(page, "c");
    ASSERT_EQ(sources.size(), 1u);
    EXPECT_EQ(sources[0], ReadText(kSource + "/examples/plugin/tinypic.c"));
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[1].rfind(commands[0], 0), 0u) << "the run builds with the command of \"Building\"";

    // The run printed what the page says, and nothing went wrong.
    std::vector<std::string> printed = Blocks(page, "");
    ASSERT_EQ(printed.size(), 1u);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, printed[0]);
    ASSERT_TRUE(FileExists(Plugin()));
}

// The picture went through the plugin's pixels: red and green above blue
// and white, as the applet wrote them.
TEST_F(PluginPage, TheLoadedPictureHasThePixelsOfTheFile)
{
    QM_SKIP_WITHOUT(HavePil()) << "PIL reads the saved picture";
    ASSERT_TRUE(RunPython(dir->path(),
                          "import sys\nfrom PIL import Image\n"
                          "p = Image.open(sys.argv[1]).convert('RGB')\n"
                          "sys.exit(0 if p.size == (2, 2) and [p.getpixel((x, y)) for y in (0, 1) for x in (0, 1)] == "
                          "[(255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 255)] else 1)\n",
                          dir->file("square.png")));
}

// The command checks its arguments from 1 and fails with the error code it
// answers; the loader option picks the loaders; IsPicture asks IsImage.
TEST_F(PluginPage, CommandsAndLoadersBehaveAsThePageSays)
{
    std::string load = CommandCall("loadplugin", {"\"" + Plugin() + "\""});
    struct Case {
        const char* what;
        std::string body;
        int status;
        std::string out, err;
    };
    auto brush = [](const std::string& options) {
        return CommandCall("loadbrush", {"#1", "\"" + PluginPage::dir->file("square.tpic") + "\"", options}) +
               CommandCall("debugprint", {"\"loaded\""});
    };
    const Case cases[] = {
        {"a size out of range is the command's error code", HeaderCall("#300", "#1"), 1, "",
         "QuillmerePlayer: Wrong usage/parameters for this command!\n"},
        {"the first argument is argument 1", HeaderCall("\"wide\"", "#1"), 1, "",
         "QuillmerePlayer: Number expected in argument 1!\n"},
        {"the loader named", brush("{loader=\"tinypic\"}"), 0, "loaded\n", ""},
        {"no option", brush("nil"), 0, "loaded\n", ""},
        {"only the player's own decoders", brush("{loader=\"inbuilt\"}"), 1, "",
         "QuillmerePlayer: Cannot load picture square.tpic!\n"},
        {"IsPicture", CommandCall("ispicture", {"\"" + dir->file("square.tpic") + "\""}, 2) +
                          "    GETTABLE r2, r1, \"width\"\n    GETTABLE r3, r1, \"height\"\n    MOVE r1, r0\n" +
                          "    GETGLOBAL r0, \"debugprint\"\n    CALL r0, 4, 1\n",
         0, "1 2 2\n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PlayerRun r = Play(dir->file("cases"), load + c.body);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err.substr(0, c.err.size()), c.err) << r.err;
    }
}

// At start the player loads the plugins of its own folder, not the applet's,
// where LoadPlugin finds them by a relative name.
TEST_F(PluginPage, PluginsAreFoundBesideThePlayerNotBesideTheApplet)
{
    std::string players = dir->file("players"), applets = dir->file("applets");
    for (const std::string& folder : {players, applets})
        fs::create_directories(folder);
    fs::copy_file(QM_PLAYER_PATH, players + "/quillmereplayer");
    fs::permissions(players + "/quillmereplayer", fs::perms::owner_all);
    fs::copy_file(Plugin(), players + "/tinypic.qmp");
    fs::copy_file(Plugin(), applets + "/tinypic.qmp");

    std::string uses = HeaderCall("#1", "#1", 1) +
                       "    MOVE r1, r0\n    GETGLOBAL r0, \"strlen\"\n    CALL r0, 2, 2\n    MOVE r1, r0\n" +
                       "    GETGLOBAL r0, \"debugprint\"\n    CALL r0, 2, 1\n";
    PlayerRun copy = Play(applets, uses, players + "/quillmereplayer");
    EXPECT_EQ(copy.status, 0) << copy.err;
    EXPECT_EQ(copy.out, "6\n");
    PlayerRun beside = Play(applets, uses);
    EXPECT_EQ(beside.status, 1);
    EXPECT_EQ(beside.out, "");
    PlayerRun loaded = Play(applets, CommandCall("loadplugin", {"\"tinypic\""}) + uses);
    EXPECT_EQ(loaded.status, 0) << loaded.err;
    EXPECT_EQ(loaded.out, "6\n");
}

}  // namespace
