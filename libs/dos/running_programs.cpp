// The list of programs started by Run with an end handler. The record is
// appended before its thread starts and removed only on the script thread,
// after its thread was joined, so the thread never sees it freed.
#include "libs/dos/running_programs.h"

#include <cstring>

#include "core/io/error_codes.h"
#include "core/vm/vm.h"
#include "display/event_handlers.h"
#include "display/event_library.h"
#include "display/events.h"
#include "display/script_refs.h"
#include "platform/posix/os_memory.h"
#include "platform/posix/os_thread.h"

namespace {

RunningProgram* g_programs;

bool IsListed(const RunningProgram* record)
{
    for (RunningProgram* r = g_programs; r; r = r->next)
        if (r == record)
            return true;
    return false;
}

// Runs on the finishing thread: the only word it passes is the record's
// address, which the script thread checks against the list.
void ReportProgramEnd(OsThread* thread, int failed, void*)
{
    auto* external = static_cast<ExternalProgram*>(OsThreadArgument(thread));
    if (!external)
        return;
    int32_t args[4] = {failed, 0, 0, 0};
    PostEvent(EVENT_GLOBAL, GEVENT_PROGRAMEND, ObjectId{}, reinterpret_cast<uintptr_t>(external->argument), args);
}

int32_t UserValueRef(uintptr_t program)
{
    auto* record = reinterpret_cast<RunningProgram*>(program);
    return IsListed(record) ? record->userValueRef : -1;
}

void Finished(VmState* vm, uintptr_t program) { UnregisterRunningProcess(vm, reinterpret_cast<RunningProgram*>(program)); }

const ProgramEndHooks kHooks{UserValueRef, Finished};

}  // namespace

bool WantsProgramEnd() { return HasGlobalEventHandler(GEVENT_PROGRAMEND); }

uint32_t StartRunningProgram(VmState* vm, const char* program, const char* arguments, int userValue)
{
    size_t programLength = std::strlen(program);
    size_t argumentsLength = std::strlen(arguments);
    auto* record = static_cast<RunningProgram*>(
        OsAllocMem(sizeof(RunningProgram) + programLength + argumentsLength + 2, 1));
    if (!record)
        return ERR_MEM;
    char* text = reinterpret_cast<char*>(record + 1);
    std::memcpy(text, program, programLength + 1);
    std::memcpy(text + programLength + 1, arguments, argumentsLength + 1);
    record->external.argument = record;
    record->external.program = text;
    record->external.arguments = text + programLength + 1;
    record->userValueRef = -1;
    if (userValue) {
        VmPushValue(vm, userValue);
        record->userValueRef = TakeRegistryRef(vm);
    }
    RunningProgram** link = &g_programs;
    while (*link)
        link = &(*link)->next;
    *link = record;
    SetProgramEndHooks(&kHooks);
    OsSetThreadFinishHook(ReportProgramEnd, nullptr);
    if (uint32_t code = OsRunExternalProgram(&record->external)) {
        UnregisterRunningProcess(vm, record);
        return code;
    }
    return 0;
}

void UnregisterRunningProcess(VmState* vm, RunningProgram* record)
{
    RunningProgram** link = &g_programs;
    while (*link && *link != record)
        link = &(*link)->next;
    if (!*link)
        return;
    *link = record->next;
    if (record->external.thread)
        OsWaitExternalProgram(&record->external);
    ReleaseRegistryRef(vm, record->userValueRef);
    OsFreeMem(record);
}

void FreeRunningPrograms(VmState* vm)
{
    while (g_programs)
        UnregisterRunningProcess(vm, g_programs);
}
