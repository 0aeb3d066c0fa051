// The instruction word and the 43 opcodes: field decoding for the
// interpreter, and the mode table the verifier checks operands against.
//
//   bits 0-5 opcode, 6-14 C, 15-23 B, 24-31 A; Bx = bits 6-23 (sBx = Bx -
//   131071); OP_JMP: bits 6-29 offset (- 8388607), bits 30-31 mode (2 Gosub).
// RK operands below 250 name registers, from 250 on constants.
#pragma once

#include <cstdint>

enum VmOpcode : uint8_t {
    OP_MOVE, OP_LOADK, OP_LOADNUM, OP_LOADNIL, OP_GETUPVAL, OP_GETGLOBAL, OP_GETTABLE,
    OP_SETGLOBAL, OP_SETUPVAL, OP_SETTABLE, OP_NEWTABLE, OP_ADD, OP_SUB, OP_MUL, OP_DIV,
    OP_IDIV, OP_MOD, OP_SHL, OP_SHR, OP_BOR, OP_BAND, OP_BXOR, OP_POW, OP_UNM, OP_NOT,
    OP_BNOT, OP_CONCAT, OP_JMP, OP_EQ, OP_LT, OP_LE, OP_TEST, OP_CALL, OP_TAILCALL,
    OP_RETURN, OP_FORLOOP, OP_TFORLOOP, OP_TFORPREP, OP_SETLIST, OP_SETLISTO, OP_CLOSE,
    OP_CLOSURE, OP_SELF,
    VM_NUM_OPCODES
};

constexpr uint32_t VM_RK_CONST = 250;       // RK values from here name constants
constexpr int VM_MAXSTACK = 250;            // most registers of a function
constexpr int32_t VM_SBX_BIAS = 131071;
constexpr int32_t VM_JUMP_BIAS = 8388607;
constexpr uint32_t VM_JUMP_GOSUB = 2;
constexpr int VM_FIELDS_PER_FLUSH = 32;     // SETLIST batch

inline uint32_t VmOp(uint32_t i) { return i & 0x3F; }
inline uint32_t VmArgA(uint32_t i) { return i >> 24; }
inline uint32_t VmArgB(uint32_t i) { return (i >> 15) & 0x1FF; }
inline uint32_t VmArgC(uint32_t i) { return (i >> 6) & 0x1FF; }
inline uint32_t VmArgBx(uint32_t i) { return (i >> 6) & 0x3FFFF; }
inline int32_t VmArgSBx(uint32_t i) { return static_cast<int32_t>(VmArgBx(i)) - VM_SBX_BIAS; }
inline int32_t VmJumpOffset(uint32_t i) { return static_cast<int32_t>((i >> 6) & 0xFFFFFF) - VM_JUMP_BIAS; }
inline uint32_t VmJumpMode(uint32_t i) { return i >> 30; }
inline bool VmIsConstantRK(uint32_t x) { return x >= VM_RK_CONST; }

// Operand kinds for the verifier.
enum VmOpFormat : uint8_t { VM_FMT_ABC, VM_FMT_ABX, VM_FMT_ASBX, VM_FMT_JUMP };
enum VmArgMode : uint8_t { VM_ARG_NONE, VM_ARG_REG, VM_ARG_RK, VM_ARG_COUNT };

struct VmOpInfo {
    const char* name;
    VmOpFormat format;
    VmArgMode b;
    VmArgMode c;
    bool bxIsConstant;
    bool setsA;
    bool isTest;  // followed by the OP_JMP it may take
};

extern const VmOpInfo VmOpTable[VM_NUM_OPCODES];
