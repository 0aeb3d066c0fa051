// Catalogs as a user lays them out: the player's own messages translated by
// Quillmere.catalog, and an applet's strings by its own catalog, found by
// the language of the environment in the folder the player starts in, the
// applet's folder and the player's own folder. The IFF catalog is built by
// Python's struct module.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "e2e/test_applet.h"
#include "support/picture_oracle.h"

using namespace qmasm;
namespace fs = std::filesystem;

namespace {

// argv: file, then pairs of string number and text.
const char kIffCatalog[] = R"PY(
import struct, sys
records = b''
for number, text in zip(sys.argv[2::2], sys.argv[3::2]):
    data = text.encode() + b'\0'
    data += b'\0' * (-len(data) % 4)
    records += struct.pack('>II', int(number), len(text) + 1) + data
fver = b'$VER: Quillmere.catalog 1.0 (a version text long enough for the IFF form)\n'
body = b'CTLG' + b'FVER' + struct.pack('>I', len(fver)) + fver + b'STRS' + struct.pack('>I', len(records)) + records
open(sys.argv[1], 'wb').write(b'FORM' + struct.pack('>I', len(body)) + body)
)PY";

void Put(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

class Catalogs : public ::testing::Test {
protected:
    void SetUp() override
    {
        // String 1 of app.catalog, and string 2, which no catalog holds; then
        // DeleteFile("") ends the run with the player's own message.
        applet = AssembleTestApplet(MainScript(
            CommandCall("opencatalog", {"\"app.catalog\""}) +
            "    GETGLOBAL r0, \"debugprint\"\n    GETGLOBAL r1, \"getcatalogstring\"\n    LOADK r2, #1\n"
            "    LOADK r3, \"default\"\n    CALL r1, 3, 2\n    CALL r0, 2, 1\n"
            "    GETGLOBAL r0, \"debugprint\"\n    GETGLOBAL r1, \"getcatalogstring\"\n    LOADK r2, #2\n"
            "    LOADK r3, \"default\"\n    CALL r1, 3, 2\n    CALL r0, 2, 1\n" +
            CommandCall("deletefile", {"\"\""})));
        fs::create_directories(root / "start");
        fs::create_directories(root / "app");
        WriteFileBytes((root / "app/test.qma").string(), WriteApplet(applet));
    }

    // Runs `player` on the applet from the start folder with the locale
    // variables given; the other two are cleared.
    PlayerRun Play(const std::vector<std::string>& locale, const std::vector<std::string>& options = {},
                   const std::string& player = QM_PLAYER_PATH)
    {
        std::string line = "cd '" + (root / "start").string() + "' && exec '" + player + "'";
        for (const std::string& o : options)
            line += " " + o;
        line += " '" + (root / "app/test.qma").string() + "'";
        std::vector<std::string> env = {"LC_ALL=", "LC_MESSAGES=", "LANG=", "TMPDIR=" + scratch.path()};
        env.insert(env.end(), locale.begin(), locale.end());
        return RunProgram("/bin/sh", {"-c", line}, env);
    }

    TempDir scratch;
    fs::path root = fs::absolute(scratch.path());
    AppletDescription applet;
};

TEST_F(Catalogs, TheLanguageOfTheEnvironmentChoosesTheCatalogsAndEnglishReadsNone)
{
    fs::create_directories(root / "start/Catalogs/german");
    ASSERT_TRUE(RunPython(scratch.path(), kIffCatalog,
                          (root / "start/Catalogs/german/Quillmere.catalog").string() +
                              " 56 'Falsch benutzt!' 194 Datei"));
    Put(root / "app/Catalogs/german/app.catalog", "null\r\neins\r\n");
    Put(root / "start/Catalogs/german/app.catalog", "null\nstart\n");
    const std::string german = "QuillmerePlayer: Falsch benutzt!\nDatei: test.qas";

    // LC_ALL before LC_MESSAGES before LANG; the player's own catalog comes
    // from the folder it starts in, the applet's from the applet's folder.
    for (const std::vector<std::string>& locale :
         {std::vector<std::string>{"LANG=de_DE.UTF-8"}, {"LC_MESSAGES=de_AT", "LANG=en_GB.UTF-8"},
          {"LC_ALL=de", "LC_MESSAGES=en_US", "LANG=fr_FR"}}) {
        SCOPED_TRACE(locale.front());
        PlayerRun run = Play(locale);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "eins\ndefault\n");
        EXPECT_EQ(run.err.rfind(german, 0), 0u) << run.err;
    }
    // With -NOCHDIR the applet runs in the start folder and finds its catalog there.
    PlayerRun stayed = Play({"LANG=de_DE"}, {"-nochdir"});
    EXPECT_EQ(stayed.out, "start\ndefault\n");

    // English, and languages without a catalog language, read no catalog.
    Put(root / "start/Catalogs/english/Quillmere.catalog", "English catalog\n");
    Put(root / "app/Catalogs/english/app.catalog", "english\nenglish\n");
    for (const char* locale : {"LANG=en_US.UTF-8", "LANG=C", "LANG=ja_JP.UTF-8", "LC_ALL=POSIX"}) {
        SCOPED_TRACE(locale);
        PlayerRun run = Play({locale});
        EXPECT_EQ(run.out, "default\ndefault\n");
        EXPECT_EQ(run.err.rfind("QuillmerePlayer: Wrong usage/parameters for this command!", 0), 0u) << run.err;
    }
}

// The player's own folder is searched after the current one; folders are
// named in English or in the language's own name, in Latin-1 bytes.
TEST_F(Catalogs, ThePlayersOwnFolderAndTheNativeFolderNames)
{
    fs::create_directories(root / "prog");
    std::string player = (root / "prog/quillmereplayer").string();
    fs::copy_file(QM_PLAYER_PATH, player);
    ASSERT_EQ(chmod(player.c_str(), 0755), 0);
    Put(root / "prog/Catalogs/italiano/app.catalog", "zero\nuno\n");
    PlayerRun run = Play({"LANG=it_IT.UTF-8"}, {}, player);
    EXPECT_EQ(run.out, "uno\ndefault\n") << run.err;

    // A folder named in UTF-8 is not the Latin-1 name the player looks for.
    Put(root / "app/Catalogs/fran\xC3\xA7" "ais/app.catalog", "utf8\nutf8\n");
    EXPECT_EQ(Play({"LANG=fr_FR.UTF-8"}).out, "default\ndefault\n");
    Put(root / "app/Catalogs/fran\xE7" "ais/app.catalog", "latin1\nlatin1\n");
    EXPECT_EQ(Play({"LANG=fr_FR.UTF-8"}).out, "latin1\ndefault\n");
    Put(root / "app/Catalogs/french/app.catalog", "english name\nenglish name\n");
    EXPECT_EQ(Play({"LANG=fr_FR.UTF-8"}).out, "english name\ndefault\n");
}

}  // namespace
