// The current directory, and external programs started with posix_spawn
// (never through a shell).
#include "platform/posix/os_process.h"

#include "core/io/error_codes.h"
#include "platform/posix/os_memory.h"
#include "platform/posix/os_paths.h"
#include "platform/posix/os_thread.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <pthread.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

std::string CurrentDir()
{
    std::string dir(256, '\0');
    for (;;) {
        if (getcwd(dir.data(), dir.size())) {
            dir.resize(std::strlen(dir.c_str()));
            return dir;
        }
        if (errno != ERANGE)
            return std::string();
        dir.resize(dir.size() * 2);
    }
}

void WaitForChild(pid_t pid)
{
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

void* ReaperThread(void* argument)
{
    WaitForChild(static_cast<pid_t>(reinterpret_cast<intptr_t>(argument)));
    return nullptr;
}

// Collects the exit of a child that nobody waits for, so that it does not
// stay behind as a zombie.
void ReapInBackground(pid_t pid)
{
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_attr_setstacksize(&attr, 128 * 1024);
    pthread_t thread;
    pthread_create(&thread, &attr, ReaperThread, reinterpret_cast<void*>(static_cast<intptr_t>(pid)));
    pthread_attr_destroy(&attr);
}

bool IsExecutableFile(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

uint32_t Spawn(const char* program, const char* arguments, pid_t* outPid)
{
    std::string path = OsHostPath(program ? program : "");
    if (path.empty())
        return ERR_EXECUTE;
    bool searchPath = false;
    std::string file = path;
    if (path.find('/') == std::string::npos) {
        if (IsExecutableFile(path))
            file = "./" + path;
        else
            searchPath = true;
    }

    std::vector<std::string> words = OsSplitArguments(arguments);
    std::vector<char*> argv;
    argv.reserve(words.size() + 2);
    argv.push_back(path.data());
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    // The child starts with default signal handling and nothing blocked:
    // ignoring SIGPIPE is this process's business, and an ignored signal
    // would otherwise survive the exec.
    posix_spawnattr_t attr;
    if (posix_spawnattr_init(&attr) != 0)
        return ERR_MEM;
    sigset_t defaults, mask;
    sigemptyset(&defaults);
    for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGQUIT, SIGHUP, SIGCHLD})
        sigaddset(&defaults, sig);
    sigemptyset(&mask);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setsigmask(&attr, &mask);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    pid_t pid = 0;
    int rc = searchPath ? posix_spawnp(&pid, file.c_str(), nullptr, &attr, argv.data(), environ)
                        : posix_spawn(&pid, file.c_str(), nullptr, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    if (rc != 0)
        return rc == ENOMEM ? uint32_t{ERR_MEM} : uint32_t{ERR_EXECUTE};
    *outPid = pid;
    return 0;
}

} // namespace

uint32_t OsGetProgramPath(char* buffer, size_t size)
{
    const std::string& path = OsProgramFilePath();
    if (path.empty()) {
        OsCopyPath(buffer, size, "", 0);
        return ERR_FINDPATH;
    }
    return OsCopyPath(buffer, size, path.data(), path.size()) ? 0 : uint32_t{ERR_NAMETOOLONG};
}

uint32_t OsFullPath(const char* path, char* buffer, size_t size)
{
    std::string full = OsFullPathString(path ? path : "");
    return OsCopyPath(buffer, size, full.data(), full.size()) ? 0 : uint32_t{ERR_NAMETOOLONG};
}

char* OsChangeDir(const char* path)
{
    std::string previous = CurrentDir();
    if (previous.empty())
        return nullptr;
    if (path && chdir(OsHostPath(path).c_str()) != 0)
        return nullptr;
    char* copy = static_cast<char*>(OsAllocMem(previous.size() + 1, 0));
    if (copy)
        std::memcpy(copy, previous.c_str(), previous.size() + 1);
    return copy;
}

std::vector<std::string> OsSplitArguments(const char* commandLine)
{
    std::vector<std::string> args;
    const char* p = commandLine ? commandLine : "";
    for (;;) {
        while (*p == ' ' || *p == '\t')
            p++;
        if (!*p)
            return args;
        std::string arg;
        bool quoted = false;
        while (*p && (quoted || (*p != ' ' && *p != '\t'))) {
            if (*p == '\\') {
                size_t n = 0;
                while (p[n] == '\\')
                    n++;
                if (p[n] == '"') {
                    arg.append(n / 2, '\\');
                    p += n;
                    if (n % 2) {
                        arg += '"';
                        p++;
                    }
                } else {
                    arg.append(n, '\\');
                    p += n;
                }
            } else if (*p == '"') {
                if (quoted && p[1] == '"') {
                    arg += '"';
                    p += 2;
                } else {
                    quoted = !quoted;
                    p++;
                }
            } else {
                arg += *p++;
            }
        }
        args.push_back(std::move(arg));
    }
}

uint32_t OsRunProgram(const char* program, const char* arguments, int asynchronous)
{
    pid_t pid;
    uint32_t code = Spawn(program, arguments, &pid);
    if (code)
        return code;
    if (asynchronous)
        ReapInBackground(pid);
    else
        WaitForChild(pid);
    return 0;
}

int OsRunProgramWait(const char* program, const char* arguments, OsThread* thread)
{
    pid_t pid;
    if (Spawn(program, arguments, &pid) != 0)
        return 0;
    if (!thread) {
        WaitForChild(pid);
        return 1;
    }
    OsEvent* stop = OsThreadCreateStopEvent(thread);
    for (;;) {
        pid_t done = waitpid(pid, nullptr, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR))
            return 1;
        if (OsThreadStopRequested(thread)) {
            ReapInBackground(pid);
            return 1;
        }
        OsWaitEventTimeout(stop, 10);
    }
}
