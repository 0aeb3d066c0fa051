// Host path rules: backslashes, the program-folder prefix, full paths.
#include "platform/posix/os_paths.h"

#include "core/services/path_helpers.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace {

std::string ReadProgramFilePath()
{
    std::vector<char> buffer(PATH_MAX);
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0)
            return std::string();
        if (static_cast<size_t>(n) < buffer.size())
            return std::string(buffer.data(), static_cast<size_t>(n));
        buffer.resize(buffer.size() * 2);
    }
}

std::string CurrentDirectory()
{
    std::vector<char> buffer(PATH_MAX);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE)
            return std::string("/");
        buffer.resize(buffer.size() * 2);
    }
    return std::string(buffer.data());
}

} // namespace

const std::string& OsProgramFilePath()
{
    static const std::string path = ReadProgramFilePath();
    return path;
}

const std::string& OsProgramDirectory()
{
    static const std::string dir = [] {
        const std::string& file = OsProgramFilePath();
        size_t slash = file.rfind('/');
        if (slash == std::string::npos)
            return std::string(".");
        if (slash == 0)
            return std::string("/");
        return file.substr(0, slash);
    }();
    return dir;
}

bool OsCopyPath(char* buffer, size_t size, const char* text, size_t length)
{
    if (size == 0)
        return false;
    if (length >= size) {
        buffer[0] = 0;
        return false;
    }
    std::memcpy(buffer, text, length);
    buffer[length] = 0;
    return true;
}

std::string OsHostPath(const char* path)
{
    std::string out;
    size_t prefix = sizeof(PROGDIR_PREFIX) - 1;
    if (std::strncmp(path, PROGDIR_PREFIX, prefix) == 0) {
        path += prefix;
        out = AddPart(OsProgramDirectory(), path);
    } else {
        out = path;
    }
    for (char& c : out)
        if (c == '\\')
            c = '/';
    return out;
}

std::string OsFullPathString(const char* path)
{
    std::string host = OsHostPath(path);
    std::string joined = (!host.empty() && host[0] == '/') ? host : CurrentDirectory() + "/" + host;

    // Fold the components lexically: the path may name something that does
    // not exist yet, so the file system cannot be asked.
    std::vector<std::string> parts;
    size_t i = 0;
    while (i <= joined.size()) {
        size_t j = joined.find('/', i);
        if (j == std::string::npos)
            j = joined.size();
        std::string part = joined.substr(i, j - i);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(std::move(part));
        }
        i = j + 1;
    }
    std::string out;
    for (const std::string& part : parts)
        out += "/" + part;
    return out.empty() ? std::string("/") : out;
}
