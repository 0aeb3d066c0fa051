// The current directory, argument splitting and running programs.
#include "platform/posix/os_process.h"

#include "core/io/error_codes.h"
#include "platform/posix/os_memory.h"
#include "platform/posix/os_thread.h"
#include "platform/posix/os_time.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

#include <climits>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void SleepMs(long ms)
{
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&ts, nullptr);
}

// Children of this process that have ended but were never waited for.
int CountZombieChildren()
{
    int zombies = 0;
    DIR* proc = opendir("/proc");
    while (dirent* entry = readdir(proc)) {
        std::string stat = ReadFile(std::string("/proc/") + entry->d_name + "/stat");
        size_t close = stat.rfind(')');
        if (close == std::string::npos)
            continue;
        char state = 0;
        int parent = 0;
        if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &parent) == 2 &&
            parent == getpid() && state == 'Z')
            zombies++;
    }
    closedir(proc);
    return zombies;
}

TEST(OsSplitArgumentsTest, FollowsTheWindowsCommandLineRules)
{
    struct Case { const char* line; std::vector<std::string> words; } cases[] = {
        {"", {}},                          {"   \t ", {}},
        {"a b\tc", {"a", "b", "c"}},        {"  lead  trail  ", {"lead", "trail"}},
        {"\"a b\" c", {"a b", "c"}},        {"x\"y z\"w", {"xy zw"}},
        {"\"\"", {""}},                     {"a \"\" b", {"a", "", "b"}},
        {"\"unclosed quote here", {"unclosed quote here"}},
        {"\"say \"\"hi\"\"\"", {"say \"hi\""}}, {"a\\\"b", {"a\"b"}},
        {"a\\\\\"b c\"", {"a\\b c"}},    {"a\\\\\\\"b", {"a\\\"b"}},
        {"C:\\dir\\file.txt d\\", {"C:\\dir\\file.txt", "d\\"}},
        {"\"C:\\Program Files\\\\\" x", {"C:\\Program Files\\", "x"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(OsSplitArguments(c.line), c.words) << c.line;
    EXPECT_TRUE(OsSplitArguments(nullptr).empty());
}

TEST(OsProgramPathTest, NamesThisTestProgramAndRefusesToCut)
{
    char path[4096];
    ASSERT_EQ(OsGetProgramPath(path, sizeof path), 0u);
    EXPECT_EQ(path[0], '/');
    std::string text = path;
    EXPECT_EQ(text.substr(text.rfind('/') + 1), "test_platform_posix");
    EXPECT_TRUE(FileExists(path));
    char small[4] = "xyz";
    EXPECT_EQ(OsGetProgramPath(small, sizeof small), uint32_t{ERR_NAMETOOLONG});
    EXPECT_STREQ(small, "");
}

// Execute's test holds a synchronous run: it waits, its exit status does not
// matter, a missing program is an error.
TEST(OsRunProgramTest, ProgramsAreFoundOrRefused)
{
    EXPECT_EQ(OsRunProgram("\\bin\\true", nullptr, 0), 0u);
    EXPECT_EQ(OsRunProgram("true", "", 0), 0u) << "a bare name is searched along PATH";
    EXPECT_EQ(OsRunProgram("", "", 0), uint32_t{ERR_EXECUTE});
    EXPECT_EQ(OsRunProgram("/no/such/program", "", 1), uint32_t{ERR_EXECUTE});
}

TEST(OsRunProgramTest, ArgumentsArriveAsSplit)
{
    TempDir scratch;
    std::string out = scratch / "argv";
    // The shell only writes out what it was given, one argument per line.
    std::string line = "-c \"for a; do printf '<%s>\\n' \\\"$a\\\"; done > \\\"$0\\\"\" " + out +
                       " \"two words\" plain \"with \"\"quote\"\"\" back\\slash \"\" end\\\"";
    ASSERT_EQ(OsRunProgram("/bin/sh", line.c_str(), 0), 0u);
    EXPECT_EQ(ReadFile(out), "<two words>\n<plain>\n<with \"quote\">\n<back\\slash>\n<>\n<end\">\n");
}

TEST(OsRunProgramTest, AsynchronousRunDoesNotWait)
{
    TempDir scratch;
    std::string asyncMark = scratch / "async";
    std::string gate = scratch / "gate";
    std::string line = "-c \"while [ ! -e '" + gate + "' ]; do sleep 0.01; done; echo done > '" + asyncMark + "'\"";
    ASSERT_EQ(OsRunProgram("/bin/sh", line.c_str(), 1), 0u);
    EXPECT_FALSE(FileExists(asyncMark));
    std::ofstream(gate) << "go";
    uint64_t start = OsMonotonicNanos();
    while (!FileExists(asyncMark) && OsMonotonicNanos() - start < 10'000'000'000ull)
        SleepMs(5);
    EXPECT_TRUE(FileExists(asyncMark));
}

TEST(OsRunProgramTest, AsynchronousRunsLeaveNoZombies)
{
    int before = CountZombieChildren();
    for (int i = 0; i < 20; i++)
        ASSERT_EQ(OsRunProgram("/bin/true", "", 1), 0u);
    ASSERT_EQ(OsRunProgram("/bin/sh", "-c \"sleep 0.1\"", 1), 0u);
    // Give every child time to end; the reaper then collects it.
    uint64_t start = OsMonotonicNanos();
    int zombies;
    do {
        SleepMs(20);
        zombies = CountZombieChildren();
    } while (zombies > before && OsMonotonicNanos() - start < 10'000'000'000ull);
    SleepMs(300);
    EXPECT_EQ(CountZombieChildren(), before);
}

TEST(OsRunProgramTest, BareNameInTheCurrentDirectoryComesFirst)
{
    TempDir scratch;
    std::string script = scratch / "true";
    std::ofstream(script) << "#!/bin/sh\necho mine > \"$1\"\n";
    chmod(script.c_str(), 0755);
    char start[PATH_MAX];
    ASSERT_NE(getcwd(start, sizeof start), nullptr);
    char* previous = OsChangeDir(scratch.path().c_str());
    ASSERT_NE(previous, nullptr);
    EXPECT_STREQ(previous, start) << "the change hands back the directory it left";
    std::string mark = scratch / "mark";
    EXPECT_EQ(OsRunProgram("true", mark.c_str(), 0), 0u);
    OsFreeMem(OsChangeDir(previous));
    OsFreeMem(previous);
    EXPECT_EQ(ReadFile(mark), "mine\n");
}

TEST(OsRunProgramTest, ChildStartsWithDefaultSignals)
{
    TempDir scratch;
    std::string out = scratch / "status";
    struct sigaction ignore {}, old {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &old);
    std::string line = "-c \"grep SigIgn /proc/$$/status > '" + out + "'\"";
    EXPECT_EQ(OsRunProgram("/bin/sh", line.c_str(), 0), 0u);
    sigaction(SIGPIPE, &old, nullptr);
    unsigned long long mask = ~0ull;
    ASSERT_EQ(std::sscanf(ReadFile(out).c_str(), "SigIgn: %llx", &mask), 1);
    EXPECT_EQ(mask & (1ull << (SIGPIPE - 1)), 0u);
}

// The program writes its mark only after a pause, so a wait that ended at
// its start finds none; a wait that lasts until its end always does.
TEST(OsRunProgramWaitTest, TheWaitLastsUntilTheProgramEnds)
{
    TempDir scratch;
    std::string mark = scratch / "mark";
    std::string line = "-c \"sleep 0.3; echo done > '" + mark + "'\"";
    struct Run { const char* arguments; OsEvent* done; int result; } run{line.c_str(), OsCreateEvent(), -1};
    OsThread* thread = OsCreateThread("runner", [](OsThread* self, void* arg) {
        auto* r = static_cast<Run*>(arg);
        r->result = OsRunProgramWait("/bin/sh", r->arguments, self);
        OsSetEvent(r->done);
        return 0;
    }, &run, 0);
    ASSERT_NE(thread, nullptr);
    // The stop comes only once the wait is over, so it cannot cut it short.
    OsWaitEvent(run.done);
    OsStopThread(thread);
    OsDeleteEvent(run.done);
    EXPECT_EQ(run.result, 1);
    EXPECT_TRUE(FileExists(mark)) << "the wait ended before the program did";
}

// A program that ends, or is missing: the external-program thread's test.
TEST(OsRunProgramWaitTest, AStopRequestEndsTheWait)
{
    struct Run { const char* program; const char* arguments; std::atomic<int> result{-1}; };
    auto proc = [](OsThread* self, void* arg) {
        auto* run = static_cast<Run*>(arg);
        run->result.store(OsRunProgramWait(run->program, run->arguments, self));
        return 0;
    };

    // The program outlives the wait; it lets go of the test's output at once so
    // that the test runner is not kept waiting for it.
    Run slow{"/bin/sh", "-c \"exec >/dev/null 2>&1; sleep 30\""};
    OsThread* thread = OsCreateThread("runner", proc, &slow, 0);
    SleepMs(50);
    uint64_t start = OsMonotonicNanos();
    OsStopThread(thread);
    EXPECT_EQ(slow.result.load(), 1);
    EXPECT_LT(OsMonotonicNanos() - start, 20'000'000'000ull) << "the stop did not end the wait";
}

} // namespace
