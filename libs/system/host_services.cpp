// Clipboard, registry, shortcut, address and tray commands of the "system"
// library, and the host services behind them.
//
// The registry is a tree of folders: each key is a folder "k.<name>" and
// each value a file "v.<name>" holding a type byte ('S' string, 'D' 32-bit
// number, big-endian) and the data. Names are stored lower-cased because
// registry names do not tell case apart.
#include "libs/system/host_services.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "core/io/byte_order.h"
#include "core/io/case_tables.h"
#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/stream.h"
#include "core/io/whole_file.h"
#include "core/services/arg_helpers.h"
#include "core/services/check_args.h"
#include "display/adapters.h"
#include "display/pictures.h"
#include "gfx/bitmaps/argb_exchange.h"
#include "libs/system/system_library.h"
#include "platform/posix/os_clipboard.h"
#include "platform/posix/os_env.h"
#include "platform/posix/os_memory.h"
#include "platform/posix/os_paths.h"

extern char** environ;

namespace {

constexpr size_t kRegistryBufferSize = 65536;
constexpr size_t kShortcutFieldSize = 1024;
constexpr size_t kTrayTipMax = 127;

constexpr const char* kRootNames[kRegistryRootCount] = {
    "HKEY_CLASSES_ROOT", "HKEY_CURRENT_CONFIG", "HKEY_LOCAL_MACHINE", "HKEY_USERS", "HKEY_CURRENT_USER",
};

std::string registryFolder;  // empty: under the preferences folder
std::string urlOpener = "xdg-open";

bool RegistryBase(std::string* out)
{
    if (!registryFolder.empty()) {
        *out = registryFolder;
        return true;
    }
    char prefs[4096];
    if (OsGetPrefsPath(prefs, sizeof prefs))
        return false;
    *out = std::string(prefs) + "/Registry";
    return true;
}

// Splits "a\b\value" into its key folders and the value file; false for
// a component that would leave the tree.
bool RegistryPath(int32_t root, const char* keyPath, std::string* folder, std::string* file,
                  std::vector<std::string>* levels)
{
    std::string base;
    if (!RegistryBase(&base))
        return false;
    std::vector<std::string> parts(1);
    for (const char* p = keyPath; *p; ++p) {
        if (*p == '\\' || *p == '/')
            parts.emplace_back();
        else
            parts.back() += static_cast<char>(ToLowerLatin1(static_cast<uint8_t>(*p)));
    }
    *folder = base + "/" + kRootNames[root];
    if (levels)
        levels->assign({base, *folder});
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        if (parts[i].empty())
            continue;  // doubled or leading separators
        *folder += "/k." + parts[i];
        if (levels)
            levels->push_back(*folder);
    }
    *file = *folder + "/v." + parts.back();
    return true;
}

void PushShortcutField(std::string* out, const std::string& text)
{
    for (char c : text) {
        if (c == '\\')
            *out += "\\\\";
        else if (c == '\n')
            *out += "\\n";
        else if (c == '\r')
            *out += "\\r";
        else
            *out += c;
    }
}

std::string UnescapeShortcutField(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            char c = text[++i];
            out += c == 'n' ? '\n' : c == 'r' ? '\r' : c;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool ReadWholeFile(const std::string& path, size_t limit, std::string* out)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    out->clear();
    char block[4096];
    size_t n;
    while (out->size() < limit && (n = std::fread(block, 1, sizeof block, f)) > 0)
        out->append(block, n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    if (out->size() > limit)
        out->resize(limit);
    return ok;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes)
{
    WholeFileWriter file;
    if (BeginWholeFile(path.c_str(), 0, &file) ||
        StreamWrite(file.stream, bytes.data(), bytes.size()) != bytes.size())
        return false;
    return CommitWholeFile(&file) == 0;
}

}  // namespace

void SetRegistryFolder(const char* folder) { registryFolder = folder ? folder : ""; }
void SetUrlOpener(const char* program) { urlOpener = program ? program : "xdg-open"; }

