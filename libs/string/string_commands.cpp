// Handlers of the string commands: each checks its argument count, reads its
// arguments, does its work through string_ops and pushes the result. Refused
// arguments return ERR_WRONGUSAGE with nothing pushed.
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "core/io/base64.h"
#include "core/io/errors.h"
#include "core/io/md5.h"
#include "core/io/utilities.h"
#include "core/services/check_args.h"
#include "core/services/command_services.h"
#include "libs/string/eval.h"
#include "libs/string/string_args.h"
#include "libs/string/string_library.h"
#include "libs/string/string_ops.h"

namespace {

bool FlagArg(VmState* vm, int index, int64_t fallback) { return OptIntegerArg(vm, index, fallback) != 0; }

uint32_t PushString(VmState* vm, std::string_view s)
{
    PushBytes(vm, s);
    return 1;
}

uint32_t CmdAddStr(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    std::string_view a = StringArg(vm, 1), b = StringArg(vm, 2);
    return GuardedCommand([&] { return PushString(vm, std::string(a).append(b)); });
}

uint32_t CmdAsc(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    std::string_view s = StringArg(vm, 1);
    VmPushNumber(vm, s.empty() ? 0 : static_cast<uint8_t>(s[0]));
    return 1;
}

uint32_t CmdChr(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    int64_t n = IntegerArg(vm, 1);
    if (n < 0 || n > 255)
        return ERR_WRONGUSAGE;
    char c = static_cast<char>(n);
    return PushString(vm, std::string_view(&c, n == 0 ? 0 : 1));
}

uint32_t CmdStrLen(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    VmPushNumber(vm, static_cast<double>(StringArg(vm, 1).size()));
    return 1;
}

uint32_t CmdLeftStr(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    std::string_view s = StringArg(vm, 1);
    return PushString(vm, LeftBytes(s, IntegerArg(vm, 2)));
}

uint32_t CmdRightStr(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    std::string_view s = StringArg(vm, 1);
    return PushString(vm, RightBytes(s, IntegerArg(vm, 2)));
}

uint32_t CmdMidStr(VmState* vm)
{
    CheckArgs(vm, 2, 3, 0, 0);
    std::string_view s = StringArg(vm, 1);
    int64_t pos = IntegerArg(vm, 2);
    return PushString(vm, MidBytes(s, pos, OptIntegerArg(vm, 3, -1)));
}

uint32_t CmdUnleftStr(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    std::string_view s = StringArg(vm, 1), out;
    if (UnleftBytes(s, IntegerArg(vm, 2), &out))
        return ERR_WRONGUSAGE;
    return PushString(vm, out);
}

uint32_t CmdUnrightStr(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    std::string_view s = StringArg(vm, 1), out;
    if (UnrightBytes(s, IntegerArg(vm, 2), &out))
        return ERR_WRONGUSAGE;
    return PushString(vm, out);
}

uint32_t CmdUnmidStr(VmState* vm)
{
    CheckArgs(vm, 3, 3, 0, 0);
    std::string_view s = StringArg(vm, 1);
    int64_t pos = IntegerArg(vm, 2), len = IntegerArg(vm, 3);
    return GuardedCommand([&]() -> uint32_t {
        std::string out;
        if (ErrorCode err = UnmidBytes(s, pos, len, &out))
            return err;
        return PushString(vm, out);
    });
}

uint32_t CmdInsertStr(VmState* vm)
{
    CheckArgs(vm, 3, 4, 0, 0);
    std::string_view s = StringArg(vm, 1), ins = StringArg(vm, 2);
    int64_t pos = IntegerArg(vm, 3);
    bool overwrite = FlagArg(vm, 4, 0);
    return GuardedCommand([&]() -> uint32_t {
        std::string out;
        if (ErrorCode err = InsertBytes(s, ins, pos, overwrite, &out))
            return err;
        return PushString(vm, out);
    });
}

uint32_t CmdRepeatStr(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    std::string_view s = StringArg(vm, 1);
    int64_t n = IntegerArg(vm, 2);
    return GuardedCommand([&]() -> uint32_t {
        std::string out;
        if (ErrorCode err = RepeatBytes(s, n, &out))
            return err;
        return PushString(vm, out);
    });
}

uint32_t CmdFindStr(VmState* vm)
{
    CheckArgs(vm, 2, 4, 0, 0);
    std::string_view s = StringArg(vm, 1), sub = StringArg(vm, 2);
    bool cs = FlagArg(vm, 3, 1);
    int64_t pos;
    if (FindBytes(s, sub, cs, OptIntegerArg(vm, 4, 0), &pos))
        return ERR_WRONGUSAGE;
    VmPushNumber(vm, static_cast<double>(pos));
    return 1;
}

uint32_t CmdCountStr(VmState* vm)
{
    CheckArgs(vm, 2, 4, 0, 0);
    std::string_view s = StringArg(vm, 1), sub = StringArg(vm, 2);
    bool cs = FlagArg(vm, 3, 1);
    int64_t count;
    if (CountBytes(s, sub, cs, OptIntegerArg(vm, 4, 0), &count))
        return ERR_WRONGUSAGE;
    VmPushNumber(vm, static_cast<double>(count));
    return 1;
}

uint32_t CmdReplaceStr(VmState* vm)
{
    CheckArgs(vm, 3, 5, 0, 0);
    std::string_view s = StringArg(vm, 1), search = StringArg(vm, 2), repl = StringArg(vm, 3);
    bool cs = FlagArg(vm, 4, 1);
    int64_t start = OptIntegerArg(vm, 5, 0);
    return GuardedCommand([&]() -> uint32_t {
        std::string out;
        if (ErrorCode err = ReplaceBytes(s, search, repl, cs, start, &out))
            return err;
        return PushString(vm, out);
    });
}

uint32_t CmdLowerStr(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    std::string_view s = StringArg(vm, 1);
    return GuardedCommand([&] { return PushString(vm, LowerBytes(s)); });
}

uint32_t CmdUpperStr(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    std::string_view s = StringArg(vm, 1);
    return GuardedCommand([&] { return PushString(vm, UpperBytes(s)); });
}

uint32_t CmdTrimStr(VmState* vm)
{
    CheckArgs(vm, 3, 3, 0, 0);
    std::string_view s = StringArg(vm, 1), c = StringArg(vm, 2), out;
    bool fromEnd = IntegerArg(vm, 3) != 0;
    if (TrimBytes(s, c, fromEnd, &out))
        return ERR_WRONGUSAGE;
    return PushString(vm, out);
}

uint32_t CmdPadNum(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    double n = NumberArg(vm, 1);
    int64_t len = IntegerArg(vm, 2);
    return GuardedCommand([&]() -> uint32_t {
        std::string out;
        if (ErrorCode err = PadNumberText(n, len, &out))
            return err;
        return PushString(vm, out);
    });
}

uint32_t CmdSplitStr(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    std::string_view s = StringArg(vm, 1), sep = StringArg(vm, 2);
    return GuardedCommand([&]() -> uint32_t {
        std::vector<std::string_view> pieces;
        if (SplitBytes(s, sep, &pieces))
            return ERR_WRONGUSAGE;
        VmNewTable(vm);
        for (size_t i = 0; i < pieces.size(); ++i) {
            PushBytes(vm, pieces[i]);
            VmRawSetI(vm, -2, static_cast<int>(i));
        }
        VmPushNumber(vm, static_cast<double>(pieces.size()));
        return 2;
    });
}

uint32_t CmdStrToArray(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    std::string_view s = StringArg(vm, 1);
    VmNewTable(vm);
    for (size_t i = 0; i < s.size(); ++i) {
        VmPushNumber(vm, static_cast<uint8_t>(s[i]));
        VmRawSetI(vm, -2, static_cast<int>(i));
    }
    VmPushNumber(vm, 0);
    VmRawSetI(vm, -2, static_cast<int>(s.size()));
    return 1;
}

uint32_t CmdArrayToStr(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    VmCheckTable(vm, 1);
    return GuardedCommand([&] {
        std::string out;
        for (int i = 0;; ++i) {
            VmRawGetI(vm, 1, i);
            bool number = VmType(vm, -1) == VM_TNUMBER;
            double v = number ? VmGetNumber(vm, -1) : 0;
            VmPop(vm, 1);
            if (!number || DoubleToInt64(v) == 0)
                break;
            out.push_back(static_cast<char>(DoubleToLow32(v) & 0xFF));
        }
        return PushString(vm, out);
    });
}

uint32_t CmdStrStr(VmState* vm)
{
    CheckArgs(vm, 1, 2, 0, 0);
    double n = NumberArg(vm, 1);
    return PushString(vm, DecimalsText(n, OptIntegerArg(vm, 2, 2)));
}

uint32_t CmdVal(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    std::string_view s = StringArg(vm, 1);
    size_t used;
    ErrorCode err;
    double v = StringToNumber(s.data(), s.size(), &used, &err);
    VmPushNumber(vm, err ? 0 : v);
    VmPushNumber(vm, err ? 0 : static_cast<double>(used));
    return 2;
}

uint32_t CmdHexStr(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    return PushString(vm, HexText(NumberArg(vm, 1)));
}

uint32_t CmdBinStr(VmState* vm)
{
    CheckArgs(vm, 1, 2, 0, 0);
    double n = NumberArg(vm, 1);
    int64_t type = OptIntegerArg(vm, 2, kBinInteger);
    return PushString(vm, BinText(n, type == kBinShort || type == kBinByte ? static_cast<int>(type)
                                     : type == kBinInteger ? kBinInteger : 0));
}

uint32_t CmdToNumber(VmState* vm)
{
    CheckArgs(vm, 1, 2, 0, 0);
    int64_t base = OptIntegerArg(vm, 2, 10);
    if (VmType(vm, 1) == VM_TLIGHTUSERDATA) {
        // The whole address: handles are pointer-sized on this platform.
        VmPushNumber(vm, static_cast<double>(reinterpret_cast<uintptr_t>(VmGetUserdata(vm, 1))));
        return 1;
    }
    if (base == 10) {
        VmPushNumber(vm, VmIsNumber(vm, 1) ? VmGetNumber(vm, 1) : 0);
        return 1;
    }
    if (base < 2 || base > 36)
        return ERR_WRONGUSAGE;
    VmPushNumber(vm, ParseIntegerInBase(StringArg(vm, 1), static_cast<int>(base)));
    return 1;
}

uint32_t CmdToString(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    if (VmGetMetatable(vm, 1)) {
        VmPushString(vm, "__tostring");
        VmRawGet(vm, -2);
        if (VmType(vm, -1) == VM_TFUNCTION) {
            VmPushValue(vm, 1);
            if (uint32_t err = VmCall(vm, 1, 1))
                return err;
            return 1;
        }
        VmPop(vm, 2);
    }
    char buf[64];
    const char* text = buf;
    switch (VmType(vm, 1)) {
    case VM_TNIL: text = "Nil"; break;
    case VM_TBOOLEAN: text = VmGetBoolean(vm, 1) ? "true" : "false"; break;
    case VM_TNUMBER:
    case VM_TSTRING:
        VmPushValue(vm, 1);
        VmGetString(vm, -1);  // a number becomes its text in place
        return 1;
    case VM_TTABLE: std::snprintf(buf, sizeof buf, "Table: %p", VmGetPointer(vm, 1)); break;
    case VM_TFUNCTION: std::snprintf(buf, sizeof buf, "Function: %p", VmGetPointer(vm, 1)); break;
    case VM_TTHREAD: std::snprintf(buf, sizeof buf, "Thread: %p", VmGetPointer(vm, 1)); break;
    default: std::snprintf(buf, sizeof buf, "UserData: %p", VmGetUserdata(vm, 1)); break;
    }
    VmPushString(vm, text);
    return 1;
}

uint32_t CmdToUserData(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    VmPushLightUserdata(vm, reinterpret_cast<void*>(static_cast<uintptr_t>(IntegerArg(vm, 1))));
    return 1;
}

uint32_t CmdMD5Str(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    std::string_view s = StringArg(vm, 1);
    if (s.empty())
        return ERR_WRONGUSAGE;
    char hex[33];
    Md5Hex(s.data(), s.size(), hex);
    return PushString(vm, std::string_view(hex, 32));
}

uint32_t CmdCRC32Str(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    std::string_view s = StringArg(vm, 1);
    if (s.empty())
        return ERR_WRONGUSAGE;
    VmPushNumber(vm, CalcCrc32(s.data(), static_cast<long>(s.size())));
    return 1;
}

uint32_t CmdBase64Str(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    std::string_view s = StringArg(vm, 1);
    bool decode = IntegerArg(vm, 2) != 0;
    return GuardedCommand([&] {
        return PushString(vm, decode ? DecodeBase64String(s.data(), s.size()) : EncodeBase64String(s.data(), s.size()));
    });
}

// Reads options.variables: each entry's name (copied, since a metamethod
// may hand out a string that nothing else keeps) and value. 0, or
// ERR_WRONGUSAGE for an entry that is no table or has no valid name.
ErrorCode ReadEvalVariables(VmState* vm, std::vector<std::string>* names, std::vector<double>* values)
{
    VmPushString(vm, "variables");
    VmGetTable(vm, 2);
    const int list = VmGetTop(vm);
    if (VmType(vm, list) == VM_TNIL)
        return ERR_NONE;
    if (VmType(vm, list) != VM_TTABLE) {
        SetErrorArgNumber(2);
        VmRaiseError(vm, ERR_TABEXPECTED);
    }
    for (int i = 0;; ++i) {
        VmSetTop(vm, list);
        VmRawGetI(vm, list, i);
        const int entry = list + 1;
        if (VmType(vm, entry) == VM_TNIL)
            return ERR_NONE;
        if (VmType(vm, entry) != VM_TTABLE)
            return ERR_WRONGUSAGE;
        VmPushString(vm, "name");
        VmGetTable(vm, entry);
        if (VmType(vm, -1) != VM_TSTRING)
            return ERR_WRONGUSAGE;
        std::string_view name(VmGetString(vm, -1), VmGetStringLength(vm, -1));
        if (!IsValidEvalName(name))
            return ERR_WRONGUSAGE;
        names->emplace_back(name);
        VmPushString(vm, "value");
        VmGetTable(vm, entry);
        double value = 0;
        if (VmType(vm, -1) != VM_TNIL) {
            if (!VmIsNumber(vm, -1)) {
                SetErrorText("value");
                VmRaiseError(vm, ERR_NUMTABLEARG);
            }
            value = VmGetNumber(vm, -1);
        }
        values->push_back(value);
    }
}

uint32_t CmdEval(VmState* vm)
{
    CheckArgs(vm, 1, 2, 0, 0);
    std::string_view expr = StringArg(vm, 1);
    // The expression is text: it ends at its first zero byte.
    expr = expr.substr(0, expr.find('\0'));
    bool hasOptions = VmType(vm, 2) != VM_TNONE;
    if (hasOptions)
        VmCheckTable(vm, 2);
    return GuardedCommand([&]() -> uint32_t {
        std::vector<std::string> names;
        std::vector<double> values;
        if (hasOptions) {
            ErrorCode err = ReadEvalVariables(vm, &names, &values);
            VmSetTop(vm, 2);
            if (err)
                return err;
        }
        std::vector<EvalVariable> vars;
        for (size_t i = 0; i < names.size(); ++i)
            vars.push_back({names[i], values[i]});
        double result;
        if (ErrorCode err = EvaluateExpression(expr, vars.data(), vars.size(), &result))
            return err;
        VmPushNumber(vm, result);
        return 1;
    });
}

} // namespace

