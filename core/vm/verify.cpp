// The bytecode check every loaded function passes: registers, constants,
// jump targets and the instruction pairs the interpreter relies on. It goes
// beyond the listed rules wherever an instruction could otherwise reach
// outside its frame, so that no loaded chunk can touch memory it does not
// own. The same walk answers which instruction last set a register.
#include "core/vm/chunk.h"

#include <cstdio>

#include "core/vm/opcodes.h"
#include "core/vm/state.h"

const VmOpInfo VmOpTable[VM_NUM_OPCODES] = {
    // name        format        B              C              K      setsA  test
    {"MOVE",      VM_FMT_ABC,  VM_ARG_REG,   VM_ARG_NONE,  false, true,  false},
    {"LOADK",     VM_FMT_ABX,  VM_ARG_NONE,  VM_ARG_NONE,  true,  true,  false},
    {"LOADNUM",   VM_FMT_ABC,  VM_ARG_COUNT, VM_ARG_COUNT, false, true,  false},
    {"LOADNIL",   VM_FMT_ABC,  VM_ARG_REG,   VM_ARG_NONE,  false, true,  false},
    {"GETUPVAL",  VM_FMT_ABC,  VM_ARG_COUNT, VM_ARG_NONE,  false, true,  false},
    {"GETGLOBAL", VM_FMT_ABX,  VM_ARG_NONE,  VM_ARG_NONE,  true,  true,  false},
    {"GETTABLE",  VM_FMT_ABC,  VM_ARG_REG,   VM_ARG_RK,    false, true,  false},
    {"SETGLOBAL", VM_FMT_ABX,  VM_ARG_NONE,  VM_ARG_NONE,  true,  false, false},
    {"SETUPVAL",  VM_FMT_ABC,  VM_ARG_COUNT, VM_ARG_NONE,  false, false, false},
    {"SETTABLE",  VM_FMT_ABC,  VM_ARG_RK,    VM_ARG_RK,    false, false, false},
    {"NEWTABLE",  VM_FMT_ABC,  VM_ARG_COUNT, VM_ARG_COUNT, false, true,  false},
    {"ADD",       VM_FMT_ABC,  VM_ARG_RK,    VM_ARG_RK,    false, true,  false},
    {"SUB",       VM_FMT_ABC,  VM_ARG_RK,    VM_ARG_RK,    false, true,  false},
    {"MUL",       VM_FMT_ABC,  VM_ARG_RK,    VM_ARG_RK,    false, true,  false},
    {"DIV",       VM_FMT_ABC,  VM_ARG_RK,    VM_ARG_RK,    false, true,  false},
    {"IDIV",      VM_FMT_ABC,  VM_ARG_RK,    VM_ARG_RK,    false, true,  false},
    {"MOD",       VM_FMT_ABC,  VM_ARG_RK,    VM_ARG_RK,    false, true,  false},
    {"SHL",       VM_FMT_ABC,  VM_ARG_RK,    VM_ARG_RK,    false, true,  false},
    {"SHR",       VM_FMT_ABC,  VM_ARG_RK,    VM_ARG_RK,    false, true,  false},
    {"BOR",       VM_FMT_ABC,  VM_ARG_RK,    VM_ARG_RK,    false, true,  false},
    {"BAND",      VM_FMT_ABC,  VM_ARG_RK,    VM_ARG_RK,    false, true,  false},
    {"BXOR",      VM_FMT_ABC,  VM_ARG_RK,    VM_ARG_RK,    false, true,  false},
    {"POW",       VM_FMT_ABC,  VM_ARG_RK,    VM_ARG_RK,    false, true,  false},
    {"UNM",       VM_FMT_ABC,  VM_ARG_REG,   VM_ARG_NONE,  false, true,  false},
    {"NOT",       VM_FMT_ABC,  VM_ARG_REG,   VM_ARG_NONE,  false, true,  false},
    {"BNOT",      VM_FMT_ABC,  VM_ARG_REG,   VM_ARG_NONE,  false, true,  false},
    {"CONCAT",    VM_FMT_ABC,  VM_ARG_REG,   VM_ARG_REG,   false, true,  false},
    {"JMP",       VM_FMT_JUMP, VM_ARG_NONE,  VM_ARG_NONE,  false, false, false},
    {"EQ",        VM_FMT_ABC,  VM_ARG_RK,    VM_ARG_RK,    false, false, true},
    {"LT",        VM_FMT_ABC,  VM_ARG_RK,    VM_ARG_RK,    false, false, true},
    {"LE",        VM_FMT_ABC,  VM_ARG_RK,    VM_ARG_RK,    false, false, true},
    {"TEST",      VM_FMT_ABC,  VM_ARG_REG,   VM_ARG_COUNT, false, true,  true},
    {"CALL",      VM_FMT_ABC,  VM_ARG_COUNT, VM_ARG_COUNT, false, true,  false},
    {"TAILCALL",  VM_FMT_ABC,  VM_ARG_COUNT, VM_ARG_COUNT, false, true,  false},
    {"RETURN",    VM_FMT_ABC,  VM_ARG_COUNT, VM_ARG_COUNT, false, false, false},
    {"FORLOOP",   VM_FMT_ASBX, VM_ARG_NONE,  VM_ARG_NONE,  false, true,  false},
    {"TFORLOOP",  VM_FMT_ABC,  VM_ARG_NONE,  VM_ARG_COUNT, false, true,  true},
    {"TFORPREP",  VM_FMT_ASBX, VM_ARG_NONE,  VM_ARG_NONE,  false, true,  false},
    {"SETLIST",   VM_FMT_ABX,  VM_ARG_NONE,  VM_ARG_NONE,  false, false, false},
    {"SETLISTO",  VM_FMT_ABX,  VM_ARG_NONE,  VM_ARG_NONE,  false, false, false},
    {"CLOSE",     VM_FMT_ABC,  VM_ARG_NONE,  VM_ARG_NONE,  false, false, false},
    {"CLOSURE",   VM_FMT_ABX,  VM_ARG_NONE,  VM_ARG_NONE,  false, true,  false},
    {"SELF",      VM_FMT_ABC,  VM_ARG_REG,   VM_ARG_RK,    false, true,  false},
};

