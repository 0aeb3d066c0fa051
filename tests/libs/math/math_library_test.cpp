// The math commands as scripts call them: floating-point results against
// Python's math module (math_ref.inc), the generator against glibc's
// drand48 family, the integer commands' corners worked out by hand.
#include "libs/math/math_library.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "core/io/error_codes.h"
#include "core/io/utilities.h"
#include "libs/library_fixture.h"

using namespace testcalls;

namespace {

class MathCommands : public CommandTest {
protected:
    void SetUp() override { OpenVm(RegisterMathLibrary); }
    void TearDown() override { VmCloseState(vm); }
};

const std::tuple<const char*, std::vector<double>, double> kFloatCases[] = {
#include "math_ref.inc"
};

TEST_F(MathCommands, FloatingPointCommandsAgreeWithPythonMath)
{
    for (const auto& [command, arguments, expected] : kFloatCases) {
        std::vector<Value> args(arguments.begin(), arguments.end());
        std::string name = command;
        for (char& ch : name)
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        double got = Number(name.c_str(), args);
        if (std::isinf(expected))
            EXPECT_EQ(got, expected) << command << "(" << arguments[0] << ")";
        else
            EXPECT_DOUBLE_EQ(got, expected) << command << "(" << arguments[0] << ")";
    }
}

TEST_F(MathCommands, DomainErrorsAreResultsAndFrExpAnswersTwo)
{
    EXPECT_TRUE(std::isnan(Number("sqrt", {-1.0})));
    EXPECT_EQ(Number("ln", {0.0}), -INFINITY);
    EXPECT_TRUE(std::isnan(Number("asin", {2.0})));
    EXPECT_TRUE(std::isnan(Number("log", {-1.0, 10.0})));
    EXPECT_EQ(Number("frac", {INFINITY}), 0.0);
    EXPECT_EQ(Number("sgn", {NAN}), 0.0);

    for (auto [x, mantissa, exponent] : {std::tuple{-3.0, -0.75, 2.0}, std::tuple{0.1, 0.1 * 8, -3.0}}) {
        std::vector<Value> r;
        ASSERT_EQ(Call("frexp", {x}, &r), 0u);
        EXPECT_EQ(r, (std::vector<Value>{mantissa, exponent})) << x;
    }
}

using IntCase = std::tuple<const char*, std::vector<Value>, double>;  // command, arguments, result

// Halfway rounding and the saturation of Int are the number conversions'
// own tests; here Round leaves its range and the other commands' corners.
TEST_F(MathCommands, IntegerAndRoundingCommands)
{
    const IntCase cases[] = {
        {"round", {2.5}, 2}, {"round", {2147483647.4}, 2147483647}, {"round", {1e12}, 2147483647},
        {"round", {-1e300}, -2147483648.0}, {"round", {NAN}, 0}, {"int", {-3.7}, -3}, {"int", {3e9}, 2147483647},
        {"int", {-INFINITY}, -2147483648.0}, {"wrap", {12.0, 0.0, 10.0}, 2}, {"wrap", {-1.0, 0.0, 10.0}, 9},
        {"wrap", {10.0, 0.0, 10.0}, 0}, {"wrap", {5.5, 0.0, 10.0}, 5.5}, {"limit", {-1.0, 0.0, 10.0}, 0},
        {"limit", {11.0, 0.0, 10.0}, 10}, {"limit", {4.5, 0.0, 10.0}, 4.5}, {"min", {3.0, -2.0, 7.0, -1.0}, -2},
        {"max", {3.0, -2.0, 7.0, -1.0}, 7}, {"abs", {-0.0}, 0},
    };
    for (const auto& [command, args, expected] : cases)
        EXPECT_EQ(Number(command, args), expected) << command;
}

TEST_F(MathCommands, BitAndShiftCommandsWorkOn32BitPatterns)
{
    const IntCase cases[] = {
        {"shl", {1.0, 31.0}, 2147483648.0}, {"shl", {1.0, 32.0}, 1}, {"shl", {-1.0, 4.0}, 4294967280.0},
        {"shl", {4294967297.0, 1.0}, 2},  // 2^32 + 1 taken modulo 2^32
        {"shr", {-8.0, 1.0}, 2147483644.0}, {"shr", {256.0, 36.0}, 16}, {"sar", {-8.0, 1.0}, -4},
        {"sar", {2147483648.0, 31.0}, -1},
        {"sar", {8.0, -1.0}, 0},  // -1 mod 32 = 31
        {"bitset", {0.0, 31.0}, 2147483648.0}, {"bitclear", {-1.0, 0.0}, 4294967294.0}, {"bittest", {5.0, 2.0}, 1},
        {"bitxor", {double(0xF0F0), double(0xFF00)}, 0x0FF0},
        {"bitcomplement", {0.0}, 4294967295.0}, {"rol", {129.0, 1.0, 7.0}, 3}, {"ror", {1.0, 1.0}, 2147483648.0},
        {"rol", {double(0x80000001), 1.0}, 3},
        {"rol", {1.0, 257.0}, 2},  // only the low 8 bits of n count
        {"ror", {double(0x1234), 4.0, 6.0}, 0x4123}, {"rol", {double(0x12345678), 8.0, 6.0}, 0x7856},
        {"rol", {1.0, 40.0, 1.0}, 256},  // 40 mod 32
        {"ror", {3.0, 9.0, 7.0}, 0x81},   // 9 mod 8
        {"cast", {255.0, 1.0, 7.0}, -1}, {"cast", {-1.0, 0.0, 6.0}, 65535},
        {"cast", {double(0x18000), 1.0, 6.0}, -32768}, {"cast", {-1.0, 0.0, 1.0}, 4294967295.0},
        {"cast", {4294967295.0, 1.0, 1.0}, -1}, {"endianswap", {double(0x12345678), 32.0}, 0x78563412},
        {"endianswap", {double(0xABCD1234), 16.0}, 0x3412}, {"endianswap", {-2.0, 32.0}, 0xFEFFFFFF},
    };
    for (const auto& [command, args, expected] : cases)
        EXPECT_EQ(Number(command, args), expected) << command << " " << std::get<double>(args[0]);
}

TEST_F(MathCommands, RefusedArgumentsPushNothing)
{
    const std::tuple<const char*, std::vector<Value>, uint32_t> cases[] = {
        {"div", {1.0, 0.0}, ERR_ZERODIVISION}, {"mod", {1.0, 0.0}, ERR_ZERODIVISION},
        {"rt", {8.0, 0.0}, ERR_ZERODIVISION}, {"rt", {8.0, -3.0}, ERR_WRONGUSAGE},
        {"bitset", {0.0, 32.0}, ERR_WRONGUSAGE}, {"bitclear", {0.0, -1.0}, ERR_WRONGUSAGE},
        {"bittest", {0.0, 40.0}, ERR_WRONGUSAGE}, {"rol", {1.0, 1.0, 99.0}, ERR_WRONGUSAGE},
        {"ror", {1.0, 1.0, 3.0}, ERR_WRONGUSAGE}, {"cast", {1.0, 1.0, 12.0}, ERR_WRONGUSAGE},
        {"endianswap", {1.0, 8.0}, ERR_WRONGUSAGE}, {"rnd", {-1.0}, ERR_WRONGUSAGE},
        {"rnd", {3e9}, ERR_WRONGUSAGE},  // negative as a 32-bit integer
        {"min", {1.0}, ERR_MISSINGPARAMTR},
    };
    for (const auto& [command, args, code] : cases) {
        std::vector<Value> r;
        EXPECT_EQ(Call(command, args, &r), code) << command;
        EXPECT_TRUE(r.empty()) << command;
    }
}

TEST_F(MathCommands, RandomCommandsFollowTheDrand48Sequence)
{
    SeedRandom48(20261207);
    srand48(20261207);
    for (int i = 0; i < 200; ++i) {
        if (i % 3 == 0) {
            EXPECT_EQ(Number("rndf", {}), drand48()) << i;
        } else {
            int n = 1 + i * 7919;
            EXPECT_EQ(Number("rnd", {static_cast<double>(n)}), static_cast<int>(drand48() * n)) << i;
        }
    }
    // Rnd(0) draws too, and answers 0.
    EXPECT_EQ(Number("rnd", {0.0}), 0);
    drand48();
    EXPECT_EQ(Number("rndf", {}), drand48());
}

TEST_F(MathCommands, RegistrationSeedsWithTheTime)
{
    // The seed's low word is always 0x330E and its high words the time.
    uint16_t state[3];
    GetRandom48State(state);
    EXPECT_EQ(state[0], 0x330E);
    uint32_t seconds = static_cast<uint32_t>(state[1]) | static_cast<uint32_t>(state[2]) << 16;
    EXPECT_LE(seconds, static_cast<uint32_t>(time(nullptr)));
    EXPECT_GE(seconds + 60, static_cast<uint32_t>(time(nullptr)));
}

}  // namespace
