// Requesters: choosing the back end and keeping the display's requester
// state. The back ends do the asking (platform/posix/os_requester.cpp).
#include "display/requesters.h"

#include <cstring>

#include "core/io/error_codes.h"
#include "display/adapters.h"
#include "display/display.h"

namespace {

// The entry the requester goes to: the adapter's when it has one.
template <typename Fn>
Fn Pick(Fn OsRequesterBackend::*entry)
{
    const RequesterAdapterHooks* adapter = GetRequesterAdapter();
    if (adapter && adapter->backend.*entry) return adapter->backend.*entry;
    return OsGetRequesterBackend()->*entry;
}

// Marks the display busy for the requester's lifetime.
class RequesterScope {
public:
    explicit RequesterScope(Display* display) : display_(display ? display : CurrentDisplay)
    {
        if (display_) display_->requesterOpen = 1;
    }
    ~RequesterScope()
    {
        if (!display_) return;
        display_->requesterOpen = 0;
        ResetDisplayInputState(display_);
    }
    RequesterScope(const RequesterScope&) = delete;
    RequesterScope& operator=(const RequesterScope&) = delete;

private:
    Display* display_;
};

const char* OrEmpty(const char* text) { return text ? text : ""; }

}  // namespace

uint32_t ShowSystemRequester(VmState*, Display* display, const char* title, const char* body,
                             const char* buttons, int icon, int, int* outButton)
{
    RequesterScope scope(display);
    int button = 0;
    int error = Pick(&OsRequesterBackend::systemRequest)(OrEmpty(title), OrEmpty(body),
                                                         buttons && *buttons ? buttons : "OK",
                                                         icon, &button);
    if (!error && outButton) *outButton = button;
    return static_cast<uint32_t>(error);
}

uint32_t ShowStringRequester(VmState*, Display* display, const char* title, const char* body,
                             const char* defaultText, int type, int maxLength, int password, int,
                             char* out)
{
    if ((type != 0 && type != 3) || maxLength < 0 ||
        maxLength > static_cast<int>(kRequesterTextSize))
        return ERR_WRONGUSAGE;
    // The answer buffer holds at most 1023 characters and the terminator.
    if (maxLength == 0 || maxLength >= static_cast<int>(kRequesterTextSize))
        maxLength = kRequesterTextSize - 1;
    RequesterScope scope(display);
    out[0] = 0;
    return static_cast<uint32_t>(Pick(&OsRequesterBackend::stringRequest)(
        OrEmpty(title), OrEmpty(body), OrEmpty(defaultText), type, maxLength, password, out));
}

uint32_t ShowFileRequester(VmState*, Display* display, const char* title, const char* pattern,
                           int mode, const char* folder, const char* file, int,
                           FileRequestResult* out)
{
    std::memset(out, 0, sizeof *out);
    if (mode < REQ_NORMAL || mode > REQ_SAVEMODE) return ERR_WRONGUSAGE;
    // "*" and "#?" both mean every file; the back ends know only "".
    if (pattern && (!std::strcmp(pattern, "*") || !std::strcmp(pattern, "#?"))) pattern = "";
    RequesterScope scope(display);
    return static_cast<uint32_t>(Pick(&OsRequesterBackend::fileRequest)(
        OrEmpty(title), OrEmpty(pattern), mode, OrEmpty(folder), OrEmpty(file), out));
}

uint32_t ShowPathRequester(VmState*, Display* display, const char* title, int mode,
                           const char* folder, int, char** outFolder)
{
    *outFolder = nullptr;
    if (mode != REQ_NORMAL && mode != REQ_SAVEMODE) return ERR_WRONGUSAGE;
    RequesterScope scope(display);
    return static_cast<uint32_t>(Pick(&OsRequesterBackend::pathRequest)(
        OrEmpty(title), mode, OrEmpty(folder), outFolder));
}

uint32_t ShowFontRequester(VmState*, Display* display, const char* title,
                           const char* defaultFont, int flags, int, FontRequestResult* out)
{
    RequesterScope scope(display);
    return static_cast<uint32_t>(Pick(&OsRequesterBackend::fontRequest)(
        OrEmpty(title), OrEmpty(defaultFont), flags, out));
}

uint32_t ShowListRequester(VmState*, Display* display, const char* title, const char* body,
                           const char* choices, int defaultIndex, int, int* outIndex)
{
    *outIndex = -1;
    if (!choices || !*choices) return ERR_WRONGUSAGE;
    int count = 0;
    for (const char* p = choices; *p; p += std::strlen(p) + 1) ++count;
    if (defaultIndex < -1 || defaultIndex >= count) defaultIndex = -1;
    RequesterScope scope(display);
    int error = Pick(&OsRequesterBackend::listRequest)(OrEmpty(title), OrEmpty(body), choices,
                                                       defaultIndex, outIndex);
    // An answer outside the choices counts as no choice.
    if (!error && (*outIndex < -1 || *outIndex >= count)) *outIndex = -1;
    return static_cast<uint32_t>(error);
}

uint32_t ShowColorRequester(VmState*, Display* display, const char* title,
                            uint32_t defaultColor, int, uint32_t* outColor)
{
    RequesterScope scope(display);
    return static_cast<uint32_t>(
        Pick(&OsRequesterBackend::colorRequest)(OrEmpty(title), defaultColor, outColor));
}
