// Start-up options: the command line read word by word, the ".ini" file
// beside the script, and the values turned into the run's records.
#include "core/startup/options.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "core/io/errors.h"
#include "core/startup/startup.h"
#include "platform/posix/os_env.h"
#include "platform/posix/os_memory.h"
#include "support/temp_dir.h"

namespace {

struct StartupRun {
    CoreContext context{};
    AppletInfo applet{};
    OptionValues values{};
    char* iniBuffer = nullptr;

    StartupRun() { InitAppletDisplayDefaults(&applet); }
    ~StartupRun()
    {
        FreeScriptArguments(&context);
        OsFreeMem(iniBuffer);
        FreeStartupGlobals();
        FreeAppletInfoLists(&applet);
        Startup = StartupGlobals{};
    }

    uint32_t Parse(std::vector<std::string> words)
    {
        words.insert(words.begin(), "quillmereplayer");
        std::vector<char*> argv;
        for (std::string& w : words) {
            storage.push_back(w);
            argv.push_back(storage.back().data());
        }
        return ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &context, &values);
    }
    uint32_t Apply() { return ApplyStartupOptions(&values, &context, &applet); }
    uint32_t ParseAndApply(const std::vector<std::string>& words)
    {
        EXPECT_EQ(Parse(words), 0u);
        return Apply();
    }

    std::vector<std::pair<std::string, std::string>> Arguments() const
    {
        std::vector<std::pair<std::string, std::string>> out;
        for (ScriptArgument* a = context.scriptArgs; a; a = a->next)
            out.emplace_back(a->name, a->value ? a->value : "<none>");
        return out;
    }

    std::deque<std::string> storage;  // argv stays where it was
};

using Pairs = std::vector<std::pair<std::string, std::string>>;

// "--name" is "-name"; the help switch is read with or without an applet;
// an argument error keeps the word it was about for the report.
TEST(CommandLine, OptionsAndScriptInAnyOrder)
{
    struct Case {
        std::vector<std::string> words;
        uint32_t error;
        std::string script;
        Pairs arguments;
        const char* detail = nullptr;
    } cases[] = {
        {{"script.qma"}, 0, "script.qma", {}},
        {{"-foo", "bar", "script.qma"}, 0, "script.qma", {{"foo", "bar"}}},
        {{"-foo", "-window", "script"}, 0, "script", {{"foo", "<none>"}}},
        {{"script", "-scrwidth", "800", "-x_1"}, 0, "script", {{"x_1", "<none>"}}},
        {{"a b c.qma", "-QUIET"}, 0, "a b c.qma", {}},
        {{"-foo", "script.qma"}, ERR_CONFIG, "", {{"foo", "script.qma"}}},
        {{}, ERR_CONFIG, "", {}},
        {{"-scrwidth"}, ERR_ARGS, "", {}, "-SCRWIDTH needs a value <width>"},
        {{"-scrwidth", "-window", "s"}, ERR_ARGS, "", {}, "-SCRWIDTH <width> needs a value before -window"},
        {{"one", "two"}, ERR_ARGS, "", {}, "a second applet name \"two\" after \"one\""},
        {{"-", "s"}, ERR_ARGS, "", {}},
        {{"-bad.name", "s"}, ERR_ARGS, "", {}, "bad option name -bad.name"},
        {{"-scrwidth", "-5", "s"}, ERR_ARGS, "", {}},
    };
    for (const Case& c : cases) {
        StartupRun run;
        SCOPED_TRACE("case " + std::to_string(&c - cases));
        EXPECT_EQ(run.Parse(c.words), c.error);
        if (!c.error) {
            EXPECT_STREQ(run.context.scriptPath, c.script.c_str());
        }
        if (c.detail) {
            EXPECT_STREQ(ArgumentErrorDetail(), c.detail);
        }
        EXPECT_EQ(run.Arguments(), c.arguments);
    }
    StartupRun help;
    EXPECT_EQ(help.Parse({"--help"}), ERR_CONFIG);
    EXPECT_EQ(help.values.given[OPT_HELP], 1u);
    // A long word is never cut short.
    StartupRun longWord;
    std::string longName(5000, 'a');
    EXPECT_EQ(longWord.Parse({longName}), ERR_NAMETOOLONG);
    StartupRun second;
    std::string longValue(100000, 'v');
    ASSERT_EQ(second.Parse({"-foo", longValue, "s"}), 0u);
    EXPECT_EQ(second.Arguments()[0].second.size(), longValue.size());
}

