// The runtime's two Latin-1 case tables. Every comparison without regard to
// case in the system (VM strings, command and constant names, the plugin
// interface, the string commands) goes through these, so that all of them
// agree on what an accented capital is.
#pragma once

#include <array>
#include <cstdint>

extern const std::array<uint8_t, 256> LowerCaseTable;
extern const std::array<uint8_t, 256> UpperCaseTable;

inline uint8_t ToLowerLatin1(uint8_t c) { return LowerCaseTable[c]; }
inline uint8_t ToUpperLatin1(uint8_t c) { return UpperCaseTable[c]; }
