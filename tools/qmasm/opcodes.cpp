// The instruction table of the assembler and disassembler: mnemonic, word
// format and what each operand of the assembly syntax means.
#include "tools/qmasm/opcodes.h"

#include "core/io/case_tables.h"

namespace qmasm {

namespace {
using enum Operand;
constexpr OpcodeInfo Abc(const char* n, Operand a, Operand b, Operand c, bool opt = false)
{
    return {n, Format::ABC, a, b, c, opt};
}
constexpr OpcodeInfo Abx(const char* n, Operand bx) { return {n, Format::ABx, Reg, bx, None, false}; }
constexpr OpcodeInfo Asbx(const char* n) { return {n, Format::AsBx, Reg, Target, None, false}; }
}  // namespace

const OpcodeInfo kOpcodeTable[kOpcodeCount] = {
    Abc("MOVE", Reg, Reg, None),
    Abx("LOADK", Const),
    Abc("LOADNUM", Reg, Num, Num, true),
    Abc("LOADNIL", Reg, Reg, None),
    Abc("GETUPVAL", Reg, Upval, None),
    Abx("GETGLOBAL", Const),
    Abc("GETTABLE", Reg, Reg, RK),
    Abx("SETGLOBAL", Const),
    Abc("SETUPVAL", Reg, Upval, None),
    Abc("SETTABLE", Reg, RK, RK),
    Abc("NEWTABLE", Reg, Num, Num),
    Abc("ADD", Reg, RK, RK),
    Abc("SUB", Reg, RK, RK),
    Abc("MUL", Reg, RK, RK),
    Abc("DIV", Reg, RK, RK),
    Abc("IDIV", Reg, RK, RK),
    Abc("MOD", Reg, RK, RK),
    Abc("SHL", Reg, RK, RK),
    Abc("SHR", Reg, RK, RK),
    Abc("BOR", Reg, RK, RK),
    Abc("BAND", Reg, RK, RK),
    Abc("BXOR", Reg, RK, RK),
    Abc("POW", Reg, RK, RK),
    Abc("UNM", Reg, Reg, None),
    Abc("NOT", Reg, Reg, None),
    Abc("BNOT", Reg, Reg, None),
    Abc("CONCAT", Reg, Reg, Reg),
    {"JMP", Format::Jump, Target, Num, None, true},
    Abc("EQ", Num, RK, RK),
    Abc("LT", Num, RK, RK),
    Abc("LE", Num, RK, RK),
    Abc("TEST", Reg, Reg, Num),
    Abc("CALL", Reg, Num, Num),
    Abc("TAILCALL", Reg, Num, Num),
    Abc("RETURN", Reg, Num, Num, true),
    Asbx("FORLOOP"),
    Abc("TFORLOOP", Reg, None, Num),
    Asbx("TFORPREP"),
    Abx("SETLIST", Count),
    Abx("SETLISTO", Count),
    Abc("CLOSE", Reg, None, None),
    Abx("CLOSURE", Func),
    Abc("SELF", Reg, Reg, RK),
};

int FindOpcode(std::string_view name)
{
    for (int i = 0; i < kOpcodeCount; i++) {
        std::string_view n = kOpcodeTable[i].name;
        if (n.size() != name.size())
            continue;
        bool same = true;
        for (size_t k = 0; k < n.size() && same; k++)
            same = ToUpperLatin1(static_cast<uint8_t>(name[k])) == static_cast<uint8_t>(n[k]);
        if (same)
            return i;
    }
    return -1;
}

}  // namespace qmasm