// A backfill picture that is not there fails the start, naming the file.
TEST(Options, MissingBrushFileIsAnErrorNamingIt)
{
    TempDir dir;
    StartupRun run;
    EXPECT_EQ(run.ParseAndApply({"-backfill", "picture", "-brushfile", dir / "gone.png", "s"}), ERR_FILEEXIST);
    char message[256];
    GetErrorText(ERR_FILEEXIST, message, sizeof message);
    EXPECT_NE(std::string(message).find("gone.png"), std::string::npos) << message;
    WriteFileBytes(dir / "here.png", {1, 2, 3});
    StartupRun present;
    EXPECT_EQ(present.ParseAndApply({"-backfill", "picture", "-brushfile", dir / "here.png", "s"}), 0u);
}

TEST(Options, TempDirReplacesTheTemporaryFolder)
{
    TempDir dir;
    const char* old = OsGetEnv("TMPDIR");
    std::string saved = old ? old : "";
    StartupRun run;
    ASSERT_EQ(run.ParseAndApply({"-tempdir", dir.path(), "s"}), 0u);
    char buffer[1024];
    ASSERT_EQ(OsGetTempDir(buffer, sizeof buffer), 0u);
    EXPECT_EQ(std::string(buffer), dir.path());
    if (old)
        OsSetEnv("TMPDIR", saved.c_str());
    else
        OsUnsetEnv("TMPDIR");
}

// Option values reach the records they set. The number notations are the
// number parser's own; here that options read through it.
TEST(Options, ValuesReachTheirRecords)
{
    StartupRun run;
    ASSERT_EQ(run.ParseAndApply({"-scrheight", "$-10", "s"}), 0u);
    EXPECT_EQ(run.applet.screenHeight, -16);
    StartupRun bad;
    EXPECT_EQ(bad.ParseAndApply({"-scrheight", "$", "s"}), ERR_SYNTAXERROR);
    // Scaling sizes need a scaling engine.
    StartupRun scaled;
    ASSERT_EQ(scaled.ParseAndApply({"-autoscale", "-scalewidth", "50%", "-monitor", "2", "s"}), 0u);
    EXPECT_EQ(scaled.applet.scaleWidth, -50);
    EXPECT_EQ(scaled.applet.monitor, 1);
    StartupRun unscaled;
    ASSERT_EQ(unscaled.ParseAndApply({"-scalewidth", "50%", "s"}), 0u);
    EXPECT_EQ(unscaled.applet.scaleWidth, 0);
    // Plugin lists are split at bars.
    StartupRun lists;
    ASSERT_EQ(lists.ParseAndApply({"-skipplugins", "a|bb|", "-requireplugins", "x", "-requiretags", "x[a=1]", "s"}), 0u);
    ASSERT_NE(Startup.skipPlugins, nullptr);
    EXPECT_EQ(std::string(Startup.skipPlugins, 7), std::string("a\0bb\0\0\0", 7));
    EXPECT_STREQ(Startup.requirePlugins, "x");
    EXPECT_STREQ(Startup.requireTags, "x[a=1]");
}

// The player's tests refuse -autoscale with -layerscale and monitor 0.
TEST(Options, RefusedCombinationsAndRanges)
{
    const struct {
        std::vector<std::string> words;
        uint32_t error;
        const char* detail = nullptr;
    } cases[] = {
        {{"-window", "-fullscreen", "s"}, ERR_CONSOLEARG},
        {{"-numchannels", "0", "s"}, ERR_CONSOLEARG, "-NUMCHANNELS 0"},
        {{"-backfill", "texture", "s"}, ERR_BACKFILL},
        {{"-backfill", "plaid", "-startcolor", "$FF", "s"}, ERR_BACKFILL},
        {{"-backfill", "color", "s"}, ERR_BACKFILL},
        {{"-backfill", "gradient", "-startcolor", "1", "s"}, ERR_BACKFILL},
        {{"-backfill", "picture", "-brush", "1", "-brushfile", "x.png", "s"}, ERR_BACKFILL},
    };
    for (const auto& c : cases) {
        StartupRun run;
        EXPECT_EQ(run.ParseAndApply(c.words), c.error) << c.words[0] << " " << c.words[1];
        if (c.detail) {
            EXPECT_STREQ(ArgumentErrorDetail(), c.detail);
        }
    }
}

class IniFile : public ::testing::Test {
protected:
    TempDir dir;
    StartupRun run;

    // Writes text as the ".ini" file of a script in dir and reads it into `into`.
    uint32_t ReadWith(const std::string& text, std::vector<std::string> commandLine = {}, StartupRun* into = nullptr)
    {
        StartupRun& target = into ? *into : run;
        WriteFileBytes(dir.file("game.ini"), std::vector<uint8_t>(text.begin(), text.end()));
        commandLine.push_back(dir.file("game.qma"));
        EXPECT_EQ(target.Parse(commandLine), 0u);
        return ReadIniOptions(&target.values, &target.context, &target.iniBuffer);
    }
};

