// Fuzzes the container reader: arbitrary bytes as a ":::memory" source,
// inflated into a bounded memory block. Any input must end in a result
// code, never a crash, an overrun or a hang.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/io/container.h"
#include "core/io/virtual_names.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The output room varies with the input's length, so that both a block
    // that fills and a block that outlasts the stream are reached.
    size_t room = 1 + (size * 2654435761u) % 70000;
    std::vector<uint8_t> input(data, data + size);
    MemoryName name;
    if (!MakeMemoryName(input.data(), input.size(), &name))
        return 0;
    std::vector<uint8_t> out(room);
    uint64_t produced = 0;
    uint64_t length = 0;
    InflateFileWithMagic(CONTAINER_MAGIC_PACKAGE, name.c_str(), nullptr, nullptr, 0, &produced, &length, out.data(),
                         out.size());
    if (produced > out.size())
        __builtin_trap();
    return 0;
}
