// The "system" library frame: its command table in registration order, its
// state, registration and clean-up.
#include "libs/system/system_library.h"

#include "core/io/catalog.h"
#include "core/io/error_codes.h"
#include "core/services/call_trace.h"
#include "core/services/command_services.h"
#include "core/vm/error_hooks.h"
#include "core/vm/interpreter.h"
#include "display/adapters.h"
#include "platform/posix/os_memory.h"

namespace {

uint32_t DefaultSleep(uint32_t ms) { return AdapterSleep(ms); }

// A list registered twice would make every timer count twice in listings;
// the registry's own walk tells whether our list head is already known: a
// probe record put at its head for a moment is found through it or not.
bool TimerListRegistered()
{
    Timer probe{};
    probe.header.next = reinterpret_cast<ObjectHeader*>(SystemState.timers);
    Timer* saved = SystemState.timers;
    SystemState.timers = &probe;
    bool found = ForEachObjectRecord([&](ObjectHeader* record) { return record == &probe.header; }) != nullptr;
    SystemState.timers = saved;
    return found;
}

}  // namespace

void MonotonicTimeValue(OsTimeValue* out)
{
    uint64_t us = OsMonotonicNanos() / 1000u;
    out->seconds = static_cast<uint32_t>(us / 1000000u);
    out->microseconds = static_cast<uint32_t>(us % 1000000u);
}

SystemLibraryState SystemState = [] {
    SystemLibraryState state;
    state.clock = {MonotonicTimeValue, OsGetTime, DefaultSleep};
    return state;
}();

// DebugStr, DebugVal and DebugPrint share one handler.
const CommandTableEntry kSystemCommands[] = {
    {"Wait", CmdWait},
    {"OpenCatalog", CmdOpenCatalog},
    {"CloseCatalog", CmdCloseCatalog},
    {"GetCatalogString", CmdGetCatalogString},
    {"GetDate", CmdGetDate},
    {"GetTime", CmdGetTime},
    {"GetWeekday", CmdGetWeekday},
    {"GetDateNum", CmdGetDateNum},
    {"GetTimer", CmdGetTimer},
    {"PauseTimer", CmdPauseTimer},
    {"ResumeTimer", CmdResumeTimer},
    {"StartTimer", CmdStartTimer},
    {"StopTimer", CmdStopTimer},
    {"SystemRequest", CmdSystemRequest},
    {"GetMemoryInfo", CmdGetMemoryInfo},
    {"End", CmdEnd},
    {"GetErrorName", CmdGetErrorName},
    {"Sort", CmdSort},
    {"DebugStr", CmdDebugPrint},
    {"DebugVal", CmdDebugPrint},
    {"DebugPrint", CmdDebugPrint},
    {"ExitOnError", CmdExitOnError},
    {"GetLastError", CmdGetLastError},
    {"DebugOutput", CmdDebugOutput},
    {"GetType", CmdGetType},
    {"IIf", CmdIIf},
    {"InsertItem", CmdInsertItem},
    {"RemoveItem", CmdRemoveItem},
    {"ListItems", CmdListItems},
    {"StringRequest", CmdStringRequest},
    {"Unpack", CmdUnpack},
    {"SetMetaTable", CmdSetMetaTable},
    {"GetMetaTable", CmdGetMetaTable},
    {"RawEqual", CmdRawEqual},
    {"RawGet", CmdRawGet},
    {"RawSet", CmdRawSet},
    {"GCInfo", CmdGCInfo},
    {"CollectGarbage", CmdCollectGarbage},
    {"Error", CmdError},
    {"WaitTimer", CmdWaitTimer},
    {"FileRequest", CmdFileRequest},
    {"PathRequest", CmdPathRequest},
    {"IPairs", CmdIPairs},
    {"Pairs", CmdPairs},
    {"NextItem", VmNextItem},  // the same iterator generic for loops use
    {"GetVersion", CmdGetVersion},
    {"GetCommandLine", CmdGetCommandLine},
    {"GetProgramInfo", CmdGetProgramInfo},
    {"ResetTimer", CmdResetTimer},
    {"GetConstant", CmdGetConstant},
    {"SetClipboard", CmdSetClipboard},
    {"GetClipboard", CmdGetClipboard},
    {"PeekClipboard", CmdPeekClipboard},
    {"ClearClipboard", CmdClearClipboard},
    {"CompareDates", CmdCompareDates},
    {"OpenURL", CmdOpenURL},
    {"CopyTable", CmdCopyTable},
    {"FontRequest", CmdFontRequest},
    {"ListRequest", CmdListRequest},
    {"ColorRequest", CmdColorRequest},
    {"GetSystemLanguage", CmdGetSystemLanguage},
    {"GetSystemCountry", CmdGetSystemCountry},
    {"DebugPrompt", CmdDebugPrompt},
    {"GetFileArgument", CmdGetFileArgument},
    {"Assert", CmdAssert},
    {"ForEach", CmdForEach},
    {"ForEachI", CmdForEachI},
    {"Concat", CmdConcat},
    {"GetObjectType", CmdGetObjectType},
    {"GetObjectData", CmdGetObjectData},
    {"SetObjectData", CmdSetObjectData},
    {"ClearObjectData", CmdClearObjectData},
    {"CopyObjectData", CmdCopyObjectData},
    {"HaveObjectData", CmdHaveObjectData},
    {"GetObjects", CmdGetObjects},
    {"RaiseOnError", CmdRaiseOnError},
    {"HaveObject", CmdHaveObject},
    {"GetPlugins", CmdGetPlugins},
    {"IsNil", CmdIsNil},
    {"HaveItem", CmdHaveItem},
    {"DisablePlugin", CmdDisablePlugin},
    {"EnablePlugin", CmdEnablePlugin},
    {"LoadPlugin", CmdLoadPlugin},
    {"HavePlugin", CmdHavePlugin},
    {"GetSystemInfo", CmdGetSystemInfo},
    {"LegacyControl", CmdLegacyControl},
    {"DisableLineHook", CmdDisableLineHook},
    {"EnableLineHook", CmdEnableLineHook},
    {"IncreasePointer", CmdIncreasePointer},
    {"DecreasePointer", CmdDecreasePointer},
    {"GetApplicationInfo", CmdGetApplicationInfo},
    {"DebugPrintNR", CmdDebugPrintNR},
    {"TableItems", CmdTableItems},
    {"IsTableEmpty", CmdIsTableEmpty},
    {"LoadPrefs", CmdLoadPrefs},
    {"SavePrefs", CmdSavePrefs},
    {"DeletePrefs", CmdDeletePrefs},
    {"ReadRegistryKey", CmdReadRegistryKey},
    {"WriteRegistryKey", CmdWriteRegistryKey},
    {"CreateShortcut", CmdCreateShortcut},
    {"SetTrayIcon", CmdSetTrayIcon},
    {"GetShortcutPath", CmdGetShortcutPath},
    {nullptr, nullptr},
};