TEST_F(IniFile, NameTakesTheScriptsPlaceWithItsExtensionReplaced)
{
    char name[1100];
    const std::pair<const char*, const char*> cases[] = {
        {"/a/b/game.qma", "/a/b/game.ini"},
        {"/a/b.d/game", "/a/b.d/game.ini"},
        {"game.x.y", "game.x.ini"},
        {":::chunk10:20*pic.png?/a/prog.bin", "/a/prog.ini"},
    };
    for (const auto& [script, expected] : cases) {
        ASSERT_TRUE(IniFileName(script, name, sizeof name));
        EXPECT_STREQ(name, expected);
    }
}

// The file's values override the command line's.
TEST_F(IniFile, SwitchesValuesAndUnknownKeys)
{
    ASSERT_EQ(ReadWith("# comment = x\n[section]\nquiet = no\n"
                       "borderless = yes\n  sizeable=ON\r\nfixed = 2\nnohide = no\n"
                       "ScrWidth = 0x100 \t\n"
                       "scrheight = -$10\n"
                       "title = \"Hello World\"\n"
                       "level=  hard  \n"
                       "empty =\n",
                       {"-quiet", "-scrwidth", "800"}),
              0u);
    ASSERT_EQ(run.Apply(), 0u);
    EXPECT_EQ(run.context.quiet, 0u);
    EXPECT_EQ(run.applet.displayFlags, 1u | 2u | 4u);
    EXPECT_EQ(run.applet.screenWidth, 256);
    EXPECT_EQ(run.applet.screenHeight, -16);
    EXPECT_EQ(run.Arguments(), (Pairs{{"title", "Hello World"}, {"level", "hard"}, {"empty", ""}}));
}

// Unknown keys reach the script in file order, however many there are
// (each is appended in constant time).
TEST_F(IniFile, ManyUnknownKeysKeepTheirOrder)
{
    std::string text;
    for (int i = 0; i < 50000; ++i)
        text += "key" + std::to_string(i) + " = " + std::to_string(i) + "\n";
    ASSERT_EQ(ReadWith(text, {"-first", "1"}), 0u);
    int n = 0;
    for (ScriptArgument* a = run.context.scriptArgs; a; a = a->next, ++n) {
        std::string expected = n == 0 ? "first" : "key" + std::to_string(n - 1);
        ASSERT_EQ(std::string(a->name), expected);
    }
    EXPECT_EQ(n, 50001);
}

TEST_F(IniFile, SyntaxErrorsAndTheKeyLengthLimit)
{
    const std::string cases[] = {
        "1key = 1\n", "key 1\n", "key = \"open\n", "key = \"a\" b\n", "=value\n", "key\n= 1\n",
        std::string(128, 'k') + "=1\n",
    };
    for (const std::string& text : cases) {
        StartupRun fresh;
        EXPECT_EQ(ReadWith(text, {}, &fresh), ERR_INISYNTAX) << text;
    }
    EXPECT_EQ(ReadWith(std::string(127, 'k') + "=1\n"), 0u);
}

TEST(DisplayDefaults, FirstDisplayOptionsCreateOrUpdateDisplayOne)
{
    AppletInfo applet{};
    DisplayBackfill record;
    ResetStartupDisplayRecord(&record);
    ASSERT_EQ(ApplyFirstDisplayOptions(&applet, &record, 0), 0u);
    EXPECT_EQ(applet.preloadEntries, nullptr);  // nothing to apply, nothing made

    record.words[1] = 7;
    record.last = 3;
    ASSERT_EQ(ApplyFirstDisplayOptions(&applet, &record, 0x800), 0u);
    PreloadEntry* entry = FindPreloadDisplay(&applet);
    ASSERT_NE(entry, nullptr);
    auto* desc = static_cast<DisplayDesc*>(entry->details);
    EXPECT_EQ(desc->width, 640);
    EXPECT_EQ(desc->flags, DISPFLAG_STARTUPDISPLAY | 0x800u);
    EXPECT_EQ(desc->backfill.first, 1u);
    EXPECT_EQ(desc->backfill.words[1], 7);
    EXPECT_EQ(desc->backfill.last, 3u);

    record.desc.kind = 1;
    record.desc.color1 = 0x123456;
    ASSERT_EQ(ApplyFirstDisplayOptions(&applet, &record, 0), 0u);
    EXPECT_EQ(desc->backfill.desc.kind, 1u);
    EXPECT_EQ(desc->backfill.desc.color1, 0x123456u);
    EXPECT_EQ(applet.preloadEntries->next, nullptr);
    FreeAppletInfoLists(&applet);
}

}  // namespace
