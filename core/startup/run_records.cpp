// The run's records, and where the VM registry holds them.
#include "core/startup/run_records.h"

#include "core/vm/vm.h"

AppletInfo* ProgramAppletInfo = nullptr;
VmState* ProgramVmState = nullptr;
uint32_t DebugDeviceSet = 0;

namespace {

void* RegistryPointer(VmState* vm, const char* name)
{
    if (!vm)
        vm = ProgramVmState;
    if (!vm)
        return nullptr;
    VmPushCString(vm, name);
    VmRawGet(vm, VM_REGISTRYINDEX);
    void* pointer = VmType(vm, -1) == VM_TLIGHTUSERDATA ? VmGetUserdata(vm, -1) : nullptr;
    VmPop(vm, 1);
    return pointer;
}

} // namespace

CoreContext* GetClargsTable(VmState* vm)
{
    return static_cast<CoreContext*>(RegistryPointer(vm, "clargs"));
}

AppletInfo* GetAppletInfo(VmState* vm)
{
    return static_cast<AppletInfo*>(RegistryPointer(vm, "applet"));
}
