// The "system" library: the scripts' window on the runtime itself - timers,
// waits and dates, catalogs, requesters, host services (clipboard, registry,
// shortcuts, addresses), program information, generic table commands and
// iteration, sorting, metatables, error controls, debug output, object data,
// plugins and a few runtime switches.
//
// The library state lives in one record; everything runs on the script
// thread.
#pragma once

#include <cstdint>
#include <string>

#include "core/services/object_registry.h"
#include "core/vm/library_glue.h"
#include "platform/posix/os_time.h"

struct Catalog;

// A script timer (object type 53).
struct Timer {
    ObjectHeader header;
    OsTimeValue start;
    OsTimeValue accumulated;
    uint32_t paused;
};

// Where timers read the time and waits spend it. Tests install a clock of
// their own; the defaults are the wall clock and the display adapter's
// sleep, which keeps events flowing.
struct SystemClock {
    void (*now)(OsTimeValue* out);   // monotonic: timers
    void (*wall)(OsTimeValue* out);  // since 1970: dates
    uint32_t (*sleep)(uint32_t ms);  // 0 or the code that ended the wait
};
void MonotonicTimeValue(OsTimeValue* out);

struct SystemLibraryState {
    uint32_t open = 0;
    Timer* timers = nullptr;
    Catalog* catalog = nullptr;
    int32_t errorHandlerRef = VM_NOREF;   // RaiseOnError's function
    uint32_t insideErrorHandler = 0;     // the handler is running: errors go their normal way
    uint32_t quit = 0;                   // End was called
    uint32_t lineBasedShapes = 0;        // compatibility switches of LegacyControl
    uint32_t singleMusic = 0;
    std::string lastFileFolder;          // what the previous file requester chose
    std::string lastFile;
    std::string lastPath;                // what the previous path requester chose
    SystemClock clock{};
};

extern SystemLibraryState SystemState;
extern const CommandTableEntry kSystemCommands[];
extern const ConstantTableEntry kSystemConstants[];

// Registers the commands as globals and the constants, records the library
// as "system", puts the timer list into the object registry and hooks the
// error handler and GetLastError into the VM's call glue. 0 or ERR_MEM.
uint32_t RegisterSystemLibrary(VmState* vm);
// Frees every timer (with its object data), closes the catalog and releases
// the error handler. Safe to call twice.
void CleanupSystemLibrary(VmState* vm);

// Gives the installed RaiseOnError handler the error: calls it protected
// with (code, message, command name, line); answers the call's result code
// (0 when the handler ran through).
uint32_t CallScriptErrorHandler(VmState* vm, uint32_t code);
// The VM's hook for a native's error: the handler's result when one is
// installed and not already running, else the code unchanged.
uint32_t FilterNativeError(VmState* vm, uint32_t code);

// The array length of the table at index: items from 0 up to the first nil
// (with raw false, an empty string also ends it).
int32_t CountTableItems(VmState* vm, int index, bool raw);
// Sorts t[low..high] of the table at index, with the function at index + 1
// when hasFunction. 0, ERR_SORTFUNC or the comparison's error code.
uint32_t QuickSortItems(VmState* vm, int index, bool hasFunction, int32_t low, int32_t high);

// The preferences file of the applet: its entries stored into the table at
// index, or the table at index written as the whole file. 0, ERR_WRONGUSAGE
// for an applet without a usable identifier, ERR_READFILE / ERR_WRITEFILE
// (with the path), ERR_READ, ERR_FILEFORMAT or the table stream's code.
uint32_t ReadPrefsFile(VmState* vm, int index);
uint32_t WritePrefsFile(VmState* vm, int index);

// Pushes the table of loaded plugins.
void PushPluginInfoTable(VmState* vm);

// Command handlers, one per script command.
uint32_t CmdWait(VmState* vm);
uint32_t CmdOpenCatalog(VmState* vm);
uint32_t CmdCloseCatalog(VmState* vm);
uint32_t CmdGetCatalogString(VmState* vm);
uint32_t CmdGetDate(VmState* vm);
uint32_t CmdGetTime(VmState* vm);
uint32_t CmdGetWeekday(VmState* vm);
uint32_t CmdGetDateNum(VmState* vm);
uint32_t CmdGetTimer(VmState* vm);
uint32_t CmdPauseTimer(VmState* vm);
uint32_t CmdResumeTimer(VmState* vm);
uint32_t CmdStartTimer(VmState* vm);
uint32_t CmdStopTimer(VmState* vm);
uint32_t CmdResetTimer(VmState* vm);
uint32_t CmdWaitTimer(VmState* vm);
uint32_t CmdCompareDates(VmState* vm);

