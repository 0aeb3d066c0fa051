// The test assembler. Text is read line by line into a tree of functions;
// each function is encoded when its ".end" is reached, once its labels, its
// nested functions and their upvalue declarations are all known. Field
// widths are checked; what the fields mean is not, so that tests can write
// the malformed code the loader's checks must refuse.
#include "tools/qmasm/assembler.h"

#include "core/io/case_tables.h"
#include "tools/qmasm/chunk.h"
#include "tools/qmasm/opcodes.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <optional>

namespace qmasm {

namespace {

struct AsmError {
    int line;
    std::string message;
};

[[noreturn]] void Fail(int line, std::string message)
{
    throw AsmError{line, std::move(message)};
}

std::string Lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(ToLowerLatin1(static_cast<uint8_t>(c)));
    return out;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsIdentifier(std::string_view s)
{
    if (s.empty() || IsDigit(s[0]))
        return false;
    for (char c : s)
        if (!(IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
              c == '.' || c == '$'))
            return false;
    return true;
}

// ---------------------------------------------------------------- tokens

// Splits a line into tokens: blanks and commas separate, ';' outside a
// string ends the line, a quoted part stays inside its token. "a = b",
// "a= b" and "a =b" become the single token "a=b".
std::vector<std::string> Tokenize(std::string_view line, int lineNo)
{
    std::vector<std::string> raw;
    size_t i = 0;
    while (i < line.size()) {
        char c = line[i];
        if (c == ';')
            break;
        if (c == ' ' || c == '\t' || c == ',' || c == '\r') {
            i++;
            continue;
        }
        std::string tok;
        while (i < line.size()) {
            c = line[i];
            if (c == ' ' || c == '\t' || c == ',' || c == '\r' || c == ';')
                break;
            if (c == '"') {
                tok += c;
                i++;
                bool closed = false;
                while (i < line.size()) {
                    c = line[i++];
                    tok += c;
                    if (c == '\\' && i < line.size()) {
                        tok += line[i++];
                    } else if (c == '"') {
                        closed = true;
                        break;
                    }
                }
                if (!closed)
                    Fail(lineNo, "unterminated string");
                continue;
            }
            tok += c;
            i++;
        }
        raw.push_back(std::move(tok));
    }
    std::vector<std::string> out;
    for (size_t k = 0; k < raw.size(); k++) {
        std::string& t = raw[k];
        bool joinPrev = !out.empty() && t[0] == '=';
        if (joinPrev)
            out.back() += t;
        else
            out.push_back(t);
        std::string& cur = out.back();
        if (cur.back() == '=' && k + 1 < raw.size()) {
            cur += raw[++k];
        }
    }
    return out;
}

// Position of the first '=' outside a string, or npos.
size_t FindEquals(std::string_view tok)
{
    bool inString = false;
    for (size_t i = 0; i < tok.size(); i++) {
        if (tok[i] == '\\' && inString)
            i++;
        else if (tok[i] == '"')
            inString = !inString;
        else if (tok[i] == '=' && !inString)
            return i;
    }
    return std::string_view::npos;
}

int HexValue(char c)
{
    if (IsDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A double-quoted string with C escapes; \x takes at most two hex digits
// and octal escapes at most three digits, so "\x01" followed by a letter
// stays two characters.
std::string DecodeString(std::string_view tok, int line)
{
    if (tok.size() < 2 || tok.front() != '"' || tok.back() != '"')
        Fail(line, "expected a string in double quotes: " + std::string(tok));
    std::string out;
    for (size_t i = 1; i + 1 < tok.size(); i++) {
        char c = tok[i];
        if (c != '\\') {
            out += c;
            continue;
        }
        c = tok[++i];
        switch (c) {
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case 'a': out += '\a'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'v': out += '\v'; break;
        case '\\': out += '\\'; break;
        case '"': out += '"'; break;
        case '\'': out += '\''; break;
        case 'x': {
            int v = 0, n = 0;
            while (n < 2 && i + 2 < tok.size() && HexValue(tok[i + 1]) >= 0) {
                v = v * 16 + HexValue(tok[++i]);
                n++;
            }
            if (n == 0)
                Fail(line, "\\x without hexadecimal digits");
            out += static_cast<char>(v);
            break;
        }
        default:
            if (c >= '0' && c <= '7') {
                int v = c - '0', n = 1;
                while (n < 3 && i + 2 < tok.size() && tok[i + 1] >= '0' && tok[i + 1] <= '7') {
                    v = v * 8 + (tok[++i] - '0');
                    n++;
                }
                if (v > 255)
                    Fail(line, "octal escape above 255");
                out += static_cast<char>(v);
            } else {
                Fail(line, std::string("unknown escape \\") + c);
            }
        }
    }
    return out;
}

// Decimal or 0x-hexadecimal integer with an optional sign.
bool ParseInteger(std::string_view s, int64_t* value)
{
    bool neg = false;
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
        neg = s[0] == '-';
        s.remove_prefix(1);
    }
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty())
        return false;
    uint64_t v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
    if (ec != std::errc() || end != s.data() + s.size() || v > (1ull << 40))
        return false;
    *value = neg ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
    return true;
}

int64_t ExpectInteger(std::string_view s, int line, int64_t lo, int64_t hi, const char* what)
{
    int64_t v;
    if (!ParseInteger(s, &v))
        Fail(line, std::string("expected a number for ") + what + ": " + std::string(s));
    if (v < lo || v > hi)
        Fail(line, std::string(what) + " " + std::to_string(v) + " out of range " +
                       std::to_string(lo) + ".." + std::to_string(hi));
    return v;
}

// The number of a constant literal "#...": integers in decimal or
// hexadecimal, otherwise a decimal floating-point number, inf or nan.
double ParseNumberLiteral(std::string_view s, int line)
{
    int64_t iv;
    bool hex = s.find("0x") != std::string_view::npos || s.find("0X") != std::string_view::npos;
    if (hex) {
        if (!ParseInteger(s, &iv))
            Fail(line, "bad hexadecimal number #" + std::string(s));
        return static_cast<double>(iv);
    }
    std::string_view body = s;
    if (!body.empty() && body[0] == '+')
        body.remove_prefix(1);
    double d = 0;
    auto [end, ec] = std::from_chars(body.data(), body.data() + body.size(), d);
    if (body.empty() || end != body.data() + body.size() ||
        (ec != std::errc() && ec != std::errc::result_out_of_range))
        Fail(line, "bad number #" + std::string(s));
    return d;
}

// "rN", "kN", "uN": the prefix letter and the number; false for anything else.
bool ParsePrefixed(std::string_view s, char prefix, int64_t* n)
{
    if (s.size() < 2 || (s[0] | 0x20) != prefix)
        return false;
    for (size_t i = 1; i < s.size(); i++)
        if (!IsDigit(s[i]))
            return false;
    return ParseInteger(s.substr(1), n);
}

bool IsReservedWord(std::string_view s)
{
    int64_t n;
    return ParsePrefixed(s, 'r', &n) || ParsePrefixed(s, 'k', &n) || ParsePrefixed(s, 'u', &n) ||
           Lower(s) == "nil";
}

bool IsConstantLiteral(std::string_view s)
{
    return !s.empty() && (s[0] == '#' || s[0] == '"' || Lower(s) == "nil");
}

bool IsNameStart(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }

// "#NAME" names a constant of the player's tables; "#inf" and "#nan" stay
// numbers.
bool IsNamedConstant(std::string_view s)
{
    if (s.size() < 2 || s[0] != '#' || !IsNameStart(s[1]))
        return false;
    std::string lower = Lower(s.substr(1));
    return lower != "inf" && lower != "nan";
}

Constant ParseConstant(std::string_view s, int line, const ConstantResolver* names)
{
    Constant k;
    if (IsNamedConstant(s)) {
        std::string name(s.substr(1));
        if (!names || !*names)
            Fail(line, "constant names (" + std::string(s) + ") need the player's constant tables, "
                       "which only the qmasm command reads");
        if (!(*names)(name, &k))
            Fail(line, "unknown constant " + std::string(s) + " (docs/commands.md lists them)");
    } else if (s[0] == '#') {
        k.type = kConstNumber;
        k.number = ParseNumberLiteral(s.substr(1), line);
    } else if (s[0] == '"') {
        k.type = kConstString;
        k.text = DecodeString(s, line);
    } else if (Lower(s) == "nil") {
        k.type = kConstNil;
    } else {
        Fail(line, "expected a constant: " + std::string(s));
    }
    return k;
}

// A name given as an identifier or as a quoted string; "@none" writes no
// string at all.
std::optional<std::string> ParseName(std::string_view s, int line)
{
    if (s == "@none")
        return std::nullopt;
    if (!s.empty() && s[0] == '"')
        return DecodeString(s, line);
    return std::string(s);
}

// ---------------------------------------------------------------- functions

struct Item {
    enum Kind { Instruction, Word, ConstDecl } kind = Instruction;
    int line = 0;
    int opcode = 0;
    bool gosub = false;
    std::vector<std::string> operands;
    uint32_t word = 0;
    int32_t sourceLine = 0;  // for the line information
};

struct UpvalDecl {
    std::optional<std::string> name;
    bool hasSource = false;
    bool fromUpvalue = false;  // uN of the enclosing function, else its register rN
    uint32_t index = 0;
    int line = 0;
};

struct LocalDecl {
    std::optional<std::string> name;
    std::string from, to;
    int line = 0;
};

struct FunctionBuild {
    std::string name;
    int declLine = 0;
    FunctionBuild* parent = nullptr;
    Prototype proto;
    bool maxStackGiven = false;
    bool upvalsGiven = false;
    bool lineGiven = false;
    bool writeUpvalNames = true;
    bool hasLines = false;
    bool autoLines = false;
    int32_t currentLine = 0;
    std::optional<std::vector<int32_t>> lineInfoOverride;
    std::vector<Item> items;
    std::map<std::string, size_t> labels;  // name -> index of the item that follows
    std::vector<std::pair<std::string, size_t>> labelOrder;
    std::vector<std::pair<std::string, uint32_t>> resolvedLabels;  // after encoding
    std::vector<UpvalDecl> upvals;
    std::vector<LocalDecl> locals;
    std::vector<std::unique_ptr<FunctionBuild>> children;
    std::map<std::string, size_t> childIndex;
};

// What the player's bytecode check asks of the instruction after another:
// a test decides whether the JMP after it is taken, a CALL that keeps all
// its results leaves them to an instruction that takes them up to the top,
// and LOADNUM with C set skips an instruction that must not be the last.
void CheckPairs(const std::vector<uint32_t>& code, const std::vector<int>& textLines)
{
    for (size_t pc = 0; pc < code.size(); pc++) {
        uint32_t op = DecodeOp(code[pc]);
        if (op >= kOpcodeCount)
            continue;
        const char* name = kOpcodeTable[op].name;
        bool hasNext = pc + 1 < code.size();
        uint32_t next = hasNext ? code[pc + 1] : 0;
        uint32_t nextOp = DecodeOp(next);
        switch (op) {
        case OP_EQ:
        case OP_LT:
        case OP_LE:
        case OP_TEST:
        case OP_TFORLOOP:
            if (!hasNext || nextOp != OP_JMP)
                Fail(textLines[pc], std::string(name) + " must be followed by a JMP, which " +
                                        (op == OP_TFORLOOP ? "it takes while the loop goes on"
                                                           : "the test takes or skips"));
            break;
        case OP_CALL:
        case OP_TAILCALL:
            if (DecodeC(code[pc]) == 0 &&
                !(hasNext && (((nextOp == OP_CALL || nextOp == OP_TAILCALL || nextOp == OP_RETURN) &&
                               DecodeB(next) == 0) ||
                              nextOp == OP_SETLISTO)))
                Fail(textLines[pc], std::string(name) +
                                        " with C = 0 keeps all results up to a new top: the next "
                                        "instruction must take them (CALL, TAILCALL or RETURN with "
                                        "B = 0, or SETLISTO)");
            break;
        case OP_LOADNUM:
            if (DecodeC(code[pc]) != 0 && pc + 2 >= code.size())
                Fail(textLines[pc], "LOADNUM with C set skips the next instruction, which must "
                                    "not be the last");
            break;
        default:
            break;
        }
    }
}

class Assembler {
public:
    explicit Assembler(const AssembleOptions& options) : options_(options) {}
    AssembleResult Run(std::string_view text);

private:
    void Line(std::string_view text, int line);
    void Directive(const std::vector<std::string>& toks, int line);
    void ChunkOption(const std::string& tok, int line);
    void BeginFunction(const std::vector<std::string>& toks, int line);
    void AddItem(Item item, int line);
    void InstructionItem(const std::vector<std::string>& toks, size_t first, int line);
    void Finish(FunctionBuild& f);
    uint32_t EncodeOperand(FunctionBuild& f, Operand kind, const std::string& tok, uint32_t max,
                           const Item& item, uint32_t pc, uint32_t* regsNeeded);
    uint32_t PoolConstant(FunctionBuild& f, const Constant& k, int line);
    Constant ConstantOf(std::string_view tok, int line) const
    {
        return ParseConstant(tok, line, &options_.constants);
    }

