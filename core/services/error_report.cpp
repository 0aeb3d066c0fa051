// Error locations and the final report.
#include "core/services/error_report.h"

#include "core/io/errors.h"
#include "core/io/utilities.h"
#include "core/services/call_levels.h"
#include "core/services/command_services.h"
#include "core/services/path_helpers.h"
#include "core/startup/options.h"
#include "core/startup/run_records.h"
#include "core/vm/calls.h"
#include "core/vm/error_hooks.h"
#include "core/vm/library_glue.h"
#include "core/vm/vm.h"
#include "display/requesters.h"
#include "gfx/bitmaps/bitmap.h"
#include "platform/posix/os_files.h"
#include "platform/posix/os_paths.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr char NO_FUNCTION[] = "----";

bool HasFunctionName()
{
    return std::strcmp(errorFunctionName, NO_FUNCTION) != 0;
}

void CopyBounded(char* out, size_t size, const char* text)
{
    size_t length = strnlen(text, size - 1);
    std::memmove(out, text, length);
    out[length] = '\0';
}

bool IsScriptFunction(const CallLevel& level)
{
    return std::strcmp(level.what, "Quillmere") == 0;
}

// The native function running at the level; null for a script one.
VmNativeFunction NativeRunningAt(VmState* vm, int level)
{
    VmDebugRecord record = {};
    if (!VmGetStack(vm, level, &record) || !VmCheckStack(vm, 1))
        return nullptr;
    VmGetInfo(vm, "f", &record);
    VmNativeFunction f = VmGetNativeFunction(vm, -1);
    VmPop(vm, 1);
    return f;
}

// The name the report gives the frame at the level, or null when the frame
// names nothing.
const char* FrameFunctionName(VmState* vm, int levelIndex, const CallLevel& level)
{
    if (level.nameWhat[0] == '\0')
        return IsScriptFunction(level) ? "<<unnamed>>" : nullptr;
    if (!std::strchr("fglm", level.nameWhat[0]))
        return nullptr;
    if (IsScriptFunction(level))
        return level.name ? level.name : "anonymous";
    if (std::strcmp(level.what, "C") != 0 || !level.name)
        return nullptr;
    // The key or global a command was called through may be any name,
    // another command's too: a command is named by its own registration.
    if (const char* spelling = FindCommandName(NativeRunningAt(vm, levelIndex), level.name))
        return spelling;
    // A key that is no string constant names nothing.
    return std::strcmp(level.name, "?") == 0 ? nullptr : level.name;
}

double RegistryNumber(VmState* vm, const char* name)
{
    VmPushCString(vm, name);
    VmRawGet(vm, VM_REGISTRYINDEX);
    double value = VmType(vm, -1) == VM_TNUMBER ? VmGetNumber(vm, -1) : 0;
    VmPop(vm, 1);
    return value;
}

struct ErrorLocation {
    const char* file;  // null when unknown
    int32_t line;      // -1 when unknown
};

ErrorLocation LocateError(VmState* vm)
{
    const AppletInfo* applet = GetAppletInfo(vm);
    const char* script = vm ? GetRegistryScriptName(vm) : nullptr;
    int32_t line = VmErrorLine;
    if (!script || std::strcmp(script, ":none:") == 0) {
        // An applet made of several files: the chunk's name is the applet,
        // and the record of the file that holds the line maps it back.
        const char* chunk = errorScriptName && errorScriptName[0] != '?' ? errorScriptName : "";
        const IncludedFileRecord* record = FindIncludedFile(applet, chunk, line);
        if (!record)
            return {nullptr, -1};
        int64_t local = int64_t{record->beginLine} - record->firstLine + line + 1;
        return {record->name, static_cast<int32_t>(local)};
    }
    int64_t local = int64_t{line} - static_cast<int64_t>(RegistryNumber(vm, "beginline")) + 1;
    for (const IncludedFileRecord* r = applet ? applet->includedFiles : nullptr; r; r = r->next)
        if (StrCaseCmp(r->name, script) == 0)
            local += int64_t{r->lastLine} - r->firstLine;
    return {script, static_cast<int32_t>(local)};
}

void RecordScriptErrorHook(VmState* vm, uint32_t code)
{
    RecordScriptError(vm, code);
}

// A detail the VM hands comes with its raise.
void SetRaisedErrorDetail(uint32_t code, const char* text)
{
    SetErrorDetail(code, text);
}

