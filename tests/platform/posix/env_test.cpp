// Environment variables, temporary files and directories, the preferences
// folder, standard folders and the user's language and country.
#include "platform/posix/os_env.h"

#include "core/io/error_codes.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Sets environment variables for one test and puts the old values back.
class EnvScope {
public:
    ~EnvScope()
    {
        for (const auto& [name, value] : saved_) {
            if (value.first)
                setenv(name.c_str(), value.second.c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }
    void Set(const char* name, const char* value)
    {
        if (!saved_.count(name)) {
            const char* old = std::getenv(name);
            saved_[name] = {old != nullptr, old ? old : ""};
        }
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }

private:
    std::map<std::string, std::pair<bool, std::string>> saved_;
};

mode_t ModeOf(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

bool IsDir(const std::string& path) { return S_ISDIR(ModeOf(path)); }

// Values round the environment: the environment commands' test.
TEST(OsEnvTest, NamesTheCLibraryRefusesAreErrors)
{
    EXPECT_EQ(OsSetEnv("", "x"), uint32_t{ERR_SETENV});
    EXPECT_EQ(OsUnsetEnv("A=B"), uint32_t{ERR_UNSETENV});
    EXPECT_EQ(OsGetEnv(nullptr), nullptr);
}

TEST(OsTempTest, FileNamesAreUniqueNewFilesInTheTemporaryFolder)
{
    TempDir scratch;
    EnvScope env;
    env.Set("TMPDIR", (scratch.path() + "/").c_str());
    char a[1024], b[1024];
    ASSERT_EQ(OsGetTempFileName(a, sizeof a), 0u);
    ASSERT_EQ(OsGetTempFileName(b, sizeof b), 0u);
    EXPECT_STRNE(a, b);
    for (const char* name : {a, b}) {
        EXPECT_EQ(std::string(name).rfind(scratch.path() + "/quillmere", 0), 0u) << name;
        mode_t mode = ModeOf(name);
        EXPECT_TRUE(S_ISREG(mode)) << name;
        EXPECT_EQ(mode & 0777, 0600u) << name;
    }

    env.Set("TMPDIR", "relative/dir");
    char dir[64];
    ASSERT_EQ(OsGetTempDir(dir, sizeof dir), 0u);
    EXPECT_STREQ(dir, "/tmp");
    char small[8];
    EXPECT_EQ(OsGetTempFileName(small, sizeof small), uint32_t{ERR_NAMETOOLONG});
}

TEST(OsTempTest, OwnDirectoryIsPrivateAndGoesAwayWhole)
{
    TempDir scratch;
    EnvScope env;
    env.Set("TMPDIR", scratch.path().c_str());
    char dir[1024];
    ASSERT_EQ(OsCreateTempDirectory(dir, sizeof dir), 0u);
    std::string root = dir;
    EXPECT_EQ(root.rfind(scratch.path() + "/quillmere", 0), 0u);
    EXPECT_TRUE(IsDir(root));
    EXPECT_EQ(ModeOf(root) & 0777, 0700u);
    // Contents: files, a nested folder, and a link to something outside that
    // must survive the removal.
    std::string outside = scratch / "outside.txt";
    std::ofstream(outside) << "keep me";
    std::ofstream(root + "/plugin.qmp") << "x";
    mkdir((root + "/sub").c_str(), 0700);
    std::ofstream(root + "/sub/deeper.bin") << "y";
    ASSERT_EQ(symlink(outside.c_str(), (root + "/link").c_str()), 0);
    ASSERT_EQ(symlink(scratch.path().c_str(), (root + "/dirlink").c_str()), 0);

    EXPECT_EQ(OsRemoveTempDirectory(root.c_str()), 0u);
    EXPECT_EQ(ModeOf(root), 0u);
    EXPECT_TRUE(S_ISREG(ModeOf(outside)));

    EXPECT_EQ(OsRemoveTempDirectory(root.c_str()), uint32_t{ERR_DELETEFILE});
    EXPECT_EQ(OsRemoveTempDirectory("/"), uint32_t{ERR_DELETEFILE});
    EXPECT_EQ(OsRemoveTempDirectory("relative"), uint32_t{ERR_DELETEFILE});
    EXPECT_EQ(OsRemoveTempDirectory(nullptr), uint32_t{ERR_DELETEFILE});
}

TEST(OsPrefsPathTest, CreatesEveryLevelUnderTheConfigFolder)
{
    TempDir scratch;
    EnvScope env;
    std::string config = scratch / "deep/config";
    env.Set("XDG_CONFIG_HOME", config.c_str());
    char path[1024];
    ASSERT_EQ(OsGetPrefsPath(path, sizeof path), 0u);
    std::string expected = config + "/KestromDelvonix/Quillmere/Preferences";
    EXPECT_EQ(std::string(path), expected);
    for (std::string level : {scratch / "deep", config, config + "/KestromDelvonix",
                              config + "/KestromDelvonix/Quillmere", expected})
        EXPECT_TRUE(IsDir(level)) << level;
    ASSERT_EQ(OsGetPrefsPath(path, sizeof path), 0u) << "a second call finds it all there";
    // Without XDG_CONFIG_HOME (or with a relative one) it is ~/.config.
    for (const char* xdg : {static_cast<const char*>(nullptr), "not/absolute"}) {
        env.Set("XDG_CONFIG_HOME", xdg);
        env.Set("HOME", (scratch / "home").c_str());
        ASSERT_EQ(OsGetPrefsPath(path, sizeof path), 0u);
        EXPECT_EQ(std::string(path), scratch / "home/.config/KestromDelvonix/Quillmere/Preferences");
        EXPECT_TRUE(IsDir(path));
    }

    // A file in the way is an error, not a silent success.
    std::ofstream(scratch / "blocked") << "file";
    env.Set("XDG_CONFIG_HOME", (scratch / "blocked").c_str());
    EXPECT_EQ(OsGetPrefsPath(path, sizeof path), uint32_t{ERR_CREATEDIR});
    char small[8];
    env.Set("XDG_CONFIG_HOME", config.c_str());
    EXPECT_EQ(OsGetPrefsPath(small, sizeof small), uint32_t{ERR_NAMETOOLONG});
}

TEST(OsUserInfoTest, StandardFoldersFollowTheXdgSettings)
{
    TempDir scratch;
    EnvScope env;
    std::string home = scratch / "home";
    mkdir(home.c_str(), 0700);
    env.Set("HOME", home.c_str());
    env.Set("XDG_CONFIG_HOME", nullptr);
    env.Set("XDG_DATA_DIRS", "/srv/share:/usr/share");

    char text[1024];
    auto info = [&](int kind) {
        uint32_t code = OsGetUserInfo(kind, text, sizeof text);
        return code ? "error " + std::to_string(code) : std::string(text);
    };
    EXPECT_EQ(info(USERINFO_HOME), home);
    EXPECT_EQ(info(USERINFO_APPDATA), home + "/.config");
    EXPECT_EQ(info(USERINFO_COMMONAPPDATA), "/srv/share");
    EXPECT_EQ(info(USERINFO_DOCUMENTS), home) << "no Documents folder: the home folder";
    mkdir((home + "/Documents").c_str(), 0700);
    EXPECT_EQ(info(USERINFO_DOCUMENTS), home + "/Documents");
    mkdir((home + "/.config").c_str(), 0700);
    std::ofstream(home + "/.config/user-dirs.dirs")
        << "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desk\"\n"
        << "XDG_DOCUMENTS_DIR=\"$HOME/Papers/\"\n";
    EXPECT_EQ(info(USERINFO_DOCUMENTS), home + "/Papers");
    EXPECT_EQ(info(USERINFO_SYSTEM)[0], '/');
    EXPECT_EQ(info(USERINFO_PROGRAMS)[0], '/');

    struct passwd* me = getpwuid(geteuid());
    ASSERT_NE(me, nullptr);
    EXPECT_EQ(info(USERINFO_USERNAME), me->pw_name);

    EXPECT_EQ(OsGetUserInfo(7, text, sizeof text), uint32_t{ERR_WRONGUSAGE});
    char small[4];
    EXPECT_EQ(OsGetUserInfo(USERINFO_HOME, small, sizeof small), uint32_t{ERR_NAMETOOLONG});
}

TEST(OsLocaleTest, LanguageAndCountryFromTheLocaleSetting)
{
    struct Case { const char* lcAll; const char* lcMessages; const char* lang; int language; int country; } cases[] = {
        {nullptr, nullptr, "C", 18, 38},
        {nullptr, nullptr, nullptr, 18, 38},
        {nullptr, nullptr, "en_GB.UTF-8", 0, 0},
        {nullptr, nullptr, "en_US", 0, 1},
        {nullptr, nullptr, "en", 0, 38},
        {nullptr, nullptr, "de_AT@euro", 1, 34},
        {nullptr, nullptr, "ja_JP.UTF-8", 18, 38},
        {nullptr, nullptr, "english", 18, 38},
        {nullptr, nullptr, "fr_CHE", 4, 38},
        {"fr_FR", "it_IT", "de_DE", 4, 11},
        {"", "it_IT", "de_DE", 3, 13},
    };
    EnvScope env;
    for (const Case& c : cases) {
        env.Set("LC_ALL", c.lcAll);
        env.Set("LC_MESSAGES", c.lcMessages);
        env.Set("LANG", c.lang);
        EXPECT_EQ(OsGetSystemLanguage(), c.language) << (c.lang ? c.lang : "(unset)");
        EXPECT_EQ(OsGetSystemCountry(), c.country) << (c.lang ? c.lang : "(unset)");
    }
}

TEST(OsMemoryTest, ReportsSomeFreeMemory)
{
    EXPECT_GT(OsGetMemoryInfo(), 1024u * 1024u);
}

} // namespace