uint32_t RegistryRead(int32_t root, const char* keyPath, RegistryValue* out)
{
    if (root < 0 || root >= kRegistryRootCount)
        return ERR_WRONGUSAGE;
    std::string folder, file, data;
    if (!RegistryPath(root, keyPath, &folder, &file, nullptr) || !ReadWholeFile(file, kRegistryBufferSize + 1, &data) ||
        data.empty())
        return ERR_REGISTRYREAD;
    if (data[0] == 'D' && data.size() == 5) {
        out->isNumber = true;
        out->number = LoadBE32(data.data() + 1);
        return 0;
    }
    if (data[0] != 'S')
        return ERR_REGISTRYREAD;
    out->isNumber = false;
    out->bytes = data.substr(1, kRegistryBufferSize);
    return 0;
}

uint32_t RegistryWrite(int32_t root, const char* keyPath, const RegistryValue& value)
{
    if (root < 0 || root >= kRegistryRootCount)
        return ERR_WRONGUSAGE;
    std::string folder, file;
    std::vector<std::string> levels;
    if (!RegistryPath(root, keyPath, &folder, &file, &levels))
        return ERR_REGISTRYWRITE;
    for (const std::string& level : levels)
        if (mkdir(level.c_str(), 0700) != 0 && errno != EEXIST)
            return ERR_REGISTRYWRITE;
    std::string data;
    if (value.isNumber) {
        uint8_t word[4];
        StoreBE32(word, value.number);
        data = 'D' + std::string(reinterpret_cast<char*>(word), 4);
    } else {
        data = 'S' + value.bytes;
    }
    return WriteWholeFile(file, data) ? 0u : static_cast<uint32_t>(ERR_REGISTRYWRITE);
}

