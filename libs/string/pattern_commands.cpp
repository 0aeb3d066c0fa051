// Handlers of FormatStr and the pattern commands. Pattern errors are raised
// as script errors; argument errors are returned as ERR_WRONGUSAGE.
#include <string>

#include "core/services/check_args.h"
#include "libs/string/format.h"
#include "libs/string/patterns.h"
#include "libs/string/string_args.h"
#include "libs/string/string_library.h"

namespace {

double FormatNumberArg(void* vm, int index) { return NumberArg(static_cast<VmState*>(vm), index); }
std::string_view FormatStringArg(void* vm, int index) { return StringArg(static_cast<VmState*>(vm), index); }

void RaiseIfError(VmState* vm, ErrorCode err)
{
    if (err)
        VmRaiseError(vm, err);
}

// Pushes the captures of the match [s, e) (or the whole match); returns
// their number.
int PushPatternCaptures(VmState* vm, const MatchState& ms, const char* s, const char* e)
{
    int n = PatternCaptureCount(ms);
    if (!VmCheckStack(vm, n))
        VmRaiseError(vm, ERR_STACK);
    for (int i = 0; i < n; ++i) {
        CaptureValue v;
        RaiseIfError(vm, GetPatternCapture(ms, i, s, e, &v));
        if (v.isPosition)
            VmPushNumber(vm, static_cast<double>(v.position));
        else
            PushBytes(vm, v.text);
    }
    return n;
}

// Shared by PatternFindStrDirect (with the bounds) and PatternFindStrShort.
uint32_t PatternFindCore(VmState* vm, bool withBounds)
{
    CheckArgs(vm, 2, 3, 0, 0);
    std::string_view s = StringArg(vm, 1), p = StringArg(vm, 2);
    int64_t start = OptIntegerArg(vm, 3, 0);
    if (start < 0 || start > static_cast<int64_t>(s.size()))
        return ERR_WRONGUSAGE;
    MatchState ms;
    bool found;
    size_t from, to;
    RaiseIfError(vm, PatternFind(&ms, s, p, static_cast<size_t>(start), true, &found, &from, &to));
    if (!found) {
        VmPushNumber(vm, -1);
        return 1;
    }
    int n = 0;
    if (withBounds) {
        VmPushNumber(vm, static_cast<double>(from));
        VmPushNumber(vm, static_cast<double>(to) - 1);
        n = 2;
    }
    return static_cast<uint32_t>(n + PushPatternCaptures(vm, ms, s.data() + from, s.data() + to));
}

// The iterator that PatternFindStr returns; upvalues: subject, pattern and
// the next start position.
uint32_t PatternIteratorStep(VmState* vm)
{
    std::string_view s = StringArg(vm, VmUpvalueIndex(1));
    std::string_view p = StringArg(vm, VmUpvalueIndex(2));
    double next = VmGetNumber(vm, VmUpvalueIndex(3));
    if (!(next >= 0) || next > static_cast<double>(s.size()))
        return 0;
    MatchState ms;
    bool found;
    size_t from, to;
    RaiseIfError(vm, PatternFind(&ms, s, p, static_cast<size_t>(next), false, &found, &from, &to));
    if (!found) {
        // Nothing left: park the position past the end so later calls stop at once.
        VmPushNumber(vm, static_cast<double>(s.size()) + 1);
        VmReplace(vm, VmUpvalueIndex(3));
        return 0;
    }
    VmPushNumber(vm, static_cast<double>(to == from ? to + 1 : to));
    VmReplace(vm, VmUpvalueIndex(3));
    return static_cast<uint32_t>(PushPatternCaptures(vm, ms, s.data() + from, s.data() + to));
}

struct FunctionReplacer {
    VmState* vm;
    int function;  // stack index of the replacement function
};

ErrorCode AppendFunctionResult(void* context, const MatchState& ms, const char* s, const char* e, std::string* out)
{
    auto* r = static_cast<FunctionReplacer*>(context);
    VmState* vm = r->vm;
    VmPushValue(vm, r->function);
    int n = PushPatternCaptures(vm, ms, s, e);
    if (uint32_t err = VmCall(vm, n, 1))
        return static_cast<ErrorCode>(err);
    int type = VmType(vm, -1);
    if (type == VM_TSTRING || type == VM_TNUMBER) {
        const char* text = VmGetString(vm, -1);
        out->append(text, VmGetStringLength(vm, -1));
    }
    VmPop(vm, 1);
    return ERR_NONE;
}

ErrorCode AppendTemplate(void* context, const MatchState& ms, const char* s, const char* e, std::string* out)
{
    return AppendTemplateReplacement(ms, *static_cast<std::string_view*>(context), s, e, out);
}

} // namespace

uint32_t CmdFormatStr(VmState* vm)
{
    CheckArgs(vm, 1, -1, 0, 0);
    std::string_view fmt = StringArg(vm, 1);
    return GuardedCommand([&]() -> uint32_t {
        std::string out;
        FormatArgs args{vm, FormatNumberArg, FormatStringArg};
        if (ErrorCode err = FormatTemplate(fmt, args, &out))
            return err;
        PushBytes(vm, out);
        return 1;
    });
}

uint32_t CmdPatternFindStr(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    StringArg(vm, 1);
    StringArg(vm, 2);
    VmSetTop(vm, 2);
    VmPushNumber(vm, 0);
    VmPushNativeClosure(vm, PatternIteratorStep, 3);
    return 1;
}

uint32_t CmdPatternFindStrDirect(VmState* vm) { return PatternFindCore(vm, true); }

uint32_t CmdPatternFindStrShort(VmState* vm) { return PatternFindCore(vm, false); }

uint32_t CmdPatternReplaceStr(VmState* vm)
{
    CheckArgs(vm, 3, 4, 0, 0);
    std::string_view s = StringArg(vm, 1), p = StringArg(vm, 2);
    int type = VmType(vm, 3);
    if (type != VM_TSTRING && type != VM_TNUMBER && type != VM_TFUNCTION)
        return ERR_WRONGUSAGE;
    int64_t max = OptIntegerArg(vm, 4, static_cast<int64_t>(s.size()) + 1);
    std::string_view repl;
    FunctionReplacer fr{vm, 3};
    PatternReplacer replacer{&fr, AppendFunctionResult};
    if (type != VM_TFUNCTION) {
        repl = StringArg(vm, 3);
        replacer = {&repl, AppendTemplate};
    }
    uint32_t result = GuardedCommand([&]() -> uint32_t {
        std::string out;
        int64_t count = 0;
        if (ErrorCode err = PatternReplace(s, p, replacer, max, &out, &count))
            return err;
        PushBytes(vm, out);
        VmPushNumber(vm, static_cast<double>(count));
        return 2;
    });
    if (result != 2 && result != ERR_MEM)
        VmRaiseError(vm, result);
    return result;
}
