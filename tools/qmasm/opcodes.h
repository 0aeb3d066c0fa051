// The assembler's own table of the 43 instructions and of the instruction
// word layout. It is kept apart from the VM's tables on purpose: chunks made
// here are the test input of the VM's loader and interpreter, so the two
// must be written independently to check each other.
#pragma once

#include <cstdint>
#include <string_view>

namespace qmasm {

// Bit layout of an instruction word.
inline constexpr int kOpBits = 6;
inline constexpr int kCShift = 6;
inline constexpr int kBShift = 15;
inline constexpr int kAShift = 24;
inline constexpr uint32_t kMaxOp = 63;
inline constexpr uint32_t kMaxA = 255;
inline constexpr uint32_t kMaxB = 511;
inline constexpr uint32_t kMaxC = 511;
inline constexpr uint32_t kMaxBx = (1u << 18) - 1;
inline constexpr int32_t kBxBias = 131071;      // sBx = Bx - bias
inline constexpr uint32_t kMaxJumpField = (1u << 24) - 1;
inline constexpr int32_t kJumpBias = 8388607;   // jump offset = field - bias
inline constexpr uint32_t kGosubMode = 2;       // binary 10 in bits 30-31
inline constexpr uint32_t kRkConstBase = 250;   // RK values from here name constants
inline constexpr uint32_t kMaxRkConst = kMaxB - kRkConstBase;
inline constexpr int kOpcodeCount = 43;

enum Opcode : uint8_t {
    OP_MOVE, OP_LOADK, OP_LOADNUM, OP_LOADNIL, OP_GETUPVAL, OP_GETGLOBAL, OP_GETTABLE,
    OP_SETGLOBAL, OP_SETUPVAL, OP_SETTABLE, OP_NEWTABLE, OP_ADD, OP_SUB, OP_MUL, OP_DIV,
    OP_IDIV, OP_MOD, OP_SHL, OP_SHR, OP_BOR, OP_BAND, OP_BXOR, OP_POW, OP_UNM, OP_NOT,
    OP_BNOT, OP_CONCAT, OP_JMP, OP_EQ, OP_LT, OP_LE, OP_TEST, OP_CALL, OP_TAILCALL,
    OP_RETURN, OP_FORLOOP, OP_TFORLOOP, OP_TFORPREP, OP_SETLIST, OP_SETLISTO, OP_CLOSE,
    OP_CLOSURE, OP_SELF
};

// What an operand of the assembly syntax stands for.
enum class Operand : uint8_t {
    None,
    Reg,      // rN
    RK,       // rN or a constant
    Num,      // a plain number written into the field
    Upval,    // uN, a plain number or an upvalue name
    Const,    // Bx naming a constant
    Count,    // Bx as a plain number
    Func,     // Bx naming a nested function
    Target,   // sBx or the 24-bit jump offset: a label or a signed offset
};

enum class Format : uint8_t { ABC, ABx, AsBx, Jump };

// Operands in assembly order. For ABC they fill A, B, C; for ABx and AsBx
// they fill A then Bx; an optional last operand defaults to 0 when omitted.
struct OpcodeInfo {
    const char* name;
    Format format;
    Operand a, b, c;
    bool lastOptional;
};

extern const OpcodeInfo kOpcodeTable[kOpcodeCount];

// Case-insensitive look-up of a mnemonic; -1 when unknown.
int FindOpcode(std::string_view name);

inline uint32_t EncodeABC(uint32_t op, uint32_t a, uint32_t b, uint32_t c)
{
    return op | (c << kCShift) | (b << kBShift) | (a << kAShift);
}
inline uint32_t EncodeABx(uint32_t op, uint32_t a, uint32_t bx)
{
    return op | (bx << kCShift) | (a << kAShift);
}
inline uint32_t EncodeJump(uint32_t field, uint32_t mode)
{
    return OP_JMP | (field << kCShift) | (mode << 30);
}

inline uint32_t DecodeOp(uint32_t w) { return w & kMaxOp; }
inline uint32_t DecodeA(uint32_t w) { return w >> kAShift; }
inline uint32_t DecodeB(uint32_t w) { return (w >> kBShift) & kMaxB; }
inline uint32_t DecodeC(uint32_t w) { return (w >> kCShift) & kMaxC; }
inline uint32_t DecodeBx(uint32_t w) { return (w >> kCShift) & kMaxBx; }
inline uint32_t DecodeJumpField(uint32_t w) { return (w >> kCShift) & kMaxJumpField; }
inline uint32_t DecodeJumpMode(uint32_t w) { return w >> 30; }

}  // namespace qmasm
