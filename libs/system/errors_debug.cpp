// Error controls, debug output and runtime switches of the "system" library,
// and the script error handler that the VM's call glue hands failing
// commands to.
#include <string>

#include "core/io/case_tables.h"
#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/utilities.h"
#include "core/services/check_args.h"
#include "core/services/command_services.h"
#include "core/services/error_report.h"
#include "core/startup/startup.h"
#include "core/vm/error_hooks.h"
#include "display/events.h"
#include "libs/system/system_library.h"
#include "platform/posix/os_console.h"
#include "platform/posix/os_env.h"
#include "platform/posix/os_memory.h"

namespace {

constexpr size_t kPromptLineSize = 16384;

// The text of argument i as the global "tostring" gives it; a state without
// that global shows strings and numbers as they are and other values by
// their type name.
void AppendArgumentText(VmState* vm, int i, std::string* out)
{
    VmPushString(vm, "tostring");
    VmGetTable(vm, VM_GLOBALSINDEX);
    if (VmType(vm, -1) == VM_TFUNCTION) {
        VmPushValue(vm, i);
        VmCall(vm, 1, 1);
    } else {
        VmPop(vm, 1);
        int type = VmType(vm, i);
        if (type == VM_TSTRING || type == VM_TNUMBER)
            VmPushValue(vm, i);
        else
            VmPushString(vm, VmTypeName(vm, type));
    }
    if (const char* text = VmGetString(vm, -1))
        out->append(text, VmGetStringLength(vm, -1));
    VmPop(vm, 1);
}

uint32_t PrintArguments(VmState* vm, bool newline)
{
    CheckArgs(vm, 1, -1, 0, 0);
    if (Startup.noDebug)
        return 0;
    std::string line;
    int n = VmGetTop(vm);
    for (int i = 1; i <= n; ++i) {
        if (i > 1)
            line += ' ';
        AppendArgumentText(vm, i, &line);
    }
    if (newline)
        line += '\n';
    // Printed through "%s", so a '%' in the text needs no escaping.
    DebugPrintf("%s", line.c_str());
    return 0;
}

bool EqualsLower(const char* text, const char* lower)
{
    for (; *text && *lower; ++text, ++lower)
        if (ToLowerLatin1(static_cast<uint8_t>(*text)) != static_cast<uint8_t>(*lower))
            return false;
    return *text == *lower;
}

}  // namespace

uint32_t CallScriptErrorHandler(VmState* vm, uint32_t code)
{
    FindErrorFunctionName(vm);
    char message[ERROR_MESSAGE_SIZE];
    GetErrorText(code, message, sizeof message);
    int top = VmGetTop(vm);
    VmPushRef(vm, VM_REGISTRYINDEX, SystemState.errorHandlerRef);
    VmPushNumber(vm, code);
    VmPushString(vm, message);
    VmPushString(vm, errorFunctionName);
    VmPushNumber(vm, GetErrorLine(vm));
    // The handler has the location now. Locations are only filled in where
    // still empty, so a stale one would be handed to every later failure;
    // an error inside the handler must find its own.
    ResetErrorLocation();
    SetTags(nullptr, {{TAG_ERRORHANDLERNESTING, 1}});
    uint32_t result = VmPCall(vm, 4, 0, 0);
    SetTags(nullptr, {{TAG_ERRORHANDLERNESTING, 0}});
    VmSetTop(vm, top);
    return result;
}

uint32_t FilterNativeError(VmState* vm, uint32_t code)
{
    if (SystemState.errorHandlerRef == VM_NOREF || CoreTags.errorHandlerNesting != 0 ||
        SystemState.insideErrorHandler)
        return code;
    SystemState.insideErrorHandler = 1;
    uint32_t result = CallScriptErrorHandler(vm, code);
    SystemState.insideErrorHandler = 0;
    // A handled error leaves no detail for a later one of the same code,
    // and no location for a later one at all.
    if (result == 0) {
        DropErrorDetail();
        ResetErrorLocation();
    }
    return result;
}

// Fails like any other command, so that the call glue hands the error to a
// RaiseOnError handler first.
uint32_t CmdError(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    SetErrorText(VmCheckString(vm, 1, nullptr));
    return ERR_ERRORCALLED;
}

uint32_t CmdAssert(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    if (Startup.noDebug)
        return 0;
    int type = VmType(vm, 1);
    if (type == VM_TNIL || (type == VM_TNUMBER && VmGetNumber(vm, 1) == 0))
        return ERR_ASSERTFAILED;
    VmSetTop(vm, 1);
    return 1;
}