    AssembleOptions options_;
    ChunkHeader header_;
    bool autoLinesForAll_ = false;
    std::unique_ptr<FunctionBuild> root_;
    FunctionBuild* current_ = nullptr;
    // Word index of every item of the function being encoded, plus its end.
    std::vector<uint32_t> wordIndex_;
};

AssembleResult Assembler::Run(std::string_view text)
{
    AssembleResult result;
    root_ = std::make_unique<FunctionBuild>();
    root_->name = "main";
    root_->declLine = 1;
    current_ = root_.get();
    autoLinesForAll_ = options_.autoLines;
    int lineNo = 0;
    try {
        size_t pos = 0;
        while (pos < text.size()) {
            size_t nl = text.find('\n', pos);
            if (nl == std::string_view::npos)
                nl = text.size();
            lineNo++;
            Line(text.substr(pos, nl - pos), lineNo);
            pos = nl + 1;
        }
        if (current_ != root_.get())
            Fail(current_->declLine, "function " + current_->name + " has no .end");
        FunctionBuild* main = root_.get();
        // A text that is one ".function ... .end" block names its main
        // function explicitly; anything else at the top level makes the
        // whole text the main function.
        if (root_->items.empty() && root_->labels.empty() && root_->locals.empty() &&
            root_->upvals.empty() && !root_->hasLines && !root_->lineInfoOverride &&
            root_->children.size() == 1) {
            main = root_->children[0].get();
            if (!main->lineGiven)
                main->proto.lineDefined = 0;
        }
        else
            Finish(*root_);
        if (!main->proto.source && options_.mainSource)
            main->proto.source = options_.mainSource;
        result.mainLabels = main->resolvedLabels;
        result.bytes = WriteChunk(header_, main->proto);
        result.ok = true;
    } catch (const AsmError& e) {
        result.errorLine = e.line;
        result.message = e.message;
    }
    result.lineCount = lineNo;
    return result;
}

void Assembler::Line(std::string_view text, int line)
{
    std::vector<std::string> toks = Tokenize(text, line);
    if (toks.empty())
        return;
    size_t first = 0;
    const std::string& t0 = toks[0];
    if (t0.size() > 1 && t0.back() == ':' && t0[0] != '"') {
        std::string name = t0.substr(0, t0.size() - 1);
        if (!IsIdentifier(name) || IsReservedWord(name) || name[0] == '.')
            Fail(line, "bad label name: " + name);
        if (current_->labels.count(name))
            Fail(line, "label " + name + " defined twice");
        current_->labels[name] = current_->items.size();
        current_->labelOrder.emplace_back(name, current_->items.size());
        first = 1;
        if (toks.size() == 1)
            return;
    }
    if (toks[first][0] == '.') {
        if (first != 0)
            Fail(line, "a label cannot stand before a directive");
        Directive(toks, line);
    } else {
        InstructionItem(toks, first, line);
    }
}

void Assembler::Directive(const std::vector<std::string>& toks, int line)
{
    std::string d = Lower(toks[0]);
    FunctionBuild& f = *current_;
    if (d == ".chunk") {
        for (size_t i = 1; i < toks.size(); i++)
            ChunkOption(toks[i], line);
    } else if (d == ".function") {
        BeginFunction(toks, line);
    } else if (d == ".end") {
        if (toks.size() != 1)
            Fail(line, ".end takes nothing");
        if (current_ == root_.get())
            Fail(line, ".end without .function");
        Finish(f);
        current_ = f.parent;
    } else if (d == ".upval") {
        if (toks.size() != 2)
            Fail(line, "expected .upval NAME [= rN|uN]");
        UpvalDecl u;
        u.line = line;
        size_t eq = FindEquals(toks[1]);
        u.name = ParseName(toks[1].substr(0, eq), line);
        if (eq != std::string::npos) {
            std::string src = toks[1].substr(eq + 1);
            int64_t n;
            if (ParsePrefixed(src, 'r', &n))
                u.fromUpvalue = false;
            else if (ParsePrefixed(src, 'u', &n))
                u.fromUpvalue = true;
            else
                Fail(line, "an upvalue comes from a register rN or an upvalue uN: " + src);
            if (n > kMaxB)
                Fail(line, "upvalue source " + src + " does not fit a 9-bit field");
            u.hasSource = true;
            u.index = static_cast<uint32_t>(n);
        }
        f.upvals.push_back(std::move(u));
    } else if (d == ".line") {
        if (toks.size() != 2)
            Fail(line, "expected .line N or .line auto");
        f.hasLines = true;
        if (Lower(toks[1]) == "auto") {
            f.autoLines = true;
        } else {
            f.autoLines = false;
            f.currentLine = static_cast<int32_t>(
                ExpectInteger(toks[1], line, INT32_MIN, INT32_MAX, "line"));
        }
    } else if (d == ".lineinfo") {
        std::vector<int32_t> lines;
        for (size_t i = 1; i < toks.size(); i++)
            lines.push_back(
                static_cast<int32_t>(ExpectInteger(toks[i], line, INT32_MIN, INT32_MAX, "line")));
        f.lineInfoOverride = std::move(lines);
    } else if (d == ".local") {
        if (toks.size() != 4)
            Fail(line, "expected .local NAME FROM TO");
        f.locals.push_back({ParseName(toks[1], line), toks[2], toks[3], line});
    } else if (d == ".const") {
        if (toks.size() < 2)
            Fail(line, ".const needs at least one value");
        Item item;
        item.kind = Item::ConstDecl;
        item.operands.assign(toks.begin() + 1, toks.end());
        for (const std::string& t : item.operands)
            if (Lower(t.substr(0, 5)) != "type=")
                ConstantOf(t, line);  // reports a bad literal at its line now
        AddItem(std::move(item), line);
    } else {
        Fail(line, "unknown directive " + toks[0]);
    }
}

void Assembler::ChunkOption(const std::string& tok, int line)
{
    size_t eq = FindEquals(tok);
    std::string key = Lower(tok.substr(0, eq));
    std::string value = eq == std::string::npos ? "" : tok.substr(eq + 1);
    auto byteValue = [&] {
        return static_cast<uint8_t>(ExpectInteger(value, line, 0, 255, key.c_str()));
    };
    struct ByteField {
        const char* key;
        uint8_t ChunkHeader::*field;
    };
    static const ByteField kFields[] = {
        {"order", &ChunkHeader::byteOrder},         {"intsize", &ChunkHeader::intSize},
        {"sizesize", &ChunkHeader::sizeSize},       {"instrsize", &ChunkHeader::instructionSize},
        {"opbits", &ChunkHeader::opcodeBits},       {"abits", &ChunkHeader::aBits},
        {"bbits", &ChunkHeader::bBits},             {"cbits", &ChunkHeader::cBits},
        {"numsize", &ChunkHeader::numberSize},
    };
    if (key == "bigendian" && eq == std::string::npos) {
        header_.byteOrder = 0;
        return;
    }
    if (key == "littleendian" && eq == std::string::npos) {
        header_.byteOrder = 1;
        return;
    }
    if (eq == std::string::npos)
        Fail(line, "unknown chunk option " + tok);
    for (const ByteField& bf : kFields) {
        if (key == bf.key) {
            header_.*bf.field = byteValue();
            return;
        }
    }
    if (key == "signature") {
        std::string sig = DecodeString(value, line);
        if (sig.size() != 4)
            Fail(line, "the signature has 4 bytes");
        std::memcpy(header_.signature, sig.data(), 4);
    } else if (key == "testnum") {
        header_.testNumber = ParseNumberLiteral(value[0] == '#' ? value.substr(1) : value, line);
    } else if (key == "lines" && Lower(value) == "auto") {
        autoLinesForAll_ = true;
    } else {
        Fail(line, "unknown chunk option " + tok);
    }
}

void Assembler::BeginFunction(const std::vector<std::string>& toks, int line)
{
    if (toks.size() < 2 || FindEquals(toks[1]) != std::string::npos)
        Fail(line, "expected .function NAME [attributes]");
    const std::string& name = toks[1];
    if (!IsIdentifier(name) || IsReservedWord(name))
        Fail(line, "bad function name: " + name);
    FunctionBuild& parent = *current_;
    if (parent.childIndex.count(name))
        Fail(line, "function " + name + " defined twice here");
    auto f = std::make_unique<FunctionBuild>();
    f->name = name;
    f->declLine = line;
    f->parent = &parent;
    for (size_t i = 2; i < toks.size(); i++) {
        size_t eq = FindEquals(toks[i]);
        if (eq == std::string::npos)
            Fail(line, "expected KEY=VALUE: " + toks[i]);
        std::string key = Lower(toks[i].substr(0, eq));
        std::string value = toks[i].substr(eq + 1);
        Prototype& p = f->proto;
        if (key == "line") {
            p.lineDefined = static_cast<int32_t>(ExpectInteger(value, line, INT32_MIN, INT32_MAX, "line"));
            f->lineGiven = true;
        }
        else if (key == "params")
            p.paramCount = static_cast<uint8_t>(ExpectInteger(value, line, 0, 255, "params"));
        else if (key == "vararg")
            p.varargFlag = static_cast<uint8_t>(ExpectInteger(value, line, 0, 255, "vararg"));
        else if (key == "maxstack") {
            p.maxStack = static_cast<uint8_t>(ExpectInteger(value, line, 0, 255, "maxstack"));
            f->maxStackGiven = true;
        } else if (key == "upvals") {
            p.upvalueCount = static_cast<uint8_t>(ExpectInteger(value, line, 0, 255, "upvals"));
            f->upvalsGiven = true;
        } else if (key == "upvalnames")
            f->writeUpvalNames = ExpectInteger(value, line, 0, 1, "upvalnames") != 0;
        else if (key == "source")
            p.source = ParseName(value, line);
        else
            Fail(line, "unknown function attribute " + key);
    }
    // The VM takes a function defined at line 0 for a main function, whose
    // frames errors do not name.
    if (options_.autoLines && !f->lineGiven)
        f->proto.lineDefined = line;
    parent.childIndex[name] = parent.children.size();
    parent.children.push_back(std::move(f));
    current_ = parent.children.back().get();
}

void Assembler::AddItem(Item item, int line)
{
    FunctionBuild& f = *current_;
    item.line = line;
    bool autoLines = f.autoLines || (autoLinesForAll_ && !f.hasLines);
    item.sourceLine = autoLines ? line : f.currentLine;
    f.items.push_back(std::move(item));
}

void Assembler::InstructionItem(const std::vector<std::string>& toks, size_t first, int line)
{
    std::string m = Lower(toks[first]);
    std::vector<std::string> ops(toks.begin() + first + 1, toks.end());
    Item item;
    auto expectCount = [&](size_t lo, size_t hi) {
        if (ops.size() < lo || ops.size() > hi)
            Fail(line, toks[first] + " takes " + std::to_string(lo) +
                           (hi != lo ? " to " + std::to_string(hi) : std::string()) + " operand" +
                           (hi == 1 ? "" : "s"));
    };
    if (m == "word") {
        expectCount(1, 1);
        item.kind = Item::Word;
        item.word = static_cast<uint32_t>(ExpectInteger(ops[0], line, 0, 0xFFFFFFFFll, "WORD"));
    } else if (m == "raw") {
        expectCount(4, 4);
        item.kind = Item::Word;
        item.word = EncodeABC(static_cast<uint32_t>(ExpectInteger(ops[0], line, 0, kMaxOp, "opcode")),
                              static_cast<uint32_t>(ExpectInteger(ops[1], line, 0, kMaxA, "A")),
                              static_cast<uint32_t>(ExpectInteger(ops[2], line, 0, kMaxB, "B")),
                              static_cast<uint32_t>(ExpectInteger(ops[3], line, 0, kMaxC, "C")));
    } else if (m == "retsub") {
        expectCount(0, 0);
        item.kind = Item::Word;
        item.word = EncodeABC(OP_RETURN, 0, 0, 1);
    } else if (m == "gosub") {
        expectCount(1, 1);
        item.opcode = OP_JMP;
        item.gosub = true;
    } else {
        int op = FindOpcode(m);
        if (op < 0)
            Fail(line, "unknown instruction " + toks[first]);
        const OpcodeInfo& info = kOpcodeTable[op];
        size_t n = (info.a != Operand::None) + (info.b != Operand::None) + (info.c != Operand::None);
        expectCount(info.lastOptional ? n - 1 : n, n);
        item.opcode = op;
    }
    item.operands = std::move(ops);
    AddItem(std::move(item), line);
}

uint32_t Assembler::PoolConstant(FunctionBuild& f, const Constant& k, int line)
{
    auto& pool = f.proto.constants;
    for (size_t i = 0; i < pool.size(); i++)
        if (SameConstant(pool[i], k))
            return static_cast<uint32_t>(i);
    if (pool.size() > kMaxBx)
        Fail(line, "too many constants");
    pool.push_back(k);
    return static_cast<uint32_t>(pool.size() - 1);
}

uint32_t Assembler::EncodeOperand(FunctionBuild& f, Operand kind, const std::string& tok,
                                  uint32_t max, const Item& item, uint32_t pc,
                                  uint32_t* regsNeeded)
{
    int line = item.line;
    int64_t n;
    auto fits = [&](int64_t v, const char* what) {
        if (v < 0 || v > static_cast<int64_t>(max))
            Fail(line, std::string(what) + " " + tok + " does not fit its " +
                           std::to_string(std::bit_width(max)) + "-bit field");
        return static_cast<uint32_t>(v);
    };
    auto useRegister = [&](int64_t r) {
        *regsNeeded = std::max(*regsNeeded, static_cast<uint32_t>(r + 1));
    };
    switch (kind) {
    case Operand::Reg:
        if (!ParsePrefixed(tok, 'r', &n))
            Fail(line, "expected a register rN: " + tok);
        useRegister(n);
        return fits(n, "register");
    case Operand::RK:
        if (ParsePrefixed(tok, 'r', &n)) {
            if (n >= kRkConstBase)
                Fail(line, "register " + tok + " cannot be an RK operand (values from 250 name constants)");
            useRegister(n);
            return static_cast<uint32_t>(n);
        }
        if (ParsePrefixed(tok, 'k', &n)) {
            if (n > kMaxRkConst)
                Fail(line, "constant " + tok + " out of RK range (k0..k261)");
            return kRkConstBase + static_cast<uint32_t>(n);
        }
        if (IsConstantLiteral(tok)) {
            uint32_t index = PoolConstant(f, ConstantOf(tok, line), line);
            if (index > kMaxRkConst)
                Fail(line, "constant " + tok + " has index " + std::to_string(index) +
                               ", beyond the reach of an RK operand");
            return kRkConstBase + index;
        }
        if (ParseInteger(tok, &n))
            Fail(line, "a plain number is no operand here: write r" + tok + " for register " + tok +
                           ", #" + tok + " for the number " + tok + " or k" + tok + " for constant " +
                           tok + " of the pool");
        Fail(line, "expected a register rN or a constant (#number, #NAME, \"string\", nil, kN): " + tok);
    case Operand::Num:
    case Operand::Count:
        if (!ParseInteger(tok, &n))
            Fail(line, "expected a number: " + tok);
        return fits(n, "value");
    case Operand::Upval:
        if (ParsePrefixed(tok, 'u', &n) || ParseInteger(tok, &n))
            return fits(n, "upvalue");
        for (size_t i = 0; i < f.upvals.size(); i++)
            if (f.upvals[i].name && *f.upvals[i].name == tok)
                return fits(static_cast<int64_t>(i), "upvalue");
        Fail(line, "unknown upvalue " + tok);
    case Operand::Const:
        if (ParsePrefixed(tok, 'k', &n))
            return fits(n, "constant");
        if (IsConstantLiteral(tok))
            return fits(PoolConstant(f, ConstantOf(tok, line), line), "constant");
        if (ParseInteger(tok, &n))
            Fail(line, "a plain number is no constant: write #" + tok + " for the number " + tok +
                           " or k" + tok + " for constant " + tok + " of the pool");
        Fail(line, "expected a constant (#number, #NAME, \"string\", nil, kN): " + tok);
    case Operand::Func: {
        if (ParseInteger(tok, &n))
            return fits(n, "function index");
        auto it = f.childIndex.find(tok);
        if (it == f.childIndex.end())
            Fail(line, "no nested function " + tok + " in " + f.name);
        return static_cast<uint32_t>(it->second);
    }
    case Operand::Target: {
        int64_t offset;
        if (!ParseInteger(tok, &offset)) {
            auto it = f.labels.find(tok);
            if (it == f.labels.end())
                Fail(line, "unknown label " + tok);
            offset = static_cast<int64_t>(wordIndex_[it->second]) - (static_cast<int64_t>(pc) + 1);
        }
        int64_t bias = max == kMaxBx ? kBxBias : kJumpBias;
        int64_t field = offset + bias;
        if (field < 0 || field > static_cast<int64_t>(max))
            Fail(line, "jump to " + tok + " (offset " + std::to_string(offset) +
                           ") out of range " + std::to_string(-bias) + ".." +
                           std::to_string(static_cast<int64_t>(max) - bias));
        return static_cast<uint32_t>(field);
    }
    case Operand::None:
        break;
    }
    return 0;
}

void Assembler::Finish(FunctionBuild& f)
{
    Prototype& p = f.proto;
    if (options_.finalReturn) {
        bool returns = false;
        for (auto it = f.items.rbegin(); it != f.items.rend() && !returns; ++it) {
            if (it->kind == Item::ConstDecl)
                continue;
            returns = it->kind == Item::Instruction && it->opcode == OP_RETURN;
            break;
        }
        if (!returns) {
            Item ret;
            ret.opcode = OP_RETURN;
            ret.operands = {"r0", "1"};
            ret.line = f.items.empty() ? f.declLine : f.items.back().line;
            ret.sourceLine = f.items.empty() ? f.declLine : f.items.back().sourceLine;
            f.items.push_back(std::move(ret));
        }
    }
    // Words per item: a CLOSURE of a named function is followed by one
    // capture instruction per upvalue of that function.
    wordIndex_.assign(f.items.size() + 1, 0);
    for (size_t i = 0; i < f.items.size(); i++) {
        const Item& it = f.items[i];
        uint32_t words = it.kind == Item::ConstDecl ? 0 : 1;
        int64_t dummy;
        if (it.kind == Item::Instruction && it.opcode == OP_CLOSURE &&
            !ParseInteger(it.operands[1], &dummy)) {
            auto c = f.childIndex.find(it.operands[1]);
            if (c == f.childIndex.end())
                Fail(it.line, "no nested function " + it.operands[1] + " in " + f.name);
            words += static_cast<uint32_t>(f.children[c->second]->upvals.size());
        }
        wordIndex_[i + 1] = wordIndex_[i] + words;
    }

    uint32_t regs = 0;
    std::vector<int32_t> lines;
    std::vector<int> textLines;  // the text line of every word
    for (const Item& it : f.items) {
        if (it.kind == Item::ConstDecl) {
            for (const std::string& t : it.operands) {
                Constant k;
                if (Lower(t.substr(0, 5)) == "type=")
                    k.type = static_cast<uint8_t>(ExpectInteger(t.substr(5), it.line, 0, 255, "type"));
                else
                    k = ConstantOf(t, it.line);
                if (p.constants.size() > kMaxBx)
                    Fail(it.line, "too many constants");
                p.constants.push_back(k);
            }
            continue;
        }
        uint32_t pc = static_cast<uint32_t>(p.code.size());
        if (it.kind == Item::Word) {
            p.code.push_back(it.word);
            lines.push_back(it.sourceLine);
            textLines.push_back(it.line);
            continue;
        }
        const OpcodeInfo& info = kOpcodeTable[it.opcode];
        uint32_t word = 0;
        uint32_t v[3] = {0, 0, 0};
        if (info.format == Format::Jump) {
            v[0] = EncodeOperand(f, Operand::Target, it.operands[0], kMaxJumpField, it, pc, &regs);
            uint32_t mode = it.gosub ? kGosubMode : 0;
            if (it.operands.size() > 1)
                mode = EncodeOperand(f, Operand::Num, it.operands[1], 3, it, pc, &regs);
            word = EncodeJump(v[0], mode);
        } else if (info.format == Format::ABC) {
            const Operand kinds[3] = {info.a, info.b, info.c};
            const uint32_t maxes[3] = {kMaxA, kMaxB, kMaxC};
            size_t next = 0;
            for (int field = 0; field < 3; field++) {
                if (kinds[field] == Operand::None || next >= it.operands.size())
                    continue;
                v[field] = EncodeOperand(f, kinds[field], it.operands[next++], maxes[field], it, pc, &regs);
            }
            word = EncodeABC(it.opcode, v[0], v[1], v[2]);
        } else {
            v[0] = EncodeOperand(f, info.a, it.operands[0], kMaxA, it, pc, &regs);
            v[1] = EncodeOperand(f, info.b, it.operands[1], kMaxBx, it, pc, &regs);
            word = EncodeABx(it.opcode, v[0], v[1]);
        }
        // Registers that an instruction reaches beyond its named operands.
        uint32_t a = v[0], b = v[1], c = v[2];
        auto reach = [&](uint32_t count) { regs = std::max(regs, count); };
        switch (it.opcode) {
        case OP_CALL:
        case OP_TAILCALL:
            if (b > 0)
                reach(a + b);
            if (c > 1)
                reach(a + c - 1);
            break;
        case OP_RETURN:
            if (c != 1 && b > 1)
                reach(a + b - 1);
            break;
        case OP_FORLOOP: reach(a + 3); break;
        case OP_TFORPREP: reach(a + 2); break;
        case OP_TFORLOOP: reach(a + c + 6); break;
        case OP_SETLIST: reach(a + (b & 31) + 2); break;
        case OP_SETLISTO: reach(a + 2); break;
        case OP_SELF: reach(a + 2); break;
        default: break;
        }
        p.code.push_back(word);
        lines.push_back(it.sourceLine);
        textLines.push_back(it.line);
        if (regs > 255 && !f.maxStackGiven)
            Fail(it.line, "function " + f.name + " needs " + std::to_string(regs) +
                              " registers, more than a byte holds");
        if (it.opcode == OP_CLOSURE && wordIndex_[&it - f.items.data() + 1] > pc + 1) {
            const FunctionBuild& child = *f.children[v[1]];
            for (const UpvalDecl& u : child.upvals) {
                if (!u.hasSource)
                    Fail(it.line, "upvalue " + u.name.value_or("?") + " of " + child.name +
                                      " has no source (.upval NAME = rN|uN)");
                if (!u.fromUpvalue)
                    reach(u.index + 1);
                p.code.push_back(EncodeABC(u.fromUpvalue ? OP_GETUPVAL : OP_MOVE, 0, u.index, 0));
                lines.push_back(it.sourceLine);
                textLines.push_back(it.line);
            }
        }
    }

    if (options_.checkPairs)
        CheckPairs(p.code, textLines);

    if (f.lineInfoOverride)
        p.lineInfo = *f.lineInfoOverride;
    else if (f.hasLines || autoLinesForAll_)
        p.lineInfo = std::move(lines);

    for (const LocalDecl& l : f.locals) {
        auto pcOf = [&](const std::string& t) {
            int64_t n;
            if (ParseInteger(t, &n)) {
                if (n < INT32_MIN || n > INT32_MAX)
                    Fail(l.line, "instruction index out of range: " + t);
                return static_cast<int32_t>(n);
            }
            auto it = f.labels.find(t);
            if (it == f.labels.end())
                Fail(l.line, "unknown label " + t);
            return static_cast<int32_t>(wordIndex_[it->second]);
        };
        p.locals.push_back({l.name, pcOf(l.from), pcOf(l.to)});
    }

    if (!f.upvalsGiven) {
        if (f.upvals.size() > 255)
            Fail(f.declLine, "more than 255 upvalues");
        p.upvalueCount = static_cast<uint8_t>(f.upvals.size());
    }
    if (f.writeUpvalNames)
        for (const UpvalDecl& u : f.upvals)
            p.upvalueNames.push_back(u.name);

    if (!f.maxStackGiven) {
        regs = std::max({regs, static_cast<uint32_t>(p.paramCount + (p.varargFlag ? 1 : 0)), 2u});
        if (regs > 255)
            Fail(f.declLine, "function " + f.name + " needs " + std::to_string(regs) +
                                 " registers, more than a byte holds");
        p.maxStack = static_cast<uint8_t>(regs);
    }

    for (const auto& [name, item] : f.labelOrder)
        f.resolvedLabels.emplace_back(name, wordIndex_[item]);
    for (auto& child : f.children)
        p.functions.push_back(std::move(child->proto));
}

}  // namespace

AssembleResult Assemble(std::string_view text, const AssembleOptions& options)
{
    Assembler assembler(options);
    return assembler.Run(text);
}

}  // namespace qmasm