namespace {

constexpr int NO_REG = 255;

#define CHECK(x)          \
    do {                  \
        if (!(x))         \
            return false; \
    } while (0)

bool CheckRK(const VmProto* p, uint32_t x)
{
    return VmIsConstantRK(x) ? static_cast<int32_t>(x - VM_RK_CONST) < p->sizeK : x < p->maxStackSize;
}

// A call keeping all results must hand them to an instruction that takes
// "up to the top".
bool CheckOpenOp(const VmProto* p, int pc)
{
    uint32_t i = p->code[pc + 1];
    switch (VmOp(i)) {
    case OP_CALL:
    case OP_TAILCALL:
    case OP_RETURN:
        return VmArgB(i) == 0;
    case OP_SETLISTO:
        return true;
    default:
        return false;
    }
}

bool PreCheck(const VmProto* p)
{
    CHECK(p->maxStackSize <= VM_MAXSTACK);
    CHECK(p->numParams + (p->isVararg ? 1 : 0) <= p->maxStackSize);
    CHECK(p->sizeLineInfo == p->sizeCode || p->sizeLineInfo == 0);
    CHECK(p->sizeCode > 0 && VmOp(p->code[p->sizeCode - 1]) == OP_RETURN);
    return true;
}

}  // namespace

bool VmSymbolicExec(const VmProto* p, int lastPc, int reg, uint32_t* lastSet)
{
    CHECK(PreCheck(p));
    const int size = p->sizeCode;
    const int stack = p->maxStackSize;
    auto reg_ok = [&](int64_t r) { return r >= 0 && r < stack; };
    int last = size - 1;  // the final return, a neutral instruction
    if (lastPc > size)
        lastPc = size;
    for (int pc = 0; pc < lastPc; pc++) {
        const uint32_t i = p->code[pc];
        const uint32_t op = VmOp(i);
        if (op >= VM_NUM_OPCODES)
            continue;  // skipped as a no-op when run
        const VmOpInfo& info = VmOpTable[op];
        const int a = static_cast<int>(VmArgA(i));
        int b = 0;
        int c = 0;
        if (info.format != VM_FMT_JUMP)
            CHECK(reg_ok(a));
        switch (info.format) {
        case VM_FMT_ABC:
            b = static_cast<int>(VmArgB(i));
            c = static_cast<int>(VmArgC(i));
            if (info.b == VM_ARG_REG)
                CHECK(reg_ok(b));
            else if (info.b == VM_ARG_RK)
                CHECK(CheckRK(p, static_cast<uint32_t>(b)));
            if (info.c == VM_ARG_RK)
                CHECK(CheckRK(p, static_cast<uint32_t>(c)));
            break;
        case VM_FMT_ABX:
            b = static_cast<int>(VmArgBx(i));
            if (info.bxIsConstant)
                CHECK(b < p->sizeK);
            break;
        case VM_FMT_ASBX:
            b = VmArgSBx(i);
            break;
        case VM_FMT_JUMP:
            b = VmJumpOffset(i);
            break;
        }
        if (info.setsA && a == reg)
            last = pc;
        if (info.isTest) {
            CHECK(pc + 2 < size);
            CHECK(VmOp(p->code[pc + 1]) == OP_JMP);
        }
        switch (op) {
        case OP_LOADNUM:
            CHECK(c == 0 || pc + 2 < size);
            break;
        case OP_LOADNIL:
            if (a <= reg && reg <= b)
                last = pc;
            break;
        case OP_GETUPVAL:
        case OP_SETUPVAL:
            CHECK(b < p->nups);
            break;
        case OP_GETGLOBAL:
        case OP_SETGLOBAL:
            CHECK(p->k[b].tt == VM_TSTRING);
            break;
        case OP_SELF:
            CHECK(reg_ok(a + 1));
            if (reg == a + 1)
                last = pc;
            break;
        case OP_CONCAT:
            CHECK(b < c && reg_ok(c));
            break;
        case OP_TFORLOOP:
            CHECK(reg_ok(static_cast<int64_t>(a) + c + 5));
            if (reg >= a)
                last = pc;
            break;
        case OP_FORLOOP:
        case OP_TFORPREP:
        case OP_JMP: {
            if (op == OP_FORLOOP)
                CHECK(reg_ok(a + 2));
            if (op == OP_TFORPREP)
                CHECK(reg_ok(a + 1));
            int64_t dest = static_cast<int64_t>(pc) + 1 + b;
            CHECK(dest >= 0 && dest < size);
            if (op == OP_TFORPREP && reg >= a && reg <= a + 1)
                last = pc;
            // Follow forward jumps that stay below lastPc when looking for
            // a register's setter.
            if (reg != NO_REG && pc < dest && dest <= lastPc)
                pc += b;
            break;
        }
        case OP_CALL:
        case OP_TAILCALL:
            if (b != 0)
                CHECK(reg_ok(static_cast<int64_t>(a) + b - 1));
            if (c == 0)
                CHECK(pc + 1 < size && CheckOpenOp(p, pc));
            else if (c > 1)
                CHECK(reg_ok(static_cast<int64_t>(a) + c - 2));
            if (reg >= a)
                last = pc;
            break;
        case OP_RETURN:
            if (c != 1 && b > 1)
                CHECK(reg_ok(static_cast<int64_t>(a) + b - 2));
            break;
        case OP_SETLIST:
            CHECK(reg_ok(static_cast<int64_t>(a) + (b & (VM_FIELDS_PER_FLUSH - 1)) + 1));
            break;
        case OP_CLOSURE: {
            CHECK(b < p->sizeP && p->p[b]);
            int nup = p->p[b]->nups;
            CHECK(pc + nup < size);
            for (int j = 1; j <= nup; j++) {
                uint32_t pseudo = p->code[pc + j];
                uint32_t pop = VmOp(pseudo);
                CHECK(pop == OP_GETUPVAL || pop == OP_MOVE);
                if (pop == OP_GETUPVAL)
                    CHECK(static_cast<int>(VmArgB(pseudo)) < p->nups);
                else
                    CHECK(reg_ok(VmArgB(pseudo)));
            }
            break;
        }
        default:
            break;
        }
    }
    if (lastSet)
        *lastSet = p->code[last];
    return true;
}

