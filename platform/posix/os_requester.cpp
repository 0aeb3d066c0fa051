// The two requester back ends. The console one prints the requester on
// stderr and, when stdin is a terminal, reads the answer as one line; without
// a terminal (a pipe, a test run, a service) it answers at once with the
// default, so that an unattended run never blocks on a requester.
#include "platform/posix/os_requester.h"

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>

#include "core/io/error_codes.h"
#include "platform/posix/os_memory.h"
#include "platform/posix/os_runloop.h"

namespace {

std::atomic<const OsRequesterBackend*> g_backend{&ConsoleRequesterBackend};

void CopyText(char* out, size_t size, const char* text)
{
    if (size == 0) return;
    size_t n = text ? std::strlen(text) : 0;
    if (n >= size) n = size - 1;
    if (n) std::memcpy(out, text, n);
    out[n] = 0;
}

// Fills a file result from one full path: the folder part and one name.
// An empty path means cancelled.
int FillFileResult(FileRequestResult* out, const std::string& path,
                   const std::vector<std::string>& extra)
{
    out->folder[0] = 0;
    out->names = nullptr;
    out->count = 0;
    if (path.empty()) return 0;
    size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash);
    if (slash == 0) folder.assign(1, '/');
    std::vector<std::string> names;
    names.push_back(slash == std::string::npos ? path : path.substr(slash + 1));
    names.insert(names.end(), extra.begin(), extra.end());
    size_t total = 1;
    for (const auto& n : names) total += n.size() + 1;
    char* block = static_cast<char*>(OsAllocMem(total, 1));
    if (!block) return ERR_MEM;
    char* p = block;
    for (const auto& n : names) {
        std::memcpy(p, n.data(), n.size());
        p += n.size() + 1;
    }
    CopyText(out->folder, sizeof out->folder, folder.c_str());
    out->names = block;
    out->count = static_cast<uint32_t>(names.size());
    return 0;
}

char* NewString(const std::string& s)
{
    char* p = static_cast<char*>(OsAllocMem(s.size() + 1, 0));
    if (p) std::memcpy(p, s.c_str(), s.size() + 1);
    return p;
}

void FillDefaultFont(FontRequestResult* out, const char* defaultFont)
{
    std::memset(out, 0, sizeof *out);
    CopyText(out->name, sizeof out->name, defaultFont && *defaultFont ? defaultFont : "topaz");
    CopyText(out->family, sizeof out->family, out->name);
    out->size = 8;
    out->weight = 400;
}

// ---------------------------------------------------------------- console

bool Interactive() { return isatty(STDIN_FILENO) == 1; }

// "title: body" on stderr, so that a requester shown to nobody still leaves
// its text where a shell user or a log will find it.
void Announce(const char* title, const char* body)
{
    bool hasTitle = title && *title;
    bool hasBody = body && *body;
    if (hasTitle && hasBody) std::fprintf(stderr, "%s: %s\n", title, body);
    else if (hasTitle || hasBody) std::fprintf(stderr, "%s\n", hasTitle ? title : body);
    std::fflush(stderr);
}

// Reads one line from stdin without its line end; false at the end of the
// input and when a quit signal came while waiting (Ctrl+C at the prompt
// must not leave the user stuck in it).
bool ReadAnswerLine(std::string* line)
{
    line->clear();
    for (;;) {
        if (OsQuitRequested()) return false;
        pollfd in{STDIN_FILENO, POLLIN, 0};
        int ready = poll(&in, 1, 100);
        if (ready < 0 && errno != EINTR) return !line->empty();
        if (ready <= 0) continue;
        char c;
        ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return !line->empty();
        if (c == '\n') break;
        line->push_back(c);
    }
    if (!line->empty() && line->back() == '\r') line->pop_back();
    return true;
}

bool ParseInt(const std::string& text, long* out)
{
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text.c_str(), &end, 10);
    if (errno || *end) return false;
    *out = v;
    return true;
}