uint32_t OpenUrlWithOpener(const char* url)
{
    if (!url || !*url)
        return ERR_BADURL;
    std::string program = urlOpener;
    std::vector<char*> argv = {program.data(), const_cast<char*>(url), nullptr};
    pid_t pid;
    if (posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        SetErrorText(program.c_str());
        return ERR_EXECUTE;
    }
    // The opener hands the address on and ends; reap it without waiting here.
    std::thread([pid] {
        int status;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return 0;
}

uint32_t WriteShortcutFile(const char* target, const char* link, const char* description)
{
    std::string text = "[Desktop Entry]\nType=Link\nURL=";
    PushShortcutField(&text, target);
    text += "\nComment=";
    PushShortcutField(&text, description);
    text += "\n";
    return WriteWholeFile(OsHostPath(link), text) ? 0u : static_cast<uint32_t>(ERR_CREATESHORTCUT);
}

uint32_t ReadShortcutFile(const char* link, std::string* target, std::string* description)
{
    std::string text;
    if (!ReadWholeFile(OsHostPath(link), kRegistryBufferSize, &text) || text.rfind("[Desktop Entry]\n", 0) != 0)
        return ERR_GETSHORTCUT;
    target->clear();
    description->clear();
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        if (line.rfind("URL=", 0) == 0)
            *target = UnescapeShortcutField(line.substr(4)).substr(0, kShortcutFieldSize - 1);
        else if (line.rfind("Comment=", 0) == 0)
            *description = UnescapeShortcutField(line.substr(8)).substr(0, kShortcutFieldSize - 1);
        pos = end + 1;
    }
    return 0;
}

uint32_t CmdSetClipboard(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    auto type = static_cast<uint32_t>(VmCheckInteger(vm, 1));
    OsClipboardRecord record{};
    if (type == OSCLIPBOARD_TEXT) {
        record.text = VmCheckString(vm, 2, &record.textLength);
        return OsSetClipboard(OSCLIPBOARD_TEXT, &record);
    }
    if (type != OSCLIPBOARD_IMAGE)
        return ERR_WRONGUSAGE;
    Brush* brush = nullptr;
    if (uint32_t code = FindBrush(vm, GetObjectIdArg(vm, 2), &brush, 0))
        return code;
    BitMapHandle *bitmap, *mask, *alpha;
    GetBrushPlanes(brush, &bitmap, &mask, &alpha, &record.width, &record.height);
    if (!bitmap)
        return ERR_HWBRUSH;
    // What the mask hides goes on the clipboard as alpha 0, so the picture
    // keeps its shape in the one form the clipboard has.
    uint32_t* pixels = BitMapToArgbMasked(bitmap, 0, 0, record.width, record.height, mask, alpha,
                                          kNoTransparentColour, 1, LOCKBITMAP_READ);
    if (!pixels)
        return ERR_MEM;
    record.pixels = pixels;
    record.alpha = mask || alpha;
    uint32_t code = OsSetClipboard(OSCLIPBOARD_IMAGE, &record);
    OsFreeMem(pixels);
    return code;
}

uint32_t CmdGetClipboard(VmState* vm)
{
    CheckArgs(vm, 0, 0, 0, 0);
    OsClipboardRecord record{};
    uint32_t type;
    if (uint32_t code = OsGetClipboard(&record, &type))
        return code;
    if (type == OSCLIPBOARD_TEXT) {
        VmPushNumber(vm, type);
        VmPushLString(vm, record.text, record.textLength);
        return 2;
    }
    if (type != OSCLIPBOARD_IMAGE) {
        VmPushNumber(vm, type);
        return 1;
    }
    BitMapHandle *bitmap, *mask, *alpha;
    if (uint32_t code = RenderBGPicSource(record.pixels, record.width, record.height, record.alpha, &bitmap,
                                          &mask, &alpha))
        return code;
    Brush* brush = nullptr;
    if (uint32_t code = AddBrush(vm, ObjectId{0, 0}, true, bitmap, mask, alpha, record.width, record.height, &brush))
        return code;
    VmPushNumber(vm, type);
    VmPushLightUserdata(vm, brush);
    return 2;
}

uint32_t CmdPeekClipboard(VmState* vm)
{
    CheckArgs(vm, 0, 0, 0, 0);
    uint32_t type;
    if (uint32_t code = OsPeekClipboard(&type))
        return code;
    VmPushNumber(vm, type);
    return 1;
}

uint32_t CmdClearClipboard(VmState* vm)
{
    CheckArgs(vm, 0, 0, 0, 0);
    return OsClearClipboard();
}

uint32_t CmdReadRegistryKey(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    int32_t root = VmCheckInteger(vm, 1);
    const char* key = VmCheckString(vm, 2, nullptr);
    RegistryValue value;
    if (uint32_t code = RegistryRead(root, key, &value))
        return code;
    if (value.isNumber) {
        VmPushNumber(vm, value.number);
        return 1;
    }
    // Only a string's own terminator goes; data without one stays whole.
    size_t length = value.bytes.size();
    if (length && value.bytes[length - 1] == '\0')
        --length;
    VmPushLString(vm, value.bytes.data(), length);
    return 1;
}

uint32_t CmdWriteRegistryKey(VmState* vm)
{
    CheckArgs(vm, 3, 3, 0, 0);
    int32_t root = VmCheckInteger(vm, 1);
    const char* key = VmCheckString(vm, 2, nullptr);
    RegistryValue value;
    if (VmType(vm, 3) == VM_TNUMBER) {
        value.isNumber = true;
        value.number = static_cast<uint32_t>(VmCheckInteger(vm, 3));
    } else {
        size_t length;
        const char* text = VmCheckString(vm, 3, &length);
        value.bytes.assign(text, length);
        value.bytes += '\0';
    }
    return RegistryWrite(root, key, value);
}

uint32_t CmdCreateShortcut(VmState* vm)
{
    CheckArgs(vm, 3, 3, 0, 0);
    const char* target = VmCheckString(vm, 1, nullptr);
    const char* link = VmCheckString(vm, 2, nullptr);
    const char* description = VmCheckString(vm, 3, nullptr);
    return WriteShortcutFile(target, link, description);
}

uint32_t CmdGetShortcutPath(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    std::string target, description;
    if (uint32_t code = ReadShortcutFile(VmCheckString(vm, 1, nullptr), &target, &description))
        return code;
    VmPushLString(vm, target.data(), target.size());
    VmPushLString(vm, description.data(), description.size());
    return 2;
}

uint32_t CmdOpenURL(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    return OpenUrlWithOpener(VmCheckString(vm, 1, nullptr));
}

uint32_t CmdSetTrayIcon(VmState* vm)
{
    CheckArgs(vm, 1, 2, 0, 0);
    size_t tipLength = 0;
    VmOptString(vm, 2, "", &tipLength);
    if (tipLength > kTrayTipMax)
        return ERR_WRONGUSAGE;
    if (HaveDisplayAdapter())
        return ERR_DISPLAYADAPTERSUPPORT;
    // No tray is ever shown, so there is none to remove either.
    if (VmType(vm, 1) == VM_TNIL)
        return ERR_WRONGUSAGE;
    return ERR_UNSUPPORTEDFEAT;
}
