// Whole-file reading and writing, and the help text, for the command-line
// tools.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace qmasm {

inline bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* out)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    out->clear();
    uint8_t buf[16384];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        out->insert(out->end(), buf, buf + n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

// Writes a temporary file beside `path` and renames it over the old file
// only when every byte reached it, so a failed write leaves the old file.
inline bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& data)
{
    std::string temporary = path + ".tmp";
    FILE* f = std::fopen(temporary.c_str(), "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    ok = (std::fclose(f) == 0) && ok;
    ok = ok && std::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok)
        std::remove(temporary.c_str());
    return ok;
}

// Prints the usage and the help on standard output; the exit status is 1
// when the text did not all reach it.
inline int PrintHelp(const char* usage, const char* help)
{
    std::fputs(usage, stdout);
    std::fputs("\n", stdout);
    std::fputs(help, stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}

// A wrong command line: what is wrong, then the usage, on the error stream;
// answers the exit status 2.
inline int RefuseCommandLine(const char* tool, const char* usage, const std::string& why)
{
    std::fprintf(stderr, "%s: %s\n%s", tool, why.c_str(), usage);
    return 2;
}

}  // namespace qmasm
