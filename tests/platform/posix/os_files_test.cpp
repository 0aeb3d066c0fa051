// The host file system layer against what stat, readdir and statvfs say.
#include <gtest/gtest.h>

#include <cstring>
#include <dirent.h>
#include <map>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include "core/io/error_codes.h"
#include "platform/posix/os_files.h"
#include "platform/posix/os_paths.h"
#include "support/temp_dir.h"

namespace {

uint64_t ToFileTime(const struct timespec& ts)
{
    return static_cast<uint64_t>(ts.tv_sec) * FILETIME_TICKS_PER_SECOND + ts.tv_nsec / 100 + FILETIME_UNIX_EPOCH;
}

class OsFiles : public ::testing::Test {
protected:
    TempDir dir;
    void SetUp() override
    {
        WriteFileBytes(dir.file("a.txt"), PatternBytes(123));
        WriteFileBytes(dir.file(".hidden"), PatternBytes(5));
        WriteFileBytes(dir.file("empty"), {});
        mkdir(dir.file("sub").c_str(), 0755);
        WriteFileBytes(dir.file("sub/inner"), PatternBytes(9));
        chmod(dir.file("a.txt").c_str(), 0640);
    }
};

TEST_F(OsFiles, DirectoryScanMatchesReaddirAndStat)
{
    std::map<std::string, struct stat> expected;
    DIR* d = opendir(dir.path().c_str());
    ASSERT_NE(d, nullptr);
    while (struct dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat st;
        ASSERT_EQ(stat((dir.path() + "/" + name).c_str(), &st), 0);
        expected[name] = st;
    }
    closedir(d);

    OsDirLock* lock = OsStatFile(dir.path().c_str(), 1);
    ASSERT_NE(lock, nullptr);
    ASSERT_EQ(OsDirScanBegin(lock, nullptr), 0);
    std::set<std::string> seen;
    const char* name;
    int isDir;
    FileInfoRecord info;
    while (OsNextDirEntry(lock, 0, &name, &isDir, &info)) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(expected.count(name));
        const struct stat& st = expected[name];
        EXPECT_TRUE(seen.insert(name).second);
        EXPECT_EQ(isDir, S_ISDIR(st.st_mode) ? 1 : 0);
        EXPECT_EQ(info.kind, S_ISDIR(st.st_mode) ? FILEINFO_DIRECTORY : FILEINFO_FILE);
        if (!S_ISDIR(st.st_mode)) {
            EXPECT_EQ(info.size, static_cast<uint64_t>(st.st_size));
        }
        EXPECT_EQ(info.times[FILETIME_MODIFICATION], ToFileTime(st.st_mtim));
        EXPECT_EQ(info.times[FILETIME_ACCESS], ToFileTime(st.st_atim));
        EXPECT_EQ(std::string(info.fullPath), dir.path() + "/" + name);
        for (auto [flag, bit] : {std::pair{FILEATTR_READ_USR, S_IRUSR}, {FILEATTR_WRITE_USR, S_IWUSR},
                                 {FILEATTR_EXECUTE_USR, S_IXUSR}, {FILEATTR_READ_GRP, S_IRGRP},
                                 {FILEATTR_WRITE_GRP, S_IWGRP}, {FILEATTR_READ_OTH, S_IROTH}})
            EXPECT_EQ((info.flags & flag) != 0, (st.st_mode & bit) != 0) << flag;
        EXPECT_EQ((info.flags & FILEATTR_HIDDEN) != 0, name[0] == '.');
    }
    EXPECT_EQ(seen.size(), expected.size());
    EXPECT_EQ(OsNextDirEntry(lock, 0, &name, &isDir, nullptr), 0);
    OsCloseDirScan(lock);
}

TEST_F(OsFiles, LocksExamineTheObjectAndRefuseWhatTheyCannot)
{
    OsDirLock* lock = OsStatFile(dir.file("a.txt").c_str(), 1);
    ASSERT_NE(lock, nullptr);
    EXPECT_EQ(OsDirScanBegin(lock, nullptr), static_cast<int>(ERR_NOTADIR));
    FileInfoRecord info;
    ASSERT_EQ(OsDirScanFirstEntry(lock, &info), 0);
    EXPECT_EQ(info.kind, FILEINFO_FILE);
    EXPECT_EQ(info.size, 123u);
    char name[4096];
    EXPECT_EQ(OsCopyName(lock, name, sizeof name), 1);
    EXPECT_EQ(std::string(name), dir.file("a.txt"));
    char tiny[4];
    EXPECT_EQ(OsCopyName(lock, tiny, sizeof tiny), 0);
    EXPECT_STREQ(tiny, "");
    OsCloseDirScan(lock);

    EXPECT_EQ(OsStatFile(dir.file("missing").c_str(), 1), nullptr);
    EXPECT_EQ(OsStatFile(dir.file("a.txt").c_str(), OSLOCK_WRITE), nullptr);
}

TEST_F(OsFiles, DeleteMakeAndRename)
{
    EXPECT_EQ(OsMakeDir(dir.file("new").c_str()), 0);
    EXPECT_NE(OsMakeDir(dir.file("new").c_str()), 0);
    EXPECT_NE(OsRename(dir.file("a.txt").c_str(), dir.file("new/b.txt").c_str()), 0);
    EXPECT_FALSE(FileExists(dir.file("a.txt")));
    EXPECT_EQ(ReadFileBytes(dir.file("new/b.txt")), PatternBytes(123));
    EXPECT_EQ(OsDeleteFile(dir.file("new").c_str()), 0);  // not empty
    EXPECT_NE(OsDeleteFile((dir.path() + "\\new\\b.txt").c_str()), 0);
    EXPECT_NE(OsDeleteFile(dir.file("new").c_str()), 0);
    EXPECT_FALSE(FileExists(dir.file("new")));
    EXPECT_EQ(OsDeleteFile(dir.file("new").c_str()), 0);
}

