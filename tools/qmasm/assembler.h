// The test assembler: assembly text in, compiled chunk bytes out.
//
// One item per line; ';' starts a comment; "name:" defines a label. Items:
//   .chunk OPTION...        header overrides: bigendian, littleendian, order=N,
//                           signature="...", intsize=, sizesize=, instrsize=,
//                           opbits=, abits=, bbits=, cbits=, numsize=,
//                           testnum=, lines=auto
//   .function NAME [line=N] [params=N] [vararg=N] [maxstack=N] [source="..."]
//             [upvals=N] [upvalnames=0]   ...   .end
//   .upval NAME [= rN | uN] .line N|auto  .lineinfo N...  .local NAME FROM TO
//   .const VALUE...         appends constants to the pool without merging
//   MNEMONIC operands       the 43 instructions, plus GOSUB target, RETSUB,
//                           WORD value, RAW op, a, b, c
// Operands: rN registers, kN constant indices, #number / "string" / nil
// constants (pooled per function), labels or signed offsets for jumps,
// uN or names for upvalues, nested function names for CLOSURE. Without a
// top-level .function the whole text is the main function.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qmasm {

struct AssembleResult {
    bool ok = false;
    std::vector<uint8_t> bytes;
    int errorLine = 0;  // 1-based line of the first error
    std::string message;
    // Labels of the main function with their instruction index, in order of
    // definition (what an applet's label section carries).
    std::vector<std::pair<std::string, uint32_t>> mainLabels;
    int lineCount = 0;  // lines of the text
};

AssembleResult Assemble(std::string_view text);

}  // namespace qmasm
