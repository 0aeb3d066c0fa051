// Environment, temporary files, the preferences folder, the XDG standard
// folders, and the user's locale and memory figures.
#include "platform/posix/os_env.h"

#include "core/io/error_codes.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ftw.h>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <sys/sysinfo.h>
#include <unistd.h>

namespace {

constexpr const char* kTempPrefix = "quillmere";
constexpr const char* kPrefsFolder = "KestromDelvonix/Quillmere/Preferences";

uint32_t CopyOut(const std::string& text, char* buffer, size_t size)
{
    if (!buffer || text.size() + 1 > size) {
        if (buffer && size)
            buffer[0] = '\0';
        return ERR_NAMETOOLONG;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return 0;
}

std::string AbsoluteEnv(const char* name)
{
    const char* value = std::getenv(name);
    return value && value[0] == '/' ? std::string(value) : std::string();
}

std::string StripTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string TempDir()
{
    std::string dir = AbsoluteEnv("TMPDIR");
    return dir.empty() ? std::string("/tmp") : StripTrailingSlashes(dir);
}

std::string HomeDir()
{
    std::string home = AbsoluteEnv("HOME");
    if (!home.empty())
        return StripTrailingSlashes(home);
    struct passwd entry;
    struct passwd* found = nullptr;
    char text[4096];
    if (getpwuid_r(geteuid(), &entry, text, sizeof text, &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return std::string();
}

std::string ConfigHome()
{
    std::string dir = AbsoluteEnv("XDG_CONFIG_HOME");
    if (!dir.empty())
        return StripTrailingSlashes(dir);
    std::string home = HomeDir();
    return home.empty() ? home : home + "/.config";
}

bool IsDirectory(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Creates every missing level of an absolute path.
bool MakeDirectories(const std::string& path, mode_t mode)
{
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        std::string level = path.substr(0, slash);
        if (mkdir(level.c_str(), mode) != 0 && (errno != EEXIST || !IsDirectory(level)))
            return false;
        if (slash == std::string::npos)
            return true;
    }
}

// XDG_DOCUMENTS_DIR from user-dirs.dirs: a line XDG_DOCUMENTS_DIR="$HOME/Docs".
std::string DocumentsDir(const std::string& home)
{
    std::string dirs = ConfigHome() + "/user-dirs.dirs";
    if (FILE* file = std::fopen(dirs.c_str(), "r")) {
        char line[2048];
        std::string found;
        const char* key = "XDG_DOCUMENTS_DIR=\"";
        while (std::fgets(line, sizeof line, file)) {
            if (std::strncmp(line, key, std::strlen(key)) != 0)
                continue;
            std::string value(line + std::strlen(key));
            size_t quote = value.find('"');
            if (quote == std::string::npos)
                continue;
            value.resize(quote);
            if (value.rfind("$HOME", 0) == 0)
                value = home + value.substr(5);
            if (!value.empty() && value[0] == '/')
                found = StripTrailingSlashes(value);
        }
        std::fclose(file);
        if (!found.empty())
            return found;
    }
    std::string documents = home + "/Documents";
    return IsDirectory(documents) ? documents : home;
}

std::string UserName()
{
    struct passwd entry;
    struct passwd* found = nullptr;
    char text[4096];
    if (getpwuid_r(geteuid(), &entry, text, sizeof text, &found) == 0 && found && found->pw_name)
        return found->pw_name;
    for (const char* name : {"USER", "LOGNAME"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return value;
    }
    return std::string();
}

// The locale setting that decides the user's language: "de_AT.UTF-8@euro".
std::string LocaleSetting()
{
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return value;
    }
    return std::string();
}

// Two upper-case letters taken from `text` at `at`, or "" when they are not
// exactly two letters followed by the end or a locale separator.
std::string TwoLetters(const std::string& text, size_t at)
{
    if (at + 2 > text.size())
        return std::string();
    char a = text[at], b = text[at + 1];
    if (!std::isalpha(static_cast<unsigned char>(a)) || !std::isalpha(static_cast<unsigned char>(b)))
        return std::string();
    if (at + 2 < text.size() && std::strchr("_.@", text[at + 2]) == nullptr)
        return std::string();
    return {static_cast<char>(std::toupper(static_cast<unsigned char>(a))),
            static_cast<char>(std::toupper(static_cast<unsigned char>(b)))};
}

struct CodeNumber {
    const char* code;
    int number;
};

// Language codes and the LANGUAGE_* numbers (the catalogs' language table).
// Norwegian is also written with its two written standards' codes here.
const CodeNumber kLanguages[] = {
    {"DA", 8},  {"DE", 1},  {"EN", 0},  {"ES", 5},  {"FR", 4},  {"EL", 13}, {"IT", 3},
    {"HU", 12}, {"NL", 2},  {"NO", 10}, {"NB", 10}, {"NN", 10}, {"PL", 11}, {"PT", 6},
    {"FI", 9},  {"SV", 7},  {"TR", 15}, {"CS", 14}, {"HR", 16}, {"RU", 17},
};
constexpr int kNoLanguage = 18;

// ISO 3166 territory codes and the COUNTRY_* numbers.
const CodeNumber kCountries[] = {
    {"GB", 0},  {"US", 1},  {"AU", 2},  {"BE", 3},  {"BG", 4},  {"BR", 5},  {"CA", 6},
    {"CZ", 7},  {"DK", 8},  {"DE", 9},  {"ES", 10}, {"FR", 11}, {"GR", 12}, {"IT", 13},
    {"LI", 14}, {"LT", 15}, {"LU", 16}, {"HU", 17}, {"MT", 18}, {"MC", 19}, {"NL", 20},
    {"NO", 21}, {"PL", 22}, {"PT", 23}, {"RO", 24}, {"RU", 25}, {"SM", 26}, {"SK", 27},
    {"SI", 28}, {"CH", 29}, {"FI", 30}, {"SE", 31}, {"TR", 32}, {"IE", 33}, {"AT", 34},
    {"IS", 35}, {"AD", 36}, {"UA", 37},
};
constexpr int kNoCountry = 38;

template <size_t N>
int LookUp(const CodeNumber (&table)[N], const std::string& code, int missing)
{
    for (const CodeNumber& entry : table) {
        if (code == entry.code)
            return entry.number;
    }
    return missing;
}

int removeFailures;

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*)
{
    if (remove(path) != 0)
        removeFailures++;
    return 0;
}

} // namespace

const char* OsGetEnv(const char* name)
{
    return name ? std::getenv(name) : nullptr;
}

uint32_t OsSetEnv(const char* name, const char* value)
{
    if (!name || !*name || std::strchr(name, '='))
        return ERR_SETENV;
    return setenv(name, value ? value : "", 1) == 0 ? 0 : uint32_t{ERR_SETENV};
}

uint32_t OsUnsetEnv(const char* name)
{
    if (!name || !*name || std::strchr(name, '='))
        return ERR_UNSETENV;
    return unsetenv(name) == 0 ? 0 : uint32_t{ERR_UNSETENV};
}

uint32_t OsGetTempDir(char* buffer, size_t size)
{
    return CopyOut(TempDir(), buffer, size);
}

uint32_t OsGetTempFileName(char* buffer, size_t size)
{
    std::string name = TempDir() + "/" + kTempPrefix + "XXXXXX";
    if (name.size() + 1 > size)
        return CopyOut(name, buffer, size);
    int fd = mkstemp(name.data());
    if (fd < 0)
        return ERR_WRITEFILE;
    close(fd);
    return CopyOut(name, buffer, size);
}

uint32_t OsCreateTempDirectory(char* buffer, size_t size)
{
    std::string name = TempDir() + "/" + kTempPrefix + "XXXXXX";
    if (name.size() + 1 > size)
        return CopyOut(name, buffer, size);
    if (!mkdtemp(name.data()))
        return ERR_CREATEDIR;
    return CopyOut(name, buffer, size);
}

uint32_t OsRemoveTempDirectory(const char* path)
{
    // Refuse the obviously wrong: nothing, a relative path, the root.
    if (!path || path[0] != '/' || StripTrailingSlashes(path) == "/")
        return ERR_DELETEFILE;
    removeFailures = 0;
    if (nftw(path, RemoveEntry, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT) != 0)
        return ERR_DELETEFILE;
    return removeFailures ? uint32_t{ERR_DELETEFILE} : 0;
}

uint32_t OsGetPrefsPath(char* buffer, size_t size)
{
    std::string config = ConfigHome();
    if (config.empty())
        return ERR_FINDPATH;
    std::string path = config + "/" + kPrefsFolder;
    if (path.size() + 1 > size)
        return CopyOut(path, buffer, size);
    if (!MakeDirectories(path, 0700))
        return ERR_CREATEDIR;
    return CopyOut(path, buffer, size);
}

uint32_t OsGetUserInfo(int kind, char* buffer, size_t size)
{
    std::string result;
    switch (kind) {
    case USERINFO_SYSTEM:
        result = "/usr";
        break;
    case USERINFO_PROGRAMS:
        result = "/opt";
        break;
    case USERINFO_APPDATA:
        result = ConfigHome();
        break;
    case USERINFO_DOCUMENTS: {
        std::string home = HomeDir();
        if (!home.empty())
            result = DocumentsDir(home);
        break;
    }
    case USERINFO_HOME:
        result = HomeDir();
        break;
    case USERINFO_COMMONAPPDATA: {
        // The first folder of XDG_DATA_DIRS, as the XDG rules default it.
        const char* dirs = std::getenv("XDG_DATA_DIRS");
        std::string first = dirs ? std::string(dirs).substr(0, std::strcspn(dirs, ":")) : "";
        result = !first.empty() && first[0] == '/' ? StripTrailingSlashes(first)
                                                   : std::string("/usr/local/share");
        break;
    }
    case USERINFO_USERNAME:
        result = UserName();
        break;
    default:
        if (buffer && size)
            buffer[0] = '\0';
        return ERR_WRONGUSAGE;
    }
    if (result.empty()) {
        if (buffer && size)
            buffer[0] = '\0';
        return ERR_FINDPATH;
    }
    return CopyOut(result, buffer, size);
}

int OsGetSystemLanguage()
{
    return LookUp(kLanguages, TwoLetters(LocaleSetting(), 0), kNoLanguage);
}

int OsGetSystemCountry()
{
    std::string setting = LocaleSetting();
    size_t underscore = setting.find('_');
    if (underscore == std::string::npos)
        return kNoCountry;
    return LookUp(kCountries, TwoLetters(setting, underscore + 1), kNoCountry);
}

uint32_t OsGetMemoryInfo()
{
    uint64_t bytes = 0;
    bool found = false;
    if (FILE* file = std::fopen("/proc/meminfo", "r")) {
        char line[256];
        unsigned long long kib;
        while (std::fgets(line, sizeof line, file)) {
            if (std::sscanf(line, "MemAvailable: %llu kB", &kib) == 1) {
                bytes = static_cast<uint64_t>(kib) * 1024;
                found = true;
                break;
            }
        }
        std::fclose(file);
    }
    if (!found) {
        struct sysinfo info;
        if (sysinfo(&info) == 0)
            bytes = static_cast<uint64_t>(info.freeram) * info.mem_unit;
    }
    return bytes > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(bytes);
}
