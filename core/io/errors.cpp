// The error context, user error codes, message formatting and the progress
// lines of the debug output.
#include "core/io/errors.h"

#include <cstdio>
#include <cstring>

#include "core/io/file_parts.h"
#include "core/io/messages.h"
#include "core/io/utilities.h"
#include "core/io/virtual_names.h"
#include "core/services/command_services.h"
#include "core/vm/error_hooks.h"
#include "platform/posix/os_memory.h"

char errorArgText[ERROR_TEXT_SIZE] = "";
int32_t errorArgNumber = 0;
char errorFunctionName[ERROR_FUNCTION_NAME_SIZE] = "----";
char* errorScriptName = nullptr;

namespace {

// Copies text into a buffer of the error context, cut to fit; the text may
// be (a part of) the buffer itself.
void StoreCut(char* buffer, size_t size, const char* text)
{
    size_t length = strnlen(text, size - 1);
    std::memmove(buffer, text, length);
    buffer[length] = '\0';
}

char errorDetailText[ERROR_TEXT_SIZE] = "";
uint32_t errorDetailCode = 0;
bool errorDetailFresh = false;

// One registered text; the text is stored in the same block behind the node.
struct UserErrorNode {
    UserErrorNode* next;
    const char* text;
};

UserErrorNode* userErrors = nullptr;
UserErrorNode* userErrorsTail = nullptr;

// Appends at most the room left in out (keeping one byte for the terminator).
size_t AppendBounded(char* out, size_t outSize, size_t used, const char* text, size_t length)
{
    if (used + 1 >= outSize)
        return used;
    size_t room = outSize - 1 - used;
    if (length > room)
        length = room;
    std::memcpy(out + used, text, length);
    return used + length;
}

// Finds the first placeholder of one kind ("s", "d" or "ld" after the '%'),
// passing over "%%" pairs; null when there is none.
const char* FindPlaceholder(const char* text, const char* kind)
{
    size_t kindLength = std::strlen(kind);
    for (const char* p = text; *p; ++p) {
        if (*p != '%')
            continue;
        if (p[1] == '%') {
            ++p;
            continue;
        }
        if (std::strncmp(p + 1, kind, kindLength) == 0)
            return p;
    }
    return nullptr;
}

} // namespace

void InitErrorContext()
{
    DropErrorDetail();
    SetErrorText(nullptr);
    SetErrorArgNumber(0);
    ResetErrorLocation();
    VmHooks.setErrorText = SetErrorText;
}

void SetErrorText(const char* text)
{
    StoreCut(errorArgText, sizeof errorArgText, text ? text : "");
}

void SetErrorDetail(uint32_t code, const char* text)
{
    StoreCut(errorDetailText, sizeof errorDetailText, text ? text : "");
    errorDetailCode = code;
    errorDetailFresh = true;
}

void ClaimErrorDetail(uint32_t code)
{
    if (!errorDetailFresh || errorDetailCode != code)
        DropErrorDetail();
    errorDetailFresh = false;
}

void DropErrorDetail()
{
    errorDetailText[0] = '\0';
    errorDetailCode = 0;
    errorDetailFresh = false;
}

const char* GetErrorDetail(uint32_t code)
{
    return code != 0 && code == errorDetailCode ? errorDetailText : "";
}

uint32_t SetRangeErrorDetail(uint32_t code, const char* what, int64_t value, int64_t first, int64_t last)
{
    char text[256];
    char capital = what[0] >= 'a' && what[0] <= 'z' ? static_cast<char>(what[0] - 'a' + 'A') : what[0];
    if (last < first)
        std::snprintf(text, sizeof text, "%c%s %lld asked for; no %ss exist", capital, what + 1,
                      static_cast<long long>(value), what);
    else
        std::snprintf(text, sizeof text, "%c%s %lld asked for; %ss %lld to %lld exist", capital, what + 1,
                      static_cast<long long>(value), what, static_cast<long long>(first),
                      static_cast<long long>(last));
    SetErrorDetail(code, text);
    return code;
}

void SetErrorArgNumber(int32_t n)
{
    errorArgNumber = n;
}

void SetErrorFunctionName(const char* name)
{
    StoreCut(errorFunctionName, sizeof errorFunctionName, name ? name : "----");
}

void ResetErrorLocation()
{
    SetErrorFunctionName(nullptr);
    VmErrorLine = -1;
}

size_t FormatErrorReport(const char* message, const char* fileName, int32_t line, const char* functionName,
                         char* out, size_t outSize)
{
    if (outSize == 0)
        return 0;
    auto text = [](const char* t) { return t ? t : ""; };
    int length;
    // The format is ours; every text (message, labels from a catalog,
    // names) travels as an argument.
    if (functionName && std::strcmp(functionName, "----") != 0)
        length = std::snprintf(out, outSize, "%s\n%s: %s (%s: %d - %s: %s)", text(message), text(GetString(MSG_FILE)),
                               text(fileName), text(GetString(MSG_CURRENT_LINE)), static_cast<int>(line),
                               text(GetString(MSG_IN_FUNCTION)), functionName);
    else
        length = std::snprintf(out, outSize, "%s\n%s: %s (%s: %d)", text(message), text(GetString(MSG_FILE)),
                               text(fileName), text(GetString(MSG_CURRENT_LINE)), static_cast<int>(line));
    if (length < 0) {
        out[0] = '\0';
        return 0;
    }
    return static_cast<size_t>(length) < outSize ? static_cast<size_t>(length) : outSize - 1;
}

