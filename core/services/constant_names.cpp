// "#NAME" references to registered constants, as GetConstant and the
// commands that accept constants by name read them.
#include <cstring>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/services/arg_helpers.h"
#include "core/vm/library_glue.h"

namespace {

constexpr size_t kMaxConstantName = 64;

bool IsNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }

}  // namespace

bool IsConstantNameChar(char c)
{
    return IsNameStart(c) || (c >= '0' && c <= '9') || c == '$' || c == '!';
}

uint32_t ResolveConstantName(VmState* vm, const char* text, size_t* outLength, const char** outString,
                             double* outNumber)
{
    if (!text || text[0] != '#')
        return ERR_WRONGUSAGE;
    if (!IsNameStart(text[1]))
        return ERR_SYNTAXERROR;
    char name[kMaxConstantName + 1];
    size_t n = 0;
    while (n < kMaxConstantName && IsConstantNameChar(text[1 + n])) {
        name[n] = text[1 + n];
        ++n;
    }
    name[n] = '\0';
    double number = 0;
    const char* string = nullptr;
    if (!VmFindConstant(vm, name, &number, &string)) {
        SetErrorText(name);
        return ERR_FINDCST;
    }
    if (outLength)
        *outLength = n + 1;
    if (outString)
        *outString = string;
    if (outNumber)
        *outNumber = number;
    return 0;
}
