// The expression evaluator behind Eval: a tokenizer and a precedence-climbing
// parser that computes while it parses. Nothing is compiled or kept between
// calls; named variables come from the caller.
#pragma once

#include <cstddef>
#include <string_view>

#include "core/io/error_codes.h"

struct EvalVariable {
    std::string_view name;
    double value;
};

// Nesting of parentheses and unary operators beyond this depth gives
// ERR_COMPLEXEXPR instead of exhausting the machine stack.
constexpr int kMaxEvalDepth = 200;

// A variable name: 1 to 64 characters, a letter or "_" first, then letters,
// digits, "_", "$" and "!".
bool IsValidEvalName(std::string_view name);

// Evaluates expr; 0 with *result, or the code of the first failure
// (ERR_SYNTAXERROR, ERR_VALUEEXPECTED, ERR_ZERODIVISION, ERR_UNMPARENTHESES,
// ERR_WRONGOPCST, ERR_COMPLEXEXPR).
ErrorCode EvaluateExpression(std::string_view expr, const EvalVariable* variables, size_t count, double* result);
