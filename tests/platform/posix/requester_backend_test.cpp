// The requester back ends: button numbering and the console back end's
// answers at a terminal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <thread>

#include <cstring>

#include "core/glue/timers.h"
#include "core/io/error_codes.h"
#include "core/vm/error_hooks.h"
#include "platform/posix/os_memory.h"
#include "platform/posix/os_requester.h"
#include "platform/posix/os_runloop.h"

namespace {

TEST(RequesterButtons, LastButtonIsZeroOthersCountFromOne)
{
    auto labels = SplitRequesterButtons("Yes|No|Cancel");
    ASSERT_EQ(labels.size(), 3u);
    EXPECT_EQ(labels[2], "Cancel");
    EXPECT_EQ(RequesterButtonNumber(0, 3), 1);
    EXPECT_EQ(RequesterButtonNumber(1, 3), 2);
    EXPECT_EQ(RequesterButtonNumber(2, 3), 0);
    EXPECT_EQ(RequesterButtonNumber(0, 1), 0);
    EXPECT_EQ(SplitRequesterButtons(nullptr), std::vector<std::string>{"OK"});
    EXPECT_EQ(SplitRequesterButtons("A||B").size(), 3u) << "empty labels are kept";
}

// A pseudo-terminal on stdin: the console back end reads real answers.
class TerminalStdin {
public:
    // Some containers have no pseudo-terminals at all: then opened() is
    // false and stdin is left alone.
    TerminalStdin()
    {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0)
            return;
        int slave = -1;
        if (grantpt(master_) == 0 && unlockpt(master_) == 0 && ptsname(master_))
            slave = open(ptsname(master_), O_RDWR | O_NOCTTY);
        if (slave < 0) {
            close(master_);
            master_ = -1;
            return;
        }
        saved_ = dup(STDIN_FILENO);
        dup2(slave, STDIN_FILENO);
        close(slave);
    }
    ~TerminalStdin()
    {
        if (master_ < 0)
            return;
        dup2(saved_, STDIN_FILENO);
        close(saved_);
        close(master_);
    }
    bool opened() const { return master_ >= 0; }
    void Type(const char* text)
    {
        ssize_t n = write(master_, text, std::strlen(text));
        EXPECT_EQ(n, static_cast<ssize_t>(std::strlen(text)));
    }

private:
    int master_ = -1;
    int saved_ = -1;
};

TEST(ConsoleRequester, AtATerminalAnswersAreReadAndCtrlCCancels)
{
    TerminalStdin terminal;
    if (!terminal.opened())
        GTEST_SKIP() << "no pseudo-terminal can be opened here";
    const OsRequesterBackend& c = ConsoleRequesterBackend;
    ::testing::internal::CaptureStderr();
    terminal.Type("7\n2\n");  // 7 is no button: asked again
    int button = -1;
    EXPECT_EQ(c.systemRequest("T", "B", "A|B|C", 0, &button), 0);
    EXPECT_EQ(button, 2);
    terminal.Type("hello\n");
    char text[kRequesterTextSize];
    EXPECT_EQ(c.stringRequest("T", "B", "", 0, 0, 0, text), 0);
    EXPECT_STREQ(text, "hello");
    terminal.Type("/tmp/dir/x.txt\n");
    FileRequestResult file;
    ASSERT_EQ(c.fileRequest("T", "", 0, "", "", &file), 0);
    EXPECT_STREQ(file.folder, "/tmp/dir");
    ASSERT_EQ(file.count, 1u);
    EXPECT_STREQ(file.names, "x.txt");
    OsFreeMem(file.names);
    // Nobody answers; a quit signal ends the wait as a cancel.
    std::thread quit([] {
        OsDelay(50);
        OsRequestQuit();
    });
    EXPECT_EQ(c.stringRequest("T", "B", "fallback", 0, 0, 0, text), int{ERR_USERABORT});
    EXPECT_STREQ(text, "fallback");
    quit.join();
    OsTakeQuitRequest();
    VmAbortFlag = 0;
    ::testing::internal::GetCapturedStderr();
}

}  // namespace