int ConsoleSystem(const char* title, const char* body, const char* buttons, int, int* outButton)
{
    auto labels = SplitRequesterButtons(buttons);
    Announce(title, body);
    int answer = RequesterButtonNumber(0, labels.size());
    if (Interactive()) {
        for (size_t i = 0; i < labels.size(); ++i)
            std::fprintf(stderr, "  %d: %s\n", RequesterButtonNumber(i, labels.size()),
                         labels[i].c_str());
        std::string line;
        long n;
        while (ReadAnswerLine(&line)) {
            if (ParseInt(line, &n) && n >= 0 && static_cast<size_t>(n) < labels.size()) {
                answer = static_cast<int>(n);
                break;
            }
            std::fprintf(stderr, "? ");
        }
        if (OsQuitRequested()) return ERR_USERABORT;
    }
    if (outButton) *outButton = answer;
    return 0;
}

int ConsoleString(const char* title, const char* body, const char* defaultText, int, int maxLength,
                  int, char* out)
{
    Announce(title, body);
    std::string answer = defaultText ? defaultText : "";
    if (Interactive()) {
        std::string line;
        if (!ReadAnswerLine(&line)) {
            // Cancelled: the default is what the caller hands back.
            CopyText(out, kRequesterTextSize, answer.c_str());
            return ERR_USERABORT;
        }
        answer = line;
    }
    if (maxLength > 0 && answer.size() > static_cast<size_t>(maxLength)) answer.resize(maxLength);
    CopyText(out, kRequesterTextSize, answer.c_str());
    return 0;
}

int ConsoleFile(const char* title, const char*, int, const char*, const char*,
                FileRequestResult* out)
{
    Announce(title, nullptr);
    std::string line;
    if (Interactive()) ReadAnswerLine(&line);
    return FillFileResult(out, line, {});
}

int ConsolePath(const char* title, int, const char*, char** outFolder)
{
    Announce(title, nullptr);
    *outFolder = nullptr;
    std::string line;
    if (Interactive() && ReadAnswerLine(&line) && !line.empty()) {
        *outFolder = NewString(line);
        if (!*outFolder) return ERR_MEM;
    }
    return 0;
}

int ConsoleList(const char* title, const char* body, const char* choices, int defaultIndex,
                int* outIndex)
{
    Announce(title, body);
    int count = 0;
    for (const char* p = choices; p && *p; p += std::strlen(p) + 1)
        if (Interactive()) std::fprintf(stderr, "  %d: %s\n", count++, p);
        else ++count;
    *outIndex = defaultIndex;
    if (Interactive()) {
        std::string line;
        long n;
        if (ReadAnswerLine(&line) && ParseInt(line, &n) && n >= -1 && n < count)
            *outIndex = static_cast<int>(n);
    }
    return 0;
}

int ConsoleFont(const char* title, const char* defaultFont, int, FontRequestResult* out)
{
    Announce(title, nullptr);
    FillDefaultFont(out, defaultFont);
    if (Interactive()) {
        std::string line;
        if (ReadAnswerLine(&line) && !line.empty()) {
            CopyText(out->name, sizeof out->name, line.c_str());
            CopyText(out->family, sizeof out->family, line.c_str());
        }
    }
    return 0;
}

int ConsoleColor(const char* title, uint32_t defaultColor, uint32_t* outColor)
{
    Announce(title, nullptr);
    *outColor = defaultColor;
    if (Interactive()) {
        std::string line;
        if (ReadAnswerLine(&line) && !line.empty()) {
            char* end = nullptr;
            unsigned long v = std::strtoul(line.c_str(), &end, 0);
            if (!*end) *outColor = static_cast<uint32_t>(v);
        }
    }
    return 0;
}

// ---------------------------------------------------------------- scripted

std::mutex g_scriptMutex;
std::deque<ScriptedAnswer> g_answers;
std::vector<ScriptedRequest> g_log;

// Takes the next answer; false when the queue is empty.
bool NextAnswer(const char* kind, const char* title, const char* body, ScriptedAnswer* out)
{
    std::lock_guard<std::mutex> guard(g_scriptMutex);
    g_log.push_back({kind, title ? title : "", body ? body : ""});
    if (g_answers.empty()) return false;
    *out = g_answers.front();
    g_answers.pop_front();
    return true;
}

int ScriptedSystem(const char* title, const char* body, const char* buttons, int,
                   int* outButton)
{
    ScriptedAnswer a;
    auto labels = SplitRequesterButtons(buttons);
    int button = RequesterButtonNumber(0, labels.size());
    if (NextAnswer("system", title, body, &a)) {
        if (a.error) return a.error;
        button = a.button;
    }
    if (outButton) *outButton = button;
    return 0;
}