const CommandTableEntry kStringCommands[] = {
    {"LowerStr", CmdLowerStr},
    {"UpperStr", CmdUpperStr},
    {"Val", CmdVal},
    {"StrStr", CmdStrStr},
    {"UnrightStr", CmdUnrightStr},
    {"UnleftStr", CmdUnleftStr},
    {"Chr", CmdChr},
    {"MidStr", CmdMidStr},
    {"RightStr", CmdRightStr},
    {"LeftStr", CmdLeftStr},
    {"FindStr", CmdFindStr},
    {"AddStr", CmdAddStr},
    {"HexStr", CmdHexStr},
    {"Asc", CmdAsc},
    {"StrLen", CmdStrLen},
    {"ReplaceStr", CmdReplaceStr},
    {"BinStr", CmdBinStr},
    {"SplitStr", CmdSplitStr},
    {"PadNum", CmdPadNum},
    {"StrToArray", CmdStrToArray},
    {"TrimStr", CmdTrimStr},
    {"ToString", CmdToString},
    {"ToNumber", CmdToNumber},
    {"UnmidStr", CmdUnmidStr},
    {"CountStr", CmdCountStr},
    {"InsertStr", CmdInsertStr},
    {"RepeatStr", CmdRepeatStr},
    {"MD5Str", CmdMD5Str},
    {"CRC32Str", CmdCRC32Str},
    {"FormatStr", CmdFormatStr},
    {"PatternFindStr", CmdPatternFindStr},
    {"PatternReplaceStr", CmdPatternReplaceStr},
    {"Eval", CmdEval},
    {"PatternFindStrDirect", CmdPatternFindStrDirect},
    {"PatternFindStrShort", CmdPatternFindStrShort},
    {"ArrayToStr", CmdArrayToStr},
    {"Base64Str", CmdBase64Str},
    {"ToUserData", CmdToUserData},
    {nullptr, nullptr},
};

uint32_t OpenStringLibrary(VmState* vm)
{
    // Global commands: registered into the globals table, not a library table.
    VmPushValue(vm, VM_GLOBALSINDEX);
    VmRegisterLibrary(vm, nullptr, kStringCommands, 0);
    return RegisterLibrary(kStringCommands, "string");
}