// Where a file that could not be read was looked for, which the message
// does not say when it shows the file part alone (ERR_READFILE) or the
// name as given (ERR_FILEEXIST, relative names only): the name as the
// script wrote it and the folder it was taken from (the working folder for
// a relative name), or that the name is a folder itself. Nothing for the
// runtime's own names.
std::string FileFolderDetail(uint32_t code, const char* name)
{
    if (!name[0] || std::strncmp(name, ":::", 3) == 0)
        return "";
    std::string host = OsHostPath(name);
    if (code == ERR_FILEEXIST && host[0] == '/')
        return "";
    std::string full = OsFullPathString(host.c_str());
    if (OsIsDirectory(name))
        return full + " is a folder, not a file";
    std::string folder;
    if (host[0] == '/') {
        size_t slash = full.find_last_of('/');
        folder = slash == 0 ? std::string("/") : full.substr(0, slash);
    } else {
        folder = OsFullPathString(".");
    }
    return std::string("Looked for \"") + name + "\" in the folder " + folder;
}

} // namespace

void InstallErrorReportHooks()
{
    VmHooks.recordScriptError = RecordScriptErrorHook;
    VmHooks.findErrorFunctionName = FindErrorFunctionName;
    VmHooks.setErrorText = SetErrorText;
    VmHooks.setErrorDetail = SetRaisedErrorDetail;
    VmHooks.claimErrorDetail = ClaimErrorDetail;
}

uint32_t RecordScriptError(VmState* vm, uint32_t code)
{
    ClaimErrorDetail(code);
    VmLastErrorCode = code;
    if (CoreTags.exitOnError) {
        FindErrorFunctionName(vm);
        if (CoreTags.errorHandlerNesting == 0)
            VmAbortFlag = 1;
        VmThrow(vm, code);
    }
    if (CoreTags.errorHandlerNesting == 0)
        ResetErrorLocation();
    return 0;
}

void FindErrorFunctionName(VmState* vm)
{
    bool scriptNamed = false;
    CallLevel frame;
    for (int level = 0; GetCallLevel(vm, level, &frame); ++level) {
        if (!scriptNamed && SourceNamesFile(frame.source)) {
            if (errorScriptName)
                CopyBounded(errorScriptName, ERROR_TEXT_SIZE, frame.source);
            scriptNamed = true;
        }
        if (!HasFunctionName()) {
            if (const char* name = FrameFunctionName(vm, level, frame))
                SetErrorFunctionName(name);
        }
    }
    if (VmErrorLine == -1 && GetCallLevel(vm, 1, &frame))
        VmErrorLine = frame.currentLine;
}

const char* FindCommandName(VmNativeFunction function, const char* calledName)
{
    if (!function)
        return nullptr;
    const char* first = nullptr;
    for (const LibraryNode* library = LibraryList; library; library = library->next) {
        for (const CommandTableEntry* entry = library->commands; entry && entry->name; ++entry) {
            if (entry->function != function)
                continue;
            if (StrCaseCmp(entry->name, calledName) == 0)
                return entry->name;
            if (!first)
                first = entry->name;
        }
    }
    return first;
}

int32_t GetErrorLine(VmState* vm)
{
    return LocateError(vm).line;
}

char* GetErrorInfo(VmState* vm, uint32_t code, char* out, size_t outSize, const char** outFile,
                   int32_t* outLine)
{
    GetErrorText(code, out, outSize);
    ErrorLocation location{nullptr, 0};
    if (CoreTags.scriptRunning)
        location = LocateError(vm);
    if (outFile)
        *outFile = location.file;
    if (outLine)
        *outLine = location.file ? location.line : 0;
    return out;
}

size_t ErrorReportText(VmState* vm, const char* text, bool plain, char* out, size_t outSize)
{
    ErrorLocation location{nullptr, -1};
    if (!plain && CoreTags.scriptRunning) {
        location = LocateError(vm);
        // No included-file record holds the line: the report still names
        // the chunk's own file and the line as the code numbers it.
        if (!location.file && VmErrorLine >= 0 && errorScriptName && errorScriptName[0] &&
            errorScriptName[0] != '?')
            location = {errorScriptName[0] == '@' ? errorScriptName + 1 : errorScriptName, VmErrorLine};
    }
    if (!location.file) {
        CopyBounded(out, outSize, text);
        return std::strlen(out);
    }
    return FormatErrorReport(text, PathFilePart(location.file), location.line, errorFunctionName, out, outSize);
}

