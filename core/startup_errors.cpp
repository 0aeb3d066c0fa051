// How a script error is recorded: the last error code, where it happened
// (the line and script file of the innermost script function), and whether
// it ends the script. The VM calls these through its error hooks.
#include <cstring>

#include "core/command_services.h"
#include "core/io/errors.h"
#include "core/startup.h"
#include "core/vm/calls.h"
#include "core/vm/debug.h"
#include "core/vm/error_hooks.h"
#include "core/vm/value.h"

namespace {

void FindErrorLocation(VmState* L)
{
    for (VmCallInfo* ci = L->ci; ci && ci > L->baseCi; ci--) {
        if (ci->state & VM_CI_NATIVE)
            continue;
        VmClosure* function = VmFuncValue(ci->base - 1);
        if (function->isNative || !function->proto)
            continue;
        if (VmErrorLine == -1)
            VmErrorLine = VmCurrentLine(L, ci);
        const VmString* source = function->proto->source;
        if (errorScriptName && source) {
            const char* text = VmStringBytes(source);
            if (text[0] != '=' && text[0] != '?') {
                size_t length = std::strlen(text);
                if (length >= ERROR_TEXT_SIZE)
                    length = ERROR_TEXT_SIZE - 1;
                std::memcpy(errorScriptName, text, length);
                errorScriptName[length] = 0;
            }
        }
        return;
    }
}

void RecordError(VmState* L, uint32_t code)
{
    VmLastErrorCode = code;
    if (CoreTags.exitOnError) {
        VmErrorLine = -1;
        FindErrorLocation(L);
        if (CoreTags.errorHandlerNesting == 0)
            VmAbortFlag.store(1);
        VmThrow(L, code);
    }
    if (CoreTags.errorHandlerNesting == 0)
        ResetErrorLocation();
}

}  // namespace

void InstallScriptErrorHooks()
{
    VmHooks.recordScriptError = RecordError;
    VmHooks.findErrorFunctionName = FindErrorLocation;
    VmHooks.setErrorText = SetErrorText;
}
