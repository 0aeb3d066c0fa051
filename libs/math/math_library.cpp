// Handlers of the math commands. Floating-point commands hand their
// arguments to the C library and return its answer, NaN and infinities
// included: a domain error is a result, not an error. Integer commands read
// their operands through the glue's integer reader (truncated, taken modulo
// 2^32) and push unsigned results unless they say otherwise.
#include "libs/math/math_library.h"

#include <cmath>
#include <cstdlib>
#include <ctime>

#include "core/io/error_codes.h"
#include "core/io/number_conv.h"
#include "core/io/utilities.h"
#include "core/services/check_args.h"
#include "core/services/command_services.h"

namespace {

constexpr double kRadiansPerDegree = 0.017453292519943295;

uint32_t PushNumber(VmState* vm, double x)
{
    VmPushNumber(vm, x);
    return 1;
}

uint32_t PushUnsigned(VmState* vm, uint32_t x) { return PushNumber(vm, x); }
uint32_t PushSigned(VmState* vm, int32_t x) { return PushNumber(vm, x); }

uint32_t Int32Arg(VmState* vm, int index) { return static_cast<uint32_t>(VmCheckInteger(vm, index)); }

// One number in, one number out.
template <double (*F)(double)>
uint32_t Unary(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    return PushNumber(vm, F(VmCheckNumber(vm, 1)));
}

template <double (*F)(double, double)>
uint32_t Binary(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    double a = VmCheckNumber(vm, 1), b = VmCheckNumber(vm, 2);
    return PushNumber(vm, F(a, b));
}

// Two 32-bit operands in, an unsigned 32-bit result out.
template <uint32_t (*F)(uint32_t, uint32_t)>
uint32_t BinaryBits(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    uint32_t a = Int32Arg(vm, 1), b = Int32Arg(vm, 2);
    return PushUnsigned(vm, F(a, b));
}

double Abs(double x) { return std::fabs(x); }
double Sin(double x) { return std::sin(x); }
double Cos(double x) { return std::cos(x); }
double Tan(double x) { return std::tan(x); }
double ASin(double x) { return std::asin(x); }
double ACos(double x) { return std::acos(x); }
double ATan(double x) { return std::atan(x); }
double Sqrt(double x) { return std::sqrt(x); }
double Exp(double x) { return std::exp(x); }
double Ceil(double x) { return std::ceil(x); }
double Floor(double x) { return std::floor(x); }
double Ln(double x) { return std::log(x); }
double Ld(double x) { return std::log10(x) / std::log10(2.0); }
double Deg(double x) { return x / kRadiansPerDegree; }
double Rad(double x) { return x * kRadiansPerDegree; }
double Sgn(double x) { return x > 0 ? 1 : x < 0 ? -1 : 0; }
// modf keeps infinities' fraction at 0 where x - trunc(x) would give NaN.
double Frac(double x)
{
    double whole;
    return std::modf(x, &whole);
}

double ATan2(double y, double x) { return std::atan2(y, x); }
double Log(double x, double base) { return std::log10(x) / std::log10(base); }
double Pow(double x, double y) { return std::pow(x, y); }
double Add(double a, double b) { return a + b; }
double Sub(double a, double b) { return a - b; }
double Mul(double a, double b) { return a * b; }
// hypot rather than the square root of the squares: no overflow for large
// sides, no underflow to 0 for tiny ones.
double Hypot(double a, double b) { return std::hypot(a, b); }

uint32_t Shl(uint32_t x, uint32_t n) { return x << (n & 31); }
uint32_t Shr(uint32_t x, uint32_t n) { return x >> (n & 31); }
uint32_t BitXor(uint32_t a, uint32_t b) { return a ^ b; }

uint32_t CmdSar(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    int32_t x = VmCheckInteger(vm, 1);
    uint32_t n = Int32Arg(vm, 2) & 31;
    return PushSigned(vm, x >> n);
}

uint32_t CmdBitComplement(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    return PushUnsigned(vm, ~Int32Arg(vm, 1));
}

// Reads x and a bit number; false when the bit lies outside 0..31.
bool BitOperands(VmState* vm, uint32_t* x, uint32_t* mask)
{
    CheckArgs(vm, 2, 2, 0, 0);
    *x = Int32Arg(vm, 1);
    int32_t bit = VmCheckInteger(vm, 2);
    if (bit < 0 || bit > 31)
        return false;
    *mask = 1u << bit;
    return true;
}

uint32_t CmdBitSet(VmState* vm)
{
    uint32_t x, mask;
    return BitOperands(vm, &x, &mask) ? PushUnsigned(vm, x | mask) : ERR_WRONGUSAGE;
}

uint32_t CmdBitClear(VmState* vm)
{
    uint32_t x, mask;
    return BitOperands(vm, &x, &mask) ? PushUnsigned(vm, x & ~mask) : ERR_WRONGUSAGE;
}

uint32_t CmdBitTest(VmState* vm)
{
    uint32_t x, mask;
    return BitOperands(vm, &x, &mask) ? PushUnsigned(vm, (x & mask) != 0) : ERR_WRONGUSAGE;
}

// The width in bits of a rotation or cast type; 0 for any other number.
int TypeWidth(int32_t type)
{
    switch (type) {
    case MATH_TYPE_INTEGER: return 32;
    case MATH_TYPE_SHORT: return 16;
    case MATH_TYPE_BYTE: return 8;
    default: return 0;
    }
}

uint32_t Rotate(VmState* vm, bool left)
{
    CheckArgs(vm, 2, 3, 0, 0);
    uint32_t x = Int32Arg(vm, 1);
    uint32_t n = Int32Arg(vm, 2) & 0xFF;
    int width = TypeWidth(VmOptInteger(vm, 3, MATH_TYPE_INTEGER));
    if (width == 0)
        return ERR_WRONGUSAGE;
    uint32_t mask = width == 32 ? 0xFFFFFFFFu : (1u << width) - 1;
    x &= mask;
    n %= static_cast<uint32_t>(width);
    if (n == 0)
        return PushUnsigned(vm, x);
    if (!left)
        n = static_cast<uint32_t>(width) - n;
    return PushUnsigned(vm, ((x << n) | (x >> (width - n))) & mask);
}

uint32_t CmdRol(VmState* vm) { return Rotate(vm, true); }
uint32_t CmdRor(VmState* vm) { return Rotate(vm, false); }

uint32_t CmdCast(VmState* vm)
{
    CheckArgs(vm, 3, 3, 0, 0);
    uint32_t x = Int32Arg(vm, 1);
    bool isSigned = VmCheckInteger(vm, 2) != 0;
    switch (VmCheckInteger(vm, 3)) {
    case MATH_TYPE_INTEGER:
        return isSigned ? PushSigned(vm, static_cast<int32_t>(x)) : PushUnsigned(vm, x);
    case MATH_TYPE_SHORT:
        return isSigned ? PushSigned(vm, static_cast<int16_t>(x)) : PushUnsigned(vm, static_cast<uint16_t>(x));
    case MATH_TYPE_BYTE:
        return isSigned ? PushSigned(vm, static_cast<int8_t>(x)) : PushUnsigned(vm, static_cast<uint8_t>(x));
    default:
        return ERR_WRONGUSAGE;
    }
}

uint32_t CmdEndianSwap(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    uint32_t x = Int32Arg(vm, 1);
    switch (VmCheckInteger(vm, 2)) {
    case 16: return PushUnsigned(vm, __builtin_bswap16(static_cast<uint16_t>(x)));
    case 32: return PushUnsigned(vm, __builtin_bswap32(x));
    default: return ERR_WRONGUSAGE;
    }
}

uint32_t CmdMod(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    double a = VmCheckNumber(vm, 1), b = VmCheckNumber(vm, 2);
    if (b == 0)
        return ERR_ZERODIVISION;
    return PushNumber(vm, std::fmod(a, b));
}

uint32_t CmdDiv(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    double a = VmCheckNumber(vm, 1), b = VmCheckNumber(vm, 2);
    if (b == 0)
        return ERR_ZERODIVISION;
    return PushNumber(vm, a / b);
}

uint32_t CmdRt(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    double x = VmCheckNumber(vm, 1), n = VmCheckNumber(vm, 2);
    if (n == 0)
        return ERR_ZERODIVISION;
    if (n < 0)
        return ERR_WRONGUSAGE;
    return PushNumber(vm, std::pow(x, 1.0 / n));
}

uint32_t CmdFrExp(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    int exponent = 0;
    double mantissa = std::frexp(VmCheckNumber(vm, 1), &exponent);
    VmPushNumber(vm, mantissa);
    VmPushNumber(vm, exponent);
    return 2;
}

uint32_t CmdLdExp(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    double m = VmCheckNumber(vm, 1);
    return PushNumber(vm, std::ldexp(m, VmCheckInteger(vm, 2)));
}

template <bool Largest>
uint32_t Extreme(VmState* vm)
{
    CheckArgs(vm, 2, -1, 0, 0);
    int count = VmGetTop(vm);
    double best = VmCheckNumber(vm, 1);
    for (int i = 2; i <= count; ++i) {
        double x = VmCheckNumber(vm, i);
        if (Largest ? x > best : x < best)
            best = x;
    }
    return PushNumber(vm, best);
}

// Out of the 32-bit range both saturate (NaN gives 0) rather than wrap, so
// that a huge value never comes back with the opposite sign.
uint32_t CmdInt(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    return PushSigned(vm, DoubleToInt32(VmCheckNumber(vm, 1)));
}

uint32_t CmdRound(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    double x = VmCheckNumber(vm, 1);
    if (x > -2147483648.5 && x < 2147483647.5)
        return PushSigned(vm, RoundToInt(x));
    return PushSigned(vm, DoubleToInt32(x));
}

uint32_t CmdWrap(VmState* vm)
{
    CheckArgs(vm, 3, 3, 0, 0);
    double x = VmCheckNumber(vm, 1), low = VmCheckNumber(vm, 2), high = VmCheckNumber(vm, 3);
    if (x < low)
        return PushNumber(vm, high + (x - low));
    if (x >= high)
        return PushNumber(vm, low + (x - high));
    return PushNumber(vm, x);
}

uint32_t CmdLimit(VmState* vm)
{
    CheckArgs(vm, 3, 3, 0, 0);
    double x = VmCheckNumber(vm, 1), low = VmCheckNumber(vm, 2), high = VmCheckNumber(vm, 3);
    return PushNumber(vm, x < low ? low : x > high ? high : x);
}

uint32_t CmdRnd(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    int32_t n = VmCheckInteger(vm, 1);
    if (n < 0)
        return ERR_WRONGUSAGE;
    return PushSigned(vm, static_cast<int32_t>(RandomDouble() * n));
}

uint32_t CmdRndF(VmState* vm)
{
    CheckArgs(vm, 0, 0, 0, 0);
    return PushNumber(vm, RandomDouble());
}

}  // namespace

