// The Python peer of a benchmark: a straightforward python3 program doing
// the same work, timed by itself so that interpreter start-up does not
// count, reported as the iteration's manual time.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <string>

// A file name of this run's own under /tmp, for the files a benchmark and
// its peer share.
inline std::string ScratchPath(const std::string& name)
{
    return "/tmp/qm_bench_" + std::to_string(getpid()) + "_" + name;
}

// python3 times its own run, so interpreter start-up does not count. A
// program that prepares its data first restarts the clock itself (t0). The
// interpreter may be another than the one on the path (PIL lives only in
// the system's).
inline void RunPython(benchmark::State& state, const char* program, const char* interpreter = "python3")
{
    std::string script = std::string("import time\nt0 = time.perf_counter()\n") + program +
                         "print(time.perf_counter() - t0)\n";
    std::string path = ScratchPath("peer.py");
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) {
        state.SkipWithError("cannot write the python script");
        return;
    }
    std::fputs(script.c_str(), f);
    std::fclose(f);
    std::string command = std::string(interpreter) + " " + path;
    for (auto _ : state) {
        FILE* p = popen(command.c_str(), "r");
        double seconds = -1;
        if (!p || std::fscanf(p, "%lf", &seconds) != 1) {
            if (p)
                pclose(p);
            state.SkipWithError("python3 did not run");
            break;
        }
        pclose(p);
        state.SetIterationTime(seconds);
    }
    std::remove(path.c_str());
}