uint32_t ShowErrorRequester(VmState* vm, const char* text, bool plain, int icon)
{
    char report[ERROR_MESSAGE_SIZE + 512];
    ErrorReportText(vm, text, plain, report, sizeof report);
    return ShowSystemRequester(vm, nullptr, "QuillmerePlayer", report, nullptr, icon, 1, nullptr);
}

std::string FormatDebugErrorLine(const char* text, const char* file, int32_t line)
{
    if (!file || !file[0])
        return std::string("@_qmerror0:\"\"*") + text;
    return "@_qmerror" + std::to_string(line) + ":" + file + "*" + text;
}

void ReportFatalError(uint32_t code, CoreContext* context, VmState* vm)
{
    if (code < 1 || code == ERR_USERABORT)
        return;
    char local[sizeof context->errorText];
    char* text = context ? context->errorText : local;
    // Taken before the message is made, which may cut a chunk name in the
    // error text down to its file part.
    std::string detail = GetErrorDetail(code);
    if (detail.empty() && (code == ERR_READFILE || code == ERR_FILEEXIST))
        detail = FileFolderDetail(code, errorArgText);
    const char* file = nullptr;
    int32_t line = 0;
    GetErrorInfo(vm, code, text, sizeof local, &file, &line);
    const char* argument = ArgumentErrorDetail();
    if (argument[0] && (code == ERR_ARGS || code == ERR_CONSOLEARG || code == ERR_BACKFILL ||
                        code == ERR_VALUEEXPECTED || code == ERR_SYNTAXERROR)) {
        size_t used = std::strlen(text);
        std::snprintf(text + used, sizeof local - used, " (%s)", argument);
    }
    if (!detail.empty()) {
        // The requester shows the detail on lines of its own under the
        // message; the debug device's error line stays one line.
        if (DebugDeviceSet) {
            for (size_t at = detail.find('\n'); at != std::string::npos; at = detail.find('\n', at))
                detail.replace(at, 1, "; ");
            detail = " (" + detail + ")";
        } else {
            detail = "\n" + detail;
        }
        size_t used = std::strlen(text);
        std::snprintf(text + used, sizeof local - used, "%s", detail.c_str());
    }
    if (DebugDeviceSet) {
        // A display adapter that answers bitmap attribute 16 with 0 wants
        // the progress line closed first; the platform's own answer is 1.
        if (QueryBitMapAttr(nullptr, BMATTR_PLATFORM_FLAG) == 0)
            PrintFailed();
        DebugPrintf("%s\n", FormatDebugErrorLine(text, file, line).c_str());
        return;
    }
    ShowErrorRequester(vm, text, false, 2);
}

const IncludedFileRecord* FindIncludedFile(const AppletInfo* applet, const char* file, int32_t line)
{
    if (!applet || !file || line < 0)
        return nullptr;
    for (const IncludedFileRecord* r = applet->includedFiles; r; r = r->next)
        if (std::strcmp(r->file, file) == 0 && static_cast<uint32_t>(line) >= r->firstLine &&
            static_cast<uint32_t>(line) <= r->lastLine)
            return r;
    return nullptr;
}

bool SourceNamesFile(const char* source)
{
    return source && source[0] && source[0] != '=' && source[0] != '?';
}

const char* GetRegistryScriptName(VmState* vm)
{
    if (!vm)
        return nullptr;
    VmPushCString(vm, "script");
    VmRawGet(vm, VM_REGISTRYINDEX);
    // The registry keeps the string alive after the pop.
    const char* name = VmType(vm, -1) == VM_TSTRING ? VmGetString(vm, -1) : nullptr;
    VmPop(vm, 1);
    return name;
}

const char* GetScriptFileOfLine(VmState* vm)
{
    const char* script = GetRegistryScriptName(vm);
    if (script && std::strcmp(script, ":none:") != 0)
        return script;
    // The innermost script frame: its chunk and the line it is on.
    CallLevel frame;
    for (int level = 0; GetCallLevel(vm, level, &frame); ++level) {
        if (std::strcmp(frame.what, "Quillmere") != 0 && std::strcmp(frame.what, "main") != 0)
            continue;
        const IncludedFileRecord* file = FindIncludedFile(GetAppletInfo(vm), frame.source, frame.currentLine);
        return file ? file->name : "";
    }
    return "";
}
