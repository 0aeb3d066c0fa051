// The run's records.
#include "core/run_records.h"

AppletInfo* ProgramAppletInfo = nullptr;
VmState* ProgramVmState = nullptr;
