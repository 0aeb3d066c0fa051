// Fuzzes the table-file reader: arbitrary bytes served as a ":::memory"
// stream, read as a binary or text table file with nested tables and
// functions. Any input must end in a table or an error code, never a
// crash, an overrun, a hang or an allocation the input cannot back.
#include <cstddef>
#include <cstdint>

#include "core/vm/vm.h"
#include "libs/dos/dos_library.h"
#include "tests/fuzz/memory_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    MemoryName name;
    StreamHandle* stream = OpenInputStream(data, size, &name);
    if (!stream)
        return 0;
    // A state of its own per input: the VM frees its objects when it closes.
    VmState* vm = VmOpenState();
    int top = VmGetTop(vm);
    uint32_t code = ReadTableFromStream(vm, stream);
    StreamClose(stream);
    // A table on success, nothing on failure.
    if (VmGetTop(vm) != top + (code ? 0 : 1))
        __builtin_trap();
    if (!code && VmType(vm, -1) != VM_TTABLE)
        __builtin_trap();
    VmCloseState(vm);
    return 0;
}
