// Host services of the "system" library on a machine without a desktop
// shell: a file-backed registry under the preferences folder, shortcut
// files, and addresses handed to an opener program. (The clipboard is the
// platform layer's, kept in the process.)
#pragma once

#include <cstdint>
#include <string>

// Registry roots (the HKEY_* constants).
constexpr int32_t kRegistryRootCount = 5;

// A value of the file-backed registry: a string (stored with its
// terminating zero) or a 32-bit number.
struct RegistryValue {
    bool isNumber = false;
    uint32_t number = 0;
    std::string bytes;  // as stored: a string value ends with its zero
};

// keyPath is the key's path and the value's name joined by '\' ('/' counts
// as '\'). 0, ERR_WRONGUSAGE for a root outside 0..4, or ERR_REGISTRYREAD /
// ERR_REGISTRYWRITE (also for a path that leaves its root).
uint32_t RegistryRead(int32_t root, const char* keyPath, RegistryValue* out);
uint32_t RegistryWrite(int32_t root, const char* keyPath, const RegistryValue& value);
// Where the registry lives: <preferences folder>/Registry. Tests move it.
void SetRegistryFolder(const char* folder);

// The program that opens addresses, looked up along PATH ("xdg-open").
void SetUrlOpener(const char* program);
// Starts the opener with the address as its one argument, no shell in
// between, and does not wait for it. 0, ERR_BADURL for an empty address,
// ERR_EXECUTE (with the program name) when it cannot be started.
uint32_t OpenUrlWithOpener(const char* url);

// Shortcut files: a desktop-entry link holding the target and a comment.
uint32_t WriteShortcutFile(const char* target, const char* link, const char* description);
uint32_t ReadShortcutFile(const char* link, std::string* target, std::string* description);