bool VmVerifyCode(const VmProto* p)
{
    return VmSymbolicExec(p, p->sizeCode, NO_REG, nullptr);
}

void VmDescribeFunction(const VmProto* p, const char* chunkName, char* out, size_t size)
{
    char source[128];
    if (p->source)
        VmChunkId(source, VmStringBytes(p->source), sizeof source);
    else
        std::snprintf(source, sizeof source, "%s", chunkName ? chunkName : "?");
    if (p->lineDefined == 0)
        std::snprintf(out, size, "the main function of %s", source);
    else
        std::snprintf(out, size, "the function defined at line %d of %s", static_cast<int>(p->lineDefined),
                      source);
}

void VmDescribeCodeFault(const VmProto* p, char* out, size_t size)
{
    if (!PreCheck(p)) {
        char what[128];
        if (p->maxStackSize > VM_MAXSTACK)
            std::snprintf(what, sizeof what, "uses %d registers, more than %d", p->maxStackSize, VM_MAXSTACK);
        else if (p->numParams + (p->isVararg ? 1 : 0) > p->maxStackSize)
            std::snprintf(what, sizeof what, "has more parameters than its %d registers", p->maxStackSize);
        else if (p->sizeLineInfo != p->sizeCode && p->sizeLineInfo != 0)
            std::snprintf(what, sizeof what, "has %d line records for %d instructions",
                          static_cast<int>(p->sizeLineInfo), static_cast<int>(p->sizeCode));
        else
            std::snprintf(what, sizeof what, "does not end in RETURN");
        std::snprintf(out, size, "the function %s", what);
        return;
    }
    // The check walks the code in order without following jumps, so a
    // prefix that passes stays passing: the first failing instruction is
    // found by halving.
    int passing = 0, failing = p->sizeCode;
    while (failing - passing > 1) {
        int middle = passing + (failing - passing) / 2;
        if (VmSymbolicExec(p, middle, NO_REG, nullptr))
            passing = middle;
        else
            failing = middle;
    }
    int pc = failing - 1;
    uint32_t op = VmOp(p->code[pc]);
    char instruction[64];
    const char* name = op < VM_NUM_OPCODES ? VmOpTable[op].name : "?";
    if (p->sizeLineInfo > pc)
        std::snprintf(instruction, sizeof instruction, "instruction %d (%s, line %d)", pc, name,
                      static_cast<int>(p->lineInfo[pc]));
    else
        std::snprintf(instruction, sizeof instruction, "instruction %d (%s)", pc, name);
    const char* why = "reaches outside the function's registers, constants, upvalues or code";
    if (op < VM_NUM_OPCODES && VmOpTable[op].isTest && (pc + 1 >= p->sizeCode || VmOp(p->code[pc + 1]) != OP_JMP))
        why = "is not followed by JMP";
    else if ((op == OP_CALL || op == OP_TAILCALL) && VmArgC(p->code[pc]) == 0)
        why = "keeps all results, but the next instruction does not take them";
    else if (op == OP_LOADNUM && VmArgC(p->code[pc]) != 0)
        why = "skips the last instruction";
    std::snprintf(out, size, "%s %s", instruction, why);
}
