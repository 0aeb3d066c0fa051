// Requester commands of the "system" library. The requesters themselves are
// the display layer's; these commands check the arguments, fill in the
// remembered folders and turn the answers into script values. A cancel is
// no error.
#include <cstring>
#include <string>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/number_conv.h"
#include "core/services/check_args.h"
#include "core/services/path_helpers.h"
#include "core/startup/run_records.h"
#include "display/display.h"
#include "display/requesters.h"
#include "libs/system/system_library.h"
#include "platform/posix/os_memory.h"

namespace {

constexpr int32_t kHideIcons = 65536;
constexpr int32_t kMaxStringLength = 1024;
constexpr int kStringTypeAll = 0;
constexpr int kStringTypeNumerical = 3;

// An empty title means the applet's own.
const char* TitleArg(VmState* vm, int index)
{
    const char* title = VmCheckString(vm, index, nullptr);
    if (*title)
        return title;
    AppletInfo* applet = GetAppletInfo(vm);
    return applet ? applet->title : "";
}

bool IsWholeNumber(const char* text, size_t length)
{
    if (length == 0)
        return true;
    size_t used = 0;
    ErrorCode error = ERR_NONE;
    StringToNumber(text, length, &used, &error);
    return error == ERR_NONE && used == length;
}

struct FileNames {
    FileRequestResult result{};
    ~FileNames() { OsFreeMem(result.names); }
};

}  // namespace

uint32_t CmdSystemRequest(VmState* vm)
{
    CheckArgs(vm, 3, 4, 0, 0);
    const char* title = TitleArg(vm, 1);
    const char* body = VmCheckString(vm, 2, nullptr);
    const char* buttons = VmCheckString(vm, 3, nullptr);
    int icon = VmOptInteger(vm, 4, 0);
    int button = 0;
    uint32_t code = ShowSystemRequester(vm, CurrentDisplay, title, body, buttons, icon, 1, &button);
    if (code && code != ERR_USERABORT)
        return code;
    VmPushNumber(vm, button);
    return 1;
}

uint32_t CmdStringRequest(VmState* vm)
{
    CheckArgs(vm, 2, 6, 0, 0);
    const char* title = TitleArg(vm, 1);
    const char* body = VmCheckString(vm, 2, nullptr);
    size_t defaultLength;
    const char* defaultText = VmOptString(vm, 3, "", &defaultLength);
    int type = VmOptInteger(vm, 4, kStringTypeAll);
    int32_t maxLength = VmOptInteger(vm, 5, 0);
    int password = VmOptInteger(vm, 6, 0);
    if (type != kStringTypeAll && type != kStringTypeNumerical)
        return ERR_WRONGUSAGE;
    if (maxLength < 0 || maxLength > kMaxStringLength)
        return ERR_WRONGUSAGE;
    // A maximum of 0 means no limit, so the default is kept whole then.
    std::string initial(defaultText, defaultLength);
    if (maxLength > 0 && initial.size() > static_cast<size_t>(maxLength))
        initial.resize(static_cast<size_t>(maxLength));
    if (type == kStringTypeNumerical && !IsWholeNumber(initial.data(), initial.size()))
        return ERR_WRONGUSAGE;
    char answer[kRequesterTextSize];
    uint32_t code = ShowStringRequester(vm, CurrentDisplay, title, body, initial.c_str(), type, maxLength,
                                        password, 1, answer);
    if (code && code != ERR_USERABORT)
        return code;
    VmPushString(vm, answer);
    VmPushNumber(vm, code ? 0 : 1);
    return 2;
}

uint32_t CmdFileRequest(VmState* vm)
{
    CheckArgs(vm, 1, 5, 0, 0);
    const char* title = VmCheckString(vm, 1, nullptr);
    const char* filter = VmOptString(vm, 2, "", nullptr);
    int32_t mode = VmOptInteger(vm, 3, REQ_NORMAL) & ~kHideIcons;
    bool haveDir = VmType(vm, 4) != VM_TNONE && VmType(vm, 4) != VM_TNIL;
    bool haveFile = VmType(vm, 5) != VM_TNONE && VmType(vm, 5) != VM_TNIL;
    std::string folder = haveDir ? VmCheckString(vm, 4, nullptr) : "";
    std::string file = haveFile ? VmCheckString(vm, 5, nullptr) : "";
    if (mode < REQ_NORMAL || mode > REQ_SAVEMODE)
        return ERR_WRONGUSAGE;
    if (!haveDir && !haveFile) {
        folder = SystemState.lastFileFolder;
        file = SystemState.lastFile;
    }
    FileNames chosen;
    if (uint32_t code = ShowFileRequester(vm, CurrentDisplay, title, filter, mode, folder.c_str(), file.c_str(), 1,
                                          &chosen.result))
        return code;
    const FileRequestResult& r = chosen.result;
    if (r.count && r.names) {
        SystemState.lastFileFolder = r.folder;
        SystemState.lastFile = r.names;
    }
    if (mode != REQ_MULTISELECT) {
        std::string path = r.count && r.names ? AddPart(r.folder, r.names) : "";
        VmPushLString(vm, path.data(), path.size());
        return 1;
    }
    VmNewTable(vm);
    const char* name = r.names;
    uint32_t i = 0;
    for (; name && i < r.count; ++i, name += std::strlen(name) + 1) {
        std::string path = AddPart(r.folder, name);
        VmPushLString(vm, path.data(), path.size());
        VmRawSetI(vm, -2, static_cast<int>(i));
    }
    VmPushString(vm, "");
    VmRawSetI(vm, -2, static_cast<int>(i));
    return 1;
}

