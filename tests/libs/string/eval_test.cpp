// The expression evaluator: hand-checked values, every failure code, and
// the nesting limit.
#include "libs/string/eval.h"

#include <gtest/gtest.h>

#include <string>

using namespace std::string_literals;

namespace {

struct Result { ErrorCode error; double value; };

Result Eval(std::string_view expr, std::initializer_list<EvalVariable> vars = {})
{
    Result r{ERR_NONE, -999};
    r.error = EvaluateExpression(expr, vars.begin(), vars.size(), &r.value);
    return r;
}

} // namespace

TEST(Eval, ComputesHandCheckedValues)
{
    struct Case { const char* expr; double value; };
    const Case cases[] = {
        {"1 + 2 * 3", 7}, {"2 ^ 3 ^ 2", 512}, {"-2 ^ 2", -4}, {"(1 + 2) * 3", 9}, {"10 - 4 - 3", 3},
        {"7 \\ 2", 3}, {"-7 % 3", -1}, {"-7 \\ 2", -3}, {"7.9 \\ 2.1", 3}, {"1 / 4", 0.25},
        {"$FF & 15", 15}, {"1 << 31", 2147483648.0}, {"1 << 33", 2}, {"~0", 4294967295.0},
        {"$80000000 >> 31", 1}, {"6 | 9", 15}, {"6 ~ 3", 5}, {"-1 >> 28", 15},
        {"3 > 2 and 5", 5}, {"0 or 4", 4}, {"NOT 0", 1}, {"not 3", 0}, {"0 and 1 or 7", 7},
        {"1 <= 2", 1}, {"2 <> 2", 0}, {"2 = 2", 1}, {"3 >= 4", 0}, {"1 < 2 = 1", 1},
        {"1 + 2 < 4", 1}, {"\t 0x10 + $F", 31}, {"2e3", 2000}, {"- - 3", 3}, {"-2147483648 \\ -1", 2147483648.0},
    };
    for (const Case& c : cases) {
        Result r = Eval(c.expr);
        EXPECT_EQ(std::make_pair(r.error, r.value), std::make_pair(ERR_NONE, c.value)) << c.expr;
    }
}

TEST(Eval, FailuresGiveTheirCodes)
{
    struct Case { std::string expr; ErrorCode error; };
    const Case cases[] = {
        {"1 \\ 0.5", ERR_ZERODIVISION}, {"1 % 0", ERR_ZERODIVISION},
        {"1<=2", ERR_VALUEEXPECTED}, {"1 2", ERR_SYNTAXERROR}, {"(1", ERR_UNMPARENTHESES},
        {"1 .. 2", ERR_WRONGOPCST}, {"", ERR_VALUEEXPECTED}, {"1 +", ERR_VALUEEXPECTED},
        {"1)", ERR_SYNTAXERROR}, {"$ + 1", ERR_SYNTAXERROR}, {"x", ERR_VALUEEXPECTED},
        {".5", ERR_VALUEEXPECTED}, {"1\0 + 1"s, ERR_SYNTAXERROR}, {"1 andx 2", ERR_SYNTAXERROR},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Eval(c.expr).error, c.error) << c.expr;
}

TEST(Eval, VariablesMatchWholeWordsWithoutCase)
{
    Result r = Eval("xy * 2", {{"x", 2}, {"xy", 5}});
    EXPECT_EQ(std::make_pair(r.error, r.value), std::make_pair(ERR_NONE, 10.0));
    EXPECT_EQ(Eval("X + 1", {{"x", 2}, {"xy", 5}}).value, 3);
    // Operator words are tried first: a variable called "or" is never seen.
    EXPECT_EQ(Eval("1 or 0", {{"or", 9}}).value, 1);

    EXPECT_TRUE(IsValidEvalName("_a1$!"));
    EXPECT_TRUE(IsValidEvalName(std::string(64, 'v')));
    EXPECT_FALSE(IsValidEvalName(std::string(65, 'v')));
    EXPECT_FALSE(IsValidEvalName(""));
    EXPECT_FALSE(IsValidEvalName("a-b"));
}

TEST(Eval, DeepNestingStopsWithAnError)
{
    EXPECT_EQ(Eval(std::string(100000, '(') + "1").error, ERR_COMPLEXEXPR);
    EXPECT_EQ(Eval(std::string(100000, '-') + "1").error, ERR_COMPLEXEXPR);
    std::string ok = std::string(150, '(') + "1" + std::string(150, ')');
    EXPECT_EQ(Eval(ok).value, 1);
    // Long flat chains need no nesting.
    std::string chain = "0";
    for (int i = 0; i < 10000; ++i)
        chain += " + 1";
    EXPECT_EQ(Eval(chain).value, 10000);
}
