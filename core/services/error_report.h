// Where a script error happened, and the final error report.
//
// When a command fails while exit-on-error is in force, or a native raises,
// the VM calls back here before unwinding: RecordScriptError and
// FindErrorFunctionName walk the call stack and note the failing function's
// name, the script file of the innermost script frame and the line. After
// the script has ended, GetErrorInfo and the report formatters turn that
// note into the message the user sees: the requester text ("%s\n%s: %s (%s:
// %d)", with " - In function: name" when a function is known) or, with a
// debug device, the machine-readable "@_qmerror" line.
//
// Lines are applet-wide while the script runs; the applet's included-file
// records map them back to a line of one source file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/vm/vm.h"

struct AppletInfo;
struct CoreContext;
struct IncludedFileRecord;

// Makes the VM call RecordScriptError and FindErrorFunctionName, and store
// error texts through SetErrorText (InitCoreServices does this at start-up).
void InstallErrorReportHooks();

// Every code >= 1000 a native returned: recorded for GetLastError; with
// exit-on-error the location is noted, the script is aborted (unless the
// script's error handler is running) and the code thrown to the innermost
// protected call. Otherwise answers 0 and the script goes on.
uint32_t RecordScriptError(VmState* vm, uint32_t code);

// Fills the function name (when still "----"), the script-name buffer and
// the error line (when still -1) from the VM's call stack.
void FindErrorFunctionName(VmState* vm);

// The name under which the native function stands in the registered
// command tables; of several commands sharing the function, the one called
// (compared without regard to case), else the first. Null when none has it.
const char* FindCommandName(VmNativeFunction function, const char* calledName);

// The error line as a line of the script file that holds it; -1 unknown.
int32_t GetErrorLine(VmState* vm);

// Writes the message of `code` into out and answers out. When the script
// was running, *outFile receives the name of the script file that holds the
// error (null when unknown) and *outLine its line there; otherwise null and
// 0. Either output may be null.
char* GetErrorInfo(VmState* vm, uint32_t code, char* out, size_t outSize, const char** outFile,
                   int32_t* outLine);

// The text of the final error requester into out (cut to fit): the message
// alone when `plain` is set, no script was running or no file is known;
// else the message with the file part of the script file, the line and,
// when known, the function. Answers its length.
size_t ErrorReportText(VmState* vm, const char* text, bool plain, char* out, size_t outSize);

// Shows the report of ErrorReportText in the system requester titled
// "QuillmerePlayer" with one default button; answers the requester's result.
uint32_t ShowErrorRequester(VmState* vm, const char* text, bool plain, int icon);

// The report of the error that ended the run, at shutdown: nothing for 0
// and ERR_USERABORT; else the message goes into the context's errorText and
// out as the debug device's error line (with a debug device) or in the
// error requester.
void ReportFatalError(uint32_t code, CoreContext* context, VmState* vm);

// The debug device's error line, without a line end: "@_qmerror<line>:<file>*<text>",
// or "@_qmerror0:\"\"*<text>" when no file is known.
std::string FormatDebugErrorLine(const char* text, const char* file, int32_t line);

// The included-file record whose file is `file` and whose applet-wide line
// range holds `line`; null when none (or no applet).
const IncludedFileRecord* FindIncludedFile(const AppletInfo* applet, const char* file, int32_t line);

// Whether a chunk's source names a script file: the VM makes up "=?" (and
// "=..." names) for chunks that carry none, and "?" stands for no name yet.
bool SourceNamesFile(const char* source);

// The VM registry's "script" text, or null.
const char* GetRegistryScriptName(VmState* vm);

// The name of the script file that holds the running script line: the
// registry's "script" unless it is ":none:", else the name of the included
// file whose range holds the line; "" when none does.
const char* GetScriptFileOfLine(VmState* vm);
