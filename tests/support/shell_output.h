// Running an independent tool (ffmpeg, ffprobe, sox, Python) through the
// shell and taking what it prints, for tests that check our decoders
// against it. A tool that cannot start prints nothing.
#pragma once

#include <cstdio>
#include <string>

inline std::string ShellOutput(const std::string& command)
{
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[512];
    while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    pclose(pipe);
    return out;
}