uint32_t CmdSystemRequest(VmState* vm);
uint32_t CmdStringRequest(VmState* vm);
uint32_t CmdFileRequest(VmState* vm);
uint32_t CmdPathRequest(VmState* vm);
uint32_t CmdFontRequest(VmState* vm);
uint32_t CmdListRequest(VmState* vm);
uint32_t CmdColorRequest(VmState* vm);

uint32_t CmdGetMemoryInfo(VmState* vm);
uint32_t CmdEnd(VmState* vm);
uint32_t CmdGetErrorName(VmState* vm);
uint32_t CmdGetVersion(VmState* vm);
uint32_t CmdGetCommandLine(VmState* vm);
uint32_t CmdGetProgramInfo(VmState* vm);
uint32_t CmdGetFileArgument(VmState* vm);
uint32_t CmdGetConstant(VmState* vm);
uint32_t CmdGetApplicationInfo(VmState* vm);
uint32_t CmdGetSystemInfo(VmState* vm);
uint32_t CmdGetSystemLanguage(VmState* vm);
uint32_t CmdGetSystemCountry(VmState* vm);
uint32_t CmdOpenURL(VmState* vm);
uint32_t CmdSetClipboard(VmState* vm);
uint32_t CmdGetClipboard(VmState* vm);
uint32_t CmdPeekClipboard(VmState* vm);
uint32_t CmdClearClipboard(VmState* vm);
uint32_t CmdReadRegistryKey(VmState* vm);
uint32_t CmdWriteRegistryKey(VmState* vm);
uint32_t CmdCreateShortcut(VmState* vm);
uint32_t CmdGetShortcutPath(VmState* vm);
uint32_t CmdSetTrayIcon(VmState* vm);

uint32_t CmdListItems(VmState* vm);
uint32_t CmdTableItems(VmState* vm);
uint32_t CmdIsTableEmpty(VmState* vm);
uint32_t CmdInsertItem(VmState* vm);
uint32_t CmdRemoveItem(VmState* vm);
uint32_t CmdUnpack(VmState* vm);
uint32_t CmdConcat(VmState* vm);
uint32_t CmdCopyTable(VmState* vm);
uint32_t CmdHaveItem(VmState* vm);
uint32_t CmdSort(VmState* vm);
uint32_t CmdIPairs(VmState* vm);
uint32_t CmdPairs(VmState* vm);
uint32_t CmdForEach(VmState* vm);
uint32_t CmdForEachI(VmState* vm);
uint32_t CmdGetMetaTable(VmState* vm);
uint32_t CmdSetMetaTable(VmState* vm);
uint32_t CmdRawEqual(VmState* vm);
uint32_t CmdRawGet(VmState* vm);
uint32_t CmdRawSet(VmState* vm);
uint32_t CmdGetType(VmState* vm);
uint32_t CmdIsNil(VmState* vm);
uint32_t CmdIIf(VmState* vm);
uint32_t CmdGCInfo(VmState* vm);
uint32_t CmdCollectGarbage(VmState* vm);

uint32_t CmdError(VmState* vm);
uint32_t CmdAssert(VmState* vm);
uint32_t CmdDebugPrint(VmState* vm);
uint32_t CmdDebugPrintNR(VmState* vm);
uint32_t CmdDebugPrompt(VmState* vm);
uint32_t CmdDebugOutput(VmState* vm);
uint32_t CmdGetLastError(VmState* vm);
uint32_t CmdExitOnError(VmState* vm);
uint32_t CmdRaiseOnError(VmState* vm);
uint32_t CmdLegacyControl(VmState* vm);
uint32_t CmdDisableLineHook(VmState* vm);
uint32_t CmdEnableLineHook(VmState* vm);
uint32_t CmdIncreasePointer(VmState* vm);
uint32_t CmdDecreasePointer(VmState* vm);

uint32_t CmdGetObjectType(VmState* vm);
uint32_t CmdGetObjects(VmState* vm);
uint32_t CmdHaveObject(VmState* vm);
uint32_t CmdGetObjectData(VmState* vm);
uint32_t CmdSetObjectData(VmState* vm);
uint32_t CmdHaveObjectData(VmState* vm);
uint32_t CmdClearObjectData(VmState* vm);
uint32_t CmdCopyObjectData(VmState* vm);
uint32_t CmdGetPlugins(VmState* vm);
uint32_t CmdDisablePlugin(VmState* vm);
uint32_t CmdEnablePlugin(VmState* vm);
uint32_t CmdLoadPlugin(VmState* vm);
uint32_t CmdHavePlugin(VmState* vm);
uint32_t CmdLoadPrefs(VmState* vm);
uint32_t CmdSavePrefs(VmState* vm);
uint32_t CmdDeletePrefs(VmState* vm);