uint32_t AddUserErrorCode(const char* text)
{
    if (!text)
        text = "";
    size_t length = std::strlen(text);
    auto* node = static_cast<UserErrorNode*>(OsAllocMem(sizeof(UserErrorNode) + length + 1, 0));
    if (!node)
        return ERR_MEM;
    char* copy = reinterpret_cast<char*>(node + 1);
    std::memcpy(copy, text, length + 1);
    node->next = nullptr;
    node->text = copy;
    uint32_t code = ERR_FIRST_USER;
    for (UserErrorNode* n = userErrors; n; n = n->next)
        ++code;
    if (userErrorsTail)
        userErrorsTail->next = node;
    else
        userErrors = node;
    userErrorsTail = node;
    return code;
}

const char* GetUserErrorText(uint32_t code)
{
    if (code < ERR_FIRST_USER)
        return nullptr;
    uint32_t steps = code - ERR_FIRST_USER;
    UserErrorNode* node = userErrors;
    while (node && steps > 0) {
        node = node->next;
        --steps;
    }
    return node ? node->text : nullptr;
}

void FreeUserErrorCodes()
{
    UserErrorNode* node = userErrors;
    while (node) {
        UserErrorNode* next = node->next;
        OsFreeMem(node);
        node = next;
    }
    userErrors = nullptr;
    userErrorsTail = nullptr;
}

bool IsFileNameError(uint32_t code)
{
    switch (code) {
    case ERR_LOADPICTURE:
    case ERR_READFILE:
    case ERR_OPENSOUND:
    case ERR_NOALPHA:
    case ERR_OPENANIM2:
    case ERR_OPENSOUND2:
    case ERR_LOADPICTURE2:
    case ERR_IMAGEERROR:
    case ERR_LOADVIDEO:
    case ERR_NOTRANSPARENCY:
        return true;
    default:
        return false;
    }
}

const char* GetErrorMessage(uint32_t code)
{
    const char* text = nullptr;
    if (code >= ERR_FIRST_USER) {
        text = GetUserErrorText(code);
    } else if (code == ERR_OPENFONT || code == ERR_ERRORCALLED) {
        text = errorArgText;
    } else if (code == ERR_NONE) {
        text = GetString(MSG_NO_ERROR);
    } else if (code >= ERR_FIRST_BUILTIN) {
        text = GetString(ErrorMessageIds[code - ERR_FIRST_BUILTIN]);
    }
    // Codes 1..999 are no error codes at all; they and missing texts read
    // as an unknown code rather than as nothing.
    if (!text)
        text = GetString(MSG_UNKNOWN_ERROR_CODE);
    return text ? text : "Unknown error code!";
}

size_t FormatMessageText(const char* text, const char* stringArg, int32_t numberArg, char* out,
                         size_t outSize)
{
    if (outSize == 0)
        return 0;
    if (!text)
        text = "";
    if (!stringArg)
        stringArg = "";
    const char* hole = FindPlaceholder(text, "s");
    size_t holeLength = 2;
    char number[16];
    const char* value = stringArg;
    if (!hole) {
        hole = FindPlaceholder(text, "d");
        if (!hole) {
            hole = FindPlaceholder(text, "ld");
            holeLength = 3;
        }
        std::snprintf(number, sizeof number, "%d", static_cast<int>(numberArg));
        value = number;
    }
    size_t used = 0;
    if (!hole) {
        used = AppendBounded(out, outSize, used, text, std::strlen(text));
    } else {
        used = AppendBounded(out, outSize, used, text, static_cast<size_t>(hole - text));
        used = AppendBounded(out, outSize, used, value, std::strlen(value));
        const char* rest = hole + holeLength;
        used = AppendBounded(out, outSize, used, rest, std::strlen(rest));
    }
    out[used] = '\0';
    return used;
}

void GetErrorText(uint32_t code, char* out, size_t outSize)
{
    if (outSize == 0)
        return;
    const char* text = GetErrorMessage(code);
    // The message may be the error-text buffer itself (ERR_OPENFONT,
    // ERR_ERRORCALLED), which the chunk-name step below rewrites.
    if (text == errorArgText) {
        FormatMessageText("%s", errorArgText, errorArgNumber, out, outSize);
        return;
    }
    char argument[ERROR_TEXT_SIZE];
    const char* stringArg = errorArgText;
    if (FindPlaceholder(text, "s")) {
        if (IsChunkName(errorArgText)) {
            ChunkNameToFileName(errorArgText, errorArgText, sizeof errorArgText);
        } else if (IsFileNameError(code)) {
            ChunkNameToFileName(errorArgText, argument, sizeof argument);
            stringArg = argument;
        }
    }
    FormatMessageText(text, stringArg, errorArgNumber, out, outSize);
}

void PrintMessage(const char* format, const char* argument, int dots)
{
    if (CoreTags.quietFlag)
        return;
    if (!format)
        format = "";
    char line[ERROR_MESSAGE_SIZE];
    size_t length;
    if (argument) {
        char filePart[ERROR_TEXT_SIZE];
        ChunkNameToFileName(argument, filePart, sizeof filePart);
        length = FormatMessageText(format, filePart, 0, line, sizeof line - 3);
    } else {
        length = AppendBounded(line, sizeof line - 3, 0, format, std::strlen(format));
    }
    if (dots) {
        std::memcpy(line + length, "...", 3);
        length += 3;
    }
    line[length] = '\0';
    DebugPrintf("%s", line);
}

void PrintDone()
{
    if (!CoreTags.quietFlag)
        DebugPrintf("%s\n", GetString(MSG_DONE));
}

void PrintFailed()
{
    if (!CoreTags.quietFlag)
        DebugPrintf("%s\n", GetString(MSG_FAILED));
}
