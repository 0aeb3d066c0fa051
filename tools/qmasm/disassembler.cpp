// Prints a chunk in the assembler's own syntax. Everything is written out
// explicitly (the constant pool in order, every function attribute, the
// header fields that differ from the defaults), and an instruction whose
// unused fields are not zero is printed as a raw word, so that assembling
// the text gives the chunk back byte for byte.
#include "tools/qmasm/disassembler.h"

#include "tools/qmasm/chunk.h"
#include "tools/qmasm/opcodes.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <set>
#include <vector>

namespace qmasm {

namespace {

std::string Printf(const char* fmt, auto... args)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, args...);
    return buf;
}

std::string Quote(const std::string& s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        default:
            if (c >= 0x20 && c < 0x7F)
                out += static_cast<char>(c);
            else
                out += Printf("\\x%02x", c);
        }
    }
    return out + "\"";
}

std::string Name(const std::optional<std::string>& s) { return s ? Quote(*s) : "@none"; }

std::string NumberText(double d)
{
    if (std::isnan(d))
        return "nan";
    if (std::isinf(d))
        return d < 0 ? "-inf" : "inf";
    return Printf("%.17g", d);
}

std::string ConstantText(const Constant& k)
{
    switch (k.type) {
    case kConstNil: return "nil";
    case kConstNumber: return "#" + NumberText(k.number);
    case kConstString: return Quote(k.text);
    default: return Printf("type=%u", k.type);
    }
}

// Bits of an instruction word that its printed form covers.
uint32_t UsedBits(const OpcodeInfo& info)
{
    const uint32_t a = kMaxA << kAShift, b = kMaxB << kBShift, c = kMaxC << kCShift;
    switch (info.format) {
    case Format::Jump: return 0xFFFFFFFFu;
    case Format::ABx:
    case Format::AsBx: return a | (kMaxBx << kCShift) | kMaxOp;
    case Format::ABC: break;
    }
    return kMaxOp | (info.a != Operand::None ? a : 0) | (info.b != Operand::None ? b : 0) |
           (info.c != Operand::None ? c : 0);
}

int64_t JumpTarget(uint32_t pc, uint32_t w)
{
    uint32_t op = DecodeOp(w);
    if (op == OP_JMP)
        return static_cast<int64_t>(pc) + 1 + static_cast<int64_t>(DecodeJumpField(w)) - kJumpBias;
    if (op == OP_FORLOOP || op == OP_TFORPREP)
        return static_cast<int64_t>(pc) + 1 + static_cast<int64_t>(DecodeBx(w)) - kBxBias;
    return -1;
}

class Printer {
public:
    std::string out;

    // `captures`: the capture words that follow every CLOSURE of this
    // function in its parent, when the parent names it; null otherwise.
    void Function(const Prototype& f, const std::string& name, int depth,
                  const std::vector<uint32_t>* captures);

private:
    void Line(int depth, const std::string& text)
    {
        out.append(static_cast<size_t>(depth) * 4, ' ');
        out += text;
        out += '\n';
    }
    std::string ConstRef(const Prototype& f, uint32_t k) const;
    std::string Instruction(const Prototype& f, uint32_t pc, const std::vector<bool>& byName) const;
    std::string TargetText(const Prototype& f, uint32_t pc, int64_t offset) const;
};

// A constant as a literal when the literal finds this very pool entry,
// else by index.
std::string Printer::ConstRef(const Prototype& f, uint32_t k) const
{
    if (k >= f.constants.size())
        return Printf("k%u", k);
    const Constant& c = f.constants[k];
    if (c.type != kConstNil && c.type != kConstNumber && c.type != kConstString)
        return Printf("k%u", k);
    if (c.type == kConstNumber && std::isnan(c.number)) {
        double canonical = std::numeric_limits<double>::quiet_NaN();
        if (std::memcmp(&canonical, &c.number, 8) != 0)
            return Printf("k%u", k);
    }
    for (uint32_t i = 0; i < k; i++)
        if (SameConstant(f.constants[i], c))
            return Printf("k%u", k);
    return ConstantText(c);
}

std::string Printer::TargetText(const Prototype& f, uint32_t pc, int64_t offset) const
{
    int64_t target = static_cast<int64_t>(pc) + 1 + offset;
    if (target >= 0 && target <= static_cast<int64_t>(f.code.size()))
        return Printf("L%" PRId64, target);
    return Printf("%+" PRId64, offset);
}

