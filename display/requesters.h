// The runtime's requesters. Each goes to the requester adapter plugin when
// one is installed, else to the platform's requester back end
// (platform/posix/os_requester.h). While a requester is shown the display's
// requester-open flag is 1, and the input gathered for the display is
// dropped afterwards, so that the click that closed the requester does not
// reach the script.
#pragma once

#include <cstdint>

#include "platform/posix/os_requester.h"

struct VmState;
struct Display;

// A message requester; without a button list it has the one button "OK".
// 0 (the chosen button through outButton when given), ERR_USERABORT or
// another error code.
uint32_t ShowSystemRequester(VmState* vm, Display* display, const char* title, const char* body,
                             const char* buttons, int icon, int modal, int* outButton);
// Type 0 (any text) or 3 (numbers only); maxLength 0..1024 (0: no limit).
// 0, ERR_USERABORT when cancelled (out then holds the text to return), or
// an error code. `out` has room for kRequesterTextSize bytes.
uint32_t ShowStringRequester(VmState* vm, Display* display, const char* title, const char* body,
                             const char* defaultText, int type, int maxLength, int password,
                             int modal, char* out);
// Modes 0..2 (REQ_NORMAL, REQ_MULTISELECT, REQ_SAVEMODE); the patterns "*"
// and "#?" mean all files. A result count of 0 means cancelled.
uint32_t ShowFileRequester(VmState* vm, Display* display, const char* title, const char* pattern,
                           int mode, const char* folder, const char* file, int modal,
                           FileRequestResult* out);
// Mode REQ_NORMAL or REQ_SAVEMODE; *outFolder is a new OsAllocMem string, or null when cancelled.
uint32_t ShowPathRequester(VmState* vm, Display* display, const char* title, int mode,
                           const char* folder, int modal, char** outFolder);
uint32_t ShowFontRequester(VmState* vm, Display* display, const char* title,
                           const char* defaultFont, int flags, int modal, FontRequestResult* out);
// `choices`: zero-terminated strings ended by an empty one; *outIndex -1 = none.
uint32_t ShowListRequester(VmState* vm, Display* display, const char* title, const char* body,
                           const char* choices, int defaultIndex, int modal, int* outIndex);
uint32_t ShowColorRequester(VmState* vm, Display* display, const char* title,
                            uint32_t defaultColor, int modal, uint32_t* outColor);

// A requester adapter plugin's entry points, as the plugin layer binds them.
// Installed by SetRequesterAdapter; null entries fall back to the platform.
struct PluginInfo;
struct RequesterAdapterHooks {
    OsRequesterBackend backend;
    PluginInfo* plugin;
    uint32_t flags;
};
const RequesterAdapterHooks* GetRequesterAdapter();
// The plugin layer hands over the entry points it bound (copied).
void SetRequesterAdapterHooks(const OsRequesterBackend* backend);
