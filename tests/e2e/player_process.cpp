#include "e2e/player_process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>

extern char** environ;

constexpr int kWatchdogMs = 120000;

PlayerRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::vector<std::string>& env,
                     const std::function<bool(const std::string& out, int pid)>& onOutput)
{
    PlayerRun run;
    int outPipe[2], errPipe[2];
    if (pipe(outPipe) || pipe(errPipe))
        return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    posix_spawn_file_actions_addclose(&actions, outPipe[0]);
    posix_spawn_file_actions_addclose(&actions, errPipe[0]);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);

    std::vector<std::string> environment, words = {program};
    // A setting given here replaces the inherited one, so that a test that
    // points XDG_CONFIG_HOME at its folder never reaches the user's own.
    for (char** e = environ; *e; e++) {
        std::string inherited = *e, name = inherited.substr(0, inherited.find('=') + 1);
        if (std::none_of(env.begin(), env.end(), [&](const std::string& s) { return s.rfind(name, 0) == 0; }))
            environment.push_back(inherited);
    }
    environment.insert(environment.end(), env.begin(), env.end());
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> envp, argv;
    for (std::string& e : environment)
        envp.push_back(e.data());
    for (std::string& w : words)
        argv.push_back(w.data());
    envp.push_back(nullptr);
    argv.push_back(nullptr);

    pid_t pid = 0;
    int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    if (spawned) {
        close(outPipe[0]);
        close(errPipe[0]);
        return run;
    }
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    bool acted = false;
    int open = 2;
    while (open > 0) {
        // A child that hangs is ended rather than hanging the test run.
        int ready = poll(fds, 2, kWatchdogMs);
        if (ready == 0) {
            kill(pid, SIGKILL);
            continue;
        }
        if (ready < 0)
            break;
        for (int i = 0; i < 2; i++) {
            if (fds[i].fd < 0 || !fds[i].revents)
                continue;
            char buffer[4096];
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                open--;
                continue;
            }
            (i == 0 ? run.out : run.err).append(buffer, static_cast<size_t>(n));
            if (i == 0 && onOutput && !acted)
                acted = onOutput(run.out, pid);
        }
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.maxRssKb = usage.ru_maxrss;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

std::function<bool(const std::string& out, int pid)> SignalAfter(const char* text, int sig)
{
    return [text, sig](const std::string& out, int pid) {
        if (out.find(text) == std::string::npos)
            return false;
        kill(pid, sig);
        return true;
    };
}
