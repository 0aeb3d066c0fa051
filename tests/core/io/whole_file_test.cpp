// Whole-file writers: the old file stays whole until the new one is
// complete, links are written through, devices are written in place.
#include "core/io/whole_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "core/io/error_codes.h"
#include "core/io/stream.h"
#include "support/temp_dir.h"

namespace {

uint32_t WriteWhole(const std::string& path, const std::string& text, bool commit)
{
    WholeFileWriter w;
    if (uint32_t code = BeginWholeFile(path.c_str(), 0, &w))
        return code;
    if (StreamWrite(w.stream, text.data(), text.size()) != text.size())
        return ERR_WRITE;
    return commit ? CommitWholeFile(&w) : 0u;
}

std::string Text(const std::string& path)
{
    std::vector<uint8_t> b = ReadFileBytes(path);
    return std::string(b.begin(), b.end());
}

TEST(WholeFile, ReplacesOnlyWhenComplete)
{
    TempDir dir;
    std::string file = dir.file("f.txt");
    WriteFileBytes(file, {'o', 'l', 'd'});
    ASSERT_EQ(chmod(file.c_str(), 0604), 0);
    EXPECT_EQ(WriteWhole(file, "abandoned", false), 0u);
    EXPECT_EQ(Text(file), "old");
    EXPECT_EQ(WriteWhole(file, "new", true), 0u);
    EXPECT_EQ(Text(file), "new");
    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0604u);

    // Through a link: the file it names changes, the link stays a link.
    ASSERT_EQ(symlink(file.c_str(), dir.file("link").c_str()), 0);
    EXPECT_EQ(WriteWhole(dir.file("link"), "linked", true), 0u);
    EXPECT_EQ(Text(file), "linked");
    ASSERT_EQ(lstat(dir.file("link").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));

    // A device is written in place; a full one reports the loss.
    EXPECT_EQ(WriteWhole("/dev/null", "gone", true), 0u);
    EXPECT_EQ(WriteWhole("/dev/full", "lost", true), uint32_t{ERR_WRITE});
    EXPECT_EQ(WriteWhole(dir.file("no/folder/x"), "x", true), uint32_t{ERR_WRITEFILE});
    // Nothing but the file and the link is left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

}  // namespace
