// The "math" library: numeric commands on doubles, bit operations on the
// 32-bit integers taken from them, and the program's random generator (the
// shared 48-bit generator of core/io/utilities.h, which the transition
// effects draw from as well).
#pragma once

#include <cstdint>

#include "core/vm/library_glue.h"
#include "core/vm/vm.h"

// Every command, in registration order, ended by a null name.
extern const CommandTableEntry kMathCommands[];
extern const ConstantTableEntry kMathConstants[];

// Type numbers that Ror, Rol and Cast take (the system library's #INTEGER,
// #SHORT and #BYTE).
constexpr int32_t MATH_TYPE_INTEGER = 1;
constexpr int32_t MATH_TYPE_SHORT = 6;
constexpr int32_t MATH_TYPE_BYTE = 7;

// Registers the commands as global functions, records the library as
// "math", registers PI and seeds the random generators with the current
// time in seconds. 0 or ERR_MEM.
uint32_t RegisterMathLibrary(VmState* vm);