const CommandTableEntry kMathCommands[] = {
    {"Abs", Unary<Abs>},
    {"Sin", Unary<Sin>},
    {"Cos", Unary<Cos>},
    {"Tan", Unary<Tan>},
    {"ASin", Unary<ASin>},
    {"ACos", Unary<ACos>},
    {"ATan", Unary<ATan>},
    {"ATan2", Binary<ATan2>},
    {"Ceil", Unary<Ceil>},
    {"Floor", Unary<Floor>},
    {"Mod", CmdMod},
    {"FrExp", CmdFrExp},
    {"LdExp", CmdLdExp},
    {"Sqrt", Unary<Sqrt>},
    {"Min", Extreme<false>},
    {"Max", Extreme<true>},
    {"Log", Binary<Log>},
    {"Ld", Unary<Ld>},
    {"Ln", Unary<Ln>},
    {"Exp", Unary<Exp>},
    {"Deg", Unary<Deg>},
    {"Pow", Binary<Pow>},
    {"Rad", Unary<Rad>},
    {"Rnd", CmdRnd},
    {"RndF", CmdRndF},
    {"Add", Binary<Add>},
    {"Sub", Binary<Sub>},
    {"Div", CmdDiv},
    {"Mul", Binary<Mul>},
    {"Round", CmdRound},
    {"Int", CmdInt},
    {"Frac", Unary<Frac>},
    {"Shr", BinaryBits<Shr>},
    {"Shl", BinaryBits<Shl>},
    {"Rt", CmdRt},
    {"Wrap", CmdWrap},
    {"Limit", CmdLimit},
    {"BitSet", CmdBitSet},
    {"BitTest", CmdBitTest},
    {"BitClear", CmdBitClear},
    {"BitXor", BinaryBits<BitXor>},
    {"BitComplement", CmdBitComplement},
    {"Sgn", Unary<Sgn>},
    {"Sar", CmdSar},
    {"Ror", CmdRor},
    {"Rol", CmdRol},
    {"Cast", CmdCast},
    {"Hypot", Binary<Hypot>},
    {"EndianSwap", CmdEndianSwap},
    {nullptr, nullptr},
};

const ConstantTableEntry kMathConstants[] = {
    {"PI", nullptr, 3.141592653589793},
    {nullptr, nullptr, 0},
};

uint32_t RegisterMathLibrary(VmState* vm)
{
    VmPushValue(vm, VM_GLOBALSINDEX);
    VmRegisterLibrary(vm, nullptr, kMathCommands, 0);
    if (uint32_t code = RegisterLibrary(kMathCommands, "math"))
        return code;
    VmRegisterConstants(vm, kMathConstants, 0);
    // The platform's own generator gets the same seed, for anything that
    // still draws from rand().
    auto now = static_cast<uint32_t>(std::time(nullptr));
    SeedRandom48(now);
    std::srand(now);
    return 0;
}
