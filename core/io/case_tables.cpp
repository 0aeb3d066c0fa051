// Latin-1 case tables: A-Z and the accented capitals 0xC0-0xDD (but for the
// multiplication sign 0xD7) pair with a-z and 0xE0-0xFD (but for the division
// sign 0xF7). Thorn, sharp s and y-diaeresis have no partner here and map to
// themselves.
#include "core/io/case_tables.h"

namespace {

constexpr std::array<uint8_t, 256> MakeLower()
{
    std::array<uint8_t, 256> t{};
    for (int c = 0; c < 256; ++c) {
        int l = c;
        if (c >= 0x41 && c <= 0x5A)
            l = c + 0x20;
        else if (c >= 0xC0 && c <= 0xDD && c != 0xD7)
            l = c + 0x20;
        t[c] = static_cast<uint8_t>(l);
    }
    return t;
}

constexpr std::array<uint8_t, 256> MakeUpper()
{
    std::array<uint8_t, 256> t{};
    for (int c = 0; c < 256; ++c) {
        int u = c;
        if (c >= 0x61 && c <= 0x7A)
            u = c - 0x20;
        else if (c >= 0xE0 && c <= 0xFD && c != 0xF7)
            u = c - 0x20;
        t[c] = static_cast<uint8_t>(u);
    }
    return t;
}

} // namespace

const std::array<uint8_t, 256> LowerCaseTable = MakeLower();
const std::array<uint8_t, 256> UpperCaseTable = MakeUpper();
