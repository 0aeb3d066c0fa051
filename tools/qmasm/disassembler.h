// The disassembler: a compiled chunk as assembly text, for readable test
// failures. The text assembles back to the same bytes for every chunk this
// assembler can write (NaN constants come back as the default NaN).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qmasm {

struct DisassembleResult {
    bool ok = false;
    std::string text;
    std::string message;
};

DisassembleResult Disassemble(const uint8_t* data, size_t size);

}  // namespace qmasm
