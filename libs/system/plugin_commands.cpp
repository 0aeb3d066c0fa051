// Plugin commands of the "system" library.
#include "libs/system/system_library.h"

void PushPluginInfoTable(VmState* vm) { VmNewTable(vm); }