int ScriptedString(const char* title, const char* body, const char* defaultText, int,
                   int maxLength, int, char* out)
{
    ScriptedAnswer a;
    std::string text = defaultText ? defaultText : "";
    bool cancel = false;
    if (NextAnswer("string", title, body, &a)) {
        if (a.error) return a.error;
        text = a.text;
        cancel = a.cancel;
    }
    if (maxLength > 0 && text.size() > static_cast<size_t>(maxLength)) text.resize(maxLength);
    CopyText(out, kRequesterTextSize, text.c_str());
    return cancel ? static_cast<int>(ERR_USERABORT) : 0;
}

int ScriptedFile(const char* title, const char*, int, const char*, const char*,
                 FileRequestResult* out)
{
    ScriptedAnswer a;
    if (!NextAnswer("file", title, nullptr, &a) || a.cancel) return FillFileResult(out, "", {});
    if (a.error) return a.error;
    return FillFileResult(out, a.text, a.files);
}

int ScriptedPath(const char* title, int, const char*, char** outFolder)
{
    ScriptedAnswer a;
    *outFolder = nullptr;
    if (!NextAnswer("path", title, nullptr, &a) || a.cancel) return 0;
    if (a.error) return a.error;
    *outFolder = NewString(a.text);
    return *outFolder ? 0 : static_cast<int>(ERR_MEM);
}

int ScriptedList(const char* title, const char* body, const char*, int defaultIndex,
                 int* outIndex)
{
    ScriptedAnswer a;
    *outIndex = defaultIndex;
    if (!NextAnswer("list", title, body, &a)) return 0;
    if (a.error) return a.error;
    *outIndex = a.cancel ? -1 : a.index;
    return 0;
}

int ScriptedFont(const char* title, const char* defaultFont, int, FontRequestResult* out)
{
    ScriptedAnswer a;
    FillDefaultFont(out, defaultFont);
    if (!NextAnswer("font", title, nullptr, &a)) return 0;
    if (a.error) return a.error;
    if (!a.text.empty()) {
        CopyText(out->name, sizeof out->name, a.text.c_str());
        CopyText(out->family, sizeof out->family, a.text.c_str());
    }
    if (a.index > 0) out->size = a.index;
    return 0;
}

int ScriptedColor(const char* title, uint32_t defaultColor, uint32_t* outColor)
{
    ScriptedAnswer a;
    *outColor = defaultColor;
    if (!NextAnswer("color", title, nullptr, &a)) return 0;
    if (a.error) return a.error;
    if (!a.cancel) *outColor = a.color;
    return 0;
}

}  // namespace

const OsRequesterBackend ConsoleRequesterBackend = {
    "console",     ConsoleSystem, ConsoleString, ConsoleFile,
    ConsolePath,   ConsoleList,   ConsoleFont,   ConsoleColor,
};

const OsRequesterBackend ScriptedRequesterBackend = {
    "scripted",   ScriptedSystem, ScriptedString, ScriptedFile,
    ScriptedPath, ScriptedList,   ScriptedFont,   ScriptedColor,
};

const OsRequesterBackend* OsGetRequesterBackend() { return g_backend.load(); }

void OsSetRequesterBackend(const OsRequesterBackend* backend)
{
    g_backend.store(backend ? backend : &ConsoleRequesterBackend);
}

std::vector<std::string> SplitRequesterButtons(const char* buttons)
{
    std::vector<std::string> labels;
    if (!buttons || !*buttons) return {"OK"};
    const char* start = buttons;
    for (const char* p = buttons;; ++p) {
        if (*p == '|' || *p == 0) {
            labels.emplace_back(start, p);
            if (*p == 0) break;
            start = p + 1;
        }
    }
    return labels;
}

int RequesterButtonNumber(size_t position, size_t count)
{
    return position + 1 >= count ? 0 : static_cast<int>(position + 1);
}

void ScriptedRequesterPush(const ScriptedAnswer& answer)
{
    std::lock_guard<std::mutex> guard(g_scriptMutex);
    g_answers.push_back(answer);
}

void ScriptedRequesterReset()
{
    std::lock_guard<std::mutex> guard(g_scriptMutex);
    g_answers.clear();
    g_log.clear();
}

std::vector<ScriptedRequest> ScriptedRequesterLog()
{
    std::lock_guard<std::mutex> guard(g_scriptMutex);
    return g_log;
}