uint32_t CmdDebugPrint(VmState* vm) { return PrintArguments(vm, true); }
uint32_t CmdDebugPrintNR(VmState* vm) { return PrintArguments(vm, false); }

uint32_t CmdDebugPrompt(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    size_t length;
    const char* prompt = VmCheckString(vm, 1, &length);
    if (length)
        DebugPrintf("%s", prompt);
    char* line = static_cast<char*>(OsAllocMem(kPromptLineSize, 0));
    if (!line)
        return ERR_MEM;
    uint32_t code = static_cast<uint32_t>(OsReadConsole(line, kPromptLineSize));
    if (code == 0) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\r' || text.back() == '\n'))
            text.pop_back();
        VmPushLString(vm, text.data(), text.size());
    }
    OsFreeMem(line);
    return code ? code : 1;
}

uint32_t CmdDebugOutput(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    Startup.debugOutput = VmCheckInteger(vm, 1) != 0;
    return 0;
}

uint32_t CmdGetLastError(VmState* vm)
{
    CheckArgs(vm, 0, 0, 0, 0);
    VmPushNumber(vm, VmLastErrorCode);
    return 1;
}

uint32_t CmdExitOnError(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    bool on = VmCheckInteger(vm, 1) != 0;
    if (!on && SystemState.errorHandlerRef != VM_NOREF)
        return ERR_WRONGUSAGE;
    SetTags(nullptr, {{TAG_EXITONERROR, on ? 1 : 0}});
    return 0;
}

uint32_t CmdRaiseOnError(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    if (!CoreTags.exitOnError)
        return ERR_WRONGUSAGE;
    if (SystemState.errorHandlerRef != VM_NOREF) {
        VmUnrefValue(vm, VM_REGISTRYINDEX, SystemState.errorHandlerRef);
        SystemState.errorHandlerRef = VM_NOREF;
    }
    if (VmType(vm, 1) == VM_TFUNCTION) {
        VmPushValue(vm, 1);
        SystemState.errorHandlerRef = VmRefValue(vm, VM_REGISTRYINDEX);
    }
    return 0;
}

uint32_t CmdGetErrorName(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    uint32_t code = static_cast<uint32_t>(VmCheckInteger(vm, 1));
    char message[ERROR_MESSAGE_SIZE];
    GetErrorText(code, message, sizeof message);
    VmPushString(vm, message);
    return 1;
}

uint32_t CmdEnd(VmState* vm)
{
    CheckArgs(vm, 0, 0, 0, 0);
    SystemState.quit = 1;
    return ERR_USERABORT;
}

uint32_t CmdGetMemoryInfo(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    int32_t type = VmCheckInteger(vm, 1);
    if (type != 0 && type != 1)
        return ERR_WRONGUSAGE;
    VmPushNumber(vm, OsGetMemoryInfo());
    return 1;
}

uint32_t CmdLegacyControl(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    const char* name = VmCheckString(vm, 1, nullptr);
    uint32_t value = VmCheckInteger(vm, 2) != 0;
    if (EqualsLower(name, "linebasedshapes")) {
        SystemState.lineBasedShapes = value;
    } else if (EqualsLower(name, "singlemusic")) {
        SystemState.singleMusic = value;
    } else {
        SetErrorText(name);
        return ERR_UNKNOWNTAG;
    }
    return 0;
}

uint32_t CmdDisableLineHook(VmState* vm)
{
    CheckArgs(vm, 0, 0, 0, 0);
    NoEventPumping = 1;
    return 0;
}

uint32_t CmdEnableLineHook(VmState* vm)
{
    CheckArgs(vm, 0, 0, 0, 0);
    NoEventPumping = 0;
    // What came due while pumping was off is pumped at the next line.
    VmRaisePumpDue();
    return 0;
}

namespace {

uint32_t MovePointer(VmState* vm, bool up)
{
    CheckArgs(vm, 2, 2, 0, 0);
    if (VmType(vm, 1) != VM_TLIGHTUSERDATA)
        return ERR_WRONGUSAGE;
    auto p = reinterpret_cast<uintptr_t>(VmGetUserdata(vm, 1));
    auto n = static_cast<uintptr_t>(static_cast<intptr_t>(VmCheckInteger(vm, 2)));
    VmPushLightUserdata(vm, reinterpret_cast<void*>(up ? p + n : p - n));
    return 1;
}

}  // namespace

uint32_t CmdIncreasePointer(VmState* vm) { return MovePointer(vm, true); }
uint32_t CmdDecreasePointer(VmState* vm) { return MovePointer(vm, false); }
