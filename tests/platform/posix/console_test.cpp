// The console is standard output and standard input; DEBUGDEVICE may move
// debug output into a file; without a terminal every requester takes its
// default.
#include "core/io/errors.h"
#include "core/io/utilities.h"
#include "platform/posix/os_console.h"
#include "platform/posix/os_requester.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "support/temp_dir.h"

namespace {

std::string ReadAll(const std::string& path)
{
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
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
    // "::file NAME", as users write it, names the same file.
    ASSERT_EQ(OsOpenDebugChannel(("::file  " + path).c_str()), 0);
    DebugPrintf("spaced\n");
    OsCloseDebugChannel();
    EXPECT_EQ(ReadAll(path), "spaced\n");
    std::remove(path.c_str());
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

TEST(ConsoleRequester, WithoutATerminalEveryRequesterTakesItsDefault)
{
    StdinFrom input("2\nsome text\n/etc/passwd\n");
    const OsRequesterBackend& c = ConsoleRequesterBackend;
    int button = -1;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(c.systemRequest("QuillmerePlayer", "Out of memory!", "One|Two|Three", 0, &button), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "QuillmerePlayer: Out of memory!\n");
    EXPECT_EQ(button, 1) << "the first button, not what the pipe says";
    char text[kRequesterTextSize];
    EXPECT_EQ(c.stringRequest("T", "B", "preset", 0, 3, 0, text), 0);
    EXPECT_STREQ(text, "pre");
    FileRequestResult file;
    EXPECT_EQ(c.fileRequest("T", "", REQ_NORMAL, "", "", &file), 0);
    EXPECT_EQ(file.count, 0u) << "cancel";
    EXPECT_EQ(file.names, nullptr);
    char* folder = reinterpret_cast<char*>(1);
    EXPECT_EQ(c.pathRequest("T", 0, "", &folder), 0);
    EXPECT_EQ(folder, nullptr) << "cancel";
    int index = 9;
    EXPECT_EQ(c.listRequest("T", "B", "a\0b\0", 1, &index), 0);
    EXPECT_EQ(index, 1);
    uint32_t color = 0;
    EXPECT_EQ(c.colorRequest("T", 0x123456, &color), 0);
    EXPECT_EQ(color, 0x123456u);
    FontRequestResult font;
    EXPECT_EQ(c.fontRequest("T", "", 0, &font), 0);
    EXPECT_STREQ(font.name, "topaz");
}
