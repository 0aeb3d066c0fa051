// Which registers a function never reads again: a backward pass over a
// verified function's code that finds the concatenations whose operands
// (all but the first, which receives the result) are dead once it has run.
// Converting such an operand in place, and interning its number's text, is
// work no instruction could ever see; the interpreter skips it there.
//
// The pass is conservative wherever the code is unusual: it over-counts
// reads (an instruction taking "up to the top" reads every register from
// its first up), counts only the writes that surely happen, keeps every
// register a closure captures alive throughout, and follows every way
// control can go, the returns of a Gosub included (after any Gosub jump, and
// after or just before any call, since a native's Gosub request comes back
// there). Code it cannot settle in a few passes is left without marks.
#include <bitset>
#include <vector>

#include "core/vm/chunk.h"
#include "core/vm/memory.h"
#include "core/vm/opcodes.h"

namespace {

using Registers = std::bitset<256>;

// Passes over the whole code before giving up: loops nest a few deep in real
// code, and each pass settles at least one more level. Longer functions than
// any real one are not analysed, which bounds the time and memory it takes.
constexpr int kMaxPasses = 24;
constexpr int kMaxCode = 1 << 16;

Registers From(int first)
{
    Registers r;
    for (int j = first; j < 256; j++)
        r.set(static_cast<size_t>(j));
    return r;
}

void AddRK(Registers* r, uint32_t x)
{
    if (!VmIsConstantRK(x))
        r->set(x);
}

struct Step {
    Registers use;
    Registers kill;
    int next[2] = {-1, -1};
    bool gosubReturn = false;  // may continue at any Gosub return point
};

Step Analyse(const VmProto* p, int pc)
{
    const uint32_t i = p->code[pc];
    const uint32_t op = VmOp(i);
    const int a = static_cast<int>(VmArgA(i));
    const int b = static_cast<int>(VmArgB(i));
    const int c = static_cast<int>(VmArgC(i));
    Step s;
    s.next[0] = pc + 1;
    switch (op) {
    case OP_MOVE:
    case OP_UNM:
    case OP_NOT:
    case OP_BNOT:
        s.use.set(static_cast<size_t>(b));
        s.kill.set(static_cast<size_t>(a));
        break;
    case OP_LOADK:
    case OP_GETUPVAL:
    case OP_GETGLOBAL:
    case OP_NEWTABLE:
        s.kill.set(static_cast<size_t>(a));
        break;
    case OP_LOADNUM:
        s.kill.set(static_cast<size_t>(a));
        if (c)
            s.next[1] = pc + 2;
        break;
    case OP_LOADNIL:
        for (int j = a; j <= b && j < 256; j++)
            s.kill.set(static_cast<size_t>(j));
        break;
    case OP_SETGLOBAL:
    case OP_SETUPVAL:
        s.use.set(static_cast<size_t>(a));
        break;
    case OP_GETTABLE:
        s.use.set(static_cast<size_t>(b));
        AddRK(&s.use, static_cast<uint32_t>(c));
        s.kill.set(static_cast<size_t>(a));
        break;
    case OP_SETTABLE:
        s.use.set(static_cast<size_t>(a));
        AddRK(&s.use, static_cast<uint32_t>(b));
        AddRK(&s.use, static_cast<uint32_t>(c));
        break;
    case OP_ADD: case OP_SUB: case OP_MUL: case OP_DIV: case OP_IDIV: case OP_MOD:
    case OP_SHL: case OP_SHR: case OP_BOR: case OP_BAND: case OP_BXOR: case OP_POW:
        AddRK(&s.use, static_cast<uint32_t>(b));
        AddRK(&s.use, static_cast<uint32_t>(c));
        s.kill.set(static_cast<size_t>(a));
        break;
    case OP_CONCAT:
        for (int j = b; j <= c; j++)
            s.use.set(static_cast<size_t>(j));
        s.kill.set(static_cast<size_t>(a));
        break;
    case OP_JMP: {
        int64_t dest = static_cast<int64_t>(pc) + 1 + VmJumpOffset(i);
        s.next[0] = static_cast<int>(dest);
        break;
    }
    case OP_EQ:
    case OP_LT:
    case OP_LE:
        AddRK(&s.use, static_cast<uint32_t>(b));
        AddRK(&s.use, static_cast<uint32_t>(c));
        s.next[1] = pc + 2;
        break;
    case OP_TEST:
        s.use.set(static_cast<size_t>(a));
        s.use.set(static_cast<size_t>(b));
        s.next[1] = pc + 2;
        break;
    case OP_CALL:
    case OP_TAILCALL:
        s.use = b != 0 ? From(a) & ~From(a + b) : From(a);
        break;
    case OP_RETURN:
        if (c == 1) {
            s.next[0] = -1;
            s.gosubReturn = true;
        } else {
            s.use = b != 0 ? From(a) & ~From(a + b - 1) : From(a);
            s.next[0] = -1;
        }
        break;
    case OP_FORLOOP:
    case OP_TFORPREP:
        s.use = From(a) & ~From(a + 3);
        s.next[1] = static_cast<int>(static_cast<int64_t>(pc) + 1 + VmArgSBx(i));
        break;
    case OP_TFORLOOP:
        s.use = From(a);
        s.next[1] = pc + 2;
        break;
    case OP_SETLIST:
    case OP_SETLISTO:
        s.use = From(a);
        break;
    case OP_SELF:
        s.use.set(static_cast<size_t>(b));
        AddRK(&s.use, static_cast<uint32_t>(c));
        s.kill.set(static_cast<size_t>(a));
        if (a + 1 < 256)
            s.kill.set(static_cast<size_t>(a + 1));
        break;
    case OP_CLOSURE:
        s.kill.set(static_cast<size_t>(a));
        s.next[1] = pc + 1 + p->p[VmArgBx(i)]->nups;
        break;
    default:
        // CLOSE, and codes the interpreter skips: no register touched.
        break;
    }
    return s;
}

}  // namespace

