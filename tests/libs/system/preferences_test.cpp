// The preferences file: its bytes, round trips, failures, and identifiers
// that would leave the preferences folder.
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/startup/run_records.h"
#include "support/temp_dir.h"
#include "system_fixture.h"

namespace {

class Preferences : public SystemLibraryTest {
protected:
    void SetUp() override
    {
        SystemLibraryTest::SetUp();
        const char* old = std::getenv("XDG_CONFIG_HOME");
        savedConfig = old ? old : "";
        hadConfig = old != nullptr;
        setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
        applet = {};
        std::strcpy(applet.identifier, "com.example.prefs");
        SetRecord("applet", &applet);
    }
    void TearDown() override
    {
        if (hadConfig)
            setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
        SystemLibraryTest::TearDown();
    }
    std::string FilePath() const { return dir.path() + "/KestromDelvonix/Quillmere/Preferences/com.example.prefs"; }
    int NewTableWith(const char* key, double value)
    {
        int t = NewTable();
        if (key)
            SetField(t, std::string(key), value);
        return t;
    }
    TempDir dir;
    AppletInfo applet;
    std::string savedConfig;
    bool hadConfig = false;
};

TEST_F(Preferences, LoadSaveAndDeleteRoundTrip)
{
    int t = NewTableWith("keep", 1);
    ASSERT_EQ(Call("LoadPrefs", {}, nullptr, {t}), 0u);
    EXPECT_EQ(Field(t, "keep"), Value{1.0});
    ASSERT_EQ(Call("SavePrefs", {}, nullptr, {NewTableWith(nullptr, 0)}), 0u);
    EXPECT_EQ(ReadFileBytes(FilePath()), (std::vector<uint8_t>{'P', 'R', 'F', 'S', 0}));

    // Saved entries come back into the table beside what it holds; deleting
    // twice is no error.
    int saved = NewTableWith("volume", 7);
    ASSERT_EQ(Call("SavePrefs", {}, nullptr, {saved}), 0u);
    int loaded = NewTableWith("other", 3);
    ASSERT_EQ(Call("LoadPrefs", {}, nullptr, {loaded}), 0u);
    EXPECT_EQ((std::vector<Value>{Field(loaded, "volume"), Field(loaded, "other")}), (std::vector<Value>{7.0, 3.0}));
    ASSERT_EQ(Call("DeletePrefs", {}), 0u);
    ASSERT_EQ(Call("DeletePrefs", {}), 0u);
    EXPECT_FALSE(FileExists(FilePath()));
}

// A file that cannot be deleted is reported, not taken for a missing one
// (a folder in its place stands in for a locked file, which root could
// still delete).
TEST_F(Preferences, AFailedDeleteIsReported)
{
    std::filesystem::create_directories(FilePath() + "/inside");
    EXPECT_EQ(Call("DeletePrefs", {}), static_cast<uint32_t>(ERR_DELETEFILE));
    EXPECT_STREQ(errorArgText, FilePath().c_str());
    EXPECT_TRUE(std::filesystem::is_directory(FilePath() + "/inside"));
}

uint32_t NoOp(VmState*) { return 0; }

// A save that fails half way (a key that cannot be written) leaves the
// last good file as it was, and no stray file beside it.
TEST_F(Preferences, FailedSaveKeepsThePreviousFile)
{
    int good = NewTableWith("level", 3);
    ASSERT_EQ(Call("SavePrefs", {}, nullptr, {good}), 0u);
    std::vector<uint8_t> before = ReadFileBytes(FilePath());
    int bad = NewTableWith("level", 4);
    SetField(bad, Slot{PushFunction(NoOp)}, 1.0);
    EXPECT_NE(Call("SavePrefs", {}, nullptr, {bad}), 0u);
    EXPECT_EQ(ReadFileBytes(FilePath()), before);
    int loaded = NewTableWith(nullptr, 0);
    ASSERT_EQ(Call("LoadPrefs", {}, nullptr, {loaded}), 0u);
    EXPECT_EQ(Field(loaded, "level"), Value{3.0});
    std::string folder = FilePath().substr(0, FilePath().rfind('/'));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
}

TEST_F(Preferences, ForeignFilesAndIdentifiersThatLeaveTheFolderAreRefused)
{
    int t = NewTableWith(nullptr, 0);
    ASSERT_EQ(Call("SavePrefs", {}, nullptr, {t}), 0u);
    WriteFileBytes(FilePath(), {'Q', 'M', 'T', '0', 0});
    EXPECT_EQ(Call("LoadPrefs", {}, nullptr, {t}), static_cast<uint32_t>(ERR_FILEFORMAT));
    WriteFileBytes(FilePath(), {'P', 'R'});
    EXPECT_EQ(Call("LoadPrefs", {}, nullptr, {t}), static_cast<uint32_t>(ERR_READ));
    for (const char* id : {"", "..", "../escape", "a/b"}) {
        std::strcpy(applet.identifier, id);
        EXPECT_EQ(Call("SavePrefs", {}, nullptr, {t}), static_cast<uint32_t>(ERR_WRONGUSAGE)) << id;
    }
    EXPECT_FALSE(FileExists(dir.path() + "/KestromDelvonix/Quillmere/escape"));
}

}  // namespace
