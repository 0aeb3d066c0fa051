// Running assembly text as a script: the test assembler writes the chunk,
// the VM loads it and runs it under a protected call.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/vm/vm.h"

// Loads compiled chunk bytes as a function on top of the stack; answers the
// loader's status.
uint32_t LoadChunkBytes(VmState* vm, const std::vector<uint8_t>& bytes, const char* name);

// Assembles `text` (a failure to assemble fails the test), clears the stack,
// loads and runs the chunk; answers the status, with the results left on
// the stack.
uint32_t RunAssembledScript(VmState* vm, const std::string& text);
