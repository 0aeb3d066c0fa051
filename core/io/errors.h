// The error context and the texts of error codes.
//
// A failing operation stores the argument of its message (a text with
// SetErrorText, a number with SetErrorArgNumber) and returns its code; the
// message is built only when the error is shown, by GetErrorText. Message
// texts can come from catalogs and from scripts (user error codes), so they
// are never used as printf formats: FormatMessageText fills exactly one
// placeholder and copies everything else as it stands.
//
// Everything here belongs to the script thread and is not locked.
//
// The call-stack side of error reporting (RecordScriptError,
// FindErrorFunctionName, GetErrorInfo, GetErrorLine, the final report) sits
// on top of this: it fills errorFunctionName and errorScriptName below and
// builds its report from GetErrorText and GetString.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/io/error_codes.h"

constexpr size_t ERROR_TEXT_SIZE = 1024;
constexpr size_t ERROR_FUNCTION_NAME_SIZE = 128;
// Room for any built-in message with a full error text in its placeholder.
constexpr size_t ERROR_MESSAGE_SIZE = 2048;

// The error context. The last error code, the error line and the abort flag
// live with the VM, which reads and writes them on every call; the switches
// (quiet, exit-on-error, error-handler nesting, line information) are the
// command services' CoreTags.
extern char errorArgText[ERROR_TEXT_SIZE];               // a message's "%s"
extern int32_t errorArgNumber;                           // a message's "%d" / "%ld"
extern char errorFunctionName[ERROR_FUNCTION_NAME_SIZE]; // "----": none
extern char* errorScriptName; // 1024-byte buffer set up with the core services; null before

// Start-up: empties the context and lets the VM store the texts of its own
// errors ("Table %s not found!") through SetErrorText.
void InitErrorContext();

// Stores the "%s" argument of the next message, cut to 1023 characters.
// A null text stores the empty text.
void SetErrorText(const char* text);
void SetErrorArgNumber(int32_t n);

// The detail of an error: facts that its message has no room for (the value
// asked for and the range, the operand types, the file, the failing
// instruction), shown by the final report on a line of its own under the
// message, which stays the system's own text. A detail belongs to one code
// and to one raise: a failing operation stores it with SetErrorDetail just
// before it answers the code; when an error reaches the script
// (RecordScriptError, a raise inside the VM), ClaimErrorDetail keeps a fresh
// detail of that code and drops any other, so that an error whose operation
// gave no detail never shows one left from an earlier error of that code.
void SetErrorDetail(uint32_t code, const char* text);
void ClaimErrorDetail(uint32_t code);
// Drops the detail (an error the script's handler dealt with).
void DropErrorDetail();
// The detail of `code`; "" when the detail held is of another code.
const char* GetErrorDetail(uint32_t code);
// Stores the detail of a number outside its range, "<What> N asked for;
// <what>s FIRST to LAST exist" (or "no <what>s exist" when LAST < FIRST),
// and answers code.
uint32_t SetRangeErrorDetail(uint32_t code, const char* what, int64_t value, int64_t first, int64_t last);

// Stores the name of the function in which an error happened, cut to fit
// the buffer; null stores "----".
void SetErrorFunctionName(const char* name);

// No error location: function name "----" and error line -1.
void ResetErrorLocation();

// The final report's text: the message, a line end, then the labels of
// messages "File", "current line" and (with a function name other than
// "----") "In function" around the file name, line and function name.
// Cut to fit out; answers the length.
size_t FormatErrorReport(const char* message, const char* fileName, int32_t line, const char* functionName,
                         char* out, size_t outSize);

// Registers a script's own error text; answers its code (ERR_FIRST_USER + n
// for the n-th registration from 0) or ERR_MEM.
uint32_t AddUserErrorCode(const char* text);
// The registered text of a user code, or null.
const char* GetUserErrorText(uint32_t code);
// Frees the user error list (at shutdown).
void FreeUserErrorCodes();

// True for the codes whose message argument is a file name, of which only
// the file part is shown.
bool IsFileNameError(uint32_t code);

// The unformatted message text of a code (step one of GetErrorText): a user
// text, the error-text buffer, or the message of the code table; never null.
const char* GetErrorMessage(uint32_t code);

// Fills the one placeholder of a message text: the first "%s" with
// stringArg when the text has one, else the first "%d", else the first
// "%ld", with numberArg. "%%" pairs are neither placeholders nor collapsed,
// and every other '%' is copied as it stands. The result is cut to fit out
// (always terminated when outSize > 0); answers its length.
size_t FormatMessageText(const char* text, const char* stringArg, int32_t numberArg, char* out,
                         size_t outSize);

// The final message of a code with the context's arguments. A ":::chunk"
// error text is replaced in the context by the file part of its embedded
// name; file-name codes show only the file part of their argument.
void GetErrorText(uint32_t code, char* out, size_t outSize);

// Progress lines on the debug output, all silent while the quiet switch is on.
// PrintMessage: with an argument, format is filled with the argument's file
// part; dots appends "..."; without an argument the text prints as it stands.
void PrintMessage(const char* format, const char* argument, int dots);
void PrintDone();   // message "done" and a line end
void PrintFailed(); // message "failed" and a line end
