// Catalogs as a user lays them out, for the player's own messages and for an
// applet's strings; the IFF catalog is built by Python's struct module.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
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

class Catalogs : public ::testing::Test {
protected:
    void SetUp() override
    {
        // String 1 of app.catalog, and string 2, which no catalog holds; then
        // DeleteFile("") ends the run with the player's own message.
        std::string script = CommandCall("opencatalog", {"\"app.catalog\""});
        for (const char* n : {"#1", "#2"})
            script += CommandCall("getcatalogstring", {n, "\"default\""}, 1) +
                      "    MOVE r1, r0\n    GETGLOBAL r0, \"debugprint\"\n    CALL r0, 2, 1\n";
        fs::create_directories(root / "start");
        fs::create_directories(root / "app");
        WriteFileBytes((root / "app/test.qma").string(),
                       WriteApplet(AssembleTestApplet(MainScript(script + CommandCall("deletefile", {"\"\""})))));
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
};

TEST_F(Catalogs, TheLanguageOfTheEnvironmentChoosesTheCatalogsAndEnglishReadsNone)
{
    fs::create_directories(root / "start/Catalogs/german");
    ASSERT_TRUE(RunPython(scratch.path(), kIffCatalog,
                          (root / "start/Catalogs/german/Quillmere.catalog").string() +
                              " 56 'Falsch benutzt!' 194 Datei"));
    WriteFileText(root / "app/Catalogs/german/app.catalog", "null\r\neins\r\n");
    WriteFileText(root / "start/Catalogs/german/app.catalog", "null\nstart\n");
    const std::string german = "QuillmerePlayer: Falsch benutzt!\nDatei: test.qas";

    // The player's own catalog comes from the folder it starts in, the
    // applet's from the applet's folder; LC_ALL wins over the other two.
    PlayerRun translated = Play({"LC_ALL=de", "LC_MESSAGES=en_US", "LANG=fr_FR"});
    EXPECT_EQ(translated.status, 1);
    EXPECT_EQ(translated.out, "eins\ndefault\n");
    EXPECT_EQ(translated.err.rfind(german, 0), 0u) << translated.err;
    // With -NOCHDIR the applet runs in the start folder and finds its catalog there.
    PlayerRun stayed = Play({"LANG=de_DE"}, {"-nochdir"});
    EXPECT_EQ(stayed.out, "start\ndefault\n");

    // English, and languages without a catalog language, read no catalog.
    WriteFileText(root / "start/Catalogs/english/Quillmere.catalog", "English catalog\n");
    WriteFileText(root / "app/Catalogs/english/app.catalog", "english\nenglish\n");
    for (const char* locale : {"LANG=en_US.UTF-8", "LANG=C", "LANG=ja_JP.UTF-8", "LC_ALL=POSIX"}) {
        SCOPED_TRACE(locale);
        PlayerRun run = Play({locale});
        EXPECT_EQ(run.out, "default\ndefault\n");
        EXPECT_EQ(run.err.rfind("QuillmerePlayer: Wrong usage/parameters for this command!", 0), 0u) << run.err;
    }
}

// The player's own folder is searched after the current one; folders are
// named in the language's own name too, in Latin-1 bytes.
TEST_F(Catalogs, ThePlayersOwnFolderAndTheNativeFolderNames)
{
    WriteFileText(root / "prog/Catalogs/italiano/app.catalog", "zero\nuno\n");
    std::string player = (root / "prog/quillmereplayer").string();
    fs::copy_file(QM_PLAYER_PATH, player);
    ASSERT_EQ(chmod(player.c_str(), 0755), 0);
    PlayerRun run = Play({"LANG=it_IT.UTF-8"}, {}, player);
    EXPECT_EQ(run.out, "uno\ndefault\n") << run.err;
    WriteFileText(root / "app/Catalogs/fran\xE7" "ais/app.catalog", "latin1\nlatin1\n");
    EXPECT_EQ(Play({"LANG=fr_FR.UTF-8"}).out, "latin1\ndefault\n");
}

}  // namespace
