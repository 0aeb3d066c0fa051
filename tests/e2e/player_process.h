// Runs the player binary as a child process and collects what it wrote.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct PlayerRun {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
    long maxRssKb = 0;  // the child's peak resident memory
};

// Runs `program` with `args` and extra "NAME=value" settings, each in place
// of an inherited one. `onOutput` gets the standard output gathered so far
// after each read, and may act on the child (by its pid) once.
PlayerRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::vector<std::string>& env = {},
                     const std::function<bool(const std::string& out, int pid)>& onOutput = nullptr);

// An onOutput action for RunProgram: sends `sig` once the player has
// written `text`, so that its own handlers are in place by then.
std::function<bool(const std::string& out, int pid)> SignalAfter(const char* text, int sig);
