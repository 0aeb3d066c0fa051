// Expression evaluator. Operators bind by a left and a right strength; a
// right strength below the left one makes an operator right-associative, as
// "^" is. The text is read with explicit length: a zero byte inside it is an
// ordinary (unexpected) character, not the end.
#include "libs/string/eval.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "core/io/number_conv.h"
#include "libs/string/byte_search.h"

namespace {

constexpr int kTokenEnd = -1;
constexpr int kTokenNumber = 0x109;
constexpr int kNoOperator = 21;
constexpr int kUnaryStrength = 12;

// Multi-character operators in the order they are tried; their tokens are
// 0x100 + index.
const char* const EvalOperatorWords[] = {"<<", ">>", "..", "<>", "<=", ">=", "and", "or", "not"};
constexpr int kTokenNot = 0x108;

struct Strength {
    int left, right;
};
constexpr Strength EvalPrecedence[] = {
    {10, 10}, {10, 10}, {11, 11}, {11, 11}, {11, 11}, {11, 11}, {9, 9},   {9, 9},   {6, 6},  {8, 8}, {7, 7},
    {14, 13}, {5, 4},   {3, 3},   {3, 3},   {3, 3},   {3, 3},   {3, 3},   {3, 3},   {2, 2},  {1, 1},
};

struct EvalTokenState {
    std::string_view text;
    size_t pos;
    int token;
    double number;
    const EvalVariable* variables;
    size_t count;
    int depth;
};

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

// Whether word stands at the read position as a whole word.
bool WordAt(const EvalTokenState* ts, std::string_view word)
{
    size_t left = ts->text.size() - ts->pos;
    if (word.empty() || left < word.size() || !CompareBytesNoCase(ts->text.data() + ts->pos, word.data(), word.size()))
        return false;
    if (left == word.size())
        return true;
    char after = ts->text[ts->pos + word.size()];
    return !IsAsciiLetter(after) && !IsAsciiDigit(after);
}

ErrorCode ReadEvalToken(EvalTokenState* ts)
{
    while (ts->pos < ts->text.size() && (ts->text[ts->pos] == ' ' || ts->text[ts->pos] == '\t'))
        ++ts->pos;
    if (ts->pos >= ts->text.size()) {
        ts->token = kTokenEnd;
        return ERR_NONE;
    }
    char c = ts->text[ts->pos];
    if (IsAsciiDigit(c) || c == '$') {
        size_t used;
        ErrorCode err;
        ts->number = StringToNumber(ts->text.data() + ts->pos, ts->text.size() - ts->pos, &used, &err);
        if (err)
            return err;
        ts->pos += used;
        ts->token = kTokenNumber;
        return ERR_NONE;
    }
    for (int i = 0; i < 9; ++i) {
        std::string_view w = EvalOperatorWords[i];
        if (WordAt(ts, w)) {
            ts->pos += w.size();
            ts->token = 0x100 + i;
            return ERR_NONE;
        }
    }
    for (size_t i = 0; i < ts->count; ++i) {
        if (WordAt(ts, ts->variables[i].name)) {
            ts->pos += ts->variables[i].name.size();
            ts->number = ts->variables[i].value;
            ts->token = kTokenNumber;
            return ERR_NONE;
        }
    }
    ts->token = static_cast<uint8_t>(c);
    ++ts->pos;
    return ERR_NONE;
}

int GetEvalOperator(int token)
{
    switch (token) {
    case '+': return 0;
    case '-': return 1;
    case '*': return 2;
    case '/': return 3;
    case '\\': return 4;
    case '%': return 5;
    case 0x100: return 6;
    case 0x101: return 7;
    case '|': return 8;
    case '&': return 9;
    case '~': return 10;
    case '^': return 11;
    case 0x102: return 12;
    case 0x103: return 13;
    case '=': return 14;
    case '<': return 15;
    case 0x104: return 16;
    case '>': return 17;
    case 0x105: return 18;
    case 0x106: return 19;
    case 0x107: return 20;
    default: return kNoOperator;
    }
}

int64_t Int32Of(double x) { return static_cast<int32_t>(DoubleToLow32(x)); }

ErrorCode Combine(int op, double a, double b, double* out)
{
    switch (op) {
    case 0: *out = a + b; break;
    case 1: *out = a - b; break;
    case 2: *out = a * b; break;
    case 3:
        if (b == 0)
            return ERR_ZERODIVISION;
        *out = a / b;
        break;
    case 4:
    case 5: {
        // 64-bit arithmetic keeps -2^31 divided by -1 defined.
        int64_t x = Int32Of(a), y = Int32Of(b);
        if (y == 0)
            return ERR_ZERODIVISION;
        *out = static_cast<double>(op == 4 ? x / y : x % y);
        break;
    }
    case 6: *out = static_cast<uint32_t>(DoubleToLow32(a) << (DoubleToLow32(b) & 31)); break;
    case 7: *out = DoubleToLow32(a) >> (DoubleToLow32(b) & 31); break;
    case 8: *out = DoubleToLow32(a) | DoubleToLow32(b); break;
    case 9: *out = DoubleToLow32(a) & DoubleToLow32(b); break;
    case 10: *out = DoubleToLow32(a) ^ DoubleToLow32(b); break;
    case 11: *out = std::pow(a, b); break;
    case 12: return ERR_WRONGOPCST;
    case 13: *out = a != b; break;
    case 14: *out = a == b; break;
    case 15: *out = a < b; break;
    case 16: *out = a <= b; break;
    case 17: *out = a > b; break;
    case 18: *out = a >= b; break;
    case 19: *out = a != 0 ? b : 0; break;
    case 20: *out = a != 0 ? a : b; break;
    }
    return ERR_NONE;
}

struct EvalDepth {
    EvalTokenState* ts;
    explicit EvalDepth(EvalTokenState* t) : ts(t) { ++ts->depth; }
    ~EvalDepth() { --ts->depth; }
};

ErrorCode EvalSubExpression(EvalTokenState* ts, int limit, double* value, int* stoppedAt)
{
    EvalDepth guard(ts);
    if (ts->depth > kMaxEvalDepth)
        return ERR_COMPLEXEXPR;
    ErrorCode err;
    double v;
    int op;
    const int token = ts->token;
    if (token == '-' || token == '~' || token == kTokenNot) {
        if ((err = ReadEvalToken(ts)) || (err = EvalSubExpression(ts, kUnaryStrength, &v, &op)))
            return err;
        if (token == '-')
            v = -v;
        else if (token == '~')
            v = static_cast<uint32_t>(~DoubleToLow32(v));
        else
            v = v == 0 ? 1 : 0;
    } else if (token == '(') {
        if ((err = ReadEvalToken(ts)) || (err = EvalSubExpression(ts, -1, &v, &op)))
            return err;
        if (ts->token != ')')
            return ERR_UNMPARENTHESES;
        if ((err = ReadEvalToken(ts)))
            return err;
    } else if (token == kTokenNumber) {
        v = ts->number;
        if ((err = ReadEvalToken(ts)))
            return err;
    } else {
        return ERR_VALUEEXPECTED;
    }
    op = GetEvalOperator(ts->token);
    while (op != kNoOperator && EvalPrecedence[op].left > limit) {
        double rhs;
        int next;
        if ((err = ReadEvalToken(ts)) || (err = EvalSubExpression(ts, EvalPrecedence[op].right, &rhs, &next)))
            return err;
        if ((err = Combine(op, v, rhs, &v)))
            return err;
        op = next;
    }
    *value = v;
    *stoppedAt = op;
    return ERR_NONE;
}

} // namespace

bool IsValidEvalName(std::string_view name)
{
    if (name.empty() || name.size() > 64 || !(IsAsciiLetter(name[0]) || name[0] == '_'))
        return false;
    for (char c : name)
        if (!IsAsciiLetter(c) && !IsAsciiDigit(c) && c != '_' && c != '$' && c != '!')
            return false;
    return true;
}

ErrorCode EvaluateExpression(std::string_view expr, const EvalVariable* variables, size_t count, double* result)
{
    EvalTokenState ts{expr, 0, kTokenEnd, 0, variables, count, 0};
    ErrorCode err;
    double v;
    int op;
    if ((err = ReadEvalToken(&ts)) || (err = EvalSubExpression(&ts, -1, &v, &op)))
        return err;
    if (ts.token != kTokenEnd)
        return ERR_SYNTAXERROR;
    *result = v;
    return ERR_NONE;
}
