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
// Operands: rN registers, kN constant indices, #number / #NAME / "string" /
// nil constants (pooled per function; #12, #-0.5, #0x1F, #inf, #nan; #NAME
// a named constant of the player's tables, such as #IMGFMT_PNG, when the
// caller hands a resolver; strings take C escapes, \x with at most two
// digits), labels or signed offsets for jumps, uN or names for upvalues,
// nested function names for CLOSURE (a plain number instead writes the index
// without capture instructions). A plain number is refused where a register
// or a constant goes (the error says which form to write); it stands only in
// the count and flag fields (EQ's A, TEST's C, CALL's B and C, ...) and in
// RAW and WORD, which write fields and words as given. Names in .upval and
// .local may be quoted; @none writes no string at all. Without a top-level
// .function the whole text is the main function. docs/assembly.md says what
// each instruction does, with examples.
//
// Operand order (A, then B and C, or Bx; [x] may be left out and is 0):
//   MOVE/UNM/NOT/BNOT/LOADNIL rA, rB      LOADK/GETGLOBAL/SETGLOBAL rA, K
//   LOADNUM rA, B [, C]                  GETUPVAL/SETUPVAL rA, upvalue
//   GETTABLE/SELF rA, rB, RK             SETTABLE rA, RK, RK
//   ADD ... POW rA, RK, RK               NEWTABLE rA, B, C
//   CONCAT rA, rB, rC                    EQ/LT/LE A, RK, RK
//   TEST rA, rB, C                       CALL/TAILCALL rA, B, C
//   RETURN rA, B [, C]                   JMP target [, mode]
//   FORLOOP/TFORPREP rA, target          TFORLOOP rA, C
//   SETLIST/SETLISTO rA, Bx              CLOSE rA
//   CLOSURE rA, function                 RAW op, A, B, C
// The maximum stack size, when not given, covers every register that an
// instruction reaches (call arguments and results, loop registers...), the
// parameters and the vararg table, and is at least 2.
#pragma once

#include "tools/qmasm/chunk.h"

#include <cstdint>
#include <functional>
#include <optional>
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

// Answers the value of a named constant (the name as written after '#');
// false when there is none of that name.
using ConstantResolver = std::function<bool(const std::string& name, Constant* out)>;

struct AssembleOptions {
    ConstantResolver constants;  // empty: "#NAME" is an error
    // Line information in every function that does not set its own (as
    // ".chunk lines=auto" asks), so that errors name their line, and every
    // nested function without line= defined at the line of its .function,
    // so that errors name the function.
    bool autoLines = false;
    // The main function's source name when the text gives none; an applet's
    // included-file record names the same text, which is how an error finds
    // its file.
    std::optional<std::string> mainSource;
    // A function whose text does not end in RETURN gets "RETURN r0, 1",
    // as the loader wants every function to end.
    bool finalReturn = false;
    // Refuses the instruction pairs that the player's bytecode check
    // refuses: a test (EQ, LT, LE, TEST, TFORLOOP) that no JMP follows, a
    // CALL or TAILCALL with C = 0 that no instruction taking all results
    // follows, a LOADNUM that skips the last instruction. Off, such code is
    // written as given, for tests of that check.
    bool checkPairs = false;
};

AssembleResult Assemble(std::string_view text, const AssembleOptions& options = {});

}  // namespace qmasm
