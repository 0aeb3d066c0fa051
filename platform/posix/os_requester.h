// Requesters on a machine without a window system. Every requester the
// runtime shows goes through one back-end table: the console back end talks
// to the terminal, the scripted back end answers from a queue that tests
// fill. The display subsystem (display/requesters.h) decides when a
// requester is shown; the back end only asks and answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Size of every text answer buffer the requesters fill.
constexpr size_t kRequesterTextSize = 1024;

// What a file requester chose. `names` is a block of zero-terminated file
// names (one per chosen file) allocated with OsAllocMem and owned by the
// caller; a `count` of 0 means cancelled and then `names` is null.
struct FileRequestResult {
    char folder[kRequesterTextSize];
    char* names;
    uint32_t count;
};

// The font description a font requester answers with.
struct FontRequestResult {
    char name[256];
    char family[256];
    int32_t size;
    int32_t weight;
    int32_t slant;
    int32_t underline;
    int32_t strikeout;
    int32_t bold;
    int32_t italic;
    uint32_t color;
};

// File and path requester modes.
enum : int32_t { REQ_NORMAL = 0, REQ_MULTISELECT = 1, REQ_SAVEMODE = 2 };

// One requester back end. Each entry returns 0 or an error code. Message
// requesters number their buttons from the left starting at 1, except the
// last button, which is always 0 (the "cancel" position). A cancelled
// string requester answers ERR_USERABORT with the text to return in `out`.
struct OsRequesterBackend {
    const char* name;
    int (*systemRequest)(const char* title, const char* body, const char* buttons, int icon,
                         int* outButton);
    int (*stringRequest)(const char* title, const char* body, const char* defaultText, int type,
                         int maxLength, int password, char* out);
    int (*fileRequest)(const char* title, const char* pattern, int mode, const char* folder,
                       const char* file, FileRequestResult* out);
    // The chosen folder is a new OsAllocMem string, or null when cancelled.
    int (*pathRequest)(const char* title, int mode, const char* folder, char** outFolder);
    // `choices`: zero-terminated strings ended by an empty one; -1 = none.
    int (*listRequest)(const char* title, const char* body, const char* choices, int defaultIndex,
                       int* outIndex);
    int (*fontRequest)(const char* title, const char* defaultFont, int flags,
                       FontRequestResult* out);
    int (*colorRequest)(const char* title, uint32_t defaultColor, uint32_t* outColor);
};

// The back end in force (the console one unless another was installed).
const OsRequesterBackend* OsGetRequesterBackend();
// Installs a back end; null restores the console back end.
void OsSetRequesterBackend(const OsRequesterBackend* backend);

extern const OsRequesterBackend ConsoleRequesterBackend;
extern const OsRequesterBackend ScriptedRequesterBackend;

// Splits a "|"-separated button list; an empty or null list gives "OK".
std::vector<std::string> SplitRequesterButtons(const char* buttons);
// The number a button at 0-based `position` of `count` answers with.
int RequesterButtonNumber(size_t position, size_t count);

// The scripted back end. Each request takes the next answer from the queue
// (whatever its kind); with the queue empty it answers as the console back
// end does without a terminal. Every request is logged for inspection.
struct ScriptedAnswer {
    int error = 0;          // returned as the requester's result when non-zero
    int button = 0;         // message requesters
    bool cancel = false;    // string, file, path, list, font and colour requesters
    std::string text;       // string requesters; file and path requesters: the full path; font name
    std::vector<std::string> files;  // multi-selection: extra file names in `text`'s folder
    int index = -1;         // list requesters; the size for font requesters
    uint32_t color = 0;     // colour requesters
};

struct ScriptedRequest {
    std::string kind;       // "system", "string", "file", "path", "list", "font", "color"
    std::string title;
    std::string body;
};

void ScriptedRequesterPush(const ScriptedAnswer& answer);
void ScriptedRequesterReset();
std::vector<ScriptedRequest> ScriptedRequesterLog();
