// The applet reader on arbitrary bytes: every section, count, size and
// offset comes from the input, which is served as a memory stream. Reading
// must end in 0 or an error code without reading past the input or asking
// for more memory than the input could describe.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/startup/applet.h"
#include "core/startup/options.h"
#include "core/vm/vm.h"
#include "tests/fuzz/memory_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static VmState* vm = VmOpenState();
    MemoryName name;
    StreamHandle* stream = OpenInputStream(data, size, &name);
    if (!stream)
        return 0;
    CoreContext context{};
    AppletInfo applet{};
    applet.versionMajor = 6;
    applet.versionMinor = 1;
    ResetStartupDisplayRecord(&StartupDisplayRecord);
    AppletOrigin origin{};
    ReadAppletSections(name.c_str(), &context, vm, stream, 0, &applet, &origin);
    StreamClose(stream);
    FreeAppletInfoLists(&applet);
    FreeIconTable();
    VmSetTop(vm, 0);
    return 0;
}