void VmFindDeadOperands(VmState* L, VmProto* p)
{
    const int size = p->sizeCode;
    if (size > kMaxCode)
        return;
    bool anyConcat = false;
    for (int pc = 0; pc < size && !anyConcat; pc++)
        anyConcat = VmOp(p->code[pc]) == OP_CONCAT;
    if (!anyConcat)
        return;
    std::vector<Step> steps;
    steps.reserve(static_cast<size_t>(size));
    Registers captured;
    std::vector<int> gosubReturns;
    for (int pc = 0; pc < size; pc++) {
        steps.push_back(Analyse(p, pc));
        const uint32_t i = p->code[pc];
        switch (VmOp(i)) {
        case OP_CLOSURE: {
            int nups = p->p[VmArgBx(i)]->nups;
            for (int j = 1; j <= nups && pc + j < size; j++) {
                if (VmOp(p->code[pc + j]) == OP_MOVE)
                    captured.set(VmArgB(p->code[pc + j]));
            }
            break;
        }
        case OP_JMP:
            if (VmJumpMode(i) == VM_JUMP_GOSUB)
                gosubReturns.push_back(pc + 1);
            break;
        case OP_CALL:
        case OP_TAILCALL:
            gosubReturns.push_back(pc + 1);
            gosubReturns.push_back(pc - 1);
            break;
        default:
            break;
        }
    }
    // Live on entry to each instruction; the Gosub return points' union.
    std::vector<Registers> live(static_cast<size_t>(size));
    auto liveAt = [&](int pc) { return pc >= 0 && pc < size ? live[static_cast<size_t>(pc)] : Registers{}; };
    bool settled = false;
    for (int pass = 0; pass < kMaxPasses && !settled; pass++) {
        settled = true;
        Registers atReturns;
        for (int r : gosubReturns)
            atReturns |= liveAt(r);
        for (int pc = size - 1; pc >= 0; pc--) {
            const Step& s = steps[static_cast<size_t>(pc)];
            Registers out = liveAt(s.next[0]) | liveAt(s.next[1]);
            if (s.gosubReturn)
                out |= atReturns;
            Registers in = s.use | (out & ~s.kill);
            if (in != live[static_cast<size_t>(pc)]) {
                live[static_cast<size_t>(pc)] = in;
                settled = false;
            }
        }
    }
    if (!settled)
        return;
    Registers atReturns;
    for (int r : gosubReturns)
        atReturns |= liveAt(r);
    uint8_t* dead = nullptr;
    for (int pc = 0; pc < size; pc++) {
        const uint32_t i = p->code[pc];
        if (VmOp(i) != OP_CONCAT)
            continue;
        const Step& s = steps[static_cast<size_t>(pc)];
        Registers out = (liveAt(s.next[0]) | liveAt(s.next[1]) | captured);
        bool allDead = true;
        for (uint32_t j = VmArgB(i) + 1; j <= VmArgC(i) && allDead; j++)
            allDead = !out.test(j);
        if (!allDead)
            continue;
        if (!dead) {
            dead = VmNewVector<uint8_t>(L, static_cast<uint64_t>(size));
            for (int j = 0; j < size; j++)
                dead[j] = 0;
        }
        dead[pc] = 1;
    }
    p->deadOperands = dead;
}
