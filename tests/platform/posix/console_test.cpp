// The console is standard output and standard input; DEBUGDEVICE may move
// debug output into a file.
#include "core/io/errors.h"
#include "core/io/utilities.h"
#include "platform/posix/os_console.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Feeds `input` to standard input for the lifetime of the object.
class StdinFrom {
public:
    explicit StdinFrom(const std::string& input)
    {
        int fds[2];
        EXPECT_EQ(pipe(fds), 0);
        EXPECT_EQ(write(fds[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
        close(fds[1]);
        saved_ = dup(0);
        dup2(fds[0], 0);
        close(fds[0]);
        clearerr(stdin);
    }
    ~StdinFrom()
    {
        dup2(saved_, 0);
        close(saved_);
        clearerr(stdin);
    }

private:
    int saved_;
};

} // namespace

TEST(DebugChannel, FileDeviceTakesTheOutputAndOtherDevicesKeepTheConsole)
{
    std::string path = ::testing::TempDir() + "debug_channel.txt";
    ASSERT_EQ(OsOpenDebugChannel(("::file" + path).c_str()), 0);
    DebugPrintf("%s %d%%\n", "to file", 50);
    OsCloseDebugChannel();
    EXPECT_EQ(ReadAll(path), "to file 50%\n");

    for (const char* device : {"::hwnd1234", "console", ""}) {
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(OsOpenDebugChannel(device), 0);
        DebugPrintf("on %s\n", "stdout");
        std::fflush(stdout);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "on stdout\n") << device;
    }
    EXPECT_EQ(ReadAll(path), "to file 50%\n");
    std::remove(path.c_str());
}

TEST(DebugChannel, UnwritableFileFallsBackToTheConsole)
{
    std::string path = ::testing::TempDir() + "no/such/folder/debug.txt";
    EXPECT_EQ(OsOpenDebugChannel(("::file" + path).c_str()), static_cast<int>(ERR_WRITEFILE));
    EXPECT_EQ(std::string(errorArgText), path);
    ::testing::internal::CaptureStdout();
    forceFlush = 1;
    DebugPrintf("still here\n");
    forceFlush = 0;
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "still here\n");
}

TEST(ConsoleInput, ReadsWholeLinesAndDropsWhatDoesNotFit)
{
    StdinFrom input("first\r\nsecond line is long\n\nlast");
    char buffer[8];
    EXPECT_EQ(OsReadConsole(buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "first");
    EXPECT_EQ(OsReadConsole(buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "second ");
    EXPECT_EQ(OsReadConsole(buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(OsReadConsole(buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "last");
    EXPECT_EQ(OsReadConsole(buffer, sizeof buffer), static_cast<int>(ERR_READ));
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(OsReadConsole(buffer, 0), static_cast<int>(ERR_READ));
}
