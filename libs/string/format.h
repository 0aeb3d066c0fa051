// The formatter behind FormatStr: a template with printf-style conversions,
// each taking the next argument through the caller's readers (which may raise
// script errors for arguments of the wrong type).
#pragma once

#include <string>
#include <string_view>

#include "core/io/error_codes.h"

struct FormatArgs {
    void* context;
    // Argument readers; `index` is the command's argument position, so the
    // first conversion reads index 2 (the template is argument 1).
    double (*number)(void* context, int index);
    std::string_view (*string)(void* context, int index);
};

// A conversion never runs longer than this, "%" included.
constexpr size_t kMaxFormatSpec = 20;
// Every converted item fits this buffer (widths and precisions stay below 100).
constexpr size_t kFormatItemBuffer = 512;

// Appends the formatted template to *out. ERR_WRONGUSAGE for a malformed
// conversion or an unknown conversion letter; *out then holds what came before.
ErrorCode FormatTemplate(std::string_view fmt, const FormatArgs& args, std::string* out);

// Appends s in double quotes: the zero byte as backslash and "000"; newline,
// double quote and backslash behind a backslash; every other byte as it is.
void AddQuotedString(std::string* out, std::string_view s);