std::string Printer::Instruction(const Prototype& f, uint32_t pc, const std::vector<bool>& byName) const
{
    uint32_t w = f.code[pc];
    uint32_t op = DecodeOp(w), a = DecodeA(w), b = DecodeB(w), c = DecodeC(w), bx = DecodeBx(w);
    if (op >= kOpcodeCount)
        return Printf("RAW %u, %u, %u, %u", op, a, b, c);
    const OpcodeInfo& info = kOpcodeTable[op];
    if (w & ~UsedBits(info))
        return Printf("WORD 0x%08X", w);
    std::string text = info.name;
    switch (info.format) {
    case Format::Jump: {
        uint32_t mode = DecodeJumpMode(w);
        std::string t = TargetText(f, pc, static_cast<int64_t>(DecodeJumpField(w)) - kJumpBias);
        if (mode == kGosubMode)
            return "GOSUB " + t;
        return mode == 0 ? "JMP " + t : "JMP " + t + Printf(", %u", mode);
    }
    case Format::AsBx:
        return text + Printf(" r%u, ", a) + TargetText(f, pc, static_cast<int64_t>(bx) - kBxBias);
    case Format::ABx:
        text += Printf(" r%u, ", a);
        if (info.b == Operand::Const)
            return text + ConstRef(f, bx);
        if (info.b == Operand::Func && bx < byName.size() && byName[bx])
            return text + Printf("f%u", bx);
        return text + Printf("%u", bx);
    case Format::ABC: break;
    }
    if (op == OP_RETURN && a == 0 && b == 0 && c == 1)
        return "RETSUB";
    const Operand kinds[3] = {info.a, info.b, info.c};
    const uint32_t values[3] = {a, b, c};
    int last = 2;
    while (kinds[last] == Operand::None)
        last--;
    if (info.lastOptional && values[last] == 0)
        last--;
    const char* sep = " ";
    for (int i = 0; i <= last; i++) {
        if (kinds[i] == Operand::None)
            continue;
        text += sep;
        sep = ", ";
        uint32_t v = values[i];
        switch (kinds[i]) {
        case Operand::Reg: text += Printf("r%u", v); break;
        case Operand::RK:
            text += v < kRkConstBase ? Printf("r%u", v) : ConstRef(f, v - kRkConstBase);
            break;
        case Operand::Upval: text += Printf("u%u", v); break;
        default: text += Printf("%u", v); break;
        }
    }
    return text;
}

