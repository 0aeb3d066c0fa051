// The applet-version rule: what an applet made for an older version of the
// language may not use.
#include "core/io/errors.h"
#include "core/services/check_args.h"
#include "core/startup/run_records.h"

#include <cstdio>

bool RequireAppletVersion(uint32_t major, uint32_t minor)
{
    const AppletInfo* applet = ProgramAppletInfo;
    if (!applet || !applet->loaded)
        return true;
    if (applet->versionMajor > major || (applet->versionMajor == major && applet->versionMinor >= minor))
        return true;
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u", major, minor);
    SetErrorText(text);
    return false;
}