TEST_F(OsFiles, DateStampsRoundTripAndRefuseImpossibleDates)
{
    const DateStamp dates[] = {
        {0, 30, 10, 4, 10, 2002}, {59, 59, 23, 31, 11, 1999}, {0, 0, 0, 1, 0, 1970},
        {7, 8, 9, 29, 1, 2024},   {1, 2, 3, 15, 5, 1955},
    };
    for (const DateStamp& date : dates) {
        uint64_t times[3] = {};
        ASSERT_EQ(OsDateToFileTime(&date, times, FILETIME_MODIFICATION), 1);
        DateStamp back{};
        ASSERT_EQ(OsFileTimeToDate(times, &back, FILETIME_MODIFICATION), 1);
        EXPECT_EQ(std::memcmp(&back, &date, sizeof back), 0) << date.year;
    }
    uint64_t times[3] = {};
    DateStamp epoch = {0, 0, 0, 1, 0, 1970};  // TZ=UTC
    ASSERT_EQ(OsDateToFileTime(&epoch, times, 0), 1);
    EXPECT_EQ(times[0], FILETIME_UNIX_EPOCH);
    DateStamp bad[] = {{0, 0, 0, 30, 1, 2023}, {0, 0, 24, 1, 0, 2000}, {0, 60, 0, 1, 0, 2000},
                       {0, 0, 0, 0, 0, 2000},  {0, 0, 0, 1, 12, 2000}};
    for (const DateStamp& d : bad)
        EXPECT_EQ(OsDateToFileTime(&d, times, 0), 0);
    // What stat then sees: the file attribute commands' test.
    ASSERT_EQ(OsDateToFileTime(&epoch, times, FILETIME_MODIFICATION), 1);
    EXPECT_EQ(OsSetFileTime(dir.file("missing").c_str(), times), 0);
}

TEST_F(OsFiles, ProtectionBitsBecomeModeBits)
{
    std::string path = dir.file("a.txt");
    struct Case { uint32_t flags; mode_t before, after; } cases[] = {
        {FILEATTR_READ_USR | FILEATTR_WRITE_USR | FILEATTR_READ_GRP, 0777, 0640},
        {FILEATTR_READ_USR | FILEATTR_EXECUTE_USR | FILEATTR_EXECUTE_OTH, 0600, 0501},
        {FILEATTR_READONLY, 0664, 0444},
        {FILEATTR_NORMAL, 0444, 0644},
        {FILEATTR_HIDDEN, 0640, 0640},
        {FILEATTR_READ_USR | FILEATTR_WRITE_USR | FILEATTR_READONLY, 0600, 0400},
    };
    for (const Case& c : cases) {
        chmod(path.c_str(), c.before);
        ASSERT_NE(OsSetFileAttributes(path.c_str(), c.flags), 0);
        struct stat st;
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, c.after) << std::oct << c.flags;
    }
    EXPECT_EQ(OsSetFileAttributes(dir.file("missing").c_str(), FILEATTR_NORMAL), 0);
}

TEST_F(OsFiles, VolumesAnswerAsStatvfs)
{
    uint64_t freeBytes = 0, usedBytes = 0;
    ASSERT_EQ(OsGetVolumeInfo(dir.path().c_str(), &freeBytes, &usedBytes), 0);
    struct statvfs vfs;
    ASSERT_EQ(statvfs(dir.path().c_str(), &vfs), 0);
    // Other programs write to the same disk between the two readings, so the
    // figures agree only to within a few megabytes.
    const double expected = double(vfs.f_blocks - vfs.f_bfree) * vfs.f_frsize;
    EXPECT_NEAR(double(usedBytes), expected, 64.0 * 1024 * 1024);
    EXPECT_GT(usedBytes + freeBytes, 0u);
    EXPECT_EQ(OsGetVolumeInfo(dir.file("missing").c_str(), &freeBytes, &usedBytes), static_cast<int>(ERR_STAT));
    // The mount point a volume name gives: the directory commands' test.
    char name[4096], tiny[1];
    EXPECT_EQ(OsGetVolumeName("/", tiny, sizeof tiny), static_cast<int>(ERR_NAMETOOLONG));
    EXPECT_EQ(OsGetVolumeName(dir.file("missing").c_str(), name, sizeof name), static_cast<int>(ERR_STAT));
}

TEST(OsPaths, FullPathsFoldComponentsWithoutTruncating)
{
    struct Case { const char* in; const char* out; } cases[] = {
        {"/a/b/../c", "/a/c"}, {"/a//b/./c/", "/a/b/c"}, {"/..", "/"}, {"\\x\\y", "/x/y"}, {"/", "/"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(OsFullPathString(c.in), c.out) << c.in;
    std::string longPath = "/" + std::string(5000, 'x');
    EXPECT_EQ(OsFullPathString(longPath.c_str()), longPath);
    char small[100];
    std::string full = OsFullPathString(longPath.c_str());
    EXPECT_FALSE(OsCopyPath(small, sizeof small, full.data(), full.size()));
    EXPECT_STREQ(small, "");
    EXPECT_EQ(OsHostPath("PROGDIR:data\\x.bin"), OsProgramDirectory() + "/data/x.bin");
    EXPECT_EQ(OsHostPath("progdir:x"), "progdir:x");
}

} // namespace
