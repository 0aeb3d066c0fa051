// Running assembly text as a script.
#include "support/assembled_script.h"

#include <gtest/gtest.h>

#include "tools/qmasm/assembler.h"

namespace {

struct ChunkInput {
    const std::vector<uint8_t>* bytes;
    bool done;
};

const char* ReadOnce(VmState*, void* data, size_t* size)
{
    auto* in = static_cast<ChunkInput*>(data);
    *size = in->done ? 0 : in->bytes->size();
    in->done = true;
    return *size ? reinterpret_cast<const char*>(in->bytes->data()) : nullptr;
}

} // namespace

uint32_t LoadChunkBytes(VmState* vm, const std::vector<uint8_t>& bytes, const char* name)
{
    ChunkInput in{&bytes, false};
    return VmLoad(vm, ReadOnce, &in, name);
}

uint32_t RunAssembledScript(VmState* vm, const std::string& text)
{
    qmasm::AssembleResult r = qmasm::Assemble(text);
    EXPECT_TRUE(r.ok) << r.errorLine << ": " << r.message;
    VmSetTop(vm, 0);
    if (uint32_t code = LoadChunkBytes(vm, r.bytes, "=script"))
        return code;
    return VmPCall(vm, 0, VM_MULTRET, 0);
}
