// The external-program thread.
#include "core/glue/external_program.h"

#include "core/io/error_codes.h"
#include "platform/posix/os_process.h"
#include "platform/posix/os_thread.h"

namespace {

int ExternalProgramThread(OsThread* self, void* argument)
{
    const ExternalProgram* record = static_cast<const ExternalProgram*>(argument);
    int started = OsRunProgramWait(record->program, record->arguments, self);
    OsThreadFinish(self, started ? 0 : 1);
    return 0;
}

} // namespace

uint32_t OsRunExternalProgram(ExternalProgram* record)
{
    // The stack size asked for is raised to the platform's minimum.
    record->thread = OsCreateThread("External program thread", ExternalProgramThread, record, 16384);
    return record->thread ? 0 : uint32_t{ERR_THREAD};
}

void OsWaitExternalProgram(ExternalProgram* record)
{
    OsStopThread(record->thread);
    record->thread = nullptr;
}