void Printer::Function(const Prototype& f, const std::string& name, int depth,
                       const std::vector<uint32_t>* captures)
{
    const std::vector<uint32_t>& code = f.code;
    const uint32_t n = static_cast<uint32_t>(code.size());
    const bool linesPerInstruction = n > 0 && f.lineInfo.size() == n;

    std::set<int64_t> targets;
    for (uint32_t pc = 0; pc < n; pc++) {
        int64_t t = JumpTarget(pc, code[pc]);
        if (t >= 0 && t <= static_cast<int64_t>(n))
            targets.insert(t);
    }

    // A nested function is named by its CLOSUREs when every one of them is
    // followed by the same well-formed capture words, on the CLOSURE's line
    // and not jumped into; the assembler then writes those words itself.
    std::vector<bool> byName(f.functions.size(), false);
    std::vector<std::vector<uint32_t>> childCaptures(f.functions.size());
    for (uint32_t i = 0; i < f.functions.size(); i++) {
        const Prototype& child = f.functions[i];
        uint32_t ups = child.upvalueCount;
        bool ok = child.upvalueNames.empty() || child.upvalueNames.size() == ups;
        bool seen = false;
        for (uint32_t pc = 0; pc < n && ok; pc++) {
            uint32_t w = code[pc];
            if (DecodeOp(w) != OP_CLOSURE || DecodeBx(w) != i || (w & ~UsedBits(kOpcodeTable[OP_CLOSURE])))
                continue;
            if (pc + ups >= n) {
                ok = false;
                break;
            }
            std::vector<uint32_t> these(code.begin() + pc + 1, code.begin() + pc + 1 + ups);
            for (uint32_t k = 1; k <= ups && ok; k++) {
                uint32_t cw = code[pc + k];
                ok = (DecodeOp(cw) == OP_MOVE || DecodeOp(cw) == OP_GETUPVAL) && DecodeA(cw) == 0 &&
                     DecodeC(cw) == 0 && !targets.count(pc + k) &&
                     (!linesPerInstruction || f.lineInfo[pc + k] == f.lineInfo[pc]);
            }
            if (seen && these != childCaptures[i])
                ok = false;
            childCaptures[i] = std::move(these);
            seen = true;
        }
        byName[i] = ok && (seen || ups == 0);
    }

    const uint32_t ups = f.upvalueCount;
    std::string head = ".function " + name;
    head += Printf(" line=%d params=%u vararg=%u maxstack=%u", f.lineDefined, f.paramCount,
                   f.varargFlag, f.maxStack);
    if (f.source)
        head += " source=" + Quote(*f.source);
    if (captures && f.upvalueNames.empty() && ups > 0)
        head += " upvalnames=0";
    if (!captures && f.upvalueNames.size() != ups)
        head += Printf(" upvals=%u", ups);
    Line(depth, head);

    const int inner = depth + 1;
    if (captures) {
        for (uint32_t k = 0; k < ups; k++) {
            uint32_t cw = (*captures)[k];
            std::string upName = f.upvalueNames.empty() ? "_" : Name(f.upvalueNames[k]);
            Line(inner, ".upval " + upName + (DecodeOp(cw) == OP_GETUPVAL ? " = u" : " = r") +
                            std::to_string(DecodeB(cw)));
        }
    } else {
        for (const auto& upName : f.upvalueNames)
            Line(inner, ".upval " + Name(upName));
    }
    for (size_t i = 0; i < f.constants.size(); i += 8) {
        std::string line = ".const";
        for (size_t k = i; k < f.constants.size() && k < i + 8; k++)
            line += " " + ConstantText(f.constants[k]);
        Line(inner, line);
    }
    for (const LocalVariable& v : f.locals)
        Line(inner, ".local " + Name(v.name) + Printf(" %d %d", v.startPc, v.endPc));
    for (uint32_t i = 0; i < f.functions.size(); i++)
        Function(f.functions[i], Printf("f%u", i), inner, byName[i] ? &childCaptures[i] : nullptr);
    if (!f.lineInfo.empty() && !linesPerInstruction) {
        std::string line = ".lineinfo";
        for (int32_t l : f.lineInfo)
            line += Printf(" %d", l);
        Line(inner, line);
    }

    int32_t currentLine = 0;
    for (uint32_t pc = 0; pc < n;) {
        if (targets.count(pc))
            Line(depth, Printf("L%u:", pc));
        if (linesPerInstruction && (pc == 0 || f.lineInfo[pc] != currentLine)) {
            currentLine = f.lineInfo[pc];
            Line(inner, Printf(".line %d", currentLine));
        }
        uint32_t w = code[pc];
        Line(inner, Instruction(f, pc, byName));
        bool named = DecodeOp(w) == OP_CLOSURE && DecodeBx(w) < byName.size() && byName[DecodeBx(w)] &&
                     !(w & ~UsedBits(kOpcodeTable[OP_CLOSURE]));
        pc += 1 + (named ? f.functions[DecodeBx(w)].upvalueCount : 0);
    }
    if (targets.count(n))
        Line(depth, Printf("L%u:", n));
    Line(depth, ".end");
}

void HeaderLine(const ChunkHeader& h, std::string* out)
{
    ChunkHeader d;
    std::string line;
    if (std::memcmp(h.signature, d.signature, 4) != 0)
        line += " signature=" + Quote(std::string(reinterpret_cast<const char*>(h.signature), 4));
    const std::pair<const char*, uint8_t> fields[] = {
        {"order", h.byteOrder},     {"intsize", h.intSize},
        {"sizesize", h.sizeSize},   {"instrsize", h.instructionSize},
        {"opbits", h.opcodeBits},   {"abits", h.aBits},
        {"bbits", h.bBits},         {"cbits", h.cBits},
        {"numsize", h.numberSize},
    };
    const uint8_t defaults[] = {d.byteOrder, d.intSize, d.sizeSize, d.instructionSize,
                                d.opcodeBits, d.aBits, d.bBits, d.cBits, d.numberSize};
    for (size_t i = 0; i < std::size(fields); i++)
        if (fields[i].second != defaults[i])
            line += Printf(" %s=%u", fields[i].first, fields[i].second);
    if (std::memcmp(&h.testNumber, &d.testNumber, 8) != 0)
        line += " testnum=" + NumberText(h.testNumber);
    if (!line.empty())
        *out += ".chunk" + line + "\n";
}

}  // namespace

DisassembleResult Disassemble(const uint8_t* data, size_t size)
{
    DisassembleResult r;
    ChunkHeader h;
    Prototype main;
    if (!ReadChunk(data, size, &h, &main, &r.message))
        return r;
    Printer p;
    HeaderLine(h, &p.out);
    p.Function(main, "main", 0, nullptr);
    r.text = p.out;
    r.ok = true;
    return r;
}

}  // namespace qmasm