uint32_t RegisterSystemLibrary(VmState* vm)
{
    SystemState.open = 1;
    VmPushValue(vm, VM_GLOBALSINDEX);
    VmRegisterLibrary(vm, nullptr, kSystemCommands, 0);
    if (uint32_t code = RegisterLibrary(kSystemCommands, "system"))
        return code;
    VmRegisterConstants(vm, kSystemConstants, 0);
    if (!TimerListRegistered()) {
        if (uint32_t code = RegisterObjectList(&SystemState.timers))
            return code;
    }
    VmHooks.filterNativeError = FilterNativeError;
    VmHooks.getLastErrorCommand = CmdGetLastError;
    VmHooks.traceCall = TraceNativeCall;
    return 0;
}

void CleanupSystemLibrary(VmState* vm)
{
    while (Timer* t = SystemState.timers) {
        SystemState.timers = reinterpret_cast<Timer*>(t->header.next);
        if (vm)
            FreeObjectDataList(vm, &t->header.dataList);
        OsFreeMem(t);
    }
    if (SystemState.catalog) {
        OsCloseCatalog(SystemState.catalog);
        SystemState.catalog = nullptr;
    }
    if (vm && SystemState.errorHandlerRef != VM_NOREF)
        VmUnrefValue(vm, VM_REGISTRYINDEX, SystemState.errorHandlerRef);
    SystemState.errorHandlerRef = VM_NOREF;
    SystemState.insideErrorHandler = 0;
    SystemState.quit = 0;
    if (VmHooks.filterNativeError == FilterNativeError)
        VmHooks.filterNativeError = nullptr;
    if (VmHooks.getLastErrorCommand == CmdGetLastError)
        VmHooks.getLastErrorCommand = nullptr;
    if (VmHooks.traceCall == TraceNativeCall)
        VmHooks.traceCall = nullptr;
    SystemState.open = 0;
}