uint32_t CmdPathRequest(VmState* vm)
{
    CheckArgs(vm, 1, 3, 0, 0);
    const char* title = VmCheckString(vm, 1, nullptr);
    int32_t mode = VmOptInteger(vm, 2, REQ_NORMAL);
    std::string folder = VmOptString(vm, 3, "", nullptr);
    if (mode != REQ_NORMAL && mode != REQ_SAVEMODE)
        return ERR_WRONGUSAGE;
    if (folder.empty())
        folder = SystemState.lastPath;
    char* chosen = nullptr;
    if (uint32_t code = ShowPathRequester(vm, CurrentDisplay, title, mode, folder.c_str(), 1, &chosen))
        return code;
    if (chosen)
        SystemState.lastPath = chosen;
    VmPushString(vm, chosen ? chosen : "");
    OsFreeMem(chosen);
    return 1;
}

uint32_t CmdListRequest(VmState* vm)
{
    CheckArgs(vm, 3, 4, 0, 0);
    const char* title = TitleArg(vm, 1);
    const char* body = VmCheckString(vm, 2, nullptr);
    VmCheckTable(vm, 3);
    int32_t defaultIndex = VmOptInteger(vm, 4, -1);
    std::string block;
    int32_t count = 0;
    for (;; ++count) {
        VmRawGetI(vm, 3, count);
        if (VmType(vm, -1) == VM_TNIL) {
            VmPop(vm, 1);
            break;
        }
        int type = VmType(vm, -1);
        if (type != VM_TSTRING && type != VM_TNUMBER) {
            SetErrorArgNumber(3);
            return ERR_STREXPECTED;
        }
        size_t length;
        const char* choice = VmCheckString(vm, VmGetTop(vm), &length);
        // The block ends at the first empty string, so an empty choice is
        // shown as one blank; an inner zero byte would cut the block too.
        std::string text(choice, strnlen(choice, length));
        block += text.empty() ? std::string(" ") : text;
        block += '\0';
        VmPop(vm, 1);
    }
    if (count == 0)
        return ERR_WRONGUSAGE;
    block += '\0';
    if (defaultIndex < -1 || defaultIndex >= count)
        defaultIndex = -1;
    int chosen = -1;
    if (uint32_t code = ShowListRequester(vm, CurrentDisplay, title, body, block.data(), defaultIndex, 1, &chosen))
        return code;
    VmPushNumber(vm, chosen);
    return 1;
}

uint32_t CmdFontRequest(VmState* vm)
{
    CheckArgs(vm, 1, 3, 0, 0);
    const char* title = VmCheckString(vm, 1, nullptr);
    const char* defaultFont = VmOptString(vm, 2, "", nullptr);
    int flags = VmOptInteger(vm, 3, 0);
    FontRequestResult font{};
    if (uint32_t code = ShowFontRequester(vm, CurrentDisplay, title, defaultFont, flags, 1, &font))
        return code;
    VmNewTable(vm);
    auto text = [vm](const char* key, const char* value) {
        VmPushString(vm, key);
        VmPushString(vm, value);
        VmRawSet(vm, -3);
    };
    auto number = [vm](const char* key, double value) {
        VmPushString(vm, key);
        VmPushNumber(vm, value);
        VmRawSet(vm, -3);
    };
    text("name", font.name);
    text("family", font.family);
    number("size", font.size);
    number("weight", font.weight);
    number("slant", font.slant);
    number("underline", font.underline);
    number("strikeout", font.strikeout);
    number("bold", font.bold);
    number("italic", font.italic);
    number("color", font.color);
    return 1;
}

uint32_t CmdColorRequest(VmState* vm)
{
    CheckArgs(vm, 1, 2, 0, 0);
    const char* title = VmCheckString(vm, 1, nullptr);
    auto defaultColor = static_cast<uint32_t>(VmOptInteger(vm, 2, -1));
    uint32_t color = defaultColor;
    if (uint32_t code = ShowColorRequester(vm, CurrentDisplay, title, defaultColor, 1, &color))
        return code;
    VmPushNumber(vm, color);
    return 1;
}
