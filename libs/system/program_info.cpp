// Information commands of the "system" library: versions, the command
// line, the program and applet, constants by name, the user's folders,
// language and country.
#include <sys/utsname.h>

#include <cstring>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/services/arg_helpers.h"
#include "core/services/check_args.h"
#include "core/startup/run_records.h"
#include "core/startup/startup.h"
#include "libs/system/system_library.h"
#include "platform/posix/os_env.h"

namespace {

void SetField(VmState* vm, const char* key, const char* text)
{
    VmPushString(vm, key);
    VmPushString(vm, text ? text : "");
    VmRawSet(vm, -3);
}

void SetField(VmState* vm, const char* key, double number)
{
    VmPushString(vm, key);
    VmPushNumber(vm, number);
    VmRawSet(vm, -3);
}

bool IsBigEndianHost()
{
    const uint16_t probe = 1;
    uint8_t first;
    std::memcpy(&first, &probe, 1);
    return first == 0;
}

constexpr struct {
    const char* key;
    int kind;
} kSystemFolders[] = {
    {"windows", USERINFO_SYSTEM},   {"programfiles", USERINFO_PROGRAMS},
    {"appdata", USERINFO_APPDATA},  {"mydocuments", USERINFO_DOCUMENTS},
    {"userhome", USERINFO_HOME},    {"commonappdata", USERINFO_COMMONAPPDATA},
    {"username", USERINFO_USERNAME},
};

}  // namespace

uint32_t CmdGetVersion(VmState* vm)
{
    CheckArgs(vm, 0, 1, 0, 0);
    struct utsname host;
    bool haveHost = uname(&host) == 0;
    VmNewTable(vm);
    SetField(vm, "application", "QuillmerePlayer");
    SetField(vm, "version", "6.1");
    SetField(vm, "version_date", "05.03.16");
    SetField(vm, "kernel", "6.1");
    SetField(vm, "kernel_date", "05.03.16");
    SetField(vm, "beta", 0.0);
    SetField(vm, "platform", haveHost ? host.sysname : "Linux");
    SetField(vm, "bigendian", IsBigEndianHost() ? 1.0 : 0.0);
    SetField(vm, "cpu", haveHost ? host.machine : "unknown");
    VmPushString(vm, "plugins");
    PushPluginInfoTable(vm);
    VmRawSet(vm, -3);
    return 1;
}

uint32_t CmdGetCommandLine(VmState* vm)
{
    CheckArgs(vm, 0, 0, 0, 0);
    CoreContext* context = GetClargsTable(vm);
    VmNewTable(vm);
    int32_t count = 0;
    for (ScriptArgument* a = context ? context->scriptArgs : nullptr; a; a = a->next) {
        VmNewTable(vm);
        SetField(vm, "arg", a->name);
        SetField(vm, "param", a->value);
        VmRawSetI(vm, -2, count++);
    }
    VmPushNumber(vm, count);
    VmPushNumber(vm, 0);
    return 3;
}

uint32_t CmdGetProgramInfo(VmState* vm)
{
    CheckArgs(vm, 0, 0, 0, 0);
    CoreContext* context = GetClargsTable(vm);
    const char* script = context ? context->scriptPath : "";
    const char* program = context ? context->programPath : "";
    if (Startup.appletLinked) {
        VmPushNumber(vm, 2);
        VmPushString(vm, program);
        return 2;
    }
    VmPushNumber(vm, context && context->isApplet ? 1 : 0);
    VmPushString(vm, script);
    VmPushString(vm, program);
    return 3;
}

uint32_t CmdGetFileArgument(VmState* vm)
{
    CheckArgs(vm, 0, 0, 0, 0);
    CoreContext* context = GetClargsTable(vm);
    VmPushString(vm, context ? context->scriptPath : "");
    return 1;
}

uint32_t CmdGetConstant(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    const char* name = VmCheckString(vm, 1, nullptr);
    // The whole argument must be the name, so "#ERR-MEM" is a bad name, not
    // the unknown constant "ERR".
    if (name[0] == '#') {
        for (const char* p = name + 1; *p; ++p)
            if (!IsConstantNameChar(*p))
                return ERR_SYNTAXERROR;
    }
    size_t used;
    const char* text = nullptr;
    double number = 0;
    if (uint32_t code = ResolveConstantName(vm, name, &used, &text, &number))
        return code;
    // Only a name longer than any constant's is left over here.
    if (name[used] != '\0') {
        SetErrorText(name + 1);
        return ERR_FINDCST;
    }
    if (text)
        VmPushString(vm, text);
    else
        VmPushNumber(vm, number);
    return 1;
}

uint32_t CmdGetApplicationInfo(VmState* vm)
{
    CheckArgs(vm, 0, 0, 0, 0);
    AppletInfo* applet = GetAppletInfo(vm);
    VmNewTable(vm);
    SetField(vm, "title", applet ? applet->title : "");
    SetField(vm, "version", applet ? applet->version : "");
    SetField(vm, "copyright", applet ? applet->copyright : "");
    SetField(vm, "author", applet ? applet->author : "");
    SetField(vm, "description", applet ? applet->description : "");
    SetField(vm, "identifier", applet ? applet->identifier : "");
    return 1;
}

uint32_t CmdGetSystemInfo(VmState* vm)
{
    CheckArgs(vm, 0, 1, 0, 0);
    char buffer[4096];
    if (VmType(vm, 1) != VM_TNONE) {
        if (uint32_t code = OsGetUserInfo(VmCheckInteger(vm, 1), buffer, sizeof buffer))
            return code;
        VmPushString(vm, buffer);
        return 1;
    }
    VmNewTable(vm);
    for (const auto& folder : kSystemFolders)
        SetField(vm, folder.key, OsGetUserInfo(folder.kind, buffer, sizeof buffer) == 0 ? buffer : "");
    return 1;
}

uint32_t CmdGetSystemLanguage(VmState* vm)
{
    CheckArgs(vm, 0, 0, 0, 0);
    VmPushNumber(vm, OsGetSystemLanguage());
    return 1;
}

uint32_t CmdGetSystemCountry(VmState* vm)
{
    CheckArgs(vm, 0, 0, 0, 0);
    VmPushNumber(vm, OsGetSystemCountry());
    return 1;
}
