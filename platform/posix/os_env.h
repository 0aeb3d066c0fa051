// The user's environment: environment variables, temporary files and the
// runtime's own temporary directory, the preferences folder, the standard
// folders, and the user's language, country and free memory.
#pragma once

#include <cstddef>
#include <cstdint>

// The value of an environment variable, or null. The text belongs to the
// environment: copy it before the variable is changed.
const char* OsGetEnv(const char* name);

// 0, or ERR_SETENV / ERR_UNSETENV (an empty name, or one with '=').
uint32_t OsSetEnv(const char* name, const char* value);
uint32_t OsUnsetEnv(const char* name);

// The temporary folder: $TMPDIR when it is an absolute path, else "/tmp".
// Never ends in '/' (except for "/").
uint32_t OsGetTempDir(char* buffer, size_t size);

// Creates a new, empty file with a unique name starting "quillmere" in the
// temporary folder (mode 0600) and gives its full path. 0, ERR_NAMETOOLONG, or
// ERR_WRITEFILE when it cannot be created.
uint32_t OsGetTempFileName(char* buffer, size_t size);

// Creates the runtime's own temporary directory (unique, mode 0700, in the
// temporary folder) and gives its path. 0, ERR_NAMETOOLONG or ERR_CREATEDIR.
uint32_t OsCreateTempDirectory(char* buffer, size_t size);

// Deletes a directory with everything in it. Symbolic links are removed, not
// followed, and no other file system is entered. 0 or ERR_DELETEFILE.
uint32_t OsRemoveTempDirectory(const char* path);

// The per-user preferences folder, $XDG_CONFIG_HOME (or ~/.config) followed
// by "KestromDelvonix/Quillmere/Preferences", every missing level created
// (mode 0700). 0, ERR_NAMETOOLONG, ERR_FINDPATH (no home folder) or
// ERR_CREATEDIR.
uint32_t OsGetPrefsPath(char* buffer, size_t size);

// Standard folder kinds of OsGetUserInfo, and the user name.
enum : int {
    USERINFO_SYSTEM = 36,          // the system's own folder
    USERINFO_PROGRAMS = 38,        // where programs are installed
    USERINFO_APPDATA = 26,         // the user's application settings
    USERINFO_DOCUMENTS = 5,        // the user's documents
    USERINFO_HOME = 40,            // the user's home folder
    USERINFO_COMMONAPPDATA = 35,   // application data shared by all users
    USERINFO_USERNAME = 1000,
};

// The folder of a standard kind, or the user name. 0, ERR_WRONGUSAGE for an
// unknown kind, ERR_FINDPATH when it cannot be found out, ERR_NAMETOOLONG.
uint32_t OsGetUserInfo(int kind, char* buffer, size_t size);

// The user's language as a LANGUAGE_* number (0 English ... 17 Russian) from
// the first of LC_ALL, LC_MESSAGES and LANG that is set; 18 when its
// two-letter code is not one of those (also for "C" and "POSIX").
int OsGetSystemLanguage();

// The user's country as a COUNTRY_* number from the territory of the same
// locale setting (de_AT: Austria); 38 when it is not one of those.
int OsGetSystemCountry();

// Free memory in bytes (what can be had without swapping), at most
// 0xFFFFFFFF.
uint32_t OsGetMemoryInfo();
